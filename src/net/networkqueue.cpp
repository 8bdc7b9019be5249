#include "networkqueue.h"

namespace tallivo {

NetworkQueue::NetworkQueue(QObject *parent)
    : QObject(parent)
{
}

NetworkQueue::~NetworkQueue()
{
    cancelAllOperations();
}

void NetworkQueue::setMaxConcurrentOperationCount(int count)
{
    m_maxConcurrent = qMax(1, count);
    startWaiting();
}

void NetworkQueue::setSuspended(bool suspended)
{
    m_suspended = suspended;
    startWaiting();
}

void NetworkQueue::addOperation(HttpRequest *request)
{
    if (!request)
        return;
    request->setParent(this);
    if (m_accurateProgress)
        request->buildPostBody();
    connect(request, &HttpRequest::requestFinished, this,
            [this](HttpRequest *r) { requestDone(r, true); });
    connect(request, &HttpRequest::requestFailed, this,
            [this](HttpRequest *r) { requestDone(r, false); });
    m_waiting.append(request);
    startWaiting();
}

void NetworkQueue::cancelAllOperations()
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
    cancelAllOperations();
    m_didFinish = {};
    m_didFail = {};
    m_queueDidFinish = {};
    m_suspended = true;
}

void NetworkQueue::startWaiting()
{
    while (!m_suspended && !m_waiting.isEmpty() && m_running.size() < m_maxConcurrent) {
        HttpRequest *request = m_waiting.takeFirst();
        m_running.append(request);
        request->start(&m_manager);
    }
}

void NetworkQueue::requestDone(HttpRequest *request, bool finished)
{
    if (!m_running.removeOne(request))
        return;
    request->disconnect(this);
    request->deleteLater();
    if (!finished && m_cancelOnFailure)
        cancelAllOperations();
    // The callback may reset this queue; keep our own copy alive meanwhile.
    const RequestCallback callback = finished ? m_didFinish : m_didFail;
    if (callback)
        callback(request);
    startWaiting();
    if (m_running.isEmpty() && m_waiting.isEmpty() && m_queueDidFinish) {
        const auto done = m_queueDidFinish;
        done();
    }
}

} // namespace tallivo
