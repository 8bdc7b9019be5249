#include "networkqueue.h"

namespace tallivo {

NetworkQueue::NetworkQueue(QObject *parent)
    : QObject(parent)
{
    // Room beside the running transfers for cancelled ones still letting go.
    m_pool.setMaxThreadCount(2 * MaxConcurrentRequests);
}

void NetworkQueue::enqueue(HttpRequest *request)
{
    request->setParent(this);
    request->buildBody();
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
    while (!m_suspended && !m_waiting.isEmpty() && m_running.size() < MaxConcurrentRequests) {
        m_running.append(m_waiting.takeFirst());
        m_running.last()->start(&m_pool);
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
