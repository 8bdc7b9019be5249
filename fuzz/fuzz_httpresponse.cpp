// HTTP answers as the client reads them off a connection: whatever the
// bytes, and however the connection cuts them into pieces, the parse ends the
// same way with the same body, stays within its bounds, takes an answer as
// complete only as its framing says, and what the client would deliver is
// never more than the cap and nothing at all when it fails.

#include "httprequest.h"
#include "httpresponseparser.h"

#include <QDebug>

#include <cstdint>
#include <cstdlib>

using namespace tallivo;

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &answer)
{
    qWarning() << what << answer.left(2000);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1 || size > 256 * 1024)
        return 0;
    // The first byte: bit 0 a HEAD request, bit 1 the connection closes after
    // the bytes, the rest a seed for where the connection cuts them.
    const std::uint8_t flags = data[0];
    const QByteArray answer(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const bool head = flags & 1;
    const bool closes = flags & 2;

    HttpResponseParser whole(HttpRequest::MaxTransferSize, head);
    whole.feed(answer);
    if (closes)
        whole.finish();

    HttpResponseParser pieces(HttpRequest::MaxTransferSize, head);
    std::uint32_t seed = flags >> 2;
    for (qsizetype at = 0; at < answer.size();) {
        seed = seed * 1103515245u + 12345u;
        // Mostly single bytes, sometimes larger pieces.
        const qsizetype piece = (seed >> 16) % 4 == 0 ? qsizetype((seed >> 18) % 512) + 1 : 1;
        const qsizetype take = qMin(piece, answer.size() - at);
        pieces.feed(answer.constData() + at, take);
        at += take;
    }
    if (closes)
        pieces.finish();

    if (whole.state() != pieces.state() || whole.body() != pieces.body() ||
        whole.statusCode() != pieces.statusCode() || whole.headers() != pieces.headers())
        fail("the pieces change the parse", answer);
    if (whole.body().size() > HttpRequest::MaxTransferSize)
        fail("the body is past its bound", answer);
    if (whole.headers().size() > HttpResponseParser::MaxHeaderCount)
        fail("too many headers", answer);
    if (whole.state() == HttpResponseParser::State::Reading && closes)
        fail("a closed connection leaves the parse open", answer);
    if (whole.state() != HttpResponseParser::State::Complete)
        return 0;

    if (whole.statusCode() < 200 || whole.statusCode() > 999)
        fail("a complete answer without a final status", answer);
    const QByteArray length = whole.header("Content-Length");
    if (!head && !length.isEmpty() && whole.statusCode() != 204 && whole.statusCode() != 304 &&
        whole.body().size() != length.split(',').first().trimmed().toLongLong())
        fail("a complete answer is not as long as it says", answer);
    if (head && !whole.body().isEmpty())
        fail("an answer to HEAD with a body", answer);

    QByteArray body;
    QString why;
    const HttpRequest::Error error =
        HttpRequest::decodeBody(whole.header("Content-Encoding"), whole.body(), &body, &why);
    if (body.size() > HttpRequest::MaxResponseSize)
        fail("the delivered body is past the cap", answer);
    if (error != HttpRequest::Error::NoError && (!body.isEmpty() || why.isEmpty()))
        fail("a failed answer still has a body or no reason", answer);
    return 0;
}
