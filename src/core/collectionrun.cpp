#include "collectionrun.h"

#include "iopool.h"
#include "localpath.h"
#include "logging.h"
#include "pdfworkers.h"
#include "syslogline.h"

#include <QElapsedTimer>

#include <algorithm>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <pthread.h>

namespace tallivo {

CollectionRun::CollectionRun(QObject *parent)
    : QObject(parent)
{
}

CollectionRun::~CollectionRun()
{
    shutdown();
}

int CollectionRun::ioConcurrency()
{
    return IoPool::instance().threadCount();
}

// Steps reach the main thread through a queue of our own, in order; one
// queued call wakes the main thread when the queue stops being empty.
void CollectionRun::post(std::function<void()> step)
{
    bool wake;
    {
        std::lock_guard lock(m_mailboxMutex);
        wake = m_mailbox.empty();
        m_mailbox.push_back(std::move(step));
    }
    if (wake)
        QMetaObject::invokeMethod(this, &CollectionRun::deliver, Qt::QueuedConnection);
}

void CollectionRun::deliver()
{
    std::deque<std::function<void()>> steps;
    {
        std::lock_guard lock(m_mailboxMutex);
        steps.swap(m_mailbox);
    }
    for (auto &step : steps) {
        if (!m_shuttingDown)
            step();
    }
}

bool CollectionRun::start(std::optional<Arguments> arguments, const PathSet &listed)
{
    if (m_active || m_shuttingDown)
        return false;
    if (m_thread.joinable())
        m_thread.join();
    m_active = true;
    // Set here, not when the run thread gets going, so that a cancel given
    // in between is not lost.
    m_isProcessing.store(true, std::memory_order_release);
    // Files already listed are neither opened again nor offered again.
    m_listedAtStart = listed;
    m_result = RunResult();
    // In UTC: reading the local time zone costs every start-up, and only
    // the time between the two is shown.
    post([this] {
        m_result.startTime = QDateTime::currentDateTimeUtc();
        Q_EMIT started();
    });
    // A plain thread: the run needs no event loop of its own, and starting
    // one cost the start of every run.
    m_thread = std::thread([this, args = std::move(arguments), details = m_pageDetails] {
        pthread_setname_np(pthread_self(), "collection run");
        run(args, details);
    });
    return true;
}

void CollectionRun::cancel()
{
    m_isProcessing.store(false, std::memory_order_release);
    PdfWorkers::stopShared();
}

void CollectionRun::shutdown()
{
    m_shuttingDown = true;
    cancel();
    if (m_thread.joinable()) {
        // The run thread does no I/O of its own and looks at the flag every
        // few milliseconds.
        m_thread.join();
    }
    m_active = false;
}

void CollectionRun::run(std::optional<Arguments> arguments, PageDetails details)
{
    if (arguments) {
        try {
            collect(*arguments, details);
        } catch (const std::exception &e) {
            logError("(loadURLs:)", QString::fromLocal8Bit(e.what()));
        } catch (...) {
            logError("(loadURLs:)", QStringLiteral("unknown exception"));
        }
    }
    post([this] {
        m_listedAtStart.clear();
        m_result.cancelled = !isProcessing();
        m_isProcessing.store(false, std::memory_order_release);
        m_result.endTime = QDateTime::currentDateTimeUtc();
        m_active = false;
        const RunResult result = std::exchange(m_result, RunResult());
        Q_EMIT finished(result);
    });
}

namespace {

// Files being counted on the I/O pool, oldest first. Shared with the tasks,
// which may outlive the run when a share stops answering.
class CountQueue
{
public:
    struct Slot
    {
        std::unique_ptr<FileItem> item;
        bool done = false;
    };

    ~CountQueue() { abandon(); }

    explicit CountQueue(PageDetails details)
        : m_details(details)
    {
    }

    void push(const Walk::Found &found)
    {
        auto slot = std::make_shared<Slot>();
        m_slots.push_back(slot);
        IoPool::instance().submit(IoPool::Priority::Normal, [shared = m_shared, slot,
                                                             folder = found.folder,
                                                             name = found.name, type = found.type,
                                                             details = m_details]() mutable {
            count(*shared, *slot, std::move(folder), std::move(name), type, details);
        });
    }

    size_t size() const { return m_slots.size(); }

private:
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::atomic_bool abandoned{false};
        qint64 counted = 0;
    };

    static void count(Shared &shared, Slot &slot, Folder folder, QByteArray name, EntryType type,
                      PageDetails details)
    {
        std::unique_ptr<FileItem> item;
        if (!shared.abandoned.load(std::memory_order_acquire))
            item = FileItem::create(std::move(folder), std::move(name), type, details);
        std::lock_guard lock(shared.mutex);
        slot.item = std::move(item);
        slot.done = true;
        ++shared.counted;
        shared.ready.notify_all();
    }

public:
    bool isEmpty() const { return m_slots.empty(); }
    qint64 counted() const
    {
        std::lock_guard lock(m_shared->mutex);
        return m_shared->counted;
    }

    // Waits up to `waitMs` for the oldest file; then takes it and every
    // later file already counted, in order.
    std::vector<std::unique_ptr<FileItem>> takeCounted(int waitMs)
    {
        std::vector<std::unique_ptr<FileItem>> batch;
        std::unique_lock lock(m_shared->mutex);
        if (waitMs > 0 && !m_slots.empty()) {
            m_shared->ready.wait_for(lock, std::chrono::milliseconds(waitMs),
                                     [&] { return m_slots.front()->done; });
        }
        while (!m_slots.empty() && m_slots.front()->done) {
            if (m_slots.front()->item)
                batch.push_back(std::move(m_slots.front()->item));
            m_slots.pop_front();
        }
        return batch;
    }

    // Files still queued are not wanted any more.
    void abandon() { m_shared->abandoned.store(true, std::memory_order_release); }

private:
    const PageDetails m_details;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::deque<std::shared_ptr<Slot>> m_slots;
};

} // namespace

std::vector<std::unique_ptr<FileItem>> FileBatch::copies() const
{
    std::vector<std::unique_ptr<FileItem>> files;
    files.reserve(items.size());
    for (const auto &item : items)
        files.push_back(item->clone());
    return files;
}

OverlappingPaths::OverlappingPaths(const QList<QUrl> &urls)
{
    std::vector<QByteArray> paths;
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            paths.push_back(tidyPath(localPath(url)));
    }
    std::sort(paths.begin(), paths.end());
    // Sorted, the paths that start with one come right after it.
    for (size_t i = 0; i < paths.size();) {
        size_t j = i + 1;
        while (j < paths.size() && paths[j].startsWith(paths[i]))
            ++j;
        if (j > i + 1)
            m_roots.push_back(paths[i]);
        i = j;
    }
}

bool OverlappingPaths::contain(const QByteArray &path) const
{
    if (m_roots.empty())
        return false;
    // The roots are sorted and none starts with another: only the last one
    // not after the path can be its start.
    const QByteArray tidy = tidyPath(path);
    const auto after = std::upper_bound(m_roots.begin(), m_roots.end(), tidy);
    return after != m_roots.begin() && tidy.startsWith(*std::prev(after));
}

void CollectionRun::collect(const Arguments &arguments, PageDetails details)
{
    // How far counting may run ahead of the list.
    constexpr size_t kWindow = 2048;
    // The list grows ten times a second, each batch a block of rows in the
    // table, and progress a few times; the first file goes at once.
    constexpr qint64 kHandOverMs = 100;
    constexpr qint64 kProgressMs = 200;

    const PathSet &listed = m_listedAtStart;
    // Keys only, and only of files that another given path may yield again.
    const OverlappingPaths overlaps(arguments.urls);
    PathSet offered;
    CountQueue queue(details);
    Walk walk(arguments, m_isProcessing);
    walk.setTopFolderHandler(
        [this](const QUrl &folder) { post([this, folder] { Q_EMIT topFolderEntered(folder); }); });
    walk.setUnreadableHandler([this](const QByteArray &path, int error) {
        qCWarning(lcCore, "cannot read folder %s: %s", qUtf8Printable(displayPath(path)),
                  std::strerror(error));
        post([this, path, error] { m_result.unreadableFolders.append({path, error}); });
    });
    qint64 found = 0;
    qint64 alreadyListed = 0;
    qint64 handedOver = 0;
    QElapsedTimer sinceHandOver;
    sinceHandOver.start();
    QElapsedTimer sinceProgress;
    sinceProgress.start();

    auto handOver = [&](int waitMs) {
        std::vector<std::unique_ptr<FileItem>> counted = queue.takeCounted(waitMs);
        sinceHandOver.start();
        if (counted.empty() || !isProcessing())
            return;
        auto made = std::make_shared<FileBatch>();
        made->items.reserve(counted.size());
        for (auto &item : counted)
            made->items.push_back(std::move(item));
        SharedFileBatch batch = std::move(made);
        handedOver += qint64(batch->items.size());
        post([this, batch] {
            // A cancel stops the batches still on their way.
            if (!isProcessing())
                return;
            m_result.handedOver += qint64(batch->items.size());
            Q_EMIT filesCounted(batch);
        });
    };
    auto reportProgress = [&] {
        if (!sinceProgress.hasExpired(kProgressMs))
            return;
        sinceProgress.start();
        RunProgress now{found, queue.counted(), displayPath(walk.currentFolder())};
        post([this, now] {
            if (isProcessing())
                Q_EMIT progress(now);
        });
    };

    Walk::Found file;
    for (;;) {
        const Walk::Step step = walk.next(&file, 20);
        if (step == Walk::Step::End)
            break;
        if (step == Walk::Step::Found) {
            // A plain count asks no set: no path is made nor hashed for it.
            bool offer = true;
            if (!listed.isEmpty() || !overlaps.isEmpty()) {
                const QByteArray path = file.path();
                const PathKey key = pathKey(path);
                if (listed.contains(key)) {
                    ++alreadyListed;
                    offer = false;
                } else {
                    offer = !overlaps.contain(path) || offered.insert(key);
                }
            }
            if (offer) {
                queue.push(file);
                ++found;
            }
        }
        while (queue.size() >= kWindow && isProcessing()) {
            handOver(20);
            reportProgress();
        }
        if (handedOver == 0 || sinceHandOver.hasExpired(kHandOverMs))
            handOver(0);
        reportProgress();
    }
    while (!queue.isEmpty() && isProcessing()) {
        handOver(20);
        reportProgress();
    }
    queue.abandon();
    post([this, alreadyListed, found] {
        m_result.alreadyListed = alreadyListed;
        m_result.found = found;
    });
    // Nothing here, perhaps everything below: worth saying how much. The
    // walk has seen whether there is a below at all.
    if (arguments.isFolders && !arguments.includeSubfolders && found == 0 && alreadyListed == 0 &&
        walk.mayHaveSubfolders() && isProcessing()) {
        const SubfolderFiles below = countSubfolderFiles(arguments.urls, m_isProcessing);
        post([this, below] { m_result.subfolderFiles = below; });
    }
}

} // namespace tallivo
