#pragma once

#include "fileitem.h"
#include "pagetally.h"
#include "sortkey.h"

#include <QList>
#include <QSet>
#include <QString>

#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tallivo {

struct SortDescriptor
{
    SortKey key = SortKey::Name;
    bool ascending = true;
};

// Rows first..last, both included.
using RowRange = std::pair<int, int>;

// What a row adds to the totals.
struct RowPages
{
    qint32 pages = 0;
    PageGroup group = PageGroup::None;
};

// Files taken off the list together, and the row the first of them had;
// with what each adds to the totals, so that putting them back reads no
// item for it.
struct FileBlock
{
    int row = 0;
    std::vector<std::unique_ptr<FileItem>> items;
    std::vector<RowPages> pages; // beside items, or empty
    quint64 colourEpoch = 0;     // the list's when taken
};

// What a sort reads of each row for one key, gathered on the thread that
// owns the list, so that the keys can be built and compared on another. A
// text key takes what its texts are made from, shared with the items rather
// than copied: the names' bytes (Name, Type) or the folders (Folder); the
// texts are made where the keys are.
struct SortKeyData
{
    SortDescriptor descriptor;
    bool text = false;
    std::vector<QByteArray> names;
    std::vector<Folder> folders;
    std::vector<qint64> numbers;
};

// Reads the sort data of rows [from, to) and appends it to `data`.
class FileList;
void gatherSortData(const FileList &files, int from, int to, SortKeyData &data);
// The order the data sorts to (row i of the result is row order[i] of the
// data); the first key decides, later ones break ties, equal rows keep
// their order. Texts compare as the user's language orders them, ignoring
// case, numbers by value. Reads nothing but its arguments, and lets go of
// each part of them once used: any thread.
std::vector<int> sortOrder(std::vector<SortKeyData> gathered, int rows);

// The ordered list of files, in table order. Keeps a set of path keys and the
// tally of its files up to date, so that the duplicate test and the figures
// cost the same for the hundred-thousandth file as for the first. Its items
// change only through it, so that the tally stays true.
class FileList
{
public:
    int size() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }
    const FileItem *at(int row) const { return m_items[size_t(row)].get(); }

    // Whether a file of the same path is listed.
    bool contains(const FileItem &item) const { return m_keys.contains(item.key()); }
    bool contains(const PathKey &key) const { return m_keys.contains(key); }
    // A copy of the listed files' path keys; cheap until either side changes.
    PathSet pathKeys() const { return m_keys; }
    // Whether a file of the same path is listed.
    bool isListed(const FileItem &item) const { return contains(item); }

    // Appends unless an equal item is listed; true when appended.
    bool append(std::unique_ptr<FileItem> item);
    // Removes the given rows (any order, duplicates ignored).
    void removeRows(QList<int> rows);
    // Takes the rows of each range (ascending, apart) off the list in one
    // pass, and hands them over; each block has the row it started at.
    // `visit`, if given, sees each file as it goes, while it is at hand.
    using Visit = std::function<void(const FileItem &)>;
    std::vector<FileBlock> takeBlocks(const QList<RowRange> &ranges, const Visit &visit = {});
    // Puts blocks back (ascending rows, files not listed, as takeBlocks()
    // gave them) in one pass, each at its row as far as the list reaches.
    // Returns the rows each block is at now.
    QList<RowRange> putBlocks(std::vector<FileBlock> blocks, const Visit &visit = {});
    void clear();
    // Checks or unchecks the file at `row`.
    void setChecked(int row, bool checked);
    // Changes the file at `row` with `edit`, which may change anything but
    // its name and folder.
    void update(int row, const std::function<void(FileItem &)> &edit);
    // Drops the page details of the files of `group` in rows [from, to),
    // as FileItem::dropPageDetails() does. Returns the first and last row
    // changed; first > last when none was.
    RowRange dropPageDetails(int from, int to, PageGroup group);
    // Moves the item at `from` so that it ends up at `to`.
    void move(int from, int to);
    // Reorders the list: row i gets the item that was at row order[i]. The
    // order names every row once.
    void reorder(const std::vector<int> &order);
    // Reorders the list by the descriptors, the first deciding, later ones
    // breaking ties; equal items keep their order. Every key is read once
    // per item.
    void sort(const QList<SortDescriptor> &descriptors);

    // The figures of all listed files, checked ones among them.
    const PageTally &tally() const { return m_tally; }
    PageTotals totals() const { return m_tally.pages(); }
    // The figures of the given rows only (a row given twice counts twice),
    // at the cost of those rows.
    PageTally tallyOf(const QList<int> &rows) const;
    // Totals of the given rows only.
    PageTotals totalsOf(const QList<int> &rows) const;
    // Totals of row ranges (apart from each other), at the cost of the
    // ranges, not of their rows: from running sums over the rows, made again
    // on the first call after the list changed.
    PageTotals totalsOf(const QList<RowRange> &ranges) const;

    // The folders the user added, as paths' bytes, in the order first added:
    // a job is billed per added folder. They stay while files go one by one
    // and go with clear(), as they came with the files.
    const QList<QByteArray> &addedFolders() const { return m_addedFolders; }
    // Remembers `folder` unless it is already (a trailing slash ignored).
    void addFolder(const QByteArray &folder);

    // Which colour rule the page details of the files stand for, counted up
    // by its owner each time the rule changes; blocks taken carry it.
    quint64 colourEpoch() const { return m_colourEpoch; }
    void setColourEpoch(quint64 epoch) { m_colourEpoch = epoch; }

private:
    static RowPages rowPages(const FileItem &item);
    void changed() { m_sumsValid = false; }
    // The totals of rows [0, row).
    PageTotals totalsBefore(size_t row) const;

    std::vector<std::unique_ptr<FileItem>> m_items;
    // What each row adds to the totals, beside m_items, so that the running
    // sums and the removals read no item.
    std::vector<RowPages> m_rowPages;
    PathSet m_keys;
    PageTally m_tally;
    QList<QByteArray> m_addedFolders;
    QSet<QByteArray> m_addedSet;
    quint64 m_colourEpoch = 0;
    // Totals of the rows before every kSumStride-th row, and of all: a
    // sixty-fourth of a sum per row; the rest is read from m_rowPages.
    static constexpr size_t kSumStride = 64;
    mutable std::vector<PageTotals> m_sums;
    mutable bool m_sumsValid = false;
};

} // namespace tallivo
