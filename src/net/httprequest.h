#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <memory>

class QThreadPool;

namespace tallivo {

struct HttpTransfer;

// One asynchronous HTTP request, run by libcurl on a worker thread; the answer
// (or the error) comes back on the request's thread and stays readable. Only
// http and https are spoken, redirects included, and never https then http.
// An answer counts only when it ended as its framing says and a gzip stream
// ended with its trailer. Proxies come from the environment, as curl takes them.
class HttpRequest : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpRequest)

public:
    enum class Error
    {
        NoError,
        InvalidRequest,     // not http(s), or the body could not be built
        ConnectionFailed,   // no answer: refused, reset, name not found
        TimedOut,           // silent for transferTimeout(), or past deadline()
        RedirectRefused,    // to another scheme, from https to http, or too many
        ResponseTooLarge,   // more than MaxResponseSize bytes, inflated
        ResponseIncomplete, // the connection ended before the answer did
        InflateFailed,      // damaged, not gzip, or inflating out of all proportion
        MalformedResponse,  // not an HTTP/1.x answer, or framed two ways at once
    };
    Q_ENUM(Error)

    static constexpr int DefaultTransferTimeout = 10000;
    static constexpr int DefaultDeadline = 60000;
    static constexpr qint64 MaxResponseSize = 64 * 1024;
    static constexpr qint64 MaxTransferSize = 2 * MaxResponseSize; // before inflating
    static constexpr int MaxRedirects = 5;

    explicit HttpRequest(const QUrl &url, QObject *parent = nullptr);
    ~HttpRequest() override;

    QUrl url() const { return m_url; }
    QByteArray method() const { return m_method; }
    void setMethod(const QByteArray &method) { m_method = method; }
    // Sets a header, replacing an earlier value of the same name.
    void setRawHeader(const QByteArray &name, const QByteArray &value);
    QByteArray rawHeader(const QByteArray &name) const;
    void setBody(const QByteArray &body);
    QByteArray body() const { return m_body; }
    // Builds the body once; later calls do nothing.
    virtual void buildBody();
    bool isBodyBuilt() const { return m_bodyBuilt; }

    // Time without any network activity after which the request gives up.
    void setTransferTimeout(int msecs) { m_transferTimeout = msecs; }
    // Time the whole request may take, redirects included.
    void setDeadline(int msecs) { m_deadline = msecs; }
    void setUserAgent(const QString &agent) { m_userAgent = agent; }
    // "<name> <version> (<cpu>; <kernel> <x.y.z>; <locale>)"
    static QString defaultUserAgent();

    int statusCode() const { return m_status; }
    QByteArray responseHeader(const QByteArray &name) const;
    QByteArray responseBody() const { return m_responseBody; }
    // The body decoded by the answer's charset; ISO Latin-1 when none is named.
    QString responseText() const;
    QUrl finalUrl() const { return m_finalUrl; }
    Error error() const { return m_error; }
    QString errorString() const { return m_errorString; }
    bool isFinished() const { return m_done; }

    // Whose threads run the transfer; without one the request keeps its own.
    void setThreadPool(QThreadPool *pool) { m_pool = pool; }
    // Sends the request; ends with finished or failed, once, from the event loop.
    void start();
    // Stops the transfer without a signal and without waiting for it.
    void cancel();

Q_SIGNALS:
    void finished(tallivo::HttpRequest *request); // an answer, whatever its status
    void failed(tallivo::HttpRequest *request);   // no complete answer

protected:
    // The first error is kept; the request then fails when started.
    void setError(Error error, const QString &text);
    void appendBody(const QByteArray &data) { m_body.append(data); }
    void finishBody();
    void clearBody();

private:
    friend struct HttpTransfer;
    void transferEnded();

    QUrl m_url, m_finalUrl;
    QByteArray m_method = QByteArrayLiteral("GET");
    QList<QPair<QByteArray, QByteArray>> m_headers, m_responseHeaders;
    QByteArray m_body, m_responseBody;
    bool m_bodyBuilt = false;
    int m_transferTimeout = DefaultTransferTimeout;
    int m_deadline = DefaultDeadline;
    QString m_userAgent, m_errorString;
    QThreadPool *m_pool = nullptr;
    std::unique_ptr<QThreadPool> m_ownPool;
    std::shared_ptr<HttpTransfer> m_transfer;
    int m_status = 0;
    Error m_error = Error::NoError;
    bool m_done = false, m_cancelled = false;
};

} // namespace tallivo
