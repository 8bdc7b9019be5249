#include "pdfstructure.h"

#include "blockreader.h"
#include "pdfsecurity.h"
#include "tiffdirectories.h"

#include <QByteArray>
#include <QByteArrayView>

#include <libdeflate.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The reader follows the path the PDF library takes to a page count and
// answers only when that path needs no repair. Where the library is lenient
// (it recovers from odd tokens, truncated containers, wrong stream lengths,
// or rebuilds a damaged cross-reference table by scanning the file), this
// reader is strict and steps aside, so its answers never differ.

namespace tallivo {
namespace {

using Reason = PdfStructureReason;

struct StepAside
{
    Reason reason;
};

[[noreturn]] void stepAside(Reason reason)
{
    throw StepAside{reason};
}

// Bounds for hostile files.
constexpr qint64 kMaxInflated = 64 * 1024 * 1024;
constexpr int kMaxDepth = 32;
constexpr int kMaxSections = 64;
constexpr int kMaxFetches = 1024;
constexpr int kMaxReachable = 256;
constexpr qint64 kMaxObjects = 1 << 23;
constexpr qint64 kMaxTokens = 1 << 22;
constexpr int kMaxDictKeys = 4096;
constexpr int kMaxNameLength = 127;
constexpr int kMaxObjectsInStream = 1000000; // the library's own limit
constexpr qint64 kEntrySize = 20;

// The library's character classes: 1 white space, 2 delimiter, 0 regular.
constexpr quint8 kWhite = 1;
constexpr quint8 kDelimiter = 2;
struct CharClasses
{
    quint8 table[256] = {};
    constexpr CharClasses()
    {
        for (int c : {0x00, 0x09, 0x0a, 0x0c, 0x0d, 0x20})
            table[c] = kWhite;
        for (char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'})
            table[uchar(c)] = kDelimiter;
    }
};
constexpr CharClasses kClasses;

bool isWhite(int c)
{
    return c >= 0 && kClasses.table[c] == kWhite;
}
bool isRegular(int c)
{
    return c >= 0 && kClasses.table[c] == 0;
}
bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}
int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// ---------------------------------------------------------------------------
// Bytes: a file through the block reader, or a decoded stream in memory.

class Cursor
{
public:
    Cursor(BlockReader &reader, qint64 pos)
        : m_reader(&reader)
        , m_end(reader.size())
    {
        seek(pos);
    }
    Cursor(const QByteArray &data, qint64 pos, qint64 end)
        : m_memory(data.constData())
        , m_end(qBound<qint64>(0, end, data.size()))
    {
        seek(pos);
    }

    int peek()
    {
        if (m_p == m_e && !refill())
            return -1;
        return uchar(*m_p);
    }
    int get()
    {
        const int c = peek();
        if (c >= 0)
            ++m_p;
        return c;
    }
    qint64 pos() const { return m_base + (m_p - m_start); }
    void seek(qint64 pos)
    {
        pos = qBound<qint64>(0, pos, m_end);
        if (m_memory) {
            m_start = m_memory;
            m_base = 0;
            m_p = m_memory + pos;
            m_e = m_memory + m_end;
        } else {
            m_start = m_p = m_e = m_buffer;
            m_base = pos;
        }
    }

private:
    bool refill()
    {
        if (m_memory)
            return false;
        const qint64 at = pos();
        const qint64 length = qMin<qint64>(sizeof m_buffer, m_end - at);
        if (length <= 0)
            return false;
        if (!m_reader->readInto(at, length, m_buffer))
            stepAside(Reason::ReadFailed);
        m_base = at;
        m_start = m_p = m_buffer;
        m_e = m_buffer + length;
        return true;
    }

    BlockReader *m_reader = nullptr;
    const char *m_memory = nullptr;
    qint64 m_end = 0;
    qint64 m_base = 0;
    const char *m_start = nullptr;
    const char *m_p = nullptr;
    const char *m_e = nullptr;
    char m_buffer[4096];
};

// ---------------------------------------------------------------------------
// Tokens, as the library's lexer makes them, minus everything it would have
// to recover from.

enum class Tok : quint8
{
    End,
    Int,
    Real,
    String,
    Name,
    ArrayOpen,
    ArrayClose,
    DictOpen,
    DictClose,
    Keyword
};

struct Token
{
    Tok type = Tok::End;
    bool fits32 = false;   // Int: an int to the library, not a 64-bit integer
    bool positive = false; // Real: above zero
    qint64 value = 0;
    double real = 0;  // Int and Real: the number
    qint64 start = 0; // position of the token's first byte
    qint64 end = 0;   // position after the token
    int length = 0;   // Name, Keyword
    char text[kMaxNameLength + 1] = {};

    bool isKeyword(const char *word) const
    {
        return type == Tok::Keyword && std::strcmp(text, word) == 0;
    }
    bool isInt32() const { return type == Tok::Int && fits32; }
};

class Lexer
{
public:
    Lexer(Cursor &cursor, qint64 &budget)
        : m_cursor(cursor)
        , m_budget(budget)
    {
    }

    Cursor &cursor() { return m_cursor; }

    void next(Token &t)
    {
        if (--m_budget < 0)
            stepAside(Reason::LimitExceeded);
        skipSpace();
        t.start = m_cursor.pos();
        t.length = 0;
        t.text[0] = 0;
        const int c = m_cursor.get();
        switch (c) {
        case -1:
            t.type = Tok::End;
            break;
        case '/':
            name(t);
            break;
        case '(':
            skipString();
            t.type = Tok::String;
            break;
        case '<':
            if (m_cursor.peek() == '<') {
                m_cursor.get();
                t.type = Tok::DictOpen;
            } else {
                skipHexString();
                t.type = Tok::String;
            }
            break;
        case '>':
            if (m_cursor.get() != '>')
                stepAside(Reason::DamagedObject);
            t.type = Tok::DictClose;
            break;
        case '[':
            t.type = Tok::ArrayOpen;
            break;
        case ']':
            t.type = Tok::ArrayClose;
            break;
        case ')':
        case '{':
        case '}':
            stepAside(Reason::DamagedObject);
        default:
            if (isDigit(c) || c == '+' || c == '-' || c == '.')
                number(c, t);
            else
                keyword(c, t);
        }
        t.end = m_cursor.pos();
    }

private:
    void skipSpace()
    {
        for (;;) {
            const int c = m_cursor.peek();
            if (isWhite(c)) {
                m_cursor.get();
            } else if (c == '%') {
                int d;
                do
                    d = m_cursor.get();
                while (d >= 0 && d != '\r' && d != '\n');
            } else {
                return;
            }
        }
    }

    void number(int c, Token &t)
    {
        bool negative = false;
        bool real = false;
        bool digits = false;
        bool nonZero = false;
        qint64 value = 0;
        double magnitude = 0;
        double scale = 0.1;
        auto digit = [&](int d) {
            digits = true;
            nonZero = nonZero || d != '0';
            if (real) {
                magnitude += (d - '0') * scale;
                scale /= 10;
            } else {
                magnitude = magnitude * 10 + (d - '0');
                if (value > (LLONG_MAX - (d - '0')) / 10)
                    stepAside(Reason::LimitExceeded);
                value = value * 10 + (d - '0');
            }
        };
        if (c == '-')
            negative = true;
        else if (c == '.')
            real = true;
        else if (c != '+')
            digit(c);
        for (;;) {
            const int d = m_cursor.peek();
            if (isDigit(d)) {
                m_cursor.get();
                digit(d);
            } else if (d == '.' && !real) {
                m_cursor.get();
                real = true;
            } else {
                break;
            }
        }
        // "1-2", "3.4.5", "12abc": the library splits or mends these.
        if (!digits || isRegular(m_cursor.peek()))
            stepAside(Reason::DamagedObject);
        t.real = negative ? -magnitude : magnitude;
        if (real) {
            t.type = Tok::Real;
            t.positive = !negative && nonZero;
            return;
        }
        t.type = Tok::Int;
        t.value = negative ? -value : value;
        t.fits32 = value <= INT_MAX;
    }

    void name(Token &t)
    {
        t.type = Tok::Name;
        while (isRegular(m_cursor.peek())) {
            int c = m_cursor.get();
            if (c == '#') {
                const int high = hexValue(m_cursor.get());
                const int low = hexValue(m_cursor.get());
                if (high < 0 || low < 0)
                    stepAside(Reason::DamagedObject);
                c = high * 16 + low;
                // Names are C strings to the library.
                if (c == 0)
                    stepAside(Reason::DamagedObject);
            }
            if (t.length == kMaxNameLength)
                stepAside(Reason::LimitExceeded);
            t.text[t.length++] = char(c);
        }
        t.text[t.length] = 0;
    }

    void keyword(int c, Token &t)
    {
        t.type = Tok::Keyword;
        t.text[t.length++] = char(c);
        while (isRegular(m_cursor.peek())) {
            if (t.length == kMaxNameLength)
                stepAside(Reason::LimitExceeded);
            t.text[t.length++] = char(m_cursor.get());
        }
        t.text[t.length] = 0;
    }

    void skipString()
    {
        int depth = 1;
        for (;;) {
            const int c = m_cursor.get();
            if (c < 0)
                stepAside(Reason::DamagedObject);
            if (c == '\\') {
                if (m_cursor.get() < 0)
                    stepAside(Reason::DamagedObject);
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                return;
            }
        }
    }

    void skipHexString()
    {
        for (;;) {
            const int c = m_cursor.get();
            if (c == '>')
                return;
            if (c < 0 || (!isWhite(c) && hexValue(c) < 0))
                stepAside(Reason::DamagedObject);
        }
    }

    Cursor &m_cursor;
    qint64 &m_budget;
};

// ---------------------------------------------------------------------------
// Parsed values, kept in one flat array per object.

enum class Kind : quint8
{
    Null,
    Bool,
    Int,
    Real,
    String,
    Name,
    Array,
    Dict,
    Ref
};

struct Node
{
    Kind kind = Kind::Null;
    bool fits32 = false;
    bool positive = false;
    qint64 num = 0;  // Int value, Ref number, Bool 1 or 0; String: where it starts
    qint64 gen = 0;  // Ref generation; String: where it ends
    double real = 0; // Int and Real: the number
    int nameOffset = 0;
    int nameLength = 0;
    int first = -1; // first child; a Dict's children alternate key and value
    int next = -1;
    int count = 0;
};

class Tree
{
public:
    int add(const Node &node)
    {
        m_nodes.push_back(node);
        return int(m_nodes.size() - 1);
    }
    int addName(const Token &t)
    {
        Node node;
        node.kind = Kind::Name;
        node.nameOffset = int(m_names.size());
        node.nameLength = t.length;
        m_names.append(t.text, t.length);
        return add(node);
    }
    Node &at(int i) { return m_nodes[size_t(i)]; }
    const Node &at(int i) const { return m_nodes[size_t(i)]; }
    QByteArrayView name(int i) const
    {
        const Node &n = at(i);
        return QByteArrayView(m_names).sliced(n.nameOffset, n.nameLength);
    }
    // The value under `key` in dictionary node `dict`, or -1. A key given
    // twice is refused: the library keeps both, and which one its lookup
    // finds depends on the dictionary's size.
    int find(int dict, QByteArrayView key) const
    {
        if (dict < 0 || at(dict).kind != Kind::Dict)
            return -1;
        int found = -1;
        for (int k = at(dict).first; k >= 0; k = at(at(k).next).next) {
            if (name(k) != key)
                continue;
            if (found >= 0)
                stepAside(Reason::DamagedObject);
            found = at(k).next;
        }
        return found;
    }
    int root = -1;
    bool inFile = false; // parsed from the file, not from a decoded stream

private:
    std::vector<Node> m_nodes;
    QByteArray m_names;
};

class Parser
{
public:
    Parser(Lexer &lexer, Tree &tree)
        : m_lexer(lexer)
        , m_tree(tree)
    {
    }

    // Up to two tokens ahead, without taking them.
    const Token &peek(int k)
    {
        while (m_ahead <= k) {
            m_lexer.next(m_tokens[(m_head + m_ahead) % kSlots]);
            ++m_ahead;
        }
        return m_tokens[(m_head + k) % kSlots];
    }
    void take(Token &t) { t = take(); }
    // The next token, taken. It stays valid until the next take(): tokens
    // are lexed into a ring of three slots and never copied.
    const Token &take()
    {
        const int slot = m_head;
        if (m_ahead == 0)
            m_lexer.next(m_tokens[slot]);
        else
            --m_ahead;
        m_head = (m_head + 1) % kSlots;
        return m_tokens[slot];
    }

    // One value; a dictionary's "stream" keyword is left for the caller.
    int value(int depth)
    {
        if (depth > kMaxDepth)
            stepAside(Reason::LimitExceeded);
        const Token &t = take();
        Node node;
        switch (t.type) {
        case Tok::Int:
            if (peek(0).type == Tok::Int && peek(1).isKeyword("R")) {
                if (!t.fits32 || t.value < 0)
                    stepAside(Reason::DamagedObject);
                node.kind = Kind::Ref;
                node.num = t.value;
                const Token &gen = take();
                if (!gen.fits32 || gen.value < 0)
                    stepAside(Reason::DamagedObject);
                node.gen = gen.value;
                take(); // R
                return m_tree.add(node);
            }
            node.kind = Kind::Int;
            node.num = t.value;
            node.fits32 = t.fits32;
            node.real = t.real;
            return m_tree.add(node);
        case Tok::Real:
            node.kind = Kind::Real;
            node.positive = t.positive;
            node.real = t.real;
            return m_tree.add(node);
        case Tok::String:
            // Where the string lies: few are ever read.
            node.kind = Kind::String;
            node.num = t.start;
            node.gen = t.end;
            return m_tree.add(node);
        case Tok::Name:
            return m_tree.addName(t);
        case Tok::ArrayOpen:
            return array(depth);
        case Tok::DictOpen:
            return dict(depth);
        case Tok::Keyword:
            if (t.isKeyword("true") || t.isKeyword("false")) {
                node.kind = Kind::Bool;
                node.num = t.text[0] == 't';
                return m_tree.add(node);
            }
            if (t.isKeyword("null"))
                return m_tree.add(node);
            stepAside(Reason::DamagedObject);
        default:
            stepAside(Reason::DamagedObject);
        }
    }

private:
    int array(int depth)
    {
        Node node;
        node.kind = Kind::Array;
        const int self = m_tree.add(node);
        int last = -1;
        for (;;) {
            const Token &t = peek(0);
            if (t.type == Tok::ArrayClose) {
                take();
                return self;
            }
            if (t.type == Tok::End)
                stepAside(Reason::DamagedObject);
            const int child = value(depth + 1);
            link(self, last, child);
        }
    }

    int dict(int depth)
    {
        Node node;
        node.kind = Kind::Dict;
        const int self = m_tree.add(node);
        int last = -1;
        for (;;) {
            const Token &key = take();
            if (key.type == Tok::DictClose)
                return self;
            if (key.type != Tok::Name)
                stepAside(Reason::DamagedObject);
            if (m_tree.at(self).count >= 2 * kMaxDictKeys)
                stepAside(Reason::LimitExceeded);
            const int k = m_tree.addName(key);
            link(self, last, k);
            const int v = value(depth + 1);
            link(self, last, v);
        }
    }

    void link(int parent, int &last, int child)
    {
        if (last < 0)
            m_tree.at(parent).first = child;
        else
            m_tree.at(last).next = child;
        last = child;
        ++m_tree.at(parent).count;
    }

    static constexpr int kSlots = 3;
    Lexer &m_lexer;
    Tree &m_tree;
    Token m_tokens[kSlots];
    int m_head = 0;
    int m_ahead = 0;
};

// ---------------------------------------------------------------------------
// Stream data: no filter, or FlateDecode with an optional PNG predictor.

struct Decoding
{
    bool flate = false;
    int columns = 0; // PNG rows of this many bytes; 0: no predictor
};

int directInt(const Tree &tree, int node, int fallback)
{
    if (node < 0)
        return fallback;
    const Node &n = tree.at(node);
    if (n.kind != Kind::Int || !n.fits32)
        stepAside(Reason::Unsupported);
    return int(n.num);
}

// Values must be direct: the library does not resolve references while it
// reads a cross-reference stream.
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

QByteArray decode(BlockReader &reader, qint64 start, qint64 length, const Decoding &decoding)
{
    if (!decoding.flate)
        return readBytes(reader, start, length);
    const QByteArray data = inflateAll(reader, start, length);
    return decoding.columns > 0 ? unpredict(data, decoding.columns) : data;
}

// ---------------------------------------------------------------------------
// The document: cross-reference sections read as the library reads them,
// objects fetched through them.

struct Entry
{
    enum Type : quint8
    {
        Missing,
        Free,
        InFile,
        InStream
    };
    Type type = Missing;
    qint64 offset = 0; // InFile: byte offset; InStream: the object stream's number
    qint64 gen = 0;    // InFile: generation; InStream: index in the object stream
    int section = -1;
};

struct Subsection
{
    qint64 first = 0;
    qint64 count = 0;
    qint64 at = 0; // table: offset of the first entry; stream: index of the first entry
};

struct Section
{
    bool isStream = false;
    std::vector<Subsection> subsections;
    QByteArray data; // decoded entries of a stream section
    int widths[3] = {};
    qint64 declaredSize = 0;
};

struct Loaded
{
    Tree tree;
    qint64 gen = 0;
    bool compressed = false;
    bool isStream = false;
    qint64 dataStart = 0;
    qint64 dataLength = 0;
};

struct ObjectStream
{
    QByteArray data; // decoded
    std::vector<qint64> numbers;
    std::vector<qint64> offsets;
    qint64 base = 0;
};

struct Linearization
{
    bool active = false; // the library treats the file as linearized
    qint64 pages = 0;    // its /N, 0 when unusable
    qint64 mainEntries = 0;
};

struct Value
{
    const Tree *tree = nullptr;
    int node = -1;
    bool isStream = false;

    Kind kind() const { return node >= 0 ? tree->at(node).kind : Kind::Null; }
    const Node &at() const { return tree->at(node); }
    int find(QByteArrayView key) const { return tree->find(node, key); }
};

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

class Document
{
public:
    explicit Document(BlockReader &reader)
        : m_reader(reader)
        , m_fileSize(reader.size())
    {
    }

    qint32 pageCount();
    // After pageCount(): each page's box, up to kMaxDetailedPages pages.
    void pageBoxes(qint32 count, std::vector<PageInfo> &boxes);

private:
    struct PageAttributes;
    void walkPages(const Value &node, const PageAttributes &inherited, int depth, qint32 count,
                   std::vector<PageInfo> &boxes);
    bool readBox(const Value &dict, const char *key, double box[4]);
    void inherit(const Value &dict, PageAttributes &attributes);
    Linearization readLinearization();
    qint64 findStartXref();
    qint64 afterFirstEndobj();

    qint64 readSection(qint64 offset, std::vector<qint64> &followedXRefStm, bool first);
    qint64 readTable(Cursor &cursor, Lexer &lexer, qint64 offset,
                     std::vector<qint64> &followedXRefStm, bool first);
    qint64 readXrefStream(Lexer &lexer, bool first);
    void validateEntries(qint64 at, qint64 count);
    void readNextSection();
    void requireNoGaps();

    Entry lookup(qint64 num, int lastSection = -1);
    bool findIn(int section, qint64 num, Entry &entry);
    Entry linearizedEntry(qint64 num);

    const Loaded &fetch(qint64 num, qint64 gen);
    void loadFromFile(Loaded &object, qint64 num, qint64 gen, qint64 offset);
    void loadFromStream(Loaded &object, qint64 num, const Entry &entry);
    const ObjectStream &objectStream(qint64 num, int lastSection);
    std::pair<qint64, qint64> streamExtent(qint64 afterKeyword, const Tree &tree, int dict,
                                           bool fetchLength);

    Value resolve(const Tree &tree, int node);
    QByteArray stringOf(const Value &value);
    void checkEncryption(int encrypt);
    Value resolveOnOpen(const Tree &tree, int node);
    void reachAll(const Value &value, int depth);
    void checkLookupsOnOpen(const Value &catalog);

    BlockReader &m_reader;
    const qint64 m_fileSize;
    qint64 m_budget = kMaxTokens;

    std::vector<std::unique_ptr<Section>> m_sections;
    std::unordered_set<qint64> m_visitedSections;
    qint64 m_nextPrev = -1;
    Tree m_trailer;
    bool m_tableFirst = false;
    bool m_linearTable = false;
    bool m_encrypted = false;
    qint64 m_mainEntries = 0;
    qint64 m_size = 0;

    std::unordered_map<qint64, std::unique_ptr<Loaded>> m_objects;
    std::unordered_map<qint64, std::unique_ptr<ObjectStream>> m_objectStreams;
    std::unordered_set<qint64> m_loading;
    std::unordered_set<qint64> m_reached;
    int m_fetches = 0;
    int m_maxFetches = kMaxFetches;
    Value m_pages;
    std::unordered_set<qint64> m_pageNodes;
};

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
                if (e.size() == kEntrySize && e.first(17) == "0000000000 65535 f")
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

// Where a stream's data lies: after "stream" and one end of line, /Length
// bytes, then "endstream".
std::pair<qint64, qint64> Document::streamExtent(qint64 afterKeyword, const Tree &tree, int dict,
                                                 bool fetchLength)
{
    Cursor cursor(m_reader, afterKeyword);
    const int c = cursor.get();
    if (c == '\r') {
        if (cursor.get() != '\n')
            stepAside(Reason::DamagedObject);
    } else if (c != '\n') {
        stepAside(Reason::DamagedObject);
    }
    const qint64 dataStart = cursor.pos();
    const int lengthNode = tree.find(dict, "Length");
    if (lengthNode < 0)
        stepAside(Reason::DamagedObject);
    const Node *length = &tree.at(lengthNode);
    if (length->kind == Kind::Ref) {
        // Only a fetched object's stream gets an indirect /Length resolved.
        if (!fetchLength)
            stepAside(Reason::DamagedXref);
        const Loaded &object = fetch(length->num, length->gen);
        if (object.isStream)
            stepAside(Reason::DamagedObject);
        length = &object.tree.at(object.tree.root);
    }
    if (length->kind != Kind::Int || length->num < 0 || length->num > m_fileSize - dataStart)
        stepAside(Reason::DamagedObject);
    const qint64 dataLength = length->num;
    // A wrong /Length sends the library looking for "endstream".
    Cursor after(m_reader, dataStart + dataLength);
    Lexer lexer(after, m_budget);
    Token t;
    lexer.next(t);
    if (!t.isKeyword("endstream"))
        stepAside(Reason::DamagedObject);
    return {dataStart, dataLength};
}

const Loaded &Document::fetch(qint64 num, qint64 gen)
{
    if (num < 0 || num >= m_size)
        stepAside(Reason::DamagedObject);
    if (const auto it = m_objects.find(num); it != m_objects.end()) {
        if (!it->second->compressed && it->second->gen != gen)
            stepAside(Reason::DamagedObject);
        return *it->second;
    }
    if (m_loading.count(num) || ++m_fetches > m_maxFetches)
        stepAside(m_loading.count(num) ? Reason::DamagedObject : Reason::LimitExceeded);
    const Entry entry = lookup(num);
    auto object = std::make_unique<Loaded>();
    object->gen = gen;
    m_loading.insert(num);
    switch (entry.type) {
    case Entry::InFile:
        if (entry.gen != gen)
            stepAside(Reason::DamagedObject);
        loadFromFile(*object, num, gen, entry.offset);
        break;
    case Entry::InStream:
        object->compressed = true;
        loadFromStream(*object, num, entry);
        break;
    default:
        stepAside(Reason::DamagedObject);
    }
    m_loading.erase(num);
    return *m_objects.emplace(num, std::move(object)).first->second;
}

void Document::loadFromFile(Loaded &object, qint64 num, qint64 gen, qint64 offset)
{
    if (offset < 0 || offset >= m_fileSize)
        stepAside(Reason::DamagedObject);
    Cursor cursor(m_reader, offset);
    Lexer lexer(cursor, m_budget);
    object.tree.inFile = true;
    Parser parser(lexer, object.tree);
    Token n;
    Token g;
    Token obj;
    parser.take(n);
    parser.take(g);
    parser.take(obj);
    if (!n.isInt32() || n.value != num || !g.isInt32() || g.value != gen || !obj.isKeyword("obj"))
        stepAside(Reason::DamagedObject);
    object.tree.root = parser.value(0);
    if (object.tree.at(object.tree.root).kind != Kind::Dict || !parser.peek(0).isKeyword("stream"))
        return;
    std::tie(object.dataStart, object.dataLength) =
        streamExtent(parser.peek(0).end, object.tree, object.tree.root, true);
    object.isStream = true;
    if (m_tableFirst && !m_linearTable)
        requireNoGaps();
}

const ObjectStream &Document::objectStream(qint64 num, int lastSection)
{
    if (const auto it = m_objectStreams.find(num); it != m_objectStreams.end())
        return *it->second;
    if (num >= m_size)
        stepAside(Reason::DamagedObject);
    // The library looks the stream's entry up among the sections it has read
    // so far, without reading further.
    const Entry entry = lookup(num, lastSection);
    if (entry.type != Entry::InFile || entry.gen != 0)
        stepAside(Reason::DamagedObject);
    const Loaded &object = fetch(num, 0);
    if (!object.isStream)
        stepAside(Reason::DamagedObject);
    const Tree &tree = object.tree;
    const int root = tree.root;

    auto intValue = [&](const char *key) -> const Node & {
        const Value v = resolve(tree, tree.find(root, key));
        if (v.node < 0 || v.isStream || v.kind() != Kind::Int)
            stepAside(Reason::DamagedObject);
        return v.at();
    };
    const Node &count = intValue("N");
    if (!count.fits32 || count.num <= 0)
        stepAside(Reason::DamagedObject);
    if (count.num > kMaxObjectsInStream)
        stepAside(Reason::LimitExceeded);
    const qint64 n = count.num;
    const qint64 first = intValue("First").num;
    if (first < 0)
        stepAside(Reason::DamagedObject);

    auto stream = std::make_unique<ObjectStream>();
    stream->data = decode(m_reader, object.dataStart, object.dataLength, decodingOf(tree, root));
    if (first > stream->data.size())
        stepAside(Reason::DamagedObject);

    Cursor cursor(stream->data, 0, first);
    Lexer lexer(cursor, m_budget);
    Tree header;
    Parser parser(lexer, header);
    stream->numbers.reserve(size_t(n));
    stream->offsets.reserve(size_t(n));
    for (qint64 i = 0; i < n; ++i) {
        const Node number = header.at(parser.value(0));
        const Node offset = header.at(parser.value(0));
        if (number.kind != Kind::Int || !number.fits32 || number.num < 0 ||
            offset.kind != Kind::Int || offset.num < 0 ||
            (i > 0 && offset.num < stream->offsets.back()))
            stepAside(Reason::DamagedObject);
        stream->numbers.push_back(number.num);
        stream->offsets.push_back(offset.num);
    }
    // The library skips from /First to the first offset, then reads each
    // object within the distance to the next offset.
    stream->base = qMax(first, stream->offsets.front());
    return *m_objectStreams.emplace(num, std::move(stream)).first->second;
}

void Document::loadFromStream(Loaded &object, qint64 num, const Entry &entry)
{
    // The object stream itself is encrypted.
    if (m_encrypted)
        stepAside(Reason::Encrypted);
    if (m_linearTable)
        stepAside(Reason::Unsupported);
    const ObjectStream &stream = objectStream(entry.offset, entry.section);
    const qint64 index = entry.gen;
    const qint64 n = qint64(stream.numbers.size());
    if (index < 0 || index >= n || stream.numbers[size_t(index)] != num)
        stepAside(Reason::DamagedObject);
    const qint64 skip = stream.offsets[size_t(index)] - stream.offsets.front();
    // Beyond anything decoded: the library would read nothing there.
    if (stream.base > kMaxInflated || skip > kMaxInflated)
        stepAside(Reason::DamagedObject);
    const qint64 start = stream.base + skip;
    qint64 end = LLONG_MAX; // the last object runs to the end of the data
    if (index + 1 < n) {
        const qint64 span = stream.offsets[size_t(index + 1)] - stream.offsets[size_t(index)];
        end = span > kMaxInflated ? LLONG_MAX : start + span;
    }
    const QByteArray &data = stream.data;
    const qint64 available = qMin<qint64>(data.size(), end);
    if (start > available)
        stepAside(Reason::DamagedObject);
    Cursor cursor(data, start, available);
    object.tree = Tree();
    Lexer lexer(cursor, m_budget);
    Parser parser(lexer, object.tree);
    object.tree.root = parser.value(0);
    if (object.tree.at(object.tree.root).kind == Kind::Dict && parser.peek(0).isKeyword("stream"))
        stepAside(Reason::DamagedObject);
}

Value Document::resolve(const Tree &tree, int node)
{
    if (node < 0 || tree.at(node).kind != Kind::Ref)
        return {&tree, node, false};
    const Loaded &object = fetch(tree.at(node).num, tree.at(node).gen);
    return {&object.tree, object.tree.root, object.isStream};
}

Value Document::resolveOnOpen(const Tree &tree, int node)
{
    const Value value = resolve(tree, node);
    // A stream here would have its filters looked up too.
    if (value.isStream)
        stepAside(Reason::Unsupported);
    return value;
}

void Document::reachAll(const Value &value, int depth)
{
    if (value.node < 0)
        return;
    if (depth > kMaxDepth)
        stepAside(Reason::LimitExceeded);
    const Node &node = value.at();
    switch (node.kind) {
    case Kind::Ref:
        if (m_reached.insert(node.num).second) {
            if (int(m_reached.size()) > kMaxReachable)
                stepAside(Reason::LimitExceeded);
            reachAll(resolveOnOpen(*value.tree, value.node), depth + 1);
        }
        break;
    case Kind::Array:
        for (int k = node.first; k >= 0; k = value.tree->at(k).next)
            reachAll({value.tree, k, false}, depth + 1);
        break;
    case Kind::Dict:
        for (int k = node.first; k >= 0; k = value.tree->at(value.tree->at(k).next).next)
            reachAll({value.tree, value.tree->at(k).next, false}, depth + 1);
        break;
    default:
        break;
    }
}

// A string's bytes, read again from the file and unescaped as the library
// does. Only strings of objects parsed from the file can be read again.
QByteArray Document::stringOf(const Value &value)
{
    if (value.isStream || value.kind() != Kind::String || !value.tree->inFile)
        stepAside(Reason::Encrypted);
    const Node &node = value.at();
    const QByteArrayView raw = m_reader.view(node.num, node.gen - node.num);
    if (raw.size() < 2 || raw.size() > 4096)
        stepAside(Reason::Encrypted);
    QByteArray out;
    if (raw[0] == '<') {
        int nibbles = 0;
        int byte = 0;
        for (const char c : raw.sliced(1, raw.size() - 2)) {
            const int v = hexValue(uchar(c));
            if (v < 0)
                continue; // white space: anything else stopped the lexer
            byte = byte * 16 + v;
            if (++nibbles == 2) {
                out += char(byte);
                nibbles = byte = 0;
            }
        }
        if (nibbles == 1)
            out += char(byte * 16);
        return out;
    }
    const QByteArrayView body = raw.sliced(1, raw.size() - 2);
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c != '\\' || i + 1 == body.size()) {
            out += c;
            continue;
        }
        const char e = body[++i];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case '\r':
            if (i + 1 < body.size() && body[i + 1] == '\n')
                ++i;
            break;
        case '\n':
            break;
        default:
            if (e >= '0' && e <= '7') {
                int octal = e - '0';
                for (int k = 0;
                     k < 2 && i + 1 < body.size() && body[i + 1] >= '0' && body[i + 1] <= '7'; ++k)
                    octal = octal * 8 + (body[++i] - '0');
                out += char(octal & 0xff);
            } else {
                out += e; // \\, \(, \) and any other character stand for themselves
            }
        }
    }
    return out;
}

// An encrypted file is counted only where the library opens it without a
// password: the standard security handler, in a form the library supports,
// and an empty user password. Numbers and the page tree's structure are
// never encrypted; objects inside object streams are, and make the reader
// step aside when they are needed.
void Document::checkEncryption(int encrypt)
{
    const Value dict = resolve(m_trailer, encrypt);
    if (dict.isStream || dict.kind() != Kind::Dict)
        stepAside(Reason::Encrypted);
    auto direct = [&](const Value &in, const char *key) -> Value {
        const int node = in.find(key);
        if (node >= 0 && in.tree->at(node).kind == Kind::Ref)
            stepAside(Reason::Encrypted);
        return {in.tree, node, false};
    };
    auto int32 = [&](const Value &v) -> std::optional<qint64> {
        if (v.kind() != Kind::Int || !v.at().fits32)
            return std::nullopt;
        return v.at().num;
    };
    auto isName = [&](const Value &v, QByteArrayView name) {
        return v.kind() == Kind::Name && v.tree->name(v.node) == name;
    };

    const Value filter = direct(dict, "Filter");
    if (!isName(filter, "Standard"))
        stepAside(Reason::Encrypted);
    const std::optional<qint64> version = int32(direct(dict, "V"));
    const std::optional<qint64> revision = int32(direct(dict, "R"));
    const Value permissions = direct(dict, "P");
    if (!version || !revision || permissions.kind() != Kind::Int)
        stepAside(Reason::Encrypted);
    PdfSecurity security;
    // The library takes a /P written unsigned for the signed number.
    const qint64 p = permissions.at().num;
    if (p >= INT_MIN && p <= INT_MAX)
        security.permissions = qint32(p);
    else if (p > INT_MAX && p <= qint64(UINT_MAX))
        security.permissions = qint32(quint32(p));
    else
        stepAside(Reason::Encrypted);
    security.owner = stringOf(direct(dict, "O"));
    security.user = stringOf(direct(dict, "U"));

    const qint64 v = *version;
    const qint64 r = *revision;
    if (r <= 4) {
        if (security.owner.size() != 32 || security.user.size() != 32)
            stepAside(Reason::Encrypted);
        const std::optional<qint64> length = int32(direct(dict, "Length"));
        security.keyLength = r == 2 || !length ? 5 : int(*length / 8);
    } else if (r == 5 || r == 6) {
        if (security.owner.size() < 48 || security.user.size() < 48 ||
            stringOf(direct(dict, "OE")).size() != 32 || stringOf(direct(dict, "UE")).size() != 32)
            stepAside(Reason::Encrypted);
    } else {
        stepAside(Reason::Encrypted);
    }

    int method = -1; // as the crypt filters name it: 0 RC4, 1 AES-128, 2 AES-256
    if ((v == 4 || v == 5) && r >= 4) {
        const Value filters = direct(dict, "CF");
        const Value streams = direct(dict, "StmF");
        const Value strings = direct(dict, "StrF");
        if (filters.kind() != Kind::Dict || streams.kind() != Kind::Name ||
            strings.kind() != Kind::Name ||
            streams.tree->name(streams.node) != strings.tree->name(strings.node))
            stepAside(Reason::Encrypted);
        const Value cf =
            direct(filters, streams.tree->name(streams.node).toByteArray().constData());
        if (cf.kind() != Kind::Dict)
            stepAside(Reason::Encrypted); // also the Identity filter: left to the library
        const Value cfm = direct(cf, "CFM");
        method = isName(cfm, "V2") ? 0 : isName(cfm, "AESV2") ? 1 : isName(cfm, "AESV3") ? 2 : -1;
        if (method < 0 || (method == 2) != (r >= 5))
            stepAside(Reason::Encrypted);
        if (method < 2) {
            if (const std::optional<qint64> length = int32(direct(cf, "Length")))
                security.keyLength = int(*length); // in bytes, as the library reads it
        }
        const Value metadata = direct(dict, "EncryptMetadata");
        if (metadata.kind() == Kind::Bool)
            security.encryptMetadata = metadata.at().num != 0;
        security.revision = method < 2 ? 3 : int(r);
    } else if (v >= 1 && v <= 2 && r >= 2 && r <= 3) {
        security.revision = int(r);
    } else {
        stepAside(Reason::Encrypted);
    }
    if (security.revision <= 3) {
        if (security.keyLength > 16 || security.keyLength < 0)
            security.keyLength = 16;
        const Value ids = direct({&m_trailer, m_trailer.root, false}, "ID");
        if (ids.kind() == Kind::Array) {
            const Value first{ids.tree, ids.at().first, false};
            if (first.kind() == Kind::String)
                security.fileId = stringOf(first);
            else if (first.node >= 0)
                stepAside(Reason::Encrypted);
        } else if (ids.node >= 0) {
            stepAside(Reason::Encrypted);
        }
    }
    if (!opensWithEmptyPassword(security))
        stepAside(Reason::Encrypted);
    m_encrypted = true;
}

void Document::checkLookupsOnOpen(const Value &catalog)
{
    // Opening a document, the library looks up these entries of the catalog
    // and of the document information dictionary. Any of them that fails to
    // load in a file with a cross-reference table makes it rebuild the table,
    // and the page count could then come from elsewhere.
    resolveOnOpen(*catalog.tree, catalog.find("AcroForm"));
    const Value uri = resolveOnOpen(*catalog.tree, catalog.find("URI"));
    if (uri.kind() == Kind::Dict)
        resolveOnOpen(*uri.tree, uri.find("Base"));
    const Value layers = resolveOnOpen(*catalog.tree, catalog.find("OCProperties"));
    if (layers.kind() == Kind::Dict)
        reachAll(layers, 0);
    resolveOnOpen(*catalog.tree, catalog.find("ViewerPreferences"));
    resolveOnOpen(*catalog.tree, catalog.find("Version"));

    const Value info = resolveOnOpen(m_trailer, m_trailer.find(m_trailer.root, "Info"));
    if (info.kind() == Kind::Dict) {
        for (int k = info.at().first; k >= 0; k = info.tree->at(info.tree->at(k).next).next) {
            if (info.tree->name(k).startsWith("GTS_PDF"))
                resolveOnOpen(*info.tree, info.tree->at(k).next);
        }
    }
}

qint32 Document::pageCount()
{
    if (m_reader.viewUpTo(0, 5) != "%PDF-")
        stepAside(Reason::NoHeader);

    const Linearization lin = readLinearization();
    const qint64 start = lin.active ? afterFirstEndobj() : findStartXref();
    if (start <= 0)
        stepAside(Reason::NoStartXref);
    std::vector<qint64> followed;
    m_visitedSections.insert(start);
    m_nextPrev = readSection(start, followed, true);
    m_tableFirst = !m_sections.front()->isStream;
    m_linearTable = lin.active && m_tableFirst && lin.mainEntries > 0;
    m_mainEntries = lin.mainEntries;

    const int root = m_trailer.root;
    const int size = m_trailer.find(root, "Size");
    if (size < 0 || m_trailer.at(size).kind != Kind::Int || !m_trailer.at(size).fits32 ||
        m_trailer.at(size).num < 1)
        stepAside(Reason::DamagedXref);
    m_size = m_trailer.at(size).num;
    // The library sizes its table by the sections it has read as well, and
    // never below: a trailer that understates /Size (pdfunite writes such
    // files) neither hides objects past it nor lowers the bound on /Count.
    // Sections read later can only raise it, so this bound is never above
    // the library's.
    for (const auto &section : m_sections) {
        m_size = qMax(m_size, section->declaredSize);
        for (const Subsection &sub : section->subsections)
            m_size = qMax(m_size, sub.first + sub.count);
    }
    // Every object takes some bytes of the file, even compressed; a number
    // far beyond them is damage, and would cost the library its size.
    if (m_size > qMax<qint64>(kMaxObjects, m_fileSize / 2))
        stepAside(Reason::ImpossibleClaim);
    if (m_size > kMaxObjects)
        stepAside(Reason::LimitExceeded);
    if (const int encrypt = m_trailer.find(root, "Encrypt"); encrypt >= 0)
        checkEncryption(encrypt);
    const int catalogRef = m_trailer.find(root, "Root");
    if (catalogRef < 0 || m_trailer.at(catalogRef).kind != Kind::Ref)
        stepAside(Reason::DamagedXref);

    const Value catalog = resolve(m_trailer, catalogRef);
    if (catalog.isStream || catalog.kind() != Kind::Dict)
        stepAside(Reason::DamagedObject);
    // Where the newest section is a stream, the library never rebuilds the
    // table: a lookup that fails only gives it a null.
    if (m_tableFirst)
        checkLookupsOnOpen(catalog);

    const Value pages = resolve(*catalog.tree, catalog.find("Pages"));
    if (pages.isStream || pages.kind() != Kind::Dict)
        stepAside(Reason::DamagedObject);
    const int type = pages.find("Type");
    if (type >= 0) {
        const Node &t = pages.tree->at(type);
        if (t.kind == Kind::Ref)
            stepAside(Reason::DamagedObject);
        if (t.kind == Kind::Name && pages.tree->name(type) == "Page")
            stepAside(Reason::PagesIsPage);
    }
    const Value count = resolve(*pages.tree, pages.find("Count"));
    if (count.isStream || count.kind() != Kind::Int || !count.at().fits32 || count.at().num <= 0)
        stepAside(Reason::BadCount);
    if (count.at().num > m_size)
        stepAside(Reason::CountAboveObjects);
    if (lin.active && lin.pages > 0 && lin.pages != count.at().num)
        stepAside(Reason::LinearizedMismatch);
    m_pages = pages;
    return qint32(count.at().num);
}

// The boxes and rotation a page inherits, as the library keeps them: its
// default MediaBox is US Letter, which this reader tells apart as unknown.
struct Document::PageAttributes
{
    double media[4] = {0, 0, 612, 792};
    double crop[4] = {0, 0, 0, 0};
    bool haveMedia = false;
    bool haveCrop = false;
    qint64 rotate = 0;
};

bool Document::readBox(const Value &dict, const char *key, double box[4])
{
    const Value array = resolve(*dict.tree, dict.find(key));
    if (array.isStream || array.kind() != Kind::Array || array.at().count != 4)
        return false;
    double v[4];
    int i = 0;
    bool ok = true;
    for (int k = array.at().first; k >= 0 && i < 4; k = array.tree->at(k).next, ++i) {
        const Value element = resolve(*array.tree, k);
        if (element.isStream || (element.kind() != Kind::Int && element.kind() != Kind::Real))
            ok = false;
        else
            v[i] = element.at().real;
    }
    if (!ok || i != 4 || (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 0))
        return false;
    box[0] = qMin(v[0], v[2]);
    box[1] = qMin(v[1], v[3]);
    box[2] = qMax(v[0], v[2]);
    box[3] = qMax(v[1], v[3]);
    return true;
}

// A node's own boxes and rotation over those it inherits.
void Document::inherit(const Value &dict, PageAttributes &attributes)
{
    double box[4];
    if (readBox(dict, "MediaBox", box)) {
        std::copy(box, box + 4, attributes.media);
        attributes.haveMedia = true;
    }
    if (readBox(dict, "CropBox", box)) {
        std::copy(box, box + 4, attributes.crop);
        attributes.haveCrop = true;
    }
    // Without a CropBox of its own or above, a node's is its MediaBox.
    if (!attributes.haveCrop)
        std::copy(attributes.media, attributes.media + 4, attributes.crop);
    const Value rotate = resolve(*dict.tree, dict.find("Rotate"));
    if (!rotate.isStream && rotate.kind() == Kind::Int && rotate.at().fits32)
        attributes.rotate = ((rotate.at().num % 360) + 360) % 360;
}

void Document::walkPages(const Value &node, const PageAttributes &inherited, int depth,
                         qint32 count, std::vector<PageInfo> &boxes)
{
    if (depth > kMaxDepth)
        stepAside(Reason::LimitExceeded);
    const int wanted = qMin(count, kMaxDetailedPages);
    const Value kids = resolve(*node.tree, node.find("Kids"));
    if (kids.isStream || kids.kind() != Kind::Array)
        stepAside(Reason::DamagedObject);
    // Children are read one at a time: a leaf's tree is dropped once its
    // box is known, so that long documents cost little memory.
    std::vector<std::pair<qint64, qint64>> refs;
    for (int k = kids.at().first; k >= 0; k = kids.tree->at(k).next) {
        const Node &kid = kids.tree->at(k);
        if (kid.kind != Kind::Ref)
            stepAside(Reason::DamagedObject);
        refs.emplace_back(kid.num, kid.gen);
    }
    for (const auto &[num, gen] : refs) {
        if (int(boxes.size()) >= wanted)
            return;
        if (!m_pageNodes.insert(num).second)
            stepAside(Reason::DamagedObject); // a loop, or a page listed twice
        const Loaded &object = fetch(num, gen);
        if (object.isStream || object.tree.at(object.tree.root).kind != Kind::Dict)
            stepAside(Reason::DamagedObject);
        const Value kid{&object.tree, object.tree.root, false};
        const int typeNode = kid.find("Type");
        const bool typedPage = typeNode >= 0 && kid.tree->at(typeNode).kind == Kind::Name &&
                               kid.tree->name(typeNode) == "Page";
        const bool isPage = typedPage || kid.find("Kids") < 0;

        PageAttributes attributes = inherited;
        inherit(kid, attributes);
        if (!isPage) {
            walkPages(kid, attributes, depth + 1, count, boxes);
            continue;
        }
        const double *media = attributes.media;
        double crop[4];
        std::copy(attributes.crop, attributes.crop + 4, crop);
        if (typedPage) {
            // A page's CropBox is never larger than its MediaBox.
            if (crop[2] - crop[0] > media[2] - media[0]) {
                crop[0] = media[0];
                crop[2] = media[2];
            }
            if (crop[3] - crop[1] > media[3] - media[1]) {
                crop[1] = media[1];
                crop[3] = media[3];
            }
        }
        for (int i = 0; i < 4; ++i)
            crop[i] = qBound(media[i % 2], crop[i], media[i % 2 + 2]);
        PageInfo info;
        double w = (crop[2] - crop[0]) * kMmPerPoint;
        double h = (crop[3] - crop[1]) * kMmPerPoint;
        if (attributes.rotate == 90 || attributes.rotate == 270)
            std::swap(w, h);
        if (attributes.haveMedia && w > 0 && h > 0 && w <= SizeClass::kMaxSideMm &&
            h <= SizeClass::kMaxSideMm) {
            info.widthMm = float(w);
            info.heightMm = float(h);
        }
        boxes.push_back(info);
        // Nothing refers to a page's own tree again.
        if (!object.compressed)
            m_objects.erase(num);
    }
}

void Document::pageBoxes(qint32 count, std::vector<PageInfo> &boxes)
{
    const int wanted = qMin(count, kMaxDetailedPages);
    m_maxFetches = m_fetches + 2 * wanted + kMaxFetches;
    m_budget = qMax<qint64>(m_budget, qint64(wanted) * 256);
    boxes.reserve(size_t(wanted));
    PageAttributes attributes;
    inherit(m_pages, attributes);
    walkPages(m_pages, attributes, 0, count, boxes);
    // Fewer pages in the tree than /Count: the library has its own ways.
    if (int(boxes.size()) != wanted)
        stepAside(Reason::DamagedObject);
}

} // namespace

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

std::optional<qint32> structuralPdfPageCount(BlockReader &reader)
{
    return examinePdfStructure(reader).pages;
}

} // namespace tallivo
