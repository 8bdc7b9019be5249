#include "pagecount.h"
#include "samplefiles.h"

#include <QTemporaryDir>
#include <QtEndian>
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
    void damagedTiffChains();
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
    QTest::newRow("three-page TIFF") << "a.tif"
                                     << "tiff" << 3 << 3;
    QTest::newRow("single-image TIFF") << "b.TIFF"
                                       << "tiff" << 1 << 1;
    QTest::newRow("BigTIFF") << "c.tif"
                             << "bigtiff" << 4 << 4;
    QTest::newRow("TIFF named .pdf: image reader first") << "d.pdf"
                                                         << "tiff" << 2 << 2;
    QTest::newRow("TIFF with no extension") << "e"
                                            << "tiff" << 5 << 5;
    QTest::newRow("PDF") << "f.pdf"
                         << "pdf" << 7 << 7;
    QTest::newRow("PDF upper case") << "g.PDF"
                                    << "pdf" << 2 << 2;
    QTest::newRow("PDF mixed case") << "h.Pdf"
                                    << "pdf" << 1 << 1;
    QTest::newRow("PDF named .tif: no PDF reader") << "i.tif"
                                                   << "pdf" << 3 << 0;
    QTest::newRow("PDF named .txt") << "j.txt"
                                    << "pdf" << 3 << 0;
    QTest::newRow("text named .pdf") << "k.pdf"
                                     << "text" << 0 << 0;
    QTest::newRow("zero-length .pdf") << "l.pdf"
                                      << "empty" << 0 << 0;
    QTest::newRow("zero-length .tif") << "m.tif"
                                      << "empty" << 0 << 0;
    QTest::newRow("PDF cut in half") << "n.pdf"
                                     << "halfpdf" << 5 << 0;
    QTest::newRow("missing file") << "nothing.pdf"
                                  << "none" << 0 << 0;
    QTest::newRow("folder named .tif") << "dir.tif"
                                       << "dir" << 0 << 0;
}

void TestPageCount::counts()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, made);
    const QString p = path(name);
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
    else if (kind == QLatin1String("dir"))
        QVERIFY(QDir().mkpath(p));
    QTEST(count(name), "expected");
}

void TestPageCount::damagedTiffChains()
{
    // Cut inside the first directory: the header leads to it, the image is there.
    QVERIFY(test::writeTiff(path(QStringLiteral("one.tif")), 1));
    QFile one(path(QStringLiteral("one.tif")));
    QVERIFY(one.open(QIODevice::ReadOnly));
    const QByteArray bytes = one.readAll();
    const quint32 first = qFromLittleEndian<quint32>(bytes.constData() + 4);
    QVERIFY(test::writeBytes(path(QStringLiteral("cut1.tif")), bytes.left(first + 2 + 12)));
    QCOMPARE(count(QStringLiteral("cut1.tif")), 1);
    QVERIFY(test::writeBytes(path(QStringLiteral("cut0.tif")), bytes.left(first + 1)));
    QCOMPARE(count(QStringLiteral("cut0.tif")), 0);

    // A later directory reached through the chain must lie wholly in the
    // file: fuzzed files point "next" at garbage that claims thousands of
    // entries.
    QVERIFY(test::writeTiff(path(QStringLiteral("two.tif")), 2));
    QFile two(path(QStringLiteral("two.tif")));
    QVERIFY(two.open(QIODevice::ReadOnly));
    QByteArray twoBytes = two.readAll();
    QCOMPARE(count(QStringLiteral("two.tif")), 2);
    const quint32 firstOfTwo = qFromLittleEndian<quint32>(twoBytes.constData() + 4);
    const quint16 entries = qFromLittleEndian<quint16>(twoBytes.constData() + firstOfTwo);
    const qsizetype nextAt = firstOfTwo + 2 + 12 * entries;
    const quint32 second = qFromLittleEndian<quint32>(twoBytes.constData() + nextAt);
    qToLittleEndian<quint16>(60000, twoBytes.data() + second);
    QVERIFY(test::writeBytes(path(QStringLiteral("bogus.tif")), twoBytes));
    QCOMPARE(count(QStringLiteral("bogus.tif")), 1);

    // A directory that points back at itself counts once.
    QByteArray loop("II*\0\x08\0\0\0", 8);
    loop += QByteArray("\x01\0", 2);                                // one entry
    loop += QByteArray("\x00\x01\x03\x00\x01\0\0\0\x04\0\0\0", 12); // ImageWidth
    loop += QByteArray("\x08\0\0\0", 4);                            // next: itself
    QVERIFY(test::writeBytes(path(QStringLiteral("loop.tif")), loop));
    QCOMPARE(count(QStringLiteral("loop.tif")), 1);

    // An empty directory is no image, and ends the chain.
    QByteArray empty("MM\0*\0\0\0\x08\0\0\0\0\0\0", 14);
    QVERIFY(test::writeBytes(path(QStringLiteral("empty.tif")), empty));
    QCOMPARE(count(QStringLiteral("empty.tif")), 0);

    // A header pointing past the end of the file.
    QVERIFY(test::writeBytes(path(QStringLiteral("past.tif")), QByteArray("II*\0\xff\xff\0\0", 8)));
    QCOMPARE(count(QStringLiteral("past.tif")), 0);
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
