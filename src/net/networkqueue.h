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
    explicit NetworkQueue(QObject *parent = nullptr)
        : QObject(parent)
    {
        m_pool.setMaxThreadCount(4); // requests at once
    }
    ~NetworkQueue() override { cancelAll(); }

    void setCancelAllOnFailure(bool cancel) { m_cancelAllOnFailure = cancel; }
    // Takes ownership of the request.
    void enqueue(HttpRequest *request);
    // A new queue holds its requests until started.
    void start();
    // Drops every request without a signal, and without waiting for a server.
    void cancelAll();
    int requestCount() const { return int(m_requests.size()); }

Q_SIGNALS:
    void requestFinished(tallivo::HttpRequest *request);
    void requestFailed(tallivo::HttpRequest *request);

private:
    // Its threads are the limit; gone last, after the cancelled transfers, which let go at once.
    QThreadPool m_pool;
    QList<HttpRequest *> m_requests;
    bool m_cancelAllOnFailure = true, m_started = false;
};

} // namespace tallivo
