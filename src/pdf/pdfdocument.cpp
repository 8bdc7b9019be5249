#include "pdfdocument.h"
#include "pdffilters.h"

#include <climits>
#include <tuple>

namespace tallivo::pdfread {

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

} // namespace tallivo::pdfread
