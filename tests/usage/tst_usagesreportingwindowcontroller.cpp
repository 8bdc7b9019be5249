#include "formdatarequest.h"
#include "networkqueue.h"
#include "reviewwindowcontroller.h"
#include "testhttpserver.h"
#include "usagesreportingwindow.h"
#include "usagesreportingwindowcontroller.h"

#include <QAction>
#include <QCheckBox>
#include <QMainWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>

using namespace tallivo;

namespace {

const QString outputFiles = QString::fromLatin1(OutputFilesFeature);
const QString submitted = QStringLiteral("info|Usages Reporting :|Report submitted successfully.");
const QString refused = QStringLiteral("critical|Usages Reporting :|Unable to submit report!");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Features as "name:usages:files,...".
QString featuresOf(const UsagesReportingWindowController &controller)
{
    QStringList items;
    for (const FeatureUsages &feature : controller.features())
        items << QStringLiteral("%1:%2:%3")
                     .arg(feature.name)
                     .arg(feature.usagesCount)
                     .arg(feature.filesCount);
    return items.join(QLatin1Char(','));
}

QByteArray logWith(const QByteArray &inner)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><usagesreporting>" + inner +
           "</usagesreporting>";
}

} // namespace

class TestUsagesReportingWindowController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_opened.clear();
        m_alerts.clear();
    }

    void firstStartThenCountsAccumulate()
    {
        auto first = make(); // the first write: no feature, no target yet
        QVERIFY(readFile(logPath()).contains("<nextReviewTargetValue>0</nextReviewTargetValue>"));
        QCOMPARE(featuresOf(*make()), QString());
        first->applyStartupSettings(); // the second write
        QCOMPARE(featuresOf(*make()), QStringLiteral("Output Files:1:0"));
        QCOMPARE(make()->nextReviewTargetValue(), 2000);
        first->updateUsages(outputFiles, 250);
        first->updateUsages(outputFiles, 260);
        first->updateUsages(QStringLiteral("output files"), 5); // names are case-sensitive
        first.reset();

        // A restart keeps counts and target and adds no second feature.
        auto again = make();
        again->applyStartupSettings();
        QCOMPARE(again->nextReviewTargetValue(), 2000);
        QCOMPARE(featuresOf(*again), QStringLiteral("Output Files:3:510,output files:1:5"));
        QCOMPARE(again->totalFileCount(), 515);
        // Counters stop at the 32-bit limit instead of wrapping to negative.
        again->updateUsages(QStringLiteral("output files"), std::numeric_limits<qint32>::max());
        QCOMPARE(again->features().at(1).filesCount, std::numeric_limits<qint32>::max());
    }

    void fileLayoutSurvivesARestart()
    {
        const QDateTime sent(QDate(2013, 5, 14), QTime(9, 50, 31, 123), QTimeZone::utc());
        {
            auto controller = make();
            controller->setFeatures({{QStringLiteral("a<b&c"), 3, 4}});
            controller->setIsEnabled(true);
            controller->setBuildDate(QDateTime());
            controller->setLastReportSentOn(sent);
            controller->setLastReviewAskDate(sent.addDays(-3));
            controller->setNextReviewTargetValue(2000);
            QVERIFY(controller->save());
        }
        // Dates in "Z" form because the tests run with TZ=UTC.
        const QByteArray expected =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<!--" TALLIVO_DISPLAY_NAME " " TALLIVO_VERSION " Usages Reporting File-->\n"
            "<usagesreporting xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><productname>" TALLIVO_DISPLAY_NAME
            "</productname><productversion>" TALLIVO_VERSION
            "</productversion><builddate></builddate><hardwareUUID>" +
            CopySerialNumber().toUtf8() +
            "</hardwareUUID><enabled>true</enabled>"
            "<lastreportsenton>2013-05-14T09:50:31.123000Z</lastreportsenton>"
            "<lastReviewAskDate>2013-05-11T09:50:31.123000Z</lastReviewAskDate>"
            "<neverAskForReview>false</neverAskForReview>"
            "<nextReviewTargetValue>2000</nextReviewTargetValue><features><featureusages>"
            "<name>a&lt;b&amp;c</name><usagescount>3</usagescount><filescount>4</filescount>"
            "</featureusages></features></usagesreporting>\n";
        QCOMPARE(readFile(logPath()), expected);

        auto controller = make();
        QCOMPARE(controller->lastReportSentOn().toSecsSinceEpoch(), sent.toSecsSinceEpoch());
        QCOMPARE(controller->lastReviewAskDate().toSecsSinceEpoch(),
                 sent.addDays(-3).toSecsSinceEpoch());
        QVERIFY(!controller->buildDate().isValid());
        QCOMPARE(featuresOf(*controller), QStringLiteral("a<b&c:3:4"));
    }

    void loadsTolerantly_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("loaded"); // enabled|target|version read|features
        QTest::newRow("True is not true") << logWith("<enabled>True</enabled>") << "false|0||";
        QTest::newRow("last node wins")
            << logWith("<productversion>1.0</productversion><productversion>1.5</productversion>"
                       "<nextReviewTargetValue>10</nextReviewTargetValue>"
                       "<nextReviewTargetValue>20</nextReviewTargetValue>"
                       "<hardwareUUID>SOMEONE-ELSE</hardwareUUID>")
            << "false|20|1.5|";
        QTest::newRow("beyond 32 bits")
            << logWith("<nextReviewTargetValue>99999999999</nextReviewTargetValue>")
            << "false|2147483647||";
        QTest::newRow("features missing parts")
            << logWith("<features><featureusages><usagescount>2</usagescount><filescount>7"
                       "</filescount></featureusages><featureusages><name>x</name>"
                       "</featureusages></features>")
            << "false|0||:2:7,x:0:0";
        QTest::newRow("broken markup is repaired")
            << QByteArray("<usagesreporting><productversion>1.5</productversion><enabled>true"
                          "</enabled><features><featureusages><name>x</name><filescount>3")
            << "true|0|1.5|x:0:3";
        QTest::newRow("not xml at all") << QByteArray("\x01\x02garbage") << "false|0||";
        QTest::newRow("wrong root")
            << QByteArray("<other><enabled>true</enabled></other>") << "false|0||";
        // Nothing may come from another file.
        const QByteArray doctype = "<?xml version=\"1.0\"?><!DOCTYPE usagesreporting ";
        const QByteArray secret = "<usagesreporting><productname>&secret;</productname>";
        QTest::newRow("external entity")
            << doctype + "[<!ENTITY secret SYSTEM \"file://SECRET\">]>" + secret << "false|0||";
        QTest::newRow("parameter entity")
            << doctype + "[<!ENTITY % ext SYSTEM \"file://DTD\"> %ext;]>" + secret << "false|0||";
        QTest::newRow("external subset")
            << doctype + "SYSTEM \"file://DTD\">" + secret << "false|0||";
        QTest::newRow("xinclude")
            << QByteArray("<usagesreporting xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
                          "<productname><xi:include href=\"file://SECRET\" parse=\"text\"/>"
                          "</productname></usagesreporting>")
            << "false|0||";
    }
    void loadsTolerantly()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, loaded);
        const QString secretPath = m_dir->filePath(QStringLiteral("secret.txt"));
        const QString dtdPath = m_dir->filePath(QStringLiteral("evil.dtd"));
        QVERIFY(writeFile(secretPath, "TOPSECRET"));
        QVERIFY(writeFile(dtdPath, "<!ENTITY secret \"TOPSECRET\">"));
        xml.replace("file://SECRET", QUrl::fromLocalFile(secretPath).toEncoded());
        xml.replace("file://DTD", QUrl::fromLocalFile(dtdPath).toEncoded());
        QVERIFY(writeLog(xml));

        auto controller = make();
        const QString version = controller->version();
        QCOMPARE(QStringLiteral("%1|%2|%3|%4")
                     .arg(controller->isEnabled() ? "true" : "false")
                     .arg(controller->nextReviewTargetValue())
                     .arg(version == QStringLiteral(TALLIVO_VERSION) ? QString() : version,
                          featuresOf(*controller)),
                 loaded);
        QVERIFY2(!controller->productName().contains(QStringLiteral("TOPSECRET")),
                 qPrintable(controller->productName()));

        // Saving keeps an older version but always writes this machine's identifier.
        QVERIFY(controller->save());
        const QByteArray saved = readFile(logPath());
        QVERIFY(saved.contains("<productversion>" + version.toUtf8() + '<'));
        QVERIFY(saved.contains("<hardwareUUID>" + CopySerialNumber().toUtf8() + '<'));
        QVERIFY(!saved.contains("TOPSECRET"));
    }

    void duplicateFeaturesUpdateTheLast()
    {
        const QByteArray feature = "<featureusages><name>Output Files</name><usagescount>1"
                                   "</usagescount><filescount>10</filescount></featureusages>";
        QVERIFY(writeLog(logWith("<features>" + feature + feature + "</features>")));
        auto controller = make();
        controller->updateUsages(outputFiles, 5);
        QCOMPARE(featuresOf(*controller), QStringLiteral("Output Files:1:10,Output Files:2:15"));
    }

    void saveRecreatesADeletedFolder()
    {
        auto controller = make();
        QVERIFY(QDir(folder()).removeRecursively());
        controller->updateUsages(outputFiles, 3);
        QCOMPARE(make()->totalFileCount(), 3);
    }

    void reviewPrompt_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("target");
        QTest::addColumn<bool>("never");
        QTest::addColumn<bool>("reviewEnabled");
        QTest::addColumn<bool>("prompt");
        QTest::newRow("below target") << 1999 << 2000 << false << true << false;
        QTest::newRow("at target") << 2000 << 2000 << false << true << true;
        QTest::newRow("nothing counted, no target") << 0 << 0 << false << true << false;
        QTest::newRow("never ask") << 5000 << 2000 << true << true << false;
        QTest::newRow("prompt off") << 5000 << 2000 << false << false << false;
    }
    void reviewPrompt()
    {
        QFETCH(int, total);
        QFETCH(int, target);
        QFETCH(bool, never);
        QFETCH(bool, reviewEnabled);
        QFETCH(bool, prompt);
        auto controller = make();
        controller->updateUsages(outputFiles, total);
        controller->setNextReviewTargetValue(target);
        controller->setNeverAskForReview(never);
        controller->setIsReviewEnabled(reviewEnabled);
        controller->validate(false);
        QCOMPARE(controller->reviewPanel() && controller->reviewPanel()->isVisible(), prompt);
    }

    void closingThePromptMovesTheTarget_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("tick");
        QTest::newRow("cancel, box clear") << false << false;
        QTest::newRow("confirm, box ticked") << true << true;
    }
    void closingThePromptMovesTheTarget()
    {
        QFETCH(bool, confirm);
        QFETCH(bool, tick);
        auto controller = make();
        controller->applyStartupSettings();
        controller->updateUsages(outputFiles, 2600);
        const QDateTime before = controller->lastReviewAskDate();
        controller->validate(false);
        ReviewWindowController *dialog = controller->reviewPanel();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(!dialog->neverAskmeAgainButton()->isChecked());
        dialog->neverAskmeAgainButton()->setChecked(tick);
        if (confirm)
            dialog->reviewOKAction();
        else
            dialog->reviewCancelAction();
        QVERIFY(!dialog->isVisible());
        const QUrl reviewPage(QString::fromLatin1(ReviewPageURL));
        QCOMPARE(m_opened, confirm ? QList<QUrl>{reviewPage} : QList<QUrl>{});

        auto restarted = make();
        restarted->applyStartupSettings();
        QCOMPARE(restarted->nextReviewTargetValue(), 4600);
        QCOMPARE(restarted->neverAskForReview(), tick);
        QVERIFY(restarted->lastReviewAskDate() >= before.addSecs(-1));
        // Once more files are counted, only an unticked box lets the prompt return.
        restarted->updateUsages(outputFiles, 2000);
        restarted->validate(false);
        QCOMPARE(restarted->reviewPanel() != nullptr, !tick);

        // The help command opens the page whatever the box says, but never a bad address.
        m_opened.clear();
        restarted->rateUs();
        restarted->setReviewURL(QStringLiteral("not a url"));
        restarted->rateUs();
        QCOMPARE(m_opened, QList<QUrl>{reviewPage});
    }

    void serverAnswer_data()
    {
        QTest::addColumn<QByteArray>("response"); // empty: the server never answers
        QTest::addColumn<bool>("accepted");
        QTest::newRow("OK") << httpResponse(200, "OK") << true;
        QTest::newRow("OK<br> is OK and a line feed") << httpResponse(200, "OK<br>") << false;
        QTest::newRow("lower case") << httpResponse(200, "ok") << false;
        QTest::newRow("gzip-compressed OK")
            << httpResponse(200, gzippedOK, {"Content-Encoding: gzip"}) << true;
        QTest::newRow("OK in utf-16") << httpResponse(200, QByteArray("\xff\xfeO\0K\0", 6),
                                                      {"Content-Type: text/plain; charset=utf-16"})
                                      << true;
        QTest::newRow("OK after a redirect")
            << httpResponse(302, "", {"Location: /elsewhere"}) << true;
        QTest::newRow("error page") << httpResponse(500, "<html>Internal error</html>") << false;
        QTest::newRow("never answers") << QByteArray() << false;
    }
    void serverAnswer()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, accepted);
        TestHttpServer server([&](const TestHttpRequest &request) -> std::optional<QByteArray> {
            if (request.target == "/elsewhere")
                return httpResponse(200, "OK");
            return response.isEmpty() ? std::nullopt : std::optional(response);
        });
        auto controller = make(&server);
        const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
        controller->setLastReportSentOn(longAgo);
        controller->updateUsages(outputFiles, 12);
        QVERIFY(!controller->isEnabled()); // reporting off does not stop the submit command
        const QByteArray content = readFile(logPath());

        controller->submitAction();
        QVERIFY(m_alerts.isEmpty()); // nothing is told before the server answers
        QTRY_COMPARE(m_alerts, QStringList{accepted ? submitted : refused});
        // The new time is saved, so it survives a restart.
        QCOMPARE(make()->lastReportSentOn() > longAgo, accepted);

        // The upload, byte for byte apart from the boundary.
        const TestHttpRequest &sent = server.requests().first();
        const QString line = QString::fromLatin1(sent.method + ' ' + sent.target);
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^POST /error/usagesubmit\.php\?f=\d+\.\d{6}$)"))
                .match(line)
                .hasMatch(),
            qPrintable(line));
        QCOMPARE(sent.headers.value("upload_id"), QByteArray("mzq81v570316"));
        const QByteArray type = sent.headers.value("content-type");
        QVERIFY2(type.startsWith("multipart/form-data; charset=utf-8; boundary=0xKhTmLbOuNdArY-"),
                 type.constData());
        const QByteArray b = type.mid(type.indexOf("boundary=") + 9);
        QCOMPARE(sent.body,
                 "--" + b +
                     "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"Usages.Log\""
                     "\r\nContent-Type: " +
                     FormDataRequest::mimeTypeForPath(QStringLiteral("Usages.Log")).toUtf8() +
                     "\r\n\r\n" + content + "\r\n--" + b + "--\r\n");
    }

    void onlyTheSecondOfTwoSubmissionsCounts()
    {
        // The first upload is held by the server until the second has been answered.
        TestHttpServer server([](const TestHttpRequest &request) -> std::optional<QByteArray> {
            if (request.body.contains("<filescount>1</filescount>"))
                return std::nullopt;
            return httpResponse(200, "OK");
        });
        auto controller = make(&server);
        controller->setRequestTimeOutMilliseconds(10000);
        controller->updateUsages(outputFiles, 1);
        controller->submitAction();
        QTRY_COMPARE(server.pendingCount(), 1);

        controller->updateUsages(outputFiles, 1);
        controller->submitAction();
        QTRY_COMPARE(m_alerts, QStringList{submitted});
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(server.requests().last().body.contains("<filescount>2</filescount>"));
        // The first request's late answer changes nothing.
        server.answerPending(httpResponse(200, "OK"));
        QTest::qWait(200);
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(controller->networkQueue()->requestsCount(), 0);
    }

    void missingFileSendsNothing()
    {
        TestHttpServer server;
        auto controller = make(&server);
        QVERIFY(QFile::remove(logPath()));
        QVERIFY(!controller->submitReport());
        controller->submitAction();
        QCOMPARE(m_alerts, QStringList{refused});
        QTest::qWait(100);
        QCOMPARE(server.requests().size(), 0);
    }

    void windowAppliesOnlyOnApply()
    {
        QMainWindow main;
        auto controller = make(nullptr, &main);
        QToolBar *toolbar = main.addToolBar(QStringLiteral("tools"));
        toolbar->addAction(QStringLiteral("Open"));
        toolbar->addAction(QStringLiteral("Same"));
        toolbar->addAction(QStringLiteral("Same"));
        controller->initToolbar(toolbar, QStringLiteral("Same"));
        controller->initToolbar(toolbar, QStringLiteral("Nothing"));
        const QList<QAction *> items = toolbar->actions();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items.at(2)->objectName(), QStringLiteral("USAGESREPORTING"));
        QCOMPARE(items.at(2)->text(), QStringLiteral("Usages Reporting"));
        QVERIFY(!items.at(2)->icon().isNull());

        items.at(2)->trigger();
        UsagesReportingWindow *window = controller->window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowModality(), Qt::WindowModal);
        QCheckBox *enable = window->enableUsagesReportingButton();
        QVERIFY(!enable->isChecked());
        enable->setChecked(true);
        controller->cancelAction();
        QVERIFY(!window->isVisible());
        QVERIFY(!controller->isEnabled());
        controller->usagesAction();
        QVERIFY(enable->isChecked());
        controller->applyAction();
        QVERIFY(!window->isVisible());
        QVERIFY(readFile(logPath()).contains("<enabled>true</enabled>"));
    }

private:
    std::unique_ptr<UsagesReportingWindowController> make(TestHttpServer *server = nullptr,
                                                          QWidget *parent = nullptr)
    {
        auto controller = std::make_unique<UsagesReportingWindowController>(parent, folder());
        controller->setUrlOpener([this](const QUrl &url) {
            m_opened << url;
            return true;
        });
        controller->setAlertHandler([this](QMessageBox::Icon icon, const QString &title,
                                           const QString &text) {
            m_alerts << QStringLiteral("%1|%2|%3")
                            .arg(icon == QMessageBox::Critical ? "critical" : "info", title, text);
        });
        if (server)
            controller->setReportURL(server->url(QStringLiteral("/error/usagesubmit.php")));
        controller->setRequestTimeOutMilliseconds(300);
        return controller;
    }
    QString folder() const { return m_dir->filePath(QStringLiteral("Tallivo2")); }
    QString logPath() const { return folder() + QStringLiteral("/Usages.Log"); }
    bool writeLog(const QByteArray &xml)
    {
        return QDir().mkpath(folder()) && writeFile(logPath(), xml);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<QUrl> m_opened;
    QStringList m_alerts;
};

QTEST_MAIN(TestUsagesReportingWindowController)
#include "tst_usagesreportingwindowcontroller.moc"
