#include "pagecount.h"
#include "pdfcolour.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <poppler-document.h>

#include <memory>

using namespace tallivo;

namespace {

// Writes small PDFs object by object: 1 is the catalog, 2 the page tree.
class PdfBuilder
{
public:
    PdfBuilder() { m_objects = {QByteArray(), QByteArray()}; }

    int add(const QByteArray &body)
    {
        m_objects.push_back(body);
        return int(m_objects.size());
    }
    int stream(const QByteArray &dict, const QByteArray &data)
    {
        return add("<<" + dict + " /Length " + QByteArray::number(data.size()) + ">>stream\n" +
                   data + "\nendstream");
    }
    static QByteArray ref(int n) { return QByteArray::number(n) + " 0 R"; }
    int next() const { return int(m_objects.size()) + 1; }

    // A 200 x 200 pt page drawing `content` with `resources`.
    void page(const QByteArray &content, const QByteArray &resources = {},
              const QByteArray &extra = {})
    {
        const int contents = stream({}, content);
        m_pages.push_back(add("<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]/Resources<<" +
                              resources + ">>/Contents " + ref(contents) + extra + ">>"));
    }

    QByteArray finish(const QByteArray &comment = {})
    {
        QByteArray kids;
        for (int p : m_pages)
            kids += ref(p) + ' ';
        m_objects[0] = "<</Type/Catalog/Pages 2 0 R>>";
        m_objects[1] = "<</Type/Pages/Kids[" + kids + "]/Count " +
                       QByteArray::number(qsizetype(m_pages.size())) + ">>";
        QByteArray out = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n" + comment;
        std::vector<qsizetype> offsets;
        for (size_t i = 0; i < m_objects.size(); ++i) {
            offsets.push_back(out.size());
            out += QByteArray::number(qsizetype(i + 1)) + " 0 obj\n" + m_objects[i] + "\nendobj\n";
        }
        const qsizetype xref = out.size();
        out += "xref\n0 " + QByteArray::number(qsizetype(m_objects.size() + 1)) +
               "\n0000000000 65535 f \n";
        for (qsizetype o : offsets)
            out += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
        out += "trailer\n<</Size " + QByteArray::number(qsizetype(m_objects.size() + 1)) +
               "/Root 1 0 R>>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        return out;
    }

private:
    std::vector<QByteArray> m_objects;
    std::vector<int> m_pages;
};

struct Classified
{
    std::vector<ColourClass> classes;
    ColourStats stats;
};

Classified classify(const QByteArray &pdf)
{
    Classified result;
    const std::string bytes(pdf.constData(), size_t(pdf.size()));
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.data(), int(bytes.size())));
    if (!doc)
        return result;
    result.classes =
        classifyPdfColours(*doc, bytes, {}, 1000, processCpuSeconds() + 60, &result.stats);
    return result;
}

const QByteArray kRect = "20 20 160 160 re f\n";
const QByteArray kFont = "/Font<</F1<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>>>";

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
    void countedFilesCarryTheirColours();
};

void TestPdfColour::initTestCase()
{
    // Workers started from here on fail on files marked for it.
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

void TestPdfColour::neutralPagesAreNotRendered()
{
    // Text and grey art are decided from the operators; a colour page is
    // rendered; a form that draws itself is rendered rather than followed.
    PdfBuilder b;
    for (int i = 0; i < 8; ++i)
        b.page("BT /F1 12 Tf 0.2 g 20 100 Td (Page text) Tj ET 0 0 0 1 K 20 20 m 180 20 l S",
               kFont);
    b.page("0 0.5 0 rg " + kRect);
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
