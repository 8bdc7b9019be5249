#include "networkqueue.h"

namespace tallivo {

NetworkQueue::NetworkQueue(QObject *parent)
    : QObject(parent)
{
    setMaxConcurrentRequests(m_maxConcurrent);
}

void NetworkQueue::setMaxConcurrentRequests(int count)
{
    m_maxConcurrent = qMax(1, count);
    // Room beside the running transfers for cancelled ones still letting go.
    m_pool.setMaxThreadCount(2 * m_maxConcurrent);
    startWaiting();
}

void NetworkQueue::enqueue(HttpRequest *request)
{
    request->setParent(this);
    request->setThreadPool(&m_pool);
    request->buildBody(); // what is sent is what the body held when queued
    connect(request, &HttpRequest::finished, this, [this](auto *r) { requestDone(r, true); });
    connect(request, &HttpRequest::failed, this, [this](auto *r) { requestDone(r, false); });
    m_waiting.append(request);
    startWaiting();
}

void NetworkQueue::cancelAll()
{
    for (HttpRequest *request : std::exchange(m_running, {}) + std::exchange(m_waiting, {})) {
        request->disconnect(this);
        request->cancel();
        request->deleteLater();
    }
}

void NetworkQueue::startWaiting()
{
    while (!m_suspended && !m_waiting.isEmpty() && m_running.size() < m_maxConcurrent) {
        m_running.append(m_waiting.takeFirst());
        m_running.last()->start();
    }
}

void NetworkQueue::requestDone(HttpRequest *request, bool finished)
{
    if (!m_running.removeOne(request))
        return;
    request->disconnect(this);
    request->deleteLater();
    if (!finished && m_cancelAllOnFailure)
        cancelAll();
    if (finished)
        Q_EMIT requestFinished(request);
    else
        Q_EMIT requestFailed(request);
    startWaiting();
}

} // namespace tallivo
