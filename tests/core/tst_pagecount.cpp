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
    const auto row = [](const char *name, const char *file, const char *kind, int made,
                        int expected) { QTest::newRow(name) << file << kind << made << expected; };
    row("three-page TIFF", "a.tif", "tiff", 3, 3);
    row("BigTIFF", "c.tif", "bigtiff", 4, 4);
    row("TIFF named .pdf: image reader first", "d.pdf", "tiff", 2, 2);
    row("TIFF with no extension", "e", "tiff", 5, 5);
    row("PDF", "f.pdf", "pdf", 7, 7);
    row("PDF upper case", "g.PDF", "pdf", 2, 2);
    row("PDF named .tif: no PDF reader", "i.tif", "pdf", 3, 0);
    row("PDF named .txt", "j.txt", "pdf", 3, 0);
    row("text named .pdf", "k.pdf", "text", 0, 0);
    row("zero-length .pdf", "l.pdf", "empty", 0, 0);
    row("zero-length .tif", "m.tif", "empty", 0, 0);
    row("PDF cut in half", "n.pdf", "halfpdf", 5, 0);
    row("missing file", "nothing.pdf", "none", 0, 0);
    row("folder named .tif", "dir.tif", "dir", 0, 0);
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
