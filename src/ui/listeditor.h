#pragma once

#include <QList>

#include <functional>

class QTableView;
class QWidget;

namespace tallivo {

class Dialogs;
class FileTableModel;

// The commands that edit the list through the table: selecting, checking,
// removing and moving rows. Each edit ends with `refresh`, which resets the
// window's controls and the status labels for the new list.
class ListEditor
{
public:
    enum SelectCode
    {
        SelectAll = 1,
        SelectFirst = 2,
        RemoveAll = 3,
        RemoveSelected = 4
    };
    enum CheckCode
    {
        Check = 1,
        Uncheck = 2,
        Invert = 3
    };

    ListEditor(FileTableModel &model, QTableView &table, Dialogs &dialogs,
               std::function<void()> refresh);

    void selectDeselectRemoveAll(int code);
    void checkUncheckInvertSelection(int code);
    void checkUncheckInvertAll(int code);
    // Removes the selected rows; refreshes only when something went.
    void removeFiles();
    void moveUp();
    void moveDown();

    QList<int> selectedRows() const;

private:
    void removeRows(const QList<int> &rows);
    void confirmRemoveAll();
    void check(const QList<int> &rows, int code);
    void selectRows(const QList<int> &rows);

    FileTableModel &m_model;
    QTableView &m_table;
    Dialogs &m_dialogs;
    std::function<void()> m_refresh;
};

} // namespace tallivo
