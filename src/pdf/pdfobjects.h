#pragma once

// Parsed values: the objects of a PDF file as trees of nodes, and the parser
// that makes them from tokens.

#include "pdflexer.h"

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace tallivo::pdfread {

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
        // Most objects are small dictionaries: room for them at once spares
        // the four or five reallocations of growing from one node.
        if (m_nodes.empty())
            m_nodes.reserve(kFirstNodes);
        m_nodes.push_back(node);
        return int(m_nodes.size() - 1);
    }
    int addName(const Token &t)
    {
        Node node;
        node.kind = Kind::Name;
        node.nameOffset = int(m_names.size());
        node.nameLength = t.length;
        if (m_names.isEmpty())
            m_names.reserve(kFirstNameBytes);
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
    static constexpr size_t kFirstNodes = 16;
    static constexpr qsizetype kFirstNameBytes = 128;
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
    int value(int depth);

private:
    int array(int depth);
    int dict(int depth);
    void link(int parent, int &last, int child);

    static constexpr int kSlots = 3;
    Lexer &m_lexer;
    Tree &m_tree;
    Token m_tokens[kSlots];
    int m_head = 0;
    int m_ahead = 0;
};

// A value as the document resolved it: a node of some object's tree, and
// whether that object is a stream.
struct Value
{
    const Tree *tree = nullptr;
    int node = -1;
    bool isStream = false;

    Kind kind() const { return node >= 0 ? tree->at(node).kind : Kind::Null; }
    const Node &at() const { return tree->at(node); }
    int find(QByteArrayView key) const { return tree->find(node, key); }
};

} // namespace tallivo::pdfread
