#pragma once

#include "column.h"
#include "filelist.h"
#include "pagesummary.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QUrl>

#include <utility>
#include <vector>

namespace tallivo {

// The runs of adjacent rows in ascending rows, as first and last row.
QList<std::pair<int, int>> rowBlocks(const QList<int> &ascendingRows);

// The file list and the table's view of it: one row per file, in list order.
// Every edit of the list goes through here, so that views, selections and
// persistent indexes follow it. Sorting reorders the list itself, so the
// export and row moves follow what the table shows.
class FileTableModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileTableModel)
public:
    enum class CheckChange
    {
        Check,
        Uncheck,
        Toggle
    };

    explicit FileTableModel(QObject *parent = nullptr);

    const FileList &files() const { return m_files; }
    // Appends the files not yet listed, in order, as one block of new rows:
    // a run's batches come in here. Returns how many were appended.
    int appendFiles(std::vector<std::unique_ptr<FileItem>> items);

    // Kept up to date as rows come and go, so that a status line or a
    // summary over 100,000 files costs nothing per file already shown.
    // Files whose pages could not be read (they count 0).
    int uncountedCount() const { return m_uncounted; }
    // Files with pages but no page details: counted while details were off.
    int withoutDetailsCount() const { return m_withoutDetails; }
    // Pages of all shown files by size and colour.
    const PageTable &pageTable() const { return m_pageTable; }
    // The same for some rows, at the cost of those rows only.
    PageTable pageTableOf(const QList<int> &rows, int *withoutDetails = nullptr) const;
    static bool isUncounted(const FileItem &item);
    static bool lacksDetails(const FileItem &item);
    // The listed files that lack page details, for reading them on request.
    QList<QUrl> filesWithoutDetails() const;
    // Page details read for listed files after their count: URL text to the
    // page count read with them and their summary. Files no longer listed,
    // already detailed, or whose count differs from the one shown are left
    // alone. One pass over the list; returns how many files took them.
    int setPageSummaries(const QHash<QString, std::pair<qint32, PageSummary>> &read);

    // Files that could not be counted go before all others, each group in
    // the order of the last sort.
    bool uncountedFirst() const { return m_uncountedFirst; }
    void setUncountedFirst(bool first);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // A header click: sorts the list by this column. Rows keep their
    // positions, so a selection stays on the same rows, now other files.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Sorts the list again the way the last header click did.
    void resort();

    // Removes the given rows (any order, repeats ignored), a block at a time.
    void removeRowList(const QList<int> &rows);
    void clear();
    // Moves each block of the given rows (ascending) one place up or down,
    // the block nearest the edge first; once a block is at the edge nothing
    // more moves. Returns the rows the moved files are in now.
    QList<int> moveUp(const QList<int> &rows);
    QList<int> moveDown(const QList<int> &rows);
    // Changes the check boxes of the given rows (ascending), or of all rows.
    void setChecked(const QList<int> &rows, CheckChange change);
    void setAllChecked(CheckChange change);

    // Undo support. Puts the other list in place of this one, whole.
    void swapList(FileList &other);
    // Puts files back at the rows they had (ascending target rows; files
    // already listed are left out). Returns the rows they are at now.
    QList<int> insertFiles(std::vector<std::pair<int, std::unique_ptr<FileItem>>> files);
    // The rows of the listed files among these URL texts, ascending.
    QList<int> rowsOf(const QSet<QString> &urlTexts) const;

Q_SIGNALS:
    // The counts and tables above changed.
    void tallyChanged();

private:
    void tally(const FileItem &item, int sign);
    void retally();
    // Puts the files that could not be counted first, keeping each group's
    // order; rows keep their places, like a sort.
    void partitionUncounted();

    // Shows the list in a new order (row i shows what row order[i] showed)
    // in one layout change; persistent indexes go with their rows.
    void reorderRows(std::vector<int> order);
    // Moves each block one place up or down, the block nearest the edge
    // first, until one is at the edge; the new rows of the moved files.
    QList<int> moveBlocks(const QList<int> &rows, bool up);

    FileList m_files;
    int m_rows = 0; // m_files.size(), at hand

    QList<SortDescriptor> m_sort;
    bool m_uncountedFirst = false;
    int m_uncounted = 0;
    int m_withoutDetails = 0;
    PageTable m_pageTable;
};

} // namespace tallivo
