#include "networkqueue.h"

namespace tallivo {

NetworkQueue::NetworkQueue(QObject *parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(MaxConcurrentRequests);
}

void NetworkQueue::enqueue(HttpRequest *request)
{
    request->setParent(this);
    request->buildBody();
    connect(request, &HttpRequest::finished, this, [this](auto *r) { requestDone(r, true); });
    connect(request, &HttpRequest::failed, this, [this](auto *r) { requestDone(r, false); });
    m_requests.append(request);
    if (m_started)
        request->start(&m_pool);
}

void NetworkQueue::start()
{
    m_started = true;
    for (HttpRequest *request : std::as_const(m_requests))
        request->start(&m_pool); // once: a started request ignores it
}

void NetworkQueue::cancelAll()
{
    for (HttpRequest *request : std::exchange(m_requests, {})) {
        request->disconnect(this);
        request->cancel();
        request->deleteLater();
    }
}

void NetworkQueue::requestDone(HttpRequest *request, bool finished)
{
    if (!m_requests.removeOne(request))
        return;
    request->disconnect(this);
    request->deleteLater();
    if (!finished && m_cancelAllOnFailure)
        cancelAll();
    if (finished)
        Q_EMIT requestFinished(request);
    else
        Q_EMIT requestFailed(request);
}

} // namespace tallivo
