#include "mainwindow.h"

#include "appinfo.h"
#include "billingreporter.h"
#include "buttonbar.h"
#include "detailsreader.h"
#include "fileactions.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "intake.h"
#include "lastlistkeeper.h"
#include "listeditor.h"
#include "listexporter.h"
#include "listhistory.h"
#include "mnemonics.h"
#include "pagesummarypresenter.h"
#include "pdfworkers.h"
#include "pricesdialog.h"
#include "quitcontroller.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"
#include "sortmenu.h"
#include "uilogging.h"
#include "windowkeys.h"

#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QMenu>
#include <QToolButton>

// Resources of a static library are registered by hand.
static void initResources()
{
    Q_INIT_RESOURCE(tallivo);
}

namespace tallivo {

MainWindow::MainWindow(std::unique_ptr<Dialogs> dialogs, std::unique_ptr<Desktop> desktop,
                       QWidget *parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::MainWindow>())
    , m_dialogs(dialogs ? std::move(dialogs) : std::make_unique<WidgetDialogs>())
    , m_desktop(desktop ? std::move(desktop) : std::make_unique<SystemDesktop>())
{
    initResources();
    m_ui->setupUi(this);
    setupWindow();
}

MainWindow::~MainWindow()
{
    // The run's thread goes before the list it appends to.
    m_presenter->run().shutdown();
}

void MainWindow::setupWindow()
{
    setWindowTitle(appTitle());
    setWindowIcon(QIcon(QStringLiteral(":/tallivo.svg")));

    m_model = new FileTableModel(this);
    FileTableView *table = m_ui->fileTable;
    table->setModel(m_model);

    RunPresenter::Controls controls;
    controls.idleOnly = {m_ui->actionAddFiles,          m_ui->actionAddFolder,
                         m_ui->actionIncludeSubfolders, m_ui->actionImport,
                         m_ui->actionUncountedFirst,    m_ui->menuRecentFolders->menuAction()};
    // The commands that act on the list's files have nothing to act on in
    // an empty one.
    controls.withFiles = {m_ui->actionSelectAll,      m_ui->actionSelectFirst,
                          m_ui->actionCheckSelected,  m_ui->actionUncheckSelected,
                          m_ui->actionInvertSelected, m_ui->actionCheckAll,
                          m_ui->actionUncheckAll,     m_ui->actionInvertAll,
                          m_ui->actionMoveUp,         m_ui->actionMoveDown,
                          m_ui->actionRemoveSelected, m_ui->actionRemoveAll,
                          m_ui->actionExport,         m_ui->actionExportChecked,
                          m_ui->actionBillingReport,  m_ui->actionPrintBillingReport};
    // The table stays enabled during a run, for reading: the presenter keeps
    // its check boxes and its sort still.
    controls.idleWidgets = {m_ui->recentFolders, m_ui->uncountedButton};
    controls.cancel = m_ui->actionCancel;
    controls.busyIndicator = m_ui->busyIndicator;
    controls.cancelButton = m_ui->cancelButton;
    controls.pageTotals = m_ui->pageTotalsLabel;
    controls.fileTotals = m_ui->fileTotalsLabel;
    controls.timeTaken = m_ui->timeTakenLabel;
    controls.progress = m_ui->progressLabel;
    controls.message = m_ui->messageLabel;
    controls.uncounted = m_ui->uncountedButton;
    m_presenter = new RunPresenter(*m_model, *table, controls, this);

    m_summary = new PageSummaryPresenter(*m_model, *table, *m_presenter, *m_dialogs, this,
                                         m_ui->actionQuit, m_ui->actionCancel);
    m_history = new ListHistory(*m_model, *table, this);
    m_history->setActions(m_ui->actionUndo, m_ui->actionRedo);
    connect(m_presenter, &RunPresenter::busyChanged, m_history,
            [this](bool busy) { m_history->setEnabled(!busy); });

    m_ui->recentFolders->load(userSettings());
    PdfWorkers::shared().setColourMinArea(
        PriceSettings::load(userSettings()).effectiveColourMinArea());
    m_ui->recentFolders->setMenu(m_ui->menuRecentFolders,
                                 {m_ui->actionRemoveMissingRecent, m_ui->actionClearRecent});
    m_intake = new Intake(*m_model, m_presenter->run(), *m_ui->recentFolders, *m_dialogs,
                          *m_history, this);
    m_editor = new ListEditor(*m_model, *table, *m_dialogs, *m_history, this);
    m_fileActions = new FileActions(*m_model, *table, *m_desktop, this);
    m_lastList = new LastListKeeper(*m_model, *m_intake, *m_dialogs, this);
    m_exporter = new ListExporter(*m_model, *m_presenter, *m_dialogs, *m_ui->progressLabel, this);
    m_billing =
        new BillingReporter(*m_model, m_summary->detailsReader(), *m_presenter, *m_dialogs, this);
    m_summary->setAddedFolders([this] { return m_model->addedFolders(); });
    connect(m_billing, &BillingReporter::settingsChanged, m_summary,
            &PageSummaryPresenter::settingsChanged);
    m_quit = new QuitController(*m_presenter, *m_lastList, *m_ui->recentFolders, *m_dialogs, this);
    new WindowKeys(this, m_ui->actionCancel, m_ui->actionQuit, *m_quit);

    setupCommandBars();
    setupContextMenu();
    setupViewMenu();
    connectActions();
    table->setFocus();
}

void MainWindow::setupCommandBars()
{
    ButtonBar *commands = m_ui->commandBar;
    for (QAction *action :
         {m_ui->actionAddFiles, m_ui->actionRemoveSelected, m_ui->actionIncludeSubfolders,
          m_ui->actionImport, m_ui->actionExport, m_ui->actionRemoveAll})
        commands->addButton(action);
    QToolButton *add = commands->button(0);
    auto *addMenu = new QMenu(add);
    addMenu->addActions({m_ui->actionAddFiles, m_ui->actionAddFolder});
    add->setMenu(addMenu);
    add->setPopupMode(QToolButton::MenuButtonPopup);

    ButtonBar *help = m_ui->helpBar;
    help->addButton(m_ui->actionWebsite);
    help->addButton(m_ui->actionRateUs);
    help->setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void MainWindow::setupViewMenu()
{
    // The columns' menu in the menu bar too, for the keyboard.
    QMenu *columns = m_ui->fileTable->headerMenu();
    columns->setTitle(tr("&Columns"));
    m_ui->menuView->insertMenu(m_ui->actionUncountedFirst, columns);
    // Filled when it opens, after the table has filled it.
    connect(columns, &QMenu::aboutToShow, this, [columns] { addMnemonics(columns); });
    auto *sort = new SortMenu(*m_model, *m_ui->fileTable, *m_presenter, this);
    m_ui->menuView->insertMenu(m_ui->actionUncountedFirst, sort);
    // Sorting moves rows a run is appending to.
    m_presenter->addIdleOnly(sort->menuAction());
}

void MainWindow::setupContextMenu()
{
    auto *menu = new QMenu(this);
    menu->addActions({m_ui->actionOpen, m_ui->actionShowInFileManager, m_ui->actionProperties});
    menu->addSeparator();
    menu->addActions(
        {m_ui->actionCheckSelected, m_ui->actionUncheckSelected, m_ui->actionInvertSelected});
    menu->addSeparator();
    menu->addActions({m_ui->actionMoveUp, m_ui->actionMoveDown});
    menu->addSeparator();
    menu->addAction(m_ui->actionRemoveSelected);
    m_ui->fileTable->setContextMenu(menu);
}

void MainWindow::connectActions()
{
    const auto on = [](QAction *action, auto *receiver, auto slot) {
        connect(action, &QAction::triggered, receiver, slot);
    };
    Intake *intake = m_intake;
    on(m_ui->actionAddFiles, intake, &Intake::addFiles);
    on(m_ui->actionAddFolder, intake, &Intake::addFolders);
    on(m_ui->actionImport, intake, &Intake::importList);
    m_ui->actionIncludeSubfolders->setChecked(intake->includeSubfolders());
    connect(m_ui->actionIncludeSubfolders, &QAction::toggled, intake,
            &Intake::setIncludeSubfolders);
    connect(intake, &Intake::includeSubfoldersChanged, m_ui->actionIncludeSubfolders,
            &QAction::setChecked);
    connect(m_ui->fileTable, &FileTableView::filesDropped, intake, &Intake::addDropped);
    connect(m_ui->recentFolders, &RecentFoldersCombo::folderChosen, intake, &Intake::openRecent);

    ListEditor *editor = m_editor;
    on(m_ui->actionSelectAll, m_ui->fileTable, &QAbstractItemView::selectAll);
    on(m_ui->actionSelectFirst, editor, &ListEditor::selectFirst);
    on(m_ui->actionCheckSelected, editor, &ListEditor::checkSelected);
    on(m_ui->actionUncheckSelected, editor, &ListEditor::uncheckSelected);
    on(m_ui->actionInvertSelected, editor, &ListEditor::invertSelected);
    on(m_ui->actionCheckAll, editor, &ListEditor::checkAll);
    on(m_ui->actionUncheckAll, editor, &ListEditor::uncheckAll);
    on(m_ui->actionInvertAll, editor, &ListEditor::invertAll);
    on(m_ui->actionMoveUp, editor, &ListEditor::moveUp);
    on(m_ui->actionMoveDown, editor, &ListEditor::moveDown);
    on(m_ui->actionRemoveSelected, editor, &ListEditor::removeSelected);
    on(m_ui->actionRemoveAll, editor, &ListEditor::removeAll);
    // Through the action, which rests while a run appends to the list.
    connect(m_ui->fileTable, &FileTableView::removeRequested, m_ui->actionRemoveSelected,
            &QAction::trigger);

    FileActions *files = m_fileActions;
    on(m_ui->actionOpen, files, &FileActions::openSelected);
    on(m_ui->actionShowInFileManager, files, &FileActions::showInFileManager);
    on(m_ui->actionProperties, files, &FileActions::showProperties);
    connect(m_ui->fileTable, &QAbstractItemView::doubleClicked, files, &FileActions::openRow);
    files->setSelectionActions(
        {m_ui->actionOpen, m_ui->actionShowInFileManager, m_ui->actionProperties});

    on(m_ui->actionClearRecent, m_ui->recentFolders, &RecentFoldersCombo::clearFolders);
    on(m_ui->actionRemoveMissingRecent, m_ui->recentFolders, &RecentFoldersCombo::removeMissing);
    connect(m_ui->actionUncountedFirst, &QAction::toggled, m_model,
            &FileTableModel::setUncountedFirst);
    connect(m_ui->uncountedButton, &QToolButton::clicked, this, &MainWindow::showUncounted);
    on(m_ui->actionPageSummary, m_summary, &PageSummaryPresenter::show);
    on(m_ui->actionReadPageDetails, &m_summary->detailsReader(), &DetailsReader::readMissing);
    on(m_ui->actionPrices, this, &MainWindow::showPrices);

    on(m_ui->actionExport, m_exporter, &ListExporter::exportAll);
    on(m_ui->actionExportChecked, m_exporter, &ListExporter::exportChecked);
    on(m_ui->actionBillingReport, m_billing, &BillingReporter::saveReport);
    on(m_ui->actionPrintBillingReport, m_billing, &BillingReporter::printReport);
    on(m_ui->actionWebsite, this,
       [this] { m_desktop->openUrl(QUrl(QString::fromLatin1(MakerWebsite))); });
    on(m_ui->actionRateUs, this, &MainWindow::rateRequested);
    on(m_ui->actionAbout, this, &MainWindow::showAbout);
    on(m_ui->actionShowWindow, this, &MainWindow::bringToFront);
    on(m_ui->actionQuit, this, &MainWindow::requestQuit);
}

PageSummaryDialog *MainWindow::pageSummary() const
{
    return m_summary->dialog();
}

void MainWindow::start(const QList<QUrl> &urls)
{
    m_lastList->offer();
    openLaunched(urls);
}

void MainWindow::openLaunched(const QList<QUrl> &urls)
{
    m_lastList->addLaunched(urls);
}

void MainWindow::showUncounted()
{
    m_ui->actionUncountedFirst->setChecked(true);
    m_ui->fileTable->scrollToTop();
    m_ui->fileTable->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showPrices()
{
    auto *dialog = new PricesDialog(*m_dialogs, PriceSettings::load(userSettings()), this);
    dialog->setObjectName(QStringLiteral("prices"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &PricesDialog::settingsAccepted, this, [this](const PriceSettings &prices) {
        QSettings settings = userSettings();
        prices.save(settings);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            qCWarning(lcUi) << "The prices were not stored:" << settings.status();
        PdfWorkers &workers = PdfWorkers::shared();
        const double before = workers.colourMinArea();
        workers.setColourMinArea(prices.effectiveColourMinArea());
        if (workers.colourMinArea() != before)
            m_summary->coloursChanged();
        m_summary->settingsChanged();
    });
    dialog->open();
}

void MainWindow::bringToFront()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void MainWindow::prepareToQuit()
{
    m_quit->prepareToQuit();
}

void MainWindow::requestQuit()
{
    m_quit->requestQuit();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_quit->allowClose())
        return QMainWindow::closeEvent(event);
    event->ignore();
}

void MainWindow::showAbout()
{
    MessageRequest about;
    about.icon = QMessageBox::Information;
    about.text = QStringLiteral("%1 %2").arg(appTitle(), QStringLiteral(TALLIVO_VERSION));
    about.informativeText = tr("Counts the pages of TIFF and PDF files in bulk.");
    m_dialogs->showMessage(this, about);
}

} // namespace tallivo
