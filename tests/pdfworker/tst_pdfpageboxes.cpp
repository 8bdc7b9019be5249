#include "counting.h"
#include "localpath.h"
#include "pagecount.h"
#include "pdfpageboxes.h"
#include "samplefiles.h"
#include "tiffdirectories.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <poppler-document.h>

#include <memory>

#include <sys/stat.h>

using namespace tallivo;

namespace {

constexpr float kA4W = 595.276f;
constexpr float kA4H = 841.89f;

} // namespace

class TestPdfPageBoxes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void boxes_data();
    void boxes();
    void deepTreeInherits();
    void unreadableDocumentsGiveNothing();
    void filesAreReadLikeTheyAreCounted_data();
    void filesAreReadLikeTheyAreCounted();

private:
    std::vector<PageInfo> read(const QByteArray &bytes, qint32 *count = nullptr);
    QTemporaryDir m_dir;
    int m_files = 0;
};

std::vector<PageInfo> TestPdfPageBoxes::read(const QByteArray &bytes, qint32 *count)
{
    const QString path = m_dir.filePath(QStringLiteral("f%1.pdf").arg(++m_files));
    std::vector<PageInfo> pages;
    if (!test::writeBytes(path, bytes))
        return pages;
    const qint32 n = measureFile(QFile::encodeName(path), EntryType::Unknown, &pages).count.pages;
    if (count)
        *count = n;
    return pages;
}

void TestPdfPageBoxes::boxes_data()
{
    QTest::addColumn<QByteArray>("parent");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<float>("widthPt");
    QTest::addColumn<float>("heightPt");
    const QByteArray a4 = "/MediaBox [0 0 595.276 841.89]";
    QTest::newRow("own MediaBox") << QByteArray() << a4 << kA4W << kA4H;
    QTest::newRow("inherited MediaBox") << a4 << QByteArray() << kA4W << kA4H;
    QTest::newRow("inherited Rotate") << a4 + " /Rotate 90" << QByteArray() << kA4H << kA4W;
    QTest::newRow("own Rotate over inherited")
        << a4 + " /Rotate 90" << QByteArray("/Rotate 180") << kA4W << kA4H;
    QTest::newRow("Rotate -90") << a4 << QByteArray("/Rotate -90") << kA4H << kA4W;
    QTest::newRow("Rotate 45 is upright") << a4 << QByteArray("/Rotate 45") << kA4W << kA4H;
    QTest::newRow("CropBox inside")
        << a4 << QByteArray("/CropBox [10 20 310 420]") << 300.f << 400.f;
    QTest::newRow("inherited CropBox") << a4 + " /CropBox [0 0 300 400]"
                                       << QByteArray("/MediaBox [0 0 1000 1000]") << 300.f << 400.f;
    QTest::newRow("CropBox over an edge") << QByteArray("/MediaBox [0 0 100 100]")
                                          << QByteArray("/CropBox [50 40 150 90]") << 50.f << 50.f;
    QTest::newRow("CropBox wider on one side")
        << QByteArray("/MediaBox [0 0 100 100]") << QByteArray("/CropBox [-50 50 1000 70]") << 100.f
        << 20.f;
    QTest::newRow("CropBox outside") << QByteArray("/MediaBox [0 0 100 100]")
                                     << QByteArray("/CropBox [200 200 300 300]") << 0.f << 0.f;
    QTest::newRow("corners swapped")
        << QByteArray() << QByteArray("/MediaBox [612 792 0 0]") << 612.f << 792.f;
    QTest::newRow("empty MediaBox: the inherited one")
        << a4 << QByteArray("/MediaBox [0 0 0 0]") << kA4W << kA4H;
    QTest::newRow("MediaBox not at the origin")
        << QByteArray() << QByteArray("/MediaBox [-100 -100 500 700]") << 600.f << 800.f;
    QTest::newRow("indirect MediaBox")
        << QByteArray() << QByteArray("/MediaBox 4 0 R") << 300.f << 500.f;
    QTest::newRow("real numbers") << QByteArray() << QByteArray("/MediaBox [0.5 .25 612.5 -792.75]")
                                  << 612.f << 793.f;
    // The PDF library's default is US Letter; the file says nothing.
    QTest::newRow("no MediaBox anywhere") << QByteArray() << QByteArray() << 0.f << 0.f;
    QTest::newRow("CropBox without any MediaBox")
        << QByteArray() << QByteArray("/CropBox [0 0 300 400]") << 0.f << 0.f;
}

void TestPdfPageBoxes::boxes()
{
    QFETCH(QByteArray, parent);
    QFETCH(QByteArray, page);
    QFETCH(float, widthPt);
    QFETCH(float, heightPt);
    qint32 count = 0;
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>",
                              "<< /Type /Pages /Kids [3 0 R] /Count 1 " + parent + " >>",
                              "<< /Type /Page /Parent 2 0 R " + page + " >>"};
    if (page.contains("4 0 R"))
        objects << "[0 0 300 500]";
    const QByteArray bytes = test::pdfOfObjects(objects);
    const std::vector<PageInfo> pages = read(bytes, &count);
    QCOMPARE(count, 1);
    QCOMPARE(int(pages.size()), 1);
    // Pages without content print nothing: B/W.
    QCOMPARE(pages[0].colour, ColourClass::BlackWhite);
    QVERIFY2(std::abs(pages[0].widthMm - widthPt * float(kMmPerPoint)) < 0.01f,
             qPrintable(QString::number(pages[0].widthMm)));
    QVERIFY2(std::abs(pages[0].heightMm - heightPt * float(kMmPerPoint)) < 0.01f,
             qPrintable(QString::number(pages[0].heightMm)));

    // The PDF library reads the same box where the file gives one, and
    // US Letter where it gives none.
    const bool noBoxes = !(parent + page).contains("Box");
    if (!pages[0].hasSize() && !noBoxes)
        return;
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.constData(), int(bytes.size())));
    QVERIFY(doc);
    std::vector<PageInfo> library;
    appendPdfPageBoxes(*doc, &library);
    QCOMPARE(int(library.size()), 1);
    if (noBoxes) {
        QCOMPARE(SizeClass::classify(library[0].widthMm, library[0].heightMm).label(),
                 QStringLiteral("Letter"));
        return;
    }
    QVERIFY(std::abs(library[0].widthMm - pages[0].widthMm) < 0.01f);
    QVERIFY(std::abs(library[0].heightMm - pages[0].heightMm) < 0.01f);
}

void TestPdfPageBoxes::deepTreeInherits()
{
    // Boxes and Rotate travel down two levels; each page keeps its order.
    const QByteArray bytes = test::pdfOfObjects(
        {"<< /Type /Catalog /Pages 2 0 R >>",
         "<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 3 /MediaBox [0 0 842 1191] >>",
         "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count 2 /Rotate 270 >>",
         "<< /Type /Page /Parent 3 0 R >>",
         "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 612 792] >>",
         "<< /Type /Page /Parent 2 0 R >>"});
    qint32 count = 0;
    const std::vector<PageInfo> pages = read(bytes, &count);
    QCOMPARE(count, 3);
    QCOMPARE(int(pages.size()), 3);
    QCOMPARE(SizeClass::classify(pages[0].widthMm, pages[0].heightMm).label(),
             QStringLiteral("A3"));
    QVERIFY(pages[0].widthMm > pages[0].heightMm);
    QCOMPARE(SizeClass::classify(pages[1].widthMm, pages[1].heightMm).label(),
             QStringLiteral("Letter"));
    QVERIFY(pages[1].widthMm > pages[1].heightMm);
    QVERIFY(pages[2].widthMm < pages[2].heightMm);
}

void TestPdfPageBoxes::unreadableDocumentsGiveNothing()
{
    qint32 count = -1;
    QVERIFY(read("not a PDF at all", &count).empty());
    QCOMPARE(count, 0);
    QVERIFY(measureFile(QFile::encodeName(m_dir.filePath(QStringLiteral("none.pdf"))),
                        EntryType::Unknown, nullptr)
                .count.pages == 0);

    const QString qpdf = QStandardPaths::findExecutable(QStringLiteral("qpdf"));
    if (qpdf.isEmpty())
        QSKIP("qpdf is not installed: no locked document to try");
    const QString plain = m_dir.filePath(QStringLiteral("plain.pdf"));
    const QString locked = m_dir.filePath(QStringLiteral("locked.pdf"));
    QVERIFY(test::writePdf(plain, 2));
    QCOMPARE(QProcess::execute(qpdf, {QStringLiteral("--encrypt"), QStringLiteral("user"),
                                      QStringLiteral("owner"), QStringLiteral("256"),
                                      QStringLiteral("--"), plain, locked}),
             0);
    std::vector<PageInfo> pages;
    QCOMPARE(measureFile(QFile::encodeName(locked), EntryType::Unknown, &pages).count.pages, 0);
    QVERIFY(pages.empty());
}

void TestPdfPageBoxes::filesAreReadLikeTheyAreCounted_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("pages");
    QTest::addColumn<ColourClass>("colour");
    const auto row = [](const char *name, const char *file, const char *kind, int pages,
                        ColourClass colour) {
        QTest::newRow(name) << file << kind << pages << colour;
    };
    row("TIFF", "a.tif", "tiff", 3, ColourClass::Grey);
    row("BigTIFF named .pdf", "b.pdf", "bigtiff", 2, ColourClass::Grey);
    row("PDF", "c.PDF", "pdf", 4, ColourClass::BlackWhite);
    row("PDF named .tif", "d.tif", "pdf", 0, ColourClass::Unknown);
    row("FIFO named .pdf", "e.pdf", "fifo", 0, ColourClass::Unknown);
    row("nothing there", "f.pdf", "none", 0, ColourClass::Unknown);
}

void TestPdfPageBoxes::filesAreReadLikeTheyAreCounted()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, pages);
    const QString path = m_dir.filePath(name);
    if (kind == QLatin1String("tiff") || kind == QLatin1String("bigtiff"))
        QVERIFY(test::writeTiff(path, pages, kind == QLatin1String("bigtiff")));
    else if (kind == QLatin1String("pdf"))
        QVERIFY(test::writePdf(path, qMax(pages, 3)));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const QUrl url = QUrl::fromLocalFile(path);
    std::vector<PageInfo> details;
    QCOMPARE(measureFile(localPath(url), EntryType::Unknown, nullptr).count.pages, pages);
    QCOMPARE(measureFile(localPath(url), EntryType::Unknown, &details).count.pages, pages);
    QCOMPARE(test::pageCount(url), pages);
    QCOMPARE(int(details.size()), pages);
    for (const PageInfo &p : details)
        QTEST(p.colour, "colour");
}

QTEST_GUILESS_MAIN(TestPdfPageBoxes)
#include "tst_pdfpageboxes.moc"
