#include "networkqueue.h"
#include "testhttpserver.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace tallivo;

namespace {

// gzip of "OK"
const QByteArray gzippedOK = QByteArray::fromHex("1f8b0800000000000203f3f706002dd936d702000000");

struct Outcome
{
    QList<QByteArray> finishedBodies;
    QList<int> finishedStatus;
    QList<QUrl> finishedUrls;
    QList<QString> finishedText;
    QList<int> failedCodes;
};

void watch(NetworkQueue &queue, Outcome &outcome)
{
    queue.setRequestDidFinish([&outcome](HttpRequest *request) {
        outcome.finishedBodies.append(request->responseData());
        outcome.finishedStatus.append(request->responseStatusCode());
        outcome.finishedUrls.append(request->finalUrl());
        outcome.finishedText.append(request->responseString());
    });
    queue.setRequestDidFail(
        [&outcome](HttpRequest *request) { outcome.failedCodes.append(request->error().code); });
}

} // namespace

class TestNetworkQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compressedAnswerIsInflated();
    void redirectIsFollowed_data();
    void redirectIsFollowed();
    void answerIsDecodedByCharset_data();
    void answerIsDecodedByCharset();
    void errorStatusIsStillAnAnswer();
    void silentServerEndsTheRequest();
    void runsAtMostFourAtOnce();
    void suspendedQueueSendsNothingUntilGo();
    void failureCancelsTheRest_data();
    void failureCancelsTheRest();
};

void TestNetworkQueue::compressedAnswerIsInflated()
{
    TestHttpServer server([](const TestHttpRequest &) {
        return httpResponse(200, gzippedOK, {"Content-Encoding: gzip"});
    });
    NetworkQueue queue;
    Outcome outcome;
    watch(queue, outcome);
    queue.addOperation(new HttpRequest(server.url(QStringLiteral("/a"))));
    queue.go();
    QTRY_COMPARE(outcome.finishedBodies.size(), 1);
    QCOMPARE(outcome.finishedBodies.first(), QByteArray("OK"));
    QCOMPARE(server.requests().first().header("Accept-Encoding"), QByteArray("gzip"));
    // "<name> <version> (<machine>; <system> <x.y.z>; <locale>)"
    const QString agent = QString::fromUtf8(server.requests().first().header("User-Agent"));
    QVERIFY2(QRegularExpression(QStringLiteral(R"(^Tallivo \S+ \(\S+; \S+ \d+\.\d+\.\d+; \S+\)$)"))
                 .match(agent)
                 .hasMatch(),
             qPrintable(agent));
}

void TestNetworkQueue::redirectIsFollowed_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("methodAfter");
    QTest::addColumn<QByteArray>("bodyAfter");
    QTest::newRow("302 turns a post into a get") << 302 << QByteArray("GET") << QByteArray();
    QTest::newRow("307 repeats the post") << 307 << QByteArray("POST") << QByteArray("a=1");
}

void TestNetworkQueue::redirectIsFollowed()
{
    QFETCH(int, status);
    QFETCH(QByteArray, methodAfter);
    QFETCH(QByteArray, bodyAfter);
    TestHttpServer server([status](const TestHttpRequest &request) {
        if (request.path() == "/old")
            return httpResponse(status, "", {"Location: /new"});
        return httpResponse(200, "OK");
    });
    NetworkQueue queue;
    Outcome outcome;
    watch(queue, outcome);
    auto *request = new HttpRequest(server.url(QStringLiteral("/old")));
    request->setRequestMethod("POST");
    request->setPostBody("a=1");
    request->addRequestHeader("Content-Type", "application/x-www-form-urlencoded");
    queue.addOperation(request);
    queue.go();
    QTRY_COMPARE(outcome.finishedBodies.size(), 1);
    QCOMPARE(outcome.finishedBodies.first(), QByteArray("OK"));
    QCOMPARE(outcome.finishedUrls.first().path(), QStringLiteral("/new"));
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(server.requests().at(0).body, QByteArray("a=1"));
    QCOMPARE(server.requests().at(1).method, methodAfter);
    QCOMPARE(server.requests().at(1).body, bodyAfter);
}

void TestNetworkQueue::answerIsDecodedByCharset_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::newRow("no charset is Latin-1")
        << QByteArray("text/plain") << QByteArray("caf\xe9") << QStringLiteral("café");
    QTest::newRow("utf-8") << QByteArray("text/html; charset=utf-8") << QByteArray("caf\xc3\xa9")
                           << QStringLiteral("café");
    QTest::newRow("quoted utf-16be") << QByteArray("text/plain; charset=\"UTF-16BE\"")
                                     << QByteArray("\0O\0K", 4) << QStringLiteral("OK");
    QTest::newRow("unknown charset falls back to Latin-1")
        << QByteArray("text/plain; charset=x-no-such") << QByteArray("\xe9") << QStringLiteral("é");
}

void TestNetworkQueue::answerIsDecodedByCharset()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    TestHttpServer server([&](const TestHttpRequest &) {
        return httpResponse(200, body, {"Content-Type: " + contentType});
    });
    NetworkQueue queue;
    Outcome outcome;
    watch(queue, outcome);
    queue.addOperation(new HttpRequest(server.url(QStringLiteral("/"))));
    queue.go();
    QTRY_COMPARE(outcome.finishedText.size(), 1);
    QCOMPARE(outcome.finishedText.first(), text);
}

void TestNetworkQueue::errorStatusIsStillAnAnswer()
{
    TestHttpServer server([](const TestHttpRequest &) { return httpResponse(404, "gone"); });
    NetworkQueue queue;
    Outcome outcome;
    watch(queue, outcome);
    queue.addOperation(new HttpRequest(server.url(QStringLiteral("/"))));
    queue.go();
    QTRY_COMPARE(outcome.finishedStatus.size(), 1);
    QCOMPARE(outcome.finishedStatus.first(), 404);
    QCOMPARE(outcome.finishedBodies.first(), QByteArray("gone"));
    QVERIFY(outcome.failedCodes.isEmpty());
}

void TestNetworkQueue::silentServerEndsTheRequest()
{
    TestHttpServer server([](const TestHttpRequest &) { return std::nullopt; });
    NetworkQueue queue;
    Outcome outcome;
    watch(queue, outcome);
    auto *request = new HttpRequest(server.url(QStringLiteral("/")));
    request->setTimeOutMilliseconds(300);
    queue.addOperation(request);
    queue.go();
    QTRY_COMPARE(outcome.failedCodes.size(), 1);
    QCOMPARE(outcome.failedCodes.first(), int(RequestTimedOutErrorType));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(queue.requestsCount(), 0);
}

void TestNetworkQueue::runsAtMostFourAtOnce()
{
    TestHttpServer server([](const TestHttpRequest &) { return std::nullopt; });
    NetworkQueue queue;
    Outcome outcome;
    watch(queue, outcome);
    for (int i = 0; i < 6; ++i)
        queue.addOperation(new HttpRequest(server.url(QStringLiteral("/%1").arg(i))));
    queue.go();
    QTRY_COMPARE(server.pendingCount(), 4);
    QTest::qWait(100);
    QCOMPARE(server.requests().size(), 4);
    QCOMPARE(queue.requestsCount(), 6);

    server.answerPending(httpResponse(200, "OK"));
    QTRY_COMPARE(server.pendingCount(), 2);
    server.answerPending(httpResponse(200, "OK"));
    QTRY_COMPARE(outcome.finishedBodies.size(), 6);
    QCOMPARE(queue.requestsCount(), 0);
}

void TestNetworkQueue::suspendedQueueSendsNothingUntilGo()
{
    TestHttpServer server;
    NetworkQueue queue;
    Outcome outcome;
    watch(queue, outcome);
    QVERIFY(queue.isSuspended());
    queue.addOperation(new HttpRequest(server.url(QStringLiteral("/"))));
    QTest::qWait(100);
    QCOMPARE(server.connectionCount(), 0);
    queue.go();
    QTRY_COMPARE(outcome.finishedBodies.size(), 1);
}

void TestNetworkQueue::failureCancelsTheRest_data()
{
    QTest::addColumn<bool>("cancelOnFailure");
    QTest::addColumn<int>("finished");
    QTest::newRow("cancel all") << true << 0;
    QTest::newRow("keep the rest") << false << 2;
}

void TestNetworkQueue::failureCancelsTheRest()
{
    QFETCH(bool, cancelOnFailure);
    QFETCH(int, finished);
    TestHttpServer server([](const TestHttpRequest &) { return std::nullopt; });
    // A port that was just closed refuses the connection.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closed.serverPort();
    closed.close();

    NetworkQueue queue;
    queue.setShouldCancelAllRequestsOnFailure(cancelOnFailure);
    Outcome outcome;
    watch(queue, outcome);
    queue.addOperation(new HttpRequest(server.url(QStringLiteral("/1"))));
    queue.addOperation(new HttpRequest(server.url(QStringLiteral("/2"))));
    queue.go();
    QTRY_COMPARE(server.pendingCount(), 2);
    queue.addOperation(
        new HttpRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort))));
    QTRY_COMPARE(outcome.failedCodes.size(), 1);
    QCOMPARE(outcome.failedCodes.first(), int(ConnectionFailureErrorType));
    QCOMPARE(queue.requestsCount(), finished);

    server.answerPending(httpResponse(200, "OK"));
    QTRY_COMPARE(outcome.finishedBodies.size(), finished);
    QTest::qWait(100);
    QCOMPARE(outcome.finishedBodies.size(), finished);
    QCOMPARE(outcome.failedCodes.size(), 1);
}

QTEST_GUILESS_MAIN(TestNetworkQueue)
#include "tst_networkqueue.moc"
