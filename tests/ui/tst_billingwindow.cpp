// The bill in the window: made of the same files, it is the bill
// tallivo-count writes, and its pages are the Page Summary's; its jobs come
// from the folders the user added, which follow the list through its edits
// and between sessions.
#include "appinfo.h"
#include "billingreport.h"
#include "billingreporter.h"
#include "intake.h"
#include "lastlistkeeper.h"
#include "listhistory.h"
#include "listsnapshot.h"
#include "pricesmodel.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QtEndian>

#include <algorithm>
#include <cstring>

using namespace tallivo;

using Step = std::function<void()>;
Q_DECLARE_METATYPE(Step)

namespace {

const QByteArray prices = "Size\tColour\tUnit\tPrice\n"
                          "A4\tB/W\tpage\t0.10\n"
                          "A4\t*\tpage\t0.50\n"
                          "A3\t*\tA4 eq.\t0.25\n"
                          "*\t*\tjob\t1\n";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The pages and A4 equivalents of the CSV's grand total.
QList<QByteArray> grandTotal(const QByteArray &csv)
{
    const QList<QByteArray> lines = csv.trimmed().split('\n');
    const QList<QByteArray> fields = lines.last().trimmed().split(',');
    return fields.size() > 4 && fields[0] == "Total" ? fields.mid(3, 2) : QList<QByteArray>();
}

} // namespace

class TestBillingWindow : public QObject, public test::WindowFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void windowBillIsTheCountersBill_data();
    void windowBillIsTheCountersBill();
    void savesEachFormat_data();
    void savesEachFormat();
    void printsOnThePrinterChosen();
    void editWhileCopyingStartsAgain();
    void jobsFollowTheList_data();
    void jobsFollowTheList();

private:
    // The listed files' jobs, sorted.
    QStringList jobs() const;

    QString m_root;
    QString m_prices;
    QByteArray m_keptList;
};

// delivery/own.pdf          1 A4 colour page      (an added folder)
// delivery/jobA/a4.pdf      3 A4 B/W pages
// delivery/jobA/a3.pdf      2 A3 colour pages
// delivery/jobB/deep/l.pdf  1 Letter B/W page
// delivery/jobB/broken.pdf  not counted
// loose/x.pdf, loose/y.tif  added one by one
void TestBillingWindow::initTestCase()
{
    using test::pdfOfSize;
    using test::writeBytes;
    setUpEnvironment();
    m_root = m_data->filePath(QStringLiteral("tree"));
    for (const char *folder : {"delivery/jobA", "delivery/jobB/deep", "loose"})
        QVERIFY(QDir(m_root).mkpath(QLatin1String(folder)));
    const auto at = [this](const char *path) {
        return m_root + QLatin1Char('/') + QLatin1String(path);
    };
    QVERIFY(writeBytes(at("delivery/own.pdf"), pdfOfSize(1, 595, 842, true)));
    QVERIFY(writeBytes(at("delivery/jobA/a4.pdf"), pdfOfSize(3, 595, 842, false)));
    QVERIFY(writeBytes(at("delivery/jobA/a3.pdf"), pdfOfSize(2, 842, 1191, true)));
    QVERIFY(writeBytes(at("delivery/jobB/deep/l.pdf"), pdfOfSize(1, 612, 792, false)));
    QVERIFY(writeBytes(at("delivery/jobB/broken.pdf"), "%PDF-1.4\nnothing"));
    QVERIFY(writeBytes(at("loose/x.pdf"), pdfOfSize(2, 595, 842, false)));
    QVERIFY(test::writeTiff(at("loose/y.tif"), 3));
    m_keptList = QFile::encodeName(m_data->filePath(QStringLiteral("LastList.bin")));
    m_prices = m_data->filePath(QStringLiteral("prices.tsv"));
    QVERIFY(writeBytes(m_prices, prices));
    PriceSettings settings;
    QVERIFY(settings.prices.setRows(PriceList::parse(prices)->rows()));
    QSettings stored = userSettings();
    settings.save(stored);

    // Counted as a user would: a folder with its subfolders, then two files
    // on their own. Page details are off, as they are until something shows
    // them: the report has them read.
    makeWindow();
    m_window->intake().setIncludeSubfolders(true);
    m_dialogs->fileAnswers = {{at("delivery")}, {at("loose/x.pdf"), at("loose/y.tif")}};
    QVERIFY(run([this] { trigger("actionAddFolder"); }));
    QVERIFY(run([this] { trigger("actionAddFiles"); }));
    QCOMPARE(m_window->model().rowCount(), 7);
    QVERIFY(m_window->model().tally().withoutDetails() > 0);
}

void TestBillingWindow::cleanupTestCase()
{
    m_window.reset();
}

void TestBillingWindow::windowBillIsTheCountersBill_data()
{
    QTest::addColumn<bool>("perSubfolder");
    QTest::addColumn<bool>("checkedOnly");
    QTest::newRow("a job per folder added") << false << false;
    QTest::newRow("a job per subfolder") << true << false;
    QTest::newRow("checked files only") << true << true;
}

void TestBillingWindow::windowBillIsTheCountersBill()
{
    QFETCH(bool, perSubfolder);
    QFETCH(bool, checkedOnly);
    FileTableModel &model = m_window->model();
    // y.tif is left out of the checked files.
    model.setAllChecked(FileTableModel::CheckChange::Check);
    QList<int> checked;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.files().at(row)->nameBytes() == "y.tif")
            model.setChecked({row}, FileTableModel::CheckChange::Uncheck);
        else
            checked << row;
    }

    const QString windowCsv = m_data->filePath(QStringLiteral("window.csv"));
    QFile::remove(windowCsv);
    QSignalSpy saved(&m_window->billing(), &BillingReporter::saved);
    trigger("actionBillingReport");
    BillingReportDialog *dialog = m_window->billing().choiceDialog();
    QVERIFY(dialog && dialog->windowModality() == Qt::WindowModal);
    dialog->findChild<QCheckBox *>(QStringLiteral("checkedOnly"))->setChecked(checkedOnly);
    dialog->findChild<QCheckBox *>(QStringLiteral("jobPerSubfolder"))->setChecked(perSubfolder);
    m_dialogs->fileAnswers = {{windowCsv}};
    dialog->accept();
    QVERIFY(saved.wait(60000));
    QCOMPARE(saved.first().first().toString(), windowCsv);
    QCOMPARE(m_window->presenter().message(),
             QStringLiteral("Billing report saved to \u201cwindow.csv\u201d."));
    QCOMPARE(userSettings().value(kJobPerSubfolderKey).toBool(), perSubfolder);

    const QString counterCsv = m_data->filePath(QStringLiteral("counter.csv"));
    QStringList args{QStringLiteral("--quiet"),  QStringLiteral("--subfolders"),
                     QStringLiteral("--prices"), m_prices,
                     QStringLiteral("--report"), counterCsv};
    if (perSubfolder)
        args << QStringLiteral("--job-per-subfolder");
    args << m_root + QStringLiteral("/delivery") << m_root + QStringLiteral("/loose/x.pdf");
    if (!checkedOnly)
        args << m_root + QStringLiteral("/loose/y.tif");
    QProcess counter;
    counter.start(QStringLiteral(TALLIVO_COUNT_BINARY), args);
    QVERIFY(counter.waitForFinished(120000));
    QCOMPARE(counter.exitCode(), 3); // the broken file

    const QByteArray bill = readAll(windowCsv);
    QVERIFY(bill.contains("/delivery,"));
    QCOMPARE(bill, readAll(counterCsv));
    // The Page Summary's figures of the same files.
    const PageTable::Row pages =
        (checkedOnly ? model.files().tallyOf(checked) : model.tally()).table().totals();
    QCOMPARE(grandTotal(bill), (QList<QByteArray>{QByteArray::number(pages.total),
                                                  QByteArray::number(pages.a4Equivalents)}));
}

void TestBillingWindow::savesEachFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("start"); // of the file; empty: not saved
    QTest::newRow("excel") << QStringLiteral("bill.xlsx") << QByteArray("PK");
    // Laid out with fonts on the I/O pool's thread.
    QTest::newRow("pdf") << QStringLiteral("bill.pdf") << QByteArray("%PDF");
    QTest::newRow("no such folder") << QStringLiteral("no/such/bill.csv") << QByteArray();
}

void TestBillingWindow::savesEachFormat()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, start);
    const QString path = m_data->filePath(name);
    QSignalSpy saved(&m_window->billing(), &BillingReporter::saved);
    m_dialogs->messages.clear();
    m_dialogs->fileAnswers = {{path}};
    trigger("actionBillingReport");
    m_window->billing().choiceDialog()->accept();
    QVERIFY(saved.wait(60000));
    QCOMPARE(readAll(path).left(start.size()), start);
    if (start.isEmpty()) {
        // Said in a message, never passed off as saved.
        QCOMPARE(saved.first().first().toString(), QString());
        QCOMPARE(m_dialogs->messages.size(), 1);
        QCOMPARE(m_dialogs->messages.first().text,
                 QStringLiteral("The billing report was not saved."));
        QVERIFY(m_dialogs->messages.first().informativeText.contains(path));
    } else {
        QCOMPARE(saved.first().first().toString(), path);
        QVERIFY(m_dialogs->messages.isEmpty());
    }
}

void TestBillingWindow::printsOnThePrinterChosen()
{
    QSignalSpy printed(&m_window->billing(), &BillingReporter::printed);
    trigger("actionPrintBillingReport");
    m_window->billing().choiceDialog()->accept();
    // Once the report is made, the print dialog asks for the printer.
    QPrintDialog *dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (dialog = m_window->findChild<QPrintDialog *>(QStringLiteral("printBillingReport"))),
        60000);
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    const QString path = m_data->filePath(QStringLiteral("printed.pdf"));
    dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
    dialog->printer()->setOutputFileName(path);
    // Accepted as chosen here, without the dialog's own widgets.
    dialog->QDialog::accept();
    QTRY_COMPARE(printed.size(), 1);
    QCOMPARE(printed.first().first().toBool(), true);
    QVERIFY(readAll(path).startsWith("%PDF"));
    QCOMPARE(m_window->presenter().message(),
             QStringLiteral("Billing report sent to the printer."));
}

// An edit among the rows already copied starts the copy again: the bill is
// of the list as it was at one moment.
void TestBillingWindow::editWhileCopyingStartsAgain()
{
    FileTableModel model;
    for (const char *path : {"/srv/a/1.pdf", "/srv/b/2.pdf", "/srv/c/3.pdf"})
        test::appendFile(model, QLatin1String(path), 2);
    SharedBillingReport report;
    buildBillingReport(
        this, model, {}, PriceList(), QString(),
        [&report](const SharedBillingReport &made) { report = made; }, 1);
    // The first row is copied; it goes before the next one is.
    model.removeRowList({0});
    QTRY_VERIFY(bool(report));
    QCOMPARE(report->jobs.size(), size_t(2));
    QCOMPARE(report->jobs.front().key, QByteArray("/srv/b"));
    QCOMPARE(report->pages, qint64(4));
}

QStringList TestBillingWindow::jobs() const
{
    const FileList &files = m_window->model().files();
    const JobFolders folders(files.addedFolders(), false);
    QStringList out;
    for (int row = 0; row < files.size(); ++row) {
        const QString job = QFile::decodeName(folders.jobOf(files.at(row)->localPath()));
        if (!out.contains(job))
            out << job;
    }
    out.sort();
    return out;
}

void TestBillingWindow::jobsFollowTheList_data()
{
    QTest::addColumn<Step>("edit");
    QTest::addColumn<QStringList>("expected");
    const QStringList added{QStringLiteral("/srv/delivery"), QStringLiteral("/srv/loose")};
    const QStringList byFolder{QStringLiteral("/srv/delivery"), QStringLiteral("/srv/delivery/sub"),
                               QStringLiteral("/srv/loose")};
    QTest::newRow("sorted") << Step([this] {
        m_window->model().sort(int(Column::Name), Qt::DescendingOrder);
        QTRY_VERIFY(!m_window->model().isSorting());
    }) << added;
    QTest::newRow("all removed, undone") << Step([this] {
        m_window->history().clear(QStringLiteral("Remove All"));
        QVERIFY(m_window->model().addedFolders().isEmpty());
        m_window->history().undo();
    }) << added;
    // Kept at quit, restored at the next start.
    const auto restart = [this](const std::function<QByteArray(QByteArray)> &change) {
        QVERIFY(m_window->lastList().save());
        const QString path = QFile::decodeName(m_keptList);
        QVERIFY(test::writeBytes(path, change(readAll(path))));
        makeWindow();
        m_window->lastList().setPath(m_keptList);
        QSignalSpy settled(&m_window->lastList(), &LastListKeeper::settled);
        m_dialogs->messageAnswers = {true};
        m_window->lastList().offer();
        QVERIFY(settled.wait(60000));
        QCOMPARE(m_window->model().rowCount(), 3);
    };
    QTest::newRow("kept and restored")
        << Step([=] { restart([](QByteArray kept) { return kept; }); }) << added;
    // A list kept before the added folders were: its files are billed per
    // their folder.
    QTest::newRow("kept by an older release") << Step([=, this] {
        restart([this](QByteArray old) {
            const quint32 two = qToLittleEndian(quint32(2));
            std::memcpy(old.data() + 8, &two, 4);
            // The count of added folders, their paths and the colour
            // tolerance go, before the checksum.
            qsizetype added = 4 + 8;
            for (const QByteArray &folder : m_window->model().addedFolders())
                added += 4 + folder.size();
            old.remove(old.size() - 4 - added, added);
            listsnapshot::reseal(&old);
            return old;
        });
        QVERIFY(m_window->model().addedFolders().isEmpty());
    }) << byFolder;
}

void TestBillingWindow::jobsFollowTheList()
{
    QFETCH(Step, edit);
    QFETCH(QStringList, expected);
    // A window whose list is kept: none was, so nothing is offered.
    QFile::remove(QFile::decodeName(m_keptList));
    makeWindow();
    m_window->lastList().setPath(m_keptList);
    QSignalSpy settled(&m_window->lastList(), &LastListKeeper::settled);
    m_window->lastList().offer();
    QVERIFY(settled.wait(60000));
    FileTableModel &model = m_window->model();
    model.addFolder("/srv/delivery");
    model.addFolder("/srv/loose/");
    test::appendFile(model, QStringLiteral("/srv/delivery/a.pdf"));
    test::appendFile(model, QStringLiteral("/srv/delivery/sub/b.pdf"));
    test::appendFile(model, QStringLiteral("/srv/loose/c.pdf"));
    QCOMPARE(jobs(), (QStringList{QStringLiteral("/srv/delivery"), QStringLiteral("/srv/loose")}));
    edit();
    QCOMPARE(jobs(), expected);
}

QTEST_MAIN(TestBillingWindow)
#include "tst_billingwindow.moc"
