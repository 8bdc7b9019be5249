#include "runpresenter.h"

#include "filetablemodel.h"
#include "filetableview.h"

#include <QAbstractButton>
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QToolButton>

namespace tallivo {

namespace {

// Figures for people, in the one form the whole window uses.
QString number(qint64 value)
{
    return QLocale().toString(value);
}

QString pageTotalsText(const PageTotals &totals)
{
    return RunPresenter::tr("Total Pages TIFF : %1 PDF : %2")
        .arg(number(totals.tiffPages), number(totals.pdfPages));
}

QString fileTotalsText(int files, int selected, const PageTotals &totals)
{
    return RunPresenter::tr("%1 Total file(s); %2 file selected; Total page count of selected "
                            "TIFF file(s) : %3 PDF file(s) : %4")
        .arg(number(files), number(selected), number(totals.tiffPages), number(totals.pdfPages));
}

// While a run appends, the table can be scrolled and its rows selected, but
// no check box changes: every edit of an item goes through here.
class RunGuardDelegate final : public QStyledItemDelegate
{
public:
    RunGuardDelegate(const RunPresenter &presenter, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_presenter(&presenter)
    {
    }
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override
    {
        if (m_presenter && m_presenter->isBusy())
            return false;
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }

private:
    QPointer<const RunPresenter> m_presenter;
};

} // namespace

QString timeTakenString(const QDateTime &start, const QDateTime &end)
{
    if (!start.isValid() || !end.isValid())
        return {};
    const qint64 seconds = start.secsTo(end);
    const qint64 h = seconds / 3600;
    const qint64 m = (seconds % 3600) / 60;
    const qint64 s = seconds % 60;
    const QString time = h > 0 ? QString::asprintf("%02lld:%02lld:%02lld", h, m, s)
                               : QString::asprintf("%02lld:%02lld", m, s);
    return QStringLiteral("Total Time Taken : %1").arg(time);
}

RunPresenter::RunPresenter(FileTableModel &model, FileTableView &table, const Controls &controls,
                           QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_table(table)
    , m_controls(controls)
{
    connect(&m_run, &CollectionRun::started, this, &RunPresenter::beginRun);
    connect(&m_run, &CollectionRun::filesCounted, this, &RunPresenter::takeFiles);
    connect(&m_run, &CollectionRun::progress, this, &RunPresenter::progress);
    connect(&m_run, &CollectionRun::finished, this, &RunPresenter::endRun);
    connect(m_controls.cancel, &QAction::triggered, &m_run, &CollectionRun::cancel);
    connect(m_controls.cancelButton, &QAbstractButton::clicked, &m_run, &CollectionRun::cancel);

    // Edits change what the controls may do and what the status line says;
    // a run's additions are counted as they come and summed up at its end.
    m_statusUpdate.setSingleShot(true);
    m_statusUpdate.setInterval(0);
    connect(&m_statusUpdate, &QTimer::timeout, this, &RunPresenter::updateStatusLine);
    const auto listChanged = [this] {
        updateControls();
        if (!m_busy) {
            showMessage({});
            m_statusUpdate.start();
        } else {
            updatePageTotals();
        }
    };
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, listChanged);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, listChanged);
    connect(&m_model, &QAbstractItemModel::modelReset, this, listChanged);
    connect(&m_model, &QAbstractItemModel::dataChanged, &m_statusUpdate,
            qOverload<>(&QTimer::start));
    // A sort leaves the selection on its rows, which now hold other files.
    connect(&m_model, &QAbstractItemModel::layoutChanged, &m_statusUpdate,
            qOverload<>(&QTimer::start));
    connect(m_table.selectionModel(), &QItemSelectionModel::selectionChanged, &m_statusUpdate,
            qOverload<>(&QTimer::start));
    connect(&m_model, &FileTableModel::tallyChanged, this, &RunPresenter::updateUncounted);

    // The table stays usable for reading while a run appends to it.
    if (m_table.itemDelegate() &&
        m_table.itemDelegate()->metaObject() == &QStyledItemDelegate::staticMetaObject)
        m_table.setItemDelegate(new RunGuardDelegate(*this, &m_table));

    m_controls.message->setVisible(false);
    m_controls.busyIndicator->setVisible(false);
    m_controls.cancelButton->setVisible(false);
    m_controls.timeTaken->setText(tr("Total Time Taken : %1").arg(QStringLiteral("00:00")));
    m_controls.progress->clear();
    updateControls();
    updateStatusLine();
    updateUncounted();
}

RunPresenter::~RunPresenter()
{
    m_run.shutdown();
}

void RunPresenter::addIdleOnly(QAction *action)
{
    m_controls.idleOnly.append(action);
    updateControls();
}

void RunPresenter::beginRun()
{
    m_added = 0;
    m_lastProgress = {};
    // Cancel first, so that it can take the focus from the table.
    processStarted();
    resetView(false);
}

void RunPresenter::takeFiles(const SharedFileBatch &batch)
{
    // The model is the list's one writer; the batch stays as it is for
    // whoever else reads it.
    m_added += m_model.appendFiles(batch->copies());
    showProgress();
}

void RunPresenter::endRun(const RunResult &result)
{
    // Ordered the way the table is sorted, before the totals are read.
    const int added = std::exchange(m_added, 0);
    if (added > 0)
        m_model.resort();
    processStopped(result);
    resetView(true);
    showMessage(resultText(result, added));
}

void RunPresenter::updatePageTotals()
{
    // The file count grows with the page totals, not only at the end.
    updateStatusLine();
    Q_EMIT totalsChanged();
}

void RunPresenter::showMessage(const QString &text)
{
    m_controls.message->setText(text);
    m_controls.message->setVisible(!text.isEmpty());
}

QString RunPresenter::message() const
{
    return m_controls.message->text();
}

QString RunPresenter::resultText(const RunResult &result, qint64 added)
{
    const QLocale locale;
    if (result.cancelled) {
        // A list cut short must not pass for the whole folder.
        const qint64 found = result.found;
        const qint64 missed = qMax<qint64>(0, found - result.handedOver);
        if (found == 0)
            return tr("Cancelled before any file was found.");
        if (missed == 0)
            return found == 1 ? tr("Cancelled; the file found was counted.")
                              : tr("Cancelled; all %1 files found were counted.")
                                    .arg(locale.toString(found));
        if (found == 1)
            return tr("The file found was not counted: cancelled.");
        return (missed == 1 ? tr("%1 of %2 files found was not counted: cancelled.")
                            : tr("%1 of %2 files found were not counted: cancelled."))
            .arg(locale.toString(missed), locale.toString(found));
    }
    const SubfolderFiles &below = result.subfolderFiles;
    if (below.files > 0) {
        const QString count = below.complete ? locale.toString(below.files)
                                             : tr("at least %1").arg(locale.toString(below.files));
        return tr("No TIFF or PDF files here, but the subfolders hold %1. To count them, turn on "
                  "Subfolders (Ctrl+Shift+S) and add the folder again.")
            .arg(count);
    }
    const qint64 listed = result.alreadyListed;
    if (listed <= 0)
        return {};
    if (added <= 0) {
        return listed == 1 ? tr("Nothing was added: the file found is listed already.")
                           : tr("Nothing was added: the %1 files found are listed already.")
                                 .arg(locale.toString(listed));
    }
    return tr("%1 added; %2 listed already.")
        .arg(added == 1 ? tr("1 file") : tr("%1 files").arg(locale.toString(added)),
             locale.toString(listed));
}

void RunPresenter::updateControls()
{
    const bool idle = !m_busy;
    const bool any = !m_model.files().isEmpty();
    for (QAction *action : std::as_const(m_controls.idleOnly))
        action->setEnabled(idle);
    for (QAction *action : std::as_const(m_controls.withFiles))
        action->setEnabled(idle && any);
    for (QWidget *widget : std::as_const(m_controls.idleWidgets))
        widget->setEnabled(idle);
    m_controls.cancel->setEnabled(!idle);
    // A sort would move the rows a run is appending to.
    m_table.horizontalHeader()->setSectionsClickable(idle);
}

void RunPresenter::updateStatusLine()
{
    m_statusUpdate.stop();
    const FileList &files = m_model.files();
    // From the selection's ranges: the cost of a select-all is one range.
    const QList<RowRange> selected = m_table.selectedRowRanges();
    int count = 0;
    for (const auto &[first, last] : selected)
        count += last - first + 1;
    m_controls.pageTotals->setText(pageTotalsText(files.totals()));
    m_controls.fileTotals->setText(
        fileTotalsText(files.size(), count, files.totalsOf(selected)) + QStringLiteral("; ") +
        checkedText(int(m_model.tally().checkedFiles()), m_model.tally().checkedPages()));
}

void RunPresenter::updateUncounted()
{
    const int files = int(m_model.tally().uncounted());
    m_controls.uncounted->setText(uncountedText(files));
    m_controls.uncounted->setVisible(files > 0);
}

QString RunPresenter::checkedText(int files, const PageTotals &pages)
{
    const QString checked =
        files == 1 ? tr("1 file checked") : tr("%1 files checked").arg(number(files));
    return tr("%1; Total page count of checked TIFF file(s) : %2 PDF file(s) : %3")
        .arg(checked, number(pages.tiffPages), number(pages.pdfPages));
}

QString RunPresenter::uncountedText(int files)
{
    return files == 1 ? tr("1 file could not be counted")
                      : tr("%1 files could not be counted").arg(number(files));
}

QString RunPresenter::progressText(const RunProgress &progress)
{
    const QLocale locale;
    return tr("%1 files found, %2 counted")
        .arg(locale.toString(progress.found), locale.toString(progress.counted));
}

void RunPresenter::resetView(bool enable)
{
    const bool busy = !enable;
    const bool changed = busy != m_busy;
    QWidget *window = m_table.window();
    QWidget *focus = window->focusWidget();
    // The table gives up the focus while disabled; it gets it back after,
    // rather than leaving it on whatever control came next.
    if (busy && changed)
        m_refocusTable = focus == &m_table || !focus;
    m_busy = busy;
    updateControls();
    if (busy && changed && (!focus || focus != window->focusWidget() || !focus->isEnabled())) {
        // Whatever comes after the disabled controls (the Web Site button)
        // must not catch a Space meant for the table.
        QAbstractButton *cancel = m_controls.cancelButton;
        if (cancel->isVisible() && cancel->isEnabled())
            cancel->setFocus(Qt::OtherFocusReason);
        else
            window->setFocus(Qt::OtherFocusReason);
    }
    if (!busy && changed && m_refocusTable)
        m_table.setFocus(Qt::OtherFocusReason);
    if (changed)
        Q_EMIT busyChanged(busy);
}

void RunPresenter::progress(const RunProgress &progress)
{
    if (!m_busy)
        return;
    m_lastProgress = progress;
    showProgress();
}

void RunPresenter::showProgress()
{
    if (!m_busy)
        return;
    // Counted are the files the table lists: the run's batches may come
    // before or after its word on how far it has got, and the table must
    // never list more than the label says. Found is never less.
    RunProgress progress = m_lastProgress;
    progress.counted = m_added;
    progress.found = qMax(progress.found, progress.counted);
    QLabel *label = m_controls.progress;
    QString text = progressText(progress);
    if (!progress.folder.isEmpty()) {
        // The folder's own name matters most: cut in the middle.
        const QString prefix = text + QStringLiteral(" \u2013 ");
        const QFontMetrics metrics = label->fontMetrics();
        const int room = label->contentsRect().width() - metrics.horizontalAdvance(prefix);
        // Too narrow for any of the folder: the counts alone.
        if (room >= metrics.horizontalAdvance(QStringLiteral("/\u2026/xxxxxxxx")))
            text = prefix + metrics.elidedText(progress.folder, Qt::ElideMiddle, room);
    }
    label->setText(text);
    label->setToolTip(progress.folder);
}

void RunPresenter::processStarted()
{
    showMessage({});
    m_controls.busyIndicator->setVisible(true);
    m_controls.cancelButton->setVisible(true);
    m_controls.timeTaken->setText(tr("Total Time Taken : In Process..."));
}

void RunPresenter::processStopped(const RunResult &result)
{
    m_controls.busyIndicator->setVisible(false);
    m_controls.cancelButton->setVisible(false);
    m_controls.progress->clear();
    m_controls.progress->setToolTip({});
    updateStatusLine();
    m_controls.timeTaken->setText(timeTakenString(result.startTime, result.endTime));
    Q_EMIT runFinished(m_model.files().size());
}

} // namespace tallivo
