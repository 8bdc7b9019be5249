#pragma once

#include "filelist.h"
#include "walk.h"

#include <QDateTime>
#include <QObject>

#include <atomic>
#include <memory>
#include <optional>

class QThread;

namespace tallivo {

// What a run asks of the window, always on the main thread and in this
// order: resetView(false), processStarted(), one updateTotalPagesLabel() per
// added file, sortFiles() when the list grew, processStopped(),
// resetView(true).
class RunHost
{
public:
    virtual ~RunHost() = default;
    virtual void resetView(bool enable) = 0;
    // The run has begun: spin the indicator, show the time as in process.
    virtual void processStarted() = 0;
    virtual void updateTotalPagesLabel() = 0;
    // The run added files: order the list the way the table is sorted.
    virtual void sortFiles() = 0;
    // The run is over: stop the indicator, refresh totals and time, count usage.
    virtual void processStopped() = 0;
};

// "Total Time Taken : mm:ss", or "hh:mm:ss" from an hour on; "" when either
// end is missing.
QString timeTakenString(const QDateTime &start, const QDateTime &end);

// One collection run at a time over a list owned by the caller. The walk and
// the counting happen off the main thread: a small pool counts the next files
// of the walk while the run thread hands finished items, strictly in walk
// order, to the main thread, which appends them.
class CollectionRun : public QObject
{
    Q_OBJECT
public:
    CollectionRun(FileList &files, RunHost &host, QObject *parent = nullptr);
    ~CollectionRun() override;

    // Starts a run on a thread of its own and returns at once. Refused (false)
    // while a run is active.
    bool loadURLs(std::optional<Arguments> arguments);

    // Stops the run before its next entry; anything not yet appended is dropped.
    void cancelAction() { m_isProcessing.store(false, std::memory_order_release); }
    bool isProcessing() const { return m_isProcessing.load(std::memory_order_acquire); }
    // True from loadURLs() until the run's last main-thread step has been done.
    bool isActive() const { return m_active; }

    QDateTime startTime() const { return m_startTime; }
    QDateTime endTime() const { return m_endTime; }

    // Cancels any run and waits for its thread, serving the calls it makes on
    // the main thread without passing them to the host. Call it before the
    // host goes away; safe to call more than once, also after the event loop
    // has ended.
    void shutdown();

    // How many files are counted at once (at least 1).
    static int countingThreads();

Q_SIGNALS:
    // Emitted on the main thread after the run's last step.
    void finished();

private:
    void run(std::optional<Arguments> arguments);
    bool collect(const Arguments &arguments);
    bool addFilesToList(const QList<QUrl> &urls);
    bool addFolderToList(const QList<QUrl> &urls, bool includeSubdirectories);
    bool drain(Walk &walk, const char *where);
    template <typename F> void onMainThread(F &&step);
    void startProcess();
    void stopProcess();

    FileList &m_files;
    RunHost &m_host;
    std::atomic_bool m_isProcessing{false};
    std::atomic_bool m_shuttingDown{false};
    bool m_active = false;
    QSet<QString> m_listedAtStart;
    QDateTime m_startTime;
    QDateTime m_endTime;
    std::unique_ptr<QThread> m_thread;
};

} // namespace tallivo
