#include "networkqueue.h"

namespace tallivo {

NetworkQueue::NetworkQueue(QObject *parent)
    : QObject(parent)
{
}

NetworkQueue::~NetworkQueue()
{
    cancelAll();
}

void NetworkQueue::setMaxConcurrentRequests(int count)
{
    m_maxConcurrent = qMax(1, count);
    startWaiting();
}

void NetworkQueue::setSuspended(bool suspended)
{
    m_suspended = suspended;
    startWaiting();
}

void NetworkQueue::enqueue(HttpRequest *request)
{
    if (!request)
        return;
    request->setParent(this);
    // What is sent is what the body held when it was queued.
    request->buildBody();
    connect(request, &HttpRequest::finished, this,
            [this](HttpRequest *r) { requestDone(r, true); });
    connect(request, &HttpRequest::failed, this, [this](HttpRequest *r) { requestDone(r, false); });
    m_waiting.append(request);
    startWaiting();
}

void NetworkQueue::cancelAll()
{
    const QList<HttpRequest *> all = m_running + m_waiting;
    m_running.clear();
    m_waiting.clear();
    for (HttpRequest *request : all) {
        request->disconnect(this);
        request->cancel();
        request->deleteLater();
    }
}

void NetworkQueue::reset()
{
    cancelAll();
    m_suspended = true;
}

void NetworkQueue::startWaiting()
{
    while (!m_suspended && !m_waiting.isEmpty() && m_running.size() < m_maxConcurrent) {
        HttpRequest *request = m_waiting.takeFirst();
        m_running.append(request);
        request->start();
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
