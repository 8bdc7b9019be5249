#include "httprequest.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QSysInfo>
#include <QTemporaryFile>
#include <QTimer>
#include <QVersionNumber>

#include <zlib.h>

namespace tallivo {

namespace {

QByteArray headerValue(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &name)
{
    // The last of several equal names wins, as when a header is set twice.
    QByteArray value;
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            value = header.second;
    }
    return value;
}

QByteArray charsetOf(const QByteArray &contentType)
{
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts.at(i).trimmed();
        if (part.toLower().startsWith("charset=")) {
            QByteArray name = part.mid(8).trimmed();
            if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
                name = name.mid(1, name.size() - 2);
            return name;
        }
    }
    return {};
}

} // namespace

bool inflateGzip(const QByteArray &compressed, QByteArray *out)
{
    z_stream stream{};
    // 32 + MAX_WBITS: accept both gzip and zlib headers.
    if (inflateInit2(&stream, 32 + MAX_WBITS) != Z_OK)
        return false;
    QByteArray result;
    char chunk[16384];
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof(chunk);
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            inflateEnd(&stream);
            return false;
        }
        result.append(chunk, static_cast<qsizetype>(sizeof(chunk) - stream.avail_out));
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
            // Truncated stream: no more input and no end marker.
            inflateEnd(&stream);
            return false;
        }
    }
    inflateEnd(&stream);
    *out = result;
    return true;
}

HttpRequest::HttpRequest(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_userAgent(defaultUserAgentString())
{
}

HttpRequest::~HttpRequest()
{
    cancel();
}

QString HttpRequest::defaultUserAgentString()
{
    const QString version = QStringLiteral(TALLIVO_VERSION);
    const QVersionNumber system = QVersionNumber::fromString(QSysInfo::kernelVersion());
    QString kernel = QSysInfo::kernelType();
    if (!kernel.isEmpty())
        kernel[0] = kernel.at(0).toUpper();
    return QStringLiteral("%1 %2 (%3; %4 %5.%6.%7; %8)")
        .arg(QStringLiteral(TALLIVO_DISPLAY_NAME), version, QSysInfo::currentCpuArchitecture(),
             kernel, QString::number(system.majorVersion()), QString::number(system.minorVersion()),
             QString::number(system.microVersion()), QLocale().name());
}

void HttpRequest::addRequestHeader(const QByteArray &name, const QByteArray &value)
{
    for (auto &header : m_headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            header.second = value;
            return;
        }
    }
    m_headers.append({name, value});
}

QByteArray HttpRequest::requestHeader(const QByteArray &name) const
{
    return headerValue(m_headers, name);
}

void HttpRequest::setPostBody(const QByteArray &body)
{
    clearPostBody();
    m_postBody = body;
}

QByteArray HttpRequest::postBody() const
{
    if (!m_postBodyFile)
        return m_postBody;
    QFile file(m_postBodyFile->fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

qint64 HttpRequest::postLength() const
{
    return m_postBodyFile ? m_postBodyFile->size() : m_postBody.size();
}

void HttpRequest::buildPostBody()
{
    if (m_haveBuiltPostBody)
        return;
    finishPostBody();
}

void HttpRequest::setupPostBodyFile()
{
    m_postBody.clear();
    m_postBodyFile = std::make_unique<QTemporaryFile>();
    if (!m_postBodyFile->open()) {
        m_postBodyFile.reset();
        fail(InternalErrorWhileBuildingRequestType,
             QStringLiteral("Failed to create a temporary file for the request body"));
    }
}

void HttpRequest::appendPostData(const QByteArray &data)
{
    if (m_postBodyFile) {
        if (m_postBodyFile->write(data) != data.size())
            fail(InternalErrorWhileBuildingRequestType,
                 QStringLiteral("Failed to write the request body"));
    } else {
        m_postBody.append(data);
    }
}

bool HttpRequest::appendPostDataFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(InternalErrorWhileBuildingRequestType,
             QStringLiteral("Failed to read file at path %1").arg(path));
        return false;
    }
    // Copied in pieces so a large file never sits in memory whole.
    while (!file.atEnd()) {
        const QByteArray piece = file.read(64 * 1024);
        if (piece.isEmpty() && file.error() != QFileDevice::NoError) {
            fail(InternalErrorWhileBuildingRequestType,
                 QStringLiteral("Failed to read file at path %1").arg(path));
            return false;
        }
        appendPostData(piece);
    }
    return true;
}

void HttpRequest::finishPostBody()
{
    m_haveBuiltPostBody = true;
    if (m_postBodyFile)
        m_postBodyFile->flush();
    const qint64 length = postLength();
    if (length > 0) {
        if (m_method == "GET" || m_method == "DELETE" || m_method == "HEAD")
            m_method = QByteArrayLiteral("POST");
        addRequestHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(length));
    }
}

void HttpRequest::clearPostBody()
{
    m_postBody.clear();
    m_postBodyFile.reset();
    m_haveBuiltPostBody = false;
}

QByteArray HttpRequest::responseHeader(const QByteArray &name) const
{
    return headerValue(m_responseHeaders, name);
}

QString HttpRequest::responseString() const
{
    const QByteArray charset = charsetOf(responseHeader(QByteArrayLiteral("Content-Type")));
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid()) {
            const QString text = decoder.decode(m_responseData);
            if (!decoder.hasError())
                return text;
        }
    }
    return QString::fromLatin1(m_responseData);
}

bool HttpRequest::isExecuting() const
{
    return !m_reply.isNull();
}

void HttpRequest::failWithError(int code, const QString &description)
{
    m_error = {QString::fromLatin1(NetworkRequestErrorDomain), code, description};
}

void HttpRequest::fail(int code, const QString &description)
{
    if (m_error.isNull())
        failWithError(code, description);
}

void HttpRequest::start(QNetworkAccessManager *manager)
{
    if (m_done || m_reply || m_cancelled)
        return;
    buildPostBody();
    if (!m_error.isNull()) {
        QTimer::singleShot(0, this, [this] {
            if (m_cancelled || m_done)
                return;
            m_done = true;
            emit requestFailed(this);
        });
        return;
    }

    m_finalUrl = m_url;
    m_redirectCount = 0;
    m_sendMethod = m_method;
    m_sendBody = true;
    send(manager);
}

void HttpRequest::send(QNetworkAccessManager *manager)
{
    m_manager = manager;
    QNetworkRequest request(m_finalUrl);
    // Redirects are followed here, so the final address and the method rules are ours.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_timeOut);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), m_userAgent.toUtf8());
    // Setting the header ourselves keeps Qt from inflating; we do it below.
    request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), m_allowCompressed
                                                                   ? QByteArrayLiteral("gzip")
                                                                   : QByteArrayLiteral("identity"));
    for (const auto &header : std::as_const(m_headers)) {
        const bool bodyHeader = header.first.compare("Content-Length", Qt::CaseInsensitive) == 0 ||
                                header.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
        if (m_sendBody || !bodyHeader)
            request.setRawHeader(header.first, header.second);
    }

    m_uploadDevice.reset();
    if (m_sendBody && m_postBodyFile) {
        auto file = std::make_unique<QFile>(m_postBodyFile->fileName());
        if (!file->open(QIODevice::ReadOnly)) {
            fail(InternalErrorWhileBuildingRequestType,
                 QStringLiteral("Failed to open the request body"));
            m_done = true;
            QTimer::singleShot(0, this, [this] {
                if (!m_cancelled)
                    emit requestFailed(this);
            });
            return;
        }
        m_uploadDevice = std::move(file);
    } else if (m_sendBody && !m_postBody.isEmpty()) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(m_postBody);
        buffer->open(QIODevice::ReadOnly);
        m_uploadDevice = std::move(buffer);
    }

    QIODevice *body = m_uploadDevice.get();
    if (m_sendMethod == "GET" && !body)
        m_reply = manager->get(request);
    else if (m_sendMethod == "POST")
        m_reply = manager->post(request, body);
    else if (m_sendMethod == "PUT")
        m_reply = manager->put(request, body);
    else if (m_sendMethod == "HEAD")
        m_reply = manager->head(request);
    else
        m_reply = manager->sendCustomRequest(request, m_sendMethod, body);
    connect(m_reply, &QNetworkReply::finished, this, &HttpRequest::onReplyFinished);
}

void HttpRequest::cancel()
{
    m_cancelled = !m_done;
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void HttpRequest::onReplyFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    m_uploadDevice.reset();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError code = reply->error();
    // An error status from the server is still an answer; a transport error is not.
    const bool transportFailure = code != QNetworkReply::NoError &&
                                  (!status.isValid() || code < 200 || (code >= 300 && code < 400));
    if (transportFailure) {
        m_done = true;
        switch (code) {
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError:
            fail(RequestTimedOutErrorType, QStringLiteral("The request timed out"));
            break;
        case QNetworkReply::TooManyRedirectsError:
        case QNetworkReply::InsecureRedirectError:
            fail(TooMuchRedirectionErrorType, reply->errorString());
            break;
        default:
            fail(ConnectionFailureErrorType, reply->errorString());
            break;
        }
        emit requestFailed(this);
        return;
    }

    const int statusCode = status.toInt();
    const QByteArray location = reply->rawHeader(QByteArrayLiteral("Location"));
    const bool redirect = statusCode == 301 || statusCode == 302 || statusCode == 303 ||
                          statusCode == 307 || statusCode == 308;
    if (redirect && !location.isEmpty() && m_manager) {
        if (++m_redirectCount > MaxRedirects) {
            m_done = true;
            fail(TooMuchRedirectionErrorType,
                 QStringLiteral("The request was redirected too many times"));
            emit requestFailed(this);
            return;
        }
        m_finalUrl = m_finalUrl.resolved(QUrl::fromEncoded(location));
        // 307 and 308 repeat the request as it was; the others fetch the new address.
        if (statusCode != 307 && statusCode != 308) {
            if (m_sendMethod != "HEAD")
                m_sendMethod = QByteArrayLiteral("GET");
            m_sendBody = false;
        }
        send(m_manager);
        return;
    }

    m_status = statusCode;
    m_responseHeaders = reply->rawHeaderPairs();
    m_responseData = reply->readAll();
    const QByteArray encoding = responseHeader(QByteArrayLiteral("Content-Encoding")).trimmed();
    if (encoding.compare("gzip", Qt::CaseInsensitive) == 0 ||
        encoding.compare("x-gzip", Qt::CaseInsensitive) == 0) {
        QByteArray inflated;
        if (!inflateGzip(m_responseData, &inflated)) {
            m_done = true;
            fail(CompressionError, QStringLiteral("Failed to inflate the response"));
            emit requestFailed(this);
            return;
        }
        m_responseData = inflated;
    }
    m_done = true;
    emit requestFinished(this);
}

} // namespace tallivo
