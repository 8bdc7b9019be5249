#include "collectionrun.h"
#include "samplefiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <functional>
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
    if (!run.loadURLs(std::move(args)))
        return false;
    return done.wait(60000);
}

void TestCollectionRun::sequenceAndOrder()
{
    FileList files;
    FakeHost host(files);
    CollectionRun run(files, host);
    QSignalSpy done(&run, &CollectionRun::finished);
    QVERIFY(run.loadURLs(m_args));
    QVERIFY(run.isActive());
    QVERIFY(!run.loadURLs(m_args)); // one run at a time
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
    run.cancelAction();
    host.onTotal = [&] {
        if (files.size() == 5)
            run.cancelAction();
    };
    QVERIFY(runAndWait(run, m_args));
    QCOMPARE(files.size(), 5);
    QCOMPARE(host.sequence(), QStringLiteral("busy start total* sort stop normal"));
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

    // Sizes from 2 GiB up are capped to the largest the field holds.
    const QString big = at("huge.tif");
    QFile f(big);
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (::posix_fallocate(f.handle(), 0, (qint64(1) << 31) + 4096) != 0)
        QSKIP("no room for a 2 GiB file here");
    f.close();
    auto item = FileItem::initWithURL(QUrl::fromLocalFile(big));
    QFile::remove(big);
    QCOMPARE(item->size(), INT32_MAX);
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
        // As when the application quits mid-run: the shutdown comes from the
        // event loop while the run thread is busy handing over files.
        if (files.size() == 3)
            QMetaObject::invokeMethod(
                &run,
                [&] {
                    sizeAtShutdown = files.size();
                    run.shutdown();
                    shutDown = true;
                },
                Qt::QueuedConnection);
    };
    QVERIFY(run.loadURLs(m_args));
    QTRY_VERIFY_WITH_TIMEOUT(shutDown, 60000);
    QVERIFY(sizeAtShutdown >= 3);
    QCOMPARE(files.size(), sizeAtShutdown);
    QCOMPARE(host->sequence(), QStringLiteral("busy start total*"));
    host.reset();
    QCoreApplication::processEvents();
    QVERIFY(!run.isActive());
    QVERIFY(!run.loadURLs(m_args)); // no new runs after shutdown
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
