#include "pagecount.h"
#include "pdfcolour.h"
#include "pdfcolourbuilder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <poppler-document.h>

#include <memory>

using namespace tallivo;

using namespace tallivo::testing;

namespace {

QByteArray hexPixels(int count, int r, int g, int b)
{
    QByteArray data;
    for (int i = 0; i < count; ++i) {
        data += char(r);
        data += char(g);
        data += char(b);
    }
    return data;
}

// A matrix-and-curve RGB ICC profile with the given primaries (XYZ) and
// gamma 2.2 curves: enough for the scan's test of a default RGB space.
QByteArray rgbProfile(const double primaries[3][3])
{
    auto be32 = [](quint32 v) {
        QByteArray b(4, 0);
        for (int i = 0; i < 4; ++i)
            b[i] = char(v >> (24 - 8 * i));
        return b;
    };
    QByteArray header(128, 0);
    header.replace(12, 4, "mntr");
    header.replace(16, 4, "RGB ");
    header.replace(20, 4, "XYZ ");
    header.replace(36, 4, "acsp");
    QByteArray table = be32(6);
    QByteArray data;
    const qsizetype dataStart = 128 + 4 + 6 * 12;
    const char *names[] = {"rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"};
    for (int t = 0; t < 6; ++t) {
        QByteArray tag;
        if (t < 3) {
            tag = "XYZ " + be32(0);
            for (int i = 0; i < 3; ++i)
                tag += be32(quint32(qint32(primaries[t][i] * 65536)));
        } else {
            tag = "curv" + be32(0) + be32(1) + QByteArray("\x02\x33", 2) + QByteArray(2, 0);
        }
        table += QByteArray(names[t]) + be32(quint32(dataStart + data.size())) +
                 be32(quint32(tag.size()));
        data += tag;
    }
    QByteArray profile = header + table + data;
    profile.replace(0, 4, be32(quint32(profile.size())));
    return profile;
}

} // namespace

class TestPdfColour : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void colourFailureKeepsCountAndSizes();
    void chromaticPixels();
    void classes_data();
    void classes();
    void neutralPagesAreNotRendered();
    void unreadablePageAfterAColourPage();
    void linksThatDrawNothingNeedNoPrintCopy_data();
    void linksThatDrawNothingNeedNoPrintCopy();
    void shownColour_data();
    void shownColour();
    void countedFilesCarryTheirColours();
};

void TestPdfColour::initTestCase()
{
    // Workers started from here on fail on files marked for it.
    qputenv("TALLIVO_PDFWORKER", TALLIVO_PDFWORKER_TEST_BINARY);
    qputenv("TALLIVO_PDFWORKER_TEST_FAULTS", "1");
}

void TestPdfColour::colourFailureKeepsCountAndSizes()
{
    // The structure gives the count and the sizes; the worker asked for the
    // colours crashes: the file stays counted, with its sizes, colours
    // unknown.
    PdfBuilder b;
    b.page("1 0 0 rg " + kRect);
    b.page("0 g " + kRect);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("crash.pdf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(b.finish("%TALLIVO-TEST-FAULT crash\n"));
    file.close();
    std::vector<PageInfo> pages;
    const MeasuredFile measured = measureFile(QFile::encodeName(path), EntryType::File, &pages);
    QCOMPARE(measured.count.status, CountStatus::Counted);
    QCOMPARE(measured.count.pages, 2);
    QCOMPARE(pages.size(), size_t(2));
    QVERIFY(pages[0].hasSize() && pages[1].hasSize());
    QCOMPARE(pages[0].colour, ColourClass::Unknown);
}

void TestPdfColour::chromaticPixels()
{
    // JPEG noise of a few levels is no colour; a clear tint is; the area
    // threshold holds single pixels back.
    std::vector<uchar> image(10 * 10 * 4, 200);
    QCOMPARE(countChromaticPixels(image.data(), 10, 10, 40), 0);
    for (int i = 0; i < 10; ++i)
        image[size_t(i * 4)] = 200 + 6; // noise
    QCOMPARE(countChromaticPixels(image.data(), 10, 10, 40), 0);
    image[4 * 50 + 2] = 120;
    QCOMPARE(countChromaticPixels(image.data(), 10, 10, 40), 1);
    for (int i = 60; i < 70; ++i)
        image[size_t(4 * i + 1)] = 60;
    QCOMPARE(countChromaticPixels(image.data(), 10, 10, 40), kMinColourPixels);
}

void TestPdfColour::classes_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<ColourClass>("expected");
    const auto bw = ColourClass::BlackWhite;
    const auto grey = ColourClass::Grey;
    const auto colour = ColourClass::Colour;
    auto one = [](const QByteArray &content, const QByteArray &resources = {},
                  const QByteArray &extra = {}) {
        PdfBuilder b;
        b.page(content, resources, extra);
        return b.finish();
    };

    QTest::newRow("blank") << one({}) << bw;
    QTest::newRow("grey rgb") << one("0.3 0.3 0.3 rg " + kRect) << bw;
    QTest::newRow("cmyk black") << one("0 0 0 1 k " + kRect + "0 0 0 0.5 K 2 w 10 10 m 190 190 l S")
                                << bw;
    QTest::newRow("rich black") << one("0.6 0.4 0.4 1 k " + kRect) << bw;
    QTest::newRow("black text") << one("BT /F1 24 Tf 0 g 20 100 Td (Invoice) Tj ET", kFont) << bw;
    QTest::newRow("red text") << one("BT /F1 24 Tf 1 0 0 rg 20 100 Td (Invoice) Tj ET", kFont)
                              << colour;
    QTest::newRow("invisible red text")
        << one("BT /F1 24 Tf 3 Tr 1 0 0 rg 20 100 Td (Invoice) Tj ET", kFont) << bw;
    QTest::newRow("red set, black painted") << one("1 0 0 rg 0 g " + kRect) << bw;
    QTest::newRow("red rectangle") << one("1 0 0 rg " + kRect) << colour;
    QTest::newRow("cmyk cyan") << one("1 0 0 0 k " + kRect) << colour;
    // 5 mm = 14.2 pt.
    QTest::newRow("5 mm logo") << one("0 g " + kRect + "0 0.3 0.9 rg 170 170 14.2 14.2 re f")
                               << colour;
    QTest::newRow("rotated red") << one("1 0 0 rg 10 10 30 30 re f", {}, "/Rotate 90") << colour;

    const QByteArray tint = "<</FunctionType 2/Domain[0 1]/C0[0 0 0 0]/C1[0 0 0 1]/N 1>>";
    const QByteArray spotTint = "<</FunctionType 2/Domain[0 1]/C0[0 0 0 0]/C1[0 1 1 0]/N 1>>";
    QTest::newRow("all separation")
        << one("/S cs 1 scn " + kRect, "/ColorSpace<</S[/Separation/All/DeviceCMYK " + tint + "]>>")
        << bw;
    QTest::newRow("black separation")
        << one("/S cs 0.5 scn " + kRect,
               "/ColorSpace<</S[/Separation/Black/DeviceCMYK " + tint + "]>>")
        << bw;
    QTest::newRow("spot colour")
        << one("/S cs 1 scn " + kRect,
               "/ColorSpace<</S[/Separation/PANTONE#20185#20C/DeviceCMYK " + spotTint + "]>>")
        << colour;
    QTest::newRow("red to blue shading")
        << one("/Sh sh",
               "/Shading<</Sh<</ShadingType 2/ColorSpace/DeviceRGB/Coords[0 0 200 0]/Function"
               "<</FunctionType 2/Domain[0 1]/C0[1 0 0]/C1[0 0 1]/N 1>>/Extend[true true]>>>>")
        << colour;
    QTest::newRow("grey shading")
        << one("/Sh sh", "/Shading<</Sh<</ShadingType 2/ColorSpace/DeviceGray/Coords[0 0 200 0]"
                         "/Function<</FunctionType 2/Domain[0 1]/C0[0]/C1[1]/N 1>>>>>>")
        << bw;
    QTest::newRow("colour outside the crop box")
        << one("0 g 10 10 50 50 re f 1 0 0 rg 150 150 40 40 re f", {}, "/CropBox[0 0 100 100]")
        << bw;
    QTest::newRow("colour inside the crop box")
        << one("1 0 0 rg 10 10 40 40 re f", {}, "/CropBox[0 0 100 100]") << colour;

    // Images: 8 x 8, uncompressed.
    auto image = [&](const QByteArray &dict, const QByteArray &data) {
        PdfBuilder b;
        const int im = b.stream("/Type/XObject/Subtype/Image/Width 8/Height 8" + dict, data);
        b.page("q 160 0 0 160 20 20 cm /Im Do Q", "/XObject<</Im " + PdfBuilder::ref(im) + ">>");
        return b.finish();
    };
    QTest::newRow("grey scan") << image("/ColorSpace/DeviceGray/BitsPerComponent 8",
                                        QByteArray(64, char(0x80)))
                               << grey;
    QTest::newRow("bilevel scan") << image("/ColorSpace/DeviceGray/BitsPerComponent 1",
                                           QByteArray(8, char(0x5a)))
                                  << bw;
    QTest::newRow("grey image saved as rgb")
        << image("/ColorSpace/DeviceRGB/BitsPerComponent 8", hexPixels(64, 90, 90, 90)) << grey;
    QByteArray noisy;
    for (int i = 0; i < 64; ++i) {
        noisy += char(120 + i % 3);
        noisy += char(118 + i % 5);
        noisy += char(121);
    }
    QTest::newRow("grey image saved as rgb, noisy")
        << image("/ColorSpace/DeviceRGB/BitsPerComponent 8", noisy) << grey;
    QTest::newRow("colour photo") << image("/ColorSpace/DeviceRGB/BitsPerComponent 8",
                                           hexPixels(64, 200, 40, 40))
                                  << colour;
    QTest::newRow("grey palette")
        << image("/ColorSpace[/Indexed/DeviceRGB 3<000000555555AAAAAAFFFFFF>]/BitsPerComponent 8",
                 QByteArray(64, char(2)))
        << grey;
    QTest::newRow("colour palette")
        << image("/ColorSpace[/Indexed/DeviceRGB 3<000000FF0000AAAAAAFFFFFF>]/BitsPerComponent 8",
                 QByteArray(64, char(1)))
        << colour;
    QTest::newRow("icc grey") << []() {
        PdfBuilder b;
        const int icc = b.stream("/N 1", "not a profile");
        const int im = b.stream("/Type/XObject/Subtype/Image/Width 8/Height 8"
                                "/ColorSpace[/ICCBased " +
                                    PdfBuilder::ref(icc) + "]/BitsPerComponent 8",
                                QByteArray(64, char(0x40)));
        b.page("q 160 0 0 160 20 20 cm /Im Do Q", "/XObject<</Im " + PdfBuilder::ref(im) + ">>");
        return b.finish();
    }() << grey;

    QTest::newRow("inline grey image")
        << one("q 100 0 0 100 20 20 cm BI /W 4 /H 4 /CS /G /BPC 8 ID " +
               QByteArray(16, char(0x70)) + " EI Q")
        << grey;
    QTest::newRow("inline colour image")
        << one("q 100 0 0 100 20 20 cm BI /W 2 /H 2 /CS /RGB /BPC 8 ID " + hexPixels(4, 0, 0, 255) +
               " EI Q")
        << colour;

    // Forms and transparency.
    QTest::newRow("red inside a form") << []() {
        PdfBuilder b;
        const int inner =
            b.stream("/Type/XObject/Subtype/Form/BBox[0 0 200 200]", "1 0 0 rg 20 20 50 50 re f");
        const int outer =
            b.stream("/Type/XObject/Subtype/Form/BBox[0 0 200 200]/Resources<</XObject<</In " +
                         PdfBuilder::ref(inner) + ">>>>",
                     "/In Do");
        b.page("/Out Do", "/XObject<</Out " + PdfBuilder::ref(outer) + ">>");
        return b.finish();
    }() << colour;
    QTest::newRow("coloured transparency group") << []() {
        PdfBuilder b;
        const int group = b.stream("/Type/XObject/Subtype/Form/BBox[0 0 200 200]"
                                   "/Group<</S/Transparency/CS/DeviceRGB>>",
                                   "0 0 1 rg 20 20 100 100 re f");
        b.page("/G Do", "/XObject<</G " + PdfBuilder::ref(group) + ">>/ExtGState<</A<</ca 0.5>>>>");
        return b.finish();
    }() << colour;
    QTest::newRow("colour hidden by a soft mask") << []() {
        PdfBuilder b;
        // A luminosity mask of black: nothing under it shows.
        const int maskGroup = b.stream("/Type/XObject/Subtype/Form/BBox[0 0 200 200]"
                                       "/Group<</S/Transparency/CS/DeviceGray>>",
                                       "0 g 0 0 200 200 re f");
        b.page("/M gs 1 0 0 rg " + kRect,
               "/ExtGState<</M<</SMask<</S/Luminosity/G " + PdfBuilder::ref(maskGroup) + ">>>>>>");
        return b.finish();
    }() << bw;

    // Annotations: a red stamp that prints, the same without the Print
    // flag, and a link's red border (links print only with the flag).
    auto annotated = [&](const QByteArray &annotation) {
        PdfBuilder b;
        const int ap =
            b.stream("/Type/XObject/Subtype/Form/BBox[0 0 80 40]", "1 0 0 rg 0 0 80 40 re f");
        QByteArray a = annotation;
        a.replace("AP", "/AP<</N " + PdfBuilder::ref(ap) + ">>");
        const int annot = b.add(a);
        b.page("0 g " + kRect, {}, "/Annots[" + PdfBuilder::ref(annot) + "]");
        return b.finish();
    };
    QTest::newRow("printing red stamp")
        << annotated("<</Type/Annot/Subtype/Stamp/Rect[40 40 120 80]/F 4 AP>>") << colour;
    QTest::newRow("red stamp without print flag")
        << annotated("<</Type/Annot/Subtype/Stamp/Rect[40 40 120 80] AP>>") << bw;
    QTest::newRow("hidden printing stamp")
        << annotated("<</Type/Annot/Subtype/Stamp/Rect[40 40 120 80]/F 6 AP>>") << bw;
    QTest::newRow("link border")
        << annotated("<</Type/Annot/Subtype/Link/Rect[40 40 120 80]/Border[0 0 2]/C[1 0 0]>>")
        << bw;
    QTest::newRow("printing link border")
        << annotated("<</Type/Annot/Subtype/Link/Rect[40 40 120 80]/Border[0 0 2]/C[1 0 0]/F 4>>")
        << colour;
}

void TestPdfColour::classes()
{
    QFETCH(QByteArray, pdf);
    QFETCH(ColourClass, expected);
    const Classified result = classify(pdf);
    QCOMPARE(result.classes.size(), size_t(1));
    QCOMPARE(colourLabel(result.classes[0]), colourLabel(expected));
}

void TestPdfColour::unreadablePageAfterAColourPage()
{
    // The page tree counts a page it lacks: the renderer, which keeps its
    // device from page to page, must not take the colour page's pixels
    // for it.
    PdfBuilder b;
    b.page("1 0 0 rg " + kRect, {});
    QByteArray pdf = b.finish();
    pdf.replace("/Count 1", "/Count 2");
    const Classified result = classify(pdf);
    QCOMPARE(result.classes.size(), size_t(2));
    QCOMPARE(result.classes[0], ColourClass::Colour);
    QCOMPARE(result.classes[1], ColourClass::Unknown);
}

void TestPdfColour::neutralPagesAreNotRendered()
{
    // Text and grey art are decided from the operators; a colour page is
    // rendered; a form that draws itself is rendered rather than followed.
    PdfBuilder b;
    for (int i = 0; i < 8; ++i)
        b.page("BT /F1 12 Tf 0.2 g 20 100 Td (Page text) Tj ET 0 0 0 1 K 20 20 m 180 20 l S",
               kFont);
    // Colour in an image takes its pixels.
    const int photo = b.stream("/Type/XObject/Subtype/Image/Width 8/Height 8"
                               "/ColorSpace/DeviceRGB/BitsPerComponent 8",
                               hexPixels(64, 40, 200, 40));
    b.page("q 160 0 0 160 20 20 cm /Im Do Q", "/XObject<</Im " + PdfBuilder::ref(photo) + ">>");
    const int self = b.next();
    b.stream("/Type/XObject/Subtype/Form/BBox[0 0 200 200]/Resources<</XObject<</X " +
                 PdfBuilder::ref(self) + ">>>>",
             "0 g 20 20 10 10 re f /X Do");
    b.page("/X Do", "/XObject<</X " + PdfBuilder::ref(self) + ">>");
    const Classified result = classify(b.finish());
    QCOMPARE(result.classes.size(), size_t(10));
    QCOMPARE(result.stats.scanned, 8);
    QCOMPARE(result.stats.rendered, 2);
    QCOMPARE(result.classes[8], ColourClass::Colour);
    QCOMPARE(result.classes[9], ColourClass::BlackWhite);
}

void TestPdfColour::linksThatDrawNothingNeedNoPrintCopy_data()
{
    // Only a copy marked for print shows the renderer what prints; a link
    // that draws nothing either way needs none.
    QTest::addColumn<QByteArray>("annotation");
    QTest::addColumn<int>("copies");
    QTest::newRow("link without a border") << QByteArray("/Border[0 0 0]/C[1 0 0]") << 0;
    QTest::newRow("link with a border") << QByteArray("/Border[0 0 2]/C[1 0 0]") << 1;
    QTest::newRow("link with the default border") << QByteArray("/C[1 0 0]") << 1;
    QTest::newRow("link with a border style") << QByteArray("/Border[0 0 0]/BS<</W 1>>") << 1;
    QTest::newRow("link with an appearance") << QByteArray("/Border[0 0 0] AP") << 1;
}

void TestPdfColour::linksThatDrawNothingNeedNoPrintCopy()
{
    QFETCH(QByteArray, annotation);
    QFETCH(int, copies);
    PdfBuilder b;
    const int ap =
        b.stream("/Type/XObject/Subtype/Form/BBox[0 0 80 40]", "1 0 0 rg 0 0 80 40 re f");
    annotation.replace("AP", "/AP<</N " + PdfBuilder::ref(ap) + ">>");
    // Rendered either way: colour the operators cannot be sure shows.
    for (const QByteArray clip : {"0 0 200 105", "0 0 20 20"}) {
        const int link = b.add("<</Type/Annot/Subtype/Link/Rect[40 40 120 80]" + annotation + ">>");
        b.page("q " + clip + " re W n BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET Q", kFont,
               "/Annots[" + PdfBuilder::ref(link) + "]");
    }
    const Classified result = classify(b.finish());
    QCOMPARE(result.stats.rendered, 2);
    QCOMPARE(result.stats.printCopies, copies);
    QCOMPARE(int(result.classes.size()), 2);
    QCOMPARE(colourLabel(result.classes[0]), colourLabel(ColourClass::Colour));
    // The second page as well: the copy made for the first leaves the
    // annotations' flags of the file as they were.
    QCOMPARE(colourLabel(result.classes[1]), colourLabel(ColourClass::BlackWhite));
}

void TestPdfColour::shownColour_data()
{
    // Colour that certainly shows is decided from the operators; anything
    // that may hide it, shrink it or move it out of sight leaves the page to
    // the rendering. `rendered` says which; the class must be right either
    // way (Unknown: whatever the pixels say).
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<ColourClass>("expected");
    QTest::addColumn<bool>("rendered");
    const auto bw = ColourClass::BlackWhite;
    const auto colour = ColourClass::Colour;
    auto one = [](const QByteArray &content, const QByteArray &resources = kFont,
                  const QByteArray &extra = {}) {
        PdfBuilder b;
        b.page(content, resources, extra);
        return b.finish();
    };
    const QByteArray blue = "BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET\n";

    QTest::newRow("blue text") << one(blue) << colour << false;
    QTest::newRow("dark red cmyk heading")
        << one("BT /F1 14 Tf 0.28 1 1 0.35 k 30 100 Td [(T)94(able)-375(of)] TJ ET") << colour
        << false;
    QTest::newRow("page numbers, one glyph each")
        << one("BT /F1 11 Tf 0 0 1 rg 150 150 Td (8) Tj 0 -15 Td (9) Tj 0 -15 Td (1) Tj "
               "0 -15 Td (2) Tj ET")
        << colour << false;
    QTest::newRow("scaled text in a form") << []() {
        PdfBuilder b;
        const int form = b.stream("/Type/XObject/Subtype/Form/BBox[0 0 100 100]/Matrix[2 0 0 2 0 0]"
                                  "/Resources<<" +
                                      kFont + ">>",
                                  "BT /F1 6 Tf 1 0 0 -1 10 50 Tm 1 0 0 rg (Invoice) Tj ET");
        b.page("q 1 0 0 1 20 20 cm /X Do Q", "/XObject<</X " + PdfBuilder::ref(form) + ">>");
        return b.finish();
    }() << colour << false;
    QTest::newRow("red rectangle") << one("1 0 0 rg 20 20 30 30 re f", {}) << colour << false;
    QTest::newRow("red rectangle, clipped to a corner")
        << one("q 20 20 10 10 re W n 1 0 0 rg 0 0 200 200 re f Q", {}) << colour << false;

    // Text placed by its font's widths, without a fresh Td: links in a line
    // of black text (every code up to 122 0.6 em wide).
    const QByteArray f1 = "/F1<</Type/Font/Subtype/Type1/BaseFont/Helvetica/FirstChar 32"
                          "/LastChar 122/Widths[" +
                          QByteArray("600 ").repeated(91) +
                          "]/FontDescriptor<</Type/FontDescriptor/FontName/Helvetica/Flags 32"
                          "/FontBBox[-50 -220 1000 930]/ItalicAngle 0/Ascent 718/Descent -207"
                          "/CapHeight 718/StemV 88>>>>";
    const QByteArray widths = "/Font<<" + f1 + ">>";
    QTest::newRow("blue link after black text")
        << one("BT /F1 12 Tf 20 100 Td (See page) Tj 0 0 1 rg (1234) Tj 0 g (.) Tj ET", widths)
        << colour << false;
    QTest::newRow("blue link after a move in TJ")
        << one("BT /F1 12 Tf 20 100 Td [(See)] TJ 0 0 1 rg [-552 (12) 28 (34)] TJ 0 g [(\\)\\))] "
               "TJ "
               "ET",
               widths)
        << colour << false;
    // A white block moved back over the link hides it.
    const QByteArray squares =
        "/F2<</Type/Font/Subtype/Type1/BaseFont/ZapfDingbats/FirstChar 110/LastChar 110"
        "/Widths[788]/FontDescriptor<</Type/FontDescriptor/FontName/ZapfDingbats"
        "/Flags 4/FontBBox[0 0 800 720]/ItalicAngle 0/Ascent 720/Descent 0"
        "/CapHeight 720/StemV 90>>>>";
    QTest::newRow("white block moved back over a blue link")
        << one("BT /F1 12 Tf 20 100 Td (See page) Tj 0 0 1 rg (1234) Tj /F2 48 Tf 1 g "
               "[654 (n)] TJ ET",
               "/Font<<" + f1 + squares + ">>")
        << bw << true;
    // White squares, the first far to the left of the link, the others on
    // it.
    QTest::newRow("white squares moved onto a blue link")
        << one("BT /F1 12 Tf 0 0 1 rg 100 100 Td (1234) Tj ET BT /F2 24 Tf 1 g 20 95 Td "
               "[(n) -2500 (n) 300 (n) 300 (n)] TJ ET",
               "/Font<<" + f1 + squares + ">>")
        << bw << true;
    // Character spacing and horizontal scaling move the text on: the link
    // is where the white block is.
    QTest::newRow("blue link after spaced black text, painted over")
        << one("BT /F1 12 Tf 20 100 Td 5 Tc (See page) Tj 0 Tc 0 0 1 rg (1234) Tj ET "
               "1 g 110 90 45 25 re f",
               widths)
        << bw << true;
    QTest::newRow("blue link after narrowed black text, painted over")
        << one("BT /F1 12 Tf 50 Tz 20 100 Td (See page) Tj 100 Tz 0 0 1 rg (1234) Tj ET "
               "1 g 40 90 38 25 re f",
               widths)
        << bw << true;
    QTest::newRow("spaced blue digits painted over past their widths")
        << one("BT /F1 10 Tf 30 Tc 0 0 1 rg 20 100 Td ( 1234) Tj ET 1 g 54 90 122 25 re f", widths)
        << bw << true;
    QTest::newRow("blue digits after spaces painted over")
        << one("BT /F1 12 Tf 0 0 1 rg 20 100 Td (   1234) Tj ET 1 g 40 90 40 25 re f", widths) << bw
        << true;
    QTest::newRow("blue text with widths clipped away")
        << one("q 0 0 20 20 re W n BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET Q", widths) << bw
        << true;
    // Four ones of almost no width fall on one place, painted over in two
    // blocks that leave only the blank left of their stem.
    QTest::newRow("blue ones of almost no width, painted over")
        << one("BT /F3 12 Tf 0 0 1 rg 30 100 Td (1111) Tj ET "
               "1 g 31.8 97 13.2 14 re f 25 104.8 20 6.2 re f",
               "/Font<</F3<</Type/Font/Subtype/Type1/BaseFont/Helvetica/FirstChar 49"
               "/LastChar 49/Widths[1]/FontDescriptor<</Type/FontDescriptor/FontName/Helvetica"
               "/Flags 32/FontBBox[-50 -220 1000 930]/ItalicAngle 0/Ascent 718/Descent -207"
               "/CapHeight 718/StemV 88>>>>>>")
        << bw << true;
    QTest::newRow("blue link after a code without width")
        << one("BT /F1 12 Tf 20 100 Td (See\\200) Tj 0 0 1 rg (1234) Tj ET", widths) << colour
        << true;
    // Ghostscript restores the text position with Q, poppler does not.
    QTest::newRow("blue text after a move inside q and Q")
        << one("BT /F1 24 Tf 20 600 Td q 0 -500 Td Q 0 0 1 rg (Invoice) Tj ET")
        << ColourClass::Unknown << true;
    QTest::newRow("blue glyphs moved back onto each other")
        << one("BT /F1 12 Tf 20 100 Td 0 0 1 rg [(1) 600 (1) 600 (1) 600 (1)] TJ ET", widths)
        << ColourClass::Unknown << true;

    // Not certain: rendered, and the pixels decide.
    QTest::newRow("invisible blue text")
        << one("BT /F1 12 Tf 3 Tr 0 0 1 rg 30 100 Td (Invoice) Tj ET") << bw << false;
    QTest::newRow("blue text clipped away")
        << one("q 0 0 20 20 re W n " + blue + "Q") << bw << true;
    QTest::newRow("blue text half clipped")
        << one("q 0 0 200 105 re W n " + blue + "Q") << colour << true;
    QTest::newRow("blue text clipped by a triangle")
        << one("q 0 0 m 200 0 l 0 200 l h W n " + blue + "Q") << colour << true;
    QTest::newRow("blue text outside the crop box")
        << one(blue, kFont, "/CropBox[0 0 100 90]") << bw << true;
    QTest::newRow("blue text under a soft mask that hides it") << []() {
        PdfBuilder b;
        const int mask = b.stream("/Type/XObject/Subtype/Form/BBox[0 0 200 200]"
                                  "/Group<</S/Transparency/CS/DeviceGray>>",
                                  "0 g 0 0 200 200 re f");
        b.page("/M gs BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET",
               kFont + "/ExtGState<</M<</SMask<</S/Luminosity/G " + PdfBuilder::ref(mask) +
                   ">>>>>>");
        return b.finish();
    }() << bw << true;
    QTest::newRow("tiny blue text")
        << one("BT /F1 3 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET") << ColourClass::Unknown << true;
    QTest::newRow("one blue glyph")
        << one("BT /F1 12 Tf 0 0 1 rg 30 100 Td (I) Tj ET") << ColourClass::Unknown << true;
    QTest::newRow("blue spaces") << one("BT /F1 12 Tf 0 0 1 rg 30 100 Td (      ) Tj ET") << bw
                                 << true;
    QTest::newRow("blue spaces by the encoding")
        << one("BT /F2 12 Tf 0 0 1 rg 30 100 Td (ABCDEFG) Tj ET",
               "/Font<</F2<</Type/Font/Subtype/Type1/BaseFont/Helvetica"
               "/Encoding<</Differences[65/space/space/space/space/nbspace/space/.notdef]>>>>>>")
        << bw << true;
    QTest::newRow("blue text stroked over in white")
        << one("BT /F1 12 Tf 2 Tr 0 0 1 rg 1 G 3 w 30 100 Td (Invoice) Tj ET") << bw << true;
    // Coordinates beyond any number: the fill may be anywhere.
    const QByteArray huge = "1" + QByteArray(200, '0');
    const QByteArray scale = huge + " 0 0 " + huge + " 0 0 cm ";
    QTest::newRow("blue text under a fill beyond any size")
        << one(blue + "q " + scale + scale + "1 g 0 0 1 1 re f Q") << ColourClass::Unknown << true;
    QTest::newRow("pale tint") << one("BT /F1 12 Tf 0.9 0.9 1 rg 30 100 Td (Invoice) Tj ET") << bw
                               << true;
    QTest::newRow("blue text painted over in white")
        << one(blue + "1 g 20 90 150 30 re f") << bw << true;
    QTest::newRow("blue text under a grey image") << []() {
        PdfBuilder b;
        const int im = b.stream("/Type/XObject/Subtype/Image/Width 8/Height 8"
                                "/ColorSpace/DeviceGray/BitsPerComponent 8",
                                QByteArray(64, char(0x80)));
        b.page("BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET q 180 0 0 180 10 10 cm /Im Do Q",
               kFont + "/XObject<</Im " + PdfBuilder::ref(im) + ">>");
        return b.finish();
    }() << ColourClass::Grey << true;
    QTest::newRow("blue text under a printing white stamp") << []() {
        PdfBuilder b;
        const int ap =
            b.stream("/Type/XObject/Subtype/Form/BBox[0 0 180 40]", "1 g 0 0 180 40 re f");
        const int annot = b.add("<</Type/Annot/Subtype/Stamp/Rect[10 85 190 125]/F 4/AP<</N " +
                                PdfBuilder::ref(ap) + ">>>>");
        b.page("BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET", kFont,
               "/Annots[" + PdfBuilder::ref(annot) + "]");
        return b.finish();
    }() << bw << true;
    QTest::newRow("half transparent blue text")
        << one("/A gs " + blue, kFont + "/ExtGState<</A<</ca 0.5>>>>") << colour << true;
    QTest::newRow("blue text in a grey group") << []() {
        PdfBuilder b;
        const int group = b.stream("/Type/XObject/Subtype/Form/BBox[0 0 200 200]"
                                   "/Group<</S/Transparency/CS/DeviceGray>>/Resources<<" +
                                       kFont + ">>",
                                   "BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET");
        b.page("/G Do", "/XObject<</G " + PdfBuilder::ref(group) + ">>");
        return b.finish();
    }() << ColourClass::Unknown << true;
    QTest::newRow("device rgb remapped")
        << one(blue, kFont + "/ColorSpace<</DefaultRGB/DeviceGray>>") << ColourClass::Unknown
        << true;
    // sRGB as the default RGB (as FOP writes it), and a profile whose
    // primaries are all one grey.
    auto withDefaultRgb = [](const double primaries[3][3]) {
        PdfBuilder b;
        const int icc = b.stream("/N 3", rgbProfile(primaries));
        b.page("BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET",
               kFont + "/ColorSpace<</DefaultRGB[/ICCBased " + PdfBuilder::ref(icc) + "]>>");
        return b.finish();
    };
    const double srgb[3][3] = {
        {0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
    const double greys[3][3] = {{0.32, 0.33, 0.27}, {0.32, 0.33, 0.27}, {0.32, 0.33, 0.27}};
    QTest::newRow("srgb as the default rgb") << withDefaultRgb(srgb) << colour << false;
    QTest::newRow("grey primaries as the default rgb")
        << withDefaultRgb(greys) << ColourClass::Unknown << true;
    QTest::newRow("optional content") << []() {
        PdfBuilder b;
        b.page("BT /F1 12 Tf 0 0 1 rg 30 100 Td (Invoice) Tj ET", kFont);
        b.setCatalogExtra("/OCProperties<</OCGs[]/D<<>>>>");
        return b.finish();
    }() << colour << true;
}

void TestPdfColour::shownColour()
{
    QFETCH(QByteArray, pdf);
    QFETCH(ColourClass, expected);
    QFETCH(bool, rendered);
    const Classified result = classify(pdf);
    QCOMPARE(result.classes.size(), size_t(1));
    if (expected != ColourClass::Unknown)
        QCOMPARE(colourLabel(result.classes[0]), colourLabel(expected));
    QCOMPARE(result.stats.rendered, rendered ? 1 : 0);
}

void TestPdfColour::countedFilesCarryTheirColours()
{
    // Through the page counter and a worker process, as the window and
    // tallivo-count ask for page details.
    PdfBuilder b;
    b.page("0 g " + kRect);
    b.page("1 0 0 rg " + kRect);
    const QByteArray pdf = b.finish();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("mixed.pdf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(pdf);
    file.close();
    std::vector<PageInfo> pages;
    const MeasuredFile measured = measureFile(QFile::encodeName(path), EntryType::File, &pages);
    QCOMPARE(measured.count.pages, 2);
    QCOMPARE(pages.size(), size_t(2));
    QCOMPARE(pages[0].colour, ColourClass::BlackWhite);
    QCOMPARE(pages[1].colour, ColourClass::Colour);
    QVERIFY(pages[1].hasSize());
    // Without details nothing is asked of a worker beyond the count.
    QCOMPARE(measureFile(QFile::encodeName(path), EntryType::File).count.pages, 2);
}

QTEST_GUILESS_MAIN(TestPdfColour)
#include "tst_pdfcolour.moc"
