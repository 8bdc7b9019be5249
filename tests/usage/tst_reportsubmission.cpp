#include "formdatarequest.h"
#include "networkqueue.h"
#include "testhttpserver.h"
#include "usagesreportingwindowcontroller.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tallivo;

namespace {

// gzip of "OK"
const QByteArray gzippedOK = QByteArray::fromHex("1f8b0800000000000203f3f706002dd936d702000000");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestReportSubmission : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();
    void uploadsTheCountersFile();
    void serverAnswer_data();
    void serverAnswer();
    void silentServerIsAFailure();
    void onlyTheSecondOfTwoSubmissionsCounts();
    void missingFileSendsNothing();

private:
    std::unique_ptr<UsagesReportingWindowController> make(TestHttpServer &server);

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_alerts;
};

void TestReportSubmission::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_alerts.clear();
}

std::unique_ptr<UsagesReportingWindowController> TestReportSubmission::make(TestHttpServer &server)
{
    auto controller = std::make_unique<UsagesReportingWindowController>(nullptr, m_dir->path());
    controller->setReportURL(server.url(QStringLiteral("/error/usagesubmit.php")));
    controller->setAlertHandler(
        [this](QMessageBox::Icon icon, const QString &title, const QString &text) {
            m_alerts << QStringLiteral("%1|%2|%3")
                            .arg(icon == QMessageBox::Critical ? "critical" : "info", title, text);
        });
    controller->setRequestTimeOutMilliseconds(300);
    return controller;
}

void TestReportSubmission::uploadsTheCountersFile()
{
    TestHttpServer server;
    auto controller = make(server);
    controller->updateUsages(QString::fromLatin1(OutputFilesFeature), 12);
    QVERIFY(!controller->isEnabled()); // reporting off does not stop the submit command
    const QByteArray content = readFile(controller->usagesLogPath());
    QSignalSpy answered(controller.get(), &UsagesReportingWindowController::reportAnswered);

    controller->submitAction();
    QVERIFY(m_alerts.isEmpty()); // nothing is told before the server answers
    QVERIFY(answered.wait());
    QCOMPARE(answered.first().first().toBool(), true);
    QCOMPARE(m_alerts,
             QStringList{QStringLiteral("info|Usages Reporting :|Report submitted successfully.")});

    QCOMPARE(server.requests().size(), 1);
    const TestHttpRequest &request = server.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path(), QByteArray("/error/usagesubmit.php"));
    QVERIFY2(QRegularExpression(QStringLiteral(R"(^f=\d+\.\d{6}$)"))
                 .match(QString::fromLatin1(request.query()))
                 .hasMatch(),
             request.query().constData());
    QCOMPARE(request.header("UPLOAD_ID"), QByteArray("mzq81v570316"));
    QCOMPARE(request.header("Accept-Encoding"), QByteArray("gzip"));
    const QByteArray type = request.header("Content-Type");
    const QByteArray prefix = "multipart/form-data; charset=utf-8; boundary=";
    QVERIFY2(type.startsWith(prefix), type.constData());
    const QByteArray boundary = type.mid(prefix.size());
    QVERIFY(boundary.startsWith("0xKhTmLbOuNdArY-"));
    const QByteArray expected =
        "--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"file\"; filename=\"Usages.Log\"\r\n" +
        "Content-Type: " + FormDataRequest::mimeTypeForPath(QStringLiteral("Usages.Log")).toUtf8() +
        "\r\n\r\n" + content + "\r\n--" + boundary + "--\r\n";
    QCOMPARE(request.body, expected);
    QCOMPARE(request.header("Content-Length"), QByteArray::number(expected.size()));
}

void TestReportSubmission::serverAnswer_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("OK") << httpResponse(200, "OK") << true;
    QTest::newRow("OK<br> is OK and a line feed") << httpResponse(200, "OK<br>") << false;
    QTest::newRow("O&nbsp;K") << httpResponse(200, "O&nbsp;K") << false;
    QTest::newRow("lower case") << httpResponse(200, "ok") << false;
    QTest::newRow("empty") << httpResponse(200, "") << false;
    QTest::newRow("gzip-compressed OK")
        << httpResponse(200, gzippedOK, {"Content-Encoding: gzip"}) << true;
    QTest::newRow("OK in utf-16") << httpResponse(200, QByteArray("\xff\xfeO\0K\0", 6),
                                                  {"Content-Type: text/plain; charset=utf-16"})
                                  << true;
    QTest::newRow("OK after a redirect") << httpResponse(302, "", {"Location: /elsewhere"}) << true;
    QTest::newRow("error page") << httpResponse(500, "<html>Internal error</html>") << false;
}

void TestReportSubmission::serverAnswer()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, accepted);
    TestHttpServer server([&](const TestHttpRequest &request) {
        return request.path() == "/elsewhere" ? httpResponse(200, "OK") : response;
    });
    auto controller = make(server);
    const QDateTime long_ago(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    controller->setLastReportSentOn(long_ago);
    controller->save();
    QSignalSpy answered(controller.get(), &UsagesReportingWindowController::reportAnswered);

    controller->submitAction();
    QVERIFY(answered.wait());
    QCOMPARE(answered.first().first().toBool(), accepted);
    QCOMPARE(m_alerts.size(), 1);
    QCOMPARE(m_alerts.first().endsWith(QStringLiteral("Report submitted successfully.")), accepted);
    QCOMPARE(m_alerts.first().endsWith(QStringLiteral("Unable to submit report!")), !accepted);

    // The new time is saved, so it survives a restart.
    auto restarted = make(server);
    QCOMPARE(restarted->lastReportSentOn() > long_ago, accepted);
}

void TestReportSubmission::silentServerIsAFailure()
{
    TestHttpServer server([](const TestHttpRequest &) { return std::nullopt; });
    auto controller = make(server);
    const QDateTime before = controller->lastReportSentOn();
    QSignalSpy answered(controller.get(), &UsagesReportingWindowController::reportAnswered);
    controller->submitAction();
    QVERIFY(answered.wait());
    QCOMPARE(answered.first().first().toBool(), false);
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(m_alerts,
             QStringList{QStringLiteral("critical|Usages Reporting :|Unable to submit report!")});
    QCOMPARE(controller->lastReportSentOn(), before);
}

void TestReportSubmission::onlyTheSecondOfTwoSubmissionsCounts()
{
    // The first upload is held by the server until the second has been answered.
    TestHttpServer server([](const TestHttpRequest &request) -> std::optional<QByteArray> {
        if (request.body.contains("<filescount>1</filescount>"))
            return std::nullopt;
        return httpResponse(200, "OK");
    });
    auto controller = make(server);
    controller->updateUsages(QString::fromLatin1(OutputFilesFeature), 1);
    QSignalSpy answered(controller.get(), &UsagesReportingWindowController::reportAnswered);
    controller->submitAction();
    QTRY_COMPARE(server.pendingCount(), 1);

    controller->updateUsages(QString::fromLatin1(OutputFilesFeature), 1);
    controller->submitAction();
    QVERIFY(answered.wait());
    QCOMPARE(answered.first().first().toBool(), true);
    QCOMPARE(server.requests().size(), 2);
    QVERIFY(server.requests().last().body.contains("<filescount>2</filescount>"));

    // The first request's late answer changes nothing.
    server.answerPending(httpResponse(200, "OK"));
    QTest::qWait(200);
    QCOMPARE(answered.size(), 1);
    QCOMPARE(m_alerts.size(), 1);
    QCOMPARE(controller->networkQueue()->requestsCount(), 0);
}

void TestReportSubmission::missingFileSendsNothing()
{
    TestHttpServer server;
    auto controller = make(server);
    QVERIFY(QFile::remove(controller->usagesLogPath()));
    QVERIFY(!controller->submitReport());
    controller->submitAction();
    QCOMPARE(m_alerts,
             QStringList{QStringLiteral("critical|Usages Reporting :|Unable to submit report!")});
    QTest::qWait(100);
    QCOMPARE(server.connectionCount(), 0);
}

QTEST_MAIN(TestReportSubmission)
#include "tst_reportsubmission.moc"
