// The words the window, its questions and its dialogs show, each checked
// here once, in English; the other tests check what they stand for.
#include "appinfo.h"
#include "billingreporter.h"
#include "fileitem.h"
#include "importfilesdialog.h"
#include "intake.h"
#include "iopool.h"
#include "jobtablemodel.h"
#include "lastlistkeeper.h"
#include "listexporter.h"
#include "listsnapshot.h"
#include "pagesummarydialog.h"
#include "pricesmodel.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QCheckBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

using namespace tallivo;

using Step = std::function<void()>;
using Reading = std::function<QString()>;
Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Reading)

class TestWording : public QObject, public test::WindowFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void fixedTexts_data();
    void fixedTexts();

private:
    // Lists files that need not exist, with these pages.
    void list(std::initializer_list<std::pair<const char *, int>> files) const;
    // Busy, as a run's first step leaves the window.
    void startRun() const;
    QString lastCaption() const
    {
        return m_dialogs->fileRequests.isEmpty() ? QString()
                                                 : m_dialogs->fileRequests.last().caption;
    }
    MessageRequest lastMessage() const
    {
        return m_dialogs->messages.isEmpty() ? MessageRequest() : m_dialogs->messages.last();
    }
    // A kept list of `files` made-up files, offered by a new window.
    void offerKeptList(int files);
    // Imports `text` typed into the import dialog, or the list file it
    // names.
    void import(ImportFilesDialog::Source source, const QByteArray &text = {}) const;
};

void TestWording::initTestCase()
{
    setUpEnvironment();
}

void TestWording::init()
{
    resetEnvironment();
    makeWindow();
    m_window->resize(1240, 700);
    m_window->show();
}

void TestWording::cleanup()
{
    if (m_window && m_window->presenter().isBusy() && !collectionRun().isActive()) {
        m_window->presenter().processStopped(RunResult());
        m_window->presenter().resetView(true);
    }
    m_window.reset();
    QVERIFY(QTest::qWaitFor([] { return IoPool::instance().pending() == 0; }, 300000));
}

void TestWording::list(std::initializer_list<std::pair<const char *, int>> files) const
{
    for (const auto &[path, pages] : files)
        test::appendFile(m_window->model(), QString::fromLatin1(path), pages);
}

void TestWording::startRun() const
{
    m_window->presenter().resetView(false);
    m_window->presenter().processStarted();
}

void TestWording::offerKeptList(int files)
{
    std::vector<std::unique_ptr<FileItem>> items;
    std::vector<const FileItem *> kept;
    for (int i = 0; i < files; ++i) {
        items.push_back(std::make_unique<FileItem>(
            QUrl::fromLocalFile(QStringLiteral("/kept/%1.pdf").arg(i)), 1, 0));
        kept.push_back(items.back().get());
    }
    const QString path = m_data->filePath(QStringLiteral("LastList.bin"));
    QVERIFY(test::writeBytes(path, files ? listsnapshot::encode(kept) : "not a list"));
    makeWindow();
    m_window->lastList().setPath(QFile::encodeName(path));
    m_window->lastList().offer();
}

void TestWording::import(ImportFilesDialog::Source source, const QByteArray &text) const
{
    trigger("actionImport");
    ImportFilesDialog *dialog = m_window->intake().importDialog();
    dialog->setSource(source);
    if (source == ImportFilesDialog::Source::Text)
        dialog->findChild<QPlainTextEdit *>(QStringLiteral("pathsEdit"))
            ->setPlainText(QString::fromUtf8(text));
    dialog->findChild<QPushButton *>(QStringLiteral("importButton"))->click();
}

void TestWording::fixedTexts_data()
{
    QTest::addColumn<Step>("arrange");
    QTest::addColumn<Reading>("read"); // asked again until it answers or times out
    QTest::addColumn<QString>("expected");
    const Step nothing = [] {};
    const auto text = [this](const char *name) -> Reading {
        return [this, name] { return label(name); };
    };
    const Step threeFiles = [this] { list({{"/x/a.tif", 4}, {"/x/b.PDF", 10}, {"/x/c.tiff", 2}}); };

    QTest::newRow("title") << nothing << Reading([this] { return m_window->windowTitle(); })
                           << "Tallivo";
    QTest::newRow("recent folders")
        << nothing << Reading([this] { return popup()->itemText(0); }) << "Recent Folders...";
    QTest::newRow("time taken") << nothing << text("timeTakenLabel") << "Total Time Taken : 00:00";
    QTest::newRow("time taken, counting") << Step([this] { startRun(); }) << text("timeTakenLabel")
                                          << "Total Time Taken : In Process...";
    QTest::newRow("progress") << Step([this] {
        startRun();
        m_window->presenter().progress({3000, 0, QString()});
    }) << text("progressLabel")
                              << "3,000 files found, 0 counted";
    QTest::newRow("page totals") << threeFiles << text("pageTotalsLabel")
                                 << "Total Pages TIFF : 6 PDF : 10";
    QTest::newRow("file totals") << Step([=, this] {
        threeFiles();
        table()->selectRows({0, 1});
    }) << text("fileTotalsLabel")
                                 << "3 Total file(s); 2 file selected; Total page count of "
                                    "selected TIFF file(s) : 4 PDF file(s) : 10; 3 files "
                                    "checked; Total page count of checked TIFF file(s) : 6 PDF "
                                    "file(s) : 10";
    QTest::newRow("file totals, one") << Step([this] {
        list({{"/x/a.tif", 2}});
    }) << text("fileTotalsLabel")
                                      << "1 Total file(s); 0 file selected; Total page count of "
                                         "selected TIFF file(s) : 0 PDF file(s) : 0; 1 file "
                                         "checked; Total page count of checked TIFF file(s) : 2 "
                                         "PDF file(s) : 0";
    const Reading uncounted = [this] { return child<QToolButton>("uncountedButton")->text(); };
    const auto unreadable = [this](int files) {
        for (int i = 0; i < files; ++i)
            test::appendFile(m_window->model(), QStringLiteral("/x/%1.pdf").arg(i), 0, 0,
                             [](FileItem &f) { f.setCountStatus(CountStatus::Damaged); });
    };
    QTest::newRow("uncounted, one")
        << Step([=] { unreadable(1); }) << uncounted << "1 file could not be counted";
    QTest::newRow("uncounted, several")
        << Step([=] { unreadable(2); }) << uncounted << "2 files could not be counted";

    // The table.
    const auto reason = [this](CountStatus status) -> Step {
        return [=, this] {
            test::appendFile(m_window->model(), QStringLiteral("/x/a.pdf"), 0, 0,
                             [=](FileItem &f) { f.setCountStatus(status); });
        };
    };
    const Reading tip = [this] {
        return m_window->model().index(0, int(Column::Pages)).data(Qt::ToolTipRole).toString();
    };
    QTest::newRow("locked") << reason(CountStatus::Locked) << tip
                            << "Pages could not be counted: password-protected";
    QTest::newRow("damaged") << reason(CountStatus::Damaged) << tip
                             << "Pages could not be counted: damaged";
    QTest::newRow("not tiff or pdf") << reason(CountStatus::NotTiffOrPdf) << tip
                                     << "Pages could not be counted: not a TIFF or PDF file";
    QTest::newRow("missing") << reason(CountStatus::Missing) << tip
                             << "Pages could not be counted: missing";
    const auto header = [this](Column column) -> Reading {
        return [=, this] {
            return m_window->model().headerData(int(column), Qt::Horizontal).toString();
        };
    };
    QTest::newRow("sizes") << nothing << header(Column::Sizes) << "Sizes";
    QTest::newRow("a4 equivalents") << nothing << header(Column::A4Equivalents) << "A4 eq.";
    QTest::newRow("colour") << nothing << header(Column::Colour) << "Colour";

    // The bill.
    const auto menuText = [this](const char *name) -> Reading {
        return [this, name] { return action(name)->text().remove(QLatin1Char('&')); };
    };
    QTest::newRow("billing report")
        << nothing << menuText("actionBillingReport") << "Billing Report\u2026";
    QTest::newRow("print billing report")
        << nothing << menuText("actionPrintBillingReport") << "Print Billing Report\u2026";
    const auto box = [this](const char *name) -> Reading {
        return [this, name] {
            BillingReportDialog *dialog = m_window->billing().choiceDialog();
            return dialog ? dialog->findChild<QCheckBox *>(QLatin1String(name))
                                ->text()
                                .remove(QLatin1Char('&'))
                          : QString();
        };
    };
    const Step askBill = [=, this] {
        threeFiles();
        trigger("actionBillingReport");
    };
    QTest::newRow("checked files only") << askBill << box("checkedOnly") << "Checked files only";
    QTest::newRow("job per subfolder") << askBill << box("jobPerSubfolder") << "Job per subfolder";

    // Questions and dialogs.
    const Reading caption = [this] { return lastCaption(); };
    QTest::newRow("add files") << Step([this] { trigger("actionAddFiles"); }) << caption
                               << "Select TIFF and PDF File(s):";
    QTest::newRow("add folder") << Step([this] { trigger("actionAddFolder"); }) << caption
                                << "Select folder(s) contains TIFF and PDF File(s):";
    QTest::newRow("export") << Step([=, this] {
        threeFiles();
        trigger("actionExport");
    }) << caption << "Export List To Tab Delimited Text File :";
    QTest::newRow("missing recent folder") << Step([this] {
        const QString gone = m_data->filePath(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(gone));
        popup()->add({gone});
        QVERIFY(QDir(gone).removeRecursively());
        Q_EMIT popup()->activated(1);
    }) << caption << "Choose folder(s):";
    QTest::newRow("remove all") << Step([=, this] {
        threeFiles();
        trigger("actionRemoveAll");
    }) << Reading([this] { return lastMessage().informativeText; })
                                << "Are you sure to remove all file(s)?";
    // A question with its two answers: "text [yes|no]".
    const Reading question = [this] {
        const MessageRequest ask = lastMessage();
        return ask.text + QStringLiteral(" [%1|%2]").arg(ask.acceptText, ask.rejectText);
    };
    QTest::newRow("quit") << Step([this] {
        startRun();
        trigger("actionQuit");
    }) << question << "Files are still being counted. Quit anyway? [&Quit|Cancel]";
    QTest::newRow("restore") << Step([this] { offerKeptList(2); }) << question
                             << "Restore the list of 2 files from the last session? "
                                "[&Restore|&Discard]";
    QTest::newRow("kept list unreadable")
        << Step([this] { offerKeptList(0); }) << Reading([this] { return lastMessage().text; })
        << "The list of the last session could not be read.";

    // What a command came to.
    const auto exportTo = [this](const char *name, int files) -> Step {
        return [=, this] {
            for (int i = 0; i < files; ++i)
                test::appendFile(m_window->model(), QStringLiteral("/x/%1.pdf").arg(i));
            m_dialogs->fileAnswers = {{m_data->filePath(QLatin1String(name))}};
            trigger("actionExport");
        };
    };
    const Reading message = [this] { return m_window->presenter().message(); };
    QTest::newRow("exported") << exportTo("out.txt", 3) << message
                              << "Exported 3 files to \u201cout.txt\u201d.";
    QTest::newRow("exported, one")
        << exportTo("out.txt", 1) << message << "Exported 1 file to \u201cout.txt\u201d.";
    QTest::newRow("not exported") << exportTo("no/such/out.txt", 1)
                                  << Reading([this] { return lastMessage().text; })
                                  << "The list was not exported.";
    const auto result = [](auto set, qint64 added) -> Reading {
        return [=] {
            RunResult result;
            set(result);
            return RunPresenter::resultText(result, added);
        };
    };
    const auto listed = [](qint64 n) { return [n](RunResult &r) { r.alreadyListed = n; }; };
    const auto cut = [](qint64 found, qint64 handedOver) {
        return [=](RunResult &r) {
            r.cancelled = true;
            r.found = found;
            r.handedOver = handedOver;
        };
    };
    const auto below = [](qint64 files, bool complete) {
        return [=](RunResult &r) { r.subfolderFiles = {files, complete}; };
    };
    QTest::newRow("listed already") << nothing << result(listed(3), 0)
                                    << "Nothing was added: the 3 files found are listed already.";
    QTest::newRow("listed already, one") << nothing << result(listed(1), 0)
                                         << "Nothing was added: the file found is listed already.";
    QTest::newRow("added, one") << nothing << result(listed(3), 1)
                                << "1 file added; 3 listed already.";
    QTest::newRow("added") << nothing << result(listed(1), 2500)
                           << "2,500 files added; 1 listed already.";
    QTest::newRow("cancelled early")
        << nothing << result(cut(0, 0), 0) << "Cancelled before any file was found.";
    QTest::newRow("cancelled") << nothing << result(cut(5241, 3193), 3193)
                               << "2,048 of 5,241 files found were not counted: cancelled.";
    QTest::newRow("cancelled, one left") << nothing << result(cut(5241, 5240), 5240)
                                         << "1 of 5,241 files found was not counted: cancelled.";
    QTest::newRow("cancelled late") << nothing << result(cut(5241, 5241), 5241)
                                    << "Cancelled; all 5,241 files found were counted.";
    QTest::newRow("in subfolders")
        << nothing << result(below(5, true), 0)
        << "No TIFF or PDF files here, but the subfolders hold 5. To count them, turn on "
           "Subfolders (Ctrl+Shift+S) and add the folder again.";
    QTest::newRow("in subfolders, many")
        << nothing << result(below(10000, false), 0)
        << "No TIFF or PDF files here, but the subfolders hold at least 10,000. To count them, "
           "turn on Subfolders (Ctrl+Shift+S) and add the folder again.";

    // The Page Summary.
    const Step summary = [this] { trigger("actionPageSummary"); };
    QTest::newRow("page summary") << Step([=, this] {
        summary();
        PageTable table;
        table.add(test::summaryOf({{10, PageInfo{210, 297, ColourClass::BlackWhite}},
                                   {2, PageInfo{297, 420, ColourClass::Colour}}}));
        m_window->pageSummary()->setSummary(table);
    }) << Reading([this] {
        return m_window->pageSummary()->findChild<QLabel *>(QStringLiteral("totals"))->text();
    }) << "12 pages, 14 A4 equivalents";
    QTest::newRow("page summary not saved") << Step([=, this] {
        summary();
        m_dialogs->fileAnswers = {{m_data->filePath(QStringLiteral("no/such/summary.csv"))}};
        m_window->pageSummary()->exportCsv();
    }) << Reading([this] { return lastMessage().text; })
                                            << "The page summary could not be saved.";

    const auto without = [=, this](int files, bool reading) -> Step {
        return [=, this] {
            summary();
            m_window->pageSummary()->setFilesWithoutDetails(files, reading);
        };
    };
    const Reading note = [this] {
        return m_window->pageSummary()->findChild<QLabel *>(QStringLiteral("note"))->text();
    };
    QTest::newRow("without details, one")
        << without(1, false) << note
        << "1 file has no page details: it could not be read again, and is not included.";
    QTest::newRow("without details")
        << without(2, false) << note
        << "2 files have no page details: they could not be read again, and are not included.";
    QTest::newRow("reading details, one")
        << without(1, true) << note << "Reading the page details of 1 file counted before\u2026";
    QTest::newRow("reading details")
        << without(2, true) << note << "Reading the page details of 2 files counted before\u2026";

    // Its amounts and its view by job, with prices set.
    const Step priced = [=, this] {
        PriceSettings prices;
        prices.prices = *PriceList::parse("Size\tColour\tUnit\tPrice\nA4\tB/W\tpage\t0.1\n"
                                          "*\t*\tjob\t1\n");
        prices.currency = QStringLiteral("EUR");
        QSettings settings = userSettings();
        prices.save(settings);
        const PageSummary pages =
            test::summaryOf({{10, PageInfo{210, 297, ColourClass::BlackWhite}},
                             {1, PageInfo{210, 297, ColourClass::Colour}},
                             {2, PageInfo{297, 420, ColourClass::Colour}}});
        test::appendFile(m_window->model(), QStringLiteral("/jobs/a.pdf"), 13, 0,
                         [&](FileItem &f) { f.setPageSummary(pages); });
        summary();
        m_window->pageSummary()->setByJob(true);
    };
    const auto pageTable = [this] {
        return m_window->pageSummary()->findChild<QTableWidget *>(QStringLiteral("pageTable"));
    };
    QTest::newRow("amount")
        << priced << Reading([this] {
               return m_window->pageSummary()
                   ->findChild<QLabel *>(QStringLiteral("amount"))
                   ->text();
           })
        << "Amount: 2.00 EUR, including job fees of 1.00; 3 pages have no price and are not "
           "included";
    QTest::newRow("amounts, unpriced") << priced << Reading([=] {
        QStringList cells;
        for (int row = 0; row < pageTable()->rowCount(); ++row)
            cells << pageTable()->item(row, pageTable()->columnCount() - 1)->text();
        return cells.join(QStringLiteral(" | "));
    }) << "unpriced | 1.00 + 1 unpriced page | 1.00 + 3 unpriced pages";
    QTest::newRow("by job") << priced << Reading([this] {
        QStringList texts{m_window->pageSummary()->findChild<QCheckBox *>()->text()};
        const JobTableModel &jobs = m_window->pageSummary()->jobModel();
        for (int c = 0; c < jobs.columnCount(); ++c)
            texts << jobs.headerData(c, Qt::Horizontal).toString();
        return texts.join(QStringLiteral(", "));
    }) << "By job, Job, Files, Pages, A4 eq., Not counted, Amount";

    // The import dialog.
    const Reading alert = [this] {
        const MessageRequest alert = lastMessage();
        return alert.text.isEmpty() ? QString() : alert.title + QStringLiteral(": ") + alert.text;
    };
    const auto found = [this]() -> Reading {
        return [this] {
            ImportFilesDialog *dialog = m_window->intake().importDialog();
            return dialog ? dialog->findChild<QLabel *>(QStringLiteral("foundLabel"))->text()
                          : QString();
        };
    };
    using Source = ImportFilesDialog::Source;
    QTest::newRow("import, nothing typed") << Step([this] { import(Source::Text); }) << alert
                                           << "Tallivo: Please paste file(s) path to import!";
    QTest::newRow("import, no file chosen") << Step([this] { import(Source::File); }) << alert
                                            << "Tallivo: Please select file to import!";
    QTest::newRow("import, none found") << Step([this] { import(Source::Text, "/a/x.jpg\n"); })
                                        << alert << "Tallivo: No File(s) Found!";
    QTest::newRow("import, found")
        << Step([this] { trigger("actionImport"); }) << found() << "Total Files Found : 0";
    const QByteArray overlong = "/a/" + QByteArray(1 << 20, 'x') + ".pdf\n";
    QTest::newRow("import, one too long")
        << Step([=, this] { import(Source::Text, "/a/c.pdf\n" + overlong); }) << found()
        << "Total Files Found : 1 (1 line too long to be a path "
           "left out)";
    QTest::newRow("import, too long")
        << Step([=, this] { import(Source::Text, overlong + "/a/c.pdf\n" + overlong); }) << found()
        << "Total Files Found : 1 (2 lines too long to be paths left out)";
}

void TestWording::fixedTexts()
{
    QFETCH(Step, arrange);
    QFETCH(Reading, read);
    QFETCH(QString, expected);
    arrange();
    QTRY_COMPARE_WITH_TIMEOUT(read(), expected, 60000);
}

QTEST_MAIN(TestWording)
#include "tst_wording.moc"
