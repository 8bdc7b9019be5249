#include "listeditor.h"

#include "appinfo.h"
#include "dialogs.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "listhistory.h"

namespace tallivo {

using CheckChange = FileTableModel::CheckChange;

ListEditor::ListEditor(FileTableModel &model, FileTableView &table, Dialogs &dialogs,
                       ListHistory &history, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_table(table)
    , m_dialogs(dialogs)
    , m_history(history)
{
}

void ListEditor::selectFirst()
{
    m_table.selectAnchorRow(0);
}

void ListEditor::checkSelected()
{
    m_model.setChecked(m_table.selectedRows(), CheckChange::Check);
}

void ListEditor::uncheckSelected()
{
    m_model.setChecked(m_table.selectedRows(), CheckChange::Uncheck);
}

void ListEditor::invertSelected()
{
    m_model.setChecked(m_table.selectedRows(), CheckChange::Toggle);
}

void ListEditor::checkAll()
{
    m_model.setAllChecked(CheckChange::Check);
}

void ListEditor::uncheckAll()
{
    m_model.setAllChecked(CheckChange::Uncheck);
}

void ListEditor::invertAll()
{
    m_model.setAllChecked(CheckChange::Toggle);
}

void ListEditor::removeSelected()
{
    const QList<std::pair<int, int>> ranges = m_table.selectedRowRanges();
    if (ranges.isEmpty())
        return;
    // The selection goes first, so that the rows go without it; then the
    // file after the first removed block is selected, if there is one.
    m_table.selectionModel()->clearSelection();
    m_history.removeRanges(ranges);
    const int next = ranges.first().first;
    if (next < m_model.rowCount())
        m_table.selectRowRanges({{next, next}}, next);
}

void ListEditor::removeAll()
{
    MessageRequest question;
    question.icon = QMessageBox::Critical;
    question.text = appTitle();
    question.informativeText = tr("Are you sure to remove all file(s)?");
    question.acceptText = tr("Yes");
    question.rejectText = tr("No");
    m_dialogs.showMessage(m_table.window(), question, [this](bool yes) {
        if (yes)
            m_history.clear(tr("Remove All"));
    });
}

void ListEditor::moveUp()
{
    const QList<int> rows = m_table.selectedRows();
    // Rows moved under a selection would each move an index of it.
    m_table.selectionModel()->clearSelection();
    showMoved(m_model.moveUp(rows), true);
}

void ListEditor::moveDown()
{
    const QList<int> rows = m_table.selectedRows();
    m_table.selectionModel()->clearSelection();
    showMoved(m_model.moveDown(rows), false);
}

void ListEditor::showMoved(const QList<int> &rows, bool up)
{
    // Nothing moved when the block nearest the edge was at the edge: then no
    // row stays selected.
    m_table.setFocus(Qt::OtherFocusReason);
    m_table.selectRows(rows);
    if (!rows.isEmpty())
        m_table.scrollTo(m_model.index(up ? rows.first() : rows.last(), 0));
}

} // namespace tallivo
