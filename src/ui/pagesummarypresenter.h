#pragma once

#include "pagesummarydialog.h"
#include "pricesmodel.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QAction;

namespace tallivo {

class DetailsReader;
class Dialogs;
class FileTableModel;
class FileTableView;
class JobSummaryGatherer;
class RunPresenter;

// Opens the Page Summary window and keeps it current with the list or the
// selection, and has page details read only while something shows them: a
// details column of the table, or the summary.
class PageSummaryPresenter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageSummaryPresenter)
public:
    // The summary is a window of its own over `window`; `quit` and `cancel`
    // reach it from there.
    PageSummaryPresenter(FileTableModel &model, FileTableView &table, RunPresenter &presenter,
                         Dialogs &dialogs, QWidget *window, QAction *quit, QAction *cancel);

    // Once it has been opened.
    PageSummaryDialog *dialog() const { return m_dialog; }
    DetailsReader &detailsReader() const { return *m_detailsReader; }

    void show();
    // The folders the user added, which decide the jobs; unset, each file's
    // folder is a job.
    void setAddedFolders(std::function<QList<QByteArray>()> added);
    // The prices or the job settings changed.
    void settingsChanged();
    // The colour tolerance changed: PDFs' colours are read again. A count
    // under way may list files measured under the old one: once it is over
    // they are dropped again.
    void coloursChanged();

private:
    void update();
    // Groups the files in scope by job again, when amounts or the jobs are
    // shown.
    void updateJobs();
    void loadSettings();
    // Schedules an update of a shown summary; changes come in bursts.
    void changed();
    void updatePageDetails();

    FileTableModel &m_model;
    FileTableView &m_table;
    RunPresenter &m_presenter;
    Dialogs &m_dialogs;
    QWidget *m_window;
    QAction *m_quit;
    QAction *m_cancel;
    DetailsReader *m_detailsReader;
    QPointer<PageSummaryDialog> m_dialog;
    QTimer m_update;
    JobSummaryGatherer *m_jobs;
    std::function<QList<QByteArray>()> m_addedFolders;
    bool m_dropAfterRun = false;
    PriceSettings m_prices;
    bool m_jobPerSubfolder = false;
    // The files in scope or the settings changed since they were grouped.
    bool m_jobsDirty = true;
};

} // namespace tallivo
