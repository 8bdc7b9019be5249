#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

class QIODevice;
class QTcpSocket;
class QTemporaryFile;

namespace tallivo {

class HttpResponseParser;

// One asynchronous HTTP/1.1 request on a connection of its own. A queue
// starts it; the answer (or the error when there is none) stays readable on
// the object afterwards. Only http and https are spoken, redirects included.
// An answer counts only when it ended as its framing says (its length, its
// last chunk, or the close of a connection that announced neither) and, when
// gzip-compressed, its stream ended with a matching trailer. Answers are
// capped at MaxResponseSize after inflating. Besides the silence timeout,
// a deadline bounds the whole request, a server that trickles included.
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
    // What may arrive before inflating: gzip never grows text by this much.
    static constexpr qint64 MaxTransferSize = 2 * MaxResponseSize;
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
    // Time the whole request may take, redirects included.
    int deadline() const { return m_deadline; }
    void setDeadline(int msecs) { m_deadline = msecs; }

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
    bool isRunning() const { return m_socket != nullptr; }

    // The body of a complete answer in its content coding, as delivered:
    // NoError with the body, or the error and why, with no body at all.
    static Error decodeBody(const QByteArray &contentEncoding, const QByteArray &raw,
                            QByteArray *body, QString *why);

    // Sends the request; ends with finished or failed, never both. A request
    // that failed before it started reports its failure from the event loop.
    void start();
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
    // One exchange on a new connection, with the current URL and method.
    void connectTo();
    void sendHead();
    void sendBody();
    void readAvailable();
    void connectionEnded();
    void answered();
    // Follows a redirect; false when the answer is not one.
    bool redirected();
    bool openUpload();
    // Lets go of the connection, unheard; false when there was none.
    bool dropConnection();
    void abortWith(Error error, const QString &text);
    void fail(Error error, const QString &text);
    void failLater();

    QUrl m_url;
    QUrl m_finalUrl;
    QByteArray m_method = QByteArrayLiteral("GET");
    QByteArray m_sentMethod; // changes when a redirect turns a POST into a GET
    bool m_sendBody = true;
    int m_redirects = 0;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;
    std::unique_ptr<QTemporaryFile> m_bodyFile;
    std::unique_ptr<QIODevice> m_uploadDevice;
    bool m_bodyBuilt = false;
    int m_transferTimeout = DefaultTransferTimeout;
    int m_deadline = DefaultDeadline;
    QString m_userAgent;

    QTcpSocket *m_socket = nullptr;
    std::unique_ptr<HttpResponseParser> m_parser;
    QTimer m_silence;
    QTimer m_overall;
    int m_status = 0;
    QList<QPair<QByteArray, QByteArray>> m_responseHeaders;
    QByteArray m_responseBody;
    Error m_error = Error::NoError;
    QString m_errorString;
    bool m_done = false;
    bool m_cancelled = false;
};

} // namespace tallivo
