#include "intake.h"

#include "appinfo.h"
#include "collectionrun.h"
#include "dialogs.h"
#include "filetablemodel.h"
#include "importfilesdialog.h"
#include "iopool.h"
#include "listhistory.h"
#include "localpath.h"
#include "recentfolderscombo.h"
#include "uilogging.h"
#include "walk.h"

#include <QFile>
#include <QTimer>

namespace tallivo {

namespace {

const QString includeSubfoldersKey = QStringLiteral("INCLUDESUBFOLDERS");

// Paths from a file dialog, as URLs of their bytes.
QList<QUrl> urlsOf(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths) {
        if (!path.isEmpty())
            urls.append(urlFromLocalPath(QFile::encodeName(path)));
    }
    return urls;
}

} // namespace

Intake::Intake(FileTableModel &model, CollectionRun &run, RecentFoldersCombo &recent,
               Dialogs &dialogs, ListHistory &history, QWidget *window)
    : QObject(window)
    , m_model(model)
    , m_run(run)
    , m_recent(recent)
    , m_dialogs(dialogs)
    , m_history(history)
    , m_window(window)
    , m_includeSubfolders(userSettings().value(includeSubfoldersKey, false).toBool())
{
    // Out of the run's last step: the next run starts once it is over.
    connect(&m_run, &CollectionRun::finished, this,
            [this] { QTimer::singleShot(0, this, &Intake::startWaiting); });
    // Folders become recent as the run enters them: whether a dropped path
    // is a folder is for the run's threads to find out, not the window's.
    connect(&m_run, &CollectionRun::topFolderEntered, this, [this](const QUrl &folder) {
        const QByteArray path = localPath(folder);
        // A folder the user added is a job of the bill, however it came.
        m_model.addFolder(path);
        if (!m_rememberFolders)
            return;
        const QString stored = RecentFolders::storedText(path);
        m_recent.add({stored});
        if (std::exchange(m_showFirstFolder, false))
            m_recent.showFolder(stored);
    });
}

void Intake::setIncludeSubfolders(bool include)
{
    if (include == m_includeSubfolders)
        return;
    m_includeSubfolders = include;
    QSettings settings = userSettings();
    settings.setValue(includeSubfoldersKey, include);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qCWarning(lcUi) << "The include-subfolders setting was not stored:" << settings.status();
    Q_EMIT includeSubfoldersChanged(include);
}

bool Intake::isIdle() const
{
    // One writer at a time: a run's list is left alone until it ends.
    if (!m_run.isActive())
        return true;
    qCDebug(lcUi) << "Refused while a run is active";
    return false;
}

void Intake::addFiles()
{
    if (!isIdle())
        return;
    FileDialogRequest request;
    request.mode = FileDialogRequest::OpenFiles;
    request.caption = tr("Select TIFF and PDF File(s):");
    request.nameFilters = {tr("TIFF and PDF files (*.tif *.tiff *.pdf *.TIF *.TIFF *.PDF)")};
    const bool walk = m_includeSubfolders;
    m_dialogs.chooseFiles(m_window, request,
                          [this, walk](const QStringList &paths) { addUrls(urlsOf(paths), walk); });
}

void Intake::addFolders()
{
    if (!isIdle())
        return;
    FileDialogRequest request;
    request.mode = FileDialogRequest::OpenFolders;
    request.caption = tr("Select folder(s) contains TIFF and PDF File(s):");
    m_dialogs.chooseFiles(m_window, request,
                          [this](const QStringList &paths) { addUrls(urlsOf(paths), true); });
}

void Intake::addDropped(const QList<QUrl> &urls)
{
    addUrls(urls, true);
}

void Intake::addLaunched(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return;
    if (m_run.isActive()) {
        m_waiting.append(urls);
        return;
    }
    addUrls(urls, true);
}

void Intake::startWaiting()
{
    while (!m_waiting.isEmpty() && !m_run.isActive())
        addUrls(m_waiting.takeFirst(), true);
}

void Intake::addUrls(const QList<QUrl> &urls, bool walkFolders, bool replaceList)
{
    if (!isIdle())
        return;
    Arguments arguments{{}, walkFolders, m_includeSubfolders};
    for (const QUrl &url : urls) {
        // Only local files can be counted; other schemes are left out. A
        // drop, a pick and a command line name one file by one path text.
        const QByteArray path = localPath(url);
        if (!path.isEmpty())
            arguments.urls.append(urlFromLocalPath(tidyPath(path)));
    }
    if (arguments.urls.isEmpty())
        return;
    start(arguments, replaceList, walkFolders);
}

void Intake::importList()
{
    if (!isIdle())
        return;
    if (!m_importDialog) {
        m_importDialog = new ImportFilesDialog(m_dialogs, m_window);
        connect(m_importDialog, &ImportFilesDialog::filesImported, this,
                [this](const QList<QUrl> &urls) {
                    if (isIdle())
                        start(Arguments{urls, false, m_includeSubfolders});
                });
    }
    m_importDialog->open();
}

ImportFilesDialog *Intake::importDialog() const
{
    return m_importDialog;
}

void Intake::openRecent(const QString &folder)
{
    if (folder.isEmpty() || !isIdle())
        return;
    // The folder may be on a share that no longer answers: asked off the
    // window's thread, and whatever was started meanwhile goes first.
    runOnIoPool(
        this, [folder] { return RecentFolders::isFolderReadable(folder); },
        [this, folder](bool readable) {
            if (isIdle())
                openCheckedRecent(folder, readable);
        });
}

void Intake::openCheckedRecent(const QString &folder, bool readable)
{
    if (readable) {
        m_recent.touch(folder);
        m_recent.showFolder(folder);
        start(Arguments{{urlFromLocalPath(RecentFolders::folderPath(folder))},
                        true,
                        m_includeSubfolders},
              true);
        return;
    }
    // The pop-up shows no folder that is not there, also once the dialog is
    // cancelled.
    m_recent.showCaption();
    FileDialogRequest request;
    request.mode = FileDialogRequest::OpenFolders;
    request.caption = tr("Choose folder(s):");
    request.directory = folder;
    request.canCreateFolders = false;
    request.note = tr("The folder \u201c%1\u201d is missing or cannot be read. Choose the "
                      "folders to count in its place. File > Recent Folders can remove missing "
                      "folders from the list.")
                       .arg(folder);
    m_dialogs.chooseFiles(m_window, request, [this, folder](const QStringList &chosen) {
        if (!isIdle())
            return;
        // The folder that has gone stays listed, just below the ones chosen.
        m_recent.touch(folder);
        addUrls(urlsOf(chosen), true, true);
    });
}

void Intake::start(const Arguments &arguments, bool replaceList, bool rememberFolders)
{
    m_rememberFolders = rememberFolders;
    // A list of folders that replaces the list is what the pop-up shows.
    m_showFirstFolder = rememberFolders && replaceList;
    if (replaceList)
        m_history.clear(tr("Open Recent Folder"));
    m_run.start(arguments, m_model.files().pathKeys());
}

} // namespace tallivo
