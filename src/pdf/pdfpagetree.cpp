#include "pdfdocument.h"

#include <algorithm>

namespace tallivo::pdfread {

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

} // namespace tallivo::pdfread
