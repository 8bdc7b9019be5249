#include "pdflexer.h"

#include <climits>

namespace tallivo::pdfread {

void Lexer::next(Token &t)
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

void Lexer::skipSpace()
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

void Lexer::number(int c, Token &t)
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

void Lexer::name(Token &t)
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

void Lexer::keyword(int c, Token &t)
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

void Lexer::skipString()
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

void Lexer::skipHexString()
{
    for (;;) {
        const int c = m_cursor.get();
        if (c == '>')
            return;
        if (c < 0 || (!isWhite(c) && hexValue(c) < 0))
            stepAside(Reason::DamagedObject);
    }
}

} // namespace tallivo::pdfread
