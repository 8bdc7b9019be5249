#include "httprequest.h"
#include "testhttpserver.h"

#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <zlib.h>

using namespace tallivo;

namespace {

QByteArray gzip(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// Runs one request to its end; "finished <status> <path> <text>" or "failed <error>".
struct Outcome
{
    QString summary;
    qsizetype bodySize = 0;
};

Outcome run(HttpRequest *request, int settle = 50)
{
    QSignalSpy finished(request, &HttpRequest::finished);
    QSignalSpy failed(request, &HttpRequest::failed);
    // A loop of its own: a byte at a time must not wait for polling.
    QEventLoop loop;
    QObject::connect(request, &HttpRequest::finished, &loop, &QEventLoop::quit);
    QObject::connect(request, &HttpRequest::failed, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    request->start();
    if (finished.size() + failed.size() == 0)
        loop.exec();
    if (finished.size() + failed.size() == 0)
        return {QStringLiteral("no end")};
    QTest::qWait(settle); // a second signal would arrive now
    if (finished.size() + failed.size() != 1)
        return {QStringLiteral("both signals")};
    if (!failed.isEmpty())
        return {QStringLiteral("failed %1").arg(QVariant::fromValue(request->error()).toString()),
                request->responseBody().size()};
    return {QStringLiteral("finished %1 %2 %3")
                .arg(request->statusCode())
                .arg(request->finalUrl().path(), QString::fromLatin1(request->responseBody())),
            request->responseBody().size()};
}

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QByteArrayList m_tls; // certificate and key, PEM

private Q_SLOTS:
    void initTestCase()
    {
        // Loopback only: nothing may go to a proxy of the machine's.
        for (const char *name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY",
                                 "ALL_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
        // A certificate for 127.0.0.1 that is its own authority.
        QProcess openssl;
        openssl.setWorkingDirectory(m_dir.path());
        openssl.start(
            QStringLiteral("openssl"),
            QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                        QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                        QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                        QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                        QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                        QStringLiteral("key.pem"), QStringLiteral("-out"),
                        QStringLiteral("cert.pem")});
        QFile cert(m_dir.filePath(QStringLiteral("cert.pem")));
        QFile key(m_dir.filePath(QStringLiteral("key.pem")));
        if (openssl.waitForFinished(60000) && openssl.exitCode() == 0 &&
            QSslSocket::supportsSsl() && cert.open(QIODevice::ReadOnly) &&
            key.open(QIODevice::ReadOnly))
            m_tls = {cert.readAll(), key.readAll()};
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("seen"); // method, path and body of each request
        QTest::addColumn<QString>("outcome");
        const QByteArray once = "POST /old a=1";
        QTest::newRow("gzip is inflated")
            << httpResponse(200, gzippedOK, {"Content-Encoding: gzip"}) << once
            << "finished 200 /old OK";
        QTest::newRow("error status is still an answer")
            << httpResponse(404, "gone") << once << "finished 404 /old gone";
        QTest::newRow("400 is still an answer")
            << httpResponse(400, "bad") << once << "finished 400 /old bad";
        QTest::newRow("chunked") << chunkedResponse(200, {"O", "K"}) << once
                                 << "finished 200 /old OK";
        QTest::newRow("302 turns the post into a get")
            << httpResponse(302, "", {"Location: /new"}) << once + "|GET /new "
            << "finished 200 /new OK";
        QTest::newRow("307 repeats the post")
            << httpResponse(307, "", {"Location: /new"}) << once + "|POST /new a=1"
            << "finished 200 /new OK";
        QTest::newRow("an interim answer first")
            << "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + httpResponse(200, "OK") << once
            << "finished 200 /old OK";
        QTest::newRow("exactly the largest answer")
            << httpResponse(200, QByteArray(HttpRequest::MaxResponseSize, 'x')) << once
            << "finished 200 /old " + QString(HttpRequest::MaxResponseSize, QLatin1Char('x'));
        QTest::newRow("exactly the largest answer, inflated")
            << httpResponse(200, gzip(QByteArray(HttpRequest::MaxResponseSize, 'x')),
                            {"Content-Encoding: gzip"})
            << once
            << "finished 200 /old " + QString(HttpRequest::MaxResponseSize, QLatin1Char('x'));
    }
    void answers()
    {
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, seen);
        QFETCH(QString, outcome);
        TestHttpServer server([&](const TestHttpRequest &request) {
            return request.target == "/new" ? httpResponse(200, "OK") : response;
        });
        HttpRequest request(server.url(QStringLiteral("/old")));
        request.setBody("a=1");
        request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
        QCOMPARE(run(&request).summary, outcome);
        QByteArrayList requests;
        for (const TestHttpRequest &r : server.requests())
            requests << r.method + ' ' + r.target + ' ' + r.body;
        QCOMPARE(requests.join('|'), seen);

        const TestHttpRequest &sent = server.requests().first();
        // Only what is inflated and checked here is asked for.
        QCOMPARE(sent.headers.value("accept-encoding"), QByteArray("gzip"));
    }

    // A cut answer is framingByteByByte's: it meets every cut there.
    void failures_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("outcome");
        const QString tooLarge = QStringLiteral("failed ResponseTooLarge");
        const QString refused = QStringLiteral("failed RedirectRefused");
        QTest::newRow("two lengths")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nOK")
            << "failed MalformedResponse";
        QTest::newRow("redirect to a local file")
            << httpResponse(302, "", {"Location: file:///etc/hostname"}) << refused;
        QTest::newRow("redirect to data")
            << httpResponse(302, "", {"Location: data:text/plain,OK"}) << refused;
        QTest::newRow("redirect loop") << httpResponse(302, "", {"Location: /loop"}) << refused;
        QTest::newRow("announced too large")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\nOK") << tooLarge;
        QTest::newRow("one byte too large")
            << httpResponse(200, QByteArray(HttpRequest::MaxResponseSize + 1, 'x')) << tooLarge;
        QTest::newRow("large without a length")
            << chunkedResponse(200, QList<QByteArray>(64, QByteArray(16384, 'x'))) << tooLarge;
        // 32 MiB of zeros in 32 KiB: refused once 64 KiB are inflated.
        QTest::newRow("gzip bomb")
            << httpResponse(200, gzip(QByteArray(32 << 20, '\0')), {"Content-Encoding: gzip"})
            << tooLarge;
        // Hex digits of random bytes compress only about two to one.
        QByteArray noise(48 * 1024, Qt::Uninitialized);
        QRandomGenerator random(9);
        random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QTest::newRow("inflated beyond the cap")
            << httpResponse(200, gzip(noise.toHex()), {"Content-Encoding: gzip"}) << tooLarge;
    }
    void failures()
    {
        QFETCH(QByteArray, response);
        QFETCH(QString, outcome);
        TestHttpServer server([&](const TestHttpRequest &) { return response; });
        HttpRequest request(server.url(QStringLiteral("/loop")));
        const Outcome result = run(&request);
        QCOMPARE(result.summary, outcome);
        QCOMPARE(result.bodySize, 0); // part of an answer is no answer
    }

    // Every answer is sent a byte at a time to a POST, many rounds over, so
    // each cut of the framing meets the client at some point and a race
    // with the body being sent shows under the address sanitizer.
    void framingByteByByte_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("outcome");
        const QByteArray gzipHead = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n";
        const QByteArray chunkedGzipHead =
            "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n";
        const QString ok = QStringLiteral("finished 200 /up OK");
        const QString incomplete = QStringLiteral("failed ResponseIncomplete");
        const QString damaged = QStringLiteral("failed InflateFailed");
        // Nothing but the gzip trailer could show that such an answer was cut,
        // and libcurl does not check it.
        QTest::newRow("gzip without a length, ended by the close")
            << gzipHead + "\r\n" + gzippedOK << damaged;
        QTest::newRow("gzip without a length, trailer cut")
            << gzipHead + "\r\n" + gzippedOK.chopped(5) << damaged;
        QTest::newRow("gzip shorter than its length")
            << gzipHead + "Content-Length: 40\r\n\r\n" + gzippedOK << incomplete;
        // The length ends the answer, as for any other; the data are whole here.
        QTest::newRow("gzip longer than its length")
            << gzipHead + "Content-Length: 18\r\n\r\n" + gzippedOK << ok;
        QTest::newRow("gzip with data after its trailer")
            << gzipHead + "\r\n" + gzippedOK + "x" << damaged;
        QTest::newRow("chunked gzip")
            << chunkedGzipHead + "5\r\n" + gzippedOK.left(5) + "\r\n11;x=y\r\n" + gzippedOK.mid(5) +
                   "\r\n0\r\nX-Sum: 1\r\n\r\n"
            << ok;
        QTest::newRow("chunked gzip without the last chunk")
            << chunkedGzipHead + "16\r\n" + gzippedOK + "\r\n"
            << incomplete;
        QTest::newRow("chunked without the last chunk")
            << chunkedResponse(200, {"O", "K"}, true) << incomplete;
        QTest::newRow("chunked without the end of its trailer")
            << chunkedResponse(200, {"O", "K"}).chopped(2) << incomplete;
        QTest::newRow("chunked cut inside a chunk")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nOK")
            << incomplete;
        QTest::newRow("plain, shorter than its length")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nOK") << incomplete;
        QTest::newRow("cut inside the head")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Le") << incomplete;
        QTest::newRow("length and chunks at once")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: "
                          "chunked\r\n\r\n2\r\nOK\r\n0\r\n\r\n")
            << "failed MalformedResponse";
        QTest::newRow("an encoding not asked for")
            << httpResponse(200, "OK", {"Content-Encoding: br"}) << damaged;
    }
    void framingByteByByte()
    {
        QFETCH(QByteArray, response);
        QFETCH(QString, outcome);
        TestHttpServer server([&](const TestHttpRequest &) { return response; });
        server.setCloseAfterAnswer(true);
        server.setTrickle(0);
        for (int round = 0; round < 50; ++round) {
            auto request = std::make_unique<HttpRequest>(server.url(QStringLiteral("/up")));
            request->setBody(QByteArray(32 * 1024, 'b'));
            const Outcome result = run(request.get(), 0);
            QCOMPARE(result.summary, outcome);
            if (!outcome.startsWith(u"finished"))
                QCOMPARE(result.bodySize, 0);
        }
        QCOMPARE(server.requests().size(), 50);
        QCOMPARE(server.requests().last().body.size(), 32 * 1024);
    }

    // A connection reset in the middle of an answer is no end of it, even
    // when the answer has no length and would end with the connection.
    void resetInTheMiddle_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("outcome");
        const QString incomplete = QStringLiteral("failed ResponseIncomplete");
        QTest::newRow("no length") << QByteArray("HTTP/1.1 200 OK\r\n\r\nOK") << incomplete;
        QTest::newRow("gzip without a length")
            << "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzippedOK.left(12)
            << incomplete;
        QTest::newRow("inside a chunk")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nOK")
            << incomplete;
        QTest::newRow("inside the head")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Le") << "failed ConnectionFailed";
    }
    void resetInTheMiddle()
    {
        QFETCH(QByteArray, response);
        QFETCH(QString, outcome);
        TestHttpServer server([&](const TestHttpRequest &) { return response; });
        server.setResetAfterAnswer(true);
        HttpRequest request(server.url(QStringLiteral("/reset")));
        const Outcome result = run(&request);
        QCOMPARE(result.summary, outcome);
        QCOMPARE(result.bodySize, 0);
    }

    // Redirects between a plain and a TLS server: https never leads to http,
    // and no more than five are followed.
    void redirects_data()
    {
        QTest::addColumn<QString>(
            "hops"); // p: plain, s: TLS; the first is asked, the rest redirect
        QTest::addColumn<QString>("outcome");
        const QString refused = QStringLiteral("failed RedirectRefused");
        QTest::newRow("https") << "s"
                               << "finished 200 / OK";
        QTest::newRow("http to https") << "ps"
                                       << "finished 200 / OK";
        QTest::newRow("https to https") << "ss"
                                        << "finished 200 / OK";
        QTest::newRow("https to http") << "sp" << refused;
        QTest::newRow("http to https to http") << "psp" << refused;
        QTest::newRow("five redirects") << "pppppp"
                                        << "finished 200 / OK";
        QTest::newRow("six redirects") << "ppppppp" << refused;
    }
    void redirects()
    {
        QFETCH(QString, hops);
        QFETCH(QString, outcome);
        if (m_tls.isEmpty())
            QSKIP("openssl could not make a certificate, or Qt has no TLS");
        TestHttpServer *servers[2] = {};
        // "/<hops left>": a redirect to the server of the next one, or the answer.
        const auto handler = [&](const TestHttpRequest &request) {
            const QString left = QString::fromLatin1(request.target.mid(1));
            if (left.isEmpty())
                return httpResponse(200, "OK");
            const QUrl next = servers[left.front() == u's']->url(u'/' + left.mid(1));
            return httpResponse(302, "", {"Location: " + next.toEncoded()});
        };
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(m_tls.value(0)));
        tls.setPrivateKey(QSslKey(m_tls.value(1), QSsl::Ec));
        TestHttpServer plain(handler), secure(handler, tls);
        servers[0] = &plain;
        servers[1] = &secure;
        HttpRequest request(servers[hops.front() == u's']->url(u'/' + hops.mid(1)));
        request.setCaFile(QFile::encodeName(m_dir.filePath(QStringLiteral("cert.pem"))));
        QCOMPARE(run(&request).summary, outcome);
        // Refused before the request goes out: only the hops before the refused one were asked.
        const qsizetype asked = plain.requests().size() + secure.requests().size();
        QCOMPARE(asked, outcome.startsWith(u"failed") ? hops.size() - 1 : hops.size());

        // Without the authority the certificate is not trusted.
        HttpRequest untrusted(secure.url(QStringLiteral("/")));
        QCOMPARE(run(&untrusted).summary, QStringLiteral("failed ConnectionFailed"));
    }

    // Plain http goes to a proxy from the environment as a forwarded request
    // with the absolute address, not a tunnel that a default proxy refuses.
    void proxyForwardsPlainHttp()
    {
        TestHttpServer proxy;
        qputenv("http_proxy", proxy.url(QString()).toEncoded());
        HttpRequest request(QUrl(QStringLiteral("http://upload.invalid/up?f=1")));
        request.setBody("a=1");
        const QString outcome = run(&request).summary;
        qunsetenv("http_proxy");
        QCOMPARE(outcome, QStringLiteral("finished 200 /up OK"));
        QCOMPARE(proxy.requests().size(), 1);
        const TestHttpRequest &seen = proxy.requests().first();
        QCOMPARE(seen.method + ' ' + seen.target + ' ' + seen.body,
                 QByteArray("POST http://upload.invalid/up?f=1 a=1"));
    }

    // A server that sends a byte now and then is never silent for long, so
    // only the deadline of the whole request ends it.
    void deadlineEndsATrickle()
    {
        TestHttpServer server(
            [](const TestHttpRequest &) { return httpResponse(200, QByteArray(1000, 'x')); });
        server.setTrickle(100);
        HttpRequest request(server.url(QStringLiteral("/slow")));
        request.setTransferTimeout(5000);
        request.setDeadline(1500);
        QCOMPARE(run(&request).summary, QStringLiteral("failed TimedOut"));
        QVERIFY2(request.errorString().contains(u"timed out after"),
                 qPrintable(request.errorString()));
        QCOMPARE(HttpRequest::DefaultDeadline, 60000);
    }

    void onlyHttpIsSpoken()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("secret"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("SECRET") == 6);
        file.close();
        HttpRequest request(QUrl::fromLocalFile(path));
        QCOMPARE(run(&request).summary, QStringLiteral("failed InvalidRequest"));
        QVERIFY(request.responseBody().isEmpty());

        // Nor can a header carry a second one.
        TestHttpServer server;
        HttpRequest injected(server.url(QStringLiteral("/")));
        injected.setRawHeader("X-Note", "a\r\nUPLOAD_ID: forged");
        QCOMPARE(run(&injected).summary, QStringLiteral("failed InvalidRequest"));
        QVERIFY(server.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httprequest.moc"
