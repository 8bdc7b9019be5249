#include "pagecount.h"
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

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    qint32 count(const QString &name) const { return pageCount(QUrl::fromLocalFile(path(name))); }
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

    QCOMPARE(pageCount(QUrl::fromLocalFile(QStringLiteral("/dev/null"))), 0);
    QCOMPARE(pageCount(QUrl()), 0);
    QCOMPARE(pageCount(QUrl(QStringLiteral("https://example.com/a.pdf"))), 0);
}

QTEST_GUILESS_MAIN(TestPageCount)
#include "tst_pagecount.moc"
