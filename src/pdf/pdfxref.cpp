#include "pdfdocument.h"
#include "pdffilters.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tallivo::pdfread {
namespace {

bool entryShape(const char *p)
{
    for (int i = 0; i < 10; ++i) {
        if (!isDigit(p[i]))
            return false;
    }
    for (int i = 11; i < 16; ++i) {
        if (!isDigit(p[i]))
            return false;
    }
    const bool eol =
        (p[18] == ' ' && (p[19] == '\r' || p[19] == '\n')) || (p[18] == '\r' && p[19] == '\n');
    return p[10] == ' ' && p[16] == ' ' && (p[17] == 'n' || p[17] == 'f') && eol;
}

qint64 digitsValue(const char *p, int count)
{
    qint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (p[i] - '0');
    return value;
}

quint64 bigEndian(const uchar *p, int width)
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | p[i];
    return value;
}

} // namespace

Linearization Document::readLinearization()
{
    // The library takes the file for linearized when its first object is a
    // dictionary with a positive /Linearized and an /L equal to the file's
    // length; it then reads the cross-reference section that follows that
    // object and takes /N for the page count.
    Cursor cursor(m_reader, 0);
    Lexer lexer(cursor, m_budget);
    Tree tree;
    Parser parser(lexer, tree);
    auto isReference = [&] {
        return parser.peek(0).type == Tok::Int && parser.peek(1).isKeyword("R");
    };
    Token num;
    Token gen;
    Token obj;
    parser.take(num);
    if (!num.isInt32() || isReference())
        return {};
    parser.take(gen);
    if (!gen.isInt32() || isReference())
        return {};
    parser.take(obj);
    if (!obj.isKeyword("obj"))
        return {};
    tree.root = parser.value(0);
    if (tree.at(tree.root).kind != Kind::Dict || parser.peek(0).isKeyword("stream"))
        return {};
    const int flag = tree.find(tree.root, "Linearized");
    if (flag < 0)
        return {};
    const Node &f = tree.at(flag);
    if (!((f.kind == Kind::Int && f.num > 0) || (f.kind == Kind::Real && f.positive)))
        return {};
    auto positiveInt = [&](const char *key) -> qint64 {
        const int node = tree.find(tree.root, key);
        if (node < 0)
            return 0;
        const Node &n = tree.at(node);
        return n.kind == Kind::Int && n.fits32 && n.num > 0 ? n.num : 0;
    };
    Linearization lin;
    lin.active = positiveInt("L") == m_fileSize;
    lin.pages = positiveInt("N");
    lin.mainEntries = positiveInt("T");
    return lin;
}

qint64 Document::findStartXref()
{
    // The library's search: windows of 1024 bytes stepping back 1008 bytes at
    // a time over the last 24 KiB, the last "startxref" of the first window
    // that has one.
    const qint64 searched = qMin<qint64>(m_fileSize, 24576);
    for (qint64 segment = 0; 1008 * segment < searched; ++segment) {
        const qint64 back = 1008 * segment + 1024;
        const qint64 from = back > m_fileSize ? 0 : m_fileSize - back;
        const qint64 length = qMin<qint64>(1024, m_fileSize - from);
        const QByteArray window = m_reader.view(from, length).toByteArray();
        if (window.size() != length)
            stepAside(Reason::ReadFailed);
        const char *w = window.constData();
        qint64 i = length - 9;
        while (i >= 0 && std::memcmp(w + i, "startxref", 9) != 0)
            --i;
        if (i < 0)
            continue;
        qint64 p = i + 9;
        while (p < length && (w[p] == ' ' || (w[p] >= '\t' && w[p] <= '\r')))
            ++p;
        qint64 value = 0;
        for (; p < length && isDigit(w[p]); ++p) {
            const int d = w[p] - '0';
            if (value > (LLONG_MAX - d) / 10)
                break;
            value = value * 10 + d;
        }
        return value;
    }
    return 0;
}

qint64 Document::afterFirstEndobj()
{
    const qint64 length = qMin<qint64>(1024, m_fileSize);
    const QByteArray head = m_reader.view(0, length).toByteArray();
    if (head.size() != length)
        stepAside(Reason::ReadFailed);
    const qsizetype at = head.indexOf("endobj");
    if (at < 0)
        return 0;
    qsizetype i = at + 6;
    while (i < head.size() && head[i] != 0 && isWhite(uchar(head[i])))
        ++i;
    return i;
}

qint64 Document::readSection(qint64 offset, std::vector<qint64> &followedXRefStm, bool first)
{
    if (m_sections.size() >= size_t(kMaxSections))
        stepAside(Reason::LimitExceeded);
    if (offset <= 0 || offset >= m_fileSize)
        stepAside(Reason::DamagedXref);
    Cursor cursor(m_reader, offset);
    Lexer lexer(cursor, m_budget);
    Token t;
    lexer.next(t);
    if (t.isKeyword("xref"))
        return readTable(cursor, lexer, offset, followedXRefStm, first);
    if (t.isInt32()) {
        Token gen;
        Token obj;
        lexer.next(gen);
        lexer.next(obj);
        if (gen.isInt32() && obj.isKeyword("obj"))
            return readXrefStream(lexer, first);
    }
    stepAside(Reason::DamagedXref);
}

void Document::validateEntries(qint64 at, qint64 count)
{
    // The library parses every entry of a section and rebuilds the whole
    // table when one does not parse, so every entry is checked here even
    // though only the few that are needed are decoded.
    constexpr qint64 perView = BlockReader::kBlockSize / kEntrySize;
    for (qint64 done = 0; done < count;) {
        const qint64 n = qMin(perView, count - done);
        const QByteArrayView bytes = m_reader.view(at + done * kEntrySize, n * kEntrySize);
        if (bytes.size() != n * kEntrySize)
            stepAside(Reason::DamagedXref);
        for (qint64 i = 0; i < n; ++i) {
            if (!entryShape(bytes.data() + i * kEntrySize))
                stepAside(Reason::DamagedXref);
        }
        done += n;
    }
}

qint64 Document::readTable(Cursor &cursor, Lexer &lexer, qint64 offset,
                           std::vector<qint64> &followedXRefStm, bool first)
{
    auto section = std::make_unique<Section>();
    qint64 total = 0;
    for (;;) {
        Token start;
        lexer.next(start);
        if (start.isKeyword("trailer"))
            break;
        Token count;
        lexer.next(count);
        if (!start.isInt32() || start.value < 0 || !count.isInt32() || count.value < 0)
            stepAside(Reason::DamagedXref);
        total += count.value;
        if (start.value + count.value > kMaxObjects || total > kMaxObjects)
            stepAside(Reason::LimitExceeded);
        Subsection sub{start.value, count.value, 0};
        if (count.value > 0) {
            while (isWhite(cursor.peek()))
                cursor.get();
            sub.at = cursor.pos();
            validateEntries(sub.at, sub.count);
            // The library moves such a subsection to object 0; rare enough to
            // leave to it.
            if (sub.first == 1) {
                const QByteArrayView e = m_reader.view(sub.at, kEntrySize);
                if (e.size() == kEntrySize && e.first(18) == "0000000000 65535 f")
                    stepAside(Reason::DamagedXref);
            }
            cursor.seek(sub.at + sub.count * kEntrySize);
        }
        section->subsections.push_back(sub);
    }

    Tree trailer;
    trailer.inFile = true;
    Parser parser(lexer, trailer);
    trailer.root = parser.value(0);
    if (trailer.at(trailer.root).kind != Kind::Dict || parser.peek(0).isKeyword("stream"))
        stepAside(Reason::DamagedXref);

    qint64 prev = -1;
    if (const int node = trailer.find(trailer.root, "Prev"); node >= 0) {
        const Node &n = trailer.at(node);
        if (n.kind != Kind::Int || n.num < 0)
            stepAside(Reason::DamagedXref);
        if (n.num == offset)
            stepAside(Reason::XrefLoop);
        prev = n.num;
    }
    qint64 xrefStm = -1;
    if (const int node = trailer.find(trailer.root, "XRefStm"); node >= 0) {
        const Node &n = trailer.at(node);
        if (n.kind != Kind::Int || n.num < 0)
            stepAside(Reason::DamagedXref);
        xrefStm = n.num;
    }
    if (first)
        m_trailer = std::move(trailer);
    m_sections.push_back(std::move(section));

    // A hybrid file's stream section comes after the table's own entries.
    if (xrefStm >= 0) {
        if (std::find(followedXRefStm.begin(), followedXRefStm.end(), xrefStm) !=
            followedXRefStm.end())
            stepAside(Reason::XrefLoop);
        followedXRefStm.push_back(xrefStm);
        readSection(xrefStm, followedXRefStm, false);
    }
    return prev;
}

qint64 Document::readXrefStream(Lexer &lexer, bool first)
{
    auto section = std::make_unique<Section>();
    section->isStream = true;
    Tree dict;
    dict.inFile = true;
    Parser parser(lexer, dict);
    dict.root = parser.value(0);
    if (dict.at(dict.root).kind != Kind::Dict)
        stepAside(Reason::DamagedXref);
    const Token &keyword = parser.peek(0);
    if (!keyword.isKeyword("stream"))
        stepAside(Reason::DamagedXref);
    const auto [start, length] = streamExtent(keyword.end, dict, dict.root, false);
    section->data = decode(m_reader, start, length, decodingOf(dict, dict.root));

    auto directInt32 = [&](int node) -> qint64 {
        if (node < 0 || dict.at(node).kind != Kind::Int || !dict.at(node).fits32)
            stepAside(Reason::DamagedXref);
        return dict.at(node).num;
    };
    const qint64 size = directInt32(dict.find(dict.root, "Size"));
    if (size < 0)
        stepAside(Reason::DamagedXref);
    if (size > kMaxObjects)
        stepAside(Reason::LimitExceeded);
    section->declaredSize = size;

    const int w = dict.find(dict.root, "W");
    if (w < 0 || dict.at(w).kind != Kind::Array || dict.at(w).count != 3)
        stepAside(Reason::DamagedXref);
    int entrySize = 0;
    int i = 0;
    for (int k = dict.at(w).first; k >= 0; k = dict.at(k).next, ++i) {
        const qint64 width = directInt32(k);
        if (width < 0 || width > (i == 0 ? 4 : 8))
            stepAside(Reason::DamagedXref);
        section->widths[i] = int(width);
        entrySize += int(width);
    }
    if (entrySize == 0)
        stepAside(Reason::DamagedXref);

    qint64 total = 0;
    const int index = dict.find(dict.root, "Index");
    if (index < 0) {
        section->subsections.push_back({0, size, 0});
        total = size;
    } else {
        if (dict.at(index).kind != Kind::Array || dict.at(index).count % 2 != 0)
            stepAside(Reason::DamagedXref);
        for (int k = dict.at(index).first; k >= 0; k = dict.at(dict.at(k).next).next) {
            const qint64 start = directInt32(k);
            const qint64 count = directInt32(dict.at(k).next);
            if (start < 0 || count < 0)
                stepAside(Reason::DamagedXref);
            if (start + count > kMaxObjects || total + count > kMaxObjects)
                stepAside(Reason::LimitExceeded);
            section->subsections.push_back({start, count, total});
            total += count;
        }
    }
    if (total * entrySize > section->data.size())
        stepAside(Reason::DamagedXref);
    // The library reads every entry and gives up on the section at the first
    // bad one.
    const auto *bytes = reinterpret_cast<const uchar *>(section->data.constData());
    const int *widths = section->widths;
    for (const Subsection &sub : section->subsections) {
        for (qint64 k = 0; k < sub.count; ++k) {
            const uchar *e = bytes + (sub.at + k) * entrySize;
            const quint64 type = widths[0] == 0 ? 1 : bigEndian(e, widths[0]);
            const quint64 offset = bigEndian(e + widths[0], widths[1]);
            const quint64 gen = bigEndian(e + widths[0] + widths[1], widths[2]);
            if (type > 2 || offset > quint64(LLONG_MAX))
                stepAside(Reason::DamagedXref);
            if (gen > quint64(INT_MAX) && !(sub.first + k == 0 && gen == 0xffffffffu))
                stepAside(Reason::DamagedXref);
        }
    }

    qint64 prev = -1;
    if (const int node = dict.find(dict.root, "Prev"); node >= 0) {
        const Node &n = dict.at(node);
        if (n.kind != Kind::Int || n.num < 0)
            stepAside(Reason::DamagedXref);
        prev = n.num;
    }
    if (first)
        m_trailer = std::move(dict);
    m_sections.push_back(std::move(section));
    return prev;
}

void Document::readNextSection()
{
    if (!m_visitedSections.insert(m_nextPrev).second)
        stepAside(Reason::XrefLoop);
    std::vector<qint64> followed;
    m_nextPrev = readSection(m_nextPrev, followed, false);
}

void Document::requireNoGaps()
{
    // Fetching a stream makes the library look at every entry of the table
    // (to find where the stream's object ends). In a file whose newest
    // section is a table, an entry no section defines then makes it rebuild
    // the table from a scan of the file.
    while (m_nextPrev >= 0)
        readNextSection();
    qint64 size = m_size;
    std::vector<std::pair<qint64, qint64>> ranges;
    for (const auto &section : m_sections) {
        size = qMax(size, section->declaredSize);
        for (const Subsection &sub : section->subsections) {
            if (sub.count > 0)
                ranges.emplace_back(sub.first, sub.first + sub.count);
            size = qMax(size, sub.first + sub.count);
        }
    }
    std::sort(ranges.begin(), ranges.end());
    qint64 covered = 0;
    for (const auto &[from, to] : ranges) {
        if (from > covered)
            break;
        covered = qMax(covered, to);
    }
    if (covered < size)
        stepAside(Reason::DamagedXref);
}

bool Document::findIn(int index, qint64 num, Entry &entry)
{
    const Section &section = *m_sections[size_t(index)];
    for (const Subsection &sub : section.subsections) {
        if (num < sub.first || num >= sub.first + sub.count)
            continue;
        const qint64 k = num - sub.first;
        entry.section = index;
        if (!section.isStream) {
            const QByteArrayView e = m_reader.view(sub.at + k * kEntrySize, kEntrySize);
            if (e.size() != kEntrySize)
                stepAside(Reason::ReadFailed);
            entry.type = e[17] == 'n' ? Entry::InFile : Entry::Free;
            entry.offset = digitsValue(e.data(), 10);
            entry.gen = digitsValue(e.data() + 11, 5);
            return true;
        }
        const int *w = section.widths;
        const auto *e = reinterpret_cast<const uchar *>(section.data.constData()) +
                        (sub.at + k) * (w[0] + w[1] + w[2]);
        const quint64 type = w[0] == 0 ? 1 : bigEndian(e, w[0]);
        entry.offset = qint64(bigEndian(e + w[0], w[1]));
        entry.gen = qint64(bigEndian(e + w[0] + w[1], w[2]));
        entry.type = type == 0 ? Entry::Free : type == 1 ? Entry::InFile : Entry::InStream;
        if (entry.type == Entry::Free && num == 0 && entry.gen == 0xffffffffLL)
            entry.gen = 65535;
        return true;
    }
    return false;
}

Entry Document::linearizedEntry(qint64 num)
{
    // A linearized file's first-page table leaves the rest to the main table,
    // which the library reads at /T + 20 * num without looking at its header.
    // /T points at the white space before the first entry, so this is
    // parsed as tokens, not as a fixed layout.
    Entry entry;
    const QByteArray bytes =
        m_reader.viewUpTo(m_mainEntries + num * kEntrySize, kEntrySize).toByteArray();
    Cursor cursor(bytes, 0, bytes.size());
    Lexer lexer(cursor, m_budget);
    Token offset;
    Token gen;
    Token type;
    lexer.next(offset);
    lexer.next(gen);
    lexer.next(type);
    if (offset.type != Tok::Int || !gen.isInt32() || !(type.isKeyword("n") || type.isKeyword("f")))
        return entry;
    entry.type = type.isKeyword("n") ? Entry::InFile : Entry::Free;
    entry.offset = offset.value;
    entry.gen = gen.value;
    return entry;
}

Entry Document::lookup(qint64 num, int lastSection)
{
    // Newest first: the first section that defines a number wins.
    Entry entry;
    for (size_t i = 0; i < m_sections.size(); ++i) {
        if (lastSection >= 0 && int(i) > lastSection)
            return entry;
        if (findIn(int(i), num, entry))
            return entry;
    }
    if (lastSection >= 0)
        return entry;
    if (m_linearTable)
        return linearizedEntry(num);
    while (m_nextPrev >= 0) {
        const size_t before = m_sections.size();
        readNextSection();
        for (size_t i = before; i < m_sections.size(); ++i) {
            if (findIn(int(i), num, entry))
                return entry;
        }
    }
    return entry;
}

} // namespace tallivo::pdfread
