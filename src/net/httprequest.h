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

inline constexpr char NetworkRequestErrorDomain[] = "ASIHTTPRequestErrorDomain";

enum NetworkErrorType
{
    ConnectionFailureErrorType = 1,
    RequestTimedOutErrorType = 2,
    AuthenticationErrorType = 3,
    RequestCancelledErrorType = 4,
    UnableToCreateRequestErrorType = 5,
    InternalErrorWhileBuildingRequestType = 6,
    InternalErrorWhileApplyingCredentialsType = 7,
    FileManagementError = 8,
    TooMuchRedirectionErrorType = 9,
    UnhandledExceptionError = 10,
    CompressionError = 11,
};

struct RequestError
{
    QString domain;
    int code = 0;
    QString description;
    bool isNull() const { return code == 0; }
};

// One asynchronous HTTP request. A queue starts it; the answer (or the error
// when there is none) stays readable on the object afterwards.
class HttpRequest : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeOutMilliseconds = 10000;

    explicit HttpRequest(const QUrl &url, QObject *parent = nullptr);
    ~HttpRequest() override;

    QUrl url() const { return m_url; }
    QByteArray requestMethod() const { return m_method; }
    void setRequestMethod(const QByteArray &method) { m_method = method; }

    // Sets a header, replacing an earlier value of the same name.
    void addRequestHeader(const QByteArray &name, const QByteArray &value);
    QByteArray requestHeader(const QByteArray &name) const;
    QList<QPair<QByteArray, QByteArray>> requestHeaders() const { return m_headers; }

    void setPostBody(const QByteArray &body);
    // The whole body as built, read back from disk when it lives in a file.
    QByteArray postBody() const;
    qint64 postLength() const;
    virtual void buildPostBody();
    bool haveBuiltPostBody() const { return m_haveBuiltPostBody; }

    // Time without any network activity after which the request gives up.
    int timeOutMilliseconds() const { return m_timeOut; }
    void setTimeOutMilliseconds(int msecs) { m_timeOut = msecs; }

    // Ask for gzip answers and inflate them.
    bool allowCompressedResponse() const { return m_allowCompressed; }
    void setAllowCompressedResponse(bool allow) { m_allowCompressed = allow; }

    QString userAgent() const { return m_userAgent; }
    void setUserAgent(const QString &agent) { m_userAgent = agent; }
    static QString defaultUserAgentString();

    int responseStatusCode() const { return m_status; }
    QByteArray responseHeader(const QByteArray &name) const;
    QByteArray responseData() const { return m_responseData; }
    // The body decoded by the answer's charset; ISO Latin-1 when none is named.
    QString responseString() const;
    QUrl finalUrl() const { return m_finalUrl; }

    RequestError error() const { return m_error; }
    void failWithError(int code, const QString &description);
    bool isFinished() const { return m_done; }
    bool isCancelled() const { return m_cancelled; }
    bool isExecuting() const;

    // Sends the request through the manager; ends with requestFinished or
    // requestFailed, never both. A request that failed before it started
    // reports its failure from the event loop.
    void start(QNetworkAccessManager *manager);
    // Stops the transfer without a callback.
    void cancel();

Q_SIGNALS:
    void requestFinished(tallivo::HttpRequest *request);
    void requestFailed(tallivo::HttpRequest *request);

protected:
    // The body is assembled in a temporary file instead of memory.
    void setupPostBodyFile();
    void appendPostData(const QByteArray &data);
    bool appendPostDataFromFile(const QString &path);
    void finishPostBody();
    void clearPostBody();

private:
    void send(QNetworkAccessManager *manager);
    void onReplyFinished();
    void fail(int code, const QString &description);

    QUrl m_url;
    QUrl m_finalUrl;
    QByteArray m_method = QByteArrayLiteral("GET");
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_postBody;
    std::unique_ptr<QTemporaryFile> m_postBodyFile;
    std::unique_ptr<QIODevice> m_uploadDevice;
    bool m_haveBuiltPostBody = false;
    int m_timeOut = DefaultTimeOutMilliseconds;
    bool m_allowCompressed = true;
    QString m_userAgent;

    static constexpr int MaxRedirects = 5;
    QPointer<QNetworkAccessManager> m_manager;
    QByteArray m_sendMethod;
    bool m_sendBody = true;
    int m_redirectCount = 0;
    QPointer<QNetworkReply> m_reply;
    int m_status = 0;
    QList<QPair<QByteArray, QByteArray>> m_responseHeaders;
    QByteArray m_responseData;
    RequestError m_error;
    bool m_done = false;
    bool m_cancelled = false;
};

// Inflates a gzip (or zlib) stream; false when it is damaged.
bool inflateGzip(const QByteArray &compressed, QByteArray *out);

} // namespace tallivo
