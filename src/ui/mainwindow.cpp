#include "mainwindow.h"

#include "appinfo.h"
#include "buttonbar.h"
#include "desktop.h"
#include "detailsreader.h"
#include "dialogs.h"
#include "exporter.h"
#include "exportname.h"
#include "fileactions.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "intake.h"
#include "lastlistkeeper.h"
#include "listeditor.h"
#include "listhistory.h"
#include "pagesummarydialog.h"
#include "pdfworkers.h"
#include "pricesdialog.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"
#include "savefile.h"
#include "uilogging.h"

#include "ui_mainwindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QSet>
#include <QToolButton>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace tallivo {

void addMnemonics(QMenu *menu)
{
    const QList<QAction *> actions = menu->actions();
    QSet<QChar> taken;
    const auto mnemonic = [](const QString &text) -> QChar {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text.at(i) != QLatin1Char('&'))
                continue;
            if (text.at(i + 1) != QLatin1Char('&'))
                return text.at(i + 1).toLower();
            ++i; // "&&" is an ampersand
        }
        return {};
    };
    for (const QAction *action : actions) {
        const QChar key = mnemonic(action->text());
        if (!key.isNull())
            taken.insert(key);
    }
    for (QAction *action : actions) {
        const QString text = action->text();
        if (action->isSeparator() || text.isEmpty() || !mnemonic(text).isNull())
            continue;
        // The first letter no other entry has, preferring the starts of words.
        qsizetype pick = -1;
        for (int pass = 0; pass < 2 && pick < 0; ++pass) {
            for (qsizetype i = 0; i < text.size(); ++i) {
                const QChar c = text.at(i);
                const bool wordStart = i == 0 || text.at(i - 1).isSpace();
                if (c.isLetterOrNumber() && (pass == 1 || wordStart) &&
                    !taken.contains(c.toLower())) {
                    pick = i;
                    break;
                }
            }
        }
        if (pick < 0)
            continue;
        taken.insert(text.at(pick).toLower());
        action->setText(QString(text).insert(pick, QLatin1Char('&')));
    }
}

} // namespace tallivo

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
    qApp->removeEventFilter(this);
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
    controls.withFiles = {
        m_ui->actionSelectAll,       m_ui->actionSelectFirst,    m_ui->actionCheckSelected,
        m_ui->actionUncheckSelected, m_ui->actionInvertSelected, m_ui->actionCheckAll,
        m_ui->actionUncheckAll,      m_ui->actionInvertAll,      m_ui->actionMoveUp,
        m_ui->actionMoveDown,        m_ui->actionRemoveSelected, m_ui->actionRemoveAll,
        m_ui->actionExport,          m_ui->actionExportChecked};
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

    // Page details of files counted while they were off, read on request.
    m_detailsReader = new DetailsReader(*m_model, this);
    connect(m_detailsReader, &DetailsReader::progressChanged, this, [this] {
        if (m_pageSummary && m_pageSummary->isVisible())
            m_summaryUpdate.start();
    });
    connect(m_presenter, &RunPresenter::busyChanged, this, [this](bool busy) {
        if (m_pageSummary)
            m_pageSummary->setRunning(busy || m_detailsReader->isReading());
        if (!busy)
            updatePageDetails();
    });

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
    connect(m_lastList, &LastListKeeper::offered, this, &MainWindow::lastListOffered);
    connect(m_lastList, &LastListKeeper::settled, this, &MainWindow::lastListSettled);

    setupCommandBars();
    setupContextMenu();
    connectActions();
    table->setFocus();

    // The columns' menu in the menu bar too, for the keyboard.
    QMenu *columns = table->headerMenu();
    columns->setTitle(tr("&Columns"));
    m_ui->menuView->insertMenu(m_ui->actionUncountedFirst, columns);
    // Filled when it opens, after the table has filled it.
    connect(columns, &QMenu::aboutToShow, this, [columns] { addMnemonics(columns); });
    setupSortMenu();

    m_summaryUpdate.setSingleShot(true);
    m_summaryUpdate.setInterval(200);
    connect(&m_summaryUpdate, &QTimer::timeout, this, &MainWindow::updatePageSummary);
    const auto summaryChanged = [this] {
        if (m_pageSummary && m_pageSummary->isVisible() && !m_summaryUpdate.isActive())
            m_summaryUpdate.start();
    };
    connect(m_model, &FileTableModel::tallyChanged, this, summaryChanged);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, summaryChanged] {
                if (m_pageSummary && m_pageSummary->scope() == PageSummaryDialog::Scope::Selection)
                    summaryChanged();
            });
    // A sort moves other files under the selected rows.
    connect(m_model, &QAbstractItemModel::layoutChanged, this, summaryChanged);
    connect(table, &FileTableView::columnsShownChanged, this, &MainWindow::updatePageDetails);

    qApp->installEventFilter(this);
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

void MainWindow::setupSortMenu()
{
    FileTableView *table = m_ui->fileTable;
    auto *menu = new QMenu(tr("S&ort By"), this);
    menu->setObjectName(QStringLiteral("menuSortBy"));
    m_ui->menuView->insertMenu(m_ui->actionUncountedFirst, menu);
    // Sorting moves rows a run is appending to.
    m_presenter->addIdleOnly(menu->menuAction());
    // Filled as it opens: the columns shown, in their order, then the order.
    connect(menu, &QMenu::aboutToShow, this, [this, menu, table] {
        menu->clear();
        qDeleteAll(menu->findChildren<QActionGroup *>(Qt::FindDirectChildrenOnly));
        const QHeaderView *header = table->horizontalHeader();
        const int sorted = header->sortIndicatorSection();
        const Qt::SortOrder order = header->sortIndicatorOrder();
        auto *columns = new QActionGroup(menu);
        for (int visual = 0; visual < header->count(); ++visual) {
            const int column = header->logicalIndex(visual);
            if (column == int(Column::Check) || header->isSectionHidden(column))
                continue;
            QAction *entry =
                menu->addAction(m_model->headerData(column, Qt::Horizontal).toString());
            entry->setCheckable(true);
            entry->setChecked(column == sorted);
            entry->setActionGroup(columns);
            connect(entry, &QAction::triggered, this,
                    [this, column, order] { sortBy(column, order); });
        }
        menu->addSeparator();
        auto *orders = new QActionGroup(menu);
        for (const auto &[text, entryOrder] : {std::pair{tr("Ascending"), Qt::AscendingOrder},
                                               std::pair{tr("Descending"), Qt::DescendingOrder}}) {
            QAction *entry = menu->addAction(text);
            entry->setCheckable(true);
            entry->setChecked(sorted >= 0 && order == entryOrder);
            entry->setEnabled(sorted >= 0);
            entry->setActionGroup(orders);
            const Qt::SortOrder chosen = entryOrder;
            connect(entry, &QAction::triggered, this,
                    [this, sorted, chosen] { sortBy(sorted, chosen); });
        }
        addMnemonics(menu);
    });
}

void MainWindow::sortBy(int column, Qt::SortOrder order)
{
    if (column < 0 || m_presenter->isBusy())
        return;
    FileTableView *table = m_ui->fileTable;
    const QHeaderView *header = table->horizontalHeader();
    // What a click on the header does; the same indicator sorts again, as
    // rows moved by hand may have left that order.
    if (header->sortIndicatorSection() == column && header->sortIndicatorOrder() == order)
        m_model->sort(column, order);
    else
        table->sortByColumn(column, order);
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

    // The keyboard's other way to the context menu, besides the Menu key.
    auto *key = new QAction(this);
    key->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    key->setShortcutContext(Qt::WidgetShortcut);
    m_ui->fileTable->addAction(key);
    connect(key, &QAction::triggered, this, [this] {
        FileTableView *table = m_ui->fileTable;
        const QModelIndex current = table->currentIndex();
        QRect area = table->visualRect(current);
        if (!current.isValid() || !table->viewport()->rect().intersects(area))
            area = QRect(QPoint(0, 0), QSize(1, 1));
        const QPoint at = area.center();
        QContextMenuEvent event(QContextMenuEvent::Keyboard, at,
                                table->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(table->viewport(), &event);
    });
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
    on(m_ui->actionPageSummary, this, &MainWindow::showPageSummary);
    on(m_ui->actionPrices, this, &MainWindow::showPrices);
    on(m_ui->actionReadPageDetails, m_detailsReader, &DetailsReader::readMissing);

    on(m_ui->actionExport, this, [this] { exportList(false); });
    on(m_ui->actionExportChecked, this, [this] { exportList(true); });
    on(m_ui->actionWebsite, this, &MainWindow::openWebsite);
    on(m_ui->actionRateUs, this, &MainWindow::rateRequested);
    on(m_ui->actionAbout, this, &MainWindow::showAbout);
    on(m_ui->actionShowWindow, this, &MainWindow::bringToFront);
    on(m_ui->actionQuit, this, &MainWindow::requestQuit);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    if (quitFromDialog(watched, event))
        return true;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier)
        return QMainWindow::eventFilter(watched, event);
    // A key event travels up from the focus widget; it is looked at once,
    // where it starts.
    QWidget *focus = QApplication::focusWidget();
    if (watched != (focus ? focus : this) || window() != this ||
        (focus && focus->window() != this) || QApplication::activePopupWidget() ||
        !m_ui->actionCancel->isEnabled()) {
        if (type == QEvent::KeyPress)
            m_escapeTaken = false;
        return QMainWindow::eventFilter(watched, event);
    }
    if (type == QEvent::ShortcutOverride) {
        // Taken here, so no control keeps the key from the shortcut; the
        // key itself still reaches the control, so a menu bar lets go of
        // the focus it took.
        m_ui->actionCancel->trigger();
        m_escapeTaken = true;
        event->accept();
        return true;
    }
    if (!std::exchange(m_escapeTaken, false))
        m_ui->actionCancel->trigger();
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::quitFromDialog(QObject *watched, QEvent *event)
{
    // A window-modal dialog keeps the window's shortcuts from the keyboard.
    // The key is taken at the first widget of the dialog it reaches.
    const auto *key = static_cast<QKeyEvent *>(event);
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
        !m_ui->actionQuit->shortcuts().contains(QKeySequence(key->keyCombination())))
        return false;
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == this || static_cast<QWidget *>(watched)->window() != modal ||
        !modal->parentWidget() || modal->parentWidget()->window() != this || m_askingQuit)
        return false;
    event->accept();
    requestQuit();
    return true;
}

void MainWindow::start(const QList<QUrl> &urls)
{
    offerLastList();
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
    connect(dialog, &PricesDialog::settingsAccepted, this, [](const PriceSettings &prices) {
        QSettings settings = userSettings();
        prices.save(settings);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            qCWarning(lcUi) << "The prices were not stored:" << settings.status();
        PdfWorkers::shared().setColourMinArea(prices.effectiveColourMinArea());
    });
    dialog->open();
}

void MainWindow::showPageSummary()
{
    if (!m_pageSummary) {
        m_pageSummary = new PageSummaryDialog(*m_dialogs, this);
        m_pageSummary->setObjectName(QStringLiteral("pageSummary"));
        // A window of its own: without the action, Ctrl+Q there would do
        // nothing, and the quit would wait for a click on the main window.
        m_pageSummary->addAction(m_ui->actionQuit);
        connect(m_pageSummary, &PageSummaryDialog::scopeChanged, this,
                &MainWindow::updatePageSummary);
        connect(m_pageSummary, &QDialog::finished, this, &MainWindow::updatePageDetails);
        // Esc there cancels a count, or a reading of page details, as it
        // does in the window.
        connect(m_pageSummary, &PageSummaryDialog::cancelRequested, this, [this] {
            if (m_ui->actionCancel->isEnabled())
                m_ui->actionCancel->trigger();
            m_detailsReader->cancel();
        });
    }
    updatePageSummary();
    m_pageSummary->show();
    m_pageSummary->raise();
    m_pageSummary->activateWindow();
    updatePageDetails();
}

void MainWindow::updatePageSummary()
{
    m_summaryUpdate.stop();
    if (!m_pageSummary)
        return;
    int withoutDetails = 0;
    if (m_pageSummary->scope() == PageSummaryDialog::Scope::WholeList) {
        m_pageSummary->setSummary(m_model->pageTable());
        withoutDetails = m_model->withoutDetailsCount();
    } else {
        m_pageSummary->setSummary(
            m_model->pageTableOf(m_ui->fileTable->selectedRowsAnyOrder(), &withoutDetails));
    }
    const bool reading = m_detailsReader->isReading();
    m_pageSummary->setFilesWithoutDetails(withoutDetails, reading || m_presenter->isBusy());
    m_pageSummary->setRunning(reading || m_presenter->isBusy());
}

void MainWindow::updatePageDetails()
{
    const bool shown =
        m_ui->fileTable->showsPageDetails() || (m_pageSummary && m_pageSummary->isVisible());
    m_presenter->run().setPageDetails(shown ? PageDetails::Summary : PageDetails::None);
    // Files counted before get theirs now, or once the count is over.
    if (shown && !m_presenter->isBusy() && m_model->withoutDetailsCount() > 0)
        m_detailsReader->readMissing();
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
    // Nothing is left to look at: the window goes at once, however long
    // keeping the list takes. (No events are processed here: an answer or
    // a run's step arriving now must not change the list being kept.)
    hide();
    QSettings settings = userSettings();
    if (!m_ui->recentFolders->save(settings))
        qCWarning(lcUi) << "The recent folders were not stored:" << settings.status();
    m_presenter->run().shutdown();
    saveLastList();
}

void MainWindow::requestQuit()
{
    if (!m_presenter->isBusy() || m_quitting) {
        m_quitting = true;
        m_lastList->setQuitting();
        QCoreApplication::quit();
        return;
    }
    MessageRequest ask;
    ask.icon = QMessageBox::Question;
    ask.title = appTitle();
    ask.text = tr("Files are still being counted. Quit anyway?");
    ask.informativeText = tr("The files counted so far are kept for the next start; the "
                             "others are not counted.");
    ask.acceptText = tr("&Quit");
    ask.rejectText = tr("Cancel");
    m_askingQuit = true;
    m_dialogs->showMessage(this, ask, [this](bool accepted) {
        m_askingQuit = false;
        if (!accepted)
            return;
        m_quitting = true;
        m_lastList->setQuitting();
        QCoreApplication::quit();
    });
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_quitting || !m_presenter->isBusy())
        return QMainWindow::closeEvent(event);
    event->ignore();
    requestQuit();
}

QByteArray MainWindow::defaultLastListPath()
{
    const QString folder = appDataPath();
    if (folder.isEmpty())
        return {};
    return QFile::encodeName(folder + QStringLiteral("/LastList.bin"));
}

void MainWindow::setLastListPath(const QByteArray &path)
{
    m_lastList->setPath(path);
}

void MainWindow::setQuitPatience(std::chrono::milliseconds patience)
{
    m_lastList->setQuitPatience(patience);
}

bool MainWindow::saveLastList()
{
    return m_lastList->save();
}

void MainWindow::offerLastList()
{
    m_lastList->offer();
}

void MainWindow::openWebsite()
{
    m_desktop->openUrl(QUrl(QString::fromLatin1(MakerWebsite)));
}

void MainWindow::exportList(bool checkedOnly)
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::SaveFile;
    request.caption = tr("Export List To Tab Delimited Text File :");
    request.nameFilters = {tr("Text files (*.txt)")};
    request.defaultSuffix = QStringLiteral("txt");
    request.selectedFile = suggestedExportName(QDateTime::currentDateTime(), QLocale());
    m_dialogs->chooseFiles(this, request, [this, checkedOnly](const QStringList &paths) {
        const QString path = paths.first();
        // The rows are copied here, from the list as it is now; they are
        // formatted and written on the I/O pool a block at a time, as the
        // destination may be on a share.
        ExportCallbacks callbacks;
        auto rowsWritten = std::make_shared<qint64>(0);
        callbacks.progress = [this, rowsWritten](qint64 written, qint64 total) {
            *rowsWritten = written;
            m_ui->progressLabel->setText(
                tr("Exporting: %1 of %2 files")
                    .arg(QLocale().toString(written), QLocale().toString(total)));
        };
        callbacks.done = [this, path, rowsWritten](const QString &error) {
            m_ui->progressLabel->clear();
            if (error.isEmpty()) {
                const qint64 files = *rowsWritten;
                m_presenter->showMessage(
                    tr("Exported %1 to \u201c%2\u201d.")
                        .arg(files == 1 ? tr("1 file")
                                        : tr("%1 files").arg(QLocale().toString(files)),
                             QFileInfo(path).fileName()));
                Q_EMIT exported(path);
                return;
            }
            // A list that was not written must not pass for exported.
            MessageRequest alert;
            alert.icon = QMessageBox::Critical;
            alert.text = tr("The list was not exported.");
            alert.informativeText = tr("\"%1\" could not be written: %2").arg(path, error);
            m_dialogs->showMessage(this, alert);
        };
        exportInBackground(this, m_model->files(), QFile::encodeName(path), std::move(callbacks),
                           m_model, kExportRowsPerBlock,
                           checkedOnly ? ExportRows::Checked : ExportRows::All);
    });
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
