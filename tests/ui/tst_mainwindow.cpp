#include "buttonbar.h"
#include "fakes.h"
#include "fileactions.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "importfilesdialog.h"
#include "intake.h"
#include "mainwindow.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"
#include "samplefiles.h"

#include <QAction>
#include <QDir>
#include <QLabel>
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
    void refusedDuringRun();

private:
    void makeWindow();
    bool run(const std::function<void()> &start);
    QString makeFolder(const QString &name, int tiffs, int pdfs);
    void addRows(const QStringList &paths);
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void trigger(const char *action) const { child<QAction>(action)->trigger(); }
    FileTableView *table() const { return child<FileTableView>("fileTable"); }
    QToolButton *segment(int index) const { return child<ButtonBar>("commandBar")->button(index); }
    // Which of the six command segments are enabled, as "101100".
    QString enabledSegments() const;
    QString label(const char *name) const { return child<QLabel>(name)->text(); }
    RecentFoldersCombo *popup() const { return child<RecentFoldersCombo>("recentFolders"); }
    QStringList popupEntries() const;
    CollectionRun &collectionRun() const { return m_window->presenter().run(); }
    const FileList &files() const { return m_window->model().files(); }

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_data;
    test::FakeDialogs *m_dialogs = nullptr;
    test::FakeDesktop *m_desktop = nullptr;
    std::unique_ptr<MainWindow> m_window;
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
    m_window = std::make_unique<MainWindow>(std::move(dialogs), std::move(desktop));
}

// Runs whatever start() begins to its end; true when nothing was begun.
bool TestMainWindow::run(const std::function<void()> &start)
{
    QSignalSpy finished(&collectionRun(), &CollectionRun::finished);
    start();
    return !finished.isEmpty() || !collectionRun().isActive() || finished.wait(60000);
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

// Lists files that need not exist, as a run would.
void TestMainWindow::addRows(const QStringList &paths)
{
    for (const QString &path : paths)
        addItem(m_window->model().runList(), path);
    m_window->model().syncRows();
}

QString TestMainWindow::enabledSegments() const
{
    QString out;
    for (int i = 0; i < 6; ++i)
        out += segment(i)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
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
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Tallivo"));
    QCOMPARE(enabledSegments(), QStringLiteral("101100"));
    ButtonBar *help = child<ButtonBar>("helpBar");
    QVERIFY(help->button(0)->isEnabled() && help->button(1)->isEnabled());
    QVERIFY(!segment(2)->isChecked());
    QVERIFY(table()->isEnabled());
    QCOMPARE(popupEntries(), QStringList{QStringLiteral("Recent Folders...")});
    QCOMPARE(label("timeTakenLabel"), QStringLiteral("Total Time Taken : 00:00"));
    QCOMPARE(label("pageTotalsLabel"), QStringLiteral("Total Pages TIFF : 0 PDF : 0"));
    QCOMPARE(label("fileTotalsLabel"),
             QStringLiteral("0 Total file(s); 0 file selected; Total page count of selected "
                            "TIFF file(s) : 0 PDF file(s) : 0"));
    QVERIFY(child<QWidget>("busyIndicator")->isHidden());
    QVERIFY(child<QPushButton>("cancelButton")->isHidden());
}

void TestMainWindow::includeSubfoldersSurvivesRestart()
{
    for (bool expected : {true, false}) {
        segment(2)->click();
        // The menu entry and the segment are one action.
        QCOMPARE(child<QAction>("actionIncludeSubfolders")->isChecked(), expected);
        makeWindow();
        QCOMPARE(m_window->intake().includeSubfolders(), expected);
        QCOMPARE(segment(2)->isChecked(), expected);
    }
}

void TestMainWindow::statusTexts()
{
    addItem(m_window->model().runList(), QStringLiteral("/x/a.tif"), 4);
    addItem(m_window->model().runList(), QStringLiteral("/x/b.PDF"), 10);
    addItem(m_window->model().runList(), QStringLiteral("/x/c.tiff"), 2);
    m_window->model().syncRows();
    table()->selectRows({0, 1});
    // Check boxes play no part in the totals, which follow once the edit is
    // done.
    trigger("actionUncheckAll");
    QTRY_COMPARE(label("pageTotalsLabel"), QStringLiteral("Total Pages TIFF : 6 PDF : 10"));
    QCOMPARE(label("fileTotalsLabel"),
             QStringLiteral("3 Total file(s); 2 file selected; Total page count of selected "
                            "TIFF file(s) : 4 PDF file(s) : 10"));
    // Sorted, the selected rows hold other files, and their totals follow.
    m_window->model().sort(int(Column::Pages));
    QTRY_COMPARE(label("fileTotalsLabel"),
                 QStringLiteral("3 Total file(s); 2 file selected; Total page count of selected "
                                "TIFF file(s) : 6 PDF file(s) : 0"));
}

void TestMainWindow::segmentsBeforeDuringAfterRun()
{
    const QString dir = makeFolder(QStringLiteral("scans"), 2, 1);
    QString during; // the segments, the pop-up and the table
    connect(&m_window->presenter(), &RunPresenter::runFinished, this, [&](int fileCount) {
        // Signalled at the end of the run, before the controls come back.
        during = enabledSegments() + QString::number(popup()->isEnabled()) +
                 QString::number(table()->isEnabled());
        QCOMPARE(fileCount, 3);
    });
    m_dialogs->fileAnswers = {{dir}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));
    QCOMPARE(m_dialogs->fileRequests.first().caption,
             QStringLiteral("Select folder(s) contains TIFF and PDF File(s):"));
    QCOMPARE(during, QStringLiteral("00000000"));
    QCOMPARE(enabledSegments(), QStringLiteral("111111"));
    QVERIFY(table()->isEnabled());
    QCOMPARE(m_window->model().rowCount(), 3);
    QCOMPARE(label("pageTotalsLabel"), QStringLiteral("Total Pages TIFF : 3 PDF : 2"));
    QVERIFY(label("timeTakenLabel").startsWith(QStringLiteral("Total Time Taken : 00:")));
    QCOMPARE(popupEntries().value(1), dir);

    // Remove all asks first; then the segments follow the list's count.
    for (bool answer : {false, true}) {
        m_dialogs->messageAnswers = {answer};
        segment(5)->click();
        QCOMPARE(m_dialogs->messages.last().informativeText,
                 QStringLiteral("Are you sure to remove all file(s)?"));
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
    QTest::newRow("cancelled dialog") << "cancel" << QStringList{"f"} << "keep" << false;
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
    addRows({QStringLiteral("/old/keep.pdf")});
    m_window->intake().setIncludeSubfolders(via == QLatin1String("files+sub"));
    if (via != QLatin1String("cancel"))
        m_dialogs->fileAnswers = {paths};
    QVERIFY(run([&] {
        if (via == QLatin1String("drop")) {
            Q_EMIT table()->filesDropped(urls);
        } else if (via == QLatin1String("import")) {
            m_window->show();
            segment(3)->click();
            ImportFilesDialog *dialog = m_window->intake().importDialog();
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->windowModality(), Qt::WindowModal);
            Q_EMIT dialog->filesImported(urls);
            dialog->close();
        } else if (via == QLatin1String("cancel")) {
            trigger("actionAddFolder");
        } else {
            segment(0)->click();
            QCOMPARE(m_dialogs->fileRequests.first().caption,
                     QStringLiteral("Select TIFF and PDF File(s):"));
        }
    }));
    m_window->model().sort(int(Column::Name));
    QCOMPARE(order(files()), listed);
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
    row("open goes on after a failure", "actionOpen", false, true, "",
        "/a/y.pdf|/b/scan 1.tif|/b/z.pdf");
    // Each folder once, in the order of the files.
    row("show, no file manager", "actionShowInFileManager", true, false, "ShowItems", "/a|/b");
    row("properties, no file manager", "actionProperties", true, false, "ShowItemProperties",
        "/a|/b");
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
    addRows(
        {QStringLiteral("/a/y.pdf"), QStringLiteral("/b/scan 1.tif"), QStringLiteral("/b/z.pdf")});
    table()->selectAll();
    // Blanks travel percent-encoded, as file URIs must.
    QStringList uris = {QStringLiteral("file:///a/y.pdf"), QStringLiteral("file:///b/scan%201.tif"),
                        QStringLiteral("file:///b/z.pdf")};
    if (action == QLatin1String("double")) {
        // Nothing for no row or the check box; the row's file otherwise.
        FileActions *actions = m_window->findChild<FileActions *>();
        const FileTableModel &model = m_window->model();
        actions->openRow(QModelIndex());
        actions->openRow(model.index(1, int(Column::Check)));
        Q_EMIT table()->doubleClicked(model.index(1, int(Column::Name)));
        uris = uris.mid(1, 1);
    } else {
        trigger(action.toLatin1().constData());
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
    m_dialogs->fileAnswers = {{makeFolder(QStringLiteral("e"), 1, 0)}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));

    const QString good = m_data->filePath(QStringLiteral("out.txt"));
    m_dialogs->fileAnswers = {{good}};
    segment(4)->click();
    QCOMPARE(m_dialogs->fileRequests.last().mode, FileDialogRequest::SaveFile);
    QCOMPARE(m_dialogs->fileRequests.last().caption,
             QStringLiteral("Export List To Tab Delimited Text File :"));
    QFile out(good);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QVERIFY(out.readAll().contains("\nt0.tif\t1\t"));
    QVERIFY(m_dialogs->messages.isEmpty());

    // A destination that cannot be written is reported, not passed over.
    m_dialogs->fileAnswers = {{m_data->filePath(QStringLiteral("no/such/folder/out.txt"))}};
    trigger("actionExport");
    QCOMPARE(m_dialogs->messages.size(), 1);
    QVERIFY(m_dialogs->messages.first().informativeText.contains(QStringLiteral("out.txt")));
}

void TestMainWindow::recentFolders()
{
    const QString gone = makeFolder(QStringLiteral("gone"), 1, 0);
    const QString other = makeFolder(QStringLiteral("other"), 0, 0);
    const QString chosen = makeFolder(QStringLiteral("chosen"), 0, 1);
    popup()->add({gone});
    QTest::qWait(5); // a later moment for the second folder's date
    popup()->add({other});
    addRows({QStringLiteral("/old/keep.pdf")});
    Q_EMIT popup()->activated(0);
    QVERIFY(!collectionRun().isActive());
    // A folder chosen again replaces the list and moves to the top.
    QVERIFY(run([&] { Q_EMIT popup()->activated(2); }));
    QCOMPARE(order(files()), QStringLiteral("t0"));
    QCOMPARE(popupEntries(), (QStringList{QStringLiteral("Recent Folders..."), gone, other}));
    QCOMPARE(popup()->currentText(), gone);

    // A missing one asks for another; cancelling changes nothing.
    QVERIFY(QDir(gone).removeRecursively());
    Q_EMIT popup()->activated(1);
    QCOMPARE(m_dialogs->fileRequests.last().caption, QStringLiteral("Choose folder(s):"));
    QCOMPARE(m_dialogs->fileRequests.last().directory, gone);
    QCOMPARE(order(files()), QStringLiteral("t0"));
    m_dialogs->fileAnswers = {{chosen}};
    QVERIFY(run([&] { Q_EMIT popup()->activated(1); }));
    QCOMPARE(order(files()), QStringLiteral("p0"));
    // The missing folder stays, just below the chosen one, also after a restart.
    const QStringList entries = {QStringLiteral("Recent Folders..."), chosen, gone, other};
    QCOMPARE(popupEntries(), entries);
    QCOMPARE(popup()->currentText(), chosen);
    m_window->prepareToQuit();
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
    int finishedRuns = 0;
    connect(&m_window->presenter(), &RunPresenter::runFinished, this, [&] { ++finishedRuns; });
    QSignalSpy finished(&collectionRun(), &CollectionRun::finished);
    bool quitDone = false;
    connect(
        &m_window->presenter(), &RunPresenter::totalsChanged, m_window.get(),
        [&] {
            if (!quit)
                return child<QPushButton>("cancelButton")->click();
            // Quitting from inside a run's step neither waits nor lets the
            // run finish.
            m_window->prepareToQuit();
            quitDone = true;
        },
        Qt::SingleShotConnection);
    m_dialogs->fileAnswers = {{dir}};
    trigger("actionAddFolder");
    QTRY_VERIFY_WITH_TIMEOUT(quitDone || !finished.isEmpty(), 60000);
    QVERIFY(!collectionRun().isActive());
    if (quit) {
        QCOMPARE(finishedRuns, 0);
        // The folder chosen before the quit was stored.
        makeWindow();
        QCOMPARE(popupEntries().value(1), dir);
        return;
    }
    // What was listed before the cancel stays, and the window is usable.
    QVERIFY(files().size() >= 1 && files().size() < 200);
    QCOMPARE(m_window->model().rowCount(), files().size());
    QVERIFY(!label("timeTakenLabel").contains(QStringLiteral("In Process")));
    QCOMPARE(enabledSegments(), QStringLiteral("111111"));
}

void TestMainWindow::refusedDuringRun()
{
    const QString dir = makeFolder(QStringLiteral("many"), 0, 50);
    const QString other = makeFolder(QStringLiteral("other"), 1, 0);
    popup()->add({other});
    Intake &intake = m_window->intake();
    // While the first run counts, nothing else may start or change the list.
    connect(
        &m_window->presenter(), &RunPresenter::totalsChanged, m_window.get(),
        [&] {
            m_dialogs->fileAnswers = {{other}, {other}};
            intake.addFiles();
            intake.addFolders();
            intake.addDropped({QUrl::fromLocalFile(other)});
            intake.openRecent(other);
            intake.importList();
        },
        Qt::SingleShotConnection);
    m_dialogs->fileAnswers = {{dir}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));
    QCOMPARE(m_dialogs->fileRequests.size(), 1);
    QVERIFY(!intake.importDialog());
    QCOMPARE(files().size(), 50);
    QCOMPARE(popupEntries().value(1), dir);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
