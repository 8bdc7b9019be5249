#include "networkqueue.h"
#include "testhttpserver.h"

#include <QRegularExpression>
#include <QTest>

using namespace tallivo;

namespace {

// A queue that records what its callbacks saw.
struct WatchedQueue
{
    NetworkQueue queue;
    QStringList finished; // "status path text"
    QList<int> failed;

    WatchedQueue()
    {
        queue.setRequestDidFinish([this](HttpRequest *request) {
            finished << QStringLiteral("%1 %2 %3")
                            .arg(request->responseStatusCode())
                            .arg(request->finalUrl().path(), request->responseString());
        });
        queue.setRequestDidFail([this](HttpRequest *request) { failed << request->error().code; });
    }
    void add(const QUrl &url, int timeOut = 0)
    {
        auto *request = new HttpRequest(url);
        if (timeOut > 0)
            request->setTimeOutMilliseconds(timeOut);
        queue.addOperation(request);
    }
};

std::optional<QByteArray> never(const TestHttpRequest &)
{
    return std::nullopt;
}

} // namespace

class TestNetworkQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("seen"); // method, path and body of each request
        QTest::addColumn<QString>("finished");
        const QByteArray once = "POST /old a=1";
        QTest::newRow("gzip is inflated")
            << httpResponse(200, gzippedOK, {"Content-Encoding: gzip"}) << once << "200 /old OK";
        QTest::newRow("no charset is Latin-1")
            << httpResponse(200, "caf\xe9", {"Content-Type: text/plain"}) << once
            << "200 /old café";
        QTest::newRow("quoted utf-16be")
            << httpResponse(200, QByteArray("\0O\0K", 4),
                            {"Content-Type: text/plain; charset=\"UTF-16BE\""})
            << once << "200 /old OK";
        QTest::newRow("unknown charset is Latin-1")
            << httpResponse(200, "\xe9", {"Content-Type: text/plain; charset=x-no-such"}) << once
            << "200 /old é";
        QTest::newRow("error status is still an answer")
            << httpResponse(404, "gone") << once << "404 /old gone";
        QTest::newRow("302 turns the post into a get")
            << httpResponse(302, "", {"Location: /new"}) << once + "|GET /new "
            << "200 /new OK";
        QTest::newRow("307 repeats the post")
            << httpResponse(307, "", {"Location: /new"}) << once + "|POST /new a=1"
            << "200 /new OK";
    }
    void answers()
    {
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, seen);
        QFETCH(QString, finished);
        TestHttpServer server([&](const TestHttpRequest &request) {
            return request.target == "/new" ? httpResponse(200, "OK") : response;
        });
        WatchedQueue watched;
        auto *request = new HttpRequest(server.url(QStringLiteral("/old")));
        request->setRequestMethod("POST");
        request->setPostBody("a=1");
        request->addRequestHeader("Content-Type", "application/x-www-form-urlencoded");
        watched.queue.addOperation(request);
        watched.queue.go();
        QTRY_COMPARE(watched.finished, QStringList{finished});
        QVERIFY(watched.failed.isEmpty());
        QByteArrayList requests;
        for (const TestHttpRequest &r : server.requests())
            requests << r.method + ' ' + r.target + ' ' + r.body;
        QCOMPARE(requests.join('|'), seen);

        const TestHttpRequest &sent = server.requests().first();
        QCOMPARE(sent.headers.value("accept-encoding"), QByteArray("gzip"));
        // "<name> <version> (<machine>; <system> <x.y.z>; <locale>)"
        const QString agent = QString::fromUtf8(sent.headers.value("user-agent"));
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^Tallivo \S+ \(\S+; \S+ \d+\.\d+\.\d+; \S+\)$)"))
                .match(agent)
                .hasMatch(),
            qPrintable(agent));
    }
    void runsAtMostFourAtOnceAndOnlyAfterGo()
    {
        TestHttpServer server(never);
        WatchedQueue watched;
        for (int i = 0; i < 6; ++i)
            watched.add(server.url(QStringLiteral("/%1").arg(i)));
        QTest::qWait(100);
        QCOMPARE(server.requests().size(), 0); // a new queue is suspended
        watched.queue.go();
        QTRY_COMPARE(server.pendingCount(), 4);
        QTest::qWait(100);
        QCOMPARE(server.requests().size(), 4);
        QCOMPARE(watched.queue.requestsCount(), 6);

        server.answerPending(httpResponse(200, "OK"));
        QTRY_COMPARE(server.pendingCount(), 2);
        server.answerPending(httpResponse(200, "OK"));
        QTRY_COMPARE(watched.finished.size(), 6);
        QCOMPARE(watched.queue.requestsCount(), 0);
    }
    void failureCancelsTheRest_data()
    {
        QTest::addColumn<bool>("cancelOnFailure");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("finished");
        QTest::newRow("refused, cancel all") << true << int(ConnectionFailureErrorType) << 0;
        QTest::newRow("silent server, keep the rest")
            << false << int(RequestTimedOutErrorType) << 2;
    }
    void failureCancelsTheRest()
    {
        QFETCH(bool, cancelOnFailure);
        QFETCH(int, error);
        QFETCH(int, finished);
        TestHttpServer server(never);
        WatchedQueue watched;
        watched.queue.setShouldCancelAllRequestsOnFailure(cancelOnFailure);
        watched.add(server.url(QStringLiteral("/1")));
        watched.add(server.url(QStringLiteral("/2")));
        watched.queue.go();
        QTRY_COMPARE(server.pendingCount(), 2);
        if (error == ConnectionFailureErrorType) {
            // A port that was just closed refuses the connection.
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const quint16 closedPort = closed.serverPort();
            closed.close();
            watched.add(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)));
        } else {
            watched.add(server.url(QStringLiteral("/3")), 300); // the inactivity limit
        }
        QTRY_COMPARE(watched.failed, QList<int>{error});
        QCOMPARE(watched.queue.requestsCount(), finished);

        server.answerPending(httpResponse(200, "OK"));
        QTRY_COMPARE(watched.finished.size(), finished);
        QTest::qWait(100);
        QCOMPARE(watched.finished.size(), finished);
        QCOMPARE(watched.failed.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestNetworkQueue)
#include "tst_networkqueue.moc"
