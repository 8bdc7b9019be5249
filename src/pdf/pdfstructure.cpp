#include "pdfstructure.h"

#include "blockreader.h"
#include "pdfdocument.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstring>

// The reader follows the path the PDF library takes to a page count and
// answers only when that path needs no repair. Where the library is lenient
// (it recovers from odd tokens, truncated containers, wrong stream lengths,
// or rebuilds a damaged cross-reference table by scanning the file), this
// reader is strict and steps aside, so its answers never differ.
//
// Its layers: pdflexer (bounds, bytes, tokens), pdfobjects (parsed values),
// pdffilters (stream data), pdfdocument (cross-reference sections, objects,
// encryption, the page tree).

namespace tallivo {

using pdfread::Document;
using pdfread::isDigit;
using pdfread::isWhite;
using pdfread::Reason;
using pdfread::StepAside;

PdfStructureResult examinePdfStructure(BlockReader &reader, std::vector<PageInfo> *boxes)
{
    PdfStructureResult result;
    try {
        Document document(reader);
        result.pages = document.pageCount();
        if (boxes) {
            std::vector<PageInfo> read;
            try {
                document.pageBoxes(*result.pages, read);
                boxes->insert(boxes->end(), read.begin(), read.end());
                result.boxesRead = true;
            } catch (const StepAside &) {
            } catch (const std::bad_alloc &) {
            }
        }
    } catch (const StepAside &aside) {
        result.reason = aside.reason;
    } catch (const std::bad_alloc &) {
        result.reason = Reason::LimitExceeded;
    }
    return result;
}

namespace {

// An object header at `p`: digits, white space, digits, white space,
// "obj", as the library's repair scan reads it after a line's leading white
// space. Its number, saturated, or -1.
qint64 objectHeaderAt(const char *p, const char *end)
{
    auto space = [](char c) { return isWhite(uchar(c)); };
    while (p < end && space(*p))
        ++p;
    const char *digits = p;
    qint64 num = 0;
    while (p < end && isDigit(uchar(*p))) {
        num = qMin<qint64>(num * 10 + (*p - '0'), Q_INT64_C(1) << 40);
        ++p;
    }
    if (p == digits || p == end || !space(*p))
        return -1;
    while (p < end && space(*p))
        ++p;
    const char *gen = p;
    while (p < end && isDigit(uchar(*p)))
        ++p;
    if (p == gen || p == end || !space(*p))
        return -1;
    while (p < end && space(*p))
        ++p;
    return end - p >= 3 && std::memcmp(p, "obj", 3) == 0 ? num : -1;
}

} // namespace

bool containsObjectHeader(QByteArrayView bytes)
{
    const char *begin = bytes.data();
    const char *end = begin + bytes.size();
    for (const char *line = begin; line < end;) {
        if (objectHeaderAt(line, end) >= 0)
            return true;
        const char *next = static_cast<const char *>(std::memchr(line, '\n', size_t(end - line)));
        const char *cr = static_cast<const char *>(std::memchr(line, '\r', size_t(end - line)));
        if (!next || (cr && cr < next))
            next = cr;
        if (!next)
            break;
        line = next + 1;
    }
    return false;
}

bool repairClaimsTooManyObjects(BlockReader &reader)
{
    // The library's tables take about 40 bytes per object number; a few
    // million is what a large damaged file may hold, and every object
    // takes a few bytes of the file.
    const qint64 size = reader.size();
    const qint64 limit = qMax<qint64>(qint64(1) << 22, size / 8);
    constexpr qint64 kChunk = 1 << 20;
    constexpr qint64 kOverlap = 64; // a header split between two chunks
    QByteArray chunk(kChunk + kOverlap, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += kChunk) {
        const qint64 length = qMin(kChunk + kOverlap, size - at);
        if (!reader.readInto(at, length, chunk.data()))
            return false;
        const char *begin = chunk.constData();
        const char *end = begin + length;
        const char *stop = begin + qMin(kChunk, length);
        if (at == 0 && objectHeaderAt(begin, end) > limit)
            return true;
        for (const char *p = begin; p < stop; ++p) {
            if ((*p == '\n' || *p == '\r') && objectHeaderAt(p + 1, end) > limit)
                return true;
        }
    }
    return false;
}

} // namespace tallivo
