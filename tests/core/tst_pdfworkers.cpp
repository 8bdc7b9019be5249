#include "collectionrun.h"
#include "pagecount.h"
#include "pdfcolourbuilder.h"
#include "pdfworkers.h"
#include "runtoend.h"
#include "samplefiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
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

// A PDF of `pages` pages with the fault line after its header: its
// cross-reference offsets are off by that line, as the library repairs.
QByteArray faultPdf(const QByteArray &how, int pages)
{
    QByteArray pdf = test::pdfBytes(pages);
    return pdf.insert(pdf.indexOf('\n') + 1, "%TALLIVO-TEST-FAULT " + how + "\n");
}

// The processes whose parent is `parent`.
QList<pid_t> childrenOf(pid_t parent)
{
    QList<pid_t> children;
    QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces and brackets.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == parent)
            children << pid;
    }
    return children;
}

QByteArray commandOf(pid_t pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
}

// Gone, or a zombie waiting for whoever adopted it.
bool isGone(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
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

// A PDF of `pages` pages whose colour classes are `expected`: some decided
// from their operators, some only by rendering. `comment` goes after the
// header.
QByteArray colourPdf(int pages, std::vector<ColourClass> *expected, const QByteArray &comment = {})
{
    const QByteArray blue = "BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET ";
    const struct
    {
        QByteArray content;
        ColourClass colour;
    } kinds[] = {
        {"0 g 20 20 160 160 re f", ColourClass::BlackWhite},
        {"1 0 0 rg 20 20 30 30 re f", ColourClass::Colour},
        {"q 0 0 200 105 re W n " + blue + "Q", ColourClass::Colour},
        {"q 0 0 20 20 re W n " + blue + "Q", ColourClass::BlackWhite},
        {"q 0 0 200 105 re W n " + blue + "Q", ColourClass::Colour},
    };
    testing::PdfBuilder builder;
    expected->clear();
    for (int i = 0; i < pages; ++i) {
        // Not in step with any chunk size.
        const auto &kind = kinds[(i * 7 / 3) % std::size(kinds)];
        builder.page(kind.content, testing::kFont);
        expected->push_back(kind.colour);
    }
    return builder.finish(comment);
}

std::vector<ColourClass> coloursOf(const PdfWorkerAnswer &answer)
{
    std::vector<ColourClass> colours;
    for (const PageInfo &page : answer.boxes)
        colours.push_back(page.colour);
    return colours;
}

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
    void killedFromOutsideOnceCostsNoFile();
    void cpuLimitAllowsForEarlierFiles();
    void colourPassCutShortKeepsTheCount_data();
    void colourPassCutShortKeepsTheCount();
    void lostColoursAreNamed();
    void largeFileSharesItsColours();
    void failedChunkCostsOnlyItsPages_data();
    void failedChunkCostsOnlyItsPages();
    void workersEndWithTheirProgram();
    void stopKillsBusyWorkersAtOnce();
    void cancelledRunKillsTheSharedWorkers();

private:
    QString write(const QString &name, const QByteArray &bytes);
    PdfWorkerAnswer count(PdfWorkers &workers, const QString &path, bool boxes = false,
                          bool colour = false);
    QTemporaryDir m_dir;
};

void TestPdfWorkers::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The worker built with the faults, also for the shared pool.
    qputenv("TALLIVO_PDFWORKER", TALLIVO_PDFWORKER_TEST_BINARY);
    qputenv("TALLIVO_PDFWORKER_TEST_FAULTS", "1");
}

QString TestPdfWorkers::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    if (!test::writeBytes(path, bytes))
        return {};
    return path;
}

PdfWorkerAnswer TestPdfWorkers::count(PdfWorkers &workers, const QString &path, bool boxes,
                                      bool colour)
{
    OpenFile file(path);
    if (file.fd < 0)
        return {};
    return workers.count(file.fd, file.size(), boxes, colour);
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
    QTest::addColumn<int>("workersStarted");
    QTest::newRow("crash") << QByteArray("crash") << int(PdfWorkerAnswer::LibraryFailed) << 60
                           << 600 << 2;
    // Killed twice: not tried a third time.
    QTest::newRow("killed from outside, again")
        << QByteArray("kill") << int(PdfWorkerAnswer::LibraryFailed) << 60 << 600 << 3;
    QTest::newRow("hang: wall clock")
        << QByteArray("hang") << int(PdfWorkerAnswer::TookTooLong) << 60 << 1 << 2;
    QTest::newRow("spin: CPU time")
        << QByteArray("spin") << int(PdfWorkerAnswer::TookTooLong) << 1 << 600 << 2;
    QTest::newRow("hog: address space")
        << QByteArray("hog") << int(PdfWorkerAnswer::NeededTooMuchMemory) << 60 << 600 << 2;
}

void TestPdfWorkers::failuresCostOneFileAndTheWorker()
{
    QFETCH(QByteArray, how);
    QFETCH(int, expected);
    QFETCH(int, cpuSeconds);
    QFETCH(int, wallSeconds);
    QFETCH(int, workersStarted);
    if (how == "hog" && !kAddressSpaceLimited)
        QSKIP("the sanitizers' allocator needs more address space than the limit");
    // Only the failing file gets the short wall clock: the good ones may
    // take their time on a busy machine.
    PdfWorkers::Limits generous;
    generous.addressSpace = qint64(512) << 20;
    generous.cpuSeconds = cpuSeconds;
    generous.wallSeconds = 600;
    PdfWorkers::Limits limits = generous;
    limits.wallSeconds = wallSeconds;
    PdfWorkers workers(PdfWorkers::workerProgram(), 1, generous, {"--test-faults"});
    const QString good = write(QStringLiteral("good.pdf"), test::pdfBytes(2));
    const QString bad = write(QString::fromLatin1(how) + ".pdf", faultFile(how.constData()));

    QCOMPARE(count(workers, good).pages, 2);
    workers.setLimits(limits);
    QCOMPARE(int(count(workers, bad, true).status), expected);
    QCOMPARE(workers.running(), 0);
    workers.setLimits(generous);
    // The next file gets a fresh worker and its right count.
    const PdfWorkerAnswer after = count(workers, good, true);
    QCOMPARE(after.status, PdfWorkerAnswer::Counted);
    QCOMPARE(after.pages, 2);
    QCOMPARE(int(after.boxes.size()), 2);
    QCOMPARE(workers.started(), workersStarted);
}

void TestPdfWorkers::killedFromOutsideOnceCostsNoFile()
{
    // A worker killed (kill -9, the OOM killer) while it read a sound file:
    // the file goes to a fresh worker and is counted.
    PdfWorkers workers(PdfWorkers::workerProgram(), 1, {}, {"--test-faults"});
    const QString marker = m_dir.filePath(QStringLiteral("killed"));
    const QString file =
        write(QStringLiteral("killed-once.pdf"), faultPdf("killonce " + marker.toUtf8(), 3));
    const PdfWorkerAnswer answer = count(workers, file, true);
    QVERIFY(QFile::exists(marker)); // the first worker was killed on it
    QCOMPARE(answer.status, PdfWorkerAnswer::Counted);
    QCOMPARE(answer.pages, 3);
    QCOMPARE(int(answer.boxes.size()), 3);
    QCOMPARE(workers.started(), 2);
}

void TestPdfWorkers::cpuLimitAllowsForEarlierFiles()
{
    // The CPU limit counts the worker's whole life: each file gets its
    // seconds on top of what the ones before it spent, whole seconds
    // started included. Three files of 1.7 s each pass a limit of 2 s a file.
    PdfWorkers::Limits limits;
    limits.cpuSeconds = 2;
    limits.wallSeconds = 3600;
    PdfWorkers workers(PdfWorkers::workerProgram(), 1, limits, {"--test-faults"});
    const QString file = write(QStringLiteral("burn.pdf"), faultPdf("burn 1700", 2));
    for (int i = 0; i < 3; ++i) {
        const PdfWorkerAnswer answer = count(workers, file);
        QCOMPARE(answer.status, PdfWorkerAnswer::Counted);
        QCOMPARE(answer.pages, 2);
    }
    QCOMPARE(workers.started(), 1);
}

void TestPdfWorkers::colourPassCutShortKeepsTheCount_data()
{
    QTest::addColumn<QByteArray>("how");
    QTest::addColumn<int>("cpuSeconds");
    QTest::addColumn<int>("lost");
    QTest::newRow("crash") << QByteArray("crashcolour") << 60
                           << int(PdfWorkerAnswer::LibraryFailed);
    QTest::newRow("CPU time") << QByteArray("spincolour") << 1 << int(PdfWorkerAnswer::TookTooLong);
}

void TestPdfWorkers::colourPassCutShortKeepsTheCount()
{
    QFETCH(QByteArray, how);
    QFETCH(int, cpuSeconds);
    QFETCH(int, lost);
    PdfWorkers::Limits limits;
    limits.cpuSeconds = cpuSeconds;
    limits.wallSeconds = 3600;
    PdfWorkers workers(PdfWorkers::workerProgram(), 1, limits, {"--test-faults"});
    const QString file = write(QString::fromLatin1(how) + ".pdf", faultPdf(how, 2));
    // Without colours the worker never starts the pass.
    QCOMPARE(count(workers, file, true).status, PdfWorkerAnswer::Counted);
    const PdfWorkerAnswer answer = count(workers, file, true, true);
    QCOMPARE(answer.status, PdfWorkerAnswer::Counted);
    QCOMPARE(answer.pages, 2);
    QVERIFY(answer.coloursLost);
    QCOMPARE(int(*answer.coloursLost), lost);
    QCOMPARE(int(answer.boxes.size()), 2);
    for (const PageInfo &page : answer.boxes) {
        QVERIFY(qAbs(page.widthMm - 70.56f) < 0.1f); // 200 pt
        QCOMPARE(page.colour, ColourClass::Unknown);
    }
    QCOMPARE(workers.running(), 0);
    // A sound file after it gets its colours.
    const QString good = write(QStringLiteral("good.pdf"), test::pdfBytes(1));
    const PdfWorkerAnswer after = count(workers, good, true, true);
    QVERIFY(!after.coloursLost);
    QCOMPARE(int(after.boxes.size()), 1);
    QVERIFY(after.boxes[0].colour != ColourClass::Unknown);
}

void TestPdfWorkers::lostColoursAreNamed()
{
    // Through the page counter: the count stands, the pages' colours are
    // Unknown, and the file is named.
    const QString file = write(QStringLiteral("lost colours.pdf"), faultPdf("crashcolour", 1));
    const QByteArray path = QFile::encodeName(file);
    QCOMPARE(measureFile(path).count.pages, 1);
    std::vector<PageInfo> pages;
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("lost colours\\.pdf: page colours not "
                                                           "read: the PDF library failed on it")));
    const MeasuredFile measured = measureFile(path, EntryType::Unknown, &pages);
    QCOMPARE(measured.count.status, CountStatus::Counted);
    QCOMPARE(measured.count.pages, 1);
    QCOMPARE(int(pages.size()), 1);
    QCOMPARE(pages[0].colour, ColourClass::Unknown);
}

void TestPdfWorkers::largeFileSharesItsColours()
{
    std::vector<ColourClass> expected;
    const QString file = write(QStringLiteral("sixty.pdf"), colourPdf(60, &expected));
    PdfWorkers alone(PdfWorkers::workerProgram(), 1, {});
    const PdfWorkerAnswer one = count(alone, file, true, true);
    QCOMPARE(one.status, PdfWorkerAnswer::Counted);
    QCOMPARE(one.pages, 60);
    QVERIFY(!one.coloursLost);
    QCOMPARE(coloursOf(one), expected);
    QCOMPARE(alone.started(), 1);

    // The first pages wait until a second worker takes later ones.
    const QByteArray marker = QFile::encodeName(m_dir.filePath(QStringLiteral("shared")));
    const QString waiting =
        write(QStringLiteral("sixty, shared.pdf"),
              colourPdf(60, &expected, "%TALLIVO-TEST-FAULT waitforshare " + marker + '\n'));
    PdfWorkers four(PdfWorkers::workerProgram(), 4, {}, {"--test-faults"});
    const PdfWorkerAnswer shared = count(four, waiting, true, true);
    QCOMPARE(shared.status, PdfWorkerAnswer::Counted);
    QCOMPARE(shared.pages, 60);
    QVERIFY(!shared.coloursLost);
    QCOMPARE(coloursOf(shared), expected);
    QCOMPARE(int(shared.boxes.size()), 60);
    QVERIFY(qAbs(shared.boxes[59].widthMm - 70.56f) < 0.1f);
    QVERIFY(QFile::exists(QFile::decodeName(marker)));
    // The workers lent to the file are handed back.
    QCOMPARE(four.running(), four.started());

    // A lent worker decides by the tolerance the file was counted with: at
    // 20 mm^2 the blue words are B/W, the red square stays Colour.
    const QByteArray marker2 = QFile::encodeName(m_dir.filePath(QStringLiteral("shared2")));
    const QString tolerant =
        write(QStringLiteral("sixty, tolerant.pdf"),
              colourPdf(60, &expected, "%TALLIVO-TEST-FAULT waitforshare " + marker2 + '\n'));
    alone.setColourMinArea(20);
    four.setColourMinArea(20);
    const std::vector<ColourClass> large = coloursOf(count(alone, file, true, true));
    QVERIFY(large != expected);
    QVERIFY(std::count(large.begin(), large.end(), ColourClass::Colour) > 0);
    QCOMPARE(coloursOf(count(four, tolerant, true, true)), large);
    QVERIFY(QFile::exists(QFile::decodeName(marker2)));
    // Files too small to share take one worker, which lives on for the next.
    const QString small = write(QStringLiteral("small.pdf"), colourPdf(10, &expected));
    PdfWorkers two(PdfWorkers::workerProgram(), 2, {});
    QCOMPARE(coloursOf(count(two, small, true, true)), expected);
    QCOMPARE(two.started(), 1);
}

void TestPdfWorkers::failedChunkCostsOnlyItsPages_data()
{
    QTest::addColumn<int>("maxWorkers");
    QTest::newRow("one worker") << 1;
    QTest::newRow("shared") << 3;
}

void TestPdfWorkers::failedChunkCostsOnlyItsPages()
{
    QFETCH(int, maxWorkers);
    std::vector<ColourClass> expected;
    const QString file = write(QStringLiteral("crash on 30.pdf"),
                               colourPdf(60, &expected, "%TALLIVO-TEST-FAULT crashpage 30\n"));
    PdfWorkers workers(PdfWorkers::workerProgram(), maxWorkers, {}, {"--test-faults"});
    const PdfWorkerAnswer answer = count(workers, file, true, true);
    QCOMPARE(answer.status, PdfWorkerAnswer::Counted);
    QCOMPARE(answer.pages, 60);
    QVERIFY(answer.coloursLost);
    QCOMPARE(int(*answer.coloursLost), int(PdfWorkerAnswer::LibraryFailed));
    const std::vector<ColourClass> got = coloursOf(answer);
    QCOMPARE(int(got.size()), 60);
    // One run of pages around page 30 is lost, every other page decided.
    int lostFrom = 60;
    int lostTo = -1;
    for (int i = 0; i < 60; ++i) {
        if (got[size_t(i)] == ColourClass::Unknown) {
            lostFrom = std::min(lostFrom, i);
            lostTo = std::max(lostTo, i);
        } else {
            QCOMPARE(got[size_t(i)], expected[size_t(i)]);
        }
    }
    QVERIFY(lostFrom <= 30 && lostTo >= 30);
    QVERIFY2(lostTo - lostFrom < 16, qPrintable(QStringLiteral("%1-%2").arg(lostFrom).arg(lostTo)));
    for (int i = lostFrom; i <= lostTo; ++i)
        QCOMPARE(got[size_t(i)], ColourClass::Unknown);
}

void TestPdfWorkers::workersEndWithTheirProgram()
{
    // A program killed while its worker hangs on a file: the worker goes
    // with it instead of living on to its limits.
    const QString hang = write(QStringLiteral("held.pdf"), faultFile("hang"));
    QProcess helper;
    helper.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-worker"), hang});
    QVERIFY(helper.waitForStarted());
    const pid_t program = pid_t(helper.processId());
    QList<pid_t> workers;
    QTRY_VERIFY_WITH_TIMEOUT(!(workers = childrenOf(program)).isEmpty(), 30000);
    // A hanging worker names itself so: it is busy with the file, where only
    // it can see that the program has gone.
    QTRY_VERIFY_WITH_TIMEOUT(commandOf(workers.first()) == "tallivo-hanging", 30000);
    ::kill(program, SIGKILL);
    QVERIFY(helper.waitForFinished());
    for (const pid_t worker : std::as_const(workers))
        QTRY_VERIFY_WITH_TIMEOUT(isGone(worker), 30000);
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

// With --hold-worker FILE, the program that workersEndWithTheirProgram()
// kills: it has a worker hang on FILE and waits.
int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--hold-worker") == 0) {
        PdfWorkers::Limits limits;
        limits.wallSeconds = 3600;
        PdfWorkers workers(PdfWorkers::workerProgram(), 1, limits, {"--test-faults"});
        OpenFile file(QString::fromLocal8Bit(argv[2]));
        workers.count(file.fd, file.size(), false);
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestPdfWorkers test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_pdfworkers.moc"
