#include "iopool.h"

#include <QPointer>
#include <QtGlobal>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace tallivo {

namespace {

int configuredThreads()
{
    bool ok = false;
    const int wanted = qEnvironmentVariableIntValue("TALLIVO_IO_THREADS", &ok);
    if (ok && wanted > 0)
        return qMin(wanted, 256);
    return 32;
}

} // namespace

struct IoPool::Private
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> high;
    std::deque<std::function<void()>> normal;
    int running = 0;
    int threads = 0;
    int started = 0;

    void work()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return !high.empty() || !normal.empty(); });
            auto &queue = high.empty() ? normal : high;
            std::function<void()> task = std::move(queue.front());
            queue.pop_front();
            ++running;
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            --running;
        }
    }
};

IoPool::IoPool()
    : d(new Private)
{
    d->threads = configuredThreads();
}

IoPool &IoPool::instance()
{
    // Deliberately never destroyed: see the class comment.
    static IoPool *pool = new IoPool;
    return *pool;
}

void IoPool::submit(Priority priority, std::function<void()> task)
{
    std::lock_guard lock(d->mutex);
    (priority == Priority::High ? d->high : d->normal).push_back(std::move(task));
    // Threads are started as work arrives, up to the limit.
    const int waiting = int(d->high.size() + d->normal.size());
    const int idle = d->started - d->running;
    if (waiting > idle && d->started < d->threads) {
        ++d->started;
        std::thread([p = d] { p->work(); }).detach();
    }
    d->wake.notify_one();
}

int IoPool::pending() const
{
    std::lock_guard lock(d->mutex);
    return d->running + int(d->high.size() + d->normal.size());
}

int IoPool::threadCount() const
{
    return d->threads;
}

namespace detail {

namespace {

// Stands for the asker on its thread; the pool thread looks through the
// link, under its lock, to see whether it is still there.
struct AnswerLink
{
    std::mutex mutex;
    QObject *receiver = nullptr;
};

class AnswerReceiver final : public QObject
{
public:
    AnswerReceiver(QObject *context, std::shared_ptr<AnswerLink> link)
        : m_context(context)
        , m_link(std::move(link))
    {
        m_link->receiver = this;
        connect(context, &QObject::destroyed, this, &QObject::deleteLater);
    }
    ~AnswerReceiver() override
    {
        std::lock_guard lock(m_link->mutex);
        m_link->receiver = nullptr;
    }
    bool isContextAlive() const { return !m_context.isNull(); }

private:
    QPointer<QObject> m_context;
    std::shared_ptr<AnswerLink> m_link;
};

} // namespace

void askIoPool(QObject *context, std::function<std::function<void()>()> work)
{
    auto link = std::make_shared<AnswerLink>();
    new AnswerReceiver(context, link);
    IoPool::instance().submit(IoPool::Priority::High, [link, work = std::move(work)] {
        std::function<void()> answer = work();
        std::lock_guard lock(link->mutex);
        auto *receiver = static_cast<AnswerReceiver *>(link->receiver);
        if (!receiver)
            return;
        // Posted under the lock, so the receiver cannot go in between; an
        // event posted to an object that goes later is dropped with it.
        QMetaObject::invokeMethod(
            receiver,
            [receiver, answer = std::move(answer)] {
                receiver->deleteLater();
                if (receiver->isContextAlive())
                    answer();
            },
            Qt::QueuedConnection);
    });
}

} // namespace detail

namespace {

int configuredParseSlots()
{
    bool ok = false;
    const int wanted = qEnvironmentVariableIntValue("TALLIVO_PARSE_SLOTS", &ok);
    if (ok && wanted > 0)
        return qMin(wanted, 256);
    return qMax(1, QThread::idealThreadCount());
}

struct ParseGate
{
    std::mutex mutex;
    std::condition_variable free;
    int inUse = 0;
    const int limit = configuredParseSlots();
};

// Slots the calling thread holds: the first waits at the gate, the ones
// nested in it ride on it.
thread_local int t_slotDepth = 0;

ParseGate &parseGate()
{
    static ParseGate *gate = new ParseGate;
    return *gate;
}

} // namespace

ParseSlot::ParseSlot()
{
    if (t_slotDepth++ > 0)
        return;
    ParseGate &g = parseGate();
    std::unique_lock lock(g.mutex);
    g.free.wait(lock, [&] { return g.inUse < g.limit; });
    ++g.inUse;
}

ParseSlot::~ParseSlot()
{
    Q_ASSERT(t_slotDepth > 0);
    if (--t_slotDepth > 0)
        return;
    ParseGate &g = parseGate();
    {
        std::lock_guard lock(g.mutex);
        --g.inUse;
    }
    g.free.notify_one();
}

bool ParseSlot::heldByThisThread()
{
    return t_slotDepth > 0;
}

} // namespace tallivo
