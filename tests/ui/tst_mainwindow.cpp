#include "buttonbar.h"
#include "fakes.h"
#include "fakeshare.h"
#include "fileactions.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "importfilesdialog.h"
#include "intake.h"
#include "listexporter.h"
#include "listhistory.h"
#include "mainwindow.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
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
using tallivo::test::order;

class TestMainWindow : public QObject, public test::WindowFixture
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
    void exportCheckedFiles();
    void recentFolders();
    void stopDuringRun_data();
    void stopDuringRun();
    void refusedDuringRun();
    void uncountedBesideStatusTexts();
    void escapeCancelsAfterMenu_data();
    void escapeCancelsAfterMenu();
    void undoEachCommand();
    void keyboard();
    void narrowWindow();
    void progressBesideIndicator();
    void missingRecentFolders();
    void launchedPathsWaitForRun();
    void focusStaysOffTheWebSiteDuringRun();
    void openingAFileAsksOffTheMainThread();
    void timeTaken_data();
    void timeTaken();

private:
    QString makeFolder(const QString &name, int tiffs, int pdfs);
    void addRows(const QStringList &paths);
    // Which of the six command segments are enabled, as "101100".
    QString enabledSegments() const;
    QStringList popupEntries() const;
};

void TestMainWindow::initTestCase()
{
    setUpEnvironment();
}

void TestMainWindow::init()
{
    resetEnvironment();
    makeWindow();
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
        test::appendFile(m_window->model(), path);
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
    QCOMPARE(enabledSegments(), QStringLiteral("101100"));
    ButtonBar *help = child<ButtonBar>("helpBar");
    QVERIFY(help->button(0)->isEnabled() && help->button(1)->isEnabled());
    QVERIFY(!segment(2)->isChecked());
    QVERIFY(table()->isEnabled());
    QCOMPARE(popupEntries().size(), 1); // the placeholder
    QCOMPARE(test::figures(label("timeTakenLabel")), QStringLiteral("00 00"));
    QCOMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("0 0"));
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
    test::appendFile(m_window->model(), QStringLiteral("/x/a.tif"), 4);
    test::appendFile(m_window->model(), QStringLiteral("/x/b.PDF"), 10);
    test::appendFile(m_window->model(), QStringLiteral("/x/c.tiff"), 2);
    table()->selectRows({0, 1});
    // Check boxes play no part in the totals, which follow once the edit is
    // done; the checked files have pages of their own.
    trigger("actionUncheckAll");
    QTRY_COMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("6 10"));
    // Files, selected, their pages by type; checked, their pages by type.
    QCOMPARE(test::figures(label("fileTotalsLabel")), QStringLiteral("3 2 4 10 0 0 0"));
    // Sorted: row 0 is c.tiff now, with 2 pages.
    m_window->model().sort(int(Column::Pages));
    trigger("actionCheckAll");
    QTRY_COMPARE(test::figures(label("fileTotalsLabel")), QStringLiteral("3 2 4 10 3 6 10"));
    m_window->model().setData(m_window->model().index(0, int(Column::Check)), Qt::Unchecked,
                              Qt::CheckStateRole);
    QTRY_COMPARE(test::figures(label("fileTotalsLabel")), QStringLiteral("3 2 4 10 2 4 10"));
    // Inverted, and the files taken off the list: the checked pages follow.
    trigger("actionInvertAll");
    QTRY_VERIFY(test::figures(label("fileTotalsLabel")).endsWith(QLatin1String(" 1 2 0")));
    table()->selectRows({0});
    trigger("actionRemoveSelected");
    QTRY_VERIFY(test::figures(label("fileTotalsLabel")).endsWith(QLatin1String(" 0 0 0")));
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
    QCOMPARE(m_dialogs->fileRequests.first().mode, FileDialogRequest::OpenFolders);
    // The table stays enabled, for reading.
    QCOMPARE(during, QStringLiteral("00000001"));
    QCOMPARE(enabledSegments(), QStringLiteral("111111"));
    QVERIFY(table()->isEnabled());
    QCOMPARE(m_window->model().rowCount(), 3);
    QCOMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("3 2"));
    QVERIFY(test::figures(label("timeTakenLabel")).startsWith(QStringLiteral("00 ")));
    QCOMPARE(popupEntries().value(1), dir);

    // Remove all asks first; then the segments follow the list's count.
    for (bool answer : {false, true}) {
        m_dialogs->messageAnswers = {answer};
        segment(5)->click();
        QCOMPARE(m_dialogs->messages.size(), answer ? 2 : 1);
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
    const auto add = [&] {
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
            QCOMPARE(m_dialogs->fileRequests.first().mode, FileDialogRequest::OpenFiles);
        }
    };
    if (via == QLatin1String("cancel")) {
        add();
        QVERIFY(!collectionRun().isActive());
    } else {
        QVERIFY(run(add));
    }
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
    // What is written is exportCheckedFiles's; here, the segment and the answer.
    addRows({QStringLiteral("/x/a.pdf")});
    const QString good = m_data->filePath(QStringLiteral("out.txt"));
    m_dialogs->fileAnswers = {{good}};
    QSignalSpy exported(&m_window->exporter(), &ListExporter::exported);
    segment(4)->click();
    QVERIFY(exported.wait());
    QCOMPARE(exported.first().first().toString(), good);
    QCOMPARE(m_dialogs->fileRequests.last().mode, FileDialogRequest::SaveFile);
    QVERIFY(m_dialogs->messages.isEmpty());

    // A destination that cannot be written is reported, not passed over.
    m_dialogs->fileAnswers = {{m_data->filePath(QStringLiteral("no/such/folder/out.txt"))}};
    trigger("actionExport");
    QTRY_COMPARE(m_dialogs->messages.size(), 1);
    QVERIFY(m_dialogs->messages.first().informativeText.contains(QStringLiteral("out.txt")));
}

void TestMainWindow::exportCheckedFiles()
{
    FileTableModel &model = m_window->model();
    // A name with a line break and a tab stays one line of the export.
    for (const char *name : {"a.tif", "b\nc.pdf", "d\te.tif", "f.pdf"})
        test::appendFile(model, QStringLiteral("/x/") + QLatin1String(name), 3);
    model.setChecked({1, 3}, FileTableModel::CheckChange::Uncheck);
    const auto exportTo = [&](const char *action, const QString &name) {
        const QString path = m_data->filePath(name);
        m_dialogs->fileAnswers = {{path}};
        QSignalSpy exported(&m_window->exporter(), &ListExporter::exported);
        trigger(action);
        [&] { QVERIFY(exported.wait()); }();
        QFile out(path);
        [&] { QVERIFY(out.open(QIODevice::ReadOnly)); }();
        return out.readAll().split('\n');
    };
    const QList<QByteArray> all = exportTo("actionExport", QStringLiteral("all.txt"));
    const QList<QByteArray> checked =
        exportTo("actionExportChecked", QStringLiteral("checked.txt"));
    // The whole list stays the whole list; the checked export is its header
    // and the lines of rows 0 and 2, byte for byte.
    QCOMPARE(all.size(), 6);
    QCOMPARE(checked, QList<QByteArray>({all[0], all[1], all[3], QByteArray()}));
    QVERIFY(checked[2].startsWith("d"));
    QCOMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("6 6"));
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
    QCOMPARE(popupEntries().mid(1), (QStringList{gone, other}));
    QCOMPARE(popup()->currentText(), gone);

    // A missing one asks for another; cancelling changes nothing, and the
    // pop-up shows its placeholder again, not the missing folder.
    QVERIFY(QDir(gone).removeRecursively());
    const qsizetype asked = m_dialogs->fileRequests.size();
    popup()->setCurrentIndex(1);
    Q_EMIT popup()->activated(1);
    QTRY_COMPARE(m_dialogs->fileRequests.size(), asked + 1);
    QCOMPARE(popup()->currentIndex(), 0);
    // The folder dialog says why it appears and makes no new folders.
    const FileDialogRequest request = m_dialogs->fileRequests.last();
    QCOMPARE(request.mode, FileDialogRequest::OpenFolders);
    QCOMPARE(request.directory, gone);
    QVERIFY(request.note.contains(gone) && request.note.contains(QStringLiteral("missing")));
    QVERIFY(!request.canCreateFolders);
    QCOMPARE(order(files()), QStringLiteral("t0"));
    m_dialogs->fileAnswers = {{chosen}};
    QVERIFY(run([&] { Q_EMIT popup()->activated(1); }));
    QCOMPARE(order(files()), QStringLiteral("p0"));
    // The missing folder stays, just below the chosen one, also after a restart.
    const QStringList entries = {chosen, gone, other};
    QCOMPARE(popupEntries().mid(1), entries);
    QCOMPARE(popup()->currentText(), chosen);
    m_window->prepareToQuit();
    makeWindow();
    QCOMPARE(popupEntries().mid(1), entries);
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
    // The last file waits, so the run is still going when it is stopped.
    test::FakeShare share;
    share.hang("/p199.pdf");
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
    // The time taken, not the word that the run goes on.
    QVERIFY(!test::figures(label("timeTakenLabel")).isEmpty());
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

void TestMainWindow::uncountedBesideStatusTexts()
{
    auto *uncounted = child<QToolButton>("uncountedButton");
    QVERIFY(uncounted->isHidden());
    FileTableModel &model = m_window->model();
    test::appendFile(model, QStringLiteral("/x/a.tif"), 4);
    test::appendFile(model, QStringLiteral("/x/b.pdf"), 0, 0,
                     [](FileItem &f) { f.setCountStatus(CountStatus::Locked); });
    test::appendFile(model, QStringLiteral("/x/c.pdf"), 0, 0,
                     [](FileItem &f) { f.setCountStatus(CountStatus::Damaged); });
    QVERIFY(!uncounted->isHidden());
    QCOMPARE(test::figures(uncounted->text()), QStringLiteral("2"));
    // The status texts count them as files, without pages.
    QTRY_COMPARE(test::figures(label("fileTotalsLabel")), QStringLiteral("3 0 0 0 3 4 0"));
    QCOMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("4 0"));
    // A click brings them together at the top.
    uncounted->click();
    QVERIFY(child<QAction>("actionUncountedFirst")->isChecked());
    QCOMPARE(order(files()), QStringLiteral("b c a"));
    table()->selectRows({0});
    trigger("actionRemoveSelected");
    QCOMPARE(test::figures(uncounted->text()), QStringLiteral("1"));
    trigger("actionRemoveSelected");
    QVERIFY(uncounted->isHidden());
}

void TestMainWindow::escapeCancelsAfterMenu_data()
{
    QTest::addColumn<QString>("menu");
    QTest::newRow("no menu") << "";
    QTest::newRow("menu bar") << "menuView";
    QTest::newRow("menu bar, keyboard") << "alt";
}

void TestMainWindow::escapeCancelsAfterMenu()
{
    QFETCH(QString, menu);
    QVERIFY(showActive());
    QSignalSpy cancelled(child<QAction>("actionCancel"), &QAction::triggered);
    // A run's first step, as far as the window can tell.
    m_window->presenter().resetView(false);
    const auto escape = [] {
        QWidget *target = QApplication::activePopupWidget();
        if (!target)
            target = QApplication::focusWidget();
        QVERIFY(target);
        QTest::keyClick(target, Qt::Key_Escape);
    };
    if (menu == QLatin1String("alt")) {
        QTest::keyClick(m_window->menuBar(), Qt::Key_V, Qt::AltModifier);

    } else if (!menu.isEmpty()) {
        QMenuBar *bar = m_window->menuBar();
        QMenu *view = child<QMenu>(menu.toLatin1().constData());
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(view->menuAction()).center());
    }
    if (!menu.isEmpty()) {
        QTRY_VERIFY(QApplication::activePopupWidget());
        // The first Esc closes the menu, and only that.
        escape();
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QCOMPARE(cancelled.size(), 0);
    }
    for (int i = 1; i <= 2; ++i) {
        escape();
        QCOMPARE(cancelled.size(), i);
    }
    m_window->presenter().resetView(true);
    escape();
    QCOMPARE(cancelled.size(), 2);
}

void TestMainWindow::undoEachCommand()
{
    const QString first = makeFolder(QStringLiteral("first"), 2, 1);
    const QString second = makeFolder(QStringLiteral("second"), 0, 1);
    m_dialogs->fileAnswers = {{first}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));
    popup()->add({second});
    m_window->model().sort(int(Column::Name));
    const QString listed = order(files());
    QCOMPARE(listed, QStringLiteral("p0 t0 t1"));
    auto *undo = child<QAction>("actionUndo");
    auto *redo = child<QAction>("actionRedo");
    QVERIFY(!undo->isEnabled());
    QCOMPARE(undo->shortcut(), QKeySequence(QKeySequence::Undo));

    m_dialogs->messageAnswers = {true};
    segment(5)->click();
    QCOMPARE(files().size(), 0);
    QCOMPARE(enabledSegments(), QStringLiteral("101100"));
    QVERIFY(undo->isEnabled());
    undo->trigger();
    QCOMPARE(order(files()), listed);
    QCOMPARE(enabledSegments(), QStringLiteral("111111"));
    QVERIFY(redo->isEnabled());

    // A recent folder replaces the list; undo brings the list back, redo
    // the folder's files. Undo rests while the run goes on.
    bool undoDuringRun = true;
    connect(
        &m_window->presenter(), &RunPresenter::totalsChanged, this,
        [&] { undoDuringRun = undo->isEnabled(); }, Qt::SingleShotConnection);
    QVERIFY(run([&] { Q_EMIT popup()->activated(popupEntries().indexOf(second)); }));
    QVERIFY(!undoDuringRun);
    QCOMPARE(order(files()), QStringLiteral("p0"));
    QVERIFY(undo->isEnabled());
    undo->trigger();
    m_window->model().sort(int(Column::Name));
    QCOMPARE(order(files()), listed);
    redo->trigger();
    QCOMPARE(order(files()), QStringLiteral("p0"));
    // Two steps back, one command at a time.
    table()->selectRows({0});
    trigger("actionRemoveSelected");
    QCOMPARE(files().size(), 0);
    undo->trigger();
    QCOMPARE(order(files()), QStringLiteral("p0"));
    undo->trigger();
    m_window->model().sort(int(Column::Name));
    QCOMPARE(order(files()), listed);
    QVERIFY(m_window->history().stack().count() <= ListHistory::kDepth);
}

void TestMainWindow::keyboard()
{
    QVERIFY(showActive());
    addRows({QStringLiteral("/k/a.pdf"), QStringLiteral("/k/b.pdf")});
    table()->setFocus();
    table()->setCurrentIndex(m_window->model().index(0, 1));
    // Tab goes on to the next control, not to the next cell.
    QTest::keyClick(table(), Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != table());
    QCOMPARE(table()->currentIndex().row(), 0);

    // Every command of the bars, the context menu and the table is in a menu.
    QSet<QAction *> inMenus;
    const std::function<void(QMenu *)> collect = [&](QMenu *menu) {
        Q_EMIT menu->aboutToShow();
        for (QAction *action : menu->actions()) {
            inMenus.insert(action);
            if (action->menu())
                collect(action->menu());
        }
    };
    for (QAction *top : m_window->menuBar()->actions())
        collect(top->menu());
    for (const char *name : {"commandBar", "helpBar"}) {
        auto *bar = child<ButtonBar>(name);
        for (int i = 0; bar->button(i); ++i)
            QVERIFY2(inMenus.contains(bar->button(i)->defaultAction()), name);
    }
    for (const char *name :
         {"actionOpen", "actionShowInFileManager", "actionProperties", "actionMoveUp", "actionUndo",
          "actionRedo", "actionPageSummary", "actionUncountedFirst", "actionClearRecent",
          "actionRemoveMissingRecent", "actionCancel", "actionAddFolder"})
        QVERIFY2(inMenus.contains(child<QAction>(name)), name);
}

void TestMainWindow::narrowWindow()
{
    m_window->resize(1240, 700);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto *bar = child<ButtonBar>("commandBar");
    QTRY_VERIFY(!bar->isCompact());
    QCOMPARE(segment(4)->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    // At the least width the captions give way to icons, with tooltips.
    m_window->resize(m_window->minimumSize());
    QTRY_VERIFY(bar->isCompact());
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(segment(i)->toolButtonStyle(), Qt::ToolButtonIconOnly);
        QVERIFY(!segment(i)->toolTip().isEmpty());
    }
    QVERIFY(bar->width() >= bar->minimumSizeHint().width());
    m_window->resize(1240, 700);
    QTRY_VERIFY(!bar->isCompact());
}

void TestMainWindow::progressBesideIndicator()
{
    m_window->resize(1240, 700);
    m_window->show();
    auto *progress = child<QLabel>("progressLabel");
    RunPresenter &presenter = m_window->presenter();
    presenter.resetView(false);
    presenter.processStarted();
    const QString folder =
        QStringLiteral("/srv/scans/") + QString(300, QLatin1Char('x')) + QStringLiteral("/2019-03");
    presenter.progress({12345, 12000, folder});
    const QString text = progress->text();
    QVERIFY2(test::figures(text).startsWith(QStringLiteral("12,345 0 ")), qPrintable(text));
    // Cut in the middle: the start and the folder's own name stay.
    QVERIFY2(text.contains(QStringLiteral("/srv/")) && text.endsWith(QStringLiteral("2019-03")),
             qPrintable(text));
    QVERIFY(text.size() < folder.size());
    QCOMPARE(progress->toolTip(), folder);
    QVERIFY(test::figures(label("timeTakenLabel")).isEmpty());
    presenter.processStopped(RunResult());
    presenter.resetView(true);
    QVERIFY(progress->text().isEmpty());
    // Late progress from a finished run shows nothing.
    presenter.progress({1, 1, folder});
    QVERIFY(progress->text().isEmpty());
}

void TestMainWindow::missingRecentFolders()
{
    const QString gone = makeFolder(QStringLiteral("gone"), 0, 0);
    const QString kept = makeFolder(QStringLiteral("kept"), 0, 0);
    popup()->add({gone, kept});
    QVERIFY(QDir(gone).removeRecursively());
    QSignalSpy removed(popup(), &RecentFoldersCombo::missingRemoved);
    trigger("actionRemoveMissingRecent");
    QVERIFY(removed.wait());
    QCOMPARE(removed.first().first().toInt(), 1);
    QCOMPARE(popupEntries().mid(1), QStringList{kept});
    // The menu lists the folders and the two commands.
    auto *menu = child<QMenu>("menuRecentFolders");
    Q_EMIT menu->aboutToShow();
    QCOMPARE(menu->actions().first()->toolTip(), kept);
    trigger("actionClearRecent");
    QCOMPARE(popupEntries().size(), 1);
    QVERIFY(!child<QAction>("actionClearRecent")->isEnabled());
    m_window->prepareToQuit();
    makeWindow();
    QCOMPARE(popupEntries().size(), 1);
}

void TestMainWindow::launchedPathsWaitForRun()
{
    const QString busy = makeFolder(QStringLiteral("busy"), 0, 30);
    const QString later = makeFolder(QStringLiteral("later"), 1, 0);
    // Paths handed over during a run are counted once it is over.
    connect(
        &m_window->presenter(), &RunPresenter::totalsChanged, this,
        [&] { m_window->openLaunched({QUrl::fromLocalFile(later)}); }, Qt::SingleShotConnection);
    QSignalSpy finished(&collectionRun(), &CollectionRun::finished);
    m_window->openLaunched({QUrl::fromLocalFile(busy)});
    QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 2, 60000);
    QCOMPARE(files().size(), 31);
    QCOMPARE(popupEntries().mid(1), (QStringList{later, busy}));
}

void TestMainWindow::focusStaysOffTheWebSiteDuringRun()
{
    QVERIFY(showActive());
    table()->setFocus();
    QTRY_VERIFY(table()->hasFocus());
    QWidget *during = nullptr;
    connect(
        &m_window->presenter(), &RunPresenter::totalsChanged, this,
        [&] { during = QApplication::focusWidget(); }, Qt::SingleShotConnection);
    m_dialogs->fileAnswers = {{makeFolder(QStringLiteral("focus"), 0, 20)}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));
    // Not the first control left enabled, where Space would open the web
    // site: the table keeps it, for reading, during the run and after.
    QVERIFY(during != child<ButtonBar>("helpBar")->button(0));
    QCOMPARE(during, table());
    QCOMPARE(QApplication::focusWidget(), table());
    // From a control that rests during a run, it goes to Cancel.
    segment(0)->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(segment(0)->hasFocus());
    connect(
        &m_window->presenter(), &RunPresenter::totalsChanged, this,
        [&] { during = QApplication::focusWidget(); }, Qt::SingleShotConnection);
    m_dialogs->fileAnswers = {{makeFolder(QStringLiteral("focus2"), 0, 20)}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));
    QCOMPARE(during, child<QPushButton>("cancelButton"));
}

void TestMainWindow::openingAFileAsksOffTheMainThread()
{
    // Whether the file is still there is asked before the launcher is: on
    // the I/O pool, as the file may be on a share that does not answer.
    SystemDesktop desktop;
    test::FakeShare hung;
    hung.hang("/share");
    QList<bool> answers;
    desktop.openUrl(QUrl::fromLocalFile(m_data->filePath(QStringLiteral("share/gone.pdf"))),
                    [&](bool opened) { answers << opened; });
    QTRY_VERIFY(hung.isHanging());
    QVERIFY(answers.isEmpty());
    QCOMPARE(hung.mainThreadVisits(), QList<QByteArray>());
    hung.release();
    // A file that has gone is not handed to the launcher.
    QTRY_COMPARE(answers, QList<bool>{false});
}

void TestMainWindow::timeTaken_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << "Total Time Taken : 00:00";
    QTest::newRow("59 s") << 59 << "Total Time Taken : 00:59";
    QTest::newRow("61 min 5 s") << 61 * 60 + 5 << "Total Time Taken : 01:01:05";
    QTest::newRow("25 h") << 25 * 3600 << "Total Time Taken : 25:00:00";
}

void TestMainWindow::timeTaken()
{
    QFETCH(int, seconds);
    const QDateTime start(QDate(2026, 3, 29), QTime(0, 30), Qt::LocalTime);
    // Fractions of a second are dropped.
    QTEST(timeTakenString(start, start.addSecs(seconds).addMSecs(999)), "text");
    QCOMPARE(timeTakenString(QDateTime(), start), QString());
    QCOMPARE(timeTakenString(start, QDateTime()), QString());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
