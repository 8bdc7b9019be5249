#include "pdfcolour.h"
#include "pdfcolourbuilder.h"

#include <QDir>
#include <QFile>
#include <QTest>

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
    void thinPaint_data();
    void thinPaint();

private:
    void check(const QByteArray &pdf, ColourClass expected);
};

void TestPdfColourCases::check(const QByteArray &pdf, ColourClass expected)
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
    QCOMPARE(result.classes.size(), size_t(1));
    QCOMPARE(colourLabel(result.classes[0]), colourLabel(expected));
}

void TestPdfColourCases::thinPaint_data()
{
    // Bars, rules and hairlines narrower than a pixel at 50 dpi (1.44 pt),
    // at sub-pixel offsets: their colour shows once their area passes
    // about 1 mm^2, wherever they fall on the grid.
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<ColourClass>("expected");
    const QByteArray grey = "0.8 g 60 40 60 120 re f 0.6 g 130 40 60 120 re f\n";
    for (const double offset : {0.0, 0.3, 0.5, 0.72, 0.9, 1.2}) {
        const QByteArray at = number(20 + offset);
        const QByteArray tag = " at +" + QByteArray::number(offset);
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

QTEST_GUILESS_MAIN(TestPdfColourCases)
#include "tst_pdfcolourcases.moc"
