#pragma once

#include "fileio.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace tallivo::test {

// A share that answers slowly, in no particular order, or not at all until
// told: installed as the I/O hook for the life of the object.
class FakeShare
{
public:
    FakeShare()
    {
        // The state outlives the object: a thread may still be on its way
        // out of the hook.
        testing::setIoHook([state = m_state](const QByteArray &path) { state->visit(path); });
    }
    ~FakeShare()
    {
        testing::setIoHook({});
        release();
    }

    // Paths containing `part` wait until release().
    void hang(const QByteArray &part)
    {
        std::lock_guard lock(m_state->mutex);
        m_state->hang = part;
    }
    void release()
    {
        std::lock_guard lock(m_state->mutex);
        m_state->hang.clear();
        m_state->released.notify_all();
    }
    bool isHanging()
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->hanging > 0;
    }
    int visits(const QByteArray &path)
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->visits.value(path);
    }
    void scramble() { m_state->scramble = true; }
    // Paths the main thread asked for: it must never wait on a share. Such
    // a visit is noted and let through, so that a test fails, not hangs.
    QList<QByteArray> mainThreadVisits()
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->mainThreadVisits;
    }

private:
    struct State
    {
        void visit(const QByteArray &path)
        {
            if (scramble)
                QThread::usleep(qHash(path) % 3000);
            std::unique_lock lock(mutex);
            ++visits[path];
            if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
                mainThreadVisits.append(path);
                return;
            }
            if (!hang.isEmpty() && path.contains(hang)) {
                ++hanging;
                released.wait(lock, [&] { return hang.isEmpty(); });
                --hanging;
            }
        }
        std::atomic_bool scramble{false};
        std::mutex mutex;
        std::condition_variable released;
        QByteArray hang;
        int hanging = 0;
        QHash<QByteArray, int> visits;
        QList<QByteArray> mainThreadVisits;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace tallivo::test
