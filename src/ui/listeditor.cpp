#include "listeditor.h"

#include "dialogs.h"
#include "filetablemodel.h"
#include "statusline.h"
#include "syslogline.h"
#include "utilities.h"

#include <QItemSelection>
#include <QTableView>

#include <algorithm>
#include <exception>
#include <numeric>

namespace tallivo {

ListEditor::ListEditor(FileTableModel &model, QTableView &table, Dialogs &dialogs,
                       std::function<void()> refresh)
    : m_model(model)
    , m_table(table)
    , m_dialogs(dialogs)
    , m_refresh(std::move(refresh))
{
}

QList<int> ListEditor::selectedRows() const
{
    return selectedRowIndexes(m_table.selectionModel());
}

void ListEditor::selectRows(const QList<int> &rows)
{
    QItemSelection selection;
    const int lastColumn = m_model.columnCount() - 1;
    // Adjacent rows go in as one range, so a long block stays one range.
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) == rows.at(j) + 1)
            ++j;
        selection.select(m_model.index(rows.at(i), 0), m_model.index(rows.at(j), lastColumn));
        i = j + 1;
    }
    m_table.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void ListEditor::selectDeselectRemoveAll(int code)
{
    try {
        switch (code) {
        case SelectAll:
            m_table.selectAll();
            break;
        case SelectFirst:
            if (m_model.rowCount() > 0) {
                m_table.selectionModel()->setCurrentIndex(m_model.index(0, 0),
                                                          QItemSelectionModel::NoUpdate);
                selectRows({0});
            }
            break;
        case RemoveAll:
            confirmRemoveAll();
            break;
        case RemoveSelected:
            removeRows(selectedRows());
            m_refresh();
            break;
        default:
            break;
        }
    } catch (const std::exception &e) {
        logError("(selectDeselectRemoveAll:)", QString::fromLocal8Bit(e.what()));
    }
}

void ListEditor::confirmRemoveAll()
{
    AlertRequest alert;
    alert.style = AlertRequest::Critical;
    alert.text = getAppTitle();
    alert.informativeText = QStringLiteral("Are you sure to remove all file(s)?");
    alert.defaultButton = QStringLiteral("Yes");
    alert.alternateButton = QStringLiteral("No");
    m_dialogs.runAlert(m_table.window(), alert, [this](int answer) {
        if (answer == 1) {
            m_model.beginReload();
            m_model.files().clear();
            m_model.endReload();
            m_refresh();
        }
        m_table.viewport()->update();
    });
}

void ListEditor::removeRows(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    // The table keeps the row positions that still exist; they now show the
    // files that moved up into them.
    m_model.beginReload();
    m_model.files().removeRows(rows);
    m_model.endReload();
    QList<int> kept;
    for (int row : rows) {
        if (row < m_model.rowCount())
            kept.append(row);
    }
    selectRows(kept);
}

void ListEditor::removeFiles()
{
    try {
        const int before = m_model.files().size();
        removeRows(selectedRows());
        if (m_model.files().size() != before)
            m_refresh();
    } catch (const std::exception &e) {
        logError("(remove)", QString::fromLocal8Bit(e.what()));
    }
}

void ListEditor::check(const QList<int> &rows, int code)
{
    FileList &files = m_model.files();
    for (int row : rows) {
        FileItem *item = files.at(row);
        switch (code) {
        case Check:
            item->setChecked(true);
            break;
        case Uncheck:
            item->setChecked(false);
            break;
        case Invert:
            item->setChecked(!item->isChecked());
            break;
        default:
            return;
        }
    }
}

void ListEditor::checkUncheckInvertSelection(int code)
{
    try {
        check(selectedRows(), code);
    } catch (const std::exception &e) {
        logError("(checkUncheckInvertSelection:)", QString::fromLocal8Bit(e.what()));
    }
    m_model.checksChanged();
    m_refresh();
}

void ListEditor::checkUncheckInvertAll(int code)
{
    try {
        QList<int> all(m_model.rowCount());
        std::iota(all.begin(), all.end(), 0);
        check(all, code);
    } catch (const std::exception &e) {
        logError("(checkUncheckInvertAll:)", QString::fromLocal8Bit(e.what()));
    }
    m_model.checksChanged();
    m_refresh();
}

void ListEditor::moveDown()
{
    const QList<int> rows = selectedRows();
    QList<int> moved;
    const int last = m_model.rowCount() - 1;
    // Bottom-most first, so a block of rows moves as a block; a row already
    // at the bottom stops the whole move.
    m_model.reorder([&] {
        for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
            const int b = *it;
            if (b >= last)
                break;
            m_model.files().move(b + 1, b);
            moved.prepend(b + 1);
        }
    });
    m_table.setFocus(Qt::OtherFocusReason);
    selectRows(moved);
    if (!moved.isEmpty())
        m_table.scrollTo(m_model.index(moved.last(), 0));
}

void ListEditor::moveUp()
{
    const QList<int> rows = selectedRows();
    QList<int> moved;
    m_model.reorder([&] {
        for (int b : rows) {
            if (b <= 0)
                break;
            m_model.files().move(b - 1, b);
            moved.append(b - 1);
        }
    });
    m_table.setFocus(Qt::OtherFocusReason);
    selectRows(moved);
    if (!moved.isEmpty())
        m_table.scrollTo(m_model.index(moved.first(), 0));
}

} // namespace tallivo
