#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

namespace tallivo {

// One asynchronous HTTP request. A queue starts it; the answer (or the error
// when there is none) stays readable on the object afterwards. Only http and
// https are spoken, redirects included; answers are capped at MaxResponseSize
// after inflating, and an answer cut off before its announced end is a
// failure. (Qt hides how much of a compressed answer arrived, so a compressed
// answer cut off inside its data gives what was inflated up to the cut.)
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
        TimedOut,           // no network activity for transferTimeout()
        RedirectRefused,    // to another scheme, from https to http, or too many
        ResponseTooLarge,   // more than MaxResponseSize bytes, inflated
        ResponseIncomplete, // the connection ended before the answer did
        InflateFailed,      // damaged, or inflating out of all proportion
    };
    Q_ENUM(Error)

    static constexpr int DefaultTransferTimeout = 10000;
    static constexpr qint64 MaxResponseSize = 64 * 1024;
    static constexpr int MaxRedirects = 5;

    explicit HttpRequest(const QUrl &url, QObject *parent = nullptr);
    ~HttpRequest() override;

    QUrl url() const { return m_url; }
    QByteArray method() const { return m_method; }
    void setMethod(const QByteArray &method) { m_method = method; }

    // Sets a header, replacing an earlier value of the same name.
    void setRawHeader(const QByteArray &name, const QByteArray &value);
    QByteArray rawHeader(const QByteArray &name) const;
    QList<QPair<QByteArray, QByteArray>> rawHeaders() const { return m_headers; }

    void setBody(const QByteArray &body);
    // The whole body as built, read back from disk when it lives in a file.
    QByteArray body() const;
    qint64 bodySize() const;
    // Builds the body once; later calls do nothing.
    virtual void buildBody();
    bool isBodyBuilt() const { return m_bodyBuilt; }

    // Time without any network activity after which the request gives up.
    int transferTimeout() const { return m_transferTimeout; }
    void setTransferTimeout(int msecs) { m_transferTimeout = msecs; }

    QString userAgent() const { return m_userAgent; }
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
    bool isCancelled() const { return m_cancelled; }
    bool isRunning() const { return !m_reply.isNull(); }

    // Sends the request through the manager; ends with finished or failed,
    // never both. A request that failed before it started reports its failure
    // from the event loop.
    void start(QNetworkAccessManager *manager);
    // Stops the transfer without a signal.
    void cancel();

Q_SIGNALS:
    // An answer arrived, whatever its status.
    void finished(tallivo::HttpRequest *request);
    // No complete answer arrived.
    void failed(tallivo::HttpRequest *request);

protected:
    // The first error is kept; the request then fails when started.
    void setError(Error error, const QString &text);
    // The body is assembled in a temporary file instead of memory.
    void beginBodyFile();
    void appendBody(const QByteArray &data);
    // Appends a regular file's content; false, with the error set, otherwise.
    bool appendBodyFile(const QString &path);
    void finishBody();
    void clearBody();

private:
    void readAvailable();
    void onReplyFinished();
    // Lets go of the reply, unheard; false when there was none.
    bool dropReply();
    void abortWith(Error error, const QString &text);
    void fail(Error error, const QString &text);
    void failLater();

    QUrl m_url;
    QUrl m_finalUrl;
    QByteArray m_method = QByteArrayLiteral("GET");
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;
    std::unique_ptr<QTemporaryFile> m_bodyFile;
    std::unique_ptr<QIODevice> m_uploadDevice;
    bool m_bodyBuilt = false;
    int m_transferTimeout = DefaultTransferTimeout;
    QString m_userAgent;

    QPointer<QNetworkReply> m_reply;
    int m_status = 0;
    QList<QPair<QByteArray, QByteArray>> m_responseHeaders;
    QByteArray m_responseBody;
    Error m_error = Error::NoError;
    QString m_errorString;
    bool m_done = false;
    bool m_cancelled = false;
};

} // namespace tallivo
