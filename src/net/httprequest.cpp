#include "httprequest.h"

#include <QDeadlineTimer>
#include <QLocale>
#include <QStringDecoder>
#include <QSysInfo>
#include <QThreadPool>
#include <QVersionNumber>

#include <atomic>
#include <cstring>
#include <mutex>
#include <tuple>
#include <utility>

#include <curl/curl.h>
#include <zlib.h>

namespace tallivo {

using Error = HttpRequest::Error;
using Headers = QList<QPair<QByteArray, QByteArray>>;

namespace {

QByteArray headerValue(const Headers &headers, const char *name)
{
    QByteArray value; // the last of equal names wins
    for (const auto &header : headers)
        value = header.first.compare(name, Qt::CaseInsensitive) == 0 ? header.second : value;
    return value;
}

// A header name is a token; no value may carry a line break or a NUL.
bool isSendable(const QByteArray &name, const QByteArray &value)
{
    const auto bad = [](char c) { return uchar(c) <= 0x20 || uchar(c) >= 0x7f || c == ':'; };
    return !name.isEmpty() && std::none_of(name.begin(), name.end(), bad) &&
           !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

} // namespace

// What a transfer needs on its worker thread, and what it found there.
struct HttpTransfer
{
    ~HttpTransfer()
    {
        if (inflating)
            inflateEnd(&zs);
        curl_slist_free_all(headers);
        curl_multi_cleanup(multi);
    }
    void run();
    bool head(const QByteArray &line);
    bool take(const char *data, size_t size);
    bool refuse(Error error, const QString &text)
    {
        if (fault == Error::NoError)
            std::tie(fault, why) = std::pair(error, text);
        return false; // a short count to libcurl stops the transfer
    }

    QByteArray url, method, body, userAgent, response, finalUrl;
    curl_slist *headers = nullptr;
    int silence = 0, deadline = 0;
    CURL *easy = nullptr;
    char errors[CURL_ERROR_SIZE] = {};
    Error fault = Error::NoError;
    QString why;
    long status = 0;
    Headers heads;
    qint64 received = 0;
    bool post = false, headEnded = false, sawHttps = false, inflating = false, ended = false;
    z_stream zs{};
    QDeadlineTimer quiet;
    std::atomic<bool> abort{false};
    std::mutex mutex; // guards owner
    HttpRequest *owner = nullptr;
    CURLM *multi = curl_multi_init();
};

bool HttpTransfer::head(const QByteArray &line)
{
    if (line.startsWith("HTTP/")) { // after an interim answer or a redirect
        if (std::exchange(inflating, false))
            inflateEnd(&zs);
        heads.clear();
        response.clear();
        received = 0;
        headEnded = ended = false;
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        heads.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    } else if (line.isEmpty()) {
        headEnded = true;
        QList<QByteArray> lengths;
        for (const auto &[name, value] : std::as_const(heads)) {
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0 &&
                !lengths.contains(value))
                lengths.append(value);
        }
        if (lengths.size() > 1 ||
            (!lengths.isEmpty() && !headerValue(heads, "Transfer-Encoding").isEmpty()))
            return refuse(Error::MalformedResponse,
                          HttpRequest::tr("The answer is framed two ways"));
        const QByteArray coding = headerValue(heads, "Content-Encoding").toLower();
        if (coding == "gzip" || coding == "x-gzip")
            inflating = inflateInit2(&zs, 16 + MAX_WBITS) == Z_OK;
        else if (!coding.isEmpty() && coding != "identity")
            return refuse(Error::InflateFailed, HttpRequest::tr("An encoding not asked for"));
    }
    return true;
}

bool HttpTransfer::take(const char *data, size_t size)
{
    received += qint64(size);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    zs.avail_in = inflating ? uInt(size) : 0;
    if (!inflating)
        response.append(data, qsizetype(size));
    const QString tooLarge = HttpRequest::tr("The answer is larger than %1 bytes");
    while (zs.avail_in > 0 && !ended) {
        char out[16384];
        zs.next_out = reinterpret_cast<Bytef *>(out);
        zs.avail_out = sizeof out;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END)
            return refuse(Error::InflateFailed, HttpRequest::tr("The gzip data is damaged"));
        ended = rc == Z_STREAM_END;
        response.append(out, qsizetype(sizeof out - zs.avail_out));
        if (response.size() > HttpRequest::MaxResponseSize) // text never inflates a hundredfold
            return response.size() > 100 * qint64(zs.total_in)
                       ? refuse(Error::InflateFailed, HttpRequest::tr("The gzip data is a bomb"))
                       : refuse(Error::ResponseTooLarge,
                                tooLarge.arg(HttpRequest::MaxResponseSize));
    }
    if (zs.avail_in > 0)
        return refuse(Error::InflateFailed, HttpRequest::tr("Data follows the gzip trailer"));
    if (response.size() > HttpRequest::MaxResponseSize || received > HttpRequest::MaxTransferSize)
        return refuse(Error::ResponseTooLarge, tooLarge.arg(HttpRequest::MaxResponseSize));
    return true;
}

void HttpTransfer::run()
{
    easy = curl_easy_init();
    const auto set = [this](CURLoption option, auto value) {
        curl_easy_setopt(easy, option, value);
    };
    set(CURLOPT_URL, url.constData());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, long(HttpRequest::MaxRedirects));
    set(CURLOPT_TIMEOUT_MS, long(deadline));
    // Asked for, but inflated here, where a cut gzip stream shows.
    set(CURLOPT_ACCEPT_ENCODING, "gzip");
    set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(HttpRequest::MaxTransferSize));
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_QUICK_EXIT, 1L); // a cancel does not wait for a name still being looked up
    set(CURLOPT_ERRORBUFFER, errors);
    set(CURLOPT_USERAGENT, userAgent.constData());
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_HEADERDATA, this);
    set(
        CURLOPT_HEADERFUNCTION, +[](char *d, size_t, size_t n, void *t) -> size_t {
            return static_cast<HttpTransfer *>(t)->head(QByteArray(d, qsizetype(n)).trimmed()) ? n
                                                                                               : 0;
        });
    set(CURLOPT_WRITEDATA, this);
    set(
        CURLOPT_WRITEFUNCTION, +[](char *d, size_t, size_t n, void *t) -> size_t {
            return static_cast<HttpTransfer *>(t)->take(d, n) ? n : 0;
        });
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFODATA, this);
    set(
        CURLOPT_XFERINFOFUNCTION, +[](void *t, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
            return static_cast<HttpTransfer *>(t)->abort.load() ? 1 : 0;
        });
    // Before each request goes out, redirects included.
    set(CURLOPT_PREREQDATA, this);
    set(
        CURLOPT_PREREQFUNCTION, +[](void *p, char *, char *, int, int) {
            auto *t = static_cast<HttpTransfer *>(p);
            char *now = nullptr;
            curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &now);
            const bool https = now && std::strncmp(now, "https:", 6) == 0;
            if (std::exchange(t->sawHttps, https || t->sawHttps) && !https)
                return (t->refuse(Error::RedirectRefused, HttpRequest::tr("From https to http")),
                        int(CURL_PREREQFUNC_ABORT));
            return int(CURL_PREREQFUNC_OK);
        });
    if (method == "HEAD")
        set(CURLOPT_NOBODY, 1L);
    else if (method != "GET" && method != "POST")
        set(CURLOPT_CUSTOMREQUEST, method.constData());
    if (post) {
        set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        set(CURLOPT_POSTFIELDS, body.constData());
    }

    curl_multi_add_handle(multi, easy);
    // Polled in short turns, so that a cancel wakes it at once and the
    // silence is measured to the millisecond.
    quiet.setRemainingTime(silence);
    int running = 1;
    while (!abort && curl_multi_perform(multi, &running) == CURLM_OK && running > 0) {
        if (quiet.hasExpired()) {
            refuse(Error::TimedOut, HttpRequest::tr("No network activity for %1 ms").arg(silence));
            break;
        }
        int events = 0; // a socket that could be read or written: the network is not silent
        curl_multi_poll(multi, nullptr, 0, int(qBound(qint64(1), quiet.remainingTime(), 1000)),
                        &events);
        if (events > 0)
            quiet.setRemainingTime(silence);
    }
    CURLcode code = CURLE_OK;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi, &left))
        code = message->msg == CURLMSG_DONE ? message->data.result : code;
    curl_multi_remove_handle(multi, easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    char *last = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &last);
    finalUrl = last;
    curl_easy_cleanup(easy);

    const QString says = QString::fromUtf8(errors[0] ? errors : curl_easy_strerror(code));
    if (code == CURLE_OK && !headEnded)
        refuse(Error::ResponseIncomplete, HttpRequest::tr("The answer ended inside its head"));
    else if (code == CURLE_OK && inflating && received > 0 && !ended)
        refuse(Error::InflateFailed, HttpRequest::tr("The gzip data ended early"));
    else if (code == CURLE_OPERATION_TIMEDOUT)
        refuse(Error::TimedOut,
               HttpRequest::tr("The request took longer than %1 ms").arg(deadline));
    else if (code == CURLE_PARTIAL_FILE || (code == CURLE_RECV_ERROR && headEnded))
        refuse(Error::ResponseIncomplete, says);
    else if (code == CURLE_TOO_MANY_REDIRECTS ||
             (code == CURLE_UNSUPPORTED_PROTOCOL && !says.contains(u"HTTP/0.9")))
        refuse(Error::RedirectRefused, says);
    else if (code == CURLE_FILESIZE_EXCEEDED)
        refuse(Error::ResponseTooLarge, says);
    else if (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_UNSUPPORTED_PROTOCOL)
        refuse(Error::MalformedResponse, says);
    else if (code != CURLE_OK)
        refuse(Error::ConnectionFailed, says);

    const std::lock_guard lock(mutex);
    if (owner) // taken on the request's own thread
        QMetaObject::invokeMethod(
            owner, [to = owner] { to->transferEnded(); }, Qt::QueuedConnection);
}

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
    m_headers.removeIf(
        [&](const auto &header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
    m_headers.append({name, value});
}

QByteArray HttpRequest::rawHeader(const QByteArray &name) const
{
    return headerValue(m_headers, name.constData());
}

QByteArray HttpRequest::responseHeader(const QByteArray &name) const
{
    return headerValue(m_responseHeaders, name.constData());
}

void HttpRequest::setBody(const QByteArray &body)
{
    clearBody();
    m_body = body;
}

void HttpRequest::buildBody()
{
    if (!m_bodyBuilt)
        finishBody();
}

void HttpRequest::setError(Error error, const QString &text)
{
    if (m_error == Error::NoError)
        std::tie(m_error, m_errorString) = std::pair(error, text);
}

void HttpRequest::finishBody()
{
    m_bodyBuilt = true;
    if (m_body.isEmpty())
        return;
    if (m_method == "GET" || m_method == "DELETE" || m_method == "HEAD")
        m_method = QByteArrayLiteral("POST");
    setRawHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(m_body.size()));
}

void HttpRequest::clearBody()
{
    m_body.clear();
    m_bodyBuilt = false;
}

QString HttpRequest::responseText() const
{
    for (QByteArray part : responseHeader("Content-Type").split(';').mid(1)) {
        part = part.trimmed();
        if (!part.toLower().startsWith("charset="))
            continue;
        part = part.mid(8).trimmed();
        if (part.size() >= 2 && part.startsWith('"') && part.endsWith('"'))
            part = part.mid(1, part.size() - 2);
        QStringDecoder decoder(part.constData());
        const QString text = decoder.isValid() ? decoder.decode(m_responseBody) : QString();
        if (decoder.isValid() && !decoder.hasError())
            return text;
        break;
    }
    return QString::fromLatin1(m_responseBody);
}

void HttpRequest::start()
{
    if (m_done || m_transfer || m_cancelled)
        return;
    static const CURLcode ready = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (ready != CURLE_OK)
        setError(Error::ConnectionFailed, tr("The network library failed to start"));
    if (!m_url.isValid() || (m_url.scheme() != u"http" && m_url.scheme() != u"https") ||
        m_url.host().isEmpty())
        setError(Error::InvalidRequest, tr("Not an http address: %1").arg(m_url.toDisplayString()));
    buildBody();
    m_finalUrl = m_url.adjusted(QUrl::RemoveFragment);
    auto transfer = std::make_shared<HttpTransfer>();
    transfer->url = m_finalUrl.toEncoded();
    transfer->userAgent = m_userAgent.toUtf8();
    transfer->method = m_method;
    transfer->headers = curl_slist_append(nullptr, "Expect:");
    if (!isSendable("User-Agent", transfer->userAgent))
        setError(Error::InvalidRequest, tr("The User-Agent cannot be sent"));
    for (const auto &[name, value] : std::as_const(m_headers)) {
        if (!isSendable(name, value))
            setError(Error::InvalidRequest, tr("A header cannot be sent"));
        if (name.compare("Content-Length", Qt::CaseInsensitive) != 0) // libcurl's own
            transfer->headers =
                curl_slist_append(transfer->headers, (name + ": " + value).constData());
    }
    transfer->post = m_method == "POST" || !m_body.isEmpty();
    transfer->body = m_body;
    transfer->silence = qMax(1, m_transferTimeout);
    transfer->deadline = qMax(0, m_deadline);
    transfer->owner = this;
    m_transfer = transfer;
    if (m_error != Error::NoError) {
        QMetaObject::invokeMethod(this, &HttpRequest::transferEnded, Qt::QueuedConnection);
        return;
    }
    if (!m_pool)
        m_ownPool = std::make_unique<QThreadPool>();
    (m_pool ? m_pool : m_ownPool.get())->start([transfer] { transfer->run(); });
}

void HttpRequest::cancel()
{
    m_cancelled = !m_done;
    if (const std::shared_ptr<HttpTransfer> transfer = std::exchange(m_transfer, {})) {
        // Told, not waited for: the worker lets go at once.
        const std::lock_guard lock(transfer->mutex);
        transfer->owner = nullptr;
        transfer->abort = true;
        curl_multi_wakeup(transfer->multi);
    }
}

void HttpRequest::transferEnded()
{
    const std::shared_ptr<HttpTransfer> transfer = std::exchange(m_transfer, {});
    if (!transfer || m_cancelled || std::exchange(m_done, true))
        return;
    setError(transfer->fault, transfer->why);
    if (m_error != Error::NoError) {
        Q_EMIT failed(this);
        return;
    }
    m_status = int(transfer->status);
    m_responseHeaders = transfer->heads;
    m_responseBody = transfer->response;
    m_finalUrl = QUrl::fromEncoded(transfer->finalUrl);
    Q_EMIT finished(this);
}

} // namespace tallivo
