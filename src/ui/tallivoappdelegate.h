#pragma once

#include "collectionrun.h"
#include "desktop.h"
#include "dialogs.h"
#include "filelist.h"
#include "recentfolders.h"

#include <QMainWindow>
#include <QModelIndex>
#include <QTimer>

#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}

class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace tallivo {

class CustomTableView;
class FileActions;
class FileTableModel;
class ImportFilesDialog;
class ListEditor;
class SegmentedControl;

// The one window: owns the list and the run over it, and wires the table,
// list editing, status line and file actions together.
class TallivoAppDelegate : public QMainWindow, public RunHost
{
    Q_OBJECT
public:
    // Command segments, in order.
    enum Segment
    {
        AddFilesSegment,
        RemoveSelectedSegment,
        IncludeSubfoldersSegment,
        ImportSegment,
        ExportSegment,
        RemoveAllSegment
    };
    enum HelpSegment
    {
        WebsiteSegment,
        RateUsSegment
    };
    using UsageSink = std::function<void(const QString &feature, qint32 totalFiles)>;

    // Null seams mean the real dialogs and desktop.
    explicit TallivoAppDelegate(std::unique_ptr<Dialogs> dialogs = {},
                                std::unique_ptr<Desktop> desktop = {}, QWidget *parent = nullptr);
    ~TallivoAppDelegate() override;

    // Each finished run reports "Output Files" with the size of the list.
    void setUsageSink(UsageSink sink) { m_usageSink = std::move(sink); }
    void setRateUsHandler(std::function<void()> handler) { m_rateUs = std::move(handler); }
    void setDidFinishLaunchingHandler(std::function<void()> handler);

    void applicationDidFinishLaunching();
    // A second launch asks to see the window; answers whether it acted.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // Stores the recent folders; the application may end at once.
    bool applicationShouldTerminate();
    // Ends any run and waits for its thread; the list stays as it is.
    void shutdownRun();

    void filesFoldersSegmentedChanged(int segment);
    void helpSegmentedChanged(int segment);

    void addFiles();
    void addFolder();
    void openPanelDidEnd(const PanelRequest &panel, int returnCode, const QStringList &paths);
    void cancelAction();
    bool inculdeSubfolders() const;
    void setInculdeSubfolders(bool include);
    // Starts a run; refused while one is active.
    bool loadURLs(const Arguments &arguments);
    void updateTimeTakenLabel(const QString &text = QString());
    void updateTotalLabel();

    void selectDeselectRemoveAll(int code);
    void checkUncheckInvertSelection(int code);
    void checkUncheckInvertAll(int code);
    void removeAction();
    void moveUp();
    void moveDown();

    void openFileWithFinder();
    void openFileEnclosingFolder();
    void getInfoFile();
    void fileDoubleClicked(const QModelIndex &index);

    void exportAction();
    void exportList(const QString &path);
    void importAction();
    void addRecentItem(const QStringList &folderPaths);
    void loadRecentFolders();
    void recentFolderChanged(int index);

    void websiteAction();
    void rateUs();
    void openAppAction();

    // RunHost: the steps a run performs on this thread.
    void resetView(bool enable) override;
    void processStarted() override;
    void updateTotalPagesLabel() override;
    void sortFiles() override;
    void processStopped() override;

    FileList &files() { return m_files; }
    CollectionRun &collectionRun() { return *m_run; }
    FileTableModel &model() { return *m_model; }
    CustomTableView *mainTableView() const;
    SegmentedControl *filesFoldersSegmented() const;
    SegmentedControl *helpSegmented() const;
    QMenu *filesContextMenu() const { return m_filesContextMenu; }
    const RecentFolders &recentFolders() const { return m_recentFolders; }
    ImportFilesDialog *importFilesPanel() const { return m_importFilesPanel; }
    static QUrl websiteUrl();

Q_SIGNALS:
    // The page totals label changed while a run counts.
    void pageTotalsUpdated();

private:
    void awakeFromNib();
    void buildSegments();
    void connectCommands();
    void emptyList();
    void startFromRecent(const QStringList &folders);
    QList<const FileItem *> selectedItems() const;
    int tagOf(QObject *sender) const;

    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<Desktop> m_desktop;
    FileList m_files;
    std::unique_ptr<CollectionRun> m_run;
    FileTableModel *m_model = nullptr;
    std::unique_ptr<ListEditor> m_editor;
    std::unique_ptr<FileActions> m_fileActions;
    QMenu *m_filesContextMenu = nullptr;
    ImportFilesDialog *m_importFilesPanel = nullptr;
    RecentFolders m_recentFolders;
    QTimer m_rowSync;
    UsageSink m_usageSink;
    std::function<void()> m_rateUs;
    std::function<void()> m_didFinishLaunching;
};

} // namespace tallivo
