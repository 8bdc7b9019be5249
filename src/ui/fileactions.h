#pragma once

#include <QList>
#include <QObject>

class QAction;
class QModelIndex;
class QUrl;

namespace tallivo {

class Desktop;
class FileTableModel;
class FileTableView;

// Hands the selected files to the desktop: open them, show them in the file
// manager, show their properties. Nothing in the list changes.
class FileActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileActions)
public:
    FileActions(const FileTableModel &model, const FileTableView &table, Desktop &desktop,
                QObject *parent = nullptr);

    // These act on the selection: they rest while nothing is selected.
    void setSelectionActions(const QList<QAction *> &actions);

    void openSelected();
    void showInFileManager();
    void showProperties();
    // A double-click: opens the row's file, or shows it in the file manager
    // when it cannot be opened. Nothing for the check box column.
    void openRow(const QModelIndex &index);

private:
    QList<QUrl> selectedUrls() const;
    // Asks the file manager; when none answers, opens the containing folders.
    void callFileManager(const QString &method, const QList<QUrl> &files);

    void updateActions();

    const FileTableModel &m_model;
    const FileTableView &m_table;
    Desktop &m_desktop;
    QList<QAction *> m_selectionActions;
};

} // namespace tallivo
