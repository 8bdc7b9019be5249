#pragma once

// A tiny HTTP/1.1 server on 127.0.0.1 for tests: it parses each request,
// records it, and answers with whatever the handler returns, or never answers.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>
#include <optional>

struct TestHttpRequest
{
    QByteArray method;
    QByteArray target;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        return {};
    }
    QByteArray path() const
    {
        const qsizetype mark = target.indexOf('?');
        return mark < 0 ? target : target.left(mark);
    }
    QByteArray query() const
    {
        const qsizetype mark = target.indexOf('?');
        return mark < 0 ? QByteArray() : target.mid(mark + 1);
    }
};

inline QByteArray httpResponse(int status, const QByteArray &body,
                               const QList<QByteArray> &extraHeaders = {})
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    for (const QByteArray &header : extraHeaders)
        text += header + "\r\n";
    text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    return text + body;
}

class TestHttpServer : public QObject
{
public:
    // Returns the raw answer, or nothing to leave the request hanging.
    using Handler = std::function<std::optional<QByteArray>(const TestHttpRequest &)>;

    explicit TestHttpServer(Handler handler = {})
        : m_handler(std::move(handler))
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
        m_server.listen(QHostAddress::LocalHost);
    }

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
    }
    const QList<TestHttpRequest> &requests() const { return m_requests; }
    int connectionCount() const { return m_connections; }
    // Requests whose answer is being held back.
    int pendingCount() const { return int(m_pending.size()); }
    void answerPending(const QByteArray &response)
    {
        const auto pending = m_pending;
        m_pending.clear();
        for (const QPointer<QTcpSocket> &socket : pending)
            if (socket)
                socket->write(response);
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_buffers[socket] += socket->readAll();
                parse(socket);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void parse(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        for (;;) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            TestHttpRequest request;
            const QList<QByteArray> first = lines.first().trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines.at(i).trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
            }
            const qsizetype length = request.header("Content-Length").toLongLong();
            if (buffer.size() < end + 4 + length)
                return;
            request.body = buffer.mid(end + 4, length);
            buffer.remove(0, end + 4 + length);
            m_requests.append(request);
            const std::optional<QByteArray> answer =
                m_handler ? m_handler(request) : std::optional<QByteArray>(httpResponse(200, "OK"));
            if (answer)
                socket->write(*answer);
            else
                m_pending.append(socket);
        }
    }

    QTcpServer m_server;
    Handler m_handler;
    QList<TestHttpRequest> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<QPointer<QTcpSocket>> m_pending;
    int m_connections = 0;
};
