#pragma once

// The document: cross-reference sections read as the library reads them,
// objects fetched through them, and the page tree. Its parts are defined in
// pdfxref.cpp (the cross-reference sections), pdfdocument.cpp (fetching
// objects), pdfencryption.cpp (the encryption dictionary) and pdfpagetree.cpp
// (the page count and the page boxes).

#include "pagedetails.h"
#include "pdfobjects.h"

#include <QByteArray>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tallivo::pdfread {

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

} // namespace tallivo::pdfread
