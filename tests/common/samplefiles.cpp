#include "samplefiles.h"

#include <QFile>

#include <tiffio.h>

namespace tallivo::test {

bool writeTiff(const QString &path, int pages, bool bigTiff)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), bigTiff ? "w8" : "w");
    if (!tif)
        return false;
    const unsigned char row[4] = {0, 64, 128, 255};
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, p, pages);
        for (uint32_t y = 0; y < 2; ++y)
            TIFFWriteScanline(tif, const_cast<unsigned char *>(row), y, 0);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return true;
}

bool writeG4Tiff(const QString &path, int pages, bool cutAfterFirst)
{
    const QByteArray name = QFile::encodeName(path);
    TIFF *tif = TIFFOpen(name.constData(), "w");
    if (!tif)
        return false;
    constexpr uint32_t kWidth = 64;
    const QByteArray row(kWidth / 8, '\x5a');
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 200.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 200.0);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, p, pages);
        for (uint32_t y = 0; y < 8; ++y)
            TIFFWriteScanline(tif, const_cast<char *>(row.constData()), y, 0);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    if (!cutAfterFirst)
        return true;
    // The second page's image comes after the first page's directory.
    tif = TIFFOpen(name.constData(), "r");
    if (!tif)
        return false;
    toff_t *offsets = nullptr;
    const bool found =
        TIFFSetDirectory(tif, 1) && TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) && offsets;
    const toff_t cut = found ? offsets[0] : 0;
    TIFFClose(tif);
    QFile file(path);
    return cut > 8 && file.resize(qint64(cut));
}

QByteArray pdfOfObjects(const QList<QByteArray> &objects)
{
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets << out.size();
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype off : offsets)
        out += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

QByteArray pdfBytes(int pages)
{
    QList<QByteArray> objects;
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(3 + i) + " 0 R ";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    for (int i = 0; i < pages; ++i)
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>";

    return pdfOfObjects(objects);
}

bool writePdf(const QString &path, int pages)
{
    return writeBytes(path, pdfBytes(pages));
}

QByteArray pdfOfSize(int pages, int width, int height, bool colour)
{
    const QByteArray content = colour ? "1 0 0 rg 0 0 100 100 re f" : "0 g 0 0 100 100 re f";
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>"};
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(4 + i) + " 0 R ";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    objects << "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
                   "\nendstream";
    for (int i = 0; i < pages; ++i)
        objects << "<< /Type /Page /Parent 2 0 R /Contents 3 0 R /MediaBox [0 0 " +
                       QByteArray::number(width) + ' ' + QByteArray::number(height) + "] >>";
    return pdfOfObjects(objects);
}

QByteArray pdfWithLogo()
{
    const QByteArray content = "0 g 100 700 300 20 re f 1 0 0 rg 50 50 10 10 re f";
    return pdfOfObjects({"<< /Type /Catalog /Pages 2 0 R >>",
                         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>",
                         "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" +
                             content + "\nendstream"});
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace tallivo::test
