#include "importparser.h"

#include <QTest>

using namespace tallivo;

class TestImportParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestImportParser::parse_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QByteArray>>("accepted");
    const QList<QByteArray> none;
    // The examples of the import rules, then the edges of a path.
    QTest::newRow("repeat dropped")
        << QByteArray("/a/x.tif\n/a/x.tif\n/a/y.PDF") << QList<QByteArray>{"/a/x.tif", "/a/y.PDF"};
    QTest::newRow("other types, empty lines, folders")
        << QByteArray("/a/x.jpg\n\n/a/noext\n/a.pdf/x\n/a/.pdf\n/a/x.tif/") << none;
    QTest::newRow("no trimming") << QByteArray("/a/x.tif\r\n/a/x.pdf \n/a/my scan.tif\n/a/\tx.pdf")
                                 << QList<QByteArray>{"/a/my scan.tif", "/a/\tx.pdf"};
    QTest::newRow("any letter case")
        << QByteArray("/a/b.Tif\n/a/c.TIF\n/a/d.pDf\n/a/e.tIFF")
        << QList<QByteArray>{"/a/b.Tif", "/a/c.TIF", "/a/d.pDf", "/a/e.tIFF"};
    QTest::newRow("tidied, dot-dot kept") << QByteArray("/a//b/./c.tif\n/a/b/c.tif\nx/../y.pdf")
                                          << QList<QByteArray>{"/a/b/c.tif", "/base/x/../y.pdf"};
    QTest::newRow("relative to the base") << QByteArray("x.tif\n/base/x.tif\n /a/y.pdf")
                                          << QList<QByteArray>{"/base/x.tif", "/base/ /a/y.pdf"};
    QTest::newRow("no NUL in a path") << QByteArray("/etc/passwd\0.pdf", 16) << none;
    QTest::newRow("only line feeds split") << QByteArray("/a/x.tif\u2028/a/y.tif\v/a/z.tif")
                                           << QList<QByteArray>{"/a/x.tif\u2028/a/y.tif\v/a/z.tif"};
    QTest::newRow("non-ASCII unchanged")
        << QByteArray("/données/日本語.PDF") << QList<QByteArray>{"/données/日本語.PDF"};
    QTest::newRow("byte-order mark skipped")
        << QByteArray("\xef\xbb\xbf/a.pdf\n") << QList<QByteArray>{"/a.pdf"};
    // Names from older systems keep their bytes.
    QTest::newRow("not UTF-8: kept as bytes") << QByteArray("/a/\xe9t\xe9.tif\n/b.pdf")
                                              << QList<QByteArray>{"/a/\xe9t\xe9.tif", "/b.pdf"};
    // Never a Qt resource, always a file.
    QTest::newRow("leading colon is a relative name")
        << QByteArray(":.pdf\n:/x.tif") << QList<QByteArray>{"/base/:.pdf", "/base/:/x.tif"};
}

void TestImportParser::parse()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<QByteArray>, accepted);
    QCOMPARE(parseImportList(data, "/base"), accepted);
}

QTEST_GUILESS_MAIN(TestImportParser)
#include "tst_importparser.moc"
