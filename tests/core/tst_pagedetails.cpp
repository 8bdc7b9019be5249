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
    QTest::newRow("A4") << 210.0 << 297.0 << "A4";
    QTest::newRow("A4 landscape") << 297.0 << 210.0 << "A4";
    QTest::newRow("A4, 2% larger on both sides") << 214.2 << 302.9 << "A4";
    QTest::newRow("A4, 2% smaller") << 205.8 << 291.1 << "A4";
    QTest::newRow("A4 too wide") << 214.5 << 297.0 << "other 215 x 297 mm";
    QTest::newRow("A6 within 3 mm") << 108.0 << 145.0 << "A6";
    QTest::newRow("A6 past 3 mm") << 108.5 << 148.0 << "other 109 x 148 mm";
    QTest::newRow("A5") << 148.0 << 210.0 << "A5";
    QTest::newRow("A3") << 420.0 << 297.0 << "A3";
    QTest::newRow("A2") << 420.0 << 594.0 << "A2";
    QTest::newRow("A1") << 594.0 << 841.0 << "A1";
    QTest::newRow("A0 at 2%") << 857.8 << 1165.3 << "A0";
    QTest::newRow("B4") << 250.0 << 353.0 << "B4";
    QTest::newRow("B5") << 176.0 << 250.0 << "B5";
    QTest::newRow("JIS B5 is no B5") << 182.0 << 257.0 << "other 182 x 257 mm";
    QTest::newRow("Letter") << 215.9 << 279.4 << "Letter";
    QTest::newRow("Letter from a 200 dpi fax") << 215.0 << 280.1 << "Letter";
    QTest::newRow("Legal") << 215.9 << 355.6 << "Legal";
    QTest::newRow("Ledger") << 431.8 << 279.4 << "Tabloid";
    QTest::newRow("ANSI C") << 431.8 << 558.8 << "ANSI C";
    QTest::newRow("ANSI D") << 863.6 << 558.8 << "ANSI D";
    QTest::newRow("ANSI E") << 863.6 << 1117.6 << "ANSI E";
    QTest::newRow("A0 width, ANSI E length") << 850.0 << 1117.6 << "ANSI E";
    QTest::newRow("roll plot") << 914.0 << 12000.0 << "other 914 x 12000 mm";
    QTest::newRow("sliver") << 0.2 << 0.3 << "other 1 x 1 mm";
    QTest::newRow("longer than 65 m") << 100.0 << 65001.0 << "unknown size";
    QTest::newRow("no size") << 0.0 << 0.0 << "unknown size";
    QTest::newRow("negative") << -210.0 << 297.0 << "unknown size";
    QTest::newRow("not a number") << std::nan("") << 297.0 << "unknown size";
    QTest::newRow("infinite") << 210.0 << std::numeric_limits<double>::infinity() << "unknown size";
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
    QTest::newRow("A4") << 210.f << 297.f << 1;
    QTest::newRow("A4 scanned 2 mm large") << 212.f << 299.f << 1;
    QTest::newRow("A4 at the 2% limit") << 214.2f << 302.9f << 1;
    QTest::newRow("A5") << 148.f << 210.f << 1;
    QTest::newRow("Letter") << 215.9f << 279.4f << 1;
    QTest::newRow("Legal") << 215.9f << 355.6f << 2;
    QTest::newRow("A3") << 297.f << 420.f << 2;
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
    QTest::addColumn<quint64>("width");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<double>("xres");
    QTest::addColumn<double>("yres");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("label");
    QTest::addColumn<float>("widthMm");
    QTest::newRow("A4 at 300 dpi")
        << quint64(2480) << quint64(3508) << 300.0 << 300.0 << 2 << 1 << "A4" << 209.97f;
    QTest::newRow("no unit means inches")
        << quint64(2480) << quint64(3508) << 300.0 << 300.0 << 0 << 0 << "A4" << 209.97f;
    QTest::newRow("centimetres") << quint64(2480) << quint64(3508) << 118.11 << 118.11 << 3 << 0
                                 << "A4" << 209.97f;
    QTest::newRow("fax, 204 x 196 dpi")
        << quint64(1728) << quint64(2160) << 204.0 << 196.0 << 2 << 0 << "Letter" << 215.15f;
    QTest::newRow("turned a quarter")
        << quint64(3508) << quint64(2480) << 300.0 << 300.0 << 2 << 6 << "A4" << 209.97f;
    QTest::newRow("no unit at all")
        << quint64(2480) << quint64(3508) << 300.0 << 300.0 << 1 << 0 << "unknown size" << 0.f;
    QTest::newRow("unit unheard of")
        << quint64(2480) << quint64(3508) << 300.0 << 300.0 << 7 << 0 << "unknown size" << 0.f;
    QTest::newRow("no resolution")
        << quint64(2480) << quint64(3508) << 0.0 << 0.0 << 2 << 0 << "unknown size" << 0.f;
    QTest::newRow("one resolution")
        << quint64(2480) << quint64(3508) << 300.0 << 0.0 << 2 << 0 << "unknown size" << 0.f;
    QTest::newRow("1 dpi placeholder")
        << quint64(2480) << quint64(3508) << 1.0 << 1.0 << 2 << 0 << "unknown size" << 0.f;
    QTest::newRow("10 dpi is still a page")
        << quint64(100) << quint64(100) << 10.0 << 10.0 << 2 << 0 << "other 254 x 254 mm" << 254.f;
    QTest::newRow("4 per cm is too coarse")
        << quint64(100) << quint64(100) << 3.9 << 3.9 << 3 << 0 << "unknown size" << 0.f;
    QTest::newRow("negative") << quint64(2480) << quint64(3508) << -300.0 << -300.0 << 2 << 0
                              << "unknown size" << 0.f;
    QTest::newRow("not a number") << quint64(2480) << quint64(3508) << std::nan("") << 300.0 << 2
                                  << 0 << "unknown size" << 0.f;
    QTest::newRow("no pixels") << quint64(0) << quint64(3508) << 300.0 << 300.0 << 2 << 0
                               << "unknown size" << 0.f;
    QTest::newRow("a 4-gigapixel strip at 10 dpi")
        << quint64(4'000'000'000) << quint64(10) << 10.0 << 10.0 << 2 << 0 << "unknown size" << 0.f;
}

void TestPageDetails::tiffSizes()
{
    TiffDirectory d;
    QFETCH(quint64, width);
    QFETCH(quint64, length);
    QFETCH(float, widthMm);
    d.width = width;
    d.length = length;
    QFETCH(double, xres);
    QFETCH(double, yres);
    QFETCH(int, unit);
    QFETCH(int, orientation);
    d.xResolution = xres;
    d.yResolution = yres;
    d.resolutionUnit = unit;
    d.orientation = orientation;
    const PageInfo page = d.page();
    QTEST(SizeClass::classify(page.widthMm, page.heightMm).label(), "label");
    QVERIFY(std::abs(page.widthMm - widthMm) < 0.01f);
}

void TestPageDetails::tiffColours_data()
{
    QTest::addColumn<int>("photometric");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::addColumn<ColourClass>("colour");
    QTest::newRow("fax, white is zero") << 0 << 1 << 1 << ColourClass::BlackWhite;
    QTest::newRow("bilevel, black is zero") << 1 << 1 << 1 << ColourClass::BlackWhite;
    QTest::newRow("bits default to 1") << 0 << 0 << 0 << ColourClass::BlackWhite;
    QTest::newRow("8-bit grey") << 1 << 8 << 1 << ColourClass::Grey;
    QTest::newRow("grey and alpha") << 1 << 8 << 2 << ColourClass::Grey;
    QTest::newRow("4-bit grey") << 0 << 4 << 1 << ColourClass::Grey;
    QTest::newRow("RGB") << 2 << 8 << 3 << ColourClass::Colour;
    QTest::newRow("palette") << 3 << 8 << 1 << ColourClass::Colour;
    QTest::newRow("1-bit palette") << 3 << 1 << 1 << ColourClass::Colour;
    QTest::newRow("CMYK") << 5 << 8 << 4 << ColourClass::Colour;
    QTest::newRow("YCbCr") << 6 << 8 << 3 << ColourClass::Colour;
    QTest::newRow("CIELab") << 8 << 8 << 3 << ColourClass::Colour;
    QTest::newRow("ICCLab") << 9 << 8 << 3 << ColourClass::Colour;
    QTest::newRow("ITULab") << 10 << 8 << 3 << ColourClass::Colour;
    QTest::newRow("LogL") << 32844 << 16 << 1 << ColourClass::Grey;
    QTest::newRow("LogLuv") << 32845 << 16 << 3 << ColourClass::Colour;
    QTest::newRow("mask") << 4 << 1 << 1 << ColourClass::Unknown;
    QTest::newRow("unheard of") << 77 << 8 << 1 << ColourClass::Unknown;
    QTest::newRow("missing, 1 bit") << -1 << 1 << 1 << ColourClass::BlackWhite;
    QTest::newRow("missing, 8 bits") << -1 << 8 << 1 << ColourClass::Unknown;
    QTest::newRow("missing, 3 samples") << -1 << 8 << 3 << ColourClass::Unknown;
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
    QCOMPARE(s.sizesText(), QStringLiteral("A4 x 11, A3 x 2, other 220 x 300 mm x 1"));
    QCOMPARE(s.colourText(), QStringLiteral("B/W 11, Grey 1, Colour 2"));
    // 11 A4, 2 A3 counting 2 each, 220 x 300 counting 2.
    QCOMPARE(s.a4Equivalents(), qint64(11 + 4 + 2));
    QCOMPARE(s.a4EquivalentsText(), QStringLiteral("17"));
    QCOMPARE(s.pages(), qint64(14));
    QCOMPARE(int(s.rows().size()), 5);
    QCOMPARE(s.rows().front().size, SizeClass::named(SizeClass::A3).key());

    const PageSummary none;
    QVERIFY(none.isEmpty());
    QCOMPARE(none.sizesText(), QString());
    QCOMPARE(none.colourText(), QString());
    QCOMPARE(none.a4EquivalentsText(), QString());
}

void TestPageDetails::pagesWithoutDetailsAreUnknown()
{
    // Details stop at a cap, or are missing for a file counted without them.
    const PageSummary s = PageSummary::fromPages(pages(3, page(0, 0, ColourClass::Grey)), 5);
    QCOMPARE(s.sizesText(), QStringLiteral("unknown size x 5"));
    QCOMPARE(s.colourText(), QStringLiteral("Grey 3, Unknown 2"));
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
    QVERIFY(PageSummary().sizesSortKey() < summary({{1, a3}}).sizesSortKey());

    // Colour: colour pages, then grey ones.
    QVERIFY(summary({{50, a4}}).colourSortKey() < summary({{1, grey}}).colourSortKey());
    QVERIFY(summary({{50, grey}}).colourSortKey() < summary({{1, a3}}).colourSortKey());
    QVERIFY(summary({{1, a3}}).colourSortKey() < summary({{2, a3}}).colourSortKey());
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
