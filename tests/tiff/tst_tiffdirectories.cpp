#include "blockreader.h"
#include "counting.h"
#include "pagecount.h"
#include "samplefiles.h"
#include "tiffdirectories.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

using namespace tallivo;

namespace {

struct Walked
{
    qint32 count = 0;
    bool cutShort = false;
    std::vector<TiffDirectory> details;
    int readCalls = 0;
};

Walked walkFile(const QString &path, bool details)
{
    Walked out;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return out;
    BlockReader reader(fd, ::lseek(fd, 0, SEEK_END));
    if (const auto layout = tiffLayout(reader.viewUpTo(0, 16)))
        out.count =
            walkTiffDirectories(reader, *layout, details ? &out.details : nullptr, &out.cutShort);
    out.readCalls = reader.readCalls();
    ::close(fd);
    return out;
}

// RGB pages written by libtiff in one of the four layouts; odd pages in
// centimetres and turned a quarter.
QByteArray writeWithLibtiff(const QString &path, bool big, bool mm, int pages, int width = 64)
{
    const QByteArray mode = QByteArray("w") + (big ? "8" : "") + (mm ? "b" : "l");
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), mode.constData());
    if (!tif)
        return {};
    const QByteArray row(3 * width, '\x7f');
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 150.0);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, p % 2 ? RESUNIT_CENTIMETER : RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, p % 2 ? ORIENTATION_RIGHTTOP : ORIENTATION_TOPLEFT);
        for (uint32_t y = 0; y < 2; ++y)
            TIFFWriteScanline(tif, const_cast<char *>(row.constData()), y, 0);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Numbers in a file's byte order, to find and damage its directories.
quint64 get(const QByteArray &b, qint64 at, int width, bool mm)
{
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v |= quint64(quint8(b[at + i])) << (8 * (mm ? width - 1 - i : i));
    return v;
}

void put(QByteArray &b, qint64 at, quint64 v, int width, bool mm)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = char(v >> (8 * (mm ? width - 1 - i : i)));
}

QByteArray set(QByteArray b, qint64 at, quint64 v, int width, bool mm)
{
    put(b, at, v, width, mm);
    return b;
}

} // namespace

class TestTiffDirectories : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void fieldsInEveryLayout();
    void countsLikeTheCounter_data();
    void countsLikeTheCounter();
    void mutatedFilesCountLikeTheCounter();
    void detailsCostNoExtraReads();
    void detailsAreCapped();
    void agreesWithLibtiff();

private:
    QString write(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.tif").arg(++m_files));
        return test::writeBytes(path, bytes) ? path : QString();
    }
    QTemporaryDir m_dir;
    int m_files = 0;
};

void TestTiffDirectories::fieldsInEveryLayout()
{
    for (bool big : {false, true}) {
        for (bool mm : {false, true}) {
            const QString path = m_dir.filePath(QStringLiteral("fields.tif"));
            QVERIFY(!writeWithLibtiff(path, big, mm, 2).isEmpty());
            const Walked w = walkFile(path, true);
            QCOMPARE(w.count, 2);
            QCOMPARE(int(w.details.size()), 2);
            for (const TiffDirectory &d : w.details) {
                QCOMPARE(d.width, quint64(64));
                QCOMPARE(d.length, quint64(2));
                QCOMPARE(d.xResolution, 300.0); // out of line in classic files
                QCOMPARE(d.yResolution, 150.0);
                QCOMPARE(d.photometric, 2);
                QCOMPARE(d.bitsPerSample, 8); // three values: the first
                QCOMPARE(d.samplesPerPixel, 3);
            }
            QCOMPARE(w.details[0].resolutionUnit, 2);
            QCOMPARE(w.details[1].resolutionUnit, 3);
            QCOMPARE(w.details[1].orientation, 6);
            // 64 x 2 pixels at 300 x 150 per cm, turned: 2/15 cm wide.
            const PageInfo turned = w.details[1].page();
            QVERIFY(qAbs(turned.widthMm - 2.f / 15.f) < 1e-4f);
            QVERIFY(qAbs(turned.heightMm - 64.f / 30.f) < 1e-4f);
            QCOMPARE(turned.colour, ColourClass::Colour);
        }
    }
}

void TestTiffDirectories::countsLikeTheCounter_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");
    // Whether the file ends before its chain: the pages before count, and
    // the file is marked.
    QTest::addColumn<bool>("cut");
    const QString p = m_dir.filePath(QStringLiteral("three.tif"));
    for (bool big : {false, true}) {
        for (bool mm : {false, true}) {
            const QByteArray good = writeWithLibtiff(p, big, mm, 3);
            const int countWidth = big ? 8 : 2;
            const int entryWidth = big ? 20 : 12;
            const int offsetWidth = big ? 8 : 4;
            QList<qint64> dirs{qint64(get(good, big ? 8 : 4, offsetWidth, mm))};
            const auto nextAt = [&](qint64 dir) {
                return dir + countWidth + qint64(get(good, dir, countWidth, mm)) * entryWidth;
            };
            while (dirs.size() < 3)
                dirs << qint64(get(good, nextAt(dirs.last()), offsetWidth, mm));
            const auto row = [&](const char *name) -> QTestData & {
                return QTest::addRow("%s %s: %s", big ? "BigTIFF" : "classic", mm ? "MM" : "II",
                                     name);
            };
            row("three pages") << good << 3 << false;
            row("cut inside the first entry")
                << good.left(dirs[0] + countWidth + entryWidth - 1) << 0 << false;
            row("cut after the first entry")
                << good.left(dirs[0] + countWidth + entryWidth) << 1 << true;
            row("cut after the first directory")
                << good.left(nextAt(dirs[0]) + offsetWidth) << 1 << true;
            row("last directory cut") << good.left(nextAt(dirs[2]) - 1) << 2 << true;
            row("no room for the last pointer") << good.left(nextAt(dirs[2])) << 3 << false;
            row("second points at itself")
                << set(good, nextAt(dirs[1]), quint64(dirs[1]), offsetWidth, mm) << 2 << false;
            row("garbage entry count") << set(good, dirs[1], 60000, countWidth, mm) << 1 << false;
            row("empty second directory") << set(good, dirs[1], 0, countWidth, mm) << 1 << false;
            row("next far past the end")
                << set(good, nextAt(dirs[0]), big ? quint64(1) << 40 : 0xfffffff0u, offsetWidth, mm)
                << 1 << true;
            row("no first directory") << set(good, big ? 8 : 4, 0, offsetWidth, mm) << 0 << false;
            row("empty first directory") << set(good, dirs[0], 0, countWidth, mm) << 0 << false;
        }
    }
    // Headers libtiff refuses, so the walk must too.
    const QByteArray big = writeWithLibtiff(p, true, false, 1);
    const QByteArray classic = writeWithLibtiff(p, false, false, 1);
    QTest::newRow("BigTIFF, offsets of 4")
        << QByteArray(big).replace(4, 1, "\x04", 1) << 0 << false;
    QTest::newRow("BigTIFF, reserved word set")
        << QByteArray(big).replace(6, 1, "\x01", 1) << 0 << false;
    QTest::newRow("BigTIFF, cut header") << big.left(10) << 0 << false;
    QTest::newRow("mixed order") << QByteArray(classic).replace(1, 1, "M", 1) << 0 << false;
    QTest::newRow("wrong version") << QByteArray(classic).replace(2, 1, "\x29", 1) << 0 << false;
    QTest::newRow("header only") << QByteArray("II*\0\x08\0\0\0", 8) << 0 << false;
    QTest::newRow("top bit offset")
        << QByteArray("II+\0\x08\0\0\0\0\0\0\0\0\0\0\xff", 16) << 0 << false;
}

void TestTiffDirectories::countsLikeTheCounter()
{
    QFETCH(QByteArray, bytes);
    const QString path = write(bytes);
    QTEST(test::pageCount(QFile::encodeName(path)), "expected");
    const Walked off = walkFile(path, false);
    const Walked on = walkFile(path, true);
    QTEST(off.count, "expected");
    QTEST(on.count, "expected");
    QTEST(off.cutShort, "cut");
    QTEST(on.cutShort, "cut");
    QCOMPARE(int(on.details.size()), on.count);
    QVERIFY(off.details.empty());
}

void TestTiffDirectories::mutatedFilesCountLikeTheCounter()
{
    // Flipped bytes and cut ends, in every layout; details on, so the
    // sanitizers see every field read of damaged directories too.
    QList<QByteArray> seeds;
    for (bool big : {false, true})
        for (bool mm : {false, true})
            seeds << writeWithLibtiff(m_dir.filePath(QStringLiteral("seed.tif")), big, mm, 4, 8);
    QRandomGenerator random(12);
    QStringList wrong;
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = seeds[round % seeds.size()];
        for (int i = random.bounded(1, 5); i > 0; --i)
            bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
        if (round % 3 == 0)
            bytes.truncate(random.bounded(int(bytes.size())));
        const QString path = write(bytes);
        const qint32 expected = test::pageCount(QFile::encodeName(path));
        const Walked w = walkFile(path, true);
        if (w.count != expected || int(w.details.size()) != w.count)
            wrong << QStringLiteral("round %1: %2 vs %3").arg(round).arg(w.count).arg(expected);
        QFile::remove(path);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void TestTiffDirectories::detailsCostNoExtraReads()
{
    // libtiff puts each directory's long values right after it, in the
    // block the walk reads anyway.
    const QString path = m_dir.filePath(QStringLiteral("many.tif"));
    QVERIFY(!writeWithLibtiff(path, false, false, 120, 600).isEmpty());
    const Walked off = walkFile(path, false);
    const Walked on = walkFile(path, true);
    QCOMPARE(off.count, 120);
    QCOMPARE(on.count, 120);
    QVERIFY(off.readCalls > 5);
    QCOMPARE(on.readCalls, off.readCalls);
}

void TestTiffDirectories::detailsAreCapped()
{
    // The smallest directories there are: one entry each, back to back.
    QByteArray bytes("II*\0\x08\0\0\0", 8);
    const int directories = kMaxDetailedPages + 5;
    for (int i = 0; i < directories; ++i) {
        const quint32 next = i + 1 < directories ? quint32(bytes.size() + 18) : 0;
        bytes += QByteArray("\x01\0\x00\x01\x03\0\x01\0\0\0\x04\0\0\0\0\0\0\0", 18);
        put(bytes, bytes.size() - 4, next, 4, false);
    }
    const Walked w = walkFile(write(bytes), true);
    QCOMPARE(w.count, directories);
    QCOMPARE(int(w.details.size()), kMaxDetailedPages);
    QCOMPARE(w.details.back().width, quint64(4));
}

// libtiff is the reference: for files it writes in every layout, with every
// orientation, unit and kind of pixel, the walk finds the directories
// libtiff reads and the same value in every field libtiff reports.
void TestTiffDirectories::agreesWithLibtiff()
{
    const QString path = m_dir.filePath(QStringLiteral("oracle.tif"));
    const QByteArray name = QFile::encodeName(path);
    for (bool big : {false, true}) {
        for (bool mm : {false, true}) {
            const int pages = 12;
            const QByteArray mode = QByteArray("w") + (big ? "8" : "") + (mm ? "b" : "l");
            TIFF *out = TIFFOpen(name.constData(), mode.constData());
            QVERIFY(out);
            for (int p = 0; p < pages; ++p) {
                const int kind = p % 3; // 1-bit white is zero, 8-bit grey, RGB
                const int samples = kind == 2 ? 3 : 1;
                const int bits = kind == 0 ? 1 : 8;
                const uint32_t width = 16 + 8 * p;
                TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
                TIFFSetField(out, TIFFTAG_IMAGELENGTH, 3 + p);
                TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bits);
                TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, samples);
                TIFFSetField(out, TIFFTAG_PHOTOMETRIC,
                             kind == 0   ? PHOTOMETRIC_MINISWHITE
                             : kind == 1 ? PHOTOMETRIC_MINISBLACK
                                         : PHOTOMETRIC_RGB);
                TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
                TIFFSetField(out, TIFFTAG_ORIENTATION, 1 + p % 8);
                if (p % 4 != 3) {
                    TIFFSetField(out, TIFFTAG_XRESOLUTION, 72.0 + 25.5 * p);
                    TIFFSetField(out, TIFFTAG_YRESOLUTION, 100.0 + p);
                    TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, 1 + p % 3);
                }
                const QByteArray row((width * bits * samples + 7) / 8, '\x55');
                for (uint32_t y = 0; y < uint32_t(3 + p); ++y)
                    TIFFWriteScanline(out, const_cast<char *>(row.constData()), y, 0);
                QVERIFY(TIFFWriteDirectory(out));
            }
            TIFFClose(out);

            const Walked w = walkFile(path, true);
            TIFF *in = TIFFOpen(name.constData(), "r");
            QVERIFY(in);
            QCOMPARE(w.count, int(TIFFNumberOfDirectories(in)));
            QCOMPARE(int(w.details.size()), pages);
            for (int p = 0; p < pages; ++p) {
                QVERIFY(TIFFSetDirectory(in, tdir_t(p)));
                const TiffDirectory &d = w.details[size_t(p)];
                uint32_t u32 = 0;
                uint16_t u16 = 0;
                float f = 0;
                QVERIFY(TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &u32));
                QCOMPARE(d.width, quint64(u32));
                QVERIFY(TIFFGetField(in, TIFFTAG_IMAGELENGTH, &u32));
                QCOMPARE(d.length, quint64(u32));
                QVERIFY(TIFFGetField(in, TIFFTAG_BITSPERSAMPLE, &u16));
                QCOMPARE(d.bitsPerSample, int(u16));
                QVERIFY(TIFFGetField(in, TIFFTAG_SAMPLESPERPIXEL, &u16));
                QCOMPARE(d.samplesPerPixel, int(u16));
                QVERIFY(TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &u16));
                QCOMPARE(d.photometric, int(u16));
                QVERIFY(TIFFGetField(in, TIFFTAG_ORIENTATION, &u16));
                QCOMPARE(d.orientation, int(u16));
                if (TIFFGetField(in, TIFFTAG_XRESOLUTION, &f))
                    QCOMPARE(float(d.xResolution), f);
                else
                    QCOMPARE(d.xResolution, 0.0);
                if (TIFFGetField(in, TIFFTAG_YRESOLUTION, &f))
                    QCOMPARE(float(d.yResolution), f);
                else
                    QCOMPARE(d.yResolution, 0.0);
                if (TIFFGetField(in, TIFFTAG_RESOLUTIONUNIT, &u16))
                    QCOMPARE(d.resolutionUnit, int(u16));
            }
            TIFFClose(in);
        }
    }
}

QTEST_GUILESS_MAIN(TestTiffDirectories)
#include "tst_tiffdirectories.moc"
