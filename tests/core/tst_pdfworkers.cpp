#include "collectionrun.h"
#include "pdfworkers.h"
#include "runtoend.h"
#include "samplefiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace tallivo;

namespace {

// A file that makes a worker run with test faults fail in the named way;
// it looks enough like a PDF to be sent to a worker.
QByteArray faultFile(const char *how)
{
    return QByteArray("%PDF-1.4\n%TALLIVO-TEST-FAULT ") + how + "\n";
}

struct OpenFile
{
    explicit OpenFile(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    qint64 size() const { return ::lseek(fd, 0, SEEK_END); }
    int fd;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceLimited = false;
#else
constexpr bool kAddressSpaceLimited = true;
#endif

} // namespace

class TestPdfWorkers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void workersLiveOnAndAnswer();
    void failuresCostOneFileAndTheWorker_data();
    void failuresCostOneFileAndTheWorker();
    void stopKillsBusyWorkersAtOnce();
    void cancelledRunKillsTheSharedWorkers();

private:
    QString write(const QString &name, const QByteArray &bytes);
    PdfWorkerAnswer count(PdfWorkers &workers, const QString &path, bool boxes = false);
    QTemporaryDir m_dir;
};

void TestPdfWorkers::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Also for the shared pool, which the program never starts with faults.
    qputenv("TALLIVO_PDFWORKER_TEST_FAULTS", "1");
}

QString TestPdfWorkers::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    if (!test::writeBytes(path, bytes))
        return {};
    return path;
}

PdfWorkerAnswer TestPdfWorkers::count(PdfWorkers &workers, const QString &path, bool boxes)
{
    OpenFile file(path);
    if (file.fd < 0)
        return {};
    return workers.count(file.fd, file.size(), boxes);
}

void TestPdfWorkers::workersLiveOnAndAnswer()
{
    PdfWorkers workers(PdfWorkers::workerProgram(), 1, {});
    const QString five = write(QStringLiteral("five.pdf"), test::pdfBytes(5));
    const QString text = write(QStringLiteral("text.pdf"), "%PDF-1.4\nno document here\n");
    // One worker serves file after file.
    for (int i = 0; i < 3; ++i) {
        const PdfWorkerAnswer answer = count(workers, five, i == 2);
        QCOMPARE(answer.status, PdfWorkerAnswer::Counted);
        QCOMPARE(answer.pages, 5);
        QCOMPARE(int(answer.boxes.size()), i == 2 ? 5 : 0);
    }
    QCOMPARE(count(workers, text).status, PdfWorkerAnswer::Damaged);
    QCOMPARE(workers.started(), 1);
    QCOMPARE(workers.running(), 1);

    // No worker program: the file is not counted, nothing hangs.
    PdfWorkers lost(QByteArray("/nonexistent/tallivo-pdfworker"), 1, {});
    QCOMPARE(count(lost, five).status, PdfWorkerAnswer::Unavailable);
}

void TestPdfWorkers::failuresCostOneFileAndTheWorker_data()
{
    QTest::addColumn<QByteArray>("how");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("cpuSeconds");
    QTest::addColumn<int>("wallSeconds");
    QTest::newRow("crash") << QByteArray("crash") << int(PdfWorkerAnswer::LibraryFailed) << 60
                           << 600;
    QTest::newRow("hang: wall clock")
        << QByteArray("hang") << int(PdfWorkerAnswer::TookTooLong) << 60 << 1;
    QTest::newRow("spin: CPU time")
        << QByteArray("spin") << int(PdfWorkerAnswer::TookTooLong) << 1 << 600;
    QTest::newRow("hog: address space")
        << QByteArray("hog") << int(PdfWorkerAnswer::NeededTooMuchMemory) << 60 << 600;
}

void TestPdfWorkers::failuresCostOneFileAndTheWorker()
{
    QFETCH(QByteArray, how);
    QFETCH(int, expected);
    QFETCH(int, cpuSeconds);
    QFETCH(int, wallSeconds);
    if (how == "hog" && !kAddressSpaceLimited)
        QSKIP("the sanitizers' allocator needs more address space than the limit");
    PdfWorkers::Limits limits;
    limits.addressSpace = qint64(512) << 20;
    limits.cpuSeconds = cpuSeconds;
    limits.wallSeconds = wallSeconds;
    PdfWorkers workers(PdfWorkers::workerProgram(), 1, limits, {"--test-faults"});
    const QString good = write(QStringLiteral("good.pdf"), test::pdfBytes(2));
    const QString bad = write(QString::fromLatin1(how) + ".pdf", faultFile(how.constData()));

    QCOMPARE(count(workers, good).pages, 2);
    QCOMPARE(int(count(workers, bad, true).status), expected);
    QCOMPARE(workers.running(), 0);
    // The next file gets a fresh worker and its right count.
    const PdfWorkerAnswer after = count(workers, good, true);
    QCOMPARE(after.status, PdfWorkerAnswer::Counted);
    QCOMPARE(after.pages, 2);
    QCOMPARE(int(after.boxes.size()), 2);
    QCOMPARE(workers.started(), 2);
}

void TestPdfWorkers::stopKillsBusyWorkersAtOnce()
{
    // Without the kill, the hanging files would hold their threads for the
    // whole wall-clock limit, far past the test's own time limit.
    PdfWorkers::Limits limits;
    limits.wallSeconds = 3600;
    PdfWorkers workers(PdfWorkers::workerProgram(), 2, limits, {"--test-faults"});
    const QString hang = write(QStringLiteral("hang.pdf"), faultFile("hang"));
    PdfWorkerAnswer answers[2];
    std::thread threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = std::thread([&, i] { answers[i] = count(workers, hang); });
    QTRY_COMPARE(workers.running(), 2);
    QTest::qWait(200); // both requests sent
    workers.stopAll();
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(answers[0].status, PdfWorkerAnswer::Cancelled);
    QCOMPARE(answers[1].status, PdfWorkerAnswer::Cancelled);
    QCOMPARE(workers.running(), 0);
    // The pool serves again after a stop.
    const QString good = write(QStringLiteral("again.pdf"), test::pdfBytes(3));
    QCOMPARE(count(workers, good).pages, 3);
}

void TestPdfWorkers::cancelledRunKillsTheSharedWorkers()
{
    // A run over files that hang the PDF library: cancelling it kills the
    // busy workers instead of leaving them to their time limit.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    for (int i = 0; i < 4; ++i) {
        QVERIFY(
            test::writeBytes(folder.filePath(QStringLiteral("h%1.pdf").arg(i)), faultFile("hang")));
    }
    FileList files;
    CollectionRun run;
    test::listInto(run, files);
    QSignalSpy finished(&run, &CollectionRun::finished);
    Arguments arguments;
    arguments.urls << QUrl::fromLocalFile(folder.path());
    arguments.isFolders = true;
    QVERIFY(run.start(arguments));
    PdfWorkers &shared = PdfWorkers::shared();
    QTRY_VERIFY(shared.running() > 0);
    run.cancel();
    QVERIFY(finished.wait(30000));
    QTRY_COMPARE(shared.running(), 0);
    QCOMPARE(files.size(), 0);
}

QTEST_GUILESS_MAIN(TestPdfWorkers)
#include "tst_pdfworkers.moc"
