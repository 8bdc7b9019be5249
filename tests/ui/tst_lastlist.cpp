// The list kept between sessions: quitting during a run asks first, and the
// next start offers the list back as it was, without opening its files. A
// kept list is never lost: not replaced before it was offered, moved aside
// when it cannot be read.

#include "colourtolerance.h"
#include "fakes.h"
#include "fakeshare.h"
#include "fileitem.h"
#include "filetablemodel.h"
#include "iopool.h"
#include "lastlistkeeper.h"
#include "listsnapshot.h"
#include "mainwindow.h"
#include "pagetally.h"
#include "pdfworkers.h"
#include "reviewdialog.h"
#include "runpresenter.h"
#include "samplefiles.h"
#include "usagereporting.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tallivo;

namespace {

// Keeps each question open until the test answers it.
class HeldDialogs final : public test::FakeDialogs
{
public:
    QList<Answered> open;
    void showMessage(QWidget *, const MessageRequest &request, Answered answered) override
    {
        messages.append(request);
        open.append(std::move(answered));
    }
};

} // namespace

class TestLastList : public QObject, public test::WindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void quitAsksAndListComesBack();
    void unreadableListIsMovedAside_data();
    void unreadableListIsMovedAside();
    void restoreInBlocks_data();
    void restoreInBlocks();
    void quitDuringRestoreKeepsTheWholeList();
    void quitDoesNotWaitForAHungDataFolder();
    void listOfSeveralCommandsComesBack();
    void launchedPathsJoinTheKeptList_data();
    void launchedPathsJoinTheKeptList();
    void unofferedListIsNotReplaced();
    void reviewPromptWaitsForTheOffer();
    void quitReachesOverQuestions_data();
    void quitReachesOverQuestions();
    void coloursOfAnotherToleranceAreDropped_data();
    void coloursOfAnotherToleranceAreDropped();

private:
    struct Row
    {
        QByteArray path;
        qint32 pages;
        CountStatus status;
        bool checked;
        bool operator==(const Row &) const = default;
    };
    static QList<Row> rows(const MainWindow &window);
    static QList<Row> rows(const std::vector<std::unique_ptr<FileItem>> &files);
    // A window that keeps its list in the test's place.
    void openWindow(std::unique_ptr<test::FakeDialogs> dialogs = {});
    // A window whose kept list has been offered, answered with `answer`.
    void startWindow(bool answer = false);
    // `count` made-up files, a thousand a folder; none exists.
    static std::vector<std::unique_ptr<FileItem>> madeUpFiles(int count, int firstPages = 1);
    // Writes `files` as the kept list; returns its bytes.
    QByteArray keepList(const std::vector<std::unique_ptr<FileItem>> &files) const;
    QByteArray listBytes() const;
    QString listFile() const { return QFile::decodeName(m_listPath); }
    // Counts `paths` as a launch would, and waits for the run's end.
    void launch(const QStringList &paths, int rowsAfter) const;

    LastListKeeper &keeper() const { return m_window->lastList(); }

    QByteArray m_listPath;
};

void TestLastList::initTestCase()
{
    setUpEnvironment();
    QVERIFY(m_data->isValid());
    // A folder that is not there yet: the save makes it.
    m_listPath = QFile::encodeName(m_data->filePath(QStringLiteral("data/LastList.bin")));
}

void TestLastList::init()
{
    QVERIFY(QDir(m_data->filePath(QStringLiteral("data"))).removeRecursively());
}

void TestLastList::cleanup()
{
    m_window.reset();
}

QList<TestLastList::Row> TestLastList::rows(const MainWindow &window)
{
    QList<Row> out;
    const FileList &files = window.model().files();
    for (int i = 0; i < files.size(); ++i) {
        const FileItem *item = files.at(i);
        out.append({item->localPath(), item->pages(), item->countStatus(), item->isChecked()});
    }
    return out;
}

QList<TestLastList::Row> TestLastList::rows(const std::vector<std::unique_ptr<FileItem>> &files)
{
    QList<Row> out;
    for (const auto &item : files)
        out.append({item->localPath(), item->pages(), item->countStatus(), item->isChecked()});
    return out;
}

void TestLastList::openWindow(std::unique_ptr<test::FakeDialogs> dialogs)
{
    makeWindow(std::move(dialogs));
    keeper().setPath(m_listPath);
}

void TestLastList::startWindow(bool answer)
{
    openWindow();
    QSignalSpy settled(&keeper(), &LastListKeeper::settled);
    m_dialogs->messageAnswers = {answer};
    keeper().offer();
    settled.wait(60000);
    m_dialogs->messageAnswers.clear();
}

void TestLastList::launch(const QStringList &paths, int rowsAfter) const
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    m_window->openLaunched(urls);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->model().rowCount(), rowsAfter, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->presenter().isBusy(), 60000);
}

void TestLastList::quitAsksAndListComesBack()
{
    const QString dir = m_data->filePath(QStringLiteral("box"));
    QVERIFY(QDir().mkpath(dir));
    for (int i = 0; i < 6; ++i)
        QVERIFY(test::writeTiff(dir + QStringLiteral("/t%1.tif").arg(i), i + 1));
    for (int i = 0; i < 4; ++i)
        QVERIFY(test::writePdf(dir + QStringLiteral("/u%1.pdf").arg(i), 2 * i + 1));
    QVERIFY(test::writeBytes(dir + QStringLiteral("/v.pdf"), "not a pdf"));
    // The last file waits, so the run is still counting when Quit comes.
    QVERIFY(test::writeTiff(dir + QStringLiteral("/z.tif"), 1));
    QList<Row> kept;
    {
        test::FakeShare share;
        share.hang("/z.tif");
        startWindow();
        connect(qApp, &QCoreApplication::aboutToQuit, m_window.get(), &MainWindow::prepareToQuit);
        m_dialogs->fileAnswers = {{dir}};
        trigger("actionAddFolder");
        QTRY_COMPARE_WITH_TIMEOUT(m_window->model().rowCount(), 11, 60000);
        QVERIFY(m_window->presenter().isBusy());
        m_window->model().setChecked({2}, FileTableModel::CheckChange::Uncheck);

        // Cancel keeps the window and the run.
        m_dialogs->messageAnswers = {false};
        trigger("actionQuit");
        QCOMPARE(m_dialogs->messages.size(), 1);
        const MessageRequest ask = m_dialogs->messages.first();
        QCOMPARE(ask.icon, QMessageBox::Question);
        QVERIFY(!ask.rejectText.isEmpty());
        QVERIFY(m_window->presenter().isBusy());
        QVERIFY(!QFile::exists(QFile::decodeName(m_listPath)));

        // Quit, as the program does, through the event loop and its end.
        m_dialogs->messageAnswers = {true};
        QTimer::singleShot(0, m_window.get(), [this] { trigger("actionQuit"); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(m_dialogs->messages.size(), 2);
        QVERIFY(QFile::exists(QFile::decodeName(m_listPath)));
        kept = rows(*m_window);
        m_window.reset();
    }
    QCOMPARE(kept.size(), 11);
    QCOMPARE(std::count_if(kept.cbegin(), kept.cend(), [](const Row &r) { return !r.checked; }), 1);

    // The files are gone: what comes back is what was kept, not a new count.
    QVERIFY(QDir(dir).removeRecursively());
    openWindow();
    QSignalSpy offered(&keeper(), &LastListKeeper::offered);
    m_dialogs->messageAnswers = {true};
    keeper().offer();
    QTRY_COMPARE(offered.size(), 1);
    QCOMPARE(offered.first().first().toBool(), true);
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(test::figures(m_dialogs->messages.first().text), QStringLiteral("11"));
    QVERIFY(!m_dialogs->messages.first().rejectText.isEmpty());
    QCOMPARE(rows(*m_window), kept);
    QVERIFY(!m_window->presenter().isBusy());
    // Kept again at the next quit.
    m_window->prepareToQuit();
    m_window.reset();

    // Quitting before the question is answered keeps the list for the next
    // start, not the empty list of this one.
    openWindow();
    keeper().offer();
    m_window->prepareToQuit();
    QVERIFY(QFile::exists(QFile::decodeName(m_listPath)));
    m_window.reset();

    // Discard leaves the list empty; quitting with an empty list keeps none.
    openWindow();
    QSignalSpy discarded(&keeper(), &LastListKeeper::offered);
    m_dialogs->messageAnswers = {false};
    keeper().offer();
    QTRY_COMPARE(discarded.size(), 1);
    QCOMPARE(discarded.first().first().toBool(), false);
    QCOMPARE(m_window->model().rowCount(), 0);
    m_window->prepareToQuit();
    QVERIFY(!QFile::exists(QFile::decodeName(m_listPath)));
    m_window.reset();
}

void TestLastList::unreadableListIsMovedAside_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("earlier"); // a list was moved aside before
    const QByteArray good = listsnapshot::encode({});
    QByteArray flipped = good;
    flipped[14] = char(flipped[14] ^ 0x40);
    QTest::newRow("cut short") << good.chopped(1) << false;
    QTest::newRow("another file") << QByteArray(64, 'x') << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("a bit flipped") << flipped << false;
    // The first version had no checksum.
    QTest::newRow("earlier version")
        << QByteArray("TLVLIST\n\x01\0\0\0\0\0\0\0\0\0\0\0", 20) << false;
    QTest::newRow("second unreadable list") << QByteArray(64, 'y') << true;
}

void TestLastList::unreadableListIsMovedAside()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, earlier);
    QVERIFY(QDir().mkpath(m_data->filePath(QStringLiteral("data"))));
    QVERIFY(test::writeBytes(listFile(), bytes));
    const QString aside = listFile() + QStringLiteral(".unreadable");
    if (earlier)
        QVERIFY(test::writeBytes(aside, "earlier"));
    const QString movedTo = earlier ? aside + QStringLiteral(".2") : aside;

    openWindow();
    QSignalSpy offered(&keeper(), &LastListKeeper::offered);
    QSignalSpy settled(&keeper(), &LastListKeeper::settled);
    keeper().offer();
    QVERIFY(settled.wait(60000));
    // Not offered, in part or whole, and said in the window.
    QVERIFY(offered.isEmpty());
    QCOMPARE(m_window->model().rowCount(), 0);
    QCOMPARE(m_dialogs->messages.size(), 1);
    const MessageRequest note = m_dialogs->messages.first();
    QCOMPARE(note.icon, QMessageBox::Warning);
    QVERIFY2(note.informativeText.contains(QFileInfo(movedTo).fileName() + QChar(0x201d)),
             qPrintable(note.informativeText));
    QVERIFY(!QFile::exists(listFile()));
    QFile moved(movedTo);
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), bytes);
    moved.close();

    // This session's list is kept in its place; the ones moved aside stay.
    m_window->model().appendFiles(madeUpFiles(2));
    QVERIFY(keeper().save());
    QVERIFY(!listBytes().isEmpty());
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), bytes);
    if (earlier) {
        QFile first(aside);
        QVERIFY(first.open(QIODevice::ReadOnly));
        QCOMPARE(first.readAll(), QByteArray("earlier"));
    }
}

std::vector<std::unique_ptr<FileItem>> TestLastList::madeUpFiles(int count, int firstPages)
{
    std::vector<std::unique_ptr<FileItem>> files;
    Folder folder;
    for (int i = 0; i < count; ++i) {
        if (i % 1000 == 0)
            folder = makeFolder("/nowhere/box " + QByteArray::number(i / 1000));
        FileRecord record;
        record.folder = folder;
        record.name = "scan" + QByteArray::number(i) + ".tif";
        record.size = 1000 + i;
        record.pages = firstPages + i % 7;
        files.push_back(std::make_unique<FileItem>(std::move(record)));
    }
    return files;
}

QByteArray TestLastList::keepList(const std::vector<std::unique_ptr<FileItem>> &files) const
{
    std::vector<const FileItem *> list;
    for (const auto &file : files)
        list.push_back(file.get());
    const QByteArray bytes = listsnapshot::encode(list, {}, PdfWorkers::shared().colourMinArea());
    if (!QDir().mkpath(m_data->filePath(QStringLiteral("data"))) ||
        !test::writeBytes(listFile(), bytes))
        return {};
    return bytes;
}

QByteArray TestLastList::listBytes() const
{
    QFile file(QFile::decodeName(m_listPath));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Restored 20,000 files a turn of the event loop: at the edges of a block,
// every file comes back once, in its place.
void TestLastList::restoreInBlocks_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("blocks");
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("19,999") << 19999 << 1;
    QTest::newRow("20,000") << 20000 << 1;
    QTest::newRow("20,001") << 20001 << 2;
    QTest::newRow("40,001") << 40001 << 3;
}

void TestLastList::restoreInBlocks()
{
    QFETCH(int, files);
    QFETCH(int, blocks);
    const auto kept = madeUpFiles(files);
    const QByteArray bytes = keepList(kept);
    QVERIFY(!bytes.isEmpty());
    openWindow();
    QSignalSpy inserted(&m_window->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy offered(&keeper(), &LastListKeeper::offered);
    m_dialogs->messageAnswers = {true};
    keeper().offer();
    QTRY_COMPARE_WITH_TIMEOUT(offered.size(), 1, 60000);
    QCOMPARE(offered.first().first().toBool(), true);
    QCOMPARE(inserted.size(), blocks);
    for (int i = 0; i < blocks; ++i) {
        QCOMPARE(inserted.at(i).at(1).toInt(), i * 20000);
        QCOMPARE(inserted.at(i).at(2).toInt(), std::min(files, (i + 1) * 20000) - 1);
    }
    QCOMPARE(rows(*m_window), rows(kept));
    // Kept again as it was read.
    QVERIFY(keeper().save());
    QCOMPARE(listBytes(), bytes);
}

void TestLastList::quitDuringRestoreKeepsTheWholeList()
{
    // Kept off the main thread: the fake share notes any path the main
    // thread asks for.
    test::FakeShare share;
    startWindow();
    m_window->model().appendFiles(madeUpFiles(45000));
    const QList<Row> kept = rows(*m_window);
    m_window->prepareToQuit();
    QVERIFY(!m_window->isVisible());
    QCOMPARE(share.mainThreadVisits(), QList<QByteArray>());
    const QByteArray bytes = listBytes();
    QVERIFY(!bytes.isEmpty());
    m_window.reset();

    // Quitting before the last block keeps the whole list, not the part
    // restored so far.
    openWindow();
    QSignalSpy offered(&keeper(), &LastListKeeper::offered);
    int rowsAtQuit = -1;
    connect(
        &m_window->model(), &QAbstractItemModel::rowsInserted, m_window.get(),
        [&] {
            rowsAtQuit = m_window->model().rowCount();
            m_window->prepareToQuit();
        },
        Qt::SingleShotConnection);
    m_dialogs->messageAnswers = {true};
    keeper().offer();
    QTRY_COMPARE(offered.size(), 1);
    QVERIFY(rowsAtQuit > 0 && rowsAtQuit < 45000);
    QCOMPARE(listBytes(), bytes);
    QCOMPARE(rows(*m_window), kept);
    QCOMPARE(share.mainThreadVisits(), QList<QByteArray>());
}

void TestLastList::quitDoesNotWaitForAHungDataFolder()
{
    const QByteArray old = keepList(madeUpFiles(3));
    QVERIFY(!old.isEmpty());

    test::FakeShare share;
    startWindow(false);
    share.hang(QFile::encodeName(m_data->filePath(QStringLiteral("data"))));
    keeper().setQuitPatience(std::chrono::milliseconds(300));
    m_window->model().appendFiles(madeUpFiles(5, 10));
    const QList<Row> kept = rows(*m_window);
    m_window->prepareToQuit();
    QVERIFY(share.isHanging());
    // Given up on: the old list is still whole.
    QCOMPARE(listBytes(), old);
    m_window.reset();

    // The write was left behind, not lost: once the folder answers, the new
    // list replaces the old one whole.
    share.release();
    QTRY_VERIFY(listBytes() != old);
    openWindow();
    m_dialogs->messageAnswers = {true};
    QSignalSpy offered(&keeper(), &LastListKeeper::offered);
    keeper().offer();
    QTRY_COMPARE(offered.size(), 1);
    QCOMPARE(rows(*m_window), kept);
    m_window.reset();
}

// One folder's files added by several commands (launches, Add Files, a
// restore and more files after it) hold several records of that folder.
// The list kept of them comes back whole.
void TestLastList::listOfSeveralCommandsComesBack()
{
    const QString dir = m_data->filePath(QStringLiteral("day"));
    QVERIFY(QDir().mkpath(dir));
    QStringList paths;
    for (int i = 0; i < 5; ++i) {
        paths.append(dir + QStringLiteral("/s%1.tif").arg(i));
        QVERIFY(test::writeTiff(paths.last(), i + 1));
    }
    startWindow();
    launch({paths[0]}, 1);
    launch({paths[1]}, 2);
    m_dialogs->fileAnswers = {{paths[2]}};
    trigger("actionAddFiles");
    QTRY_COMPARE_WITH_TIMEOUT(m_window->model().rowCount(), 3, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->presenter().isBusy(), 60000);
    QVERIFY(keeper().save());
    m_window.reset();

    startWindow(true);
    QCOMPARE(m_window->model().rowCount(), 3);
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Question);
    launch({paths[3], paths[4]}, 5);
    const QList<Row> kept = rows(*m_window);
    QVERIFY(keeper().save());
    m_window.reset();

    startWindow(true);
    QCOMPARE(rows(*m_window), kept);
    QList<QByteArray> order;
    for (const Row &row : kept)
        order.append(row.path);
    QCOMPARE(order, QList<QByteArray>({QFile::encodeName(paths[0]), QFile::encodeName(paths[1]),
                                       QFile::encodeName(paths[2]), QFile::encodeName(paths[3]),
                                       QFile::encodeName(paths[4])}));
}

// `tallivo FILE` offers the kept list too: the file joins it when it is
// restored, and is the list when it is discarded.
void TestLastList::launchedPathsJoinTheKeptList_data()
{
    QTest::addColumn<bool>("restore");
    QTest::newRow("restored") << true;
    QTest::newRow("discarded") << false;
}

void TestLastList::launchedPathsJoinTheKeptList()
{
    QFETCH(bool, restore);
    const auto keptFiles = madeUpFiles(3);
    QVERIFY(!keepList(keptFiles).isEmpty());
    const QString path = m_data->filePath(QStringLiteral("given.tif"));
    QVERIFY(test::writeTiff(path, 4));

    auto held = std::make_unique<HeldDialogs>();
    HeldDialogs *dialogs = held.get();
    openWindow(std::move(held));
    QSignalSpy settled(&keeper(), &LastListKeeper::settled);
    m_window->start({QUrl::fromLocalFile(path)});
    // The given file waits for the answer.
    QTRY_COMPARE_WITH_TIMEOUT(dialogs->open.size(), 1, 60000);
    QCOMPARE(dialogs->messages.first().icon, QMessageBox::Question);
    QVERIFY(!m_window->presenter().isBusy());
    QCOMPARE(m_window->model().rowCount(), 0);
    dialogs->open.takeFirst()(restore);
    QTRY_COMPARE(settled.size(), 1);
    QList<Row> expected = restore ? rows(keptFiles) : QList<Row>();
    expected.append({QFile::encodeName(path), 4, CountStatus::Counted, true});
    QTRY_COMPARE_WITH_TIMEOUT(m_window->model().rowCount(), int(expected.size()), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->presenter().isBusy(), 60000);
    QCOMPARE(rows(*m_window), expected);
    m_window->prepareToQuit();
    m_window.reset();

    startWindow(true);
    QCOMPARE(rows(*m_window), expected);
}

// A kept list is replaced only by a session that offered it.
void TestLastList::unofferedListIsNotReplaced()
{
    const QByteArray bytes = keepList(madeUpFiles(100));
    QVERIFY(!bytes.isEmpty());
    const QString path = m_data->filePath(QStringLiteral("one.tif"));
    QVERIFY(test::writeTiff(path, 1));
    openWindow();
    launch({path}, 1);
    m_window->prepareToQuit();
    QCOMPARE(listBytes(), bytes);
}

// One question at a time at start: the review prompt waits until the kept
// list's question is answered, as the program wires it.
void TestLastList::reviewPromptWaitsForTheOffer()
{
    QVERIFY(!keepList(madeUpFiles(2)).isEmpty());
    QTemporaryDir usageDir;
    auto held = std::make_unique<HeldDialogs>();
    HeldDialogs *dialogs = held.get();
    openWindow(std::move(held));
    UsageReporting usages(m_window.get(), usageDir.path());
    usages.applyStartupSettings();
    usages.counters().updateUsages(QString::fromLatin1(OutputFilesFeature), 5000);
    connect(
        &keeper(), &LastListKeeper::settled, &usages, [&usages] { usages.showReviewPromptIfDue(); },
        Qt::SingleShotConnection);
    QSignalSpy settled(&keeper(), &LastListKeeper::settled);
    keeper().offer();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs->open.size(), 1, 60000);
    QCoreApplication::processEvents();
    QVERIFY(settled.isEmpty());
    QVERIFY(!usages.reviewDialog());
    dialogs->open.takeFirst()(true);
    QTRY_COMPARE(settled.size(), 1);
    QVERIFY(usages.reviewDialog() && usages.reviewDialog()->isVisible());
    QCOMPARE(m_window->model().rowCount(), 2);
    usages.reviewDialog()->reject();
}

// Ctrl+Q quits while a question is open over the window; a kept list not
// yet answered for stays.
void TestLastList::quitReachesOverQuestions_data()
{
    QTest::addColumn<bool>("review");
    QTest::newRow("review prompt") << true;
    QTest::newRow("restore question") << false;
}

void TestLastList::quitReachesOverQuestions()
{
    QFETCH(bool, review);
    const QByteArray bytes = keepList(madeUpFiles(2));
    QVERIFY(!bytes.isEmpty());
    QTemporaryDir usageDir;
    // The real dialogs.
    m_window = std::make_unique<MainWindow>(nullptr, std::make_unique<test::FakeDesktop>());
    keeper().setPath(m_listPath);
    connect(qApp, &QCoreApplication::aboutToQuit, m_window.get(), &MainWindow::prepareToQuit);
    UsageReporting usages(m_window.get(), usageDir.path());
    m_window->show();
    if (review)
        usages.showReviewPrompt();
    else
        keeper().offer();
    QTimer press;
    press.setInterval(10);
    connect(&press, &QTimer::timeout, this, [&press] {
        QWidget *question = QApplication::activeModalWidget();
        if (!question || !question->isVisible())
            return;
        press.stop();
        QTest::keyClick(question, Qt::Key_Q, Qt::ControlModifier);
    });
    press.start();
    // Not a measure of time: a window that never quits must not hang the test.
    QTimer stuck;
    stuck.setSingleShot(true);
    connect(&stuck, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    stuck.start(60000);
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(listBytes(), bytes);
}

// A PDF's colours kept under another colour tolerance than the one set
// now come back unread, to be read again; a TIFF's do not depend on it.
void TestLastList::coloursOfAnotherToleranceAreDropped_data()
{
    QTest::addColumn<double>("kept");
    QTest::addColumn<double>("now");
    QTest::addColumn<bool>("dropped");
    QTest::newRow("same") << 20.0 << 20.0 << false;
    QTest::newRow("other") << 20.0 << 5.0 << true;
    QTest::newRow("not recorded") << 0.0 << 5.0 << true;
}

void TestLastList::coloursOfAnotherToleranceAreDropped()
{
    QFETCH(double, kept);
    QFETCH(double, now);
    QFETCH(bool, dropped);
    std::vector<std::unique_ptr<FileItem>> files;
    for (const char *name : {"logo.pdf", "scan.tif"}) {
        FileRecord record;
        record.folder = makeFolder("/nowhere");
        record.name = name;
        record.pages = 1;
        files.push_back(std::make_unique<FileItem>(std::move(record)));
        files.back()->setPageSummary(PageSummary::fromPages({{210, 297, ColourClass::Colour}}, 1));
    }
    std::vector<const FileItem *> list{files[0].get(), files[1].get()};
    QVERIFY(QDir().mkpath(m_data->filePath(QStringLiteral("data"))));
    QVERIFY(test::writeBytes(listFile(), listsnapshot::encode(list, {}, kept)));
    openWindow();
    PdfWorkers::shared().setColourMinArea(now);
    QSignalSpy offered(&keeper(), &LastListKeeper::offered);
    m_dialogs->messageAnswers = {true};
    keeper().offer();
    QTRY_COMPARE(offered.size(), 1);
    const FileList &back = m_window->model().files();
    QCOMPARE(back.size(), 2);
    QCOMPARE(PageTally::lacksDetails(*back.at(0)), dropped);
    QVERIFY(!PageTally::lacksDetails(*back.at(1)));
    QCOMPARE(back.tally().withoutDetails(), dropped ? 1 : 0);
    // Kept again under the tolerance it now stands for.
    QVERIFY(keeper().save());
    double again = 0;
    std::vector<std::unique_ptr<FileItem>> read;
    QVERIFY(listsnapshot::decode(listBytes(), &read, nullptr, nullptr, &again));
    QCOMPARE(again, now);
    // Kept halfway through dropping colours, it stands for no tolerance.
    m_window->model().dropPdfDetails();
    QVERIFY(m_window->model().isDroppingDetails());
    QVERIFY(keeper().save());
    QVERIFY(listsnapshot::decode(listBytes(), &read, nullptr, nullptr, &again));
    QCOMPARE(again, 0.0);
    PdfWorkers::shared().setColourMinArea(kDefaultColourMinArea);
}

QTEST_MAIN(TestLastList)
#include "tst_lastlist.moc"
