#include "collectionrun.h"
#include "localpath.h"
#include "nullrunhost.h"
#include "samplefiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>

using namespace tallivo;

namespace {

// Records what the run asks of the window, and checks it is asked on the
// main thread.
class FakeHost : public RunHost
{
public:
    explicit FakeHost(FileList &files)
        : files(files)
    {
    }
    void resetView(bool enable) override { note(enable ? "normal" : "busy"); }
    void processStarted() override { note("start"); }
    void updateTotalPagesLabel() override
    {
        note("total");
        totalsSeen << files.totals().tiffPages + files.totals().pdfPages;
        if (onTotal)
            onTotal();
    }
    void sortFiles() override
    {
        note("sort");
        files.sort({{Column::Name, false}});
    }
    void processStopped() override { note("stop"); }

    void note(const char *what)
    {
        if (QThread::currentThread() != qApp->thread())
            offMainThread = true;
        calls << QString::fromLatin1(what);
    }
    QString sequence() const
    {
        QStringList squeezed;
        for (const QString &c : calls) {
            if (c == QLatin1String("total") && !squeezed.isEmpty() && squeezed.last().startsWith(c))
                squeezed.last() = QStringLiteral("total*");
            else
                squeezed << c;
        }
        return squeezed.join(QLatin1Char(' '));
    }

    FileList &files;
    QStringList calls;
    QList<int> totalsSeen;
    bool offMainThread = false;
    std::function<void()> onTotal;
};

} // namespace

class TestCollectionRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void sequenceAndOrder();
    void secondRunAddsNothing();
    void cancelStopsBeforeNextFile();
    void badEntriesAreListedNotFatal();
    void shutdownDuringRunNeverTouchesHost();
    void walkOrderWithReadsOutOfOrder();
    void listedFilesAreNeverOpenedAgain();
    void cancelWhileTheShareHangs_data();
    void cancelWhileTheShareHangs();
    void unreadableFoldersAreReported();
    void timeTaken_data();
    void timeTaken();

private:
    bool runAndWait(CollectionRun &run, std::optional<Arguments> args);
    QTemporaryDir m_dir;
    Arguments m_args;
};

void TestCollectionRun::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir().mkpath(m_dir.filePath(QStringLiteral("sub")));
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
        if (i % 2)
            QVERIFY(test::writeTiff(m_dir.filePath(name + QStringLiteral(".tif")), 1 + i % 3));
        else
            QVERIFY(test::writePdf(
                m_dir.filePath(QStringLiteral("sub/") + name + QStringLiteral(".pdf")), 2));
    }
    test::writeBytes(m_dir.filePath(QStringLiteral("notes.txt")), "x");
    m_args = Arguments{{QUrl::fromLocalFile(m_dir.path())}, true, true};
}

bool TestCollectionRun::runAndWait(CollectionRun &run, std::optional<Arguments> args)
{
    QSignalSpy done(&run, &CollectionRun::finished);
    if (!run.start(std::move(args)))
        return false;
    return done.wait(60000);
}

void TestCollectionRun::sequenceAndOrder()
{
    FileList files;
    FakeHost host(files);
    CollectionRun run(files, host);
    QSignalSpy done(&run, &CollectionRun::finished);
    QVERIFY(run.start(m_args));
    QVERIFY(run.isActive());
    QVERIFY(!run.start(m_args)); // one run at a time
    QVERIFY(done.wait(60000));
    QVERIFY(!run.isActive());
    QVERIFY(!host.offMainThread);
    QCOMPARE(host.sequence(), QStringLiteral("busy start total* sort stop normal"));
    QCOMPARE(host.calls.count(QStringLiteral("total")), 40);
    QCOMPARE(files.size(), 40);
    // Totals grew by one file at a time.
    for (qsizetype i = 1; i < host.totalsSeen.size(); ++i)
        QVERIFY(host.totalsSeen[i] > host.totalsSeen[i - 1]);
    QCOMPARE(files.totals().pdfPages, 40);
    QCOMPARE(files.totals().tiffPages, 1 * 7 + 2 * 7 + 3 * 6);
    // Sorted by the host after the walk (names descending).
    QCOMPARE(files.at(0)->name(), QStringLiteral("f39.tif"));
    QVERIFY(!run.isProcessing());
    QVERIFY(run.startTime().isValid() && run.endTime() >= run.startTime());
}

void TestCollectionRun::secondRunAddsNothing()
{
    FileList files;
    FakeHost host(files);
    CollectionRun run(files, host);
    QVERIFY(runAndWait(run, m_args));
    host.calls.clear();
    QVERIFY(runAndWait(run, m_args));
    QCOMPARE(host.sequence(), QStringLiteral("busy start stop normal"));
    QCOMPARE(files.size(), 40);

    // Files walk: duplicates in one run are offered once.
    const QUrl extra = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("notes.txt")));
    host.calls.clear();
    QVERIFY(runAndWait(run, Arguments{{extra, extra}, false, false}));
    QCOMPARE(host.sequence(), QStringLiteral("busy start total sort stop normal"));
    QCOMPARE(files.size(), 41);

    // No arguments at all: still the whole start and end sequence.
    host.calls.clear();
    QVERIFY(runAndWait(run, std::nullopt));
    QCOMPARE(host.sequence(), QStringLiteral("busy start stop normal"));
}

void TestCollectionRun::cancelStopsBeforeNextFile()
{
    FileList files;
    FakeHost host(files);
    CollectionRun run(files, host);
    // A cancel given before the run has started has no effect on it.
    run.cancel();
    host.onTotal = [&] {
        if (files.size() == 5)
            run.cancel();
    };
    QVERIFY(runAndWait(run, m_args));
    QCOMPARE(files.size(), 5);
    QCOMPARE(host.sequence(), QStringLiteral("busy start total* sort stop normal"));

    // A cancel given as soon as the run is asked for is not lost.
    files.clear();
    host.calls.clear();
    host.onTotal = nullptr;
    QSignalSpy done(&run, &CollectionRun::finished);
    QVERIFY(run.start(m_args));
    run.cancel();
    QVERIFY(done.wait(60000));
    QCOMPARE(files.size(), 0);
    QCOMPARE(host.sequence(), QStringLiteral("busy start stop normal"));
}

void TestCollectionRun::badEntriesAreListedNotFatal()
{
    QTemporaryDir dir;
    auto at = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    QVERIFY(::mkfifo(QFile::encodeName(at("scan.pdf")).constData(), 0600) == 0);
    QVERIFY(test::writeBytes(at("empty.tif"), QByteArray()));
    QVERIFY(test::writeBytes(at("cut.pdf"), test::pdfBytes(3).left(30)));
    QVERIFY(test::writeBytes(at("text.TIF"), "not an image"));
    QVERIFY(QFile::link(at("nowhere.tif"), at("dangling.tif")));
    QVERIFY(test::writeTiff(at("ok.tiff"), 2));
    // A file that goes away between the walk and its count.
    QVERIFY(test::writeTiff(at("vanishing.tif"), 1));

    FileList files;
    FakeHost host(files);
    CollectionRun run(files, host);
    host.onTotal = [&] { QFile::remove(at("vanishing.tif")); };
    QVERIFY(runAndWait(run, Arguments{{QUrl::fromLocalFile(dir.path())}, true, false}));
    QCOMPARE(files.size(), 7);
    QHash<QString, int> pages;
    for (int i = 0; i < files.size(); ++i)
        pages.insert(files.at(i)->name(), files.at(i)->pages());
    QCOMPARE(pages.value(QStringLiteral("ok.tiff")), 2);
    QCOMPARE(pages.value(QStringLiteral("scan.pdf"), -1), 0);
    QCOMPARE(pages.value(QStringLiteral("dangling.tif"), -1), 0);

    // Sizes from 2 GiB up are what they are.
    const QString big = at("huge.tif");
    QFile f(big);
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (::posix_fallocate(f.handle(), 0, (qint64(1) << 31) + 4096) != 0)
        QSKIP("no room for a 2 GiB file here");
    f.close();
    auto item = FileItem::create(QUrl::fromLocalFile(big));
    QFile::remove(big);
    QVERIFY(item->size() >= (qint64(1) << 31) + 4096);
    QCOMPARE(item->sizeInKB(), QStringLiteral(" 2.1 GB"));
    QCOMPARE(item->pages(), 0);
}

void TestCollectionRun::shutdownDuringRunNeverTouchesHost()
{
    FileList files;
    auto host = std::make_unique<FakeHost>(files);
    CollectionRun run(files, *host);
    bool shutDown = false;
    int sizeAtShutdown = -1;
    host->onTotal = [&] {
        // As when the application quits mid-run, from inside a run's step.
        if (files.size() == 3) {
            sizeAtShutdown = files.size();
            run.shutdown();
            shutDown = true;
        }
    };
    QVERIFY(run.start(m_args));
    QTRY_VERIFY_WITH_TIMEOUT(shutDown, 60000);
    QVERIFY(sizeAtShutdown >= 3);
    QCOMPARE(files.size(), sizeAtShutdown);
    QCOMPARE(host->sequence(), QStringLiteral("busy start total*"));
    host.reset();
    QCoreApplication::processEvents();
    QVERIFY(!run.isActive());
    QVERIFY(!run.start(m_args)); // no new runs after shutdown
}

namespace {

// A share that answers slowly, in no particular order, or not at all until
// told: installed as the I/O hook for the life of the object.
class FakeShare
{
public:
    FakeShare()
    {
        // The state outlives the object: a thread may still be on its way
        // out of the hook.
        testing::setIoHook([state = m_state](const QByteArray &path) { state->visit(path); });
    }
    ~FakeShare()
    {
        testing::setIoHook({});
        release();
    }

    // Paths containing `part` wait until release().
    void hang(const QByteArray &part)
    {
        std::lock_guard lock(m_state->mutex);
        m_state->hang = part;
    }
    void release()
    {
        std::lock_guard lock(m_state->mutex);
        m_state->hang.clear();
        m_state->released.notify_all();
    }
    bool isHanging()
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->hanging > 0;
    }
    int visits(const QByteArray &path)
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->visits.value(path);
    }
    void scramble() { m_state->scramble = true; }

private:
    struct State
    {
        void visit(const QByteArray &path)
        {
            if (scramble)
                QThread::usleep(qHash(path) % 3000);
            std::unique_lock lock(mutex);
            ++visits[path];
            if (!hang.isEmpty() && path.contains(hang)) {
                ++hanging;
                released.wait(lock, [&] { return hang.isEmpty(); });
                --hanging;
            }
        }
        std::atomic_bool scramble{false};
        std::mutex mutex;
        std::condition_variable released;
        QByteArray hang;
        int hanging = 0;
        QHash<QByteArray, int> visits;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

QStringList names(const FileList &files)
{
    QStringList list;
    for (int i = 0; i < files.size(); ++i)
        list << files.at(i)->localPath();
    return list;
}

} // namespace

void TestCollectionRun::walkOrderWithReadsOutOfOrder()
{
    QTemporaryDir dir;
    // Many small folders, nested, each read on its own and in no order.
    for (int a = 0; a < 6; ++a) {
        for (int b = 0; b < 5; ++b) {
            const QString folder = dir.filePath(QStringLiteral("a%1/b%2").arg(a).arg(b));
            QVERIFY(QDir().mkpath(folder));
            for (int f = 0; f < 4; ++f)
                QVERIFY(test::writeTiff(folder + QStringLiteral("/f%1.tif").arg(f), 1));
        }
        QVERIFY(test::writeTiff(dir.filePath(QStringLiteral("a%1/z.tif").arg(a)), 2));
    }
    const Arguments args{{QUrl::fromLocalFile(dir.path())}, true, true};
    QStringList expected;
    std::atomic_bool keepGoing{true};
    Walk walk(args, keepGoing, false);
    while (auto found = walk.next())
        expected << localPath(found->url);
    QCOMPARE(expected.size(), 6 * 21);

    FakeShare share;
    share.scramble();
    FileList files;
    test::NullRunHost host;
    CollectionRun run(files, host);
    QVERIFY(runAndWait(run, args));
    QCOMPARE(names(files), expected);
}

void TestCollectionRun::listedFilesAreNeverOpenedAgain()
{
    FakeShare share;
    FileList files;
    test::NullRunHost host;
    CollectionRun run(files, host);
    const QByteArray tif = QFile::encodeName(m_dir.filePath(QStringLiteral("f01.tif")));
    // The folder twice: each file is opened once.
    Arguments args = m_args;
    args.urls << args.urls.first();
    QVERIFY(runAndWait(run, args));
    QCOMPARE(files.size(), 40);
    QCOMPARE(share.visits(tif), 1);
    QVERIFY(runAndWait(run, args));
    QCOMPARE(share.visits(tif), 1);
}

void TestCollectionRun::cancelWhileTheShareHangs_data()
{
    QTest::addColumn<QByteArray>("hang");
    QTest::newRow("before the first file") << QByteArray("/f");
    QTest::newRow("folder listing in flight") << QByteArray("/sub");
    QTest::newRow("files in flight") << QByteArray("f2");
}

void TestCollectionRun::cancelWhileTheShareHangs()
{
    QFETCH(QByteArray, hang);
    FakeShare share;
    FileList files;
    FakeHost host(files);
    auto run = std::make_unique<CollectionRun>(files, host);
    const Arguments three{{QUrl::fromLocalFile(m_dir.filePath("f01.tif")),
                           QUrl::fromLocalFile(m_dir.filePath("f03.tif")),
                           QUrl::fromLocalFile(m_dir.filePath("sub/f00.pdf"))},
                          false,
                          false};
    QVERIFY(runAndWait(*run, three));
    const QStringList before = names(files);
    host.calls.clear();

    share.hang(hang);
    QSignalSpy done(run.get(), &CollectionRun::finished);
    QVERIFY(run->start(m_args));
    QTRY_VERIFY_WITH_TIMEOUT(share.isHanging(), 20000);
    run->cancel();
    // The run ends while the share still hangs, and what was listed before
    // it stays listed.
    QVERIFY(done.wait(20000));
    QVERIFY(share.isHanging());
    QVERIFY(!run->isActive());
    QVERIFY(host.sequence().endsWith(QStringLiteral("stop normal")));
    for (const QString &name : before)
        QVERIFY(names(files).contains(name));

    // A quit neither waits for the share nor tells the window anything more.
    files.clear();
    host.calls.clear();
    QVERIFY(run->start(m_args));
    QTRY_VERIFY_WITH_TIMEOUT(share.isHanging(), 20000);
    run->shutdown();
    QVERIFY(share.isHanging());
    run.reset();
    QCoreApplication::processEvents();
    QVERIFY(!host.sequence().contains(QStringLiteral("stop")));
    share.release();
}

void TestCollectionRun::unreadableFoldersAreReported()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("locked"))));
    QVERIFY(test::writeTiff(dir.filePath(QStringLiteral("ok.tif")), 1));
    // A folder that vanishes between its listing and its walk reads like an
    // unreadable one, whoever runs the test.
    testing::setIoHook([&](const QByteArray &path) {
        if (path.endsWith("/locked"))
            QDir(QFile::decodeName(path)).removeRecursively();
    });
    FileList files;
    test::NullRunHost host;
    CollectionRun run(files, host);
    QVERIFY(runAndWait(run, Arguments{{QUrl::fromLocalFile(dir.path())}, true, true}));
    QCOMPARE(files.size(), 1);
    QCOMPARE(run.unreadableFolders().size(), 1);
    QCOMPARE(run.unreadableFolders().first().error, ENOENT);
    testing::setIoHook({});
}

void TestCollectionRun::timeTaken_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << "Total Time Taken : 00:00";
    QTest::newRow("59 s") << 59 << "Total Time Taken : 00:59";
    QTest::newRow("61 min 5 s") << 61 * 60 + 5 << "Total Time Taken : 01:01:05";
    QTest::newRow("25 h") << 25 * 3600 << "Total Time Taken : 25:00:00";
}

void TestCollectionRun::timeTaken()
{
    QFETCH(int, seconds);
    const QDateTime start(QDate(2026, 3, 29), QTime(0, 30), Qt::LocalTime);
    // Fractions of a second are dropped.
    QTEST(timeTakenString(start, start.addSecs(seconds).addMSecs(999)), "text");
    QCOMPARE(timeTakenString(QDateTime(), start), QString());
    QCOMPARE(timeTakenString(start, QDateTime()), QString());
}

QTEST_GUILESS_MAIN(TestCollectionRun)
#include "tst_collectionrun.moc"
