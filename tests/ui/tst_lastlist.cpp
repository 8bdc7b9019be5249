// The list kept between sessions: quitting during a run asks first, and the
// next start offers the list back as it was, without opening its files.

#include "fakes.h"
#include "fakeshare.h"
#include "fileitem.h"
#include "filetablemodel.h"
#include "iopool.h"
#include "mainwindow.h"
#include "runpresenter.h"
#include "samplefiles.h"

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

class TestLastList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void quitAsksAndListComesBack();
    void damagedListIsNotOffered();
    void longListComesBackInBlocks();
    void quitDoesNotWaitForAHungDataFolder();

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
    std::unique_ptr<MainWindow> makeWindow();
    // `count` made-up files, a thousand a folder; none exists.
    static std::vector<std::unique_ptr<FileItem>> madeUpFiles(int count, int firstPages = 1);
    QByteArray listBytes() const;
    void trigger(const char *action) const
    {
        m_window->findChild<QAction *>(QLatin1String(action))->trigger();
    }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_data;
    QByteArray m_listPath;
    test::FakeDialogs *m_dialogs = nullptr;
    std::unique_ptr<MainWindow> m_window;
};

void TestLastList::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QVERIFY(m_data.isValid());
    // A folder that is not there yet: the save makes it.
    m_listPath = QFile::encodeName(m_data.filePath(QStringLiteral("data/LastList.bin")));
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

std::unique_ptr<MainWindow> TestLastList::makeWindow()
{
    auto dialogs = std::make_unique<test::FakeDialogs>();
    m_dialogs = dialogs.get();
    auto window =
        std::make_unique<MainWindow>(std::move(dialogs), std::make_unique<test::FakeDesktop>());
    window->setLastListPath(m_listPath);
    return window;
}

void TestLastList::quitAsksAndListComesBack()
{
    const QString dir = m_data.filePath(QStringLiteral("box"));
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
        m_window = makeWindow();
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
        QCOMPARE(ask.text, QStringLiteral("Files are still being counted. Quit anyway?"));
        QCOMPARE(ask.acceptText, QStringLiteral("&Quit"));
        QCOMPARE(ask.rejectText, QStringLiteral("Cancel"));
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
    m_window = makeWindow();
    QSignalSpy offered(m_window.get(), &MainWindow::lastListOffered);
    m_dialogs->messageAnswers = {true};
    m_window->offerLastList();
    QTRY_COMPARE(offered.size(), 1);
    QCOMPARE(offered.first().first().toBool(), true);
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->messages.first().text,
             QStringLiteral("Restore the list of 11 files from the last session?"));
    QCOMPARE(m_dialogs->messages.first().acceptText, QStringLiteral("&Restore"));
    QCOMPARE(m_dialogs->messages.first().rejectText, QStringLiteral("&Discard"));
    QCOMPARE(rows(*m_window), kept);
    QVERIFY(!m_window->presenter().isBusy());
    // Kept again at the next quit.
    m_window->prepareToQuit();
    m_window.reset();

    // Quitting before the question is answered keeps the list for the next
    // start, not the empty list of this one.
    m_window = makeWindow();
    m_window->offerLastList();
    m_window->prepareToQuit();
    QVERIFY(QFile::exists(QFile::decodeName(m_listPath)));
    m_window.reset();

    // Discard leaves the list empty; quitting with an empty list keeps none.
    m_window = makeWindow();
    QSignalSpy discarded(m_window.get(), &MainWindow::lastListOffered);
    m_dialogs->messageAnswers = {false};
    m_window->offerLastList();
    QTRY_COMPARE(discarded.size(), 1);
    QCOMPARE(discarded.first().first().toBool(), false);
    QCOMPARE(m_window->model().rowCount(), 0);
    m_window->prepareToQuit();
    QVERIFY(!QFile::exists(QFile::decodeName(m_listPath)));
    m_window.reset();
}

void TestLastList::damagedListIsNotOffered()
{
    // A list cut short, and bytes of another file: neither is offered, in
    // part or whole.
    QVERIFY(QDir().mkpath(m_data.filePath(QStringLiteral("data"))));
    for (const QByteArray &bytes : {QByteArray("TLVLIST\n\x01\0\0\0", 12), QByteArray(64, 'x')}) {
        QVERIFY(test::writeBytes(QFile::decodeName(m_listPath), bytes));
        m_window = makeWindow();
        QSignalSpy offered(m_window.get(), &MainWindow::lastListOffered);
        m_window->offerLastList();
        QTRY_COMPARE(IoPool::instance().pending(), 0);
        QCoreApplication::processEvents();
        QVERIFY(offered.isEmpty());
        QVERIFY(m_dialogs->messages.isEmpty());
        QCOMPARE(m_window->model().rowCount(), 0);
        m_window.reset();
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

QByteArray TestLastList::listBytes() const
{
    QFile file(QFile::decodeName(m_listPath));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestLastList::longListComesBackInBlocks()
{
    // Kept off the main thread: the fake share notes any path the main
    // thread asks for.
    test::FakeShare share;
    m_window = makeWindow();
    m_window->model().appendFiles(madeUpFiles(45000));
    const QList<Row> kept = rows(*m_window);
    m_window->prepareToQuit();
    QVERIFY(!m_window->isVisible());
    QCOMPARE(share.mainThreadVisits(), QList<QByteArray>());
    const QByteArray bytes = listBytes();
    QVERIFY(!bytes.isEmpty());
    m_window.reset();

    // Restored a block at a time; quitting before the last block keeps the
    // whole list, not the part restored so far.
    m_window = makeWindow();
    QSignalSpy offered(m_window.get(), &MainWindow::lastListOffered);
    QSignalSpy blocks(&m_window->model(), &QAbstractItemModel::rowsInserted);
    int rowsAtQuit = -1;
    connect(
        &m_window->model(), &QAbstractItemModel::rowsInserted, m_window.get(),
        [&] {
            rowsAtQuit = m_window->model().rowCount();
            m_window->prepareToQuit();
        },
        Qt::SingleShotConnection);
    m_dialogs->messageAnswers = {true};
    m_window->offerLastList();
    QTRY_COMPARE(offered.size(), 1);
    QVERIFY(rowsAtQuit > 0 && rowsAtQuit < 45000);
    QCOMPARE(listBytes(), bytes);
    QVERIFY(blocks.size() > 1);
    QCOMPARE(rows(*m_window), kept);
    m_window.reset();
}

void TestLastList::quitDoesNotWaitForAHungDataFolder()
{
    m_window = makeWindow();
    m_window->model().appendFiles(madeUpFiles(3));
    m_window->prepareToQuit();
    const QByteArray old = listBytes();
    QVERIFY(!old.isEmpty());
    m_window.reset();

    test::FakeShare share;
    share.hang(QFile::encodeName(m_data.filePath(QStringLiteral("data"))));
    m_window = makeWindow();
    m_window->setQuitPatience(std::chrono::milliseconds(300));
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
    m_window = makeWindow();
    m_dialogs->messageAnswers = {true};
    QSignalSpy offered(m_window.get(), &MainWindow::lastListOffered);
    m_window->offerLastList();
    QTRY_COMPARE(offered.size(), 1);
    QCOMPARE(rows(*m_window), kept);
    m_window.reset();
}

QTEST_MAIN(TestLastList)
#include "tst_lastlist.moc"
