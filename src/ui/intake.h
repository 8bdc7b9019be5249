#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace tallivo {

struct Arguments;
class CollectionRun;
class Dialogs;
class FileTableModel;
class ImportFilesDialog;
class ListHistory;
class RecentFoldersCombo;

// Where files come into the list: the add dialogs, drops, an imported list
// and the recent folders each start a run from here, and here alone a
// request is refused while a run is active. Owns the include-subfolders
// setting that every run is given.
class Intake final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Intake)
public:
    Intake(FileTableModel &model, CollectionRun &run, RecentFoldersCombo &recent, Dialogs &dialogs,
           ListHistory &history, QWidget *window);

    // The "INCLUDESUBFOLDERS" setting.
    bool includeSubfolders() const { return m_includeSubfolders; }
    void setIncludeSubfolders(bool include);

    // Files to count; with subfolders included they are walked like folders,
    // so they keep to the allowed types either way.
    void addFiles();
    void addFolders();
    // Files and folders dropped on the table, as URLs that keep their bytes;
    // always a folder walk, so plain files keep to the allowed types.
    void addDropped(const QList<QUrl> &urls);
    // Files and folders named on a command line, as a drop; while a run is
    // active they wait for its end instead of being refused.
    void addLaunched(const QList<QUrl> &urls);
    void importList();
    // A recent folder replaces the list; a folder that has gone asks for
    // another in its place.
    void openRecent(const QString &folder);

    ImportFilesDialog *importDialog() const;

Q_SIGNALS:
    void includeSubfoldersChanged(bool include);

private:
    bool isIdle() const;
    // Counts the local files and folders among the URLs; the folders are
    // remembered.
    void addUrls(const QList<QUrl> &urls, bool walkFolders, bool replaceList = false);
    void start(const Arguments &arguments, bool replaceList = false, bool rememberFolders = false);
    void startWaiting();
    void openCheckedRecent(const QString &folder, bool readable);

    FileTableModel &m_model;
    CollectionRun &m_run;
    // What the folders the next run enters are for.
    bool m_rememberFolders = false;
    bool m_showFirstFolder = false;
    RecentFoldersCombo &m_recent;
    Dialogs &m_dialogs;
    ListHistory &m_history;
    QWidget *m_window;
    QList<QList<QUrl>> m_waiting;
    QPointer<ImportFilesDialog> m_importDialog;
    bool m_includeSubfolders = false;
};

} // namespace tallivo
