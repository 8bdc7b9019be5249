#include "httprequest.h"

#include "netlogging.h"

#include "httpresponseparser.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QSslSocket>
#include <QStringDecoder>
#include <QSysInfo>
#include <QTemporaryFile>
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

// A header name is a token; no value may carry a line break or a NUL.
bool isSendableHeader(const QByteArray &name, const QByteArray &value)
{
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f || c == ':')
            return false;
    }
    for (const char c : value) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

// Headers the request itself decides.
bool isOwnHeader(const QByteArray &name)
{
    for (const char *own : {"Host", "Connection", "Accept-Encoding", "Content-Length",
                            "Transfer-Encoding", "User-Agent", "TE", "Upgrade"}) {
        if (name.compare(own, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

HttpRequest::HttpRequest(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_userAgent(defaultUserAgent())
{
    m_silence.setSingleShot(true);
    m_overall.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        abortWith(Error::TimedOut, tr("No network activity for %1 ms").arg(m_transferTimeout));
    });
    connect(&m_overall, &QTimer::timeout, this, [this] {
        abortWith(Error::TimedOut, tr("The request took longer than %1 ms").arg(m_deadline));
    });
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
        Q_EMIT failed(this);
    });
}

void HttpRequest::start()
{
    if (m_done || m_socket || m_cancelled)
        return;
    if (!isHttpUrl(m_url))
        setError(Error::InvalidRequest,
                 tr("Not an http or https address: %1").arg(m_url.toDisplayString()));
    for (const auto &header : std::as_const(m_headers)) {
        if (!isSendableHeader(header.first, header.second))
            setError(Error::InvalidRequest,
                     tr("The header %1 cannot be sent").arg(QString::fromLatin1(header.first)));
    }
    if (!isSendableHeader("User-Agent", m_userAgent.toUtf8()))
        setError(Error::InvalidRequest, tr("The User-Agent cannot be sent"));
    buildBody();
    m_finalUrl = m_url.adjusted(QUrl::RemoveFragment);
    m_sentMethod = m_method;
    m_sendBody = true;
    m_redirects = 0;
    if (m_error != Error::NoError || !openUpload()) {
        failLater();
        return;
    }
    if (m_deadline > 0)
        m_overall.start(m_deadline);
    connectTo();
}

bool HttpRequest::openUpload()
{
    m_uploadDevice.reset();
    if (!m_sendBody || bodySize() == 0)
        return true;
    if (m_bodyFile) {
        auto file = std::make_unique<QFile>(m_bodyFile->fileName());
        if (!file->open(QIODevice::ReadOnly)) {
            setError(Error::InvalidRequest, tr("Failed to open the body"));
            return false;
        }
        m_uploadDevice = std::move(file);
    } else {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(m_body);
        buffer->open(QIODevice::ReadOnly);
        m_uploadDevice = std::move(buffer);
    }
    return true;
}

void HttpRequest::connectTo()
{
    const bool tls = m_finalUrl.scheme() == u"https";
    m_parser = std::make_unique<HttpResponseParser>(MaxTransferSize, m_sentMethod == "HEAD");
    if (tls && !QSslSocket::supportsSsl()) {
        m_uploadDevice.reset();
        fail(Error::ConnectionFailed, tr("TLS is not available"));
        return;
    }
    QTcpSocket *socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
    m_socket = socket;
    // Never more than this waits unread: it is read as it comes.
    socket->setReadBufferSize(64 * 1024);
    if (tls)
        connect(static_cast<QSslSocket *>(socket), &QSslSocket::encrypted, this,
                &HttpRequest::sendHead);
    else
        connect(socket, &QAbstractSocket::connected, this, &HttpRequest::sendHead);
    connect(socket, &QIODevice::readyRead, this, &HttpRequest::readAvailable);
    connect(socket, &QIODevice::bytesWritten, this, [this] {
        if (m_transferTimeout > 0)
            m_silence.start(m_transferTimeout);
        sendBody();
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, &HttpRequest::connectionEnded);
    connect(socket, &QAbstractSocket::disconnected, this, &HttpRequest::connectionEnded);
    if (m_transferTimeout > 0)
        m_silence.start(m_transferTimeout);
    const QString host = m_finalUrl.host();
    const quint16 port = quint16(m_finalUrl.port(tls ? 443 : 80));
    if (tls)
        static_cast<QSslSocket *>(socket)->connectToHostEncrypted(host, port);
    else
        socket->connectToHost(host, port);
}

void HttpRequest::sendHead()
{
    if (!m_socket)
        return;
    if (m_transferTimeout > 0)
        m_silence.start(m_transferTimeout);
    QByteArray target = m_finalUrl.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (m_finalUrl.hasQuery())
        target += '?' + m_finalUrl.query(QUrl::FullyEncoded).toLatin1();
    QByteArray head = m_sentMethod + ' ' + target + " HTTP/1.1\r\n";
    head += "Host: " +
            m_finalUrl.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() +
            "\r\n";
    const QByteArray agent = rawHeader("User-Agent");
    head += "User-Agent: " + (agent.isEmpty() ? m_userAgent.toUtf8() : agent) + "\r\n";
    // Only what is inflated and checked here: a gzip stream ends in a trailer.
    head += "Accept-Encoding: gzip\r\nConnection: close\r\n";
    for (const auto &header : std::as_const(m_headers)) {
        if (isOwnHeader(header.first))
            continue;
        if (!m_uploadDevice && header.first.compare("Content-Type", Qt::CaseInsensitive) == 0)
            continue;
        head += header.first + ": " + header.second + "\r\n";
    }
    if (m_uploadDevice)
        head += "Content-Length: " + QByteArray::number(m_uploadDevice->size()) + "\r\n";
    else if (m_sentMethod == "POST" || m_sentMethod == "PUT")
        head += "Content-Length: 0\r\n";
    head += "\r\n";
    m_socket->write(head);
    sendBody();
}

void HttpRequest::sendBody()
{
    // A piece at a time, so a large body never sits in memory whole.
    while (m_socket && m_uploadDevice && !m_uploadDevice->atEnd() &&
           m_socket->bytesToWrite() < 64 * 1024) {
        const QByteArray piece = m_uploadDevice->read(16 * 1024);
        if (piece.isEmpty()) {
            abortWith(Error::InvalidRequest, tr("Failed to read the body"));
            return;
        }
        m_socket->write(piece);
    }
}

bool HttpRequest::dropConnection()
{
    m_silence.stop();
    if (!m_socket)
        return false;
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    return true;
}

void HttpRequest::cancel()
{
    m_cancelled = !m_done;
    m_overall.stop();
    dropConnection();
    m_uploadDevice.reset();
}

void HttpRequest::abortWith(Error error, const QString &text)
{
    if (!dropConnection())
        return;
    m_uploadDevice.reset();
    fail(error, text);
}

void HttpRequest::fail(Error error, const QString &text)
{
    // Part of an answer is no answer.
    m_responseBody.clear();
    m_overall.stop();
    setError(error, text);
    m_done = true;
    Q_EMIT failed(this);
}

void HttpRequest::readAvailable()
{
    if (!m_socket)
        return;
    if (m_transferTimeout > 0)
        m_silence.start(m_transferTimeout);
    switch (m_parser->feed(m_socket->readAll())) {
    case HttpResponseParser::State::Reading:
        return;
    case HttpResponseParser::State::Complete:
        answered();
        return;
    case HttpResponseParser::State::TooLarge:
        abortWith(Error::ResponseTooLarge,
                  tr("The answer is larger than %1 bytes").arg(MaxTransferSize));
        return;
    case HttpResponseParser::State::Malformed:
    case HttpResponseParser::State::Incomplete:
        abortWith(Error::MalformedResponse, tr("The answer is not HTTP/1.1"));
        return;
    }
}

void HttpRequest::connectionEnded()
{
    // What arrived before the end is read first.
    while (m_socket && m_socket->bytesAvailable() > 0)
        readAvailable();
    if (!m_socket)
        return;
    const QAbstractSocket::SocketError code = m_socket->error();
    const QString reason = m_socket->errorString();
    dropConnection();
    if (!m_parser->hasStarted()) {
        m_uploadDevice.reset();
        fail(Error::ConnectionFailed, reason);
        return;
    }
    // A close ends an answer that announced neither length nor chunks;
    // any other answer it cuts short.
    const bool closed = code == QAbstractSocket::RemoteHostClosedError ||
                        code == QAbstractSocket::UnknownSocketError;
    if (closed && m_parser->finish() == HttpResponseParser::State::Complete) {
        answered();
        return;
    }
    m_uploadDevice.reset();
    fail(Error::ResponseIncomplete, tr("The connection ended before the answer did"));
}

bool HttpRequest::redirected()
{
    const int status = m_parser->statusCode();
    const QByteArray location = m_parser->header("Location").trimmed();
    if (!isRedirect(status) || location.isEmpty())
        return false;
    const QUrl target =
        m_finalUrl.resolved(QUrl::fromEncoded(location)).adjusted(QUrl::RemoveFragment);
    if (!isHttpUrl(target) || (m_finalUrl.scheme() == u"https" && target.scheme() != u"https")) {
        fail(Error::RedirectRefused, tr("Refused a redirect to %1").arg(target.toDisplayString()));
        return true;
    }
    if (++m_redirects > MaxRedirects) {
        fail(Error::RedirectRefused, tr("More than %1 redirects").arg(MaxRedirects));
        return true;
    }
    // As browsers do: a 303, and a 301 or 302 after a POST, fetch the new
    // place with GET; a 307 or 308 repeats the request, body and all.
    if ((status == 303 && m_sentMethod != "HEAD") ||
        ((status == 301 || status == 302) && m_sentMethod == "POST")) {
        m_sentMethod = QByteArrayLiteral("GET");
        m_sendBody = false;
    }
    m_finalUrl = target;
    if (!openUpload()) {
        fail(m_error, m_errorString);
        return true;
    }
    connectTo();
    return true;
}

HttpRequest::Error HttpRequest::decodeBody(const QByteArray &contentEncoding, const QByteArray &raw,
                                           QByteArray *body, QString *why)
{
    body->clear();
    const QByteArray coding = contentEncoding.trimmed().toLower();
    if (coding.isEmpty() || coding == "identity") {
        if (raw.size() > MaxResponseSize) {
            *why = tr("The answer is larger than %1 bytes").arg(MaxResponseSize);
            return Error::ResponseTooLarge;
        }
        *body = raw;
        return Error::NoError;
    }
    if (coding != "gzip" && coding != "x-gzip") {
        *why = tr("The answer is encoded as %1, which was not asked for")
                   .arg(QString::fromLatin1(coding));
        return Error::InflateFailed;
    }
    if (raw.isEmpty())
        return Error::NoError;
    switch (gunzip(raw, MaxResponseSize, body)) {
    case GunzipResult::Done:
        return Error::NoError;
    case GunzipResult::TooLarge:
        *why = tr("The answer is larger than %1 bytes, inflated").arg(MaxResponseSize);
        return Error::ResponseTooLarge;
    case GunzipResult::OutOfProportion:
        *why = tr("The answer inflates out of all proportion");
        return Error::InflateFailed;
    case GunzipResult::Damaged:
        break;
    }
    *why = tr("The compressed answer is damaged or cut short");
    return Error::InflateFailed;
}

void HttpRequest::answered()
{
    dropConnection();
    m_uploadDevice.reset();
    if (redirected())
        return;
    const std::unique_ptr<HttpResponseParser> parser = std::move(m_parser);
    QByteArray body;
    QString why;
    const Error error = decodeBody(parser->header("Content-Encoding"), parser->body(), &body, &why);
    if (error != Error::NoError) {
        fail(error, why);
        return;
    }
    m_overall.stop();
    m_done = true;
    m_status = parser->statusCode();
    m_responseHeaders = parser->headers();
    m_responseBody = body;
    Q_EMIT finished(this);
}

} // namespace tallivo
