#pragma once

#include <QObject>

namespace tallivo {

class Dialogs;
class FileTableModel;
class FileTableView;
class ListHistory;

// The Edit menu's commands: they check, remove and move the rows selected in
// the table, or all rows, and set the selection that follows.
class ListEditor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListEditor)
public:
    // Removals go through `history`, so they can be undone.
    ListEditor(FileTableModel &model, FileTableView &table, Dialogs &dialogs, ListHistory &history,
               QObject *parent = nullptr);

    void selectFirst();
    void checkSelected();
    void uncheckSelected();
    void invertSelected();
    void checkAll();
    void uncheckAll();
    void invertAll();
    // Afterwards the file that followed the first removed block is
    // selected, or nothing when the block was at the end.
    void removeSelected();
    // Asks first.
    void removeAll();
    void moveUp();
    void moveDown();

private:
    void showMoved(const QList<int> &rows, bool up);

    FileTableModel &m_model;
    FileTableView &m_table;
    Dialogs &m_dialogs;
    ListHistory &m_history;
};

} // namespace tallivo
