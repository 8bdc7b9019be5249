#include "pdffilters.h"

#include "iopool.h"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace tallivo::pdfread {
namespace {

int directInt(const Tree &tree, int node, int fallback)
{
    if (node < 0)
        return fallback;
    const Node &n = tree.at(node);
    if (n.kind != Kind::Int || !n.fits32)
        stepAside(Reason::Unsupported);
    return int(n.num);
}

QByteArray readBytes(BlockReader &reader, qint64 start, qint64 length)
{
    if (length > kMaxInflated)
        stepAside(Reason::LimitExceeded);
    QByteArray raw(length, Qt::Uninitialized);
    if (!reader.readInto(start, length, raw.data()))
        stepAside(Reason::ReadFailed);
    return raw;
}

struct DecompressorDeleter
{
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

// FlateDecode, the whole stream at once: a fast whole-buffer inflate beats
// stopping early with a streaming one even where the object sought sits
// near the start. The zlib header is checked as the library checks it; the
// Adler-32 trailer and anything after the data are ignored, as the library
// ignores them. Damaged data makes the reader step aside, wherever it is.
QByteArray inflateAll(BlockReader &reader, qint64 start, qint64 length)
{
    const QByteArray raw = readBytes(reader, start, length);
    if (raw.size() < 2)
        stepAside(Reason::DamagedObject);
    const int cmf = uchar(raw[0]);
    const int flg = uchar(raw[1]);
    if ((cmf & 0x0f) != 8 || (cmf >> 4) > 7 || ((cmf << 8) + flg) % 31 != 0 || (flg & 0x20))
        stepAside(Reason::DamagedObject);
    thread_local const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor)
        stepAside(Reason::LimitExceeded);
    // Inflating is the heavy part of this reader, on the CPU and in memory
    // (up to kMaxInflated): it waits for a parse slot. The compressed bytes
    // are read before, so a slow share holds up no other parse.
    const ParseSlot slot;
    // The decoded size is not known ahead: guess, and try again with twice
    // the room while there is more.
    qint64 capacity = qBound<qint64>(16 * 1024, 8 * qint64(raw.size()), kMaxInflated);
    QByteArray out;
    for (;;) {
        out.resize(qsizetype(capacity));
        size_t produced = 0;
        const libdeflate_result result = libdeflate_deflate_decompress_ex(
            decompressor.get(), raw.constData() + 2, size_t(raw.size() - 2), out.data(),
            size_t(capacity), nullptr, &produced);
        if (result == LIBDEFLATE_SUCCESS) {
            out.truncate(qsizetype(produced));
            return out;
        }
        if (result != LIBDEFLATE_INSUFFICIENT_SPACE)
            stepAside(Reason::DamagedObject);
        if (capacity >= kMaxInflated)
            stepAside(Reason::LimitExceeded);
        capacity = qMin(2 * capacity, kMaxInflated);
    }
}

// One PNG predictor step for a whole row: `line` holds the row's filtered
// bytes, `up` the row above (zeros for the first).
template <int Type> void unpredictRow(const uchar *line, const uchar *up, uchar *dst, int columns)
{
    for (int i = 0; i < columns; ++i) {
        const int left = i > 0 ? dst[i - 1] : 0;
        const int above = up[i];
        const int corner = i > 0 ? up[i - 1] : 0;
        int predicted = 0;
        if constexpr (Type == 1) {
            predicted = left;
        } else if constexpr (Type == 2) {
            predicted = above;
        } else if constexpr (Type == 3) {
            predicted = (left + above) / 2;
        } else if constexpr (Type == 4) {
            const int p = left + above - corner;
            const int pa = std::abs(p - left);
            const int pb = std::abs(p - above);
            const int pc = std::abs(p - corner);
            predicted = pa <= pb && pa <= pc ? left : pb <= pc ? above : corner;
        }
        dst[i] = uchar(line[i] + predicted);
    }
}

// PNG predictors, one byte per pixel. A last, incomplete row is dropped;
// entries that would need it are refused by the caller.
QByteArray unpredict(const QByteArray &in, int columns)
{
    const qsizetype stride = qsizetype(columns) + 1;
    const qsizetype rows = in.size() / stride;
    QByteArray out(rows * columns, Qt::Uninitialized);
    const std::vector<uchar> zeros(size_t(columns), 0);
    const auto *src = reinterpret_cast<const uchar *>(in.constData());
    auto *dst = reinterpret_cast<uchar *>(out.data());
    for (qsizetype r = 0; r < rows; ++r, src += stride, dst += columns) {
        const uchar *up = r > 0 ? dst - columns : zeros.data();
        switch (src[0]) {
        case 0:
            std::memcpy(dst, src + 1, size_t(columns));
            break;
        case 1:
            unpredictRow<1>(src + 1, up, dst, columns);
            break;
        case 2:
            unpredictRow<2>(src + 1, up, dst, columns);
            break;
        case 3:
            unpredictRow<3>(src + 1, up, dst, columns);
            break;
        case 4:
            unpredictRow<4>(src + 1, up, dst, columns);
            break;
        default:
            stepAside(Reason::Unsupported);
        }
    }
    return out;
}

} // namespace

Decoding decodingOf(const Tree &tree, int dict)
{
    if (tree.find(dict, "F") >= 0 || tree.find(dict, "DP") >= 0)
        stepAside(Reason::Unsupported);
    int filter = tree.find(dict, "Filter");
    int parms = tree.find(dict, "DecodeParms");
    if (parms >= 0 && tree.at(parms).kind == Kind::Null)
        parms = -1;
    if (filter >= 0 && tree.at(filter).kind == Kind::Array) {
        if (tree.at(filter).count != 1)
            stepAside(Reason::Unsupported);
        filter = tree.at(filter).first;
        if (parms >= 0) {
            if (tree.at(parms).kind != Kind::Array || tree.at(parms).count != 1)
                stepAside(Reason::Unsupported);
            parms = tree.at(parms).first;
            if (tree.at(parms).kind == Kind::Null)
                parms = -1;
        }
    }
    Decoding decoding;
    if (filter < 0 || tree.at(filter).kind == Kind::Null)
        return decoding;
    if (tree.at(filter).kind != Kind::Name || tree.name(filter) != "FlateDecode")
        stepAside(Reason::Unsupported);
    decoding.flate = true;
    if (parms < 0)
        return decoding;
    if (tree.at(parms).kind != Kind::Dict)
        stepAside(Reason::Unsupported);
    const int predictor = directInt(tree, tree.find(parms, "Predictor"), 1);
    const int colors = directInt(tree, tree.find(parms, "Colors"), 1);
    const int bits = directInt(tree, tree.find(parms, "BitsPerComponent"), 8);
    const int columns = directInt(tree, tree.find(parms, "Columns"), 1);
    if (predictor == 1)
        return decoding;
    if (predictor < 10 || predictor > 15 || colors != 1 || bits != 8 || columns < 1 ||
        columns > (1 << 20))
        stepAside(Reason::Unsupported);
    decoding.columns = columns;
    return decoding;
}

QByteArray decode(BlockReader &reader, qint64 start, qint64 length, const Decoding &decoding)
{
    if (!decoding.flate)
        return readBytes(reader, start, length);
    const QByteArray data = inflateAll(reader, start, length);
    return decoding.columns > 0 ? unpredict(data, decoding.columns) : data;
}

} // namespace tallivo::pdfread
