#include "customtableview.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "importfilesdialog.h"
#include "samplefiles.h"
#include "segmentedcontrol.h"
#include "tallivoappdelegate.h"

#include <QComboBox>
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
using tallivo::test::FakeDesktop;
using tallivo::test::FakeDialogs;

namespace {

// Which of the six command segments are enabled, as "101100".
QString enabledSegments(const TallivoAppDelegate &w)
{
    QString out;
    for (int i = 0; i < 6; ++i)
        out += w.filesFoldersSegmented()->isSegmentEnabled(i) ? QLatin1Char('1') : QLatin1Char('0');
    return out;
}

QString labelText(const TallivoAppDelegate &w, const char *name)
{
    const auto *label = w.findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

QStringList popupEntries(const TallivoAppDelegate &w)
{
    QStringList out;
    const auto *popup = w.findChild<QComboBox *>(QStringLiteral("recentFoldersPopup"));
    for (int i = 0; i < popup->count(); ++i)
        out << popup->itemText(i);
    return out;
}

QStringList listedNames(TallivoAppDelegate &w)
{
    QStringList out;
    for (int i = 0; i < w.files().size(); ++i)
        out << w.files().at(i)->name();
    return out;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startUpState();
    void includeSubfoldersSurvivesRestart();
    void statusTexts();
    void segmentsBeforeDuringAfterRun();
    void addFiles_data();
    void addFiles();
    void cancelledPanelStartsNothing();
    void dropAddsToTheList();
    void removeAllFollowsTheAnswer_data();
    void removeAllFollowsTheAnswer();
    void doubleClickFallsBackToFolder();
    void exportWritesOrReportsFailure();
    void recentFolderReplacesList();
    void missingRecentFolderAsksForAnother();
    void recentFoldersSurviveRestart();
    void cancelKeepsWhatWasAdded();
    void quitDuringRunEndsCleanly();
    void importStartsFileRun();

private:
    std::unique_ptr<TallivoAppDelegate> makeWindow();
    bool runAndWait(const std::function<void()> &start);
    QString makeFolder(const QString &name, int tiffs, int pdfs);

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_data;
    FakeDialogs *m_dialogs = nullptr;
    FakeDesktop *m_desktop = nullptr;
    std::unique_ptr<TallivoAppDelegate> m_window;
};

void TestMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TestMainWindow::init()
{
    QSettings(QStringLiteral("Kelmarin"), QStringLiteral("Tallivo")).clear();
    m_data = std::make_unique<QTemporaryDir>();
    m_window = makeWindow();
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    m_data.reset();
}

std::unique_ptr<TallivoAppDelegate> TestMainWindow::makeWindow()
{
    auto dialogs = std::make_unique<FakeDialogs>();
    auto desktop = std::make_unique<FakeDesktop>();
    m_dialogs = dialogs.get();
    m_desktop = desktop.get();
    return std::make_unique<TallivoAppDelegate>(std::move(dialogs), std::move(desktop));
}

bool TestMainWindow::runAndWait(const std::function<void()> &start)
{
    QSignalSpy finished(&m_window->collectionRun(), &CollectionRun::finished);
    start();
    return finished.wait(60000);
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

void TestMainWindow::startUpState()
{
    TallivoAppDelegate &w = *m_window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tallivo"));
    QCOMPARE(enabledSegments(w), QStringLiteral("101100"));
    QVERIFY(w.helpSegmented()->isSegmentEnabled(0));
    QVERIFY(w.helpSegmented()->isSegmentEnabled(1));
    QVERIFY(!w.filesFoldersSegmented()->isSelected(TallivoAppDelegate::IncludeSubfoldersSegment));
    QVERIFY(w.mainTableView()->isEnabled());
    QCOMPARE(w.mainTableView()->contextMenu(), w.filesContextMenu());
    QCOMPARE(w.model().columnCount(), 9);
    QCOMPARE(popupEntries(w), QStringList{QStringLiteral("Recent Folders...")});
    QCOMPARE(labelText(w, "labelTimeTaken"), QStringLiteral("Total Time Taken : 00:00"));
    QCOMPARE(labelText(w, "labelTotalTIFFPages"), QStringLiteral("Total Pages TIFF : 0 PDF : 0"));
    QCOMPARE(labelText(w, "labelTotalFiles"),
             QStringLiteral("0 Total file(s); 0 file selected; Total page count of selected "
                            "TIFF file(s) : 0 PDF file(s) : 0"));
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("loadingIndicator"))->isHidden());
    QVERIFY(w.findChild<QPushButton *>(QStringLiteral("cancelBtn"))->isHidden());
}

void TestMainWindow::includeSubfoldersSurvivesRestart()
{
    m_window->filesFoldersSegmented()
        ->segment(TallivoAppDelegate::IncludeSubfoldersSegment)
        ->click();
    QVERIFY(m_window->inculdeSubfolders());
    QVERIFY(m_window->filesFoldersSegmented()->isSelected(2));

    m_window = makeWindow();
    QVERIFY(m_window->inculdeSubfolders());
    QVERIFY(m_window->filesFoldersSegmented()->isSelected(2));
    // Twice returns to where it started.
    m_window->filesFoldersSegmentedChanged(TallivoAppDelegate::IncludeSubfoldersSegment);
    QVERIFY(!m_window->inculdeSubfolders());
    QVERIFY(!m_window->filesFoldersSegmented()->isSelected(2));
    QVERIFY(!QSettings(QStringLiteral("Kelmarin"), QStringLiteral("Tallivo"))
                 .value(QStringLiteral("INCLUDESUBFOLDERS"))
                 .toBool());
}

void TestMainWindow::statusTexts()
{
    TallivoAppDelegate &w = *m_window;
    w.files().append(
        std::make_unique<FileItem>(QUrl::fromLocalFile(QStringLiteral("/x/a.tif")), 4, 0));
    w.files().append(
        std::make_unique<FileItem>(QUrl::fromLocalFile(QStringLiteral("/x/b.PDF")), 10, 0));
    w.files().append(
        std::make_unique<FileItem>(QUrl::fromLocalFile(QStringLiteral("/x/c.tiff")), 2, 0));
    w.files().append(
        std::make_unique<FileItem>(QUrl::fromLocalFile(QStringLiteral("/x/d.jpg")), 9, 0));
    w.model().syncRows();
    QItemSelectionModel *selection = w.mainTableView()->selectionModel();
    for (int row : {0, 1, 3})
        selection->select(w.model().index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(labelText(w, "labelTotalTIFFPages"), QStringLiteral("Total Pages TIFF : 6 PDF : 10"));
    QCOMPARE(labelText(w, "labelTotalFiles"),
             QStringLiteral("4 Total file(s); 3 file selected; Total page count of selected "
                            "TIFF file(s) : 4 PDF file(s) : 10"));
    // Check boxes play no part in the totals.
    w.model().setData(w.model().index(0, FileTableModel::CheckColumn), Qt::Unchecked,
                      Qt::CheckStateRole);
    QCOMPARE(labelText(w, "labelTotalTIFFPages"), QStringLiteral("Total Pages TIFF : 6 PDF : 10"));
    w.selectDeselectRemoveAll(1);
    QVERIFY(labelText(w, "labelTotalFiles")
                .startsWith(QStringLiteral("4 Total file(s); 4 file selected; Total page count of "
                                           "selected TIFF file(s) : 6 PDF file(s) : 10")));
}

void TestMainWindow::segmentsBeforeDuringAfterRun()
{
    const QString dir = makeFolder(QStringLiteral("scans"), 2, 1);
    QString during;
    bool popupDuring = true, tableDuring = true;
    QString feature;
    qint32 total = -1;
    m_window->setUsageSink([&](const QString &f, qint32 n) {
        // Called at the end of the run, before the controls come back.
        during = enabledSegments(*m_window);
        popupDuring =
            m_window->findChild<QComboBox *>(QStringLiteral("recentFoldersPopup"))->isEnabled();
        tableDuring = m_window->mainTableView()->isEnabled();
        feature = f;
        total = n;
    });
    m_dialogs->panelAnswers = {{1, {dir}}};
    QVERIFY(runAndWait([&] { m_window->addFolder(); }));
    QCOMPARE(m_dialogs->panels.first().title,
             QStringLiteral("Select folder(s) contains TIFF and PDF File(s):"));
    QCOMPARE(during, QStringLiteral("000000"));
    QVERIFY(!popupDuring);
    QVERIFY(!tableDuring);
    QCOMPARE(feature, QStringLiteral("Output Files"));
    QCOMPARE(total, 3);
    QCOMPARE(enabledSegments(*m_window), QStringLiteral("111111"));
    QVERIFY(m_window->mainTableView()->isEnabled());
    QCOMPARE(m_window->model().rowCount(), 3);
    QCOMPARE(labelText(*m_window, "labelTotalTIFFPages"),
             QStringLiteral("Total Pages TIFF : 3 PDF : 2"));
    QVERIFY(labelText(*m_window, "labelTimeTaken")
                .startsWith(QStringLiteral("Total Time Taken : 00:")));
    QCOMPARE(popupEntries(*m_window).value(1), dir);
}

void TestMainWindow::addFiles_data()
{
    QTest::addColumn<bool>("subfolders");
    QTest::addColumn<QStringList>("expected");
    // Without subfolders the chosen files are taken as they are; with them
    // the run is a folder walk that keeps to the allowed types.
    QTest::newRow("files") << false
                           << QStringList{QStringLiteral("notes.txt"), QStringLiteral("p0.pdf")};
    QTest::newRow("with subfolders") << true << QStringList{QStringLiteral("p0.pdf")};
}

void TestMainWindow::addFiles()
{
    QFETCH(bool, subfolders);
    QFETCH(QStringList, expected);
    const QString dir = makeFolder(QStringLiteral("f"), 0, 1);
    m_window->setInculdeSubfolders(subfolders);
    m_dialogs->panelAnswers = {
        {1, {dir + QStringLiteral("/p0.pdf"), dir + QStringLiteral("/notes.txt")}}};
    QVERIFY(runAndWait([&] { m_window->filesFoldersSegmentedChanged(0); }));
    QCOMPARE(m_dialogs->panels.first().title, QStringLiteral("Select TIFF and PDF File(s):"));
    m_window->model().sort(FileTableModel::NameColumn);
    QCOMPARE(listedNames(*m_window), expected);
    // No folder was chosen, so none is remembered.
    QCOMPARE(popupEntries(*m_window).size(), 1);
}

void TestMainWindow::cancelledPanelStartsNothing()
{
    const QString dir = makeFolder(QStringLiteral("c"), 1, 0);
    m_dialogs->panelAnswers = {{0, {dir}}};
    m_window->addFolder();
    QVERIFY(!m_window->collectionRun().isActive());
    QCOMPARE(popupEntries(*m_window).size(), 1);
    QVERIFY(m_window->files().isEmpty());
}

void TestMainWindow::dropAddsToTheList()
{
    const QString dir = makeFolder(QStringLiteral("dropped"), 1, 1);
    const QString loose = m_data->filePath(QStringLiteral("loose.pdf"));
    QVERIFY(test::writePdf(loose, 3));
    m_window->files().append(
        std::make_unique<FileItem>(QUrl::fromLocalFile(QStringLiteral("/old/keep.pdf")), 1, 0));
    m_window->model().syncRows();
    QVERIFY(runAndWait([&] {
        Q_EMIT m_window->mainTableView()->filesDropped(
            {QUrl::fromLocalFile(dir), QUrl::fromLocalFile(loose)});
    }));
    m_window->model().sort(FileTableModel::NameColumn);
    QCOMPARE(listedNames(*m_window),
             (QStringList{QStringLiteral("keep.pdf"), QStringLiteral("loose.pdf"),
                          QStringLiteral("p0.pdf"), QStringLiteral("t0.tif")}));
    // Only the folder is remembered.
    QCOMPARE(popupEntries(*m_window), (QStringList{QStringLiteral("Recent Folders..."), dir}));
}

void TestMainWindow::removeAllFollowsTheAnswer_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("segments");
    QTest::newRow("no") << 0 << 2 << "111111";
    QTest::newRow("yes") << 1 << 0 << "101100";
}

void TestMainWindow::removeAllFollowsTheAnswer()
{
    QFETCH(int, answer);
    QFETCH(int, rows);
    QFETCH(QString, segments);
    const QString dir = makeFolder(QStringLiteral("r"), 1, 1);
    m_dialogs->panelAnswers = {{1, {dir}}};
    QVERIFY(runAndWait([&] { m_window->addFolder(); }));
    m_dialogs->alertAnswers = {answer};
    m_window->filesFoldersSegmented()->segment(TallivoAppDelegate::RemoveAllSegment)->click();
    QCOMPARE(m_dialogs->alerts.size(), 1);
    QCOMPARE(m_window->files().size(), rows);
    QCOMPARE(m_window->model().rowCount(), rows);
    QCOMPARE(enabledSegments(*m_window), segments);
}

void TestMainWindow::doubleClickFallsBackToFolder()
{
    m_window->files().append(
        std::make_unique<FileItem>(QUrl::fromLocalFile(QStringLiteral("/gone/x.pdf")), 1, 0));
    m_window->model().syncRows();
    m_desktop->canOpen = false;
    m_desktop->fileManagerAnswers = false;
    m_window->fileDoubleClicked(QModelIndex());
    QVERIFY(m_desktop->opened.isEmpty());
    m_window->fileDoubleClicked(m_window->model().index(0, FileTableModel::NameColumn));
    QCOMPARE(m_desktop->opened, (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/gone/x.pdf")),
                                             QUrl::fromLocalFile(QStringLiteral("/gone"))}));
}

void TestMainWindow::exportWritesOrReportsFailure()
{
    const QString dir = makeFolder(QStringLiteral("e"), 1, 0);
    m_dialogs->panelAnswers = {{1, {dir}}};
    QVERIFY(runAndWait([&] { m_window->addFolder(); }));

    const QString good = m_data->filePath(QStringLiteral("out.txt"));
    m_dialogs->panelAnswers = {{1, {good}}};
    m_window->filesFoldersSegmented()->segment(TallivoAppDelegate::ExportSegment)->click();
    const PanelRequest &panel = m_dialogs->panels.last();
    QCOMPARE(panel.kind, PanelRequest::SaveFile);
    QCOMPARE(panel.title, QStringLiteral("Export List To Tab Delimited Text File :"));
    QVERIFY(panel.suggestedName.startsWith(QStringLiteral("Export ")));
    QVERIFY(panel.suggestedName.endsWith(QStringLiteral(".txt")));
    QFile out(good);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = out.readAll().split('\n');
    QCOMPARE(lines.first(),
             QByteArray(
                 "Name\tPages\tSize\tType\tModified Date\tAccessed Date\tCreated Date\tLocation"));
    QVERIFY(lines.at(1).startsWith("t0.tif\t1\t"));
    QVERIFY(m_dialogs->alerts.isEmpty());

    // A destination that cannot be written is reported, not passed over.
    m_dialogs->panelAnswers = {{1, {m_data->filePath(QStringLiteral("no/such/folder/out.txt"))}}};
    m_window->exportAction();
    QCOMPARE(m_dialogs->alerts.size(), 1);
    QVERIFY(m_dialogs->alerts.first().informativeText.contains(QStringLiteral("out.txt")));

    // Cancelling writes nothing and says nothing.
    m_dialogs->panelAnswers = {{0, {m_data->filePath(QStringLiteral("never.txt"))}}};
    m_window->exportAction();
    QVERIFY(!QFile::exists(m_data->filePath(QStringLiteral("never.txt"))));
    QCOMPARE(m_dialogs->alerts.size(), 1);
}

void TestMainWindow::recentFolderReplacesList()
{
    const QString first = makeFolder(QStringLiteral("first"), 1, 0);
    const QString second = makeFolder(QStringLiteral("second"), 0, 2);
    m_dialogs->panelAnswers = {{1, {first}}};
    QVERIFY(runAndWait([&] { m_window->addFolder(); }));
    QTest::qWait(5); // a later moment for the second folder's date
    m_dialogs->panelAnswers = {{1, {second}}};
    QVERIFY(runAndWait([&] { m_window->addFolder(); }));
    QCOMPARE(m_window->files().size(), 3);
    QCOMPARE(popupEntries(*m_window),
             (QStringList{QStringLiteral("Recent Folders..."), second, first}));

    m_window->recentFolderChanged(0);
    QVERIFY(!m_window->collectionRun().isActive());
    QVERIFY(runAndWait([&] { m_window->recentFolderChanged(2); }));
    QCOMPARE(listedNames(*m_window), QStringList{QStringLiteral("t0.tif")});
    QCOMPARE(popupEntries(*m_window),
             (QStringList{QStringLiteral("Recent Folders..."), first, second}));
    QCOMPARE(m_window->findChild<QComboBox *>(QStringLiteral("recentFoldersPopup"))->currentText(),
             first);
}

void TestMainWindow::missingRecentFolderAsksForAnother()
{
    const QString gone = makeFolder(QStringLiteral("gone"), 1, 0);
    const QString other = makeFolder(QStringLiteral("other"), 0, 1);
    m_window->addRecentItem({gone});
    QVERIFY(QDir(gone).removeRecursively());
    m_window->files().append(
        std::make_unique<FileItem>(QUrl::fromLocalFile(QStringLiteral("/old/keep.pdf")), 1, 0));
    m_window->model().syncRows();

    m_dialogs->panelAnswers = {{0, {}}};
    m_window->recentFolderChanged(1);
    QCOMPARE(m_dialogs->panels.last().title, QStringLiteral("Choose folder(s):"));
    QCOMPARE(m_dialogs->panels.last().directory, gone);
    QCOMPARE(m_window->files().size(), 1);

    m_dialogs->panelAnswers = {{1, {other}}};
    QVERIFY(runAndWait([&] { m_window->recentFolderChanged(1); }));
    QCOMPARE(listedNames(*m_window), QStringList{QStringLiteral("p0.pdf")});
    // The missing folder stays, just below the chosen one.
    QCOMPARE(popupEntries(*m_window),
             (QStringList{QStringLiteral("Recent Folders..."), other, gone}));
}

void TestMainWindow::recentFoldersSurviveRestart()
{
    const QString a = makeFolder(QStringLiteral("a"), 0, 0);
    const QString b = makeFolder(QStringLiteral("b"), 0, 0);
    m_window->addRecentItem({a});
    QTest::qWait(5);
    m_window->addRecentItem({b});
    const QStringList before = popupEntries(*m_window);
    QVERIFY(m_window->applicationShouldTerminate());
    m_window = makeWindow();
    QCOMPARE(popupEntries(*m_window), before);
}

void TestMainWindow::cancelKeepsWhatWasAdded()
{
    const QString dir = makeFolder(QStringLiteral("many"), 0, 200);
    connect(
        m_window.get(), &TallivoAppDelegate::pageTotalsUpdated, m_window.get(),
        [this] { m_window->cancelAction(); }, Qt::SingleShotConnection);
    m_dialogs->panelAnswers = {{1, {dir}}};
    QVERIFY(runAndWait([&] { m_window->addFolder(); }));
    const int listed = m_window->files().size();
    QVERIFY(listed >= 1);
    QVERIFY(listed < 200);
    QCOMPARE(m_window->model().rowCount(), listed);
    QVERIFY(!labelText(*m_window, "labelTimeTaken").contains(QStringLiteral("In Process")));
    QCOMPARE(enabledSegments(*m_window), QStringLiteral("111111"));
}

void TestMainWindow::quitDuringRunEndsCleanly()
{
    const QString dir = makeFolder(QStringLiteral("quit"), 0, 200);
    m_window->setUsageSink([](const QString &, qint32) { QFAIL("a quit run reports no usage"); });
    bool stopped = false;
    connect(
        m_window.get(), &TallivoAppDelegate::pageTotalsUpdated, m_window.get(),
        [&] {
            // As a quit does: from the event loop, not inside a run's step.
            QTimer::singleShot(0, m_window.get(), [&] {
                m_window->applicationShouldTerminate();
                m_window->shutdownRun();
                stopped = true;
            });
        },
        Qt::SingleShotConnection);
    m_dialogs->panelAnswers = {{1, {dir}}};
    m_window->addFolder();
    QTRY_VERIFY_WITH_TIMEOUT(stopped, 60000);
    QVERIFY(!m_window->collectionRun().isActive());
    // The folder chosen before the quit was stored.
    QCOMPARE(QSettings(QStringLiteral("Kelmarin"), QStringLiteral("Tallivo"))
                 .value(QStringLiteral("RECENTITEMS"))
                 .toList()
                 .size(),
             1);
    m_window.reset();
}

void TestMainWindow::importStartsFileRun()
{
    const QString dir = makeFolder(QStringLiteral("i"), 1, 0);
    m_window->show();
    m_window->importAction();
    ImportFilesDialog *dialog = m_window->importFilesPanel();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    // Listed as given, without a folder walk's type filter.
    QVERIFY(runAndWait([&] {
        Q_EMIT dialog->filesImported({QUrl::fromLocalFile(dir + QStringLiteral("/notes.txt")),
                                      QUrl::fromLocalFile(dir + QStringLiteral("/t0.tif"))});
    }));
    QCOMPARE(m_window->files().size(), 2);
    QCOMPARE(popupEntries(*m_window).size(), 1);
    dialog->close();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
