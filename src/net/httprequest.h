#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <tuple>

class QThreadPool;

namespace tallivo {

struct HttpTransfer;

// One HTTP request, run by libcurl on a worker thread; the answer or the error
// comes back on the request's thread. Only http and https are spoken, never
// https then http; proxies come from the environment, as curl takes them.
class HttpRequest : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpRequest)

public:
    enum class Error
    {
        NoError,
        InvalidRequest,     // not http(s), a bad header, or the body could not be built
        ConnectionFailed,   // no answer: refused, reset, name not found
        TimedOut,           // silent for the transfer timeout, or past the deadline
        RedirectRefused,    // to another scheme, from https to http, or too many
        ResponseTooLarge,   // more than MaxResponseSize bytes once inflated
        ResponseIncomplete, // the connection ended before the answer did
        InflateFailed,      // damaged, or gzip with no end to check
        MalformedResponse,  // not an HTTP/1.x answer, or framed two ways at once
    };
    Q_ENUM(Error)

    static constexpr int DefaultTransferTimeout = 10000;
    static constexpr int DefaultDeadline = 60000;
    static constexpr qint64 MaxResponseSize = 64 * 1024;

    explicit HttpRequest(const QUrl &url, QObject *parent = nullptr)
        : QObject(parent)
        , m_url(url)
    {
    }
    ~HttpRequest() override { cancel(); }

    QByteArray method() const { return m_body.isEmpty() ? "GET" : "POST"; }
    void setRawHeader(const QByteArray &name, const QByteArray &value) { m_headers[name] = value; }
    QByteArray rawHeader(const QByteArray &name) const { return m_headers.value(name); }
    QByteArray body() const { return m_body; }
    void setBody(const QByteArray &body) { m_body = body; }
    // Called when queued and when started: what is sent is the body built then.
    virtual void buildBody() {}

    // Less than a byte a second for this long (in whole seconds) ends the request.
    void setTransferTimeout(int msecs) { m_transferTimeout = msecs; }
    // Time the whole request may take, redirects included; 0 for no limit.
    void setDeadline(int msecs) { m_deadline = msecs; }
    // A PEM file of the authorities trusted instead of the system's.
    void setCaFile(const QByteArray &path) { m_caFile = path; }

    int statusCode() const { return m_status; }
    QByteArray responseBody() const { return m_responseBody; }
    QByteArray contentType() const { return m_contentType; }
    QUrl finalUrl() const { return m_finalUrl; }
    Error error() const { return m_error; }
    QString errorString() const { return m_errorString; }

    // Runs on the pool's threads, or the global pool's; ends with finished
    // or failed, once, from the event loop.
    void start(QThreadPool *pool = nullptr);
    // Stops the transfer without a signal and without waiting for it.
    void cancel();

Q_SIGNALS:
    void finished(tallivo::HttpRequest *request); // an answer, whatever its status
    void failed(tallivo::HttpRequest *request);   // no complete answer

protected:
    // The first error is kept; the request then fails when started.
    void setError(Error error, const QString &text)
    {
        if (m_error == Error::NoError)
            std::tie(m_error, m_errorString) = std::pair(error, text);
    }

private:
    friend struct HttpTransfer;
    void transferEnded();

    QUrl m_url, m_finalUrl;
    QByteArray m_caFile, m_body, m_responseBody, m_contentType;
    QMap<QByteArray, QByteArray> m_headers;
    int m_transferTimeout = DefaultTransferTimeout, m_deadline = DefaultDeadline, m_status = 0;
    std::shared_ptr<HttpTransfer> m_transfer;
    Error m_error = Error::NoError;
    QString m_errorString;
    bool m_done = false; // or cancelled
};

} // namespace tallivo
