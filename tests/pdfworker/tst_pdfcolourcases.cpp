#include "pdfcolour.h"
#include "pdfcolourbuilder.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <poppler-global.h>

#include <clocale>

using namespace tallivo;
using namespace tallivo::testing;

// Crafted pages the colour rule must bill right, each class as Ghostscript's
// printed rendering at 72 dpi (-dPrinted) shows it, checked once with
// poppler's pdftoppm and the chromatic pixel count of the rule.
namespace {

QByteArray onePage(const QByteArray &content, const QByteArray &resources = kFont,
                   const QByteArray &extra = {})
{
    PdfBuilder b;
    b.page(content, resources, extra);
    return b.finish();
}

QByteArray number(double v)
{
    return QByteArray::number(v, 'f', 3);
}

} // namespace

class TestPdfColourCases : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void thinPaint_data();
    void thinPaint();
    void crafted_data();
    void crafted();
    void numbersIgnoreTheLocale_data();
    void numbersIgnoreTheLocale();

private:
    Classified check(const QByteArray &pdf, ColourClass expected);
};

Classified TestPdfColourCases::check(const QByteArray &pdf, ColourClass expected)
{
    // TALLIVO_COLOUR_CASES=DIR keeps each case's file, to check it against
    // other renderers.
    const QByteArray keep = qgetenv("TALLIVO_COLOUR_CASES");
    if (!keep.isEmpty()) {
        QString name = QString::fromUtf8(QTest::currentDataTag());
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        QFile file(QFile::decodeName(keep) + QLatin1Char('/') + name + QStringLiteral(".pdf"));
        if (file.open(QIODevice::WriteOnly))
            file.write(pdf);
    }
    const Classified result = classify(pdf);
    [&] {
        QVERIFY(!result.classes.empty());
        if (expected != ColourClass::Unknown)
            QCOMPARE(colourLabel(result.classes[0]), colourLabel(expected));
    }();
    return result;
}

void TestPdfColourCases::initTestCase()
{
    // Damaged streams are meant: the library need not say so.
    poppler::set_debug_error_function([](const std::string &, void *) {}, nullptr);
}

void TestPdfColourCases::thinPaint_data()
{
    // Bars, rules and hairlines narrower than a pixel at 50 dpi (1.44 pt),
    // at sub-pixel offsets: their colour shows once their area passes
    // about 1 mm^2, wherever they fall on the grid.
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<ColourClass>("expected");
    const QByteArray grey = "0.8 g 60 40 60 120 re f 0.6 g 130 40 60 120 re f\n";
    for (const double offset : {0.0, 0.3, 0.5, 0.72, 0.9, 1.0, 1.2}) {
        const QByteArray at = number(20 + offset);
        const QByteArray tag = " at +" + QByteArray::number(offset);
        // A grey box drawn next, edge to edge, rounds onto the bar's pixel.
        const QByteArray next = number(21.245 + offset);
        QTest::newRow(QByteArray("dark red bar beside a grey box" + tag).constData())
            << onePage("0.55 0.1 0.1 rg " + at + " 40 1.245 120 re f 0.8 g " + next +
                       " 40 100 120 re f")
            << ColourClass::Colour;
        QTest::newRow(QByteArray("dark red path bar between grey boxes" + tag).constData())
            << onePage("0.8 g 0 40 " + at + " 120 re f 0.55 0.1 0.1 rg " + at + " 40 m " + at +
                       " 160 l " + next + " 160 l " + next + " 40 l h f 0.8 g " + next +
                       " 40 100 120 re f")
            << ColourClass::Colour;
        QTest::newRow(QByteArray("dark red bar 1.245 pt" + tag).constData())
            << onePage(grey + "0.55 0.1 0.1 rg " + at + " 40 1.245 120 re f")
            << ColourClass::Colour;
        QTest::newRow(QByteArray("dark red bar as a path" + tag).constData())
            << onePage(grey + "0.55 0.1 0.1 rg " + at + " 40 m " + at + " 160 l " +
                       number(21.245 + offset) + " 160 l " + number(21.245 + offset) + " 40 l h f")
            << ColourClass::Colour;
        QTest::newRow(QByteArray("level bar 1.245 pt" + tag).constData())
            << onePage(grey + "0.55 0.1 0.1 rg 20 " + number(170 + offset) + " 160 1.245 re f")
            << ColourClass::Colour;
        QTest::newRow(QByteArray("blue rule 0.3 pt" + tag).constData())
            << onePage(grey + "0 0 0.8 RG 0.3 w " + at + " 20 m " + at + " 180 l S")
            << ColourClass::Colour;
        QTest::newRow(QByteArray("blue hairline" + tag).constData())
            << onePage(grey + "0 0 0.8 RG 0 w 10 " + number(15 + offset) + " m 190 " +
                       number(15 + offset) + " l S")
            << ColourClass::Colour;
        QTest::newRow(QByteArray("slanted red hairline" + tag).constData())
            << onePage(grey + "1 0 0 RG 0.1 w " + at + " 20 m " + number(60 + offset) + " 180 l S")
            << ColourClass::Colour;
    }
    // Below the area: a dot of colour is not a colour page.
    QTest::newRow("red bar of 0.5 mm^2")
        << onePage(grey + "1 0 0 rg 20 20 1 4 re f") << ColourClass::BlackWhite;
}

void TestPdfColourCases::thinPaint()
{
    QFETCH(QByteArray, pdf);
    QFETCH(ColourClass, expected);
    check(pdf, expected);
}

void TestPdfColourCases::crafted_data()
{
    // The class as printed (Unknown where renderers differ), and whether
    // the page must be rendered rather than decided from its operators.
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<ColourClass>("expected");
    QTest::addColumn<bool>("rendered");
    const auto bw = ColourClass::BlackWhite;
    const auto colour = ColourClass::Colour;
    const QByteArray blue = "0 0 1 rg 30 100 Td (Invoice) Tj ET";
    auto withFont = [](const QByteArray &font) {
        return "/Font<</F1<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>/F2" + font + ">>";
    };

    // Coloured text that draws nothing, or may not: rendered. (Poppler
    // without anti-aliasing draws flattened glyphs as a line; Ghostscript
    // draws nothing.)
    QTest::newRow("text matrix flattened")
        << onePage("BT /F1 24 Tf 1 0 1 0.0001 40 100 Tm 0 0 1 rg (Invoice) Tj ET")
        << ColourClass::Unknown << true;
    QTest::newRow("page flattened by cm")
        << onePage("q 1 0 1 0.0005 0 100 cm BT /F1 24 Tf 0 0 1 rg 40 0 Td (Invoice) Tj ET Q")
        << ColourClass::Unknown << true;
    QTest::newRow("codes without glyphs")
        << onePage("BT /F1 24 Tf 0 0 1 rg 30 100 Td (\\001\\002\\003\\004\\005\\006) Tj ET") << bw
        << true;
    QTest::newRow("glyph names that draw nothing")
        << onePage("BT /F2 24 Tf 0 0 1 rg 30 100 Td (ABCDEFG) Tj ET",
                   withFont("<</Type/Font/Subtype/Type1/BaseFont/Helvetica/Encoding<</Differences"
                            "[65/enspace/uni2009/emspace/thinspace/uni200B/hairspace/figurespace]"
                            ">>>>"))
        << bw << true;
    QTest::newRow("glyph names the font lacks")
        << onePage("BT /F2 24 Tf 0 0 1 rg 30 100 Td (ABCDE) Tj ET",
                   withFont("<</Type/Font/Subtype/Type1/BaseFont/Helvetica/Encoding<</Differences"
                            "[65/foo/bar/baz/qux/quux]>>>>"))
        << colour << true;
    // Glyphs hide glyphs: a white square of ZapfDingbats over red letters.
    QTest::newRow("white dingbat block over red glyphs")
        << onePage(
               "BT /F1 24 Tf 1 0 0 rg 40 100 Td (IIII) Tj ET BT /F2 48 Tf 1 g 36 96 Td (n) Tj ET",
               withFont("<</Type/Font/Subtype/Type1/BaseFont/ZapfDingbats>>"))
        << bw << true;
    QTest::newRow("black text beside red text")
        << onePage("BT /F1 24 Tf 1 0 0 rg 20 100 Td (Red) Tj 0 g 0 -40 Td (Black text) Tj ET")
        << colour << false;
    // Past the scan's limits: 300 saved states inside a clip.
    QTest::newRow("clip under 300 saved states")
        << onePage("q 0 0 20 20 re W n " + QByteArray("q ").repeated(300) +
                   QByteArray("Q ").repeated(300) + "BT /F1 24 Tf " + blue + " Q")
        << bw << true;
    QTest::newRow("operator with 100 operands")
        << onePage("q 0 0 20 20 re W n " + QByteArray("1 ").repeated(100) + "0 0 1 rg " +
                   "BT /F1 24 Tf 30 100 Td (Invoice) Tj ET Q")
        << bw << true;

    // Annotations as printed: Print with NoView prints, Hidden never does.
    auto annotated = [](const QByteArray &content, const QByteArray &paint, int flags) {
        PdfBuilder b;
        const int ap = b.stream("/Type/XObject/Subtype/Form/BBox[0 0 180 40]", paint);
        const int annot =
            b.add("<</Type/Annot/Subtype/Stamp/Rect[10 85 190 125]/F " + QByteArray::number(flags) +
                  "/AP<</N " + PdfBuilder::ref(ap) + ">>>>");
        b.page(content, kFont, "/Annots[" + PdfBuilder::ref(annot) + "]");
        return b.finish();
    };
    const QByteArray blueText = "BT /F1 12 Tf " + blue;
    QTest::newRow("red stamp, print and no view")
        << annotated("0 g 20 20 50 50 re f", "1 0 0 rg 0 0 180 40 re f", 36) << colour << false;
    QTest::newRow("white box, print and no view, over blue text")
        << annotated(blueText, "1 g 0 0 180 40 re f", 36) << bw << false;
    QTest::newRow("red stamp, hidden, print and no view")
        << annotated("0 g 20 20 50 50 re f", "1 0 0 rg 0 0 180 40 re f", 38) << bw << false;
    QTest::newRow("red stamp, no view only")
        << annotated("0 g 20 20 50 50 re f", "1 0 0 rg 0 0 180 40 re f", 32) << bw << false;

    // Separations paint what their alternate space paints, whatever their
    // name.
    const QByteArray red = "<</FunctionType 2/Domain[0 1]/C0[1 1 1]/C1[1 0 0]/N 1>>";
    QTest::newRow("black separation painting red")
        << onePage("/S cs 1 scn 20 20 160 160 re f",
                   "/ColorSpace<</S[/Separation/Black/DeviceRGB " + red + "]>>")
        << colour << true;
    QTest::newRow("spot in a grey alternate")
        << onePage("/S cs 1 scn 20 20 160 160 re f",
                   "/ColorSpace<</S[/Separation/PANTONE#20Cool#20Gray/DeviceGray"
                   "<</FunctionType 2/Domain[0 1]/C0[1]/C1[0.4]/N 1>>]>>")
        << bw << false;
    QTest::newRow("black separation, pale red tint")
        << onePage("/S cs 0.05 scn 20 20 160 160 re f",
                   "/ColorSpace<</S[/Separation/Black/DeviceRGB " + red + "]>>")
        << bw << false;

    // Faults once planted in the decision, each a page billed wrongly.
    auto image = [](const QByteArray &dict, const QByteArray &data) {
        PdfBuilder b;
        const int im = b.stream("/Type/XObject/Subtype/Image/Width 8/Height 8" + dict, data);
        b.page("q 160 0 0 160 20 20 cm /Im Do Q", "/XObject<</Im " + PdfBuilder::ref(im) + ">>");
        return b.finish();
    };
    QTest::newRow("palette whose last entry is its colour")
        << image("/ColorSpace[/Indexed/DeviceRGB 3<000000555555AAAAAAFF0000>]/BitsPerComponent 8",
                 QByteArray(64, char(3)))
        << colour << false;
    QTest::newRow("cyan with half black on a thin curve")
        << onePage("1 0 0 0.5 K 2 w 20 100 m 60 150 140 150 180 100 c S") << colour << false;
    QTest::newRow("red square stroked over in white")
        << onePage("1 0 0 rg 70 70 40 40 re f 1 G 60 w 70 70 40 40 re S") << bw << false;
    QTest::newRow("blue text clipped away by a rotated form") << [] {
        PdfBuilder b;
        const int form =
            b.stream("/Type/XObject/Subtype/Form/BBox[0 0 60 60]/Matrix[0.866 0.5 -0.5 0.866 100 "
                     "20]/Resources<<" +
                         kFont + ">>",
                     "BT /F1 12 Tf 0 0 1 rg 10 120 Td (Invoice) Tj ET");
        b.page("/X Do", "/XObject<</X " + PdfBuilder::ref(form) + ">>");
        return b.finish();
    }() << bw << false;
    QTest::newRow("blue text under grey in saturation blend")
        << onePage("BT /F1 24 Tf " + blue + " /L gs 0.5 g 20 90 150 40 re f",
                   kFont + "/ExtGState<</L<</BM/Saturation>>>>")
        << bw << true;
    QTest::newRow("blue text multiplied onto black")
        << onePage("0 g 20 90 150 40 re f /L gs BT /F1 24 Tf " + blue,
                   kFont + "/ExtGState<</L<</BM/Multiply>>>>")
        << bw << true;
    QTest::newRow("grey text in colour burn blend over a red field")
        << onePage("1 0 0 rg 10 80 180 60 re f /L gs BT /F1 24 Tf 0.5 g 30 100 Td (Invoice) Tj ET",
                   kFont + "/ExtGState<</L<</BM/ColorBurn>>>>")
        << colour << false;
    // A file the library repairs: its last copy of an object holds.
    auto repaired = [](const QByteArray &first, const QByteArray &last) {
        auto stream = [](const QByteArray &c) {
            return "<</Length " + QByteArray::number(c.size()) + ">>stream\n" + c + "\nendstream";
        };
        return "%PDF-1.7\n1 0 obj\n<</Type/Catalog/Pages 2 0 R>>\nendobj\n2 0 obj\n"
               "<</Type/Pages/Kids[3 0 R]/Count 1>>\nendobj\n3 0 obj\n<</Type/Page/Parent 2 0 R"
               "/MediaBox[0 0 200 200]/Resources<<" +
               kFont + ">>/Contents 4 0 R>>\nendobj\n4 0 obj\n" + stream(first) +
               "\nendobj\n4 0 obj\n" + stream(last) +
               "\nendobj\ntrailer\n<</Root 1 0 R/Size 5>>\nstartxref\n999999\n%%EOF\n";
    };
    const QByteArray blackText = "BT /F1 24 Tf 0 g 30 100 Td (Invoice) Tj ET";
    QTest::newRow("repaired file, blue text last")
        << repaired(blackText, "BT /F1 24 Tf " + blue) << colour << true;
    QTest::newRow("repaired file, black text last")
        << repaired("BT /F1 24 Tf " + blue, blackText) << bw << true;
    // The readers disagree on the pages: the pixels alone decide, and a
    // grey scan is Grey.
    QTest::newRow("pages the readers count apart") << [] {
        PdfBuilder b;
        const int im = b.stream("/Type/XObject/Subtype/Image/Width 8/Height 8"
                                "/ColorSpace/DeviceGray/BitsPerComponent 8",
                                QByteArray(64, char(0x80)));
        b.page("q 160 0 0 160 20 20 cm /Im Do Q", "/XObject<</Im " + PdfBuilder::ref(im) + ">>");
        QByteArray pdf = b.finish();
        pdf.replace("/Count 1", "/Count 2");
        return pdf;
    }() << ColourClass::Grey << true;
    QTest::newRow("blue text under a white stroke")
        << onePage("BT /F1 12 Tf " + blue + " 1 G 30 w 20 104 m 190 104 l S") << bw << false;
    QTest::newRow("blue text under a white round dot")
        << onePage("BT /F1 12 Tf " + blue + " 1 G 1 J 160 w 100 104 m 100 104 l S") << bw << false;
    QTest::newRow("blue text in a grey page group")
        << onePage("BT /F1 24 Tf " + blue, kFont,
                   "/Group<</Type/Group/S/Transparency/CS/DeviceGray>>")
        << ColourClass::Colour << true;
}

void TestPdfColourCases::crafted()
{
    QFETCH(QByteArray, pdf);
    QFETCH(ColourClass, expected);
    QFETCH(bool, rendered);
    const Classified result = check(pdf, expected);
    if (rendered)
        QCOMPARE(result.stats.rendered, 1);
}

void TestPdfColourCases::numbersIgnoreTheLocale_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<ColourClass>("expected");
    for (const QByteArray locale : {"de_DE.UTF-8", "tr_TR.UTF-8"}) {
        QTest::newRow(QByteArray(locale + ": 5 mm logo").constData())
            << locale << onePage("0 g 20 20 100 100 re f 0 0.3 0.9 rg 170 170 14.2 14.2 re f")
            << ColourClass::Colour;
        QTest::newRow(QByteArray(locale + ": pale tint").constData())
            << locale << onePage("BT /F1 12 Tf 0.9 0.9 1 rg 30 100 Td (Invoice) Tj ET")
            << ColourClass::BlackWhite;
        QTest::newRow(QByteArray(locale + ": red text outside a form's box").constData()) << locale
                                                                                          <<
            [] {
                PdfBuilder b;
                const int form = b.stream(
                    "/Type/XObject/Subtype/Form/BBox[0.5 0.5 20.5 20.5]/Resources<<" + kFont + ">>",
                    "BT /F1 12 Tf 1 0 0 rg 30 100 Td (Invoice) Tj ET");
                b.page("/X Do", "/XObject<</X " + PdfBuilder::ref(form) + ">>");
                return b.finish();
            }() << ColourClass::BlackWhite;
    }
}

void TestPdfColourCases::numbersIgnoreTheLocale()
{
    // The worker sets no locale, but the rule must not depend on that.
    QFETCH(QByteArray, locale);
    QFETCH(QByteArray, pdf);
    QFETCH(ColourClass, expected);
    const std::string before = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, locale.constData()))
        QSKIP("locale not installed");
    const Classified result = classify(pdf);
    std::setlocale(LC_ALL, before.c_str());
    QCOMPARE(result.classes.size(), size_t(1));
    QCOMPARE(colourLabel(result.classes[0]), colourLabel(expected));
}

QTEST_GUILESS_MAIN(TestPdfColourCases)
#include "tst_pdfcolourcases.moc"
