#pragma once

#include "collectionrun.h"
#include "filelist.h"

#include <QDateTime>
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

// "Total Time Taken : mm:ss", or "hh:mm:ss" from an hour on; "" when either
// end is missing.
QString timeTakenString(const QDateTime &start, const QDateTime &end);

// Owns the collection run and shows it: it hands the run's batches to the
// model, which appends them, and keeps the busy state of the window's
// controls, the progress indicator and the status line.
class RunPresenter final : public QObject
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
        QLabel *message = nullptr;        // what the last command came to
        QToolButton *uncounted = nullptr; // how many files could not be counted
    };

    RunPresenter(FileTableModel &model, FileTableView &table, const Controls &controls,
                 QObject *parent = nullptr);
    // Ends any run first: its thread must not outlive the window.
    ~RunPresenter() override;

    CollectionRun &run() { return m_run; }
    // One more action that rests while a run appends to the list.
    void addIdleOnly(QAction *action);

    // What the run's signals come to, in this order.
    // The controls as a whole: busy while a run appends to the list. Going
    // busy, the keyboard focus goes to Cancel rather than to whatever
    // control comes after the disabled ones; it comes back to the table.
    void resetView(bool enable);
    // The indicator, Cancel and the time as in process.
    void processStarted();
    void progress(const RunProgress &progress);
    // The indicator stops; the totals, the time and the usage follow.
    void processStopped(const RunResult &result);

    bool isBusy() const { return m_busy; }
    // A short word under the totals on what a command came to; it stays
    // until the list changes or the next run starts. Empty hides it.
    void showMessage(const QString &text);
    QString message() const;

    // The texts beside the status line.
    static QString progressText(const RunProgress &progress);
    // Our own figure beside the selection's totals: the checked files and
    // their pages.
    static QString checkedText(int files, const PageTotals &pages);
    static QString uncountedText(int files);
    // What a run that ended came to, where the list alone does not say it:
    // how many of the files found a cancel left out, files passed over as
    // listed already, or a folder whose files all sit in subfolders that
    // were not walked. `added` is the rows it added.
    static QString resultText(const RunResult &result, qint64 added);

Q_SIGNALS:
    // A run began or ended; the list may be edited only when idle.
    void busyChanged(bool busy);
    // A run added files; the page totals show them.
    void totalsChanged();
    // A run ended, with this many files listed.
    void runFinished(int fileCount);

private:
    void beginRun();
    void takeFiles(const SharedFileBatch &batch);
    void endRun(const RunResult &result);
    void updatePageTotals();
    void updateControls();
    void updateStatusLine();
    void updateUncounted();
    // How far the run has got, with the files it has listed as counted.
    void showProgress();

    FileTableModel &m_model;
    FileTableView &m_table;
    Controls m_controls;
    CollectionRun m_run;
    bool m_busy = false;
    bool m_refocusTable = false;
    int m_added = 0; // rows the run under way has added
    RunProgress m_lastProgress;
    // Edits and selections are summed up once they are done, not at every
    // step of a large one.
    QTimer m_statusUpdate;
};

} // namespace tallivo
