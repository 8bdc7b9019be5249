#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUndoStack>

#include <utility>

class QAction;

namespace tallivo {

class FileTableModel;
class FileTableView;

// Undo and redo for the commands that take files off the list: Remove,
// Remove All, and a recent folder that replaces the list. A long run's
// result is not lost by one slip.
class ListHistory final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListHistory)
public:
    // How many commands can be undone; each may hold a whole list.
    static constexpr int kDepth = 5;

    ListHistory(FileTableModel &model, FileTableView &table, QObject *parent = nullptr);
    ~ListHistory() override;

    // Shows the stack on these menu entries.
    void setActions(QAction *undo, QAction *redo);
    // Off while a run appends to the list.
    void setEnabled(bool enabled);

    // The rows go, and may come back at the same places.
    void removeRows(const QList<int> &rows);
    // The same for ranges of rows (first and last row, any order).
    void removeRanges(const QList<std::pair<int, int>> &ranges);
    // The list goes as a whole; `text` names the command ("Remove All").
    void clear(const QString &text);

    const QUndoStack &stack() const { return m_stack; }
    void undo();
    void redo();

private:
    void updateActions();

    FileTableModel &m_model;
    FileTableView &m_table;
    QUndoStack m_stack;
    // The window's actions may go first.
    QPointer<QAction> m_undo;
    QPointer<QAction> m_redo;
    bool m_enabled = true;
};

} // namespace tallivo
