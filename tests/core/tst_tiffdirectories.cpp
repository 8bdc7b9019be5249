#include "blockreader.h"
#include "pagecount.h"
#include "samplefiles.h"
#include "tiffdirectories.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

using namespace tallivo;

namespace {

// Crafts TIFF files byte by byte, each directory preceded by the values that
// do not fit in its entries.
class TiffMaker
{
public:
    struct Field
    {
        quint16 tag;
        quint16 type;
        QList<quint64> values; // a RATIONAL takes two: numerator, denominator
    };

    TiffMaker(bool bigTiff, bool bigEndian)
        : m_big(bigTiff)
        , m_bigEndian(bigEndian)
    {
        m_bytes = bigEndian ? "MM" : "II";
        put(bigTiff ? 43 : 42, 2);
        if (bigTiff) {
            put(8, 2);
            put(0, 2);
        }
        m_nextAt = m_bytes.size();
        put(0, offsetWidth());
    }

    int offsetWidth() const { return m_big ? 8 : 4; }

    // Returns the directory's offset.
    qint64 addDirectory(const QList<Field> &fields)
    {
        QList<qint64> outOfLine;
        for (const Field &f : fields) {
            const int size = typeSize(f.type);
            const qsizetype count = f.type == 5 ? f.values.size() / 2 : f.values.size();
            if (count * size <= offsetWidth()) {
                outOfLine << -1;
                continue;
            }
            outOfLine << m_bytes.size();
            putValues(f);
        }
        if (m_bytes.size() % 2)
            m_bytes += '\0';
        const qint64 at = m_bytes.size();
        patch(m_nextAt, quint64(at), offsetWidth());
        put(quint64(fields.size()), m_big ? 8 : 2);
        for (qsizetype i = 0; i < fields.size(); ++i) {
            const Field &f = fields[i];
            put(f.tag, 2);
            put(f.type, 2);
            put(quint64(f.type == 5 ? f.values.size() / 2 : f.values.size()), offsetWidth());
            if (outOfLine[i] >= 0) {
                put(quint64(outOfLine[i]), offsetWidth());
            } else {
                const qsizetype start = m_bytes.size();
                putValues(f);
                m_bytes.append(offsetWidth() - (m_bytes.size() - start), '\0');
            }
        }
        m_nextAt = m_bytes.size();
        put(0, offsetWidth());
        return at;
    }

    QByteArray &bytes() { return m_bytes; }
    void patch(qint64 at, quint64 value, int width)
    {
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (m_bigEndian ? width - 1 - i : i);
            m_bytes[at + i] = char(value >> shift);
        }
    }

private:
    static int typeSize(quint16 type) { return type == 3 ? 2 : type == 5 || type == 16 ? 8 : 4; }
    void put(quint64 value, int width)
    {
        m_bytes.append(width, '\0');
        patch(m_bytes.size() - width, value, width);
    }
    void putValues(const Field &f)
    {
        for (quint64 v : f.values)
            put(v, f.type == 3 ? 2 : f.type == 16 ? 8 : 4);
    }

    bool m_big;
    bool m_bigEndian;
    QByteArray m_bytes;
    qint64 m_nextAt = 0;
};

using Field = TiffMaker::Field;

// An A4 page at 300 dpi in the given photometric interpretation.
QList<Field> a4Page(int photometric = 1, int bits = 1, int samples = 1)
{
    QList<Field> fields{{256, 3, {2480}},
                        {257, 4, {3508}},
                        {258, 3, {}},
                        {262, 3, {quint64(photometric)}},
                        {277, 3, {quint64(samples)}},
                        {282, 5, {300, 1}},
                        {283, 5, {600, 2}}};
    for (int i = 0; i < samples; ++i)
        fields[2].values << quint64(bits);
    return fields;
}

struct Walked
{
    qint32 count = 0;
    std::vector<TiffDirectory> details;
    int readCalls = 0;
};

} // namespace

class TestTiffDirectories : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void layouts_data();
    void layouts();
    void fieldsInEveryLayout_data();
    void fieldsInEveryLayout();
    void countsLikeTheCounter_data();
    void countsLikeTheCounter();
    void mutatedFilesCountLikeTheCounter();
    void corpusCountsLikeTheCounter();
    void detailsCostNoExtraReads();
    void detailsAreCapped();

private:
    Walked walk(const QByteArray &bytes, bool details = true);
    Walked walkFile(const QString &path, bool details);
    QString write(const QByteArray &bytes);
    QTemporaryDir m_dir;
    int m_files = 0;
};

QString TestTiffDirectories::write(const QByteArray &bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("f%1.tif").arg(++m_files));
    if (!test::writeBytes(path, bytes))
        return {};
    return path;
}

Walked TestTiffDirectories::walkFile(const QString &path, bool details)
{
    Walked out;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return out;
    const qint64 size = ::lseek(fd, 0, SEEK_END);
    BlockReader reader(fd, size);
    if (const auto layout = tiffLayout(reader.viewUpTo(0, 16)))
        out.count = walkTiffDirectories(reader, *layout, details ? &out.details : nullptr);
    out.readCalls = reader.readCalls();
    ::close(fd);
    return out;
}

Walked TestTiffDirectories::walk(const QByteArray &bytes, bool details)
{
    return walkFile(write(bytes), details);
}

void TestTiffDirectories::layouts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("bigTiff");
    QTest::addColumn<bool>("bigEndian");
    const auto oneImage = [](bool big, bool mm) {
        TiffMaker maker(big, mm);
        maker.addDirectory(a4Page());
        return maker.bytes();
    };
    QTest::newRow("classic II") << oneImage(false, false) << true << false << false;
    QTest::newRow("classic MM") << oneImage(false, true) << true << false << true;
    QTest::newRow("BigTIFF II") << oneImage(true, false) << true << true << false;
    QTest::newRow("BigTIFF MM") << oneImage(true, true) << true << true << true;
    QTest::newRow("BigTIFF, offsets of 4")
        << oneImage(true, false).replace(4, 1, "\x04", 1) << false << true << false;
    QTest::newRow("BigTIFF, reserved word set")
        << oneImage(true, false).replace(6, 1, "\x01", 1) << false << true << false;
    QTest::newRow("BigTIFF, cut header")
        << QByteArray("II+\0\x08\0\0\0\x10\0", 10) << false << true << false;
    QTest::newRow("mixed order") << oneImage(false, false).replace(1, 1, "M", 1) << false << false
                                 << false;
    QTest::newRow("wrong version")
        << oneImage(false, false).replace(2, 1, "\x29", 1) << false << false << false;
    QTest::newRow("short") << QByteArray("II*\0", 4) << false << false << false;
}

void TestTiffDirectories::layouts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    const auto layout = tiffLayout(QByteArrayView(bytes).first(qMin<qsizetype>(16, bytes.size())));
    QCOMPARE(layout.has_value(), valid);
    if (valid) {
        QTEST(layout->bigTiff, "bigTiff");
        QTEST(layout->bigEndian, "bigEndian");
    }
    // libtiff, which the counter asks, takes the same headers.
    const QString path = write(bytes);
    QCOMPARE(countTiffDirectories(path), valid ? 1 : 0);
    QCOMPARE(walkFile(path, false).count, valid ? 1 : 0);
}

void TestTiffDirectories::fieldsInEveryLayout_data()
{
    QTest::addColumn<bool>("bigTiff");
    QTest::addColumn<bool>("bigEndian");
    QTest::newRow("classic II") << false << false;
    QTest::newRow("classic MM") << false << true;
    QTest::newRow("BigTIFF II") << true << false;
    QTest::newRow("BigTIFF MM") << true << true;
}

void TestTiffDirectories::fieldsInEveryLayout()
{
    QFETCH(bool, bigTiff);
    QFETCH(bool, bigEndian);
    TiffMaker maker(bigTiff, bigEndian);
    maker.addDirectory(a4Page(2, 8, 3));
    QList<Field> second{{256, 4, {1000}},   {257, 16, {500}},   {262, 3, {0}}, {274, 3, {6}},
                        {282, 5, {100, 1}}, {283, 5, {200, 1}}, {296, 3, {3}}};
    maker.addDirectory(second);
    const Walked w = walk(maker.bytes());
    QCOMPARE(w.count, 2);
    QCOMPARE(int(w.details.size()), 2);
    const TiffDirectory &a = w.details[0];
    QCOMPARE(a.width, quint64(2480));
    QCOMPARE(a.length, quint64(3508));
    QCOMPARE(a.xResolution, 300.0);
    QCOMPARE(a.yResolution, 300.0);
    QCOMPARE(a.resolutionUnit, 0);
    QCOMPARE(a.photometric, 2);
    QCOMPARE(a.bitsPerSample, 8); // three values out of line: the first
    QCOMPARE(a.samplesPerPixel, 3);
    QCOMPARE(SizeClass::classify(a.page().widthMm, a.page().heightMm),
             SizeClass::named(SizeClass::A4));
    QCOMPARE(a.page().colour, ColourClass::Colour);

    const TiffDirectory &b = w.details[1];
    QCOMPARE(b.width, quint64(1000));
    QCOMPARE(b.length, quint64(500));
    QCOMPARE(b.resolutionUnit, 3);
    QCOMPARE(b.orientation, 6);
    QCOMPARE(b.bitsPerSample, 0);
    const PageInfo page = b.page();
    // 1000 px at 100/cm across, 500 px at 200/cm down, turned a quarter.
    QCOMPARE(page.widthMm, 25.0f);
    QCOMPARE(page.heightMm, 100.0f);
    QCOMPARE(page.colour, ColourClass::BlackWhite);
}

void TestTiffDirectories::countsLikeTheCounter_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");

    for (bool big : {false, true}) {
        for (bool mm : {false, true}) {
            const QString layout =
                QStringLiteral("%1 %2: ").arg(big ? "BigTIFF" : "classic", mm ? "MM" : "II");
            const auto row = [&layout](const char *name) -> QTestData & {
                return QTest::newRow(qPrintable(layout + QLatin1String(name)));
            };
            TiffMaker three(big, mm);
            qint64 dirs[3];
            for (qint64 &d : dirs)
                d = three.addDirectory(a4Page());
            const QByteArray good = three.bytes();
            row("three pages") << good << 3;

            const int countWidth = big ? 8 : 2;
            const int entryWidth = big ? 20 : 12;
            const qint64 entries = a4Page().size();
            const qint64 firstEntry = dirs[0] + countWidth;
            row("cut inside the first entry") << good.left(firstEntry + entryWidth - 1) << 0;
            row("cut after the first entry") << good.left(firstEntry + entryWidth) << 1;

            // The third directory's entries run past the end: not counted.
            const qint64 thirdEnd = dirs[2] + countWidth + entries * entryWidth;
            row("last directory cut") << good.left(thirdEnd - 1) << 2;
            // Ends exactly where its next pointer would start.
            row("no room for the last pointer") << good.left(thirdEnd) << 3;

            TiffMaker loop(big, mm);
            loop.addDirectory(a4Page());
            const qint64 second = loop.addDirectory(a4Page());
            loop.patch(loop.bytes().size() - loop.offsetWidth(), quint64(second),
                       loop.offsetWidth());
            row("second points at itself") << loop.bytes() << 2;

            QByteArray bogus = good;
            TiffMaker patcher(big, mm);
            patcher.bytes() = bogus;
            patcher.patch(dirs[1], 60000, countWidth);
            row("garbage entry count") << patcher.bytes() << 1;
            patcher.bytes() = good;
            patcher.patch(dirs[1], 0, countWidth);
            row("empty second directory") << patcher.bytes() << 1;
            patcher.bytes() = good;
            patcher.patch(dirs[0] + countWidth + entries * entryWidth, quint64(1) << 40,
                          patcher.offsetWidth());
            row("next pointer far past the end") << patcher.bytes() << 1;
            patcher.bytes() = good;
            patcher.patch(big ? 8 : 4, 0, patcher.offsetWidth());
            row("no first directory") << patcher.bytes() << 0;
        }
    }
    QTest::newRow("header only") << QByteArray("II*\0\x08\0\0\0", 8) << 0;
    QTest::newRow("top bit offset") << QByteArray("II+\0\x08\0\0\0\0\0\0\0\0\0\0\xff", 16) << 0;
}

void TestTiffDirectories::countsLikeTheCounter()
{
    QFETCH(QByteArray, bytes);
    const QString path = write(bytes);
    QTEST(countTiffDirectories(path), "expected");
    const Walked off = walkFile(path, false);
    const Walked on = walkFile(path, true);
    QTEST(off.count, "expected");
    QTEST(on.count, "expected");
    QCOMPARE(int(on.details.size()), on.count);
    QVERIFY(off.details.empty());
}

void TestTiffDirectories::mutatedFilesCountLikeTheCounter()
{
    // Flipped bytes and cut ends of real files, libtiff's and ours.
    QList<QByteArray> seeds;
    for (bool big : {false, true}) {
        const QString path = m_dir.filePath(QStringLiteral("seed.tif"));
        QVERIFY(test::writeTiff(path, 4, big));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        seeds << f.readAll();
        TiffMaker maker(big, true);
        for (int i = 0; i < 4; ++i)
            maker.addDirectory(a4Page(i, 8, i == 2 ? 3 : 1));
        seeds << maker.bytes();
    }
    QRandomGenerator random(12);
    QStringList wrong;
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = seeds[round % seeds.size()];
        const int flips = 1 + random.bounded(4);
        for (int i = 0; i < flips; ++i)
            bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
        if (round % 3 == 0)
            bytes.truncate(random.bounded(int(bytes.size())));
        const QString path = write(bytes);
        const qint32 expected = countTiffDirectories(path);
        const Walked w = walkFile(path, true);
        if (w.count != expected || int(w.details.size()) != w.count)
            wrong << QStringLiteral("round %1: %2 vs %3").arg(round).arg(w.count).arg(expected);
        QFile::remove(path);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void TestTiffDirectories::corpusCountsLikeTheCounter()
{
    const QString root = QStringLiteral(TALLIVO_CORPUS_DIR);
    if (!QFile::exists(root + QStringLiteral("/truth.tsv")))
        QSKIP("the shared corpus is not available here");
    QStringList wrong;
    int files = 0;
    for (const char *sub : {"/tiff", "/odd"}) {
        QDirIterator it(root + QLatin1String(sub), QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            const qint32 expected = countTiffDirectories(path);
            const Walked off = walkFile(path, false);
            const Walked on = walkFile(path, true);
            if (off.count != expected || on.count != expected)
                wrong << QStringLiteral("%1: %2/%3 vs %4")
                             .arg(path)
                             .arg(off.count)
                             .arg(on.count)
                             .arg(expected);
            ++files;
        }
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    QVERIFY(files > 150);
}

void TestTiffDirectories::detailsCostNoExtraReads()
{
    // libtiff puts each directory's long values right after it; the walk
    // reads the directory's block anyway.
    const QString path = m_dir.filePath(QStringLiteral("many.tif"));
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    QVERIFY(tif);
    const QByteArray row(3 * 600, '\x7f');
    for (int p = 0; p < 120; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 600);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 150.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 150.0);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        for (uint32_t y = 0; y < 2; ++y)
            TIFFWriteScanline(tif, const_cast<char *>(row.constData()), y, 0);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    const Walked off = walkFile(path, false);
    const Walked on = walkFile(path, true);
    QCOMPARE(off.count, 120);
    QCOMPARE(on.count, 120);
    QVERIFY(off.readCalls > 5);
    QCOMPARE(on.readCalls, off.readCalls);
    for (const TiffDirectory &d : on.details) {
        QCOMPARE(d.xResolution, 150.0);
        QCOMPARE(d.bitsPerSample, 8);
    }
}

void TestTiffDirectories::detailsAreCapped()
{
    // The smallest directories there are: one entry each, back to back.
    QByteArray bytes("II*\0\x08\0\0\0", 8);
    const int directories = kMaxDetailedPages + 5;
    for (int i = 0; i < directories; ++i) {
        const quint32 next = i + 1 < directories ? quint32(bytes.size() + 18) : 0;
        bytes += QByteArray("\x01\0\x00\x01\x03\0\x01\0\0\0\x04\0\0\0", 14);
        for (int shift : {0, 8, 16, 24})
            bytes += char(next >> shift);
    }
    const Walked w = walk(bytes);
    QCOMPARE(w.count, directories);
    QCOMPARE(int(w.details.size()), kMaxDetailedPages);
    QCOMPARE(w.details.back().width, quint64(4));
}

QTEST_GUILESS_MAIN(TestTiffDirectories)
#include "tst_tiffdirectories.moc"
