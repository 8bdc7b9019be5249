#pragma once

#include "httprequest.h"

#include <QList>
#include <QObject>
#include <QThreadPool>

namespace tallivo {

// Runs HTTP requests a few at a time on threads of its own, each body built
// when it is enqueued. The signals come on the queue's thread, which deletes
// the request once they have been delivered.
class NetworkQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkQueue)

public:
    explicit NetworkQueue(QObject *parent = nullptr);
    ~NetworkQueue() override { cancelAll(); }

    void setMaxConcurrentRequests(int count);
    void setCancelAllOnFailure(bool cancel) { m_cancelAllOnFailure = cancel; }
    // A new queue is suspended until start().
    void setSuspended(bool suspended) { m_suspended = suspended, startWaiting(); }
    void start() { setSuspended(false); }
    // Takes ownership of the request.
    void enqueue(HttpRequest *request);
    // Drops every request without a signal, and without waiting for a server.
    void cancelAll();
    // Cancels everything and suspends the queue.
    void reset() { cancelAll(), m_suspended = true; }
    int requestCount() const { return int(m_waiting.size() + m_running.size()); }

Q_SIGNALS:
    void requestFinished(tallivo::HttpRequest *request);
    void requestFailed(tallivo::HttpRequest *request);

private:
    void startWaiting();
    void requestDone(HttpRequest *request, bool finished);

    QThreadPool m_pool; // gone last, after the cancelled transfers, which let go at once
    QList<HttpRequest *> m_waiting, m_running;
    int m_maxConcurrent = 4;
    bool m_cancelAllOnFailure = true, m_suspended = true;
};

} // namespace tallivo
