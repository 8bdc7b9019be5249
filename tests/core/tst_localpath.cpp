#include "localpath.h"

#include <QTest>

using namespace tallivo;

class TestLocalPath : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bytesRoundTrip_data();
    void bytesRoundTrip();
    void utf8PathsMatchQt();
    void displayPath_data();
    void displayPath();
    void escapedForRow_data();
    void escapedForRow();
    void tidyKeepsDotDot_data();
    void tidyKeepsDotDot();
    void partsOfAPath_data();
    void partsOfAPath();
    void countableNames_data();
    void countableNames();
};

void TestLocalPath::bytesRoundTrip_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("ascii") << QByteArray("/srv/scans/a.tif");
    QTest::newRow("latin-1 folder and file") << QByteArray("/srv/Factures_\xe9t\xe9/scan\xe9.tif");
    QTest::newRow("url syntax") << QByteArray("/a b/%41#frag?q=1;x.pdf");
    QTest::newRow("control bytes") << QByteArray("/x/a\tb\nc\rd\x1b[31m.pdf");
    QTest::newRow("utf-8 mixed with bad") << QByteArray("/x/\xc3\xa9\xc3/\xff\xfe.tif");
    QTest::newRow("colon first") << QByteArray("/:.pdf");
}

void TestLocalPath::bytesRoundTrip()
{
    QFETCH(QByteArray, path);
    const QUrl url = urlFromLocalPath(path);
    QVERIFY(url.isLocalFile());
    QCOMPARE(localPath(url), path);
    // The URL text is what lists and recent folders store.
    QCOMPARE(localPath(QUrl(url.toString())), path);
}

void TestLocalPath::utf8PathsMatchQt()
{
    const QString path = QString::fromUtf8("/tmp/Dossier été/a b#%.tif");
    QCOMPARE(urlFromLocalPath(path.toUtf8()), QUrl::fromLocalFile(path));
    QCOMPARE(urlFromLocalPath(path.toUtf8()).toString(), QUrl::fromLocalFile(path).toString());
    QCOMPARE(localPath(QUrl::fromLocalFile(path)), path.toUtf8());
    QVERIFY(localPath(QUrl(QStringLiteral("https://example.com/a.pdf"))).isEmpty());
}

void TestLocalPath::displayPath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("text");
    QTest::newRow("utf-8") << QByteArray("/a/\xc3\xa9t\xc3\xa9") << QString::fromUtf8("/a/été");
    QTest::newRow("latin-1") << QByteArray("/a/\xe9t\xe9") << QString::fromUtf8("/a/été");
    QTest::newRow("cut sequence") << QByteArray("a\xc3") << QString::fromUtf8("aÃ");
    QTest::newRow("overlong") << QByteArray("\xc0\xaf") << QString::fromUtf8("À¯");
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QString::fromUtf8("í\u00a0\u0080");
    QTest::newRow("4 bytes") << QByteArray("\xf0\x9f\x93\x84") << QString::fromUtf8("📄");
}

void TestLocalPath::displayPath()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, text);
    QCOMPARE(tallivo::displayPath(path), text);
}

void TestLocalPath::escapedForRow_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("terminal");
    QTest::newRow("plain kept exactly, backslash too")
        << QByteArray("a\\b \xc3\xa9.pdf") << QByteArray("a\\b \xc3\xa9.pdf")
        << QByteArray("a\\b \xc3\xa9.pdf");
    QTest::newRow("tab, newline, return")
        << QByteArray("a\tb\nc\rd\\e") << QByteArray("a\\tb\\nc\\rd\\\\e")
        << QByteArray("a\\tb\\nc\\rd\\\\e");
    QTest::newRow("escape sequence") << QByteArray("x\x1b[2J\x7f") << QByteArray("x\\x1B[2J\\x7F")
                                     << QByteArray("x\\x1B[2J\\x7F");
    QTest::newRow("latin-1 byte: kept in files, hex on terminals")
        << QByteArray("scan\xe9.tif") << QByteArray("scan\xe9.tif") << QByteArray("scan\\xE9.tif");
    QTest::newRow("C1 control CSI") << QByteArray("a\xc2\x9b"
                                                  "31m")
                                    << QByteArray("a\xc2\x9b"
                                                  "31m")
                                    << QByteArray("a\\xC2\\x9B"
                                                  "31m");
}

void TestLocalPath::escapedForRow()
{
    QFETCH(QByteArray, bytes);
    QTEST(tallivo::escapedForRow(bytes, RowTarget::File), "file");
    QTEST(tallivo::escapedForRow(bytes, RowTarget::Terminal), "terminal");
}

void TestLocalPath::tidyKeepsDotDot_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("tidied");
    QTest::newRow("relative") << QByteArray("a/b.pdf") << QByteArray("/w")
                              << QByteArray("/w/a/b.pdf");
    QTest::newRow("absolute ignores the folder")
        << QByteArray("/x//./y/") << QByteArray("/w") << QByteArray("/x/y");
    // A link before ".." may lead anywhere: the kernel resolves it, not us.
    QTest::newRow("dot-dot stays")
        << QByteArray("link/../x.pdf") << QByteArray("/w/") << QByteArray("/w/link/../x.pdf");
    QTest::newRow("root") << QByteArray("/.//") << QByteArray("/w") << QByteArray("/");
    QTest::newRow("bytes kept") << QByteArray("./caf\xe9.pdf") << QByteArray("/d\xff")
                                << QByteArray("/d\xff/caf\xe9.pdf");
}

void TestLocalPath::tidyKeepsDotDot()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, folder);
    QTEST(absolutePath(path, folder), "tidied");
    QCOMPARE(tidyPath("a//./b/"), QByteArray("a/b"));
    QCOMPARE(tidyPath("./"), QByteArray("."));
}

void TestLocalPath::partsOfAPath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("extension");
    QTest::newRow("plain") << QByteArray("/a/b/c.pdf") << QByteArray("c.pdf") << QByteArray("/a/b")
                           << QByteArray("pdf");
    QTest::newRow("root") << QByteArray("/c.TIF") << QByteArray("c.TIF") << QByteArray("/")
                          << QByteArray("TIF");
    QTest::newRow("dot in folder only")
        << QByteArray("/a.b/c") << QByteArray("c") << QByteArray("/a.b") << QByteArray();
    QTest::newRow("hidden name") << QByteArray("/a/.tif") << QByteArray(".tif") << QByteArray("/a")
                                 << QByteArray();
    QTest::newRow("last dot counts") << QByteArray("/a/x.tar.PDF") << QByteArray("x.tar.PDF")
                                     << QByteArray("/a") << QByteArray("PDF");
    QTest::newRow("latin-1") << QByteArray("/\xe9/\xe9.t\xee"
                                           "f")
                             << QByteArray("\xe9.t\xee"
                                           "f")
                             << QByteArray("/\xe9")
                             << QByteArray("t\xee"
                                           "f");
}

void TestLocalPath::partsOfAPath()
{
    QFETCH(QByteArray, path);
    QTEST(fileNameOf(path), "name");
    QTEST(folderOf(path), "folder");
    QTEST(extensionOf(path), "extension");
}

void TestLocalPath::countableNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("countable");
    for (const char *name :
         {"a.tif", "a.TIF", "a.Tif", "a.tIFF", "a.tiff", "a.pdf", "a.PDF", "a.Pdf", "/x.jpg/a.pDf"})
        QTest::newRow(name) << QByteArray(name) << true;
    for (const char *name : {"a.pdf ", "a.pdf\r", "a.tifff", "a.ti", ".pdf", "/a.pdf/b", "pdf",
                             "a.p\xc3\xb6"
                             "f",
                             "a.tıf"})
        QTest::newRow(name) << QByteArray(name) << false;
}

void TestLocalPath::countableNames()
{
    QFETCH(QByteArray, name);
    QTEST(isCountableName(name), "countable");
}

QTEST_GUILESS_MAIN(TestLocalPath)
#include "tst_localpath.moc"
