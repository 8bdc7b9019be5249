#include "pagesummarypresenter.h"

#include "appinfo.h"
#include "detailsreader.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "jobsummary.h"
#include "runpresenter.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QSettings>

#include <utility>

namespace tallivo {

PageSummaryPresenter::PageSummaryPresenter(FileTableModel &model, FileTableView &table,
                                           RunPresenter &presenter, Dialogs &dialogs,
                                           QWidget *window, QAction *quit, QAction *cancel)
    : QObject(window)
    , m_model(model)
    , m_table(table)
    , m_presenter(presenter)
    , m_dialogs(dialogs)
    , m_window(window)
    , m_quit(quit)
    , m_cancel(cancel)
    // Page details of files counted while they were off, read on request.
    , m_detailsReader(new DetailsReader(model, this))
    , m_jobs(new JobSummaryGatherer(
          [this](std::shared_ptr<const JobSummary> summary) {
              if (m_dialog)
                  m_dialog->setJobSummary(std::move(summary));
          },
          this))
{
    // Not a restart of the timer at each step: a long reading would hold
    // every update back until its end.
    connect(m_detailsReader, &DetailsReader::progressChanged, this, &PageSummaryPresenter::changed);
    connect(&presenter, &RunPresenter::busyChanged, this, [this](bool busy) {
        if (m_dialog)
            m_dialog->setRunning(busy || m_detailsReader->isReading());
        if (!busy && std::exchange(m_dropAfterRun, false))
            m_detailsReader->coloursChanged();
        if (!busy)
            updatePageDetails();
    });

    m_update.setSingleShot(true);
    m_update.setInterval(200);
    connect(&m_update, &QTimer::timeout, this, &PageSummaryPresenter::update);
    connect(&model, &FileTableModel::tallyChanged, this, &PageSummaryPresenter::changed);
    connect(table.selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_dialog && m_dialog->scope() == PageSummaryDialog::Scope::Selection) {
            m_jobsDirty = true;
            changed();
        }
    });
    // A sort moves other files under the selected rows.
    connect(&model, &QAbstractItemModel::layoutChanged, this, &PageSummaryPresenter::changed);
    // The grouping by job reads rows between events: any change of the list
    // stops it before it reads a row that moved or went.
    const auto stopJobs = [this] {
        m_jobsDirty = true;
        m_jobs->cancel();
        changed();
    };
    connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this, stopJobs);
    connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, stopJobs);
    connect(&model, &QAbstractItemModel::rowsAboutToBeMoved, this, stopJobs);
    connect(&model, &QAbstractItemModel::layoutAboutToBeChanged, this, stopJobs);
    connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, stopJobs);
    connect(&model, &QAbstractItemModel::dataChanged, this, stopJobs);
    connect(&model, &FileTableModel::tallyChanged, this, stopJobs);
    connect(&table, &FileTableView::columnsShownChanged, this,
            &PageSummaryPresenter::updatePageDetails);
    // Colours read under an older tolerance are gone: read them again.
    connect(&model, &FileTableModel::pdfDetailsDropped, this,
            &PageSummaryPresenter::updatePageDetails);
}

void PageSummaryPresenter::show()
{
    if (!m_dialog) {
        m_dialog = new PageSummaryDialog(m_dialogs, m_window);
        m_dialog->setObjectName(QStringLiteral("pageSummary"));
        // A window of its own: without the action, Ctrl+Q there would do
        // nothing, and the quit would wait for a click on the main window.
        m_dialog->addAction(m_quit);
        connect(m_dialog, &PageSummaryDialog::scopeChanged, this, [this] {
            m_jobsDirty = true;
            update();
        });
        connect(m_dialog, &PageSummaryDialog::byJobChanged, this,
                &PageSummaryPresenter::updateJobs);
        connect(m_dialog, &QDialog::finished, this, [this] {
            m_jobs->cancel();
            updatePageDetails();
        });
        // Esc there cancels a count, or a reading of page details, as it
        // does in the window.
        connect(m_dialog, &PageSummaryDialog::cancelRequested, this, [this] {
            if (m_cancel->isEnabled())
                m_cancel->trigger();
            m_detailsReader->cancel();
        });
    }
    loadSettings();
    m_jobsDirty = true;
    update();
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
    updateJobs();
    updatePageDetails();
}

void PageSummaryPresenter::changed()
{
    if (m_dialog && m_dialog->isVisible() && !m_update.isActive())
        m_update.start();
}

void PageSummaryPresenter::update()
{
    m_update.stop();
    if (!m_dialog)
        return;
    const bool busy = m_detailsReader->isReading() || m_presenter.isBusy();
    const FileList &files = m_model.files();
    if (m_dialog->scope() == PageSummaryDialog::Scope::WholeList)
        m_dialog->setTally(files.tally(), busy);
    else
        m_dialog->setTally(files.tallyOf(m_table.selectedRowsAnyOrder()), busy);
    m_dialog->setRunning(busy);
    updateJobs();
}

void PageSummaryPresenter::setAddedFolders(std::function<QList<QByteArray>()> added)
{
    m_addedFolders = std::move(added);
}

void PageSummaryPresenter::loadSettings()
{
    const QSettings settings = userSettings();
    m_prices = PriceSettings::load(settings);
    m_jobPerSubfolder = settings.value(kJobPerSubfolderKey, false).toBool();
}

void PageSummaryPresenter::settingsChanged()
{
    if (!m_dialog || !m_dialog->isVisible())
        return;
    loadSettings();
    m_jobsDirty = true;
    update();
}

void PageSummaryPresenter::coloursChanged()
{
    m_detailsReader->coloursChanged();
    if (m_presenter.isBusy())
        m_dropAfterRun = true;
}

void PageSummaryPresenter::updateJobs()
{
    if (!m_dialog)
        return;
    const bool priced = !m_prices.prices.isEmpty();
    m_dialog->setPricing(priced, m_prices.currency);
    if (!m_dialog->isVisible() || (!priced && !m_dialog->isByJob())) {
        m_jobs->cancel();
        m_dialog->setJobSummary(nullptr);
        m_jobsDirty = true;
        return;
    }
    // Grouped, or being grouped, as things are now: a million files are not
    // read again for nothing.
    if (!m_jobsDirty)
        return;
    m_jobsDirty = false;
    std::optional<QList<int>> rows;
    if (m_dialog->scope() == PageSummaryDialog::Scope::Selection)
        rows = m_table.selectedRowsAnyOrder();
    const JobFolders jobs(m_addedFolders ? m_addedFolders() : QList<QByteArray>(),
                          m_jobPerSubfolder);
    m_jobs->start(m_model.files(), std::move(rows), jobs, m_prices.prices);
    if (m_jobs->isRunning())
        m_dialog->setJobSummaryPending();
}

void PageSummaryPresenter::updatePageDetails()
{
    const bool shown = m_table.showsPageDetails() || (m_dialog && m_dialog->isVisible());
    m_presenter.run().setPageDetails(shown ? PageDetails::Summary : PageDetails::None);
    // Files counted before get theirs now, or once the count is over.
    if (shown && !m_presenter.isBusy() && m_model.tally().withoutDetails() > 0)
        m_detailsReader->readMissing();
}

} // namespace tallivo
