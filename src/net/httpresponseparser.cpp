#include "httpresponseparser.h"

#include <zlib.h>

#include <cstring>
#include <utility>

namespace tallivo {

namespace {

constexpr qsizetype MaxChunkLine = 4096;

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool isDigits(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

HttpResponseParser::HttpResponseParser(qint64 bodyLimit, bool headRequest)
    : m_bodyLimit(bodyLimit)
    , m_headRequest(headRequest)
{
}

QByteArray HttpResponseParser::header(const QByteArray &name) const
{
    QByteArray value;
    for (const auto &header : m_headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            value = header.second;
    }
    return value;
}

HttpResponseParser::State HttpResponseParser::fail(State state)
{
    m_state = state;
    m_phase = Phase::Done;
    return m_state;
}

bool HttpResponseParser::takeLine(const char *&data, const char *end, qsizetype limit,
                                  QByteArray *line, bool *tooLong)
{
    const char *newline = static_cast<const char *>(std::memchr(data, '\n', size_t(end - data)));
    const qsizetype take = newline ? newline - data : end - data;
    if (m_pending.size() + take > limit + 1) { // room for the CR
        *tooLong = true;
        return false;
    }
    m_pending.append(data, take);
    if (!newline) {
        data = end;
        return false;
    }
    data = newline + 1;
    if (m_pending.endsWith('\r'))
        m_pending.chop(1);
    *line = std::exchange(m_pending, {});
    return true;
}

bool HttpResponseParser::appendBody(const char *data, qsizetype size)
{
    if (qint64(m_body.size()) + size > m_bodyLimit) {
        fail(State::TooLarge);
        return false;
    }
    m_body.append(data, size);
    return true;
}

// Reads the status line and headers from m_head, which ends with an empty line.
bool HttpResponseParser::parseHead()
{
    QList<QByteArray> lines = m_head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return false;
    const QByteArray &first = lines.first();
    // "HTTP/1.1 200 Reason"; the reason may be empty or missing.
    if (first.size() < 12 || !first.startsWith("HTTP/1.") || first.at(8) != ' ' ||
        (first.size() > 12 && first.at(12) != ' '))
        return false;
    const QByteArray code = first.mid(9, 3);
    if (!isDigits(code) || code.at(0) == '0')
        return false;
    m_status = code.toInt();
    m_headers.clear();
    if (lines.size() - 1 > MaxHeaderCount)
        return false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false; // also an obsolete folded line
        const QByteArray name = line.left(colon);
        for (const char c : name) {
            if (!isTokenChar(c))
                return false;
        }
        const QByteArray value = line.mid(colon + 1).trimmed();
        for (const char c : value) {
            if ((uchar(c) < 0x20 && c != '\t') || c == 0x7f)
                return false;
        }
        m_headers.append({name, value});
    }
    return true;
}

// Chooses the framing from the headers.
bool HttpResponseParser::startBody()
{
    if (m_headRequest || m_status == 204 || m_status == 304) {
        m_phase = Phase::Done;
        m_state = State::Complete;
        return true;
    }
    QByteArrayList codings;
    QByteArrayList lengths;
    for (const auto &header : std::as_const(m_headers)) {
        if (header.first.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            for (const QByteArray &coding : header.second.split(','))
                codings << coding.trimmed().toLower();
        } else if (header.first.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            for (const QByteArray &length : header.second.split(','))
                lengths << length.trimmed();
        }
    }
    if (!codings.isEmpty()) {
        // We ask for no transfer coding but chunked, and a length beside it
        // would leave two readings of where the answer ends.
        if (codings != QByteArrayList{"chunked"} || !lengths.isEmpty()) {
            fail(State::Malformed);
            return false;
        }
        m_phase = Phase::ChunkSize;
        return true;
    }
    if (!lengths.isEmpty()) {
        for (const QByteArray &length : std::as_const(lengths)) {
            if (!isDigits(length) || length.size() > 18 || length != lengths.first()) {
                fail(State::Malformed);
                return false;
            }
        }
        m_left = lengths.first().toLongLong();
        if (m_left > m_bodyLimit) {
            fail(State::TooLarge);
            return false;
        }
        m_phase = Phase::LengthBody;
        if (m_left == 0) {
            m_phase = Phase::Done;
            m_state = State::Complete;
        }
        return true;
    }
    m_phase = Phase::CloseBody;
    return true;
}

HttpResponseParser::State HttpResponseParser::feed(const char *data, qsizetype size)
{
    const char *end = data + size;
    m_started = m_started || size > 0;
    while (m_state == State::Reading && data < end) {
        switch (m_phase) {
        case Phase::Head: {
            // Where the empty line ends the head, if it has come.
            const qsizetype before = m_head.size();
            const qsizetype take = qMin(end - data, MaxHeadSize + 1 - before);
            m_head.append(data, take);
            qsizetype from = qMax<qsizetype>(0, before - 3);
            qsizetype stop = -1;
            for (qsizetype i = from; i < m_head.size(); ++i) {
                if (m_head.at(i) != '\n')
                    continue;
                if (i >= 1 && m_head.at(i - 1) == '\n') {
                    stop = i + 1;
                    break;
                }
                if (i >= 2 && m_head.at(i - 1) == '\r' && m_head.at(i - 2) == '\n') {
                    stop = i + 1;
                    break;
                }
            }
            if (stop < 0) {
                if (m_head.size() > MaxHeadSize)
                    return fail(State::TooLarge);
                data += take;
                break;
            }
            data += stop - before;
            m_head.truncate(stop);
            if (!parseHead())
                return fail(State::Malformed);
            m_head.clear();
            if (m_status < 200) {
                // 100 Continue and the like come before the answer; a
                // switch of protocols was never asked for.
                if (m_status == 101)
                    return fail(State::Malformed);
                m_status = 0;
                m_headers.clear();
                break;
            }
            if (!startBody())
                return m_state;
            break;
        }
        case Phase::LengthBody: {
            const qsizetype take = qsizetype(qMin<qint64>(m_left, end - data));
            if (!appendBody(data, take))
                return m_state;
            data += take;
            m_left -= take;
            if (m_left == 0) {
                m_phase = Phase::Done;
                m_state = State::Complete;
            }
            break;
        }
        case Phase::CloseBody:
            if (!appendBody(data, end - data))
                return m_state;
            data = end;
            break;
        case Phase::ChunkSize: {
            QByteArray line;
            bool tooLong = false;
            if (!takeLine(data, end, MaxChunkLine, &line, &tooLong)) {
                if (tooLong)
                    return fail(State::Malformed);
                break;
            }
            // Hex digits, then perhaps extensions after ";".
            qint64 chunk = 0;
            qsizetype i = 0;
            for (; i < line.size() && hexValue(line.at(i)) >= 0; ++i) {
                if (i >= 15)
                    return fail(State::Malformed);
                chunk = chunk * 16 + hexValue(line.at(i));
            }
            if (i == 0)
                return fail(State::Malformed);
            const QByteArray rest = line.mid(i).trimmed();
            if (!rest.isEmpty() && !rest.startsWith(';'))
                return fail(State::Malformed);
            if (chunk > m_bodyLimit - m_body.size())
                return fail(State::TooLarge);
            m_left = chunk;
            m_phase = chunk == 0 ? Phase::Trailer : Phase::ChunkData;
            break;
        }
        case Phase::ChunkData: {
            const qsizetype take = qsizetype(qMin<qint64>(m_left, end - data));
            if (!appendBody(data, take))
                return m_state;
            data += take;
            m_left -= take;
            if (m_left == 0)
                m_phase = Phase::ChunkDataEnd;
            break;
        }
        case Phase::ChunkDataEnd: {
            QByteArray line;
            bool tooLong = false;
            if (!takeLine(data, end, 0, &line, &tooLong)) {
                if (tooLong)
                    return fail(State::Malformed);
                break;
            }
            if (!line.isEmpty())
                return fail(State::Malformed);
            m_phase = Phase::ChunkSize;
            break;
        }
        case Phase::Trailer: {
            QByteArray line;
            bool tooLong = false;
            if (!takeLine(data, end, MaxHeadSize - m_trailerSize, &line, &tooLong)) {
                if (tooLong)
                    return fail(State::TooLarge);
                break;
            }
            if (line.isEmpty()) {
                m_phase = Phase::Done;
                m_state = State::Complete;
                break;
            }
            // Trailer fields are read past, not used.
            m_trailerSize += line.size() + 2;
            if (line.indexOf(':') <= 0)
                return fail(State::Malformed);
            break;
        }
        case Phase::Done:
            data = end;
            break;
        }
    }
    return m_state;
}

HttpResponseParser::State HttpResponseParser::finish()
{
    if (m_state != State::Reading)
        return m_state;
    if (m_phase == Phase::CloseBody) {
        m_phase = Phase::Done;
        return m_state = State::Complete;
    }
    return fail(State::Incomplete);
}

GunzipResult gunzip(const QByteArray &data, qint64 limit, QByteArray *out)
{
    out->clear();
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return GunzipResult::Damaged;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    GunzipResult result = GunzipResult::Damaged;
    char piece[16384];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef *>(piece);
        stream.avail_out = sizeof piece;
        const int code = inflate(&stream, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof piece - stream.avail_out);
        if (qint64(out->size()) + produced > limit) {
            // A bomb is told apart from an answer that is merely too large.
            const qint64 in = qint64(data.size()) - stream.avail_in;
            result = qint64(out->size()) + produced > 100 * qMax<qint64>(in, 1)
                         ? GunzipResult::OutOfProportion
                         : GunzipResult::TooLarge;
            break;
        }
        out->append(piece, produced);
        if (code == Z_STREAM_END) {
            // zlib has checked the CRC and the length; nothing may follow.
            if (stream.avail_in == 0)
                result = GunzipResult::Done;
            break;
        }
        if (code != Z_OK)
            break; // damaged, or the data ran out before the trailer
    }
    inflateEnd(&stream);
    if (result != GunzipResult::Done)
        out->clear();
    return result;
}

} // namespace tallivo
