#pragma once

// The structural PDF reader's lowest layer: the bounds it keeps, how it steps
// aside, the bytes it reads and the tokens it makes of them.

#include "blockreader.h"
#include "pdfstructure.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

namespace tallivo::pdfread {

using Reason = PdfStructureReason;

// Thrown wherever the file takes a path the PDF library would have to
// repair, or one this reader does not follow: the caller then asks the library.
struct StepAside
{
    Reason reason;
};

[[noreturn]] inline void stepAside(Reason reason)
{
    throw StepAside{reason};
}

// Bounds for hostile files.
inline constexpr qint64 kMaxInflated = 64 * 1024 * 1024;
inline constexpr int kMaxDepth = 32;
inline constexpr int kMaxSections = 64;
inline constexpr int kMaxFetches = 1024;
inline constexpr int kMaxReachable = 256;
inline constexpr qint64 kMaxObjects = 1 << 23;
inline constexpr qint64 kMaxTokens = 1 << 22;
inline constexpr int kMaxDictKeys = 4096;
inline constexpr int kMaxNameLength = 127;
inline constexpr int kMaxObjectsInStream = 1000000; // the library's own limit
inline constexpr qint64 kEntrySize = 20;

// The library's character classes: 1 white space, 2 delimiter, 0 regular.
inline constexpr quint8 kWhite = 1;
inline constexpr quint8 kDelimiter = 2;
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
inline constexpr CharClasses kClasses;

inline bool isWhite(int c)
{
    return c >= 0 && kClasses.table[c] == kWhite;
}
inline bool isRegular(int c)
{
    return c >= 0 && kClasses.table[c] == 0;
}
inline bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}
inline int hexValue(int c)
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

    // The next token; a token the library would mend or split makes the
    // reader step aside. Each token spends one unit of the budget.
    void next(Token &t);

private:
    void skipSpace();
    void number(int c, Token &t);
    void name(Token &t);
    void keyword(int c, Token &t);
    void skipString();
    void skipHexString();

    Cursor &m_cursor;
    qint64 &m_budget;
};

} // namespace tallivo::pdfread
