#include "tallivoappdelegate.h"

#include "customtableview.h"
#include "desktop.h"
#include "dialogs.h"
#include "exporter.h"
#include "exportname.h"
#include "fileactions.h"
#include "filetablemodel.h"
#include "importfilesdialog.h"
#include "listeditor.h"
#include "runarguments.h"
#include "segmentedcontrol.h"
#include "statusline.h"
#include "syslogline.h"
#include "utilities.h"
#include "windowtext.h"

#include "ui_MainWindow.h"

#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QToolButton>

#include <exception>

// Resources of a static library are registered by hand.
static void initResources()
{
    Q_INIT_RESOURCE(tallivo);
}

namespace tallivo {

namespace {

const char includeSubfoldersKey[] = "INCLUDESUBFOLDERS";

QSettings userSettings()
{
    return QSettings(QStringLiteral("Kelmarin"), QStringLiteral("Tallivo"));
}

} // namespace

TallivoAppDelegate::TallivoAppDelegate(std::unique_ptr<Dialogs> dialogs,
                                       std::unique_ptr<Desktop> desktop, QWidget *parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::MainWindow>())
    , m_dialogs(dialogs ? std::move(dialogs) : std::make_unique<WidgetDialogs>())
    , m_desktop(desktop ? std::move(desktop) : std::make_unique<SystemDesktop>())
{
    initResources();
    m_ui->setupUi(this);
    m_run = std::make_unique<CollectionRun>(m_files, *this);
    m_model = new FileTableModel(m_files, this);
    m_ui->mainTableView->setModel(m_model);
    m_editor = std::make_unique<ListEditor>(*m_model, *m_ui->mainTableView, *m_dialogs, [this] {
        resetView(true);
        updateTotalLabel();
    });
    m_fileActions = std::make_unique<FileActions>(*m_desktop);
    // Rows appended by a run are shown a batch at a time, not one by one.
    m_rowSync.setSingleShot(true);
    m_rowSync.setInterval(150);
    connect(&m_rowSync, &QTimer::timeout, m_model, &FileTableModel::syncRows);
    awakeFromNib();
}

TallivoAppDelegate::~TallivoAppDelegate()
{
    shutdownRun();
}

void TallivoAppDelegate::awakeFromNib()
{
    setWindowTitle(getAppTitle());
    setWindowIcon(QIcon(QStringLiteral(":/tallivo.svg")));

    CustomTableView *table = m_ui->mainTableView;
    m_filesContextMenu = new QMenu(this);
    m_filesContextMenu->setObjectName(QStringLiteral("filesContextMenu"));
    m_filesContextMenu->addActions(
        {m_ui->actionOpen, m_ui->actionShowInFolder, m_ui->actionProperties});
    m_filesContextMenu->addSeparator();
    m_filesContextMenu->addActions(
        {m_ui->actionCheckSelected, m_ui->actionUncheckSelected, m_ui->actionInvertSelected});
    m_filesContextMenu->addSeparator();
    m_filesContextMenu->addActions({m_ui->actionMoveUp, m_ui->actionMoveDown});
    m_filesContextMenu->addSeparator();
    m_filesContextMenu->addAction(m_ui->actionRemoveSelected);
    table->setContextMenu(m_filesContextMenu);

    QHeaderView *header = table->horizontalHeader();
    const QList<int> widths = {30, 250, 62, 84, 56, 148, 148, 148, 240};
    for (int column = 0; column < widths.size(); ++column)
        header->resizeSection(column, widths.at(column));
    header->setSectionResizeMode(FileTableModel::CheckColumn, QHeaderView::Fixed);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);

    buildSegments();
    connectCommands();
    resetView(true);
    renameMenuTitles(menuBar(), QStringLiteral(TALLIVO_NAME), getAppTitle());

    m_ui->actionIncludeSubfolders->setChecked(inculdeSubfolders());
    connect(table, &QAbstractItemView::doubleClicked, this, &TallivoAppDelegate::fileDoubleClicked);

    m_recentFolders.loadRecentFolders(userSettings());
    loadRecentFolders();

    m_ui->loadingIndicator->setVisible(false);
    m_ui->cancelBtn->setVisible(false);
    updateTimeTakenLabel();
    updateTotalLabel();
    table->setFocus();
}

void TallivoAppDelegate::buildSegments()
{
    SegmentedControl *commands = m_ui->filesFoldersSegmented;
    for (QAction *action :
         {m_ui->actionAddFiles, m_ui->actionRemoveSelected, m_ui->actionIncludeSubfolders,
          m_ui->actionImport, m_ui->actionExport, m_ui->actionRemoveAll})
        commands->addSegment(action);
    QToolButton *add = commands->segment(AddFilesSegment);
    auto *addMenu = new QMenu(add);
    addMenu->addActions({m_ui->actionAddFiles, m_ui->actionAddFolder});
    add->setMenu(addMenu);
    add->setPopupMode(QToolButton::MenuButtonPopup);

    SegmentedControl *help = m_ui->helpSegmented;
    help->addSegment(m_ui->actionWebsite);
    help->addSegment(m_ui->actionRateUs);
    help->setToolButtonStyle(Qt::ToolButtonIconOnly);
}

int TallivoAppDelegate::tagOf(QObject *sender) const
{
    return sender ? sender->property("tag").toInt() : 0;
}

void TallivoAppDelegate::connectCommands()
{
    auto on = [this](QAction *action, auto slot) {
        connect(action, &QAction::triggered, this, slot);
    };
    on(m_ui->actionAddFiles, [this] { filesFoldersSegmentedChanged(AddFilesSegment); });
    on(m_ui->actionAddFolder, &TallivoAppDelegate::addFolder);
    on(m_ui->actionRemoveSelected, [this] { filesFoldersSegmentedChanged(RemoveSelectedSegment); });
    on(m_ui->actionIncludeSubfolders,
       [this] { filesFoldersSegmentedChanged(IncludeSubfoldersSegment); });
    on(m_ui->actionImport, [this] { filesFoldersSegmentedChanged(ImportSegment); });
    on(m_ui->actionExport, [this] { filesFoldersSegmentedChanged(ExportSegment); });
    on(m_ui->actionRemoveAll, [this] { filesFoldersSegmentedChanged(RemoveAllSegment); });
    on(m_ui->actionWebsite, [this] { helpSegmentedChanged(WebsiteSegment); });
    on(m_ui->actionRateUs, [this] { helpSegmentedChanged(RateUsSegment); });
    on(m_ui->actionQuit, [] { QCoreApplication::quit(); });
    on(m_ui->actionCancel, &TallivoAppDelegate::cancelAction);
    connect(m_ui->cancelBtn, &QPushButton::clicked, this, &TallivoAppDelegate::cancelAction);
    on(m_ui->actionShowWindow, &TallivoAppDelegate::openAppAction);

    for (QAction *a : {m_ui->actionSelectAll, m_ui->actionSelectFirst})
        on(a, [this, a] { selectDeselectRemoveAll(tagOf(a)); });
    for (QAction *a :
         {m_ui->actionCheckSelected, m_ui->actionUncheckSelected, m_ui->actionInvertSelected})
        on(a, [this, a] { checkUncheckInvertSelection(tagOf(a)); });
    for (QAction *a : {m_ui->actionCheckAll, m_ui->actionUncheckAll, m_ui->actionInvertAll})
        on(a, [this, a] { checkUncheckInvertAll(tagOf(a)); });
    on(m_ui->actionMoveUp, &TallivoAppDelegate::moveUp);
    on(m_ui->actionMoveDown, &TallivoAppDelegate::moveDown);
    on(m_ui->actionOpen, &TallivoAppDelegate::openFileWithFinder);
    on(m_ui->actionShowInFolder, &TallivoAppDelegate::openFileEnclosingFolder);
    on(m_ui->actionProperties, &TallivoAppDelegate::getInfoFile);
    on(m_ui->actionAbout, [this] {
        AlertRequest about;
        about.style = AlertRequest::Information;
        about.text = QStringLiteral("%1 %2").arg(getAppTitle(), QStringLiteral(TALLIVO_VERSION));
        about.informativeText = tr("Counts the pages of TIFF and PDF files in bulk.");
        m_dialogs->runAlert(this, about, [](int) {});
    });

    CustomTableView *table = m_ui->mainTableView;
    connect(table, &CustomTableView::removeRequested, this, &TallivoAppDelegate::removeAction);
    connect(table, &CustomTableView::filesDropped, this, [this](const QList<QUrl> &urls) {
        const RunRequest request = requestFromDrop(urls, inculdeSubfolders());
        if (request.arguments.urls.isEmpty() || m_run->isActive())
            return;
        addRecentItem(request.folders);
        loadURLs(request.arguments);
    });
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TallivoAppDelegate::updateTotalLabel);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &TallivoAppDelegate::updateTotalLabel);
    connect(m_ui->recentFoldersPopup, &QComboBox::activated, this,
            &TallivoAppDelegate::recentFolderChanged);
}

void TallivoAppDelegate::setDidFinishLaunchingHandler(std::function<void()> handler)
{
    m_didFinishLaunching = std::move(handler);
}

void TallivoAppDelegate::applicationDidFinishLaunching()
{
    if (m_didFinishLaunching)
        m_didFinishLaunching();
}

bool TallivoAppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (hasVisibleWindows && isVisible())
        return false;
    openAppAction();
    return true;
}

bool TallivoAppDelegate::applicationShouldTerminate()
{
    QSettings settings = userSettings();
    m_recentFolders.saveRecentFolders(settings);
    return true;
}

void TallivoAppDelegate::shutdownRun()
{
    if (m_run)
        m_run->shutdown();
}

void TallivoAppDelegate::filesFoldersSegmentedChanged(int segment)
{
    SegmentedControl *segments = m_ui->filesFoldersSegmented;
    switch (segment) {
    case AddFilesSegment:
        addFiles();
        break;
    case RemoveSelectedSegment:
        selectDeselectRemoveAll(ListEditor::RemoveSelected);
        break;
    case IncludeSubfoldersSegment:
        setInculdeSubfolders(!inculdeSubfolders());
        break;
    case ImportSegment:
        importAction();
        break;
    case ExportSegment:
        exportAction();
        break;
    case RemoveAllSegment:
        selectDeselectRemoveAll(ListEditor::RemoveAll);
        break;
    default:
        return;
    }
    segments->setSelected(IncludeSubfoldersSegment, inculdeSubfolders());
}

void TallivoAppDelegate::helpSegmentedChanged(int segment)
{
    if (segment == WebsiteSegment)
        websiteAction();
    else if (segment == RateUsSegment)
        rateUs();
}

// --- adding files --------------------------------------------------------

void TallivoAppDelegate::addFiles()
{
    PanelRequest panel;
    panel.kind = PanelRequest::OpenFiles;
    panel.title = QStringLiteral("Select TIFF and PDF File(s):");
    panel.nameFilters = {tr("TIFF and PDF files (*.tif *.tiff *.pdf *.TIF *.TIFF *.PDF)")};
    // Folders are only walked with their subfolders, so the walk keeps the
    // panel's choice to the allowed types either way.
    const bool folders = inculdeSubfolders();
    m_dialogs->runPanel(this, panel, [this, panel, folders](int code, const QStringList &paths) {
        PanelRequest chosen = panel;
        chosen.kind = folders ? PanelRequest::OpenFolders : PanelRequest::OpenFiles;
        openPanelDidEnd(chosen, code, paths);
    });
}

void TallivoAppDelegate::addFolder()
{
    PanelRequest panel;
    panel.kind = PanelRequest::OpenFolders;
    panel.title = QStringLiteral("Select folder(s) contains TIFF and PDF File(s):");
    m_dialogs->runPanel(this, panel, [this, panel](int code, const QStringList &paths) {
        openPanelDidEnd(panel, code, paths);
    });
}

void TallivoAppDelegate::openPanelDidEnd(const PanelRequest &panel, int returnCode,
                                         const QStringList &paths)
{
    if (returnCode != 1 || m_run->isActive())
        return;
    const RunRequest request =
        requestFromPanel(paths, panel.kind == PanelRequest::OpenFolders, inculdeSubfolders());
    addRecentItem(request.folders);
    loadURLs(request.arguments);
}

void TallivoAppDelegate::cancelAction()
{
    m_run->cancelAction();
}

bool TallivoAppDelegate::inculdeSubfolders() const
{
    return userSettings().value(QLatin1String(includeSubfoldersKey), false).toBool();
}

void TallivoAppDelegate::setInculdeSubfolders(bool include)
{
    QSettings settings = userSettings();
    settings.setValue(QLatin1String(includeSubfoldersKey), include);
    settings.sync();
    m_ui->actionIncludeSubfolders->setChecked(include);
}

bool TallivoAppDelegate::loadURLs(const Arguments &arguments)
{
    return m_run->loadURLs(arguments);
}

void TallivoAppDelegate::updateTimeTakenLabel(const QString &text)
{
    m_ui->labelTimeTaken->setText(
        text.isNull() ? QStringLiteral("Total Time Taken : %1").arg(QStringLiteral("00:00"))
                      : text);
}

// --- the run's steps -----------------------------------------------------

void TallivoAppDelegate::resetView(bool enable)
{
    try {
        const bool any = !m_files.isEmpty();
        m_ui->mainTableView->setEnabled(enable);
        SegmentedControl *segments = m_ui->filesFoldersSegmented;
        segments->setSegmentEnabled(AddFilesSegment, enable);
        segments->setSegmentEnabled(RemoveSelectedSegment, enable && any);
        segments->setSegmentEnabled(IncludeSubfoldersSegment, enable);
        segments->setSegmentEnabled(ImportSegment, enable);
        segments->setSegmentEnabled(ExportSegment, enable && any);
        segments->setSegmentEnabled(RemoveAllSegment, enable && any);
        // The menus and the pop-up change the list too, so they rest while a
        // run appends to it.
        for (QAction *a : {m_ui->actionAddFolder, m_ui->actionSelectAll, m_ui->actionSelectFirst,
                           m_ui->actionCheckSelected, m_ui->actionUncheckSelected,
                           m_ui->actionInvertSelected, m_ui->actionCheckAll, m_ui->actionUncheckAll,
                           m_ui->actionInvertAll, m_ui->actionMoveUp, m_ui->actionMoveDown})
            a->setEnabled(enable);
        m_ui->recentFoldersPopup->setEnabled(enable);
        m_ui->actionCancel->setEnabled(!enable);
    } catch (const std::exception &e) {
        logError("(resetView:)", QString::fromLocal8Bit(e.what()));
    }
    update();
}

void TallivoAppDelegate::processStarted()
{
    m_ui->loadingIndicator->setVisible(true);
    m_ui->cancelBtn->setVisible(true);
    updateTimeTakenLabel(QStringLiteral("Total Time Taken : In Process..."));
}

void TallivoAppDelegate::updateTotalPagesLabel()
{
    m_ui->labelTotalTIFFPages->setText(totalPagesText(m_files));
    if (!m_rowSync.isActive())
        m_rowSync.start();
    Q_EMIT pageTotalsUpdated();
}

void TallivoAppDelegate::sortFiles()
{
    m_rowSync.stop();
    m_model->sortFiles();
}

void TallivoAppDelegate::processStopped()
{
    m_rowSync.stop();
    m_model->syncRows();
    m_ui->loadingIndicator->setVisible(false);
    m_ui->cancelBtn->setVisible(false);
    updateTotalLabel();
    updateTimeTakenLabel(timeTakenString(m_run->startTime(), m_run->endTime()));
    if (m_usageSink)
        m_usageSink(QStringLiteral("Output Files"), qint32(m_files.size()));
}

void TallivoAppDelegate::updateTotalLabel()
{
    m_ui->labelTotalTIFFPages->setText(totalPagesText(m_files));
    m_ui->labelTotalFiles->setText(totalFilesText(m_files, m_editor->selectedRows()));
}

// --- list editing --------------------------------------------------------

void TallivoAppDelegate::selectDeselectRemoveAll(int code)
{
    if (m_run->isActive() && code >= ListEditor::RemoveAll)
        return;
    m_editor->selectDeselectRemoveAll(code);
}

void TallivoAppDelegate::checkUncheckInvertSelection(int code)
{
    m_editor->checkUncheckInvertSelection(code);
}

void TallivoAppDelegate::checkUncheckInvertAll(int code)
{
    m_editor->checkUncheckInvertAll(code);
}

void TallivoAppDelegate::removeAction()
{
    if (m_run->isActive())
        return;
    m_editor->removeFiles();
}

void TallivoAppDelegate::moveUp()
{
    if (!m_run->isActive())
        m_editor->moveUp();
}

void TallivoAppDelegate::moveDown()
{
    if (!m_run->isActive())
        m_editor->moveDown();
}

void TallivoAppDelegate::emptyList()
{
    m_model->beginReload();
    m_files.clear();
    m_model->endReload();
    resetView(true);
    updateTotalLabel();
}

// --- file actions --------------------------------------------------------

QList<const FileItem *> TallivoAppDelegate::selectedItems() const
{
    QList<const FileItem *> items;
    for (int row : m_editor->selectedRows()) {
        if (row < m_files.size())
            items.append(m_files.at(row));
    }
    return items;
}

void TallivoAppDelegate::openFileWithFinder()
{
    m_fileActions->openFiles(selectedItems());
}

void TallivoAppDelegate::openFileEnclosingFolder()
{
    m_fileActions->openEnclodingFolder(selectedItems());
}

void TallivoAppDelegate::getInfoFile()
{
    m_fileActions->getInfo(selectedItems());
}

void TallivoAppDelegate::fileDoubleClicked(const QModelIndex &index)
{
    if (!index.isValid() || index.row() >= m_files.size())
        return;
    // A double-click on the check box only toggles it.
    if (index.column() == FileTableModel::CheckColumn)
        return;
    m_fileActions->fileDoubleClicked(m_files.at(index.row()));
}

// --- lists in and out ----------------------------------------------------

void TallivoAppDelegate::exportAction()
{
    PanelRequest panel;
    panel.kind = PanelRequest::SaveFile;
    panel.title = QStringLiteral("Export List To Tab Delimited Text File :");
    panel.nameFilters = {tr("Text files (*.txt)")};
    panel.defaultSuffix = QStringLiteral("txt");
    panel.suggestedName = suggestedExportName(QDateTime::currentDateTime(), QLocale());
    m_dialogs->runPanel(this, panel, [this](int code, const QStringList &paths) {
        if (code == 1 && !paths.isEmpty())
            exportList(paths.first());
    });
}

void TallivoAppDelegate::exportList(const QString &path)
{
    QString error;
    if (tallivo::exportList(m_files, path, &error))
        return;
    logError("(export)", error);
    // A list that was not written must not pass for exported.
    AlertRequest alert;
    alert.style = AlertRequest::Critical;
    alert.text = tr("The list was not exported.");
    alert.informativeText = tr("\"%1\" could not be written: %2").arg(path, error);
    m_dialogs->runAlert(this, alert, [](int) {});
}

void TallivoAppDelegate::importAction()
{
    if (m_run->isActive())
        return;
    try {
        if (!m_importFilesPanel) {
            m_importFilesPanel = new ImportFilesDialog(allowedFileTypes(), this);
            connect(m_importFilesPanel, &ImportFilesDialog::filesImported, this,
                    [this](const QList<QUrl> &urls) {
                        if (!urls.isEmpty())
                            loadURLs(Arguments{urls, false, inculdeSubfolders()});
                    });
        }
        m_importFilesPanel->setWindowModality(Qt::WindowModal);
        m_importFilesPanel->open();
    } catch (const std::exception &e) {
        logError("(openImportFilesPanel)", QString::fromLocal8Bit(e.what()));
    }
}

void TallivoAppDelegate::addRecentItem(const QStringList &folderPaths)
{
    m_recentFolders.addRecentItem(folderPaths);
    loadRecentFolders();
}

void TallivoAppDelegate::loadRecentFolders()
{
    QComboBox *popup = m_ui->recentFoldersPopup;
    const QSignalBlocker quiet(popup);
    popup->clear();
    const QStringList titles = m_recentFolders.popupTitles();
    for (int i = 0; i < titles.size(); ++i) {
        popup->addItem(titles.at(i));
        if (i > 0)
            popup->setItemData(i, titles.at(i), Qt::ToolTipRole);
    }
    popup->setCurrentIndex(0);
}

void TallivoAppDelegate::startFromRecent(const QStringList &folders)
{
    QList<QUrl> urls;
    for (const QString &folder : folders)
        urls.append(QUrl::fromLocalFile(folder));
    emptyList();
    loadURLs(Arguments{urls, true, inculdeSubfolders()});
}

void TallivoAppDelegate::recentFolderChanged(int index)
{
    // The list has one writer at a time: a run's list is left alone.
    if (index < 1 || m_run->isActive())
        return;
    try {
        const QString path = m_recentFolders.pathAtPopupIndex(index);
        if (path.isEmpty())
            return;
        QComboBox *popup = m_ui->recentFoldersPopup;
        if (RecentFolders::isFolderReadable(path)) {
            m_recentFolders.touch(path);
            loadRecentFolders();
            popup->setCurrentIndex(popup->findText(path));
            startFromRecent({path});
            return;
        }
        PanelRequest panel;
        panel.kind = PanelRequest::OpenFolders;
        panel.title = QStringLiteral("Choose folder(s):");
        panel.directory = path;
        m_dialogs->runPanel(this, panel, [this, path](int code, const QStringList &chosen) {
            if (code != 1 || chosen.isEmpty() || m_run->isActive())
                return;
            try {
                m_recentFolders.touch(path);
                const RunRequest request = requestFromPanel(chosen, true, inculdeSubfolders());
                addRecentItem(request.folders);
                QComboBox *popup = m_ui->recentFoldersPopup;
                if (!request.folders.isEmpty())
                    popup->setCurrentIndex(popup->findText(request.folders.first()));
                startFromRecent(request.folders);
            } catch (const std::exception &e) {
                logError("recentFolderChanged", QString::fromLocal8Bit(e.what()));
            }
        });
    } catch (const std::exception &e) {
        logError("recentFolderChanged", QString::fromLocal8Bit(e.what()));
    }
}

// --- help and window -----------------------------------------------------

QUrl TallivoAppDelegate::websiteUrl()
{
    return QUrl(QString::fromLatin1(MakerHomeURL));
}

void TallivoAppDelegate::websiteAction()
{
    m_desktop->openUrl(websiteUrl());
}

void TallivoAppDelegate::rateUs()
{
    if (m_rateUs)
        m_rateUs();
}

void TallivoAppDelegate::openAppAction()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

CustomTableView *TallivoAppDelegate::mainTableView() const
{
    return m_ui->mainTableView;
}

SegmentedControl *TallivoAppDelegate::filesFoldersSegmented() const
{
    return m_ui->filesFoldersSegmented;
}

SegmentedControl *TallivoAppDelegate::helpSegmented() const
{
    return m_ui->helpSegmented;
}

} // namespace tallivo
