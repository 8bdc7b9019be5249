#pragma once

// A tiny HTTP/1.1 server on 127.0.0.1 for tests: it records each request and
// answers with whatever the handler returns (raw bytes, so answers may lie
// about their length or end early), or holds the answer back. It may send
// each answer a byte at a time, so the client meets every cut of the framing,
// and speaks TLS when given a certificate.

#include <QHash>
#include <QList>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include <sys/socket.h>

// gzip of "OK"
inline const QByteArray gzippedOK =
    QByteArray::fromHex("1f8b0800000000000203f3f706002dd936d702000000");

struct TestHttpRequest
{
    QByteArray method, target, body;       // target: path and query
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

inline QByteArray httpResponse(int status, const QByteArray &body,
                               const QList<QByteArray> &extraHeaders = {})
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    for (const QByteArray &header : extraHeaders)
        text += header + "\r\n";
    return text + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A chunked answer; without the last chunk when cut is set.
inline QByteArray chunkedResponse(int status, const QList<QByteArray> &chunks, bool cut = false)
{
    QByteArray text =
        "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const QByteArray &chunk : chunks)
        text += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    return cut ? text : text + "0\r\n\r\n";
}

class TestHttpServer : public QObject
{
public:
    // Returns the raw answer, or nothing to leave the request hanging.
    using Handler = std::function<std::optional<QByteArray>(const TestHttpRequest &)>;

    explicit TestHttpServer(
        Handler handler = [](const TestHttpRequest &) { return httpResponse(200, "OK"); },
        const std::optional<QSslConfiguration> &tls = std::nullopt)
        : m_server(tls ? new QSslServer : new QTcpServer)
        , m_handler(std::move(handler))
    {
        if (tls)
            static_cast<QSslServer *>(m_server.get())->setSslConfiguration(*tls);
        // After the handshake, with TLS.
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    while (parse(socket, *buffer)) {
                    }
                });
            }
        });
        m_server->listen(QHostAddress::LocalHost);
    }

    QUrl url(const QString &path) const
    {
        return QUrl(
            QStringLiteral("%1://127.0.0.1:%2%3")
                .arg(QLatin1String(qobject_cast<QSslServer *>(m_server.get()) ? "https" : "http"))
                .arg(m_server->serverPort())
                .arg(path));
    }
    const QList<TestHttpRequest> &requests() const { return m_requests; }
    // Closes each connection once its answer is written, as HTTP/1.0 servers do.
    void setCloseAfterAnswer(bool close) { m_closeAfterAnswer = close; }
    // Resets each connection (RST, not FIN) a moment after its answer is written.
    void setResetAfterAnswer(bool reset) { m_resetAfterAnswer = reset; }
    // Sends every answer one byte at a time, a byte per `interval` ms (0: one
    // per turn of the event loop); -1 sends each answer whole.
    void setTrickle(int interval) { m_trickle = interval; }
    // Requests whose answer is being held back.
    int pendingCount() const { return int(m_pending.size()); }
    void answerPending(const QByteArray &response)
    {
        for (QTcpSocket *socket : std::exchange(m_pending, {}))
            send(socket, response);
    }

private:
    // Takes one complete request off the buffer; false when none is complete.
    bool parse(QTcpSocket *socket, QByteArray &buffer)
    {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.first().trimmed().split(' ');
        TestHttpRequest request;
        request.method = first.value(0);
        request.target = first.value(1);
        for (const QByteArray &line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < end + 4 + length)
            return false;
        request.body = buffer.mid(end + 4, length);
        buffer.remove(0, end + 4 + length);
        m_requests.append(request);
        if (const std::optional<QByteArray> answer = m_handler(request))
            send(socket, *answer);
        else
            m_pending.append(socket);
        return true;
    }

    void send(QTcpSocket *socket, const QByteArray &answer)
    {
        if (m_trickle < 0) {
            socket->write(answer);
            socket->flush();
            if (m_resetAfterAnswer) {
                QTimer::singleShot(100, socket, [socket] {
                    const linger hard{1, 0};
                    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                                 sizeof hard);
                    socket->abort();
                });
            } else if (m_closeAfterAnswer)
                socket->disconnectFromHost();
            return;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto *timer = new QTimer(socket);
        auto left = std::make_shared<QByteArray>(answer);
        const bool close = m_closeAfterAnswer;
        connect(timer, &QTimer::timeout, socket, [socket, timer, left, close] {
            if (socket->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                return;
            }
            if (left->isEmpty()) {
                timer->stop();
                if (close)
                    socket->disconnectFromHost();
                return;
            }
            socket->write(left->left(1));
            left->remove(0, 1);
            socket->flush();
        });
        timer->start(m_trickle);
    }

    std::unique_ptr<QTcpServer> m_server;
    Handler m_handler;
    QList<TestHttpRequest> m_requests;
    QList<QTcpSocket *> m_pending; // sockets live as long as the server
    bool m_closeAfterAnswer = false;
    bool m_resetAfterAnswer = false;
    int m_trickle = -1;
};
