#include "httprequest.h"

#include <QThreadPool>

#include <atomic>
#include <mutex>
#include <tuple>
#include <utility>

#include <curl/curl.h>

namespace tallivo {

// A curl handle and what it found, shared by the request and the worker
// thread running it, so that a cancel need not wait for the worker.
struct HttpTransfer
{
    ~HttpTransfer()
    {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
        curl_multi_cleanup(multi);
    }
    // Ends the transfer with the code curl would give to what a callback found.
    size_t refuse(CURLcode code)
    {
        found = code;
        return 0;
    }
    // The last of the answer's fields of that name, and how many there are.
    QByteArray header(const char *name, size_t *count = nullptr) const
    {
        curl_header *h = nullptr;
        const bool found =
            curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &h) == CURLHE_OK &&
            curl_easy_header(easy, name, h->amount - 1, CURLH_HEADER, -1, &h) == CURLHE_OK;
        if (count)
            *count = found ? h->amount : 0;
        return found ? QByteArray(h->value) : QByteArray();
    }
    // Checks each head as it ends, before its body comes.
    static size_t head(char *data, size_t, size_t size, void *self)
    {
        auto *t = static_cast<HttpTransfer *>(self);
        const QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
        t->headEnded = line.isEmpty() || (t->headEnded && !line.startsWith("HTTP/")); // or trailers
        if (!line.isEmpty())
            return size;
        size_t lengths = 0;
        // curl would pick one framing and might wait for bytes that never come.
        if (!t->header("Content-Length", &lengths).isNull() &&
            (lengths > 1 || !t->header("Transfer-Encoding").isEmpty()))
            return t->refuse(CURLE_WEIRD_SERVER_REPLY);
        return size;
    }
    static size_t take(char *data, size_t, size_t size, void *self)
    {
        auto *t = static_cast<HttpTransfer *>(self);
        if (t->response.size() + qint64(size) > HttpRequest::MaxResponseSize)
            return t->refuse(CURLE_FILESIZE_EXCEEDED);
        t->response.append(data, qsizetype(size));
        return size;
    }
    // Runs before each request goes out, redirects included.
    static int beforeRequest(void *self, char *, char *, int, int)
    {
        auto *t = static_cast<HttpTransfer *>(self);
        char *now = nullptr;
        curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &now);
        const bool https = QByteArray(now).startsWith("https:");
        const bool fromHttps = std::exchange(t->sawHttps, https || t->sawHttps);
        return fromHttps && !https ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
    }
    void run();

    CURL *easy = curl_easy_init();
    CURLM *multi = curl_multi_init();
    curl_slist *headers = curl_slist_append(nullptr, "Expect:");
    char errors[CURL_ERROR_SIZE] = {};
    QByteArray response;
    bool headEnded = false, sawHttps = false;
    CURLcode found = CURLE_OK;
    std::atomic<bool> abort{false};
    std::mutex mutex; // guards owner
    HttpRequest *owner = nullptr;
};

void HttpTransfer::run()
{
    curl_multi_add_handle(multi, easy);
    int running = 1;
    while (!abort && curl_multi_perform(multi, &running) == CURLM_OK && running > 0)
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr); // a cancel wakes it at once
    int left = 0;
    const CURLMsg *done = curl_multi_info_read(multi, &left); // the only one there is
    if (found != CURLE_OK)
        errors[0] = '\0'; // curl's words are for its own errors
    else if (done)
        found = done->data.result;
    const std::lock_guard lock(mutex);
    if (owner) // taken on the request's own thread
        QMetaObject::invokeMethod(
            owner, [to = owner] { to->transferEnded(); }, Qt::QueuedConnection);
}

void HttpRequest::start(QThreadPool *pool)
{
    if (m_done || m_transfer)
        return;
    if (!m_url.isValid() || (m_url.scheme() != u"http" && m_url.scheme() != u"https") ||
        m_url.host().isEmpty())
        setError(Error::InvalidRequest, tr("Not an http address: %1").arg(m_url.toDisplayString()));
    buildBody();
    auto t = std::make_shared<HttpTransfer>(); // curl starts itself, safely across threads
    if (!t->easy || !t->multi)
        setError(Error::ConnectionFailed, tr("The network library failed to start"));
    const auto bad = [](char c) { return uchar(c) <= 0x20 || uchar(c) >= 0x7f || c == ':'; };
    for (const auto &[name, value] : m_headers.asKeyValueRange()) {
        // A name is a token; no value may carry a line break or a NUL.
        if (name.isEmpty() || std::any_of(name.begin(), name.end(), bad) || value.contains('\r') ||
            value.contains('\n') || value.contains('\0'))
            setError(Error::InvalidRequest, tr("A header cannot be sent"));
        else if (name.compare("Content-Length", Qt::CaseInsensitive) != 0) // curl's own
            t->headers = curl_slist_append(t->headers, (name + ": " + value).constData());
    }
    const auto set = [easy = t->easy](CURLoption option, auto value) {
        curl_easy_setopt(easy, option, value);
    };
    set(CURLOPT_URL, m_url.toEncoded(QUrl::RemoveFragment).constData());
    set(CURLOPT_PROTOCOLS_STR, "http,https"); // redirects too
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 5L);
    set(CURLOPT_TIMEOUT_MS, long(qMax(0, m_deadline)));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, long(qMax(1, m_transferTimeout) + 999) / 1000);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_QUICK_EXIT, 1L); // a cancel does not wait for a name still being looked up
    set(CURLOPT_ACCEPT_ENCODING, "gzip");
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(2 * MaxResponseSize)); // before inflating
    set(CURLOPT_ERRORBUFFER, t->errors);
    set(CURLOPT_HTTPHEADER, t->headers);
    set(CURLOPT_HEADERFUNCTION, &HttpTransfer::head);
    set(CURLOPT_WRITEFUNCTION, &HttpTransfer::take);
    set(CURLOPT_PREREQFUNCTION, &HttpTransfer::beforeRequest);
    for (const CURLoption option : {CURLOPT_HEADERDATA, CURLOPT_WRITEDATA, CURLOPT_PREREQDATA})
        set(option, t.get());
    if (!m_caFile.isEmpty())
        set(CURLOPT_CAINFO, m_caFile.constData());
    if (!m_body.isEmpty()) {
        set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body.size()));
        set(CURLOPT_COPYPOSTFIELDS, m_body.constData());
    }
    std::tie(t->owner, m_transfer) = std::pair(this, t);
    if (m_error != Error::NoError)
        QMetaObject::invokeMethod(this, &HttpRequest::transferEnded, Qt::QueuedConnection);
    else
        (pool ? pool : QThreadPool::globalInstance())->start([t] { t->run(); });
}

void HttpRequest::cancel()
{
    m_done = true;
    if (const std::shared_ptr<HttpTransfer> t = std::exchange(m_transfer, {})) {
        const std::lock_guard lock(t->mutex);
        t->owner = nullptr;
        t->abort = true; // told, not waited for: the worker lets go at once
        curl_multi_wakeup(t->multi);
    }
}

void HttpRequest::transferEnded()
{
    const std::shared_ptr<HttpTransfer> t = std::exchange(m_transfer, {});
    if (!t || std::exchange(m_done, true))
        return;
    CURLcode code = t->found;
    curl_off_t received = 0;
    curl_easy_getinfo(t->easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
    const QByteArray coding = t->header("Content-Encoding").toLower();
    const bool gzip = coding == "gzip" || coding == "x-gzip";
    // curl takes an answer cut inside its head, and gzip cut before its trailer,
    // for whole; for the gzip only a length or chunks show a cut. And it
    // inflates what it can, asked for or not.
    if (code == CURLE_OK && !t->headEnded)
        code = CURLE_PARTIAL_FILE;
    else if (code == CURLE_OK && !coding.isEmpty() && coding != "identity" &&
             (!gzip || (received > 0 && t->header("Content-Length").isEmpty() &&
                        t->header("Transfer-Encoding").isEmpty())))
        code = CURLE_BAD_CONTENT_ENCODING;
    const QString says = QString::fromUtf8(t->errors[0] ? t->errors : curl_easy_strerror(code));
    const std::pair<CURLcode, Error> kinds[] = {
        {CURLE_OPERATION_TIMEDOUT, Error::TimedOut},
        {CURLE_PARTIAL_FILE, Error::ResponseIncomplete},
        {CURLE_RECV_ERROR, t->headEnded ? Error::ResponseIncomplete : Error::ConnectionFailed},
        {CURLE_TOO_MANY_REDIRECTS, Error::RedirectRefused},
        {CURLE_UNSUPPORTED_PROTOCOL, // a redirect to another scheme, or an HTTP/0.9 answer
         says.contains(u"HTTP/0.9") ? Error::MalformedResponse : Error::RedirectRefused},
        {CURLE_FILESIZE_EXCEEDED, Error::ResponseTooLarge},
        {CURLE_BAD_CONTENT_ENCODING, Error::InflateFailed},
        {CURLE_WRITE_ERROR, Error::InflateFailed}, // data after the gzip trailer
        {CURLE_WEIRD_SERVER_REPLY, Error::MalformedResponse},
        {CURLE_ABORTED_BY_CALLBACK, Error::RedirectRefused}}; // from https to http
    Error kind = code == CURLE_OK ? Error::NoError : Error::ConnectionFailed;
    for (const auto &[curlCode, error] : kinds)
        kind = code == curlCode ? error : kind;
    if (kind != Error::NoError)
        setError(kind, says);
    if (m_error != Error::NoError) {
        Q_EMIT failed(this);
        return;
    }
    long status = 0;
    char *last = nullptr;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &last);
    std::tie(m_status, m_finalUrl) = std::pair(int(status), QUrl::fromEncoded(last));
    std::tie(m_contentType, m_responseBody) = std::pair(t->header("Content-Type"), t->response);
    Q_EMIT finished(this);
}

} // namespace tallivo
