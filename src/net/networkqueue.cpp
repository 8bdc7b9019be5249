#include "networkqueue.h"

namespace tallivo {

void NetworkQueue::enqueue(HttpRequest *request)
{
    request->setParent(this);
    request->buildBody();
    const auto done = [this, request](bool finished) {
        m_requests.removeOne(request);
        request->deleteLater();
        if (!finished && m_cancelAllOnFailure)
            cancelAll();
        if (finished)
            Q_EMIT requestFinished(request);
        else
            Q_EMIT requestFailed(request);
    };
    connect(request, &HttpRequest::finished, this, [done] { done(true); });
    connect(request, &HttpRequest::failed, this, [done] { done(false); });
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
        request->cancel(); // it says nothing after this
        request->deleteLater();
    }
}

} // namespace tallivo
