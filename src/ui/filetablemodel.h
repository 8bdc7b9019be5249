#pragma once

#include "column.h"
#include "filelist.h"
#include "pagesummary.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QUrl>

#include <memory>
#include <utility>
#include <vector>

namespace tallivo {

// The runs of adjacent rows in ascending rows, as first and last row.
QList<std::pair<int, int>> rowBlocks(const QList<int> &ascendingRows);
// Row ranges in any order, overlapping or not, as ascending ranges apart
// from each other (touching ones merged).
QList<RowRange> mergedRanges(QList<RowRange> ranges);

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
    // The folders the user added (Add Folder, a drop, a recent folder, the
    // command line, a restored list) as bytes: the jobs files are billed in.
    // Remove leaves them; Clear forgets them and Undo brings them back with
    // the list.
    QList<QByteArray> addedFolders() const { return m_files.addedFolders(); }
    void addFolder(const QByteArray &folder) { m_files.addFolder(folder); }
    // Appends the files not yet listed, in order, as one block of new rows:
    // a run's batches come in here. Returns how many were appended.
    int appendFiles(std::vector<std::unique_ptr<FileItem>> items);

    // The figures of the listed files, kept by the list as rows come and
    // go, so that a status line or a summary over 100,000 files costs
    // nothing per file already shown.
    const PageTally &tally() const { return m_files.tally(); }
    // A listed file that lacks page details, to be read on request: where it
    // is, and the row it had when asked for.
    struct DetailsWanted
    {
        Folder folder;
        QByteArray name;
        int row = 0;
    };
    std::vector<DetailsWanted> filesWithoutDetails() const;
    // Page details read for a listed file after its count: its path key, the
    // row it had when asked for, and the page count read with them.
    struct DetailsRead
    {
        PathKey key;
        int row = 0;
        qint32 pages = 0;
        PageSummary summary;
        CountStatus coloursLost = CountStatus::Counted;
    };
    // Files no longer listed, already detailed, or whose count differs from
    // the one shown are left alone. A file still at its row is found at
    // once; only files the list has moved since cost a pass over the list.
    // Returns how many files took them.
    int setPageSummaries(std::vector<DetailsRead> reads);
    // The colour tolerance changed: the page details of every listed PDF
    // go, a slice of rows per turn of the event loop, so that they are read
    // again under the new rule; pdfDetailsDropped() follows. TIFF colours do
    // not depend on it. Files put back by an undo drop theirs as well.
    void dropPdfDetails();
    bool isDroppingDetails() const { return m_dropRow >= 0; }

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

    // A header click: sorts the list by this column. A long list is sorted
    // in the background and shown in its new order in one step; the list
    // stays as it was until then, and a sort overtaken by an edit starts
    // again. The rowsAboutToBeReordered() and rowsReordered() signals
    // bracket the step, so that a view can keep its selection on the same
    // files without moving a persistent index per row.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Sorts the list again the way the last header click did.
    void resort();
    bool isSorting() const { return bool(m_job); }
    // Lists shorter than this are sorted at once, on the calling thread.
    void setBackgroundSortFrom(int rows) { m_backgroundSortFrom = rows; }

    // Removes the given rows (any order, repeats ignored), a block at a time.
    std::vector<FileBlock> removeRowList(const QList<int> &rows);
    // Removes row ranges (ascending, apart) and hands their files over, each
    // block with the row it started at. A few blocks go as row removals;
    // many at once as one reset, which costs the views one pass instead of
    // one a block.
    std::vector<FileBlock> removeRanges(const QList<RowRange> &ranges);
    // Puts blocks back at their rows (ascending, as removeRanges() gave
    // them; files listed meanwhile are left out), as row insertions.
    // Returns the ranges they are at now.
    QList<RowRange> insertBlocks(std::vector<FileBlock> blocks);
    // Counts the files appended, so that insertBlocks() need not look up
    // files that cannot have been listed again meanwhile.
    quint64 appendedCount() const { return m_appended; }
    QList<RowRange> insertBlocks(std::vector<FileBlock> blocks, quint64 appendedSince);
    // How many blocks removeRanges() and insertBlocks() announce one by one.
    static constexpr int kMaxBlockSignals = 32;
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

Q_SIGNALS:
    // The tally changed.
    void tallyChanged();
    // A sort started or ended.
    void sortingChanged(bool sorting);
    // Before and after a sort shows its new order: the file at row r
    // before is at row newRows[r] after.
    void rowsAboutToBeReordered();
    void rowsReordered(const std::vector<int> &newRows);
    // Every listed PDF's page details read under an older colour rule are gone.
    void pdfDetailsDropped();

private:
    struct SortJob;
    // Every edit of the list makes a running sort stale; one that moves
    // rows sends a dropping of details back to the first row.
    void edited(bool rowsStay = false)
    {
        ++m_generation;
        if (!rowsStay)
            ++m_reshaped;
    }
    void startDrop();
    void dropSlice();
    void sortNow();
    void gatherSortData(const std::shared_ptr<SortJob> &job);
    void sortGathered(const std::shared_ptr<SortJob> &job);
    void applyOrder(const std::vector<int> &order);
    void endSort();

    // Shows the list in a new order (row i shows what row order[i] showed)
    // in one layout change; persistent indexes go with their rows.
    void reorderRows(const std::vector<int> &order);
    // The same, with the row each row goes to (newRow[order[i]] == i).
    void reorderRows(const std::vector<int> &order, const std::vector<int> &newRow);
    // Moves each block one place up or down, the block nearest the edge
    // first, until one is at the edge; the new rows of the moved files.
    QList<int> moveBlocks(const QList<int> &rows, bool up);

    FileList m_files;
    int m_rows = 0; // m_files.size(), at hand

    QList<SortDescriptor> m_sort;
    bool m_uncountedFirst = false;
    quint64 m_generation = 0;
    quint64 m_appended = 0;
    quint64 m_reshaped = 0;
    // Counts the colour rule's changes; the list takes it once dropped.
    quint64 m_colourEpoch = 0;
    // The row the dropping of PDF details goes on from; -1 when none is
    // under way. m_dropShape is m_reshaped when it got there.
    int m_dropRow = -1;
    quint64 m_dropShape = 0;
    std::shared_ptr<SortJob> m_job;
    int m_backgroundSortFrom = 20000;
};

} // namespace tallivo
