#include "pagedetails.h"
#include "pagesummary.h"
#include "tiffdirectories.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace tallivo;

class TestPageDetails : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sizeClasses_data();
    void sizeClasses();
    void otherSizesKeepTheirSides();
    void a4Equivalents_data();
    void a4Equivalents();
    void tiffSizes_data();
    void tiffSizes();
    void tiffColours_data();
    void tiffColours();
    void fileSummary();
    void pagesWithoutDetailsAreUnknown();
    void columnsSortByTheirNumbers();
    void tableMergesAndUnmerges();
};

void TestPageDetails::sizeClasses_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<QString>("label");
    QTest::newRow("A4 landscape") << 297.0 << 210.0 << "A4";
    QTest::newRow("A4, 2% larger") << 214.2 << 302.9 << "A4";
    QTest::newRow("A4 too wide") << 214.5 << 297.0 << "other 215 x 297 mm";
    QTest::newRow("A6 within 3 mm") << 108.0 << 145.0 << "A6";
    QTest::newRow("A6 past 3 mm") << 108.5 << 148.0 << "other 109 x 148 mm";
    QTest::newRow("JIS B5 is no B5") << 182.0 << 257.0 << "other 182 x 257 mm";
    QTest::newRow("Letter from a fax") << 215.0 << 280.1 << "Letter";
    QTest::newRow("Ledger") << 431.8 << 279.4 << "Tabloid";
    QTest::newRow("A0 wide, ANSI E long") << 850.0 << 1117.6 << "ANSI E";
    QTest::newRow("sliver") << 0.2 << 0.3 << "other 1 x 1 mm";
    QTest::newRow("longer than 65 m") << 100.0 << 65001.0 << "unknown size";
    QTest::newRow("no size") << 0.0 << 0.0 << "unknown size";
    QTest::newRow("not a number") << std::nan("") << 297.0 << "unknown size";
}

void TestPageDetails::sizeClasses()
{
    QFETCH(double, width);
    QFETCH(double, height);
    const SizeClass size = SizeClass::classify(width, height);
    QTEST(size.label(), "label");
    QCOMPARE(SizeClass::fromKey(size.key()), size);
}

void TestPageDetails::otherSizesKeepTheirSides()
{
    const SizeClass a = SizeClass::other(300, 200);
    QCOMPARE(a.shortSideMm(), 200);
    QCOMPARE(a.longSideMm(), 300);
    QVERIFY(a.isOther());
    // Named first, in their list order, then other sizes, then unknown.
    QVERIFY(SizeClass::named(SizeClass::A0) < SizeClass::named(SizeClass::A4));
    QVERIFY(SizeClass::named(SizeClass::AnsiE) < SizeClass::other(1, 1));
    QVERIFY(SizeClass::other(1, 2) < SizeClass::other(2, 1000));
    QVERIFY(SizeClass::other(SizeClass::kMaxSideMm, SizeClass::kMaxSideMm) < SizeClass());
    // Keys from elsewhere (a stored list) that no class has read as unknown.
    QVERIFY(SizeClass::fromKey(SizeClass::NamedCount).isUnknown());
    QVERIFY(SizeClass::fromKey(quint32(300) << 16 | 200).isUnknown());
    QVERIFY(SizeClass::fromKey(0xffffffff).isUnknown());
}

void TestPageDetails::a4Equivalents_data()
{
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("height");
    QTest::addColumn<int>("expected");
    QTest::newRow("A4 scanned 2 mm large") << 212.f << 299.f << 1;
    QTest::newRow("Letter") << 215.9f << 279.4f << 1;
    QTest::newRow("Legal") << 215.9f << 355.6f << 2;
    QTest::newRow("A3 at the 2% limit") << 302.9f << 428.4f << 2;
    QTest::newRow("A3, 10% more area") << 311.5f << 441.f << 3;
    QTest::newRow("A0 at the 2% limit") << 857.8f << 1212.8f << 16;
    QTest::newRow("unknown size") << 0.f << 0.f << 1;
}

void TestPageDetails::a4Equivalents()
{
    QFETCH(float, width);
    QFETCH(float, height);
    QTEST(tallivo::a4Equivalents(PageInfo{width, height, ColourClass::Unknown}), "expected");
}

void TestPageDetails::tiffSizes_data()
{
    // An A4 page at 300 dpi: 2480 x 3508 pixels.
    QTest::addColumn<double>("xres");
    QTest::addColumn<double>("yres");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<float>("widthMm");
    QTest::newRow("inches") << 300.0 << 300.0 << 2 << 1 << 209.97f;
    QTest::newRow("no unit means inches") << 300.0 << 300.0 << 0 << 0 << 209.97f;
    QTest::newRow("centimetres") << 118.11 << 118.11 << 3 << 0 << 209.97f;
    // Orientations 5 to 8 swap rows and columns, 1 to 4 only mirror or turn
    // the image half way.
    for (int orientation = 1; orientation <= 8; ++orientation)
        QTest::addRow("orientation %d", orientation)
            << 300.0 << 300.0 << 2 << orientation << (orientation >= 5 ? 297.01f : 209.97f);
    QTest::newRow("fax resolution") << 300.0 << 150.0 << 2 << 1 << 209.97f;
    QTest::newRow("unit none") << 300.0 << 300.0 << 1 << 0 << 0.f;
    QTest::newRow("no resolution") << 0.0 << 0.0 << 2 << 0 << 0.f;
    QTest::newRow("1 dpi placeholder") << 1.0 << 1.0 << 2 << 0 << 0.f;
    QTest::newRow("10 dpi") << 10.0 << 10.0 << 2 << 0 << 6299.2f;
    QTest::newRow("3.9 per cm") << 3.9 << 3.9 << 3 << 0 << 0.f;
    QTest::newRow("not a number") << std::nan("") << 300.0 << 2 << 0 << 0.f;
}

void TestPageDetails::tiffSizes()
{
    TiffDirectory d;
    d.width = 2480;
    d.length = 3508;
    QFETCH(double, xres);
    QFETCH(double, yres);
    QFETCH(int, unit);
    QFETCH(int, orientation);
    QFETCH(float, widthMm);
    d.xResolution = xres;
    d.yResolution = yres;
    d.resolutionUnit = unit;
    d.orientation = orientation;
    const PageInfo page = d.page();
    QVERIFY2(qAbs(page.widthMm - widthMm) < 0.01f, qPrintable(QString::number(page.widthMm)));
    QCOMPARE(page.hasSize(), widthMm > 0);
    // Absurd sizes from plausible resolutions are no size either.
    d.width = 4'000'000'000;
    QCOMPARE(d.page().hasSize(), false);
}

void TestPageDetails::tiffColours_data()
{
    QTest::addColumn<int>("photometric");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::addColumn<ColourClass>("colour");
    QTest::newRow("fax, white is zero") << 0 << 1 << 1 << ColourClass::BlackWhite;
    QTest::newRow("bits default to 1") << 1 << 0 << 0 << ColourClass::BlackWhite;
    QTest::newRow("8-bit grey") << 1 << 8 << 1 << ColourClass::Grey;
    QTest::newRow("RGB") << 2 << 8 << 3 << ColourClass::Colour;
    QTest::newRow("1-bit palette") << 3 << 1 << 1 << ColourClass::Colour;
    QTest::newRow("LogL") << 32844 << 16 << 1 << ColourClass::Grey;
    QTest::newRow("mask") << 4 << 1 << 1 << ColourClass::Unknown;
    QTest::newRow("missing, 1 bit") << -1 << 1 << 1 << ColourClass::BlackWhite;
    QTest::newRow("missing, 8 bits") << -1 << 8 << 1 << ColourClass::Unknown;
}

void TestPageDetails::tiffColours()
{
    TiffDirectory d;
    QFETCH(int, photometric);
    QFETCH(int, bits);
    QFETCH(int, samples);
    d.photometric = photometric;
    d.bitsPerSample = bits;
    d.samplesPerPixel = samples;
    QTEST(d.page().colour, "colour");
}

namespace {

PageInfo page(float w, float h, ColourClass c)
{
    return PageInfo{w, h, c};
}

std::vector<PageInfo> pages(int n, PageInfo p)
{
    return std::vector<PageInfo>(size_t(n), p);
}

} // namespace

void TestPageDetails::fileSummary()
{
    std::vector<PageInfo> list = pages(10, page(210, 297, ColourClass::BlackWhite));
    list.push_back(page(297, 420, ColourClass::Grey));
    list.push_back(page(421, 298, ColourClass::Colour)); // A3 landscape, scanned large
    list.push_back(page(297.5f, 210.5f, ColourClass::Colour));
    list.push_back(page(220, 300, ColourClass::BlackWhite));
    const PageSummary s = PageSummary::fromPages(list, 14);
    // 11 A4, 2 A3 counting 2 each, 220 x 300 counting 2.
    QCOMPARE(s.a4Equivalents(), qint64(11 + 4 + 2));
    QCOMPARE(s.pages(), qint64(14));
    QCOMPARE(s.pages(ColourClass::Colour), qint64(2));
    QCOMPARE(s.pagesBySize().front().second, qint64(11));
    QCOMPARE(int(s.rows().size()), 5);
    QCOMPARE(s.rows().front().size, SizeClass::named(SizeClass::A3).key());

    const PageSummary none;
    QVERIFY(none.isEmpty());
}

void TestPageDetails::pagesWithoutDetailsAreUnknown()
{
    // Details stop at a cap, or are missing for a file counted without them.
    const PageSummary s = PageSummary::fromPages(pages(3, page(0, 0, ColourClass::Grey)), 5);
    QCOMPARE(s.a4Equivalents(), qint64(5));
    // More details than pages: the count holds.
    const PageSummary fewer = PageSummary::fromPages(pages(4, page(210, 297, {})), 2);
    QCOMPARE(fewer.pages(), qint64(2));
    QCOMPARE(PageSummary::fromPages({}, 0), PageSummary());
}

void TestPageDetails::columnsSortByTheirNumbers()
{
    const auto summary = [](std::initializer_list<std::pair<int, PageInfo>> runs) {
        std::vector<PageInfo> list;
        for (const auto &[n, p] : runs)
            list.insert(list.end(), size_t(n), p);
        return PageSummary::fromPages(list, qint32(list.size()));
    };
    const PageInfo a4 = page(210, 297, ColourClass::BlackWhite);
    const PageInfo a3 = page(297, 420, ColourClass::Colour);
    const PageInfo grey = page(210, 297, ColourClass::Grey);
    const PageInfo odd = page(100, 100, ColourClass::Unknown);
    const PageInfo unknown = page(0, 0, ColourClass::Unknown);

    // Sizes: by the size most pages have, then how many.
    QVERIFY(summary({{1, a3}}).sizesSortKey() < summary({{100, a4}}).sizesSortKey());
    QVERIFY(summary({{2, a4}}).sizesSortKey() < summary({{12, a4}, {3, a3}}).sizesSortKey());
    QVERIFY(summary({{9, a4}}).sizesSortKey() < summary({{1, odd}}).sizesSortKey());
    QVERIFY(summary({{9, odd}}).sizesSortKey() < summary({{1, unknown}}).sizesSortKey());

    // Colour: colour pages, then grey ones.
    QVERIFY(summary({{50, a4}}).colourSortKey() < summary({{1, grey}}).colourSortKey());
    QVERIFY(summary({{50, grey}}).colourSortKey() < summary({{1, a3}}).colourSortKey());
    QCOMPARE(summary({{3, a3}}).a4EquivalentsSortKey(), qint64(6));
}

void TestPageDetails::tableMergesAndUnmerges()
{
    const PageSummary first = PageSummary::fromPages(
        {page(210, 297, ColourClass::BlackWhite), page(210, 297, ColourClass::Colour),
         page(0, 0, ColourClass::Grey), page(100, 100, ColourClass::Unknown)},
        4);
    const PageSummary second = PageSummary::fromPages(
        {page(841, 1189, ColourClass::Colour), page(297, 210, ColourClass::BlackWhite)}, 2);

    PageTable table;
    table.add(first);
    table.add(second);
    table.add(PageSummary());
    QCOMPARE(table.files(), qint64(2));
    const std::vector<PageTable::Row> rows = table.rows();
    QCOMPARE(int(rows.size()), 4);
    QCOMPARE(rows[0].size.label(), QStringLiteral("A0"));
    QCOMPARE(rows[0].pages[size_t(ColourClass::Colour)], qint64(1));
    QCOMPARE(rows[0].a4Equivalents, qint64(16));
    QCOMPARE(rows[1].size.label(), QStringLiteral("A4"));
    QCOMPARE(rows[1].pages[size_t(ColourClass::BlackWhite)], qint64(2));
    QCOMPARE(rows[1].pages[size_t(ColourClass::Colour)], qint64(1));
    QCOMPARE(rows[1].total, qint64(3));
    QCOMPARE(rows[2].size.label(), QStringLiteral("other 100 x 100 mm"));
    QCOMPARE(rows[3].size.label(), QStringLiteral("unknown size"));
    QCOMPARE(rows[3].pages[size_t(ColourClass::Grey)], qint64(1));
    const PageTable::Row totals = table.totals();
    QCOMPARE(totals.total, qint64(6));
    QCOMPARE(totals.a4Equivalents, qint64(16 + 3 + 1 + 1));
    QCOMPARE(totals.pages[size_t(ColourClass::BlackWhite)], qint64(2));

    table.remove(first);
    QCOMPARE(table.rows().size(), size_t(2));
    QCOMPARE(table.totals().total, qint64(2));
    table.remove(second);
    QVERIFY(table.isEmpty());
    QCOMPARE(table.files(), qint64(0));
}

QTEST_GUILESS_MAIN(TestPageDetails)
#include "tst_pagedetails.moc"
