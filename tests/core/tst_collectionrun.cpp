#include "collectionrun.h"
#include "fakeshare.h"
#include "localpath.h"
#include "runtoend.h"
#include "samplefiles.h"

#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>

using namespace tallivo;

namespace {

// Lists what a run hands over, as the window's model does, and records its
// signals, checking that they come on the main thread.
class Recorder
{
public:
    Recorder(CollectionRun &run, FileList &files)
        : files(files)
    {
        QObject::connect(&run, &CollectionRun::started, &m_context, [this] { note("start"); });
        QObject::connect(
            &run, &CollectionRun::filesCounted, &m_context, [this](const SharedFileBatch &batch) {
                note("files");
                QVERIFY(!batch->items.empty());
                for (auto &item : batch->copies())
                    this->files.append(std::move(item));
                totalsSeen << this->files.totals().tiffPages + this->files.totals().pdfPages;
                if (onBatch)
                    onBatch();
            });
        QObject::connect(&run, &CollectionRun::finished, &m_context, [this](const RunResult &r) {
            note("end");
            result = r;
        });
    }

    void note(const char *what)
    {
        if (QThread::currentThread() != qApp->thread())
            offMainThread = true;
        calls << QString::fromLatin1(what);
    }
    // The calls, with one or more batches in a row as "files*".
    QString sequence() const
    {
        QStringList squeezed;
        for (const QString &c : calls) {
            if (c != QLatin1String("files"))
                squeezed << c;
            else if (squeezed.isEmpty() || squeezed.last() != QLatin1String("files*"))
                squeezed << QStringLiteral("files*");
        }
        return squeezed.join(QLatin1Char(' '));
    }

    FileList &files;
    QStringList calls;
    QList<int> totalsSeen;
    RunResult result;
    bool offMainThread = false;
    std::function<void()> onBatch;

private:
    QObject m_context;
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
    void overlappingPaths_data();
    void overlappingPaths();
    void overlappingArgumentsListEachFileOnce_data();
    void overlappingArgumentsListEachFileOnce();
    void cancelWhileTheShareHangs_data();
    void cancelWhileTheShareHangs();
    void unreadableFoldersAreReported();
    void saysWhatItPassedOver();
    void looksBelowOnlyWhereThereIsABelow_data();
    void looksBelowOnlyWhereThereIsABelow();

private:
    // Runs over the files not yet in `files`; a Recorder lists them there.
    bool runAndWait(CollectionRun &run, std::optional<Arguments> args, const FileList &files);
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

bool TestCollectionRun::runAndWait(CollectionRun &run, std::optional<Arguments> args,
                                   const FileList &files)
{
    QSignalSpy done(&run, &CollectionRun::finished);
    if (!run.start(std::move(args), files.pathKeys()))
        return false;
    return done.wait(60000);
}

void TestCollectionRun::sequenceAndOrder()
{
    FileList files;
    CollectionRun run;
    // Readers on either side of the one that lists the files read every
    // batch whole.
    const auto tallyInto = [](PageTally &tally) {
        return [&tally](const SharedFileBatch &batch) {
            for (const auto &item : batch->items)
                tally.add(*item);
        };
    };
    PageTally before;
    PageTally after;
    QObject::connect(&run, &CollectionRun::filesCounted, &run, tallyInto(before));
    Recorder host(run, files);
    QObject::connect(&run, &CollectionRun::filesCounted, &run, tallyInto(after));
    QSignalSpy done(&run, &CollectionRun::finished);
    QVERIFY(run.start(m_args));
    QVERIFY(run.isActive());
    QVERIFY(!run.start(m_args)); // one run at a time
    QVERIFY(done.wait(60000));
    QVERIFY(!run.isActive());
    QVERIFY(!host.offMainThread);
    QCOMPARE(host.sequence(), QStringLiteral("start files* end"));
    QCOMPARE(files.size(), 40);
    QCOMPARE(host.result.handedOver, 40);
    QVERIFY(!host.result.cancelled);
    // Totals grew with every batch.
    for (qsizetype i = 1; i < host.totalsSeen.size(); ++i)
        QVERIFY(host.totalsSeen[i] > host.totalsSeen[i - 1]);
    QCOMPARE(files.totals().pdfPages, 40);
    QCOMPARE(files.totals().tiffPages, 1 * 7 + 2 * 7 + 3 * 6);
    QCOMPARE(before.files(), 40);
    QVERIFY(before == files.tally());
    QVERIFY(after == files.tally());
    // In walk order: the folder's files by name, then its subfolder's.
    QCOMPARE(files.at(0)->name(), QStringLiteral("f01.tif"));
    QCOMPARE(files.at(39)->name(), QStringLiteral("f38.pdf"));
    QVERIFY(!run.isProcessing());
    const RunResult &r = host.result;
    QVERIFY(r.startTime.isValid() && r.endTime >= r.startTime);
}

void TestCollectionRun::secondRunAddsNothing()
{
    FileList files;
    CollectionRun run;
    Recorder host(run, files);
    QVERIFY(runAndWait(run, m_args, files));
    host.calls.clear();
    // Files listed when the run starts are neither counted nor handed over.
    QVERIFY(runAndWait(run, m_args, files));
    QCOMPARE(host.sequence(), QStringLiteral("start end"));
    QCOMPARE(host.result.handedOver, 0);
    QCOMPARE(files.size(), 40);

    // Files walk: duplicates in one run are offered once.
    const QUrl extra = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("notes.txt")));
    host.calls.clear();
    QVERIFY(runAndWait(run, Arguments{{extra, extra}, false, false}, files));
    QCOMPARE(host.sequence(), QStringLiteral("start files* end"));
    QCOMPARE(host.result.handedOver, 1);
    QCOMPARE(files.size(), 41);

    // No arguments at all: still the whole start and end sequence.
    host.calls.clear();
    QVERIFY(runAndWait(run, std::nullopt, files));
    QCOMPARE(host.sequence(), QStringLiteral("start end"));
}

void TestCollectionRun::cancelStopsBeforeNextFile()
{
    FileList files;
    CollectionRun run;
    Recorder host(run, files);
    // The subfolder's files wait, so the folder's come first, on their own.
    test::FakeShare share;
    share.hang("/sub/");
    // A cancel given before the run has started has no effect on it.
    run.cancel();
    int firstBatch = 0;
    host.onBatch = [&] {
        firstBatch = files.size();
        run.cancel();
    };
    QVERIFY(runAndWait(run, m_args, files));
    share.release();
    // Nothing comes after the batch that was being taken.
    QVERIFY(firstBatch > 0 && firstBatch < 40);
    QCOMPARE(files.size(), firstBatch);
    QCOMPARE(host.sequence(), QStringLiteral("start files* end"));
    QCOMPARE(host.calls.count(QStringLiteral("files")), 1);
    QVERIFY(host.result.cancelled);
    QCOMPARE(host.result.handedOver, firstBatch);

    // A cancel given as soon as the run is asked for is not lost.
    files.clear();
    host.calls.clear();
    host.onBatch = nullptr;
    QSignalSpy done(&run, &CollectionRun::finished);
    QVERIFY(run.start(m_args));
    run.cancel();
    QVERIFY(done.wait(60000));
    QCOMPARE(files.size(), 0);
    QCOMPARE(host.sequence(), QStringLiteral("start end"));
    QVERIFY(host.result.cancelled);
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
    CollectionRun run;
    Recorder host(run, files);
    host.onBatch = [&] { QFile::remove(at("vanishing.tif")); };
    QVERIFY(runAndWait(run, Arguments{{QUrl::fromLocalFile(dir.path())}, true, false}, files));
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
    CollectionRun run;
    auto host = std::make_unique<Recorder>(run, files);
    bool shutDown = false;
    int sizeAtShutdown = -1;
    host->onBatch = [&] {
        // As when the application quits mid-run, from inside a run's step.
        sizeAtShutdown = files.size();
        run.shutdown();
        shutDown = true;
    };
    QVERIFY(run.start(m_args));
    QTRY_VERIFY_WITH_TIMEOUT(shutDown, 60000);
    QVERIFY(sizeAtShutdown >= 1);
    QCOMPARE(files.size(), sizeAtShutdown);
    QCOMPARE(host->sequence(), QStringLiteral("start files*"));
    QCOMPARE(host->calls.count(QStringLiteral("files")), 1);
    host.reset();
    QCoreApplication::processEvents();
    QVERIFY(!run.isActive());
    QVERIFY(!run.start(m_args)); // no new runs after shutdown
}

namespace {

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
        expected << localPath(found->url());
    QCOMPARE(expected.size(), 6 * 21);

    test::FakeShare share;
    share.scramble();
    FileList files;
    CollectionRun run;
    QVERIFY(test::runToEnd(run, files, args));
    QCOMPARE(names(files), expected);
}

void TestCollectionRun::listedFilesAreNeverOpenedAgain()
{
    test::FakeShare share;
    FileList files;
    CollectionRun run;
    const QByteArray tif = QFile::encodeName(m_dir.filePath(QStringLiteral("f01.tif")));
    // The folder twice: each file is opened once.
    Arguments args = m_args;
    args.urls << args.urls.first();
    QVERIFY(test::runToEnd(run, files, args));
    QCOMPARE(files.size(), 40);
    QCOMPARE(share.visits(tif), 1);
    QVERIFY(test::runToEnd(run, files, args));
    QCOMPARE(share.visits(tif), 1);
}

// Only files that two of the given paths may both yield need the duplicate
// test's key; with paths that do not overlap, a run keeps none.
void TestCollectionRun::overlappingPaths_data()
{
    QTest::addColumn<QList<QByteArray>>("given");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("mayRepeat");
    using L = QList<QByteArray>;
    QTest::newRow("apart") << L{"/s/a", "/s/b"} << QByteArray("/s/a/x.tif") << false;
    QTest::newRow("one path") << L{"/s"} << QByteArray("/s/a/x.tif") << false;
    QTest::newRow("twice") << L{"/s/a", "/s/a"} << QByteArray("/s/a/b/x.tif") << true;
    QTest::newRow("twice, elsewhere")
        << L{"/s/a", "/s/b", "/s/a"} << QByteArray("/s/b/x.tif") << false;
    QTest::newRow("inside, given first") << L{"/s/b", "/s"} << QByteArray("/s/b/x.tif") << true;
    QTest::newRow("beside the inner one") << L{"/s/b", "/s"} << QByteArray("/s/c/x.tif") << true;
    QTest::newRow("outside both") << L{"/s/b", "/s"} << QByteArray("/t/x.tif") << false;
    QTest::newRow("a file in a folder given")
        << L{"/s/a/x.tif", "/s/a"} << QByteArray("/s/a/y.tif") << true;
    QTest::newRow("untidy forms of one folder")
        << L{"/s//a/", "/s/./a"} << QByteArray("/s//a//x.tif") << true;
    QTest::newRow("several groups, in one")
        << L{"/p", "/p/q", "/r/s", "/r", "/m"} << QByteArray("/r/s/t.pdf") << true;
    QTest::newRow("several groups, in none")
        << L{"/p", "/p/q", "/r/s", "/r", "/m"} << QByteArray("/m/t.pdf") << false;
    QTest::newRow("several groups, between")
        << L{"/p", "/p/q", "/r/s", "/r", "/m"} << QByteArray("/q/t.pdf") << false;
}

void TestCollectionRun::overlappingPaths()
{
    QFETCH(QList<QByteArray>, given);
    QFETCH(QByteArray, path);
    QFETCH(bool, mayRepeat);
    QList<QUrl> urls;
    for (const QByteArray &p : given)
        urls << urlFromLocalPath(p);
    QCOMPARE(OverlappingPaths(urls).contain(path), mayRepeat);
}

// However the given paths overlap, every file is listed once, where it is
// first found.
void TestCollectionRun::overlappingArgumentsListEachFileOnce_data()
{
    QTest::addColumn<QList<QByteArray>>("given"); // below the fixture's folder
    QTest::addColumn<bool>("isFolders");
    QTest::addColumn<bool>("subfolders");
    QTest::addColumn<int>("listed");
    QTest::addColumn<QString>("first");
    using L = QList<QByteArray>;
    QTest::newRow("folder twice") << L{"", ""} << true << true << 40 << "f01.tif";
    QTest::newRow("with a slash") << L{"", "/"} << true << true << 40 << "f01.tif";
    QTest::newRow("subfolder first") << L{"/sub", ""} << true << true << 40 << "f00.pdf";
    QTest::newRow("file first") << L{"/sub/f38.pdf", ""} << true << true << 40 << "f38.pdf";
    QTest::newRow("file after, no subfolders")
        << L{"", "/f01.tif", "/sub/f00.pdf"} << true << false << 21 << "f01.tif";
    QTest::newRow("files twice") << L{"/f01.tif", "/f03.tif", "/f01.tif"} << false << false << 2
                                 << "f01.tif";
}

void TestCollectionRun::overlappingArgumentsListEachFileOnce()
{
    QFETCH(QList<QByteArray>, given);
    QFETCH(bool, isFolders);
    QFETCH(bool, subfolders);
    QFETCH(int, listed);
    QFETCH(QString, first);
    Arguments args{{}, isFolders, subfolders};
    for (const QByteArray &p : given)
        args.urls << urlFromLocalPath(QFile::encodeName(m_dir.path()) + p);
    FileList files;
    CollectionRun run;
    QVERIFY(test::runToEnd(run, files, args));
    QCOMPARE(files.size(), listed);
    QCOMPARE(files.at(0)->name(), first);
    QSet<QByteArray> paths;
    for (int i = 0; i < files.size(); ++i)
        paths.insert(tidyPath(files.at(i)->localPath()));
    QCOMPARE(paths.size(), listed);
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
    test::FakeShare share;
    FileList files;
    auto run = std::make_unique<CollectionRun>();
    Recorder host(*run, files);
    const Arguments three{{QUrl::fromLocalFile(m_dir.filePath("f01.tif")),
                           QUrl::fromLocalFile(m_dir.filePath("f03.tif")),
                           QUrl::fromLocalFile(m_dir.filePath("sub/f00.pdf"))},
                          false,
                          false};
    QVERIFY(runAndWait(*run, three, files));
    const QStringList before = names(files);
    host.calls.clear();

    share.hang(hang);
    QSignalSpy done(run.get(), &CollectionRun::finished);
    QVERIFY(run->start(m_args, files.pathKeys()));
    QTRY_VERIFY_WITH_TIMEOUT(share.isHanging(), 20000);
    run->cancel();
    // The run ends while the share still hangs, and what was listed before
    // it stays listed.
    QVERIFY(done.wait(20000));
    QVERIFY(share.isHanging());
    QVERIFY(!run->isActive());
    QVERIFY(host.sequence().endsWith(QStringLiteral("end")));
    QVERIFY(host.result.cancelled);
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
    QVERIFY(!host.sequence().contains(QStringLiteral("end")));
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
    CollectionRun run;
    Recorder host(run, files);
    QVERIFY(runAndWait(run, Arguments{{QUrl::fromLocalFile(dir.path())}, true, true}, files));
    QCOMPARE(files.size(), 1);
    QCOMPARE(host.result.unreadableFolders.size(), 1);
    QCOMPARE(host.result.unreadableFolders.first().error, ENOENT);
    testing::setIoHook({});
}

void TestCollectionRun::saysWhatItPassedOver()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("box1"))));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("box2/deep"))));
    for (const char *name : {"box1/a.tif", "box1/b.tif", "box2/deep/c.tif"})
        QVERIFY(test::writeTiff(dir.filePath(QString::fromLatin1(name)), 1));
    const QUrl top = QUrl::fromLocalFile(dir.path());
    FileList files;
    CollectionRun run;
    Recorder host(run, files);
    // Without subfolders nothing is found; the subfolders' files are counted,
    // not listed.
    QVERIFY(runAndWait(run, Arguments{{top}, true, false}, files));
    QCOMPARE(files.size(), 0);
    QCOMPARE(host.result.subfolderFiles.files, 3);
    QVERIFY(host.result.subfolderFiles.complete);
    // With them, all are listed and nothing is left to say.
    QVERIFY(runAndWait(run, Arguments{{top}, true, true}, files));
    QCOMPARE(files.size(), 3);
    QCOMPARE(host.result.subfolderFiles.files, 0);
    QCOMPARE(host.result.alreadyListed, 0);
    // Again: everything found was listed already.
    QVERIFY(runAndWait(run, Arguments{{top}, true, true}, files));
    QCOMPARE(host.result.handedOver, 0);
    QCOMPARE(host.result.alreadyListed, 3);
    QCOMPARE(host.result.subfolderFiles.files, 0);
}

void TestCollectionRun::looksBelowOnlyWhereThereIsABelow_data()
{
    QTest::addColumn<QString>("subfolder"); // with a TIFF file in it
    QTest::addColumn<int>("topListings");
    QTest::addColumn<int>("filesBelow");
    QTest::newRow("no subfolder") << QString() << 1 << 0;
    QTest::newRow("a hidden subfolder") << QStringLiteral(".hidden") << 1 << 0;
    QTest::newRow("a subfolder") << QStringLiteral("box") << 2 << 1;
}

// A folder walked without its subfolders that holds nothing to count is
// looked into again for what its subfolders hold, but only when it has
// any that a walk would enter.
void TestCollectionRun::looksBelowOnlyWhereThereIsABelow()
{
    QFETCH(QString, subfolder);
    QFETCH(int, topListings);
    QFETCH(int, filesBelow);
    QTemporaryDir dir;
    test::writeBytes(dir.filePath(QStringLiteral("notes.txt")), "x");
    if (!subfolder.isEmpty()) {
        QVERIFY(QDir().mkpath(dir.filePath(subfolder)));
        QVERIFY(test::writeTiff(dir.filePath(subfolder + QStringLiteral("/a.tif")), 1));
    }
    const QByteArray top = QFile::encodeName(dir.path());
    std::atomic_int listings{0};
    testing::setIoHook([&](const QByteArray &path) {
        if (path == top)
            ++listings;
    });
    FileList files;
    CollectionRun run;
    Recorder host(run, files);
    QVERIFY(runAndWait(run, Arguments{{QUrl::fromLocalFile(dir.path())}, true, false}, files));
    testing::setIoHook({});
    QCOMPARE(files.size(), 0);
    QCOMPARE(host.result.subfolderFiles.files, filesBelow);
    QVERIFY(host.result.subfolderFiles.complete);
    QCOMPARE(listings.load(), topListings);
}

QTEST_GUILESS_MAIN(TestCollectionRun)
#include "tst_collectionrun.moc"
