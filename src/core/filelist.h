#pragma once

#include "column.h"
#include "fileitem.h"

#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

namespace tallivo {

// Which page total a file adds to, by its upper-cased extension.
enum class PageGroup
{
    None,
    Tiff,
    Pdf
};
PageGroup pageGroupOf(const FileItem &item);

struct SortDescriptor
{
    Column column = Column::Name;
    bool ascending = true;
};

// 64-bit: a million files of a few thousand pages each pass 2^31.
struct PageTotals
{
    qint64 tiffPages = 0;
    qint64 pdfPages = 0;
};

// The ordered list of files, in table order. Keeps a set of path keys and the
// page totals up to date, so that the duplicate test and the totals cost the
// same for the hundred-thousandth file as for the first.
class FileList
{
public:
    int size() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }
    FileItem *at(int row) const { return m_items[size_t(row)].get(); }

    // Whether a file of the same path is listed.
    bool contains(const FileItem &item) const { return m_keys.contains(item.key()); }
    bool contains(const PathKey &key) const { return m_keys.contains(key); }
    // A copy of the listed files' path keys; cheap until either side changes.
    PathSet pathKeys() const { return m_keys; }

    // Appends unless an equal item is listed; true when appended.
    bool append(std::unique_ptr<FileItem> item);
    // Removes the given rows (any order, duplicates ignored).
    void removeRows(QList<int> rows);
    void clear();
    // Moves the item at `from` so that it ends up at `to`.
    void move(int from, int to);
    // Reorders the list: row i gets the item that was at row order[i]. The
    // order names every row once.
    void reorder(const std::vector<int> &order);
    // Reorders the list by the descriptors, the first deciding, later ones
    // breaking ties; equal items keep their order. Every key is read once
    // per item.
    void sort(const QList<SortDescriptor> &descriptors);

    PageTotals totals() const { return m_totals; }
    // Totals of the given rows only.
    PageTotals totalsOf(const QList<int> &rows) const;

private:
    void count(const FileItem &item, int sign);

    std::vector<std::unique_ptr<FileItem>> m_items;
    PathSet m_keys;
    PageTotals m_totals;
};

} // namespace tallivo
