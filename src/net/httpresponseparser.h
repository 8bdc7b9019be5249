#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace tallivo {

// Reads one HTTP/1.1 answer from the bytes of a connection, as they come.
// The answer is complete only when it ended as its framing says: after its
// Content-Length, after the last chunk and its trailer, or, with neither,
// when the connection closed. Every part is bounded; whatever breaks a rule
// or a bound ends the parse with an error. Interim 1xx answers are skipped.
class HttpResponseParser
{
public:
    enum class State
    {
        Reading,  // more bytes are needed
        Complete, // the answer ended as its framing says
        Malformed,
        TooLarge,   // the head or the body is past its bound
        Incomplete, // the connection ended before the answer did
    };

    // Status line and headers together, and the header count.
    static constexpr qsizetype MaxHeadSize = 32 * 1024;
    static constexpr qsizetype MaxHeaderCount = 100;

    // bodyLimit: the most body bytes, after chunked framing is taken off.
    // A HEAD request's answer has no body whatever its headers say.
    explicit HttpResponseParser(qint64 bodyLimit, bool headRequest = false);

    // Takes the next bytes of the connection. Bytes past the end of a
    // complete answer are left unread.
    State feed(const char *data, qsizetype size);
    State feed(const QByteArray &data) { return feed(data.constData(), data.size()); }
    // The connection has closed.
    State finish();

    State state() const { return m_state; }
    // True once any byte has arrived.
    bool hasStarted() const { return m_started; }
    bool hasHead() const { return m_phase > Phase::Head; }
    int statusCode() const { return m_status; }
    const QList<QPair<QByteArray, QByteArray>> &headers() const { return m_headers; }
    // The last value of the header (names compared without case).
    QByteArray header(const QByteArray &name) const;
    // The body as sent, still in its content coding.
    const QByteArray &body() const { return m_body; }

private:
    enum class Phase
    {
        Head,
        LengthBody,
        CloseBody,
        ChunkSize,
        ChunkData,
        ChunkDataEnd,
        Trailer,
        Done,
    };

    State fail(State state);
    bool parseHead();
    bool startBody();
    // A line ending in LF (CR before it dropped), or false when it has not
    // all arrived; `limit` bounds the line.
    bool takeLine(const char *&data, const char *end, qsizetype limit, QByteArray *line,
                  bool *tooLong);
    bool appendBody(const char *data, qsizetype size);

    qint64 m_bodyLimit;
    bool m_headRequest;
    State m_state = State::Reading;
    bool m_started = false;
    Phase m_phase = Phase::Head;
    QByteArray m_head;    // the head as it arrives
    QByteArray m_pending; // a partial chunk-size or trailer line
    qsizetype m_trailerSize = 0;
    int m_status = 0;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;
    qint64 m_left = 0; // of the Content-Length or of the current chunk
};

// Inflates one whole gzip member. Done only when the stream ended with a
// trailer whose CRC and length match what was inflated and nothing follows
// it; TooLarge once more than `limit` bytes would come out.
enum class GunzipResult
{
    Done,
    Damaged,
    TooLarge,
    OutOfProportion, // a bomb: far more out than went in
};
GunzipResult gunzip(const QByteArray &data, qint64 limit, QByteArray *out);

} // namespace tallivo
