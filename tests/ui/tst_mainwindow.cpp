#include "customtableview.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "importfilesdialog.h"
#include "samplefiles.h"
#include "segmentedcontrol.h"
#include "tallivoappdelegate.h"
#include "windowtext.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace tallivo;
using tallivo::test::addItem;
using tallivo::test::order;

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void startUpState();
    void includeSubfoldersSurvivesRestart();
    void statusTexts();
    void segmentsBeforeDuringAfterRun();
    void addsToTheList_data();
    void addsToTheList();
    void fileActions_data();
    void fileActions();
    void exportWritesOrReportsFailure();
    void recentFolders();
    void stopDuringRun_data();
    void stopDuringRun();
    void numericField_data();
    void numericField();
    void menuTitles();

private:
    void makeWindow();
    bool run(const std::function<void()> &start);
    QString makeFolder(const QString &name, int tiffs, int pdfs);
    // Which of the six command segments are enabled, as "101100".
    QString enabledSegments() const;
    QString label(const char *name) const { return m_window->findChild<QLabel *>(name)->text(); }
    QComboBox *popup() const { return m_window->findChild<QComboBox *>("recentFoldersPopup"); }
    QStringList popupEntries() const;

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_data;
    test::FakeDialogs *m_dialogs = nullptr;
    test::FakeDesktop *m_desktop = nullptr;
    std::unique_ptr<TallivoAppDelegate> m_window;
};

void TestMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TestMainWindow::init()
{
    m_window.reset();
    QSettings(QStringLiteral("Kelmarin"), QStringLiteral("Tallivo")).clear();
    m_data = std::make_unique<QTemporaryDir>();
    makeWindow();
}

void TestMainWindow::makeWindow()
{
    m_window.reset();
    auto dialogs = std::make_unique<test::FakeDialogs>();
    auto desktop = std::make_unique<test::FakeDesktop>();
    m_dialogs = dialogs.get();
    m_desktop = desktop.get();
    m_window = std::make_unique<TallivoAppDelegate>(std::move(dialogs), std::move(desktop));
}

// Runs whatever start() begins to its end; true when nothing was begun.
bool TestMainWindow::run(const std::function<void()> &start)
{
    QSignalSpy finished(&m_window->collectionRun(), &CollectionRun::finished);
    start();
    return !finished.isEmpty() || !m_window->collectionRun().isActive() || finished.wait(60000);
}

QString TestMainWindow::makeFolder(const QString &name, int tiffs, int pdfs)
{
    const QString dir = m_data->filePath(name);
    QDir().mkpath(dir);
    for (int i = 0; i < tiffs; ++i)
        test::writeTiff(dir + QStringLiteral("/t%1.tif").arg(i), i + 1);
    for (int i = 0; i < pdfs; ++i)
        test::writePdf(dir + QStringLiteral("/p%1.pdf").arg(i), 2);
    test::writeBytes(dir + QStringLiteral("/notes.txt"), "x");
    return dir;
}

QString TestMainWindow::enabledSegments() const
{
    QString out;
    for (int i = 0; i < 6; ++i)
        out += m_window->filesFoldersSegmented()->isSegmentEnabled(i) ? QLatin1Char('1')
                                                                      : QLatin1Char('0');
    return out;
}

QStringList TestMainWindow::popupEntries() const
{
    QStringList out;
    for (int i = 0; i < popup()->count(); ++i)
        out << popup()->itemText(i);
    return out;
}

void TestMainWindow::startUpState()
{
    TallivoAppDelegate &w = *m_window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tallivo"));
    QCOMPARE(enabledSegments(), QStringLiteral("101100"));
    QVERIFY(w.helpSegmented()->isSegmentEnabled(0) && w.helpSegmented()->isSegmentEnabled(1));
    QVERIFY(!w.filesFoldersSegmented()->isSelected(TallivoAppDelegate::IncludeSubfoldersSegment));
    QVERIFY(w.mainTableView()->isEnabled());
    QCOMPARE(w.mainTableView()->contextMenu(), w.filesContextMenu());
    QCOMPARE(w.model().columnCount(), 9);
    QCOMPARE(popupEntries(), QStringList{QStringLiteral("Recent Folders...")});
    QCOMPARE(label("labelTimeTaken"), QStringLiteral("Total Time Taken : 00:00"));
    QCOMPARE(label("labelTotalTIFFPages"), QStringLiteral("Total Pages TIFF : 0 PDF : 0"));
    QCOMPARE(label("labelTotalFiles"),
             QStringLiteral("0 Total file(s); 0 file selected; Total page count of selected "
                            "TIFF file(s) : 0 PDF file(s) : 0"));
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("loadingIndicator"))->isHidden());
    QVERIFY(w.findChild<QPushButton *>(QStringLiteral("cancelBtn"))->isHidden());
}

void TestMainWindow::includeSubfoldersSurvivesRestart()
{
    const int segment = TallivoAppDelegate::IncludeSubfoldersSegment;
    for (bool expected : {true, false}) {
        m_window->filesFoldersSegmented()->segment(segment)->click();
        makeWindow();
        QCOMPARE(m_window->inculdeSubfolders(), expected);
        QCOMPARE(m_window->filesFoldersSegmented()->isSelected(segment), expected);
    }
}

void TestMainWindow::statusTexts()
{
    addItem(m_window->files(), QStringLiteral("/x/a.tif"), 4);
    addItem(m_window->files(), QStringLiteral("/x/b.PDF"), 10);
    addItem(m_window->files(), QStringLiteral("/x/c.tiff"), 2);
    m_window->model().syncRows();
    for (int row : {0, 1})
        m_window->mainTableView()->selectionModel()->select(m_window->model().index(row, 0),
                                                            QItemSelectionModel::Select |
                                                                QItemSelectionModel::Rows);
    // Check boxes play no part in the totals.
    m_window->checkUncheckInvertAll(2);
    QCOMPARE(label("labelTotalTIFFPages"), QStringLiteral("Total Pages TIFF : 6 PDF : 10"));
    QCOMPARE(label("labelTotalFiles"),
             QStringLiteral("3 Total file(s); 2 file selected; Total page count of selected "
                            "TIFF file(s) : 4 PDF file(s) : 10"));
}

void TestMainWindow::segmentsBeforeDuringAfterRun()
{
    const QString dir = makeFolder(QStringLiteral("scans"), 2, 1);
    QString during; // the segments, the pop-up and the table
    m_window->setUsageSink([&](const QString &feature, qint32 total) {
        // Called at the end of the run, before the controls come back.
        during = enabledSegments() + QString::number(popup()->isEnabled()) +
                 QString::number(m_window->mainTableView()->isEnabled());
        QCOMPARE(feature, QStringLiteral("Output Files"));
        QCOMPARE(total, 3);
    });
    m_dialogs->panelAnswers = {{1, {dir}}};
    QVERIFY(run([&] { m_window->addFolder(); }));
    QCOMPARE(m_dialogs->panels.first().title,
             QStringLiteral("Select folder(s) contains TIFF and PDF File(s):"));
    QCOMPARE(during, QStringLiteral("00000000"));
    QCOMPARE(enabledSegments(), QStringLiteral("111111"));
    QVERIFY(m_window->mainTableView()->isEnabled());
    QCOMPARE(m_window->model().rowCount(), 3);
    QCOMPARE(label("labelTotalTIFFPages"), QStringLiteral("Total Pages TIFF : 3 PDF : 2"));
    QVERIFY(label("labelTimeTaken").startsWith(QStringLiteral("Total Time Taken : 00:")));
    QCOMPARE(popupEntries().value(1), dir);

    // Remove all asks first; then the segments follow the list's count.
    for (int answer : {0, 1}) {
        m_dialogs->alertAnswers = {answer};
        m_window->filesFoldersSegmented()->segment(TallivoAppDelegate::RemoveAllSegment)->click();
        QCOMPARE(m_dialogs->alerts.last().informativeText,
                 QStringLiteral("Are you sure to remove all file(s)?"));
        QCOMPARE(m_window->files().size(), answer ? 0 : 3);
        QCOMPARE(m_window->model().rowCount(), answer ? 0 : 3);
        QCOMPARE(enabledSegments(), answer ? QStringLiteral("101100") : QStringLiteral("111111"));
    }
}

void TestMainWindow::addsToTheList_data()
{
    QTest::addColumn<QString>("via");
    QTest::addColumn<QStringList>("paths"); // under the data folder
    QTest::addColumn<QString>("listed");
    QTest::addColumn<bool>("folderRemembered");
    const QStringList files = {QStringLiteral("f/p0.pdf"), QStringLiteral("f/notes.txt")};
    // Chosen files are taken as they are, unless subfolders are included:
    // then the run is a folder walk that keeps to the allowed types.
    QTest::newRow("add files") << "files" << files << "keep notes p0" << false;
    QTest::newRow("add files, subfolders") << "files+sub" << files << "keep p0" << false;
    QTest::newRow("cancelled panel") << "cancel" << QStringList{"f"} << "keep" << false;
    QTest::newRow("drop folder and file")
        << "drop" << QStringList{"f", "loose.pdf"} << "keep loose p0 t0" << true;
    QTest::newRow("import") << "import" << files << "keep notes p0" << false;
}

void TestMainWindow::addsToTheList()
{
    QFETCH(QString, via);
    QFETCH(QStringList, paths);
    QFETCH(QString, listed);
    QFETCH(bool, folderRemembered);
    makeFolder(QStringLiteral("f"), 1, 1);
    QVERIFY(test::writePdf(m_data->filePath(QStringLiteral("loose.pdf")), 3));
    QList<QUrl> urls;
    for (QString &path : paths) {
        path = m_data->filePath(path);
        urls << QUrl::fromLocalFile(path);
    }
    addItem(m_window->files(), QStringLiteral("/old/keep.pdf"));
    m_window->model().syncRows();
    m_window->setInculdeSubfolders(via == QLatin1String("files+sub"));
    m_dialogs->panelAnswers = {{via == QLatin1String("cancel") ? 0 : 1, paths}};
    QVERIFY(run([&] {
        if (via == QLatin1String("drop")) {
            Q_EMIT m_window->mainTableView()->filesDropped(urls);
        } else if (via == QLatin1String("import")) {
            m_window->show();
            m_window->importAction();
            ImportFilesDialog *dialog = m_window->importFilesPanel();
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->windowModality(), Qt::WindowModal);
            Q_EMIT dialog->filesImported(urls);
            dialog->close();
        } else if (via == QLatin1String("cancel")) {
            m_window->addFolder();
        } else {
            m_window->filesFoldersSegmented()->segment(0)->click();
            QCOMPARE(m_dialogs->panels.first().title,
                     QStringLiteral("Select TIFF and PDF File(s):"));
        }
    }));
    m_window->model().sort(FileTableModel::NameColumn);
    QCOMPARE(order(m_window->files()), listed);
    QCOMPARE(popupEntries().size(), folderRemembered ? 2 : 1);
}

void TestMainWindow::fileActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("canOpen");
    QTest::addColumn<bool>("fileManagerAnswers");
    QTest::addColumn<QString>("method"); // the file manager call, if any
    QTest::addColumn<QString>("opened"); // paths joined by "|"
    const auto row = [](const char *name, const char *action, bool canOpen, bool answers,
                        const char *method, const char *opened) {
        QTest::newRow(name) << action << canOpen << answers << method << opened;
    };
    // A double-click opens, else shows in the file manager, else opens the folder.
    row("double-click opens", "double", true, true, "", "/b/scan 1.tif");
    row("double-click shows", "double", false, true, "ShowItems", "/b/scan 1.tif");
    row("double-click opens the folder", "double", false, false, "ShowItems", "/b/scan 1.tif|/b");
    row("open goes on after a failure", "open", false, true, "", "/a/y.pdf|/b/scan 1.tif|/b/z.pdf");
    // Each folder once, in the order of the files.
    row("show, no file manager", "show", true, false, "ShowItems", "/a|/b");
    row("properties, no file manager", "info", true, false, "ShowItemProperties", "/a|/b");
}

void TestMainWindow::fileActions()
{
    QFETCH(QString, action);
    QFETCH(bool, canOpen);
    QFETCH(bool, fileManagerAnswers);
    QFETCH(QString, method);
    QFETCH(QString, opened);
    m_desktop->canOpen = canOpen;
    m_desktop->fileManagerAnswers = fileManagerAnswers;
    for (const char *path : {"/a/y.pdf", "/b/scan 1.tif", "/b/z.pdf"})
        addItem(m_window->files(), QString::fromUtf8(path));
    m_window->model().syncRows();
    m_window->mainTableView()->selectAll();
    // Blanks travel percent-encoded, as file URIs must.
    QStringList uris = {QStringLiteral("file:///a/y.pdf"), QStringLiteral("file:///b/scan%201.tif"),
                        QStringLiteral("file:///b/z.pdf")};
    if (action == QLatin1String("double")) {
        // Nothing for no row or the check box; the row's file otherwise.
        m_window->fileDoubleClicked(QModelIndex());
        m_window->fileDoubleClicked(m_window->model().index(1, FileTableModel::CheckColumn));
        m_window->fileDoubleClicked(m_window->model().index(1, FileTableModel::NameColumn));
        uris = uris.mid(1, 1);
    } else if (action == QLatin1String("open")) {
        m_window->openFileWithFinder();
    } else if (action == QLatin1String("show")) {
        m_window->openFileEnclosingFolder();
    } else {
        m_window->getInfoFile();
    }
    QStringList paths;
    for (const QUrl &url : m_desktop->opened)
        paths << url.toLocalFile();
    QCOMPARE(paths.join(QLatin1Char('|')), opened);
    QCOMPARE(m_desktop->fileManagerCalls.size(), method.isEmpty() ? 0 : 1);
    if (!method.isEmpty())
        QCOMPARE(m_desktop->fileManagerCalls.first(), qMakePair(method, uris));
}

void TestMainWindow::exportWritesOrReportsFailure()
{
    m_dialogs->panelAnswers = {{1, {makeFolder(QStringLiteral("e"), 1, 0)}}};
    QVERIFY(run([&] { m_window->addFolder(); }));

    const QString good = m_data->filePath(QStringLiteral("out.txt"));
    m_dialogs->panelAnswers = {{1, {good}}};
    m_window->filesFoldersSegmented()->segment(TallivoAppDelegate::ExportSegment)->click();
    QCOMPARE(m_dialogs->panels.last().kind, PanelRequest::SaveFile);
    QCOMPARE(m_dialogs->panels.last().title,
             QStringLiteral("Export List To Tab Delimited Text File :"));
    QFile out(good);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QVERIFY(out.readAll().contains("\nt0.tif\t1\t"));
    QVERIFY(m_dialogs->alerts.isEmpty());

    // A destination that cannot be written is reported, not passed over.
    m_dialogs->panelAnswers = {{1, {m_data->filePath(QStringLiteral("no/such/folder/out.txt"))}}};
    m_window->exportAction();
    QCOMPARE(m_dialogs->alerts.size(), 1);
    QVERIFY(m_dialogs->alerts.first().informativeText.contains(QStringLiteral("out.txt")));
}

void TestMainWindow::recentFolders()
{
    const QString gone = makeFolder(QStringLiteral("gone"), 1, 0);
    const QString other = makeFolder(QStringLiteral("other"), 0, 0);
    const QString chosen = makeFolder(QStringLiteral("chosen"), 0, 1);
    m_window->addRecentItem({gone});
    QTest::qWait(5); // a later moment for the second folder's date
    m_window->addRecentItem({other});
    addItem(m_window->files(), QStringLiteral("/old/keep.pdf"));
    m_window->model().syncRows();
    m_window->recentFolderChanged(0);
    QVERIFY(!m_window->collectionRun().isActive());
    // A folder chosen again replaces the list and moves to the top.
    QVERIFY(run([&] { m_window->recentFolderChanged(2); }));
    QCOMPARE(order(m_window->files()), QStringLiteral("t0"));
    QCOMPARE(popupEntries(), (QStringList{QStringLiteral("Recent Folders..."), gone, other}));

    // A missing one asks for another; cancelling changes nothing.
    QVERIFY(QDir(gone).removeRecursively());
    m_window->recentFolderChanged(1);
    QCOMPARE(m_dialogs->panels.last().title, QStringLiteral("Choose folder(s):"));
    QCOMPARE(m_dialogs->panels.last().directory, gone);
    QCOMPARE(order(m_window->files()), QStringLiteral("t0"));
    m_dialogs->panelAnswers = {{1, {chosen}}};
    QVERIFY(run([&] { m_window->recentFolderChanged(1); }));
    QCOMPARE(order(m_window->files()), QStringLiteral("p0"));
    // The missing folder stays, just below the chosen one, also after a restart.
    const QStringList entries = {QStringLiteral("Recent Folders..."), chosen, gone, other};
    QCOMPARE(popupEntries(), entries);
    QCOMPARE(popup()->currentText(), chosen);
    QVERIFY(m_window->applicationShouldTerminate());
    makeWindow();
    QCOMPARE(popupEntries(), entries);
}

void TestMainWindow::stopDuringRun_data()
{
    QTest::addColumn<bool>("quit");
    QTest::newRow("cancel") << false;
    QTest::newRow("quit") << true;
}

void TestMainWindow::stopDuringRun()
{
    QFETCH(bool, quit);
    const QString dir = makeFolder(QStringLiteral("many"), 0, 200);
    int usages = 0;
    m_window->setUsageSink([&](const QString &, qint32) { ++usages; });
    QSignalSpy finished(&m_window->collectionRun(), &CollectionRun::finished);
    bool quitDone = false;
    connect(
        m_window.get(), &TallivoAppDelegate::pageTotalsUpdated, m_window.get(),
        [&] {
            if (!quit)
                return m_window->cancelAction();
            // Quitting from inside a run's step neither waits nor lets the
            // run finish.
            m_window->applicationShouldTerminate();
            m_window->shutdownRun();
            quitDone = true;
        },
        Qt::SingleShotConnection);
    m_dialogs->panelAnswers = {{1, {dir}}};
    m_window->addFolder();
    QTRY_VERIFY_WITH_TIMEOUT(quitDone || !finished.isEmpty(), 60000);
    QVERIFY(!m_window->collectionRun().isActive());
    if (quit) {
        QCOMPARE(usages, 0);
        // The folder chosen before the quit was stored.
        makeWindow();
        QCOMPARE(popupEntries().value(1), dir);
        return;
    }
    // What was listed before the cancel stays, and the window is usable.
    QVERIFY(m_window->files().size() >= 1 && m_window->files().size() < 200);
    QCOMPARE(m_window->model().rowCount(), m_window->files().size());
    QVERIFY(!label("labelTimeTaken").contains(QStringLiteral("In Process")));
    QCOMPARE(enabledSegments(), QStringLiteral("111111"));
}

void TestMainWindow::numericField_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, int tag, const char *text, const char *expected) {
        QTest::newRow(name) << tag << QString::fromUtf8(text) << QString::fromUtf8(expected);
    };
    row("letters", 30001, "abc", "2");
    row("zeros", 30001, "000", "2");
    row("trailing letter", 30001, "12x", "12");
    row("letter inside", 30001, "1x2", "1x2");
    row("zero then letter inside", 30001, "0x5", "2");
    row("leading zeros kept", 30001, "007", "007");
    row("huge number", 30001, "99999999999999999999", "99999999999999999999");
    row("empty", 30002, "", "1");
    row("blanks stripped", 30002, " 4 ", "4");
    row("other tag", 7, "abc", "abc");
}

void TestMainWindow::numericField()
{
    QFETCH(int, tag);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(numericFieldText(tag, text), expected);
}

void TestMainWindow::menuTitles()
{
    QMenuBar bar;
    QMenu *app = bar.addMenu(QStringLiteral("File"));
    QAction *quit = app->addAction(QStringLiteral("Quit Tallivo"));
    QAction *middle = app->addAction(QStringLiteral("About Tallivo Pro"));
    QMenu *window = bar.addMenu(QStringLiteral("&Window"));
    QAction *main = window->addAction(QStringLiteral("Tallivo Main Window"));
    QAction *ending = window->addAction(QStringLiteral("Show Tallivo"));
    QMenu *help = bar.addMenu(QStringLiteral("Help"));
    QAction *site = help->addAction(QStringLiteral("Tallivo Web Site"));

    renameMenuTitles(&bar, QStringLiteral("Tallivo"), QStringLiteral("Tallivo Lite"));
    QCOMPARE(quit->text(), QStringLiteral("Quit Tallivo Lite"));
    QCOMPARE(middle->text(), QStringLiteral("About Tallivo Pro"));
    QCOMPARE(main->text(), QStringLiteral("Tallivo Lite Main Window"));
    QCOMPARE(ending->text(), QStringLiteral("Show Tallivo"));
    QCOMPARE(site->text(), QStringLiteral("Tallivo Lite Web Site"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
