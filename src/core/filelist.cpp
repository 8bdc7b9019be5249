#include "filelist.h"

#include <QCollator>
#include <QCollatorSortKey>

#include <algorithm>
#include <numeric>

namespace tallivo {

PageGroup pageGroupOf(const FileItem &item)
{
    const QString upper = item.typeToUpper();
    if (upper == QLatin1String("TIF") || upper == QLatin1String("TIFF"))
        return PageGroup::Tiff;
    if (upper == QLatin1String("PDF"))
        return PageGroup::Pdf;
    return PageGroup::None;
}

void FileList::count(const FileItem &item, int sign)
{
    switch (pageGroupOf(item)) {
    case PageGroup::Tiff:
        m_totals.tiffPages += qint64(sign) * item.pages();
        break;
    case PageGroup::Pdf:
        m_totals.pdfPages += qint64(sign) * item.pages();
        break;
    case PageGroup::None:
        break;
    }
}

bool FileList::append(std::unique_ptr<FileItem> item)
{
    if (!item)
        return false;
    const PathKey key = item->key();
    if (m_keys.contains(key))
        return false;
    m_keys.insert(key);
    count(*item, +1);
    m_items.push_back(std::move(item));
    return true;
}

void FileList::removeRows(QList<int> rows)
{
    if (rows.isEmpty())
        return;
    std::vector<bool> doomed(m_items.size(), false);
    for (int row : rows) {
        if (row >= 0 && row < size())
            doomed[size_t(row)] = true;
    }
    std::vector<std::unique_ptr<FileItem>> kept;
    kept.reserve(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (doomed[i]) {
            count(*m_items[i], -1);
            m_keys.remove(m_items[i]->key());
        } else {
            kept.push_back(std::move(m_items[i]));
        }
    }
    m_items = std::move(kept);
}

void FileList::clear()
{
    m_items.clear();
    m_keys.clear();
    m_totals = {};
}

void FileList::move(int from, int to)
{
    if (from < 0 || from >= size() || to < 0 || to >= size() || from == to)
        return;
    auto first = m_items.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
}

void FileList::reorder(const std::vector<int> &order)
{
    if (order.size() != m_items.size())
        return;
    std::vector<std::unique_ptr<FileItem>> items;
    items.reserve(m_items.size());
    for (int from : order)
        items.push_back(std::move(m_items[size_t(from)]));
    m_items = std::move(items);
}

PageTotals FileList::totalsOf(const QList<int> &rows) const
{
    PageTotals t;
    for (int row : rows) {
        if (row < 0 || row >= size())
            continue;
        const FileItem &item = *m_items[size_t(row)];
        switch (pageGroupOf(item)) {
        case PageGroup::Tiff:
            t.tiffPages += item.pages();
            break;
        case PageGroup::Pdf:
            t.pdfPages += item.pages();
            break;
        case PageGroup::None:
            break;
        }
    }
    return t;
}

namespace {

template <typename Key, typename Extract, typename Less>
void stableSortBy(std::vector<std::unique_ptr<FileItem>> &items, bool ascending, Extract extract,
                  Less less)
{
    std::vector<std::pair<Key, size_t>> keyed;
    keyed.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        keyed.emplace_back(extract(*items[i]), i);
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto &a, const auto &b) {
        return ascending ? less(a.first, b.first) : less(b.first, a.first);
    });
    std::vector<std::unique_ptr<FileItem>> sorted;
    sorted.reserve(items.size());
    for (auto &k : keyed)
        sorted.push_back(std::move(items[k.second]));
    items = std::move(sorted);
}

void sortByText(std::vector<std::unique_ptr<FileItem>> &items, bool ascending,
                QString (FileItem::*field)() const)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    stableSortBy<QCollatorSortKey>(
        items, ascending,
        // Folded first: the C locale's collation ignores the case setting.
        [&](const FileItem &f) { return collator.sortKey((f.*field)().toCaseFolded()); },
        [](const QCollatorSortKey &a, const QCollatorSortKey &b) { return a.compare(b) < 0; });
}

void sortByNumber(std::vector<std::unique_ptr<FileItem>> &items, bool ascending,
                  qint64 (*field)(const FileItem &))
{
    stableSortBy<qint64>(items, ascending, field, std::less<qint64>());
}

void sortByUnsigned(std::vector<std::unique_ptr<FileItem>> &items, bool ascending,
                    quint64 (*field)(const FileItem &))
{
    stableSortBy<quint64>(items, ascending, field, std::less<quint64>());
}

qint64 msecs(const FileItem &f, FileItem::FileTime which)
{
    // Unreadable dates sort before every real one.
    return f.fileTimeMSecs(which).value_or(std::numeric_limits<qint64>::min());
}

} // namespace

void FileList::sort(const QList<SortDescriptor> &descriptors)
{
    // Stable passes from the last descriptor to the first give the
    // lexicographic order of all of them.
    for (auto d = descriptors.crbegin(); d != descriptors.crend(); ++d) {
        const bool asc = d->ascending;
        switch (d->column) {
        case Column::Check:
            sortByNumber(m_items, asc, [](const FileItem &f) { return qint64(f.isChecked()); });
            break;
        case Column::Name:
            sortByText(m_items, asc, &FileItem::name);
            break;
        case Column::Pages:
            sortByNumber(m_items, asc, [](const FileItem &f) { return qint64(f.pages()); });
            break;
        case Column::Size:
            sortByNumber(m_items, asc, [](const FileItem &f) { return qint64(f.size()); });
            break;
        case Column::Type:
            sortByText(m_items, asc, &FileItem::type);
            break;
        case Column::Modified:
            sortByNumber(m_items, asc,
                         [](const FileItem &f) { return msecs(f, FileItem::FileTime::Modified); });
            break;
        case Column::Created:
            sortByNumber(m_items, asc,
                         [](const FileItem &f) { return msecs(f, FileItem::FileTime::Created); });
            break;
        case Column::Accessed:
            sortByNumber(m_items, asc,
                         [](const FileItem &f) { return msecs(f, FileItem::FileTime::Accessed); });
            break;
        case Column::Location:
            sortByText(m_items, asc, &FileItem::location);
            break;
        case Column::Sizes:
            sortByUnsigned(m_items, asc,
                           [](const FileItem &f) { return f.pageSummary().sizesSortKey(); });
            break;
        case Column::A4Equivalents:
            sortByNumber(m_items, asc,
                         [](const FileItem &f) { return f.pageSummary().a4EquivalentsSortKey(); });
            break;
        case Column::Colour:
            sortByUnsigned(m_items, asc,
                           [](const FileItem &f) { return f.pageSummary().colourSortKey(); });
            break;
        }
    }
}

} // namespace tallivo
