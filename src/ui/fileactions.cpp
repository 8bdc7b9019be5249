#include "fileactions.h"

#include "desktop.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "localpath.h"

#include <QAction>
#include <QSet>
#include <QStringList>
#include <QUrl>

namespace tallivo {

namespace {

// The folder a file is in, from the URL's own bytes.
QUrl folderUrl(const QUrl &file)
{
    QByteArray path = localPath(file);
    const qsizetype slash = path.lastIndexOf('/');
    path.truncate(slash > 0 ? slash : 1);
    return urlFromLocalPath(path);
}

} // namespace

FileActions::FileActions(const FileTableModel &model, const FileTableView &table, Desktop &desktop,
                         QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_table(table)
    , m_desktop(desktop)
{
}

void FileActions::setSelectionActions(const QList<QAction *> &actions)
{
    m_selectionActions = actions;
    // A removal or a reset may take the selection with it without a word
    // from the selection model.
    for (const auto signal : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(&m_model, signal, this, &FileActions::updateActions);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &FileActions::updateActions);
    connect(m_table.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FileActions::updateActions);
    updateActions();
}

void FileActions::updateActions()
{
    const QItemSelectionModel *selection = m_table.selectionModel();
    const bool any = selection && selection->hasSelection();
    for (QAction *action : std::as_const(m_selectionActions))
        action->setEnabled(any);
}

QList<QUrl> FileActions::selectedUrls() const
{
    QList<QUrl> urls;
    for (int row : m_table.selectedRows())
        urls.append(m_model.files().at(row)->filePath());
    return urls;
}

void FileActions::openSelected()
{
    // A file that cannot be opened does not stop the others.
    for (const QUrl &url : selectedUrls())
        m_desktop.openUrl(url);
}

void FileActions::showInFileManager()
{
    callFileManager(QStringLiteral("ShowItems"), selectedUrls());
}

void FileActions::showProperties()
{
    callFileManager(QStringLiteral("ShowItemProperties"), selectedUrls());
}

void FileActions::openRow(const QModelIndex &index)
{
    if (!index.isValid() || index.row() >= m_model.rowCount() ||
        index.column() == int(Column::Check))
        return;
    const QUrl url = m_model.files().at(index.row())->filePath();
    m_desktop.openUrl(url, [this, url](bool opened) {
        if (!opened)
            callFileManager(QStringLiteral("ShowItems"), {url});
    });
}

void FileActions::callFileManager(const QString &method, const QList<QUrl> &files)
{
    if (files.isEmpty())
        return;
    // Copied now: the files may be gone from the list by the time the answer
    // comes.
    QStringList uris;
    QList<QUrl> folders;
    QSet<QUrl> seen;
    for (const QUrl &file : files) {
        uris.append(file.toString(QUrl::FullyEncoded));
        const QUrl folder = folderUrl(file);
        if (!seen.contains(folder)) {
            seen.insert(folder);
            folders.append(folder);
        }
    }
    Desktop &desktop = m_desktop;
    desktop.callFileManager(method, uris, [&desktop, folders](bool answered) {
        if (answered)
            return;
        for (const QUrl &folder : folders)
            desktop.openUrl(folder);
    });
}

} // namespace tallivo
