#include "exporter.h"
#include "exporttext.h"
#include "fileitem.h"
#include "filelist.h"
#include "importparser.h"
#include "localpath.h"
#include "pagelisttext.h"
#include "pagereport.h"

#include <QTest>

using namespace tallivo;

class TestImportParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
    void ownTables_data();
    void ownTables();
    void exportRoundTrip();
    void pageListRoundTrip();
    void overlongLinesAreDropped_data();
    void overlongLinesAreDropped();
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

void TestImportParser::ownTables_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QByteArray>>("accepted");
    const QByteArray header = "Name\tPages\tSize\tType\tModified Date\tAccessed Date\tCreated "
                              "Date\tLocation\n";
    const QByteArray dates = "\t(null)\t(null)\t(null)\t";

    QTest::newRow("export") << header + "b.tif\t3\t 1 KB\ttif" + dates + "/a\n" +
                                   "c.PDF\t1\t 1 KB\tPDF" + dates + "/\n" + "x.jpg\t0\t\tjpg" +
                                   dates + "/a\n"
                            << QList<QByteArray>{"/a/b.tif", "/c.PDF"};
    QTest::newRow("export, columns in another order")
        << QByteArray("Location\tPages\tName\n/a/b\t2\tx.pdf\n/a\t1\ty.tif\n")
        << QList<QByteArray>{"/a/b/x.pdf", "/a/y.tif"};
    QTest::newRow("export saved with CR LF")
        << QByteArray("Name\tLocation\r\nx.pdf\t/a\r\ny.tif\t/a\r\n")
        << QList<QByteArray>{"/a/x.pdf", "/a/y.tif"};
    QTest::newRow("export, escaped fields")
        << QByteArray("Name\tLocation\na\\tb.pdf\t/c\\x01d\nback\\\\\\nslash.tif\t/e\n")
        << QList<QByteArray>{"/c\x01"
                             "d/a\tb.pdf",
                             "/e/back\\\nslash.tif"};
    // Fields without a control character were written as they are. (A name
    // such as "C:\new.pdf" reads both ways; it is taken as the writer's
    // escape for "C:", a line feed and "ew.pdf".)
    QTest::newRow("export, a name's own backslashes")
        << QByteArray("Name\tLocation\nC:\\data\\scan.pdf\t/w\\x41\nb\\\\.tif\t/w\n")
        << QList<QByteArray>{"/w\\x41/C:\\data\\scan.pdf", "/w/b\\\\.tif"};
    QTest::newRow("export, short and odd rows")
        << QByteArray("Name\tLocation\nonly-a-name.pdf\n\t/a\na/b.pdf\t/c\nrel.pdf\tsub\n")
        << QList<QByteArray>{"/base/sub/rel.pdf"};
    QTest::newRow("page listing") << QByteArray(
                                         "Path\tPage\tWidth mm\tHeight mm\tSize\tA4 eq.\tColour\n"
                                         "/a/x.pdf\t1\t210.0\t297.0\tA4\t1\tColour\n"
                                         "/a/x.pdf\t2\t\t\tUnknown\t1\tUnknown\n"
                                         "/a/t\\tab.tif\t1\t\t\tUnknown\t1\tUnknown\n")
                                  << QList<QByteArray>{"/a/x.pdf", "/a/t\tab.tif"};
    // A list of paths whose first line happens to hold these words.
    QTest::newRow("not a header") << QByteArray("/a/Name Location.pdf\n/a/Path\tPage.tif\n")
                                  << QList<QByteArray>{"/a/Name Location.pdf", "/a/Path\tPage.tif"};
}

void TestImportParser::ownTables()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<QByteArray>, accepted);
    QCOMPARE(parseImportList(data, "/base"), accepted);
}

namespace {

// Names the export and the page listing must carry through unchanged.
QList<QByteArray> oddPaths()
{
    return {"/srv/scans/Box 1/a.tif",    "/srv/scans/Box 1/b.PDF",         "/x.Tiff",
            "/srv/t\tab/n\nl.pdf",       "/srv/back\\slash\\n/c\\x41.pdf", "/srv/both\\n\t.pdf",
            "/srv/caf\xe9/\xff\xfe.tif", "/srv/ctrl\x01\x7f/bell\a.pdf",   "/srv/cr\r/.pdf.tif"};
}

} // namespace

void TestImportParser::exportRoundTrip()
{
    // The real writer's text, read back: the same files in the same order.
    FileList files;
    for (const QByteArray &path : oddPaths())
        QVERIFY(files.append(std::make_unique<FileItem>(urlFromLocalPath(path), 2, 1000)));
    const QByteArray text = tallivo::test::exportText(files);
    QCOMPARE(parseImportList(text, "/elsewhere"), oddPaths());
    QCOMPARE(parseImportList("\xef\xbb\xbf" + text, "/elsewhere"), oddPaths());
}

void TestImportParser::pageListRoundTrip()
{
    std::vector<FilePages> files;
    for (const QByteArray &path : oddPaths())
        files.push_back({urlFromLocalPath(path), 3, {}});
    QCOMPARE(parseImportList(test::pageListText(files), "/elsewhere"), oddPaths());
}

void TestImportParser::overlongLinesAreDropped_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QByteArray>>("accepted");
    QTest::addColumn<int>("tooLong");
    const QByteArray longest = "/a/" + QByteArray(251, 'n') + ".pdf"; // a 255-byte name
    const QByteArray over = "/a/" + QByteArray(252, 'n') + ".pdf";
    QTest::newRow("the longest name") << longest << QList<QByteArray>{longest} << 0;
    QTest::newRow("a byte more") << over + "\n/b.pdf" << QList<QByteArray>{"/b.pdf"} << 1;
    QTest::newRow("a folder's name") << "/" + QByteArray(300, 'd') + "/x.tif\n"
                                     << QList<QByteArray>{} << 1;
    QTest::newRow("a line of megabytes")
        << "/a.tif\n/x/" + QByteArray(8 << 20, 'm') + ".pdf\n" + QByteArray(300, ' ') + "\n/c.pdf"
        << QList<QByteArray>{"/a.tif", "/c.pdf"} << 2;
    // Only names have a limit: a path may be longer than PATH_MAX.
    QByteArray deep;
    for (int i = 0; i < 1000; ++i)
        deep += "/folder " + QByteArray::number(i);
    deep += "/x.pdf";
    QTest::newRow("a deep path") << deep << QList<QByteArray>{deep} << 0;
    QTest::newRow("an export's row")
        << "Name\tLocation\n" + QByteArray(256, 'e') + ".tif\t/a\nb.tif\t/a\n"
        << QList<QByteArray>{"/a/b.tif"} << 1;
}

void TestImportParser::overlongLinesAreDropped()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<QByteArray>, accepted);
    QFETCH(int, tooLong);
    qsizetype dropped = -1;
    QCOMPARE(parseImportList(data, "/base", &dropped), accepted);
    QCOMPARE(dropped, qsizetype(tooLong));
}

QTEST_GUILESS_MAIN(TestImportParser)
#include "tst_importparser.moc"
