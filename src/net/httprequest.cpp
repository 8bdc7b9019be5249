#include "httprequest.h"

#include "netlogging.h"

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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool isHttpUrl(const QUrl &url)
{
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

// Errors Qt reports for an answer that did arrive, with an error status.
bool isStatusError(QNetworkReply::NetworkError code)
{
    return (code >= QNetworkReply::ContentAccessDenied &&
            code <= QNetworkReply::UnknownContentError) ||
           code == QNetworkReply::ProtocolInvalidOperationError ||
           (code >= QNetworkReply::InternalServerError &&
            code <= QNetworkReply::UnknownServerError);
}

} // namespace

HttpRequest::HttpRequest(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_userAgent(defaultUserAgent())
{
}

HttpRequest::~HttpRequest()
{
    cancel();
}

QString HttpRequest::defaultUserAgent()
{
    const QVersionNumber system = QVersionNumber::fromString(QSysInfo::kernelVersion());
    QString kernel = QSysInfo::kernelType();
    if (!kernel.isEmpty())
        kernel[0] = kernel.at(0).toUpper();
    return QStringLiteral("%1 %2 (%3; %4 %5.%6.%7; %8)")
        .arg(QStringLiteral(TALLIVO_DISPLAY_NAME), QStringLiteral(TALLIVO_VERSION),
             QSysInfo::currentCpuArchitecture(), kernel, QString::number(system.majorVersion()),
             QString::number(system.minorVersion()), QString::number(system.microVersion()),
             QLocale().name());
}

void HttpRequest::setRawHeader(const QByteArray &name, const QByteArray &value)
{
    for (auto &header : m_headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            header.second = value;
            return;
        }
    }
    m_headers.append({name, value});
}

QByteArray HttpRequest::rawHeader(const QByteArray &name) const
{
    return headerValue(m_headers, name);
}

void HttpRequest::setBody(const QByteArray &body)
{
    clearBody();
    m_body = body;
}

QByteArray HttpRequest::body() const
{
    if (!m_bodyFile)
        return m_body;
    QFile file(m_bodyFile->fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

qint64 HttpRequest::bodySize() const
{
    return m_bodyFile ? m_bodyFile->size() : m_body.size();
}

void HttpRequest::buildBody()
{
    if (!m_bodyBuilt)
        finishBody();
}

void HttpRequest::setError(Error error, const QString &text)
{
    if (m_error != Error::NoError)
        return;
    m_error = error;
    m_errorString = text;
    qCDebug(lcNet) << m_url.toDisplayString() << error << text;
}

void HttpRequest::beginBodyFile()
{
    m_body.clear();
    m_bodyFile = std::make_unique<QTemporaryFile>();
    if (!m_bodyFile->open()) {
        m_bodyFile.reset();
        setError(Error::InvalidRequest, tr("Failed to create a temporary file for the body"));
    }
}

void HttpRequest::appendBody(const QByteArray &data)
{
    if (!m_bodyFile) {
        m_body.append(data);
        return;
    }
    if (m_bodyFile->write(data) != data.size())
        setError(Error::InvalidRequest,
                 tr("Failed to write the body: %1").arg(m_bodyFile->errorString()));
}

bool HttpRequest::appendBodyFile(const QString &path)
{
    // Opened without blocking, so a FIFO put in the file's place cannot hang us.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        setError(Error::InvalidRequest, tr("Failed to read file at path %1").arg(path));
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        setError(Error::InvalidRequest, tr("Failed to read file at path %1").arg(path));
        return false;
    }
    // Copied in pieces so a large file never sits in memory whole.
    while (!file.atEnd()) {
        const QByteArray piece = file.read(64 * 1024);
        if (piece.isEmpty() && file.error() != QFileDevice::NoError) {
            setError(Error::InvalidRequest, tr("Failed to read file at path %1").arg(path));
            return false;
        }
        appendBody(piece);
    }
    return true;
}

void HttpRequest::finishBody()
{
    m_bodyBuilt = true;
    if (m_bodyFile && !m_bodyFile->flush())
        setError(Error::InvalidRequest,
                 tr("Failed to write the body: %1").arg(m_bodyFile->errorString()));
    const qint64 length = bodySize();
    if (length > 0) {
        if (m_method == "GET" || m_method == "DELETE" || m_method == "HEAD")
            m_method = QByteArrayLiteral("POST");
        setRawHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(length));
    }
}

void HttpRequest::clearBody()
{
    m_body.clear();
    m_bodyFile.reset();
    m_bodyBuilt = false;
}

QByteArray HttpRequest::responseHeader(const QByteArray &name) const
{
    return headerValue(m_responseHeaders, name);
}

QString HttpRequest::responseText() const
{
    const QByteArray charset = charsetOf(responseHeader(QByteArrayLiteral("Content-Type")));
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid()) {
            const QString text = decoder.decode(m_responseBody);
            if (!decoder.hasError())
                return text;
        }
    }
    return QString::fromLatin1(m_responseBody);
}

void HttpRequest::failLater()
{
    QTimer::singleShot(0, this, [this] {
        if (m_cancelled || m_done)
            return;
        m_done = true;
        emit failed(this);
    });
}

void HttpRequest::start(QNetworkAccessManager *manager)
{
    if (m_done || m_reply || m_cancelled)
        return;
    if (!isHttpUrl(m_url))
        setError(Error::InvalidRequest,
                 tr("Not an http or https address: %1").arg(m_url.toDisplayString()));
    buildBody();
    if (m_error == Error::NoError) {
        if (m_bodyFile) {
            auto file = std::make_unique<QFile>(m_bodyFile->fileName());
            if (file->open(QIODevice::ReadOnly))
                m_uploadDevice = std::move(file);
            else
                setError(Error::InvalidRequest, tr("Failed to open the body"));
        } else if (!m_body.isEmpty()) {
            auto buffer = std::make_unique<QBuffer>();
            buffer->setData(m_body);
            buffer->open(QIODevice::ReadOnly);
            m_uploadDevice = std::move(buffer);
        }
    }
    if (m_error != Error::NoError) {
        failLater();
        return;
    }

    QNetworkRequest request(m_url);
    // Qt follows http(s) redirects, never from https to http, and inflates
    // compressed answers itself (it sends Accept-Encoding when we do not).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setTransferTimeout(m_transferTimeout);
    // Qt judges the compression ratio only past this size: at our cap, a bomb stops early.
    request.setDecompressedSafetyCheckThreshold(MaxResponseSize);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), m_userAgent.toUtf8());
    for (const auto &header : std::as_const(m_headers))
        request.setRawHeader(header.first, header.second);

    QIODevice *body = m_uploadDevice.get();
    if (m_method == "GET" && !body)
        m_reply = manager->get(request);
    else if (m_method == "POST")
        m_reply = manager->post(request, body);
    else if (m_method == "PUT")
        m_reply = manager->put(request, body);
    else if (m_method == "HEAD")
        m_reply = manager->head(request);
    else
        m_reply = manager->sendCustomRequest(request, m_method, body);
    // Never more than the cap waits in Qt's buffer: it is read as it comes.
    m_reply->setReadBufferSize(MaxResponseSize + 1);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length =
            m_reply ? m_reply->header(QNetworkRequest::ContentLengthHeader) : QVariant();
        if (length.isValid() && length.toLongLong() > MaxResponseSize)
            abortWith(Error::ResponseTooLarge,
                      tr("The answer announces %1 bytes").arg(length.toLongLong()));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &HttpRequest::readAvailable);
    connect(m_reply, &QNetworkReply::finished, this, &HttpRequest::onReplyFinished);
}

bool HttpRequest::dropReply()
{
    if (!m_reply)
        return false;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    return true;
}

void HttpRequest::cancel()
{
    m_cancelled = !m_done;
    dropReply();
}

void HttpRequest::abortWith(Error error, const QString &text)
{
    if (!dropReply())
        return;
    m_uploadDevice.reset();
    fail(error, text);
}

void HttpRequest::fail(Error error, const QString &text)
{
    // Part of an answer is no answer.
    m_responseBody.clear();
    setError(error, text);
    m_done = true;
    emit failed(this);
}

void HttpRequest::readAvailable()
{
    // A reply that timed out or was refused is closed already.
    if (!m_reply || !m_reply->isOpen())
        return;
    if (m_reply->bytesAvailable() > MaxResponseSize - m_responseBody.size()) {
        abortWith(Error::ResponseTooLarge,
                  tr("The answer is larger than %1 bytes").arg(MaxResponseSize));
        return;
    }
    m_responseBody += m_reply->readAll();
}

void HttpRequest::onReplyFinished()
{
    readAvailable();
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    m_uploadDevice.reset();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError code = reply->error();
    // An error status is still an answer; anything else going wrong is not.
    const bool answered =
        code == QNetworkReply::NoError || (status.toInt() >= 400 && isStatusError(code));
    if (!answered) {
        switch (code) {
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError:
            fail(Error::TimedOut, tr("The request timed out"));
            break;
        case QNetworkReply::TooManyRedirectsError:
        case QNetworkReply::InsecureRedirectError:
        case QNetworkReply::ProtocolUnknownError:
            fail(Error::RedirectRefused, reply->errorString());
            break;
        case QNetworkReply::UnknownContentError:
            // Qt's own check of the compression ratio, or a damaged stream.
            fail(Error::InflateFailed, reply->errorString());
            break;
        default:
            // An answer had begun: the connection ended before it did.
            fail(status.isValid() ? Error::ResponseIncomplete : Error::ConnectionFailed,
                 reply->errorString());
            break;
        }
        return;
    }

    m_done = true;
    m_status = status.toInt();
    m_responseHeaders = reply->rawHeaderPairs();
    m_finalUrl = reply->url();
    // Qt accepts a body shorter than its Content-Length when the connection
    // closes; an inflated body is measured against what it inflated from.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool inflated = !reply->rawHeader(QByteArrayLiteral("Content-Encoding")).isEmpty();
    if (!inflated && length.isValid() && m_responseBody.size() != length.toLongLong()) {
        fail(Error::ResponseIncomplete, tr("The answer ended after %1 of %2 bytes")
                                            .arg(m_responseBody.size())
                                            .arg(length.toLongLong()));
        return;
    }
    emit finished(this);
}

} // namespace tallivo
