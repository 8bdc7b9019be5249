#include "listhistory.h"

#include "filetablemodel.h"
#include "filetableview.h"

#include <QAction>
#include <QUndoCommand>

namespace tallivo {

namespace {

// Takes ranges of rows off the list and keeps their files, moved, not
// copied, to put them back at their rows on undo. Redo finds them again by
// identity: where undo put them, or wherever a sort or move took them since.
class RemoveRowsCommand final : public QUndoCommand
{
public:
    RemoveRowsCommand(FileTableModel &model, FileTableView &table, QList<RowRange> ranges)
        : QUndoCommand(ListHistory::tr("Remove"))
        , m_model(model)
        , m_table(table)
        , m_ranges(std::move(ranges))
    {
    }

    void redo() override
    {
        if (!m_first)
            m_ranges = rowsOfPlaced();
        m_first = false;
        m_placed.clear();
        m_removed = m_model.removeRanges(m_ranges);
        m_appendedAt = m_model.appendedCount();
    }

    void undo() override
    {
        m_table.selectionModel()->clearSelection();
        m_ranges = m_model.insertBlocks(std::move(m_removed), m_appendedAt);
        m_removed.clear();
        // Files listed again meanwhile stayed where they were and were let
        // go; those put back are listed in order in the ranges.
        std::vector<const FileItem *> placed;
        for (const auto &[first, last] : std::as_const(m_ranges)) {
            for (int row = first; row <= last; ++row)
                placed.push_back(m_model.files().at(row));
        }
        m_placed = std::move(placed);
        if (m_ranges.isEmpty())
            return;
        m_table.selectRowRanges(m_ranges, m_ranges.first().first);
        m_table.scrollTo(m_model.index(m_ranges.first().first, 0));
    }

private:
    // The rows of the files undo put back, ascending, as ranges.
    QList<RowRange> rowsOfPlaced() const
    {
        const FileList &files = m_model.files();
        size_t i = 0;
        bool inPlace = true;
        for (const auto &[first, last] : std::as_const(m_ranges)) {
            for (int row = first; row <= last && inPlace; ++row, ++i)
                inPlace = row < files.size() && i < m_placed.size() && files.at(row) == m_placed[i];
        }
        if (inPlace && i == m_placed.size())
            return m_ranges;
        // A sort or a move took them elsewhere: one pass over the list.
        QSet<const FileItem *> wanted(m_placed.cbegin(), m_placed.cend());
        QList<RowRange> ranges;
        for (int row = 0; row < files.size(); ++row) {
            if (!wanted.contains(files.at(row)))
                continue;
            if (!ranges.isEmpty() && ranges.last().second + 1 == row)
                ranges.last().second = row;
            else
                ranges.append({row, row});
        }
        return ranges;
    }

    FileTableModel &m_model;
    FileTableView &m_table;
    QList<RowRange> m_ranges; // ascending, apart
    std::vector<FileBlock> m_removed;
    // Files appended to the list before the removal: none of the removed
    // ones can be listed again unless more were appended since.
    quint64 m_appendedAt = 0;
    // After undo: the files put back, in list order.
    std::vector<const FileItem *> m_placed;
    bool m_first = true;
};

// The list and the one it replaced trade places at every undo and redo.
class SwapListCommand final : public QUndoCommand
{
public:
    SwapListCommand(FileTableModel &model, const QString &text)
        : QUndoCommand(text)
        , m_model(model)
    {
    }
    void redo() override { m_model.swapList(m_other); }
    void undo() override { m_model.swapList(m_other); }

private:
    FileTableModel &m_model;
    FileList m_other;
};

} // namespace

ListHistory::ListHistory(FileTableModel &model, FileTableView &table, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_table(table)
{
    m_stack.setUndoLimit(kDepth);
    connect(&m_stack, &QUndoStack::indexChanged, this, &ListHistory::updateActions);
}

ListHistory::~ListHistory()
{
    // The stack's last signals must not reach what is already gone.
    m_stack.disconnect(this);
}

void ListHistory::setActions(QAction *undo, QAction *redo)
{
    m_undo = undo;
    m_redo = redo;
    connect(undo, &QAction::triggered, this, &ListHistory::undo);
    connect(redo, &QAction::triggered, this, &ListHistory::redo);
    updateActions();
}

void ListHistory::setEnabled(bool enabled)
{
    m_enabled = enabled;
    updateActions();
}

void ListHistory::updateActions()
{
    if (m_undo) {
        m_undo->setEnabled(m_enabled && m_stack.canUndo());
        m_undo->setText(m_stack.canUndo() ? tr("&Undo %1").arg(m_stack.undoText()) : tr("&Undo"));
    }
    if (m_redo) {
        m_redo->setEnabled(m_enabled && m_stack.canRedo());
        m_redo->setText(m_stack.canRedo() ? tr("&Redo %1").arg(m_stack.redoText()) : tr("&Redo"));
    }
}

void ListHistory::removeRows(const QList<int> &rows)
{
    QList<RowRange> ranges;
    ranges.reserve(rows.size());
    for (int row : rows)
        ranges.append({row, row});
    removeRanges(ranges);
}

void ListHistory::removeRanges(const QList<RowRange> &ranges)
{
    QList<RowRange> within;
    for (const auto &[first, last] : ranges) {
        const int from = qMax(first, 0);
        const int to = qMin(last, m_model.rowCount() - 1);
        if (from <= to)
            within.append({from, to});
    }
    within = mergedRanges(std::move(within));
    if (!within.isEmpty())
        m_stack.push(new RemoveRowsCommand(m_model, m_table, std::move(within)));
}

void ListHistory::clear(const QString &text)
{
    // An empty list has nothing to bring back.
    if (m_model.rowCount() == 0) {
        m_model.clear();
        return;
    }
    m_stack.push(new SwapListCommand(m_model, text));
}

void ListHistory::undo()
{
    if (m_enabled)
        m_stack.undo();
}

void ListHistory::redo()
{
    if (m_enabled)
        m_stack.redo();
}

} // namespace tallivo
