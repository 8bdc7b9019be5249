#pragma once

#include "httprequest.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>

#include <functional>

namespace tallivo {

// Runs HTTP requests a few at a time. Finish and failure callbacks come on the
// thread the queue lives in (the main thread), each with its request, which the
// queue deletes after the callback returns.
class NetworkQueue : public QObject
{
    Q_OBJECT

public:
    using RequestCallback = std::function<void(HttpRequest *)>;

    explicit NetworkQueue(QObject *parent = nullptr);
    ~NetworkQueue() override;

    int maxConcurrentOperationCount() const { return m_maxConcurrent; }
    void setMaxConcurrentOperationCount(int count);
    bool shouldCancelAllRequestsOnFailure() const { return m_cancelOnFailure; }
    void setShouldCancelAllRequestsOnFailure(bool cancel) { m_cancelOnFailure = cancel; }
    // Builds each request's body as soon as it is added.
    bool showAccurateProgress() const { return m_accurateProgress; }
    void setShowAccurateProgress(bool accurate) { m_accurateProgress = accurate; }

    bool isSuspended() const { return m_suspended; }
    void setSuspended(bool suspended);
    void go() { setSuspended(false); }

    void setRequestDidFinish(RequestCallback callback) { m_didFinish = std::move(callback); }
    void setRequestDidFail(RequestCallback callback) { m_didFail = std::move(callback); }
    void setQueueDidFinish(std::function<void()> callback)
    {
        m_queueDidFinish = std::move(callback);
    }

    // Takes ownership of the request.
    void addOperation(HttpRequest *request);
    // Cancelled requests are dropped without a callback.
    void cancelAllOperations();
    // Cancels everything, forgets the callbacks and suspends the queue.
    void reset();
    int requestsCount() const { return int(m_waiting.size() + m_running.size()); }

    QNetworkAccessManager *networkManager() { return &m_manager; }

private:
    void startWaiting();
    void requestDone(HttpRequest *request, bool finished);

    QNetworkAccessManager m_manager;
    QList<HttpRequest *> m_waiting;
    QList<HttpRequest *> m_running;
    int m_maxConcurrent = 4;
    bool m_cancelOnFailure = true;
    bool m_accurateProgress = false;
    bool m_suspended = true;
    RequestCallback m_didFinish;
    RequestCallback m_didFail;
    std::function<void()> m_queueDidFinish;
};

} // namespace tallivo
