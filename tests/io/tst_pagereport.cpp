#include "localpath.h"
#include "pagelisttext.h"
#include "pagereport.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

class TestPageReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void escapedPaths_data();
    void escapedPaths();
    void pageList();
    void summaryTable();
    void csvIsSavedWhole();
};

void TestPageReport::escapedPaths_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("plain") << QByteArray("/scans/a b.tif") << QByteArray("/scans/a b.tif");
    QTest::newRow("tab and newlines")
        << QByteArray("/x/a\tb\r\n.tif") << QByteArray("/x/a\\tb\\r\\n.tif");
    QTest::newRow("backslash without control characters kept")
        << QByteArray("/x/a\\t.tif") << QByteArray("/x/a\\t.tif");
    QTest::newRow("not UTF-8") << QByteArray("/x/\xe9t\xe9.tif") << QByteArray("/x/\xe9t\xe9.tif");
}

void TestPageReport::escapedPaths()
{
    QFETCH(QByteArray, path);
    QTEST(escapedPath(path), "escaped");
    // The listing writes the same bytes for the file's URL.
    const QByteArray rows = test::pageListRows(FilePages{urlFromLocalPath(path), 1, {}});
    QCOMPARE(rows.left(rows.indexOf('\t')), escapedPath(path));
}

void TestPageReport::pageList()
{
    std::vector<FilePages> files;
    files.push_back(
        {urlFromLocalPath("/scans/\xff\tplan.tif"),
         2,
         {{841.f, 1189.f, ColourClass::Colour}, {296.96f, 209.97f, ColourClass::BlackWhite}}});
    // Three pages, two described: the last one is unknown.
    files.push_back(
        {urlFromLocalPath("/docs/letter.pdf"),
         3,
         {{215.9f, 279.4f, ColourClass::Unknown}, {100.04f, 100.f, ColourClass::Unknown}}});
    files.push_back({urlFromLocalPath("/docs/empty.pdf"), 0, {}});
    QCOMPARE(test::pageListText(files),
             QByteArray("Path\tPage\tWidth mm\tHeight mm\tSize\tA4 eq.\tColour\n"
                        "/scans/\xff\\tplan.tif\t1\t841.0\t1189.0\tA0\t16\tColour\n"
                        "/scans/\xff\\tplan.tif\t2\t297.0\t210.0\tA4\t1\tB/W\n"
                        "/docs/letter.pdf\t1\t215.9\t279.4\tLetter\t1\tUnknown\n"
                        "/docs/letter.pdf\t2\t100.0\t100.0\tother 100 x 100 mm\t1\tUnknown\n"
                        "/docs/letter.pdf\t3\t\t\tunknown size\t1\tUnknown\n"
                        "/docs/empty.pdf\t0\t\t\t\t0\t\n"));

    // Many pages go out in pieces; a device that refuses them is reported.
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QVERIFY(writePageListRows(sink, FilePages{urlFromLocalPath("/a.pdf"), 5000, {}}));
    QCOMPARE(sink.data().count('\n'), 5000);
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ReadOnly device")));
    QVERIFY(!writePageListRows(readOnly, FilePages{urlFromLocalPath("/a.pdf"), 1, {}}));
}

void TestPageReport::summaryTable()
{
    PageTable table;
    table.add(
        PageSummary::fromPages(std::vector<PageInfo>(12, {210, 297, ColourClass::BlackWhite}), 12));
    table.add(
        PageSummary::fromPages({{297, 420, ColourClass::Colour}, {0, 0, ColourClass::Grey}}, 2));
    QCOMPARE(pageTableText(table),
             QStringLiteral("Size          B/W  Grey  Colour  Unknown  Total  A4 eq.\n"
                            "A3              0     0       1        0      1       2\n"
                            "A4             12     0       0        0     12      12\n"
                            "unknown size    0     1       0        0      1       1\n"
                            "Total          12     1       1        0     14      15\n"));
    QCOMPARE(pageTableCsv(table), QByteArray("Size,B/W,Grey,Colour,Unknown,Total,A4 eq.\n"
                                             "A3,0,0,1,0,1,2\n"
                                             "A4,12,0,0,0,12,12\n"
                                             "unknown size,0,1,0,0,1,1\n"
                                             "Total,12,1,1,0,14,15\n"));
    // An empty list still has its header and total.
    QCOMPARE(pageTableCsv(PageTable()), QByteArray("Size,B/W,Grey,Colour,Unknown,Total,A4 eq.\n"
                                                   "Total,0,0,0,0,0,0\n"));
}

void TestPageReport::csvIsSavedWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PageTable table;
    table.add(PageSummary::fromPages({{210, 297, ColourClass::Grey}}, 1));
    const QString path = dir.filePath(QStringLiteral("pages.csv"));
    QString error;
    QVERIFY(savePageTableCsv(table, path, &error));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), pageTableCsv(table));

    QVERIFY(!savePageTableCsv(table, dir.filePath(QStringLiteral("missing/pages.csv")), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!savePageTableCsv(table, QString(), &error));
}

QTEST_GUILESS_MAIN(TestPageReport)
#include "tst_pagereport.moc"
