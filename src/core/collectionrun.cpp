#include "collectionrun.h"

#include "syslogline.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace tallivo {

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

CollectionRun::CollectionRun(FileList &files, RunHost &host, QObject *parent)
    : QObject(parent)
    , m_files(files)
    , m_host(host)
{
}

CollectionRun::~CollectionRun()
{
    shutdown();
}

int CollectionRun::countingThreads()
{
    return qMax(1, QThread::idealThreadCount());
}

bool CollectionRun::loadURLs(std::optional<Arguments> arguments)
{
    if (m_active || m_shuttingDown)
        return false;
    if (m_thread)
        m_thread->wait();
    m_active = true;
    m_thread.reset(QThread::create([this, args = std::move(arguments)] { run(args); }));
    m_thread->setObjectName(QStringLiteral("collection run"));
    m_thread->start();
    return true;
}

void CollectionRun::shutdown()
{
    m_shuttingDown = true;
    cancelAction();
    if (!m_thread)
        return;
    // The run thread may be blocked waiting for the main thread; serve its
    // queued calls here (they see m_shuttingDown and do nothing) until it ends.
    while (!m_thread->wait(QDeadlineTimer(5)))
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_thread.reset();
    m_active = false;
}

template <typename F> void CollectionRun::onMainThread(F &&step)
{
    if (m_shuttingDown)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, &step] {
            if (!m_shuttingDown)
                step();
        },
        Qt::BlockingQueuedConnection);
}

void CollectionRun::startProcess()
{
    m_isProcessing.store(true, std::memory_order_release);
    m_startTime = QDateTime::currentDateTime();
    // Files already listed are neither opened again nor offered again.
    m_listedAtStart = m_files.urlTexts();
    m_host.processStarted();
}

void CollectionRun::stopProcess()
{
    m_isProcessing.store(false, std::memory_order_release);
    m_endTime = QDateTime::currentDateTime();
    m_listedAtStart.clear();
    m_host.processStopped();
}

void CollectionRun::run(std::optional<Arguments> arguments)
{
    onMainThread([this] { m_host.resetView(false); });
    onMainThread([this] { startProcess(); });
    if (arguments) {
        try {
            if (collect(*arguments))
                onMainThread([this] { m_host.sortFiles(); });
        } catch (const std::exception &e) {
            logError("(loadURLs:)", QString::fromLocal8Bit(e.what()));
        } catch (...) {
            logError("(loadURLs:)", QStringLiteral("unknown exception"));
        }
    }
    onMainThread([this] { stopProcess(); });
    onMainThread([this] { m_host.resetView(true); });
    QMetaObject::invokeMethod(this, [this] {
        m_active = false;
        if (!m_shuttingDown)
            Q_EMIT finished();
    });
}

bool CollectionRun::collect(const Arguments &arguments)
{
    return arguments.isFolders ? addFolderToList(arguments.urls, arguments.isIncludeSubdirectories)
                               : addFilesToList(arguments.urls);
}

namespace {

// Files being counted ahead of the one the main thread is to append next.
class CountAhead
{
public:
    explicit CountAhead(int threads)
    {
        m_pool.setMaxThreadCount(threads);
        m_pool.setExpiryTimeout(-1);
    }
    ~CountAhead()
    {
        // Whatever is still queued is not wanted any more: finish only the
        // file each thread is on.
        m_abandoned = true;
        m_pool.clear();
        m_pool.waitForDone();
    }

    bool isFull() const { return m_pending.size() >= kWindow; }
    bool isEmpty() const { return m_pending.empty(); }

    void push(const QUrl &url)
    {
        auto slot = std::make_shared<Slot>();
        m_pending.push_back(slot);
        m_chunk.emplace_back(slot, url);
        if (m_chunk.size() >= kChunk)
            flush();
    }

    void flush()
    {
        if (m_chunk.empty())
            return;
        m_pool.start([this, chunk = std::move(m_chunk)] {
            for (auto &[slot, url] : chunk) {
                auto item = m_abandoned ? nullptr : FileItem::initWithURL(url);
                std::lock_guard lock(m_mutex);
                slot->item = std::move(item);
                slot->done = true;
            }
            m_ready.notify_all();
        });
        m_chunk.clear();
    }

    // Whether the oldest file has been counted.
    bool firstIsDone()
    {
        std::lock_guard lock(m_mutex);
        return !m_pending.empty() && m_pending.front()->done;
    }

    // The oldest file's item, once counted (null for a URL that makes none).
    std::unique_ptr<FileItem> takeFirst()
    {
        if (!m_chunk.empty() && m_chunk.front().first == m_pending.front())
            flush();
        std::shared_ptr<Slot> slot = m_pending.front();
        m_pending.pop_front();
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [&] { return slot->done; });
        return std::move(slot->item);
    }

private:
    struct Slot
    {
        std::unique_ptr<FileItem> item;
        bool done = false;
    };
    QThreadPool m_pool;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::shared_ptr<Slot>> m_pending;
    std::atomic_bool m_abandoned{false};
    static constexpr size_t kChunk = 16;
    static constexpr size_t kWindow = 1024;
    std::vector<std::pair<std::shared_ptr<Slot>, QUrl>> m_chunk;
};

} // namespace

bool CollectionRun::addFilesToList(const QList<QUrl> &urls)
{
    Walk walk(Arguments{urls, false, false}, m_isProcessing);
    return drain(walk, "(addFilesToList:)");
}

bool CollectionRun::addFolderToList(const QList<QUrl> &urls, bool includeSubdirectories)
{
    Walk walk(Arguments{urls, true, includeSubdirectories}, m_isProcessing);
    return drain(walk, "(addFolderToList:)");
}

bool CollectionRun::drain(Walk &walk, const char *where)
{
    int appended = 0;
    // Read on this thread only; the main thread left it alone since startProcess.
    const QSet<QString> &listed = m_listedAtStart;
    QSet<QString> offered;
    CountAhead ahead(countingThreads());
    QElapsedTimer sinceHandOver;
    sinceHandOver.start();

    // The oldest item, waiting for it, and every later one already counted,
    // in one crossing to the main thread.
    auto handOverFirst = [&] {
        std::vector<std::unique_ptr<FileItem>> batch;
        do {
            if (auto item = ahead.takeFirst())
                batch.push_back(std::move(item));
        } while (!ahead.isEmpty() && ahead.firstIsDone());
        if (batch.empty() || !isProcessing())
            return;
        onMainThread([&] {
            for (auto &item : batch) {
                if (!isProcessing())
                    break;
                if (m_files.append(std::move(item))) {
                    ++appended;
                    m_host.updateTotalPagesLabel();
                }
            }
        });
    };

    try {
        while (std::optional<QUrl> url = walk.next()) {
            const QString text = url->toString();
            if (listed.contains(text) || offered.contains(text))
                continue;
            offered.insert(text);
            ahead.push(*url);
            // Far ahead when counting is slow, but the list still grows a few
            // dozen times a second.
            while (ahead.isFull() || (sinceHandOver.hasExpired(20) && ahead.firstIsDone())) {
                handOverFirst();
                sinceHandOver.start();
            }
        }
        while (!ahead.isEmpty() && isProcessing())
            handOverFirst();
    } catch (const std::exception &e) {
        logError(where, QString::fromLocal8Bit(e.what()));
    }
    return appended > 0;
}

} // namespace tallivo
