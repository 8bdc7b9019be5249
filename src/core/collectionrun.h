#pragma once

#include "fileitem.h"
#include "walk.h"

#include <QDateTime>
#include <QObject>
#include <QSet>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

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

// Files a run has counted, in walk order. Handed to every receiver alike and
// never changed after: a receiver that keeps files keeps copies of them.
struct FileBatch
{
    FileBatch() = default;
    FileBatch(FileBatch &&) = default;
    FileBatch &operator=(FileBatch &&) = default;
    FileBatch(const FileBatch &) = delete;
    FileBatch &operator=(const FileBatch &) = delete;

    // Copies of the files, for a receiver that lists them.
    std::vector<std::unique_ptr<FileItem>> copies() const;

    std::vector<std::unique_ptr<const FileItem>> items;
};
using SharedFileBatch = std::shared_ptr<const FileBatch>;

// How a run ended.
struct RunResult
{
    QDateTime startTime;
    QDateTime endTime;
    qint64 found = 0;      // files the walk offered (not those listed already)
    qint64 handedOver = 0; // files passed on through filesCounted()
    bool cancelled = false;
    QList<UnreadableFolder> unreadableFolders;
    qint64 alreadyListed = 0; // files found that were listed before the run
    // A walk of folders without their subfolders that found no file looks
    // at what the subfolders hold.
    SubfolderFiles subfolderFiles;
};

// Where the paths given to a run may yield the same file twice: below the
// shortest given path that another given path starts with or equals (the
// same folder twice, a file inside a folder given, a folder inside
// another). One walk never yields a path twice, since no link is entered,
// so files elsewhere need no duplicate test, and a run of paths that do not
// overlap keeps nothing per file.
class OverlappingPaths
{
public:
    explicit OverlappingPaths(const QList<QUrl> &urls);
    // Whether a path the walk yielded may be yielded again.
    bool contain(const QByteArray &path) const;
    // Whether no path may be yielded twice.
    bool isEmpty() const { return m_roots.empty(); }

private:
    std::vector<QByteArray> m_roots; // sorted; none starts with another
};

// One collection run at a time. A run thread walks and hands the files to
// the I/O pool, which counts many at once; the counted items reach the
// thread that started the run strictly in walk order, in batches, as
// signals: started(), then filesCounted() and progress() as they come, then
// finished(). The run keeps no list of its own: the receiver of the batches
// is the only writer of the list. Neither thread ever waits for the other,
// so a share that stops answering holds up neither the window nor a cancel.
class CollectionRun : public QObject
{
    Q_OBJECT
public:
    explicit CollectionRun(QObject *parent = nullptr);
    ~CollectionRun() override;

    // Starts a run and returns at once; the signals follow from the event
    // loop. Files whose path keys are in `listed` are neither opened nor
    // offered. Refused (false) while a run is active.
    bool start(std::optional<Arguments> arguments, const PathSet &listed = {});

    // Stops the run before its next entry; batches not yet handed over are
    // dropped. Takes effect even before the run has started. Files in the
    // PDF library's worker processes are not waited for: the workers are
    // killed.
    void cancel();
    bool isProcessing() const { return m_isProcessing.load(std::memory_order_acquire); }
    // True from start() until finished() has been emitted.
    bool isActive() const { return m_active; }

    // How much the runs to come learn of each page.
    void setPageDetails(PageDetails details) { m_pageDetails = details; }
    PageDetails pageDetails() const { return m_pageDetails; }

    // Cancels any run and lets its thread go, never emitting anything
    // more. Files still being read on a stuck share are left to their
    // threads. Safe to call more than once.
    void shutdown();

    // How many files are read at once.
    static int ioConcurrency();

Q_SIGNALS:
    // The run has begun.
    void started();
    // Counted files, in walk order; the same batch for every receiver.
    void filesCounted(const tallivo::SharedFileBatch &batch);
    // A few times a second while the run goes on.
    void progress(const tallivo::RunProgress &progress);
    // A folder given to the run was entered, in walk order.
    void topFolderEntered(const QUrl &folder);
    // The run is over; nothing more comes from it.
    void finished(const tallivo::RunResult &result);

private:
    void run(std::optional<Arguments> arguments, PageDetails details);
    void collect(const Arguments &arguments, PageDetails details);
    void post(std::function<void()> step);
    void deliver();

    std::atomic_bool m_isProcessing{false};
    std::atomic_bool m_shuttingDown{false};
    bool m_active = false;
    PageDetails m_pageDetails = PageDetails::None;
    PathSet m_listedAtStart;
    RunResult m_result;
    std::thread m_thread;
    std::mutex m_mailboxMutex;
    std::deque<std::function<void()>> m_mailbox;
};

} // namespace tallivo
