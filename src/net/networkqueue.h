#pragma once

#include "httprequest.h"

#include <QList>
#include <QObject>

namespace tallivo {

// Runs HTTP requests a few at a time. Each request's body is built when it is
// enqueued. requestFinished and requestFailed come on the queue's thread with
// the request, which the queue deletes once the signal has been delivered.
class NetworkQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkQueue)

public:
    explicit NetworkQueue(QObject *parent = nullptr);
    ~NetworkQueue() override;

    int maxConcurrentRequests() const { return m_maxConcurrent; }
    void setMaxConcurrentRequests(int count);
    bool cancelsAllOnFailure() const { return m_cancelAllOnFailure; }
    void setCancelAllOnFailure(bool cancel) { m_cancelAllOnFailure = cancel; }

    // A new queue is suspended until start().
    bool isSuspended() const { return m_suspended; }
    void setSuspended(bool suspended);
    void start() { setSuspended(false); }

    // Takes ownership of the request.
    void enqueue(HttpRequest *request);
    // Cancelled requests are dropped without a signal.
    void cancelAll();
    // Cancels everything and suspends the queue.
    void reset();
    int requestCount() const { return int(m_waiting.size() + m_running.size()); }

Q_SIGNALS:
    void requestFinished(tallivo::HttpRequest *request);
    void requestFailed(tallivo::HttpRequest *request);

private:
    void startWaiting();
    void requestDone(HttpRequest *request, bool finished);

    QList<HttpRequest *> m_waiting;
    QList<HttpRequest *> m_running;
    int m_maxConcurrent = 4;
    bool m_cancelAllOnFailure = true;
    bool m_suspended = true;
};

} // namespace tallivo
