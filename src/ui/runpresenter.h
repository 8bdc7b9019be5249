#pragma once

#include "collectionrun.h"

#include <QList>
#include <QObject>
#include <QTimer>

class QAbstractButton;
class QAction;
class QLabel;
class QToolButton;
class QWidget;

namespace tallivo {

class FileTableModel;
class FileTableView;

// Runs collections over the table's list and shows them: the busy state of
// the window's controls, the progress indicator and the status line. The
// run's one host.
class RunPresenter final : public QObject, public RunHost
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunPresenter)
public:
    struct Controls
    {
        QList<QAction *> idleOnly;  // rest while a run appends to the list
        QList<QAction *> withFiles; // rest, too, while the list is empty
        QList<QWidget *> idleWidgets;
        QAction *cancel = nullptr;
        QWidget *busyIndicator = nullptr;
        QAbstractButton *cancelButton = nullptr;
        QLabel *pageTotals = nullptr;
        QLabel *fileTotals = nullptr;
        QLabel *timeTaken = nullptr;
        QLabel *progress = nullptr;       // how far a run has got
        QToolButton *uncounted = nullptr; // how many files could not be counted
    };

    RunPresenter(FileTableModel &model, FileTableView &table, const Controls &controls,
                 QObject *parent = nullptr);
    // Ends any run first: its thread must not outlive the window.
    ~RunPresenter() override;

    CollectionRun &run() { return m_run; }

    // RunHost: the steps of a run, on this thread.
    void resetView(bool enable) override;
    void processStarted() override;
    void updateTotalPagesLabel() override;
    void sortFiles() override;
    void processStopped() override;
    void progress(const RunProgress &progress) override;

    bool isBusy() const { return m_busy; }
    // The texts beside the status line.
    static QString progressText(const RunProgress &progress);
    static QString uncountedText(int files);

Q_SIGNALS:
    // A run began or ended; the list may be edited only when idle.
    void busyChanged(bool busy);
    // A run added a file; the page totals show it.
    void totalsChanged();
    // A run ended, with this many files listed.
    void runFinished(int fileCount);

private:
    void updateControls();
    void updateStatusLine();
    void updateUncounted();

    FileTableModel &m_model;
    FileTableView &m_table;
    Controls m_controls;
    CollectionRun m_run;
    bool m_busy = false;
    bool m_refocusTable = false;
    // Rows a run appends are shown a batch at a time, not one by one.
    QTimer m_rowSync;
    // Edits and selections are summed up once they are done, not at every
    // step of a large one.
    QTimer m_statusUpdate;
};

} // namespace tallivo
