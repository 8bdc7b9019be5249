#include "importparser.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

static const QStringList appTypes{"tif", "TIF", "tiff", "TIFF", "pdf", "PDF"};

class TestImportParser : public QObject
{
    Q_OBJECT

private slots:
    void parseRules_data();
    void parseRules();
    void allowedTypesDecide();
    void bytes_data();
    void bytes();
    void readFile();
};

void TestImportParser::parseRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("accepted");
    const QStringList none;
    // The examples of the import rules, then the edges of a path.
    QTest::newRow("repeat dropped")
        << "/a/x.tif\n/a/x.tif\n/a/y.PDF" << QStringList{"/a/x.tif", "/a/y.PDF"};
    QTest::newRow("other types and empty lines") << "/a/x.jpg\n\n\n/a/noext\n" << none;
    QTest::newRow("carriage returns kept")
        << "/a/x.tif\r\n/a/y.pdf\r\n/a/z.pdf" << QStringList{"/a/z.pdf"};
    QTest::newRow("blanks inside, not after")
        << "/a/my scan.tif\n/a/x.tif \n/a/\tx.pdf" << QStringList{"/a/my scan.tif", "/a/\tx.pdf"};
    QTest::newRow("any letter case")
        << "/a/b.Tif\n/a/c.tiFF\n/a/d.pDf" << QStringList{"/a/b.Tif", "/a/c.tiFF", "/a/d.pDf"};
    QTest::newRow("extension of the last component only") << "/a.pdf/x\n/a/.pdf\n/a/x.tif/" << none;
    QTest::newRow("relative to the base")
        << "x.tif\n/base/x.tif\n /a/y.pdf" << QStringList{"/base/x.tif", "/base/ /a/y.pdf"};
    QTest::newRow("no NUL in a path") << QString::fromUtf16(u"/etc/passwd\0.pdf", 16) << none;
    QTest::newRow("only line feeds split")
        << QString::fromUtf8("/a/x.tif\u2028/a/y.tif\v/a/z.tif")
        << QStringList{QString::fromUtf8("/a/x.tif\u2028/a/y.tif\v/a/z.tif")};
    QTest::newRow("non-ASCII unchanged")
        << QString::fromUtf8("/données/Ärger/日本語.PDF")
        << QStringList{QString::fromUtf8("/données/Ärger/日本語.PDF")};
    QTest::newRow("empty") << QString() << none;
}

void TestImportParser::parseRules()
{
    QFETCH(QString, text);
    QFETCH(QStringList, accepted);
    QCOMPARE(parseImportText(text, appTypes, "/base"), accepted);
    QCOMPARE(totalFilesFoundText(accepted.size()),
             QStringLiteral("Total Files Found : %1").arg(accepted.size()));
}

void TestImportParser::allowedTypesDecide()
{
    const QString text = "/a/x.tif\n/a/y.PDF\n/a/z.Pdf";
    QCOMPARE(parseImportText(text, {"pdf"}), (QStringList{"/a/y.PDF", "/a/z.Pdf"}));
    QCOMPARE(parseImportText(text, {}), QStringList());
    QCOMPARE(parseImportText(u"/a/noext\n/a/x.", {""}), QStringList());
}

void TestImportParser::bytes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("accepted");
    QTest::newRow("utf-8") << QByteArray("/a/\xc3\xa9t\xc3\xa9.tif\n/b.pdf") << true
                           << QStringList{QString::fromUtf8("/a/été.tif"), "/b.pdf"};
    QTest::newRow("latin-1") << QByteArray("/a/\xe9t\xe9.tif\n/b.pdf") << false << QStringList();
    QTest::newRow("truncated sequence")
        << QByteArray("/b.pdf\n/a/\xe6\x97") << false << QStringList();
    QTest::newRow("byte-order mark")
        << QByteArray("\xef\xbb\xbf/a.pdf\n") << true << QStringList{"/a.pdf"};
    QTest::newRow("utf-16") << QByteArray("\xff\xfe/\0a\0.\0p\0d\0f\0", 14) << false
                            << QStringList();
}

void TestImportParser::bytes()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, valid);
    QFETCH(QStringList, accepted);
    bool isValid = !valid;
    QCOMPARE(parseImportList(data, appTypes, &isValid), accepted);
    QCOMPARE(isValid, valid);
}

void TestImportParser::readFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("list.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("/a.pdf\n");
    f.close();
    QCOMPARE(readImportFile(path), std::optional<QByteArray>("/a.pdf\n"));
    QString error;
    QVERIFY(!readImportFile(dir.path(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!readImportFile(dir.filePath("missing.txt")));
    // A device would be read for ever.
    QVERIFY(!readImportFile("/dev/zero"));
}

QTEST_GUILESS_MAIN(TestImportParser)
#include "tst_importparser.moc"
