#include "counting.h"
#include "pagecount.h"
#include "pdfworkers.h"
#include "samplefiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tallivo;

class TestPageCount : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void counts_data();
    void counts();
    void specialFilesAreNeverOpened();
    void claimsInTextDoNotRefuseAFile();
    void impossibleClaimsNeverReachTheLibrary();
    void notPdfsAreRefusedAtOnce();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    qint32 count(const QString &name) const
    {
        return test::pageCount(QUrl::fromLocalFile(path(name)));
    }
    QTemporaryDir m_dir;
};

void TestPageCount::counts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("made");
    QTest::addColumn<int>("expected");
    QTest::addColumn<CountStatus>("status");
    const auto row = [](const char *name, const char *file, const char *kind, int made,
                        int expected, CountStatus status) {
        QTest::newRow(name) << file << kind << made << expected << status;
    };
    using S = CountStatus;
    row("three-page TIFF", "a.tif", "tiff", 3, 3, S::Counted);
    row("BigTIFF", "c.tif", "bigtiff", 4, 4, S::Counted);
    row("TIFF named .pdf: image reader first", "d.pdf", "tiff", 2, 2, S::Counted);
    row("TIFF with no extension", "e", "tiff", 5, 5, S::Counted);
    row("PDF", "f.pdf", "pdf", 7, 7, S::Counted);
    row("PDF upper case", "g.PDF", "pdf", 2, 2, S::Counted);
    row("PDF mixed case", "h.pDf", "pdf", 4, 4, S::Counted);
    row("PDF named .tif: no PDF reader", "i.tif", "pdf", 3, 0, S::NotTiffOrPdf);
    row("PDF named .txt", "j.txt", "pdf", 3, 0, S::NotTiffOrPdf);
    row("text named .pdf", "k.pdf", "text", 0, 0, S::NotTiffOrPdf);
    row("text named .tif", "k.tif", "text", 0, 0, S::NotTiffOrPdf);
    row("zero-length .pdf", "l.pdf", "empty", 0, 0, S::NotTiffOrPdf);
    row("zero-length .tif", "m.tif", "empty", 0, 0, S::NotTiffOrPdf);
    // A PDF's header but no pages that can be found: damaged, not a stranger.
    row("PDF cut in half", "n.pdf", "halfpdf", 5, 0, S::Damaged);
    // A TIFF header whose first directory offset is 0 has no pages to read:
    // that is damage, never a clean count of 0.
    row("TIFF with no first directory", "o.tif", "nofirstdir", 2, 0, S::Damaged);
    row("TIFF cut inside its directory", "p.tif", "halftiff", 2, 0, S::Damaged);
    // The pages before the cut are there to count, but the file is not whole.
    row("G4 TIFF cut after its first directory", "q.tif", "cutg4", 3, 1, S::CutShort);
    row("G4 TIFF", "r.tif", "g4", 3, 3, S::Counted);
    row("missing file", "nothing.pdf", "none", 0, 0, S::Missing);
    row("folder named .tif", "dir.tif", "dir", 0, 0, S::NotAFile);
}

void TestPageCount::counts()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, made);
    const QString p = path(name);
    const auto tiffBytes = [&] {
        const QString seed = path(name + QStringLiteral(".seed"));
        QFile f(seed);
        return test::writeTiff(seed, made) && f.open(QIODevice::ReadOnly) ? f.readAll()
                                                                          : QByteArray();
    };
    if (kind == QLatin1String("tiff"))
        QVERIFY(test::writeTiff(p, made));
    else if (kind == QLatin1String("g4") || kind == QLatin1String("cutg4"))
        QVERIFY(test::writeG4Tiff(p, made, kind == QLatin1String("cutg4")));
    else if (kind == QLatin1String("bigtiff"))
        QVERIFY(test::writeTiff(p, made, true));
    else if (kind == QLatin1String("pdf"))
        QVERIFY(test::writePdf(p, made));
    else if (kind == QLatin1String("text"))
        QVERIFY(test::writeBytes(p, "just some words, not a document\n"));
    else if (kind == QLatin1String("empty"))
        QVERIFY(test::writeBytes(p, QByteArray()));
    else if (kind == QLatin1String("halfpdf"))
        QVERIFY(test::writeBytes(p, test::pdfBytes(made).left(40)));
    else if (kind == QLatin1String("nofirstdir"))
        QVERIFY(test::writeBytes(p, tiffBytes().replace(4, 4, QByteArray(4, '\0'))));
    else if (kind == QLatin1String("halftiff")) {
        const QByteArray bytes = tiffBytes();
        const quint32 first = quint8(bytes[4]) | quint8(bytes[5]) << 8 | quint8(bytes[6]) << 16 |
                              quint32(quint8(bytes[7])) << 24;
        QVERIFY(first > 8 && first + 4 < quint32(bytes.size()));
        QVERIFY(test::writeBytes(p, bytes.left(first + 4)));
    } else if (kind == QLatin1String("dir"))
        QVERIFY(QDir().mkpath(p));
    QTEST(count(name), "expected");
    const MeasuredFile measured = measureFile(QFile::encodeName(p));
    QTEST(measured.count.pages, "expected");
    QTEST(measured.count.status, "status");
}

void TestPageCount::specialFilesAreNeverOpened()
{
    // Opening a FIFO without a writer would block forever; a socket cannot
    // be read at all. Both must come back with 0 at once.
    const QString fifo = path(QStringLiteral("scan.pdf"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QCOMPARE(count(QStringLiteral("scan.pdf")), 0);

    const QString sock = path(QStringLiteral("s.tif"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray local = QFile::encodeName(sock);
    if (size_t(local.size()) < sizeof addr.sun_path) {
        std::memcpy(addr.sun_path, local.constData(), size_t(local.size()));
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0);
        QCOMPARE(count(QStringLiteral("s.tif")), 0);
    }
    ::close(fd);

    QCOMPARE(test::pageCount(QUrl::fromLocalFile(QStringLiteral("/dev/null"))), 0);
    QCOMPARE(test::pageCount(QUrl()), 0);
    QCOMPARE(test::pageCount(QUrl(QStringLiteral("https://example.com/a.pdf"))), 0);
}

namespace {

// A one-page PDF whose content stream and a comment mention object numbers
// and a /Size no file of its length could hold.
QByteArray pdfWithClaimsInText()
{
    const QByteArray content = "BT /F1 12 Tf 72 700 Td (999999999 0 obj) Tj ET "
                               "BT 72 680 Td (/Size 99999999) Tj ET";
    return test::pdfOfObjects(
        {"<< /Type /Catalog /Pages 2 0 R >>\n% /Size 99999999 and 888888888 0 obj",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>",
         "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
             "\nendstream"});
}

PageCount countOf(const QString &path, std::vector<PageInfo> *pages = nullptr)
{
    return measureFile(QFile::encodeName(path), EntryType::Unknown, pages).count;
}

} // namespace

void TestPageCount::claimsInTextDoNotRefuseAFile()
{
    // A sound file, and the same file with its startxref lost, which only
    // the PDF library's repair can count: both count with and without page
    // sizes.
    const QByteArray sound = pdfWithClaimsInText();
    QByteArray repairable = sound;
    repairable.replace(repairable.lastIndexOf("startxref"), 9, "startxrex");
    for (const QByteArray &bytes : {sound, repairable}) {
        QVERIFY(test::writeBytes(path(QStringLiteral("claims.pdf")), bytes));
        std::vector<PageInfo> pages;
        const PageCount plain = countOf(path(QStringLiteral("claims.pdf")));
        const PageCount detailed = countOf(path(QStringLiteral("claims.pdf")), &pages);
        QCOMPARE(plain.status, CountStatus::Counted);
        QCOMPARE(plain.pages, 1);
        QCOMPARE(detailed.status, CountStatus::Counted);
        QCOMPARE(detailed.pages, 1);
        QCOMPARE(int(pages.size()), 1);
        QCOMPARE(SizeClass::classify(pages[0].widthMm, pages[0].heightMm).label(),
                 QStringLiteral("A4"));
    }
}

void TestPageCount::impossibleClaimsNeverReachTheLibrary()
{
    // 82 bytes whose repair would size the library's tables for billions of
    // objects, also padded past any size read whole; and a trailer whose
    // /Size no file of its length holds. None of them goes to a worker.
    const int startedBefore = PdfWorkers::shared().started();
    QList<QByteArray> files;
    const QString trap = QStringLiteral(TALLIVO_CORPUS_DIR "/pdf/pdfium__bug_325_a.pdf");
    QFile f(trap);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = f.readAll();
        files << bytes << bytes + QByteArray(17'800'000, ' ');
    }
    // The same kind of claim, made here: a damaged table, then an object
    // header with a number in the billions.
    files << QByteArray("%PDF-1.4\nxref\n0 3\n0000000000 655\n 30080000009 0000 obj\n<< >>\n");
    QByteArray bigSize = test::pdfBytes(2);
    bigSize.replace("/Size 5", "/Size 99999999");
    files << bigSize;
    for (const QByteArray &bytes : std::as_const(files)) {
        QVERIFY(test::writeBytes(path(QStringLiteral("trap.pdf")), bytes));
        std::vector<PageInfo> pages;
        QCOMPARE(countOf(path(QStringLiteral("trap.pdf"))).status, CountStatus::Damaged);
        QCOMPARE(countOf(path(QStringLiteral("trap.pdf")), &pages).status, CountStatus::Damaged);
    }
    QCOMPARE(PdfWorkers::shared().started(), startedBefore);
}

void TestPageCount::notPdfsAreRefusedAtOnce()
{
    // A server log named .pdf: no header, no object, no end of a PDF.
    const int startedBefore = PdfWorkers::shared().started();
    QByteArray log;
    while (log.size() < 3'000'000)
        log += "2026-12-07 13:00:00 GET /index.html 200 1234 obj\n";
    QVERIFY(test::writeBytes(path(QStringLiteral("server.log.pdf")), log));
    QCOMPARE(countOf(path(QStringLiteral("server.log.pdf"))).status, CountStatus::NotTiffOrPdf);
    QCOMPARE(PdfWorkers::shared().started(), startedBefore);

    // A PDF that lost its header still reaches the library, which repairs it.
    QByteArray headless = test::pdfBytes(3);
    headless.remove(0, headless.indexOf('\n') + 1);
    QVERIFY(test::writeBytes(path(QStringLiteral("headless.pdf")), headless));
    const PageCount count = countOf(path(QStringLiteral("headless.pdf")));
    QCOMPARE(count.status, CountStatus::Counted);
    QCOMPARE(count.pages, 3);
}

QTEST_GUILESS_MAIN(TestPageCount)
#include "tst_pagecount.moc"
