#include "colourtolerance.h"
#include "pagecount.h"
#include "pdfcolour.h"
#include "pdfcolourbuilder.h"
#include "pdfworkers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <poppler-global.h>

using namespace tallivo;
using namespace tallivo::testing;

namespace {

// A page of grey text with one red logo of `side` x `side` points, drawn as
// `kind`: a rectangle the operators show, or an image or a shading, which
// the page must be rendered for. 9 pt square is 10 mm^2, 16 pt 32 mm^2.
QByteArray logoPage(const QByteArray &kind, double side)
{
    const QByteArray s = QByteArray::number(side, 'f', 2);
    const QByteArray text = "BT /F1 10 Tf 0.3 g 20 150 Td (Invoice 4711) Tj ET\n";
    PdfBuilder b;
    if (kind == "rectangle") {
        b.page(text + "1 0 0 rg 100 60 " + s + ' ' + s + " re f", kFont);
    } else if (kind == "image") {
        const int im = b.stream("/Type/XObject/Subtype/Image/Width 2/Height 2/ColorSpace/DeviceRGB"
                                "/BitsPerComponent 8",
                                QByteArray("\xff\0\0\xff\0\0\xff\0\0\xff\0\0", 12));
        b.page(text + "q " + s + " 0 0 " + s + " 100 60 cm /Im Do Q",
               kFont + "/XObject<</Im " + PdfBuilder::ref(im) + ">>");
    } else {
        b.page(text + "q 100 60 " + s + ' ' + s + " re W n /Sh sh Q",
               kFont + "/Shading<</Sh<</ShadingType 2/ColorSpace/DeviceRGB/Coords[0 0 200 0]"
                       "/Function<</FunctionType 2/Domain[0 1]/C0[1 0 0]/C1[1 0.1 0]/N 1>>>>>>");
    }
    return b.finish();
}

QByteArray onePage(const QByteArray &content)
{
    PdfBuilder b;
    b.page(content, kFont);
    return b.finish();
}

} // namespace

class TestColourTolerance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void pixelsForTheArea_data();
    void pixelsForTheArea();
    void logos_data();
    void logos();
    void thinPaintRenderedFiner_data();
    void thinPaintRenderedFiner();
    void workersApplyTheTolerance();
    void parsing_data();
    void parsing();
};

void TestColourTolerance::initTestCase()
{
    poppler::set_debug_error_function([](const std::string &, void *) {}, nullptr);
}

void TestColourTolerance::pixelsForTheArea_data()
{
    QTest::addColumn<double>("area");
    QTest::addColumn<double>("dpi");
    QTest::addColumn<int>("pixels");
    // The default is the rule's own 4 pixels at 50 dpi, 36 at 150.
    QTest::newRow("default") << kDefaultColourMinArea << kColourDpi << kMinColourPixels;
    QTest::newRow("default, fine") << kDefaultColourMinArea << kFineColourDpi << 36;
    // 20 mm^2 at 50 dpi is 77.5 pixels of 0.258 mm^2 each.
    QTest::newRow("20 mm^2") << 20.0 << kColourDpi << 78;
    QTest::newRow("20 mm^2, fine") << 20.0 << kFineColourDpi << 698;
    QTest::newRow("a speck is still a pixel") << 0.01 << kColourDpi << 1;
}

void TestColourTolerance::pixelsForTheArea()
{
    QFETCH(double, area);
    QFETCH(double, dpi);
    QFETCH(int, pixels);
    QCOMPARE(minColourPixels(area, dpi), pixels);
}

void TestColourTolerance::logos_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<double>("area");
    QTest::addColumn<ColourClass>("expected");
    QTest::addColumn<bool>("rendered");
    const auto bw = ColourClass::BlackWhite;
    const auto colour = ColourClass::Colour;
    // A rectangle the operators show is Colour without rendering while it
    // covers the tolerance; a smaller one goes to the rendering, which
    // leaves it out.
    QTest::newRow("10 mm^2 rectangle, default")
        << logoPage("rectangle", 9) << kDefaultColourMinArea << colour << false;
    QTest::newRow("10 mm^2 rectangle, 20 mm^2") << logoPage("rectangle", 9) << 20.0 << bw << true;
    QTest::newRow("32 mm^2 rectangle, 20 mm^2")
        << logoPage("rectangle", 16) << 20.0 << colour << false;
    // Without enough colour an image page is Grey, as any page with a
    // continuous-tone image.
    for (const char *kind : {"image", "shading"}) {
        const QByteArray tag = QByteArray(kind);
        const auto under = tag == "image" ? ColourClass::Grey : bw;
        QTest::newRow(("10 mm^2 " + tag + ", default").constData())
            << logoPage(kind, 9) << kDefaultColourMinArea << colour << true;
        QTest::newRow(("10 mm^2 " + tag + ", 20 mm^2").constData())
            << logoPage(kind, 9) << 20.0 << under << true;
        QTest::newRow(("32 mm^2 " + tag + ", 20 mm^2").constData())
            << logoPage(kind, 16) << 20.0 << colour << true;
    }
    // Four red glyphs show the default area, not more for certain: with a
    // larger tolerance the rendering decides.
    const QByteArray link = "BT /F1 10 Tf 0 0 1 rg 20 100 Td (link) Tj ET";
    QTest::newRow("blue link, default")
        << onePage(link) << kDefaultColourMinArea << colour << false;
    QTest::newRow("blue link, 20 mm^2") << onePage(link) << 20.0 << bw << true;
    // An invalid tolerance is the default.
    QTest::newRow("10 mm^2 rectangle, NaN")
        << logoPage("rectangle", 9) << qQNaN() << colour << false;
}

void TestColourTolerance::logos()
{
    QFETCH(QByteArray, pdf);
    QFETCH(double, area);
    QFETCH(ColourClass, expected);
    QFETCH(bool, rendered);
    const Classified got = classify(pdf, area);
    QCOMPARE(got.classes.size(), size_t(1));
    QCOMPARE(got.classes.front(), expected);
    QCOMPARE(got.stats.rendered, rendered ? 1 : 0);
}

void TestColourTolerance::thinPaintRenderedFiner_data()
{
    QTest::addColumn<double>("area");
    QTest::addColumn<ColourClass>("expected");
    // A red bar 1.245 x 120 pt (18.6 mm^2), too pale to count from its
    // operators, beside a grey box that rounds onto its pixels at 50 dpi:
    // at 150 dpi the bar keeps pixels of its own, and the same area decides.
    QTest::newRow("default") << kDefaultColourMinArea << ColourClass::Colour;
    QTest::newRow("10 mm^2") << 10.0 << ColourClass::Colour;
    QTest::newRow("25 mm^2") << 25.0 << ColourClass::BlackWhite;
}

void TestColourTolerance::thinPaintRenderedFiner()
{
    QFETCH(double, area);
    QFETCH(ColourClass, expected);
    const QByteArray pdf =
        onePage("0.6 0.3 0.3 rg 20.9 40 1.245 120 re f 0.8 g 22.145 40 100 120 re f");
    const Classified got = classify(pdf, area);
    QCOMPARE(got.classes.size(), size_t(1));
    QCOMPARE(got.classes.front(), expected);
    QCOMPARE(got.stats.rendered, 1);
}

void TestColourTolerance::workersApplyTheTolerance()
{
    // Through the worker process: what the pool is set to reaches its
    // decision, from the operators and from the rendering.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("logos.pdf"));
    {
        PdfBuilder b;
        b.page("1 0 0 rg 100 60 9 9 re f", kFont);
        b.page("q 100 60 9 9 re W n /Sh sh Q",
               "/Shading<</Sh<</ShadingType 2/ColorSpace/DeviceRGB/Coords[0 0 200 0]"
               "/Function<</FunctionType 2/Domain[0 1]/C0[1 0 0]/C1[1 0.1 0]/N 1>>>>>>");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(b.finish());
    }
    PdfWorkers &pool = PdfWorkers::shared();
    const auto coloursAt = [&](double area) {
        pool.setColourMinArea(area);
        std::vector<PageInfo> pages;
        measureFile(QFile::encodeName(path), EntryType::File, &pages);
        std::vector<ColourClass> colours;
        for (const PageInfo &p : pages)
            colours.push_back(p.colour);
        return colours;
    };
    const std::vector<ColourClass> colour(2, ColourClass::Colour);
    const std::vector<ColourClass> bw(2, ColourClass::BlackWhite);
    QVERIFY(coloursAt(kDefaultColourMinArea) == colour);
    QVERIFY(coloursAt(20) == bw);
    QCOMPARE(pool.colourMinArea(), 20.0);
    QVERIFY(coloursAt(5) == colour);
    // Out of range: the default.
    QVERIFY(coloursAt(0) == colour);
    QCOMPARE(pool.colourMinArea(), kDefaultColourMinArea);
}

void TestColourTolerance::parsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected"); // 0: refused
    QTest::newRow("whole") << QStringLiteral("20") << 20.0;
    QTest::newRow("decimal point") << QStringLiteral("1.5") << 1.5;
    QTest::newRow("the most") << QStringLiteral("100") << 100.0;
    QTest::newRow("decimal comma") << QStringLiteral("1,5") << 0.0;
    QTest::newRow("zero") << QStringLiteral("0") << 0.0;
    QTest::newRow("negative") << QStringLiteral("-1") << 0.0;
    QTest::newRow("too large") << QStringLiteral("100.01") << 0.0;
    QTest::newRow("nan") << QStringLiteral("nan") << 0.0;
    QTest::newRow("empty") << QString() << 0.0;
}

void TestColourTolerance::parsing()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    // The session's language has no say.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::optional<double> got = parseColourMinArea(text);
    QLocale::setDefault(QLocale::c());
    if (expected == 0) {
        QVERIFY2(!got, qPrintable(QString::number(got.value_or(0))));
    } else {
        QVERIFY(got);
        QCOMPARE(*got, expected);
    }
}

QTEST_GUILESS_MAIN(TestColourTolerance)
#include "tst_colourtolerance.moc"
