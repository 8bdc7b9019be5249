#include "tiffdirectories.h"

#include "blockreader.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_set>

namespace tallivo {
namespace {

enum Tag : quint16
{
    ImageWidth = 256,
    ImageLength = 257,
    BitsPerSample = 258,
    Photometric = 262,
    Orientation = 274,
    SamplesPerPixel = 277,
    XResolution = 282,
    YResolution = 283,
    ResolutionUnit = 296,
};

enum Type : quint16
{
    Byte = 1,
    Short = 3,
    Long = 4,
    Rational = 5,
    SByte = 6,
    SShort = 8,
    SLong = 9,
    SRational = 10,
    Float = 11,
    Double = 12,
    Long8 = 16,
    SLong8 = 17,
};

int typeSize(quint16 type)
{
    switch (type) {
    case Byte:
    case SByte:
        return 1;
    case Short:
    case SShort:
        return 2;
    case Long:
    case SLong:
    case Float:
        return 4;
    case Rational:
    case SRational:
    case Double:
    case Long8:
    case SLong8:
        return 8;
    default:
        return 0;
    }
}

// Real directories hold a few dozen entries, the wanted ones among the
// first; a fuzzed chain of huge overlapping directories must not cost more
// than a bounded look at each.
constexpr quint64 kMaxEntriesScanned = 512;

class ChainReader
{
public:
    ChainReader(BlockReader &reader, TiffLayout layout)
        : m_reader(reader)
        , m_bigEndian(layout.bigEndian)
        , m_offsetWidth(layout.bigTiff ? 8 : 4)
        , m_countWidth(layout.bigTiff ? 8 : 2)
        , m_entryWidth(layout.bigTiff ? 20 : 12)
    {
    }

    int offsetWidth() const { return m_offsetWidth; }
    int countWidth() const { return m_countWidth; }
    int entryWidth() const { return m_entryWidth; }

    quint64 decode(const char *bytes, int width) const
    {
        quint64 value = 0;
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (m_bigEndian ? width - 1 - i : i);
            value |= quint64(quint8(bytes[i])) << shift;
        }
        return value;
    }

    QByteArrayView bytes(quint64 offset, int length)
    {
        if (offset > quint64(std::numeric_limits<qint64>::max()))
            return {};
        const QByteArrayView view = m_reader.view(qint64(offset), length);
        return view.size() == length ? view : QByteArrayView();
    }

    bool number(quint64 offset, int width, quint64 *out)
    {
        const QByteArrayView view = bytes(offset, width);
        if (view.isNull())
            return false;
        *out = decode(view.data(), width);
        return true;
    }

    TiffDirectory directory(quint64 offset, quint64 entries);

private:
    struct Entry
    {
        quint16 tag = 0;
        quint16 type = 0;
        quint64 count = 0;
        quint64 valueAt = 0; // file offset of the first value
    };
    bool entry(quint64 at, Entry *out);
    std::optional<quint64> unsignedValue(const Entry &e);
    std::optional<double> realValue(const Entry &e);

    BlockReader &m_reader;
    bool m_bigEndian;
    int m_offsetWidth;
    int m_countWidth;
    int m_entryWidth;
};

bool ChainReader::entry(quint64 at, Entry *out)
{
    const QByteArrayView view = bytes(at, m_entryWidth);
    if (view.isNull())
        return false;
    const char *p = view.data();
    out->tag = quint16(decode(p, 2));
    out->type = quint16(decode(p + 2, 2));
    out->count = decode(p + 4, m_offsetWidth);
    const int size = typeSize(out->type);
    const int valueField = 4 + m_offsetWidth;
    // A value that fits in the entry sits in it; a longer one elsewhere.
    if (size == 0 || out->count == 0)
        out->count = 0;
    else if (out->count <= quint64(m_offsetWidth / size))
        out->valueAt = at + quint64(valueField);
    else
        out->valueAt = decode(p + valueField, m_offsetWidth);
    return true;
}

std::optional<quint64> ChainReader::unsignedValue(const Entry &e)
{
    const int size = typeSize(e.type);
    if (e.count == 0)
        return std::nullopt;
    const QByteArrayView view = bytes(e.valueAt, size);
    if (view.isNull())
        return std::nullopt;
    const quint64 raw = decode(view.data(), size);
    switch (e.type) {
    case Byte:
    case Short:
    case Long:
    case Long8:
        return raw;
    case SByte:
    case SShort:
    case SLong:
    case SLong8: {
        const quint64 sign = quint64(1) << (8 * size - 1);
        if (raw & sign)
            return std::nullopt;
        return raw;
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> ChainReader::realValue(const Entry &e)
{
    if (e.count == 0)
        return std::nullopt;
    switch (e.type) {
    case Rational:
    case SRational: {
        const QByteArrayView view = bytes(e.valueAt, 8);
        if (view.isNull())
            return std::nullopt;
        const quint64 num = decode(view.data(), 4);
        const quint64 den = decode(view.data() + 4, 4);
        if (den == 0)
            return 0.0;
        if (e.type == Rational)
            return double(num) / double(den);
        return double(qint32(quint32(num))) / double(qint32(quint32(den)));
    }
    case Float: {
        const QByteArrayView view = bytes(e.valueAt, 4);
        if (view.isNull())
            return std::nullopt;
        const quint32 bits = quint32(decode(view.data(), 4));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return double(f);
    }
    case Double: {
        const QByteArrayView view = bytes(e.valueAt, 8);
        if (view.isNull())
            return std::nullopt;
        const quint64 bits = decode(view.data(), 8);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    default:
        if (const auto v = unsignedValue(e))
            return double(*v);
        return std::nullopt;
    }
}

TiffDirectory ChainReader::directory(quint64 offset, quint64 entries)
{
    TiffDirectory dir;
    const quint64 first = offset + quint64(m_countWidth);
    const quint64 scanned = qMin(entries, kMaxEntriesScanned);
    // Where a tag appears twice the first one holds, as in libtiff.
    quint32 seen = 0;
    auto once = [&seen](int bit) {
        const bool fresh = !(seen & (1u << bit));
        seen |= 1u << bit;
        return fresh;
    };
    for (quint64 i = 0; i < scanned; ++i) {
        Entry e;
        // The first directory of a cut file may end early.
        if (!entry(first + i * quint64(m_entryWidth), &e))
            break;
        switch (e.tag) {
        case ImageWidth:
            if (once(0))
                dir.width = unsignedValue(e).value_or(0);
            break;
        case ImageLength:
            if (once(1))
                dir.length = unsignedValue(e).value_or(0);
            break;
        case BitsPerSample:
            if (once(2))
                dir.bitsPerSample = int(qMin<quint64>(unsignedValue(e).value_or(0), 0xffff));
            break;
        case Photometric:
            if (once(3))
                dir.photometric = int(qMin<quint64>(unsignedValue(e).value_or(0xffff), 0xffff));
            break;
        case Orientation:
            if (once(4))
                dir.orientation = int(qMin<quint64>(unsignedValue(e).value_or(0), 0xffff));
            break;
        case SamplesPerPixel:
            if (once(5))
                dir.samplesPerPixel = int(qMin<quint64>(unsignedValue(e).value_or(0), 0xffff));
            break;
        case XResolution:
            if (once(6))
                dir.xResolution = realValue(e).value_or(0);
            break;
        case YResolution:
            if (once(7))
                dir.yResolution = realValue(e).value_or(0);
            break;
        case ResolutionUnit:
            if (once(8))
                dir.resolutionUnit = int(qMin<quint64>(unsignedValue(e).value_or(0), 0xffff));
            break;
        default:
            break;
        }
    }
    if (dir.photometric == 0xffff)
        dir.photometric = -1;
    return dir;
}

template <typename Keep>
qint32 walk(BlockReader &reader, TiffLayout layout, bool *cutShort, Keep keep)
{
    ChainReader chain(reader, layout);
    const quint64 fileSize = quint64(reader.size());
    // Whether `length` bytes at `at` run past the end of the file, rather
    // than being unreadable for another reason.
    const auto pastEnd = [fileSize](quint64 at, quint64 length) {
        return at >= fileSize || length > fileSize - at;
    };
    bool cut = false;
    quint64 offset = 0;
    if (!chain.number(layout.bigTiff ? 8 : 4, chain.offsetWidth(), &offset))
        return 0;
    std::unordered_set<quint64> seen;
    qint32 count = 0;
    while (offset != 0 && count < std::numeric_limits<qint32>::max() &&
           seen.insert(offset).second) {
        quint64 entries = 0;
        if (!chain.number(offset, chain.countWidth(), &entries)) {
            cut = count > 0 && pastEnd(offset, quint64(chain.countWidth()));
            break;
        }
        if (entries == 0 || entries > fileSize ||
            chain.bytes(offset + quint64(chain.countWidth()), chain.entryWidth()).isNull())
            break;
        const quint64 next =
            offset + quint64(chain.countWidth()) + entries * quint64(chain.entryWidth());
        if (next > fileSize) {
            cut = true;
            if (count > 0)
                break;
        }
        ++count;
        keep(chain, offset, entries);
        // A file that ends where the last next pointer would be is read by
        // libtiff as ending the chain there; some writers leave it out.
        if (!chain.number(next, chain.offsetWidth(), &offset))
            break;
    }
    if (cutShort)
        *cutShort = cut && count > 0;
    return count;
}

} // namespace

std::optional<TiffLayout> tiffLayout(QByteArrayView head)
{
    if (head.size() < 8)
        return std::nullopt;
    const auto byte = [&head](int i) { return quint8(head[i]); };
    TiffLayout layout;
    if (byte(0) == 'I' && byte(1) == 'I')
        layout.bigEndian = false;
    else if (byte(0) == 'M' && byte(1) == 'M')
        layout.bigEndian = true;
    else
        return std::nullopt;
    const auto word = [&](int i) {
        return layout.bigEndian ? (byte(i) << 8 | byte(i + 1)) : (byte(i + 1) << 8 | byte(i));
    };
    if (word(2) == 42)
        return layout;
    // BigTIFF: offsets of 8 bytes and a zero word, as libtiff insists.
    if (word(2) != 43 || head.size() < 16 || word(4) != 8 || word(6) != 0)
        return std::nullopt;
    layout.bigTiff = true;
    return layout;
}

PageInfo TiffDirectory::page() const
{
    PageInfo page;
    const int bits = bitsPerSample > 0 ? bitsPerSample : 1;
    const int samples = samplesPerPixel > 0 ? samplesPerPixel : 1;
    switch (photometric) {
    case 0: // white is zero
    case 1: // black is zero
        page.colour = bits == 1 ? ColourClass::BlackWhite : ColourClass::Grey;
        break;
    case 2:     // RGB
    case 3:     // palette
    case 5:     // separated, usually CMYK
    case 6:     // YCbCr
    case 8:     // CIE L*a*b*
    case 9:     // ICC L*a*b*
    case 10:    // ITU L*a*b*
    case 32845: // LogLuv
        page.colour = ColourClass::Colour;
        break;
    case 32844: // LogL
        page.colour = ColourClass::Grey;
        break;
    case -1:
        // A single bit per pixel has two tones whatever the missing tag meant.
        if (bits == 1 && samples == 1)
            page.colour = ColourClass::BlackWhite;
        break;
    default:
        break;
    }

    const int unit = resolutionUnit == 0 ? 2 : resolutionUnit;
    if (unit != 2 && unit != 3)
        return page;
    const double mmPerUnit = unit == 2 ? kMmPerInch : 10.0;
    const auto plausible = [mmPerUnit](double resolution) {
        const double perInch = resolution * kMmPerInch / mmPerUnit;
        return perInch >= 10 && perInch <= 100'000;
    };
    if (width == 0 || length == 0 || !plausible(xResolution) || !plausible(yResolution))
        return page;
    double w = double(width) / xResolution * mmPerUnit;
    double h = double(length) / yResolution * mmPerUnit;
    if (w > SizeClass::kMaxSideMm || h > SizeClass::kMaxSideMm)
        return page;
    if (orientation >= 5 && orientation <= 8)
        std::swap(w, h);
    page.widthMm = float(w);
    page.heightMm = float(h);
    return page;
}

qint32 walkTiffDirectories(BlockReader &reader, TiffLayout layout,
                           std::vector<TiffDirectory> *details, bool *cutShort)
{
    if (!details)
        return walk(reader, layout, cutShort, [](ChainReader &, quint64, quint64) {});
    return walk(reader, layout, cutShort,
                [details](ChainReader &chain, quint64 offset, quint64 entries) {
                    if (details->size() < size_t(kMaxDetailedPages))
                        details->push_back(chain.directory(offset, entries));
                });
}

qint32 walkTiffPages(BlockReader &reader, TiffLayout layout, std::vector<PageInfo> *pages,
                     bool *cutShort)
{
    if (!pages)
        return walk(reader, layout, cutShort, [](ChainReader &, quint64, quint64) {});
    return walk(reader, layout, cutShort,
                [pages](ChainReader &chain, quint64 offset, quint64 entries) {
                    if (pages->size() < size_t(kMaxDetailedPages))
                        pages->push_back(chain.directory(offset, entries).page());
                });
}

} // namespace tallivo
