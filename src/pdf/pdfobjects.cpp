#include "pdfobjects.h"

namespace tallivo::pdfread {

int Parser::value(int depth)
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

int Parser::array(int depth)
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

int Parser::dict(int depth)
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

void Parser::link(int parent, int &last, int child)
{
    if (last < 0)
        m_tree.at(parent).first = child;
    else
        m_tree.at(last).next = child;
    last = child;
    ++m_tree.at(parent).count;
}

} // namespace tallivo::pdfread
