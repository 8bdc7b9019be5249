// The Page Summary as the window opens it: kept current with the list or
// the selection, and page details read only while something shows them.
#include "appinfo.h"
#include "billingreport.h"
#include "billingreportdialog.h"
#include "billingreporter.h"
#include "detailsreader.h"
#include "fileitem.h"
#include "jobtablemodel.h"
#include "pagesummarydialog.h"
#include "pagesummarypresenter.h"
#include "pricesdialog.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>

using namespace tallivo;

class TestPageSummaryWindow : public QObject, public test::WindowFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setUpEnvironment(); }
    void init()
    {
        resetEnvironment();
        makeWindow();
    }
    void cleanup() { m_window.reset(); }

    void pageDetailsOnlyWhenShown();
    void pageSummaryListOrSelection();
    void quitKeyFromPageSummary();
    void detailsOnRequest();
    void updatesWhileDetailsAreRead();
    void amountsAreTheBills_data();
    void amountsAreTheBills();
    void byJob_data();
    void byJob();
    void byJobFollowsRemoveAndUndo();
    void byJobOfManyFilesInSlices();
    void amountsFollowThePrices();
    void coloursFollowTheTolerance();
    void billAfterAToleranceChange();

private:
    // Files of two added folders /w/a and /w/b, a subfolder and one below
    // it, pages of sizes priced per page, per A4 equivalent and not at all,
    // and a file that could not be counted.
    void listJobFiles() const;
    // Prices and the job setting as Edit > Prices keeps them.
    static void setPrices(const QByteArray &tsv, bool perSubfolder);
    PageSummaryPresenter *presenter() const
    {
        return m_window->findChild<PageSummaryPresenter *>();
    }
    // The By job rows: "job files pages a4 uncounted [amount]; ...".
    static QString jobRows(const JobTableModel &model);
    // A folder of one TIFF of one page and one PDF of two.
    QString makeFolder(const QString &name) const;
    // The note says that `files` files have no details, once their reading
    // is over (a reading under way ends in an ellipsis).
    static bool saysUnread(const QLabel *note, int files)
    {
        return !note->isHidden() && test::figures(note->text()) == QString::number(files) &&
               !note->text().endsWith(QChar(0x2026));
    }
};

QString TestPageSummaryWindow::makeFolder(const QString &name) const
{
    const QString dir = m_data->filePath(name);
    QDir().mkpath(dir);
    test::writeTiff(dir + QStringLiteral("/t0.tif"), 1);
    test::writePdf(dir + QStringLiteral("/p0.pdf"), 2);
    return dir;
}

void TestPageSummaryWindow::pageDetailsOnlyWhenShown()
{
    const QString dir = makeFolder(QStringLiteral("d"));
    QCOMPARE(collectionRun().pageDetails(), PageDetails::None);
    m_dialogs->fileAnswers = {{dir}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));
    QVERIFY(files().at(0)->pageSummary().isEmpty());

    // A shown column asks runs for page details.
    QMenu *columns = table()->headerMenu();
    const auto toggleSizes = [columns] {
        Q_EMIT columns->aboutToShow();
        for (QAction *a : columns->actions()) {
            if (a->text().remove(QLatin1Char('&')) == QLatin1String("Sizes"))
                columns->triggered(a);
        }
    };
    toggleSizes();
    QCOMPARE(collectionRun().pageDetails(), PageDetails::Summary);
    m_dialogs->messageAnswers = {true};
    trigger("actionRemoveAll");
    QVERIFY(run([&] { Q_EMIT table()->filesDropped({QUrl::fromLocalFile(dir)}); }));
    m_window->model().sort(int(Column::Name));
    QCOMPARE(files().at(0)->pageSummary().pages(), 2);
    QCOMPARE(m_window->model().index(1, int(Column::A4Equivalents)).data().toString(),
             QStringLiteral("1"));
    toggleSizes();
    QCOMPARE(collectionRun().pageDetails(), PageDetails::None);
    // So does the open summary, until it is closed.
    trigger("actionPageSummary");
    QCOMPARE(collectionRun().pageDetails(), PageDetails::Summary);
    m_window->pageSummary()->reject();
    QCOMPARE(collectionRun().pageDetails(), PageDetails::None);
}

void TestPageSummaryWindow::pageSummaryListOrSelection()
{
    const std::vector<PageInfo> a4(3, PageInfo{210, 297, ColourClass::BlackWhite});
    const std::vector<PageInfo> a3(2, PageInfo{297, 420, ColourClass::Colour});
    FileTableModel &model = m_window->model();
    test::appendFile(model, QStringLiteral("/s/a.pdf"), 3, 0,
                     [&](FileItem &f) { f.setPageSummary(PageSummary::fromPages(a4, 3)); });
    test::appendFile(model, QStringLiteral("/s/b.pdf"), 2, 0,
                     [&](FileItem &f) { f.setPageSummary(PageSummary::fromPages(a3, 2)); });
    test::appendFile(model, QStringLiteral("/s/c.pdf"), 5); // counted without details
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    QVERIFY(summary && summary->isVisible() && !summary->isModal());
    QCOMPARE(summary->table().totals().total, 5);
    QCOMPARE(summary->table().totals().a4Equivalents, 3 + 2 * 2);
    auto *note = summary->findChild<QLabel *>(QStringLiteral("note"));
    // The file counted without details is read again for them; it is gone.
    QTRY_VERIFY(saysUnread(note, 1));

    table()->selectRows({1});
    summary->setScope(PageSummaryDialog::Scope::Selection);
    QCOMPARE(summary->table().totals().total, 2);
    QVERIFY(note->isHidden());
    // Later changes reach it a moment later.
    table()->selectRows({0, 1});
    QTRY_COMPARE(summary->table().totals().total, 5);
    summary->setScope(PageSummaryDialog::Scope::WholeList);
    trigger("actionRemoveAll");
    m_dialogs->messageAnswers = {true};
    trigger("actionRemoveAll");
    QTRY_COMPARE(summary->table().totals().total, 0);
    child<QAction>("actionUndo")->trigger();
    QTRY_COMPARE(summary->table().totals().total, 5);
}

void TestPageSummaryWindow::quitKeyFromPageSummary()
{
    // The summary is a window of its own; the quit key works there too.
    m_window->show();
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    summary->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(summary));
    auto *quit = child<QAction>("actionQuit");
    // Only the key is looked at here, not the quit itself.
    QObject::disconnect(quit, nullptr, m_window.get(), nullptr);
    QSignalSpy triggered(quit, &QAction::triggered);
    QTest::keyClick(summary, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(triggered.size(), 1);
}

void TestPageSummaryWindow::detailsOnRequest()
{
    // Files counted while details were off get them when the summary
    // opens, read again in the background, through the model.
    const QString dir = makeFolder(QStringLiteral("later"));
    FileTableModel &model = m_window->model();
    test::appendFile(model, dir + QStringLiteral("/p0.pdf"), 2);
    test::appendFile(model, dir + QStringLiteral("/t0.tif"), 1);
    QCOMPARE(model.tally().withoutDetails(), 2);
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    QTRY_COMPARE(model.tally().withoutDetails(), 0);
    QTRY_COMPARE(summary->table().totals().total, 3);
    QCOMPARE(summary->table().totals().pages[size_t(ColourClass::Unknown)], 0);
    QVERIFY(summary->findChild<QLabel *>(QStringLiteral("note"))->isHidden());
    QVERIFY(!model.index(0, int(Column::Colour)).data().toString().isEmpty());
    // A file whose count changed since is left for a new count.
    model.removeRowList({1});
    test::appendFile(model, dir + QStringLiteral("/t0.tif"), 7);
    child<QAction>("actionReadPageDetails")->trigger();
    QTRY_VERIFY(saysUnread(summary->findChild<QLabel *>(QStringLiteral("note")), 1));
    QCOMPARE(model.tally().withoutDetails(), 1);
}

void TestPageSummaryWindow::updatesWhileDetailsAreRead()
{
    // A long reading of page details reports its progress often; the
    // summary still follows the list meanwhile, not only once it is over.
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    const std::vector<PageInfo> a4(3, PageInfo{210, 297, ColourClass::BlackWhite});
    test::appendFile(m_window->model(), QStringLiteral("/s/a.pdf"), 3, 0,
                     [&](FileItem &f) { f.setPageSummary(PageSummary::fromPages(a4, 3)); });
    DetailsReader &reader = presenter()->detailsReader();
    for (int i = 0; i < 40 && summary->table().totals().total == 0; ++i) {
        Q_EMIT reader.progressChanged();
        QTest::qWait(50);
    }
    QCOMPARE(summary->table().totals().total, 3);
}

namespace {

const QByteArray kPrices = "Size\tColour\tUnit\tPrice\n"
                           "A4\tB/W\tpage\t0.0125\n"
                           "A3\t*\tA4 eq.\t0.0333\n"
                           "*\t*\tjob\t1\n";
const QList<QByteArray> kAdded{"/w/a", "/w/b"};

} // namespace

void TestPageSummaryWindow::listJobFiles() const
{
    const PageInfo bw{210, 297, ColourClass::BlackWhite};
    const PageInfo colour{210, 297, ColourClass::Colour};
    const PageInfo a3{297, 420, ColourClass::Grey};
    const PageInfo unknown{0, 0, ColourClass::Colour};
    const auto add = [this](const char *path,
                            std::initializer_list<std::pair<int, PageInfo>> runs) {
        const PageSummary summary = test::summaryOf(runs);
        test::appendFile(m_window->model(), QString::fromLatin1(path), int(summary.pages()), 0,
                         [&](FileItem &f) { f.setPageSummary(summary); });
    };
    add("/w/a/1.pdf", {{3, bw}});
    add("/w/a/2.pdf", {{1, bw}, {1, colour}});
    add("/w/a/sub/3.pdf", {{1, bw}, {2, a3}});
    add("/w/a/sub/deep/6.pdf", {{1, a3}});
    add("/w/b/4.pdf", {{5, bw}, {1, unknown}});
    test::appendFile(m_window->model(), QStringLiteral("/w/b/5.pdf"), 0, 0,
                     [](FileItem &f) { f.setCountStatus(CountStatus::Damaged); });
}

void TestPageSummaryWindow::setPrices(const QByteArray &tsv, bool perSubfolder)
{
    PriceSettings prices;
    if (!tsv.isEmpty())
        prices.prices = *PriceList::parse(tsv);
    prices.currency = QStringLiteral("EUR");
    QSettings settings = userSettings();
    prices.save(settings);
    settings.setValue(kJobPerSubfolderKey, perSubfolder);
}

QString TestPageSummaryWindow::jobRows(const JobTableModel &model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(r, c).data().toString();
        rows << cells.join(QLatin1Char(' '));
    }
    return rows.join(QStringLiteral("; "));
}

void TestPageSummaryWindow::amountsAreTheBills_data()
{
    QTest::addColumn<bool>("perSubfolder");
    QTest::addColumn<QList<int>>("selected"); // none: the whole list
    QTest::addColumn<qint64>("total");        // cents, fees included
    // Rounded per job and line as the bill does: A4 B/W at 0.0125 is 6 + 6
    // cents in two jobs, not 13 for the ten pages at once.
    QTest::newRow("folders") << false << QList<int>() << qint64(126 + 106);
    QTest::newRow("subfolders") << true << QList<int>() << qint64(105 + 121 + 106);
    QTest::newRow("selection") << false << QList<int>{1, 4} << qint64(101 + 106);
}

void TestPageSummaryWindow::amountsAreTheBills()
{
    QFETCH(bool, perSubfolder);
    QFETCH(QList<int>, selected);
    QFETCH(qint64, total);
    setPrices(kPrices, perSubfolder);
    listJobFiles();
    presenter()->setAddedFolders([] { return kAdded; });
    table()->selectRows(selected);
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    if (!selected.isEmpty())
        summary->setScope(PageSummaryDialog::Scope::Selection);

    // The bill of the same files, as the report makes it.
    const JobFolders jobs(kAdded, perSubfolder);
    BillingTally tally;
    for (int row = 0; row < files().size(); ++row) {
        if (!selected.isEmpty() && !selected.contains(row))
            continue;
        const FileItem &f = *files().at(row);
        if (f.countStatus() == CountStatus::Counted)
            tally.addFile(jobs.jobOf(f.localPath()), f.pageSummary());
        else
            tally.addUncounted(jobs.jobOf(f.localPath()), f.localPath(), QString());
    }
    const BillingReport bill = makeBillingReport(tally, *PriceList::parse(kPrices));
    QCOMPARE(bill.amount, total);

    auto *sizes = summary->findChild<QTableWidget *>(QStringLiteral("pageTable"));
    const int amountColumn = sizes->columnCount() - 1;
    QCOMPARE(sizes->horizontalHeaderItem(amountColumn)->text(), QStringLiteral("Amount"));
    QTRY_VERIFY(sizes->item(0, amountColumn)->text() != QStringLiteral("…"));
    Cents fees = 0;
    for (int r = 0; r + 1 < sizes->rowCount(); ++r) {
        const QString size = sizes->item(r, 0)->text();
        Cents amount = 0;
        qint64 unpriced = 0;
        for (const BillingJob &job : bill.jobs) {
            for (const BillingLine &line : job.lines) {
                if (line.kind == BillingLine::Fee)
                    fees += r == 0 ? line.amount : 0;
                else if (line.size == size)
                    (line.isPriced() ? amount : unpriced) += line.isPriced() ? line.amount : 1;
            }
        }
        const QTableWidgetItem *cell = sizes->item(r, amountColumn);
        QCOMPARE(cell->data(JobTableModel::CentsRole).value<Cents>(), amount);
        // Pages without a price are never shown as free.
        if (size == QStringLiteral("unknown size"))
            QCOMPARE(cell->text(), QStringLiteral("unpriced"));
        else if (unpriced > 0)
            QVERIFY2(cell->text().endsWith(QStringLiteral(" unpriced page")),
                     qPrintable(cell->text()));
        else
            QCOMPARE(cell->text(), amountForPeople(amount));
    }
    const QTableWidgetItem *last = sizes->item(sizes->rowCount() - 1, amountColumn);
    QCOMPARE(last->data(JobTableModel::CentsRole).value<Cents>() + fees, total);
    const QString amount = summary->findChild<QLabel *>(QStringLiteral("amount"))->text();
    QVERIFY2(amount.startsWith(QStringLiteral("Amount: %1 EUR").arg(amountForPeople(total))),
             qPrintable(amount));

    // By job, each job's amount is the bill's.
    summary->setByJob(true);
    const JobTableModel &byJob = summary->jobModel();
    QTRY_COMPARE(byJob.rowCount(), int(bill.jobs.size()));
    for (int r = 0; r < byJob.rowCount(); ++r) {
        QCOMPARE(byJob.index(r, JobTableModel::JobColumn).data().toString(),
                 BillingReport::displayName(bill.jobs[size_t(r)].key));
        QCOMPARE(byJob.index(r, JobTableModel::AmountColumn).data(JobTableModel::CentsRole),
                 QVariant(bill.jobs[size_t(r)].amount));
    }
}

void TestPageSummaryWindow::byJob_data()
{
    QTest::addColumn<bool>("added");
    QTest::addColumn<bool>("perSubfolder");
    QTest::addColumn<QString>("rows");
    QTest::newRow("each folder") << false << true
                                 << "/w/a 2 5 5 0; /w/a/sub 1 3 5 0; /w/a/sub/deep 1 1 2 0; "
                                    "/w/b 2 6 6 1";
    QTest::newRow("added folders") << true << false << "/w/a 4 9 12 0; /w/b 2 6 6 1";
    QTest::newRow("per subfolder")
        << true << true << "/w/a 2 5 5 0; /w/a/sub 2 4 7 0; /w/b 2 6 6 1";
}

void TestPageSummaryWindow::byJob()
{
    QFETCH(bool, added);
    QFETCH(bool, perSubfolder);
    QFETCH(QString, rows);
    setPrices({}, perSubfolder);
    listJobFiles();
    if (added)
        presenter()->setAddedFolders([] { return kAdded; });
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    // No prices: no amounts anywhere.
    QCOMPARE(summary->findChild<QTableWidget *>(QStringLiteral("pageTable"))->columnCount(), 7);
    QVERIFY(summary->findChild<QLabel *>(QStringLiteral("amount"))->isHidden());
    QCOMPARE(summary->jobModel().rowCount(), 0);
    summary->setByJob(true);
    QTRY_COMPARE(jobRows(summary->jobModel()), rows);
    QCOMPARE(summary->jobModel().columnCount(), int(JobTableModel::AmountColumn));
}

void TestPageSummaryWindow::byJobFollowsRemoveAndUndo()
{
    listJobFiles();
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    summary->setByJob(true);
    const QString before =
        QStringLiteral("/w/a 2 5 5 0; /w/a/sub 1 3 5 0; /w/a/sub/deep 1 1 2 0; /w/b 2 6 6 1");
    QTRY_COMPARE(jobRows(summary->jobModel()), before);
    table()->selectRows({0, 4});
    trigger("actionRemoveSelected");
    QTRY_COMPARE(jobRows(summary->jobModel()),
                 QStringLiteral("/w/a 1 2 2 0; /w/a/sub 1 3 5 0; /w/a/sub/deep 1 1 2 0; "
                                "/w/b 1 0 0 1"));
    trigger("actionUndo");
    QTRY_COMPARE(jobRows(summary->jobModel()), before);
    // Of the selection, once it is shown.
    table()->selectRows({2, 3});
    summary->setScope(PageSummaryDialog::Scope::Selection);
    QTRY_COMPARE(jobRows(summary->jobModel()),
                 QStringLiteral("/w/a/sub 1 3 5 0; /w/a/sub/deep 1 1 2 0"));
}

void TestPageSummaryWindow::byJobOfManyFilesInSlices()
{
    // More files than one pass of the event loop groups: the rest come
    // later, and a change of the list in between starts it over, without
    // reading a row that went.
    std::vector<std::unique_ptr<FileItem>> batch;
    for (const char *folder : {"/big/x/", "/big/y/"}) {
        for (int i = 0; i < 20000; ++i) {
            const QString name = QString::number(i) + QStringLiteral(".pdf");
            batch.push_back(std::make_unique<FileItem>(
                QUrl::fromLocalFile(QLatin1String(folder) + name), 0, 0));
        }
    }
    m_window->model().appendFiles(std::move(batch));
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    summary->setByJob(true);
    auto *amount = summary->findChild<QLabel *>(QStringLiteral("amount"));
    QVERIFY(amount->isVisible());
    QCOMPARE(amount->text(), QStringLiteral("Grouping the files by job…"));
    QList<int> first;
    for (int row = 0; row < 25000; ++row)
        first << row;
    m_window->model().removeRowList(first);
    QTRY_COMPARE(jobRows(summary->jobModel()), QStringLiteral("/big/y 15000 0 0 0"));
    QVERIFY(amount->isHidden());
    // Many jobs are sorted off the main thread.
    for (int i = 0; i < 3000; ++i)
        test::appendFile(m_window->model(), QStringLiteral("/many/%1/a.pdf").arg(i), 0);
    QTRY_COMPARE(summary->jobModel().rowCount(), 3001);
    QCOMPARE(summary->jobModel().index(0, 0).data().toString(), QStringLiteral("/big/y"));
}

void TestPageSummaryWindow::amountsFollowThePrices()
{
    listJobFiles();
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    auto *sizes = summary->findChild<QTableWidget *>(QStringLiteral("pageTable"));
    auto *amount = summary->findChild<QLabel *>(QStringLiteral("amount"));
    QCOMPARE(sizes->columnCount(), 7);
    // Edit > Prices, a row pricing every page at 0 added and accepted.
    const auto editPrices = [this](const std::function<void(PricesDialog &)> &edit) {
        trigger("actionPrices");
        auto *dialog = m_window->findChild<PricesDialog *>(QStringLiteral("prices"));
        QVERIFY(dialog);
        edit(*dialog);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        delete dialog;
    };
    editPrices([](PricesDialog &dialog) { dialog.model().insertNewRow(0); });
    QCOMPARE(sizes->columnCount(), 8);
    QTRY_COMPARE(amount->text(), QStringLiteral("Amount: 0.00"));
    QVERIFY(amount->isVisible());
    editPrices([](PricesDialog &dialog) { dialog.model().removeRows(0, 1); });
    QCOMPARE(sizes->columnCount(), 7);
    QVERIFY(amount->isHidden());
}

void TestPageSummaryWindow::coloursFollowTheTolerance()
{
    // A page with a small logo, read under the default tolerance, is
    // Colour; Edit > Prices sets a tolerance above the logo's area, and the
    // shown summary has it read again as B/W; below it, Colour again.
    const QString dir = makeFolder(QStringLiteral("logo"));
    QVERIFY(test::writeBytes(dir + QStringLiteral("/logo.pdf"), test::pdfWithLogo()));
    FileTableModel &model = m_window->model();
    test::appendFile(model, dir + QStringLiteral("/logo.pdf"), 1);
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    const auto pages = [summary](ColourClass colour) {
        return summary->table().totals().pages[size_t(colour)];
    };
    QTRY_COMPARE_WITH_TIMEOUT(pages(ColourClass::Colour), 1, 60000);
    for (const double tolerance : {20.0, 5.0}) {
        trigger("actionPrices");
        auto *dialog = m_window->findChild<PricesDialog *>(QStringLiteral("prices"));
        QVERIFY(dialog);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("colourTolerance"))->setValue(tolerance);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        delete dialog;
        const bool colour = tolerance < 12.4;
        QTRY_COMPARE_WITH_TIMEOUT(pages(ColourClass::BlackWhite), colour ? 0 : 1, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(pages(ColourClass::Colour), colour ? 1 : 0, 60000);
        QCOMPARE(model.tally().withoutDetails(), 0);
    }
}

void TestPageSummaryWindow::billAfterAToleranceChange()
{
    // Colours read under the old tolerance, and a bill asked for at once
    // after the change: it waits for them to be read again.
    const QString dir = makeFolder(QStringLiteral("logo"));
    QVERIFY(test::writeBytes(dir + QStringLiteral("/logo.pdf"), test::pdfWithLogo()));
    const std::vector<PageInfo> read{{210, 297, ColourClass::Colour}};
    test::appendFile(m_window->model(), dir + QStringLiteral("/logo.pdf"), 1, 0,
                     [&](FileItem &f) { f.setPageSummary(PageSummary::fromPages(read, 1)); });
    trigger("actionPrices");
    auto *dialog = m_window->findChild<PricesDialog *>(QStringLiteral("prices"));
    QVERIFY(dialog);
    dialog->findChild<QDoubleSpinBox *>(QStringLiteral("colourTolerance"))->setValue(20);
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    delete dialog;
    const QString csv = QDir(dir).filePath(QStringLiteral("bill.csv"));
    QSignalSpy saved(&m_window->billing(), &BillingReporter::saved);
    trigger("actionBillingReport");
    m_dialogs->fileAnswers = {{csv}};
    m_window->billing().choiceDialog()->accept();
    QVERIFY(saved.wait(60000));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bill = file.readAll();
    QVERIFY2(bill.contains("/logo,A4,B/W,1,"), bill.constData());
    QVERIFY2(!bill.contains("Colour,1"), bill.constData());
}

QTEST_MAIN(TestPageSummaryWindow)
#include "tst_pagesummarywindow.moc"
