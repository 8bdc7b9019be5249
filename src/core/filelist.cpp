#include "filelist.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QHash>

#include "localpath.h"

#include <algorithm>
#include <numeric>

namespace tallivo {

RowPages FileList::rowPages(const FileItem &item)
{
    return {item.pages(), pageGroupOf(item)};
}

bool FileList::append(std::unique_ptr<FileItem> item)
{
    if (!item)
        return false;
    const PathKey key = item->key();
    if (m_keys.contains(key))
        return false;
    m_keys.insert(key);
    m_rowPages.push_back(rowPages(*item));
    m_tally.add(*item, m_rowPages.back().group);
    m_items.push_back(std::move(item));
    changed();
    return true;
}

void FileList::removeRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    QList<RowRange> ranges;
    for (int row : std::as_const(rows)) {
        if (row < 0 || row >= size())
            continue;
        if (!ranges.isEmpty() && row <= ranges.last().second + 1)
            ranges.last().second = row;
        else
            ranges.append({row, row});
    }
    takeBlocks(ranges);
}

std::vector<FileBlock> FileList::takeBlocks(const QList<RowRange> &ranges, const Visit &visit)
{
    std::vector<FileBlock> blocks;
    if (ranges.isEmpty() || m_items.empty())
        return blocks;
    blocks.reserve(size_t(ranges.size()));
    size_t kept = size_t(qMax(ranges.first().first, 0));
    size_t next = kept;
    // The keys go out together, in the key set's order.
    std::vector<PathKey> keys;
    size_t taking = 0;
    for (const auto &[first, last] : ranges)
        taking += size_t(qMax(last - first + 1, 0));
    keys.reserve(qMin(taking, m_items.size()));
    for (qsizetype r = 0; r < ranges.size(); ++r) {
        const int from = qMax(ranges[r].first, 0);
        const int to = qMin(ranges[r].second, size() - 1);
        if (from > to || size_t(from) < next)
            continue;
        const size_t first = size_t(from);
        const size_t last = size_t(to);
        // The rows between the last block and this one close up.
        for (; next < first; ++next, ++kept) {
            m_items[kept] = std::move(m_items[next]);
            m_rowPages[kept] = m_rowPages[next];
        }
        FileBlock block;
        block.row = int(first);
        block.colourEpoch = m_colourEpoch;
        block.items.reserve(last - first + 1);
        block.pages.reserve(last - first + 1);
        for (; next <= last; ++next) {
            // The items lie all over the heap: the next ones are fetched
            // while this one is read.
            if (next + 8 <= last)
                __builtin_prefetch(m_items[next + 8].get());
            const FileItem &item = *m_items[next];
            keys.push_back(item.key());
            if (visit)
                visit(item);
            m_tally.remove(item, m_rowPages[next].group);
            block.items.push_back(std::move(m_items[next]));
            block.pages.push_back(m_rowPages[next]);
        }
        blocks.push_back(std::move(block));
    }
    for (; next < m_items.size(); ++next, ++kept) {
        m_items[kept] = std::move(m_items[next]);
        m_rowPages[kept] = m_rowPages[next];
    }
    m_items.resize(kept);
    m_rowPages.resize(kept);
    m_keys.remove(std::move(keys));
    changed();
    return blocks;
}

QList<RowRange> FileList::putBlocks(std::vector<FileBlock> blocks, const Visit &visit)
{
    QList<RowRange> placed;
    size_t added = 0;
    for (const FileBlock &block : blocks)
        added += block.items.size();
    if (added == 0)
        return placed;
    const size_t old = m_items.size();
    const size_t total = old + added;
    std::vector<PathKey> keys;
    keys.reserve(added);
    m_items.resize(total);
    m_rowPages.resize(total);
    // From the end backwards: every old row moves down by the files put
    // back before it, each once.
    size_t from = old; // old rows not yet moved: [0, from)
    size_t to = total; // rows filled: [to, total)
    std::vector<size_t> starts(blocks.size());
    // Where each block lands: its row, but never past the rows before it.
    size_t before = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        starts[b] = qMin(size_t(qMax(blocks[b].row, 0)), before + old);
        starts[b] = qMax(starts[b], before);
        before = starts[b] + blocks[b].items.size();
    }
    for (size_t b = blocks.size(); b-- > 0;) {
        std::vector<std::unique_ptr<FileItem>> &items = blocks[b].items;
        const std::vector<RowPages> &pages = blocks[b].pages;
        const bool known = pages.size() == items.size();
        const size_t end = starts[b] + items.size();
        while (to > end) {
            --to;
            --from;
            m_items[to] = std::move(m_items[from]);
            m_rowPages[to] = m_rowPages[from];
        }
        for (size_t i = items.size(); i-- > 0;) {
            --to;
            if (i >= 8)
                __builtin_prefetch(items[i - 8].get());
            FileItem &item = *items[i];
            keys.push_back(item.key());
            if (visit)
                visit(item);
            m_rowPages[to] = known ? pages[i] : rowPages(item);
            m_tally.add(item, m_rowPages[to].group);
            m_items[to] = std::move(items[i]);
        }
    }
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (blocks[b].items.empty())
            continue;
        const int first = int(starts[b]);
        const int last = first + int(blocks[b].items.size()) - 1;
        if (!placed.isEmpty() && placed.last().second + 1 == first)
            placed.last().second = last;
        else
            placed.append({first, last});
    }
    m_keys.insert(std::move(keys));
    changed();
    return placed;
}

void FileList::clear()
{
    m_items.clear();
    m_rowPages.clear();
    m_keys.clear();
    m_tally.clear();
    m_addedFolders.clear();
    m_addedSet.clear();
    changed();
}

void FileList::addFolder(const QByteArray &folder)
{
    const QByteArray path = folder.size() > 1 && folder.endsWith('/') ? folder.chopped(1) : folder;
    if (path.isEmpty() || m_addedSet.contains(path))
        return;
    m_addedSet.insert(path);
    m_addedFolders.append(path);
}

void FileList::setChecked(int row, bool checked)
{
    if (row < 0 || row >= size())
        return;
    FileItem &item = *m_items[size_t(row)];
    m_tally.setChecked(item, m_rowPages[size_t(row)].group, checked);
    item.setChecked(checked);
}

void FileList::update(int row, const std::function<void(FileItem &)> &edit)
{
    if (row < 0 || row >= size())
        return;
    FileItem &item = *m_items[size_t(row)];
    m_tally.remove(item, m_rowPages[size_t(row)].group);
    edit(item);
    m_rowPages[size_t(row)].pages = item.pages();
    m_tally.add(item, m_rowPages[size_t(row)].group);
    changed();
}

RowRange FileList::dropPageDetails(int from, int to, PageGroup group)
{
    RowRange changedRows{to, from - 1};
    for (int row = std::max(from, 0); row < std::min(to, size()); ++row) {
        FileItem &item = *m_items[size_t(row)];
        if (m_rowPages[size_t(row)].group != group ||
            (item.pageSummary().isEmpty() && !item.pageInfo()))
            continue;
        m_tally.remove(item, group);
        item.dropPageDetails();
        m_tally.add(item, group);
        changedRows.first = std::min(changedRows.first, row);
        changedRows.second = row;
    }
    return changedRows;
}

void FileList::move(int from, int to)
{
    if (from < 0 || from >= size() || to < 0 || to >= size() || from == to)
        return;
    auto first = m_items.begin();
    auto pages = m_rowPages.begin();
    if (from < to) {
        std::rotate(first + from, first + from + 1, first + to + 1);
        std::rotate(pages + from, pages + from + 1, pages + to + 1);
    } else {
        std::rotate(first + to, first + from, first + from + 1);
        std::rotate(pages + to, pages + from, pages + from + 1);
    }
    changed();
}

void FileList::reorder(const std::vector<int> &order)
{
    if (order.size() != m_items.size())
        return;
    std::vector<std::unique_ptr<FileItem>> items;
    std::vector<RowPages> pages;
    items.reserve(m_items.size());
    pages.reserve(m_items.size());
    for (int from : order) {
        items.push_back(std::move(m_items[size_t(from)]));
        pages.push_back(m_rowPages[size_t(from)]);
    }
    m_items = std::move(items);
    m_rowPages = std::move(pages);
    changed();
}

namespace {

void add(PageTotals &totals, PageGroup group, qint64 pages)
{
    switch (group) {
    case PageGroup::Tiff:
        totals.tiffPages += pages;
        break;
    case PageGroup::Pdf:
        totals.pdfPages += pages;
        break;
    case PageGroup::None:
        break;
    }
}

} // namespace

PageTally FileList::tallyOf(const QList<int> &rows) const
{
    PageTally t;
    for (int row : rows) {
        if (row >= 0 && row < size())
            t.add(*m_items[size_t(row)], m_rowPages[size_t(row)].group);
    }
    return t;
}

PageTotals FileList::totalsOf(const QList<int> &rows) const
{
    PageTotals t;
    for (int row : rows) {
        if (row < 0 || row >= size())
            continue;
        const RowPages &p = m_rowPages[size_t(row)];
        add(t, p.group, p.pages);
    }
    return t;
}

PageTotals FileList::totalsBefore(size_t row) const
{
    PageTotals t = m_sums[row / kSumStride];
    for (size_t r = row / kSumStride * kSumStride; r < row; ++r)
        add(t, m_rowPages[r].group, m_rowPages[r].pages);
    return t;
}

PageTotals FileList::totalsOf(const QList<RowRange> &ranges) const
{
    PageTotals t;
    if (ranges.isEmpty() || m_items.empty())
        return t;
    if (!m_sumsValid) {
        m_sums.assign(m_rowPages.size() / kSumStride + 1, PageTotals());
        PageTotals running;
        for (size_t row = 0; row < m_rowPages.size(); ++row) {
            if (row % kSumStride == 0)
                m_sums[row / kSumStride] = running;
            add(running, m_rowPages[row].group, m_rowPages[row].pages);
        }
        m_sumsValid = true;
    }
    for (const auto &[first, last] : ranges) {
        const int from = qMax(first, 0);
        const int to = qMin(last, size() - 1);
        if (from > to)
            continue;
        const PageTotals end = totalsBefore(size_t(to) + 1);
        const PageTotals start = totalsBefore(size_t(from));
        t.tiffPages += end.tiffPages - start.tiffPages;
        t.pdfPages += end.pdfPages - start.pdfPages;
    }
    return t;
}

namespace {

bool isTextKey(SortKey key)
{
    return key == SortKey::Name || key == SortKey::Type || key == SortKey::Folder;
}

qint64 msecs(const FileItem &f, FileItem::FileTime which)
{
    // Unreadable dates sort before every real one.
    return f.fileTimeMSecs(which).value_or(std::numeric_limits<qint64>::min());
}

// Unsigned keys as signed ones of the same order.
qint64 flipped(quint64 key)
{
    return qint64(key ^ (quint64(1) << 63));
}

qint64 numberOf(const FileItem &f, SortKey key)
{
    switch (key) {
    case SortKey::Checked:
        return f.isChecked();
    case SortKey::Pages:
        return f.pages();
    case SortKey::Size:
        return f.size();
    case SortKey::Modified:
        return msecs(f, FileItem::FileTime::Modified);
    case SortKey::Created:
        return msecs(f, FileItem::FileTime::Created);
    case SortKey::Accessed:
        return msecs(f, FileItem::FileTime::Accessed);
    case SortKey::PaperSizes:
        return flipped(f.pageSummary().sizesSortKey());
    case SortKey::A4Equivalents:
        return f.pageSummary().a4EquivalentsSortKey();
    case SortKey::Colour:
        return flipped(f.pageSummary().colourSortKey());
    case SortKey::Name:
    case SortKey::Type:
    case SortKey::Folder:
        break; // texts
    }
    return 0;
}

template <typename Key>
void stableSortBy(std::vector<int> &order, const std::vector<Key> &keys, bool ascending)
{
    // Keys are indexed by data row; the order is refined in place.
    if (ascending)
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return keys[size_t(a)] < keys[size_t(b)]; });
    else
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return keys[size_t(b)] < keys[size_t(a)]; });
}

struct TextKey
{
    QCollatorSortKey key;
    bool operator<(const TextKey &other) const { return key.compare(other.key) < 0; }
};

class TextKeys
{
public:
    TextKeys()
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
        m_collator.setNumericMode(true);
    }
    // Folded first: the C locale's collation ignores the case setting.
    TextKey operator()(const QString &text) const
    {
        return {m_collator.sortKey(text.toCaseFolded())};
    }

private:
    QCollator m_collator;
};

// Ranks of distinct texts, equal texts ranking the same: each text's key is
// made once, and only the distinct texts' keys are held at once.
std::vector<qint64> ranksOf(const QStringList &texts, const TextKeys &keyOf)
{
    std::vector<TextKey> keys;
    keys.reserve(size_t(texts.size()));
    for (const QString &text : texts)
        keys.push_back(keyOf(text));
    std::vector<int> byKey(keys.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::stable_sort(byKey.begin(), byKey.end(),
                     [&](int a, int b) { return keys[size_t(a)] < keys[size_t(b)]; });
    std::vector<qint64> ranks(keys.size());
    qint64 rank = 0;
    for (size_t i = 0; i < byKey.size(); ++i) {
        if (i > 0 && keys[size_t(byKey[i - 1])] < keys[size_t(byKey[i])])
            ++rank;
        ranks[size_t(byKey[i])] = rank;
    }
    return ranks;
}

// Each row's rank among the distinct values `idOf` finds and `textOf`
// shows; rows of the same value share one text and one key.
template <typename Value, typename IdOf, typename TextOf>
std::vector<qint64> rowRanks(const std::vector<Value> &values, IdOf idOf, TextOf textOf,
                             const TextKeys &keyOf)
{
    using Id = decltype(idOf(values.front()));
    QHash<Id, int> seen;
    QStringList texts;
    std::vector<qint64> rows(values.size());
    for (size_t row = 0; row < values.size(); ++row) {
        // Rows of one value mostly come together.
        if (row > 0 && values[row] == values[row - 1]) {
            rows[row] = rows[row - 1];
            continue;
        }
        const Id id = idOf(values[row]);
        auto found = seen.constFind(id);
        if (found == seen.cend()) {
            found = seen.insert(id, int(texts.size()));
            texts.append(textOf(values[row]));
        }
        rows[row] = *found;
    }
    seen.clear();
    const std::vector<qint64> ranks = ranksOf(texts, keyOf);
    for (qint64 &row : rows)
        row = ranks[size_t(row)];
    return rows;
}

} // namespace

void gatherSortData(const FileList &files, int from, int to, SortKeyData &data)
{
    const SortKey key = data.descriptor.key;
    data.text = isTextKey(key);
    for (int row = qMax(from, 0); row < to && row < files.size(); ++row) {
        const FileItem &item = *files.at(row);
        if (key == SortKey::Folder)
            data.folders.push_back(item.folder());
        else if (data.text)
            data.names.push_back(item.nameBytes());
        else
            data.numbers.push_back(numberOf(item, key));
    }
}

std::vector<int> sortOrder(std::vector<SortKeyData> gathered, int rows)
{
    std::vector<int> order(size_t(qMax(rows, 0)));
    std::iota(order.begin(), order.end(), 0);
    const TextKeys keyOf;
    // Stable passes from the last key to the first give the lexicographic
    // order of all of them.
    for (auto c = gathered.rbegin(); c != gathered.rend(); ++c) {
        const bool asc = c->descriptor.ascending;
        if (c->text && c->descriptor.key == SortKey::Folder) {
            if (c->folders.size() != size_t(rows))
                continue;
            // A few thousand folders for a million files; a folder met
            // again under another record is the same text.
            const std::vector<qint64> ranks = rowRanks(
                c->folders, [](const Folder &f) { return f ? f->path : QByteArray(); },
                [](const Folder &f) { return displayPath(f ? f->path : QByteArray()); }, keyOf);
            c->folders = {};
            stableSortBy(order, ranks, asc);
        } else if (c->text && c->descriptor.key == SortKey::Type) {
            if (c->names.size() != size_t(rows))
                continue;
            const std::vector<qint64> ranks = rowRanks(
                c->names, [](const QByteArray &name) { return extensionOf(name); },
                [](const QByteArray &name) { return displayPath(extensionOf(name)); }, keyOf);
            c->names = {};
            stableSortBy(order, ranks, asc);
        } else if (c->text) {
            if (c->names.size() != size_t(rows))
                continue;
            // Names are mostly distinct: a key per row, each text let go
            // as soon as its key is made.
            std::vector<TextKey> keys;
            keys.reserve(size_t(rows));
            for (QByteArray &name : c->names)
                keys.push_back(keyOf(displayPath(std::exchange(name, {}))));
            c->names = {};
            stableSortBy(order, keys, asc);
        } else {
            if (c->numbers.size() != size_t(rows))
                continue;
            stableSortBy(order, c->numbers, asc);
            c->numbers = {};
        }
    }
    return order;
}

void FileList::sort(const QList<SortDescriptor> &descriptors)
{
    std::vector<SortKeyData> keys;
    for (const SortDescriptor &d : descriptors) {
        SortKeyData data;
        data.descriptor = d;
        gatherSortData(*this, 0, size(), data);
        keys.push_back(std::move(data));
    }
    reorder(sortOrder(std::move(keys), size()));
}

} // namespace tallivo
