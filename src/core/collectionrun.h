#pragma once

#include "filelist.h"
#include "walk.h"

#include <QDateTime>
#include <QObject>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace tallivo {

// How far a run has got.
struct RunProgress
{
    qint64 found = 0;   // files the walk has offered
    qint64 counted = 0; // of those, files counted
    QString folder;     // the folder being walked, for display
};

// A folder the walk could not read.
struct UnreadableFolder
{
    QByteArray path;
    int error = 0; // errno
};

// What a run asks of the window, always on the main thread and in this
// order: resetView(false), processStarted(), one updateTotalPagesLabel() per
// added file with progress() now and then, sortFiles() when the list grew,
// processStopped(), resetView(true).
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
    // A few times a second while the run goes on.
    virtual void progress(const RunProgress &) {}
};

// "Total Time Taken : mm:ss", or "hh:mm:ss" from an hour on; "" when either
// end is missing.
QString timeTakenString(const QDateTime &start, const QDateTime &end);

// One collection run at a time over a list owned by the caller. A run thread
// walks and hands the files to the I/O pool, which counts many at once; the
// counted items reach the main thread strictly in walk order, in batches,
// through queued calls, and are appended there. Neither thread ever waits
// for the other, so a share that stops answering holds up neither the
// window nor a cancel.
class CollectionRun : public QObject
{
    Q_OBJECT
public:
    CollectionRun(FileList &files, RunHost &host, QObject *parent = nullptr);
    ~CollectionRun() override;

    // Starts a run and returns at once; the host hears of it from the event
    // loop. Refused (false) while a run is active.
    bool start(std::optional<Arguments> arguments);

    // Stops the run before its next entry; anything not yet appended is
    // dropped. Takes effect even before the run has started. Files in the
    // PDF library's worker processes are not waited for: the workers are
    // killed.
    void cancel();
    bool isProcessing() const { return m_isProcessing.load(std::memory_order_acquire); }
    // True from start() until the run's last main-thread step has been done.
    bool isActive() const { return m_active; }

    // How much the runs to come learn of each page.
    void setPageDetails(PageDetails details) { m_pageDetails = details; }
    PageDetails pageDetails() const { return m_pageDetails; }

    QDateTime startTime() const { return m_startTime; }
    QDateTime endTime() const { return m_endTime; }
    // The folders the last run could not read.
    const QList<UnreadableFolder> &unreadableFolders() const { return m_unreadable; }

    // Cancels any run and lets its thread go, never passing the host
    // anything more. Files still being read on a stuck share are left to
    // their threads. Call it before the host goes away; safe to call more
    // than once.
    void shutdown();

    // How many files are read at once.
    static int ioConcurrency();

Q_SIGNALS:
    // Emitted on the main thread after the run's last step.
    void finished();
    // A folder given to the run was entered, in walk order.
    void topFolderEntered(const QUrl &folder);

private:
    void run(std::optional<Arguments> arguments, PageDetails details);
    void collect(const Arguments &arguments, PageDetails details);
    void post(std::function<void()> step);
    void deliver();
    void startProcess();
    void stopProcess();

    FileList &m_files;
    RunHost &m_host;
    std::atomic_bool m_isProcessing{false};
    std::atomic_bool m_shuttingDown{false};
    bool m_active = false;
    PageDetails m_pageDetails = PageDetails::None;
    int m_appended = 0;
    QSet<QString> m_listedAtStart;
    QList<UnreadableFolder> m_unreadable;
    QDateTime m_startTime;
    QDateTime m_endTime;
    std::unique_ptr<QThread> m_thread;
    std::mutex m_mailboxMutex;
    std::deque<std::function<void()>> m_mailbox;
};

} // namespace tallivo
