#include "networkqueue.h"
#include "testhttpserver.h"

#include <QTest>

#include <memory>

using namespace tallivo;

namespace {

// A queue that records what its callbacks saw.
struct WatchedQueue
{
    NetworkQueue queue;
    QStringList finished; // "status path text"
    QList<HttpRequest::Error> failed;

    WatchedQueue()
    {
        QObject::connect(&queue, &NetworkQueue::requestFinished, &queue,
                         [this](HttpRequest *request) {
                             finished << QStringLiteral("%1 %2 %3")
                                             .arg(request->statusCode())
                                             .arg(request->finalUrl().path(),
                                                  QString::fromLatin1(request->responseBody()));
                         });
        QObject::connect(&queue, &NetworkQueue::requestFailed, &queue,
                         [this](HttpRequest *request) { failed << request->error(); });
    }
    void add(const QUrl &url, int timeout = 0)
    {
        auto *request = new HttpRequest(url);
        if (timeout > 0)
            request->setTransferTimeout(timeout);
        queue.enqueue(request);
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
    void runsAtMostFourAtOnceAndOnlyAfterStart()
    {
        TestHttpServer server(never);
        WatchedQueue watched;
        for (int i = 0; i < 6; ++i)
            watched.add(server.url(QStringLiteral("/%1").arg(i)));
        QTest::qWait(100);
        QCOMPARE(server.requests().size(), 0); // a new queue is suspended
        watched.queue.start();
        QTRY_COMPARE(server.pendingCount(), 4);
        QTest::qWait(100);
        QCOMPARE(server.requests().size(), 4);
        QCOMPARE(watched.queue.requestCount(), 6);

        server.answerPending(httpResponse(200, "OK"));
        QTRY_COMPARE(server.pendingCount(), 2);
        server.answerPending(httpResponse(200, "OK"));
        QTRY_COMPARE(watched.finished.size(), 6);
        QCOMPARE(watched.queue.requestCount(), 0);
    }
    void failureCancelsTheRest_data()
    {
        QTest::addColumn<bool>("cancelOnFailure");
        QTest::addColumn<HttpRequest::Error>("error");
        QTest::addColumn<int>("finished");
        QTest::newRow("refused, cancel all") << true << HttpRequest::Error::ConnectionFailed << 0;
        QTest::newRow("silent server, keep the rest") << false << HttpRequest::Error::TimedOut << 2;
    }
    void failureCancelsTheRest()
    {
        QFETCH(bool, cancelOnFailure);
        QFETCH(HttpRequest::Error, error);
        QFETCH(int, finished);
        TestHttpServer server(never);
        WatchedQueue watched;
        watched.queue.setCancelAllOnFailure(cancelOnFailure);
        watched.add(server.url(QStringLiteral("/1")));
        watched.add(server.url(QStringLiteral("/2")));
        watched.queue.start();
        QTRY_COMPARE(server.pendingCount(), 2);
        if (error == HttpRequest::Error::ConnectionFailed) {
            // A port that was just closed refuses the connection.
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const quint16 closedPort = closed.serverPort();
            closed.close();
            watched.add(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)));
        } else {
            watched.add(server.url(QStringLiteral("/3")), 300); // the inactivity limit
        }
        // curl measures the silence in seconds, over its last few seconds.
        QTRY_COMPARE_WITH_TIMEOUT(watched.failed, QList<HttpRequest::Error>{error}, 30000);
        QCOMPARE(watched.queue.requestCount(), finished);

        server.answerPending(httpResponse(200, "OK"));
        QTRY_COMPARE(watched.finished.size(), finished);
        QTest::qWait(100);
        QCOMPARE(watched.finished.size(), finished);
        QCOMPARE(watched.failed.size(), 1);
    }

    // Cancelled transfers end on their worker threads, unheard: an answer
    // that comes afterwards reaches nobody, and the queue is gone at once.
    void cancelledRequestsSayNothing()
    {
        TestHttpServer server(never);
        auto watched = std::make_unique<WatchedQueue>();
        watched->add(server.url(QStringLiteral("/1")));
        watched->add(server.url(QStringLiteral("/2")));
        watched->queue.start();
        QTRY_COMPARE(server.pendingCount(), 2);
        watched->queue.cancelAll();
        QCOMPARE(watched->queue.requestCount(), 0);
        server.answerPending(httpResponse(200, "OK"));
        QTest::qWait(200);
        QVERIFY(watched->finished.isEmpty());
        QVERIFY(watched->failed.isEmpty());

        watched->add(server.url(QStringLiteral("/3")));
        watched->queue.start();
        QTRY_COMPARE(server.pendingCount(), 1);
        watched.reset(); // with its transfer still waiting for the server
        QCOMPARE(server.requests().size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestNetworkQueue)
#include "tst_networkqueue.moc"
