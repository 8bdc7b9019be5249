#include "formdatarequest.h"
#include "machineid.h"
#include "reportuploader.h"
#include "reviewdialog.h"
#include "testhttpserver.h"
#include "usagereporting.h"
#include "usagereportingdialog.h"
#include "usagetesting.h"

#include <QAction>
#include <QFile>
#include <QMainWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>
#include <sys/stat.h>

using namespace tallivo;
using namespace tallivo::test;

namespace {

const QString outputFiles = QString::fromLatin1(OutputFilesFeature);
const QString submitted = QStringLiteral("info|Usages Reporting :|Report submitted successfully.");
const QString refused = QStringLiteral("critical|Usages Reporting :|Unable to submit report!");

} // namespace

class TestUsageReporting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_opened.clear();
        m_alerts.clear();
    }

    void firstStart()
    {
        auto first = make(); // the first write: no feature, no target yet
        QVERIFY(readFile(logPath()).contains("<nextReviewTargetValue>0</nextReviewTargetValue>"));
        QCOMPARE(featuresOf(make()->counters()), QString());
        first->applyStartupSettings(); // the second write
        QCOMPARE(featuresOf(make()->counters()), QStringLiteral("Output Files:1:0"));
        QCOMPARE(make()->counters().state().nextReviewTarget, 2000);
        first->counters().updateUsages(outputFiles, 250);
        first.reset();
        // A restart keeps the target and adds no second feature.
        auto again = make();
        again->applyStartupSettings();
        QCOMPARE(again->counters().state().nextReviewTarget, 2000);
        QCOMPARE(featuresOf(again->counters()), QStringLiteral("Output Files:2:250"));
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
        auto usages = make();
        usages->counters().updateUsages(outputFiles, total);
        usages->counters().state().nextReviewTarget = target;
        usages->counters().state().neverAskForReview = never;
        usages->setReviewEnabled(reviewEnabled);
        usages->showReviewPromptIfDue();
        QCOMPARE(usages->reviewDialog() && usages->reviewDialog()->isVisible(), prompt);
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
        auto usages = make();
        usages->applyStartupSettings();
        usages->counters().updateUsages(outputFiles, 2600);
        const QDateTime before = usages->counters().state().lastReviewPrompt;
        usages->showReviewPromptIfDue();
        ReviewDialog *dialog = usages->reviewDialog();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(!dialog->neverAskAgain());
        dialog->setNeverAskAgain(tick);
        if (confirm)
            dialog->accept();
        else
            dialog->reject();
        QVERIFY(!dialog->isVisible());
        const QUrl reviewPage(QString::fromLatin1(ReviewPageURL));
        QCOMPARE(m_opened, confirm ? QList<QUrl>{reviewPage} : QList<QUrl>{});

        auto restarted = make();
        restarted->applyStartupSettings();
        QCOMPARE(restarted->counters().state().nextReviewTarget, 4600);
        QCOMPARE(restarted->counters().state().neverAskForReview, tick);
        QVERIFY(restarted->counters().state().lastReviewPrompt >= before.addSecs(-1));
        // Once more files are counted, only an unticked box lets the prompt return.
        restarted->counters().updateUsages(outputFiles, 2000);
        restarted->showReviewPromptIfDue();
        QCOMPARE(restarted->reviewDialog() != nullptr, !tick);

        // The help command opens the page whatever the box says, but never a bad address.
        m_opened.clear();
        restarted->openReviewPage();
        restarted->setReviewUrl(QStringLiteral("not a url"));
        restarted->openReviewPage();
        QCOMPARE(m_opened, QList<QUrl>{reviewPage});
    }

    void serverAnswer_data()
    {
        QTest::addColumn<QByteArray>("response"); // empty: the server never answers
        QTest::addColumn<bool>("accepted");
        // How an answer is framed, cut or redirected is the HTTP client's,
        // tested there; here, which whole answers count as accepted.
        QTest::newRow("OK") << httpResponse(200, "OK") << true;
        QTest::newRow("OK<br> is OK and a line feed") << httpResponse(200, "OK<br>") << false;
        QTest::newRow("lower case") << httpResponse(200, "ok") << false;
        QTest::newRow("OK in utf-16") << httpResponse(200, QByteArray("\xff\xfeO\0K\0", 6),
                                                      {"Content-Type: text/plain; charset=utf-16"})
                                      << true;
        QTest::newRow("error page") << httpResponse(500, "<html>Internal error</html>") << false;
        QTest::newRow("never answers") << QByteArray() << false;
    }
    void serverAnswer()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, accepted);
        TestHttpServer server([&](const TestHttpRequest &) -> std::optional<QByteArray> {
            return response.isEmpty() ? std::nullopt : std::optional(response);
        });
        server.setCloseAfterAnswer(true);
        auto usages = make(&server);
        const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
        usages->counters().state().lastReportSent = longAgo;
        usages->counters().updateUsages(outputFiles, 12);
        // Reporting off does not stop the submit command.
        QVERIFY(!usages->counters().state().reportingEnabled);
        const QByteArray content = readFile(logPath());

        usages->showReportingDialog();
        Q_EMIT usages->reportingDialog()->submitRequested();
        QVERIFY(m_alerts.isEmpty()); // nothing is told before the server answers
        // A silent server is given up on once curl has seen a second of
        // less than a byte a second, measured over its last few seconds.
        QTRY_COMPARE_WITH_TIMEOUT(m_alerts, QStringList{accepted ? submitted : refused}, 30000);
        // The new time is saved, so it survives a restart.
        QCOMPARE(make()->counters().state().lastReportSent > longAgo, accepted);

        // The upload, byte for byte apart from the boundary.
        const TestHttpRequest &sent = server.requests().first();
        const QString line = QString::fromLatin1(sent.method + ' ' + sent.target);
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^POST /error/usagesubmit\.php\?f=\d+\.\d{6}$)"))
                .match(line)
                .hasMatch(),
            qPrintable(line));
        QCOMPARE(sent.headers.value("upload_id"), QByteArray("mzq81v570316"));
        // "<name> <version> (<machine>; <system> <x.y.z>; <locale>)"
        const QString agent = QString::fromUtf8(sent.headers.value("user-agent"));
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^Tallivo \S+ \(\S+; \S+ \d+\.\d+\.\d+; \S+\)$)"))
                .match(agent)
                .hasMatch(),
            qPrintable(agent));
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

    void answerText_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::newRow("no charset is Latin-1")
            << QByteArray("text/plain") << QByteArray("caf\xe9") << QStringLiteral("café");
        QTest::newRow("quoted utf-16be") << QByteArray("text/plain; charset=\"UTF-16BE\"")
                                         << QByteArray("\0O\0K", 4) << QStringLiteral("OK");
        QTest::newRow("unknown charset is Latin-1") << QByteArray("text/plain; charset=x-no-such")
                                                    << QByteArray("\xe9") << QStringLiteral("é");
        QTest::newRow("not valid in its charset is Latin-1")
            << QByteArray("text/plain; charset=utf-8") << QByteArray("\xe9") << QStringLiteral("é");
    }
    void answerText()
    {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QCOMPARE(ReportUploader::answerText(type, body), text);
    }

    // The README and the manual page say what a Submit Report click sends,
    // where, and that the reporting box does not stop it.
    void documentationSaysWhatSubmitSends_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("README") << QStringLiteral("README.md");
        QTest::newRow("tallivo(1)") << QStringLiteral("packaging/tallivo.1");
    }

    void documentationSaysWhatSubmitSends()
    {
        QFETCH(QString, file);
        QFile page(QStringLiteral(TALLIVO_SOURCE_DIR "/") + file);
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(page.readAll()).simplified();
        const QUrl endpoint(QString::fromLatin1(UsagesReportURL));
        QCOMPARE(endpoint.scheme(), QStringLiteral("http"));
        for (const QString &said :
             {endpoint.toString(), QStringLiteral("Submit Report"), QStringLiteral("Usages.Log"),
              QStringLiteral("machine id"), QStringLiteral("plain HTTP"),
              QStringLiteral("Enable usages reporting"), QStringLiteral("does not stop")})
            QVERIFY2(text.contains(said), qPrintable(said));
        QVERIFY(!text.contains(QStringLiteral("not sent anywhere")));
    }

    void onlyTheSecondOfTwoSubmissionsCounts()
    {
        // The first upload is held by the server until the second has been answered.
        TestHttpServer server([](const TestHttpRequest &request) -> std::optional<QByteArray> {
            if (request.body.contains("<filescount>1</filescount>"))
                return std::nullopt;
            return httpResponse(200, "OK");
        });
        auto usages = make(&server);
        usages->uploader()->setTransferTimeout(10000);
        usages->showReportingDialog();
        usages->counters().updateUsages(outputFiles, 1);
        Q_EMIT usages->reportingDialog()->submitRequested();
        QTRY_COMPARE(server.pendingCount(), 1);

        usages->counters().updateUsages(outputFiles, 1);
        Q_EMIT usages->reportingDialog()->submitRequested();
        QTRY_COMPARE(m_alerts, QStringList{submitted});
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(server.requests().last().body.contains("<filescount>2</filescount>"));
        // The first request's late answer changes nothing.
        server.answerPending(httpResponse(200, "OK"));
        QTest::qWait(200);
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(usages->uploader()->queue()->requestCount(), 0);
    }

    void nothingIsSentWithoutAProperFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("removed") << "removed";
        QTest::newRow("a fifo") << "fifo";
        QTest::newRow("too large") << "huge";
    }
    void nothingIsSentWithoutAProperFile()
    {
        QFETCH(QString, kind);
        TestHttpServer server;
        auto usages = make(&server);
        QVERIFY(QFile::remove(logPath()));
        if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(logPath()).constData(), 0600), 0);
        } else if (kind == u"huge") {
            QFile file(logPath());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(MaxUsagesLogSize + 1));
        }
        QVERIFY(!usages->submitReport());
        usages->showReportingDialog();
        Q_EMIT usages->reportingDialog()->submitRequested();
        QCOMPARE(m_alerts, QStringList{refused});
        QTest::qWait(100);
        QCOMPARE(server.requests().size(), 0);
    }

    void dialogAppliesOnlyOnApply()
    {
        QMainWindow main;
        auto usages = make(nullptr, &main);
        QToolBar *toolbar = main.addToolBar(QStringLiteral("tools"));
        toolbar->addAction(QStringLiteral("Open"));
        toolbar->addAction(QStringLiteral("Same"));
        toolbar->addAction(QStringLiteral("Same"));
        usages->addReportingAction(toolbar, QStringLiteral("Same"));
        usages->addReportingAction(toolbar, QStringLiteral("Nothing"));
        const QList<QAction *> actions = toolbar->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions.at(2)->objectName(), QStringLiteral("USAGESREPORTING"));
        QCOMPARE(actions.at(2)->text(), QStringLiteral("Usages Reporting"));
        QVERIFY(!actions.at(2)->icon().isNull());

        actions.at(2)->trigger();
        UsageReportingDialog *dialog = usages->reportingDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QVERIFY(!dialog->isReportingEnabled());
        dialog->setReportingEnabled(true);
        dialog->reject();
        QVERIFY(!dialog->isVisible());
        QVERIFY(!usages->counters().state().reportingEnabled);
        usages->showReportingDialog();
        QVERIFY(dialog->isReportingEnabled());
        dialog->accept();
        QVERIFY(!dialog->isVisible());
        QVERIFY(readFile(logPath()).contains("<enabled>true</enabled>"));
    }

    void systemMachineId_data()
    {
        // What /etc/machine-id and D-Bus's copy hold; absent: no such file.
        QTest::addColumn<QByteArray>("etc");
        QTest::addColumn<QByteArray>("dbus");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray id = "0123456789abcdef0123456789ABCDEF";
        const QByteArray other = "fedcba9876543210fedcba9876543210";
        const QByteArray absent;
        QTest::newRow("systemd's file") << id + '\n' << other + '\n' << id;
        QTest::newRow("without a newline") << id << absent << id;
        QTest::newRow("only D-Bus's copy") << absent << other + '\n' << other;
        QTest::newRow("only systemd's, no D-Bus") << id + '\n' << absent << id;
        QTest::newRow("empty until first boot") << QByteArray("") << other + '\n' << other;
        QTest::newRow("uninitialized") << QByteArray("uninitialized\n") << absent << absent;
        QTest::newRow("too short") << id.left(31) + '\n' << absent << absent;
        QTest::newRow("not hex") << id.left(31) + "g\n" << absent << absent;
        QTest::newRow("more than an id") << id + "\n" + other << absent << absent;
        QTest::newRow("neither") << absent << absent << absent;
    }

    void systemMachineId()
    {
        QFETCH(QByteArray, etc);
        QFETCH(QByteArray, dbus);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        const QByteArrayList files{QFile::encodeName(dir.filePath(QStringLiteral("etc"))),
                                   QFile::encodeName(dir.filePath(QStringLiteral("dbus")))};
        const QByteArrayList contents{etc, dbus};
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (contents.at(i).isNull())
                continue;
            QFile file(QFile::decodeName(files.at(i)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(contents.at(i)), contents.at(i).size());
        }
        QCOMPARE(tallivo::systemMachineId(files), expected);
    }

    void theMachineIdNeverLeavesTheMachine()
    {
        const QByteArray systemId = tallivo::systemMachineId();
        if (systemId.isEmpty())
            QSKIP("This system has no machine id");
        const QString id = machineId();
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                                    "[0-9A-F]{12}$"))
                     .match(id)
                     .hasMatch(),
                 qPrintable(id));
        QCOMPARE(machineId(), id); // stable from run to run
        QVERIFY(machineIdFor("another machine") != id);
        QCOMPARE(machineIdFor(QByteArray()), QString());

        // Neither the file nor the upload holds the system's id in any form.
        TestHttpServer server;
        auto usages = make(&server);
        QVERIFY(usages->submitReport());
        QTRY_COMPARE(server.requests().size(), 1);
        const QByteArray hex = systemId.toLower();
        const QByteArray dashed =
            QUuid::fromRfc4122(QByteArray::fromHex(systemId)).toByteArray(QUuid::WithoutBraces);
        for (const QByteArray &sent : {readFile(logPath()), server.requests().first().body}) {
            QVERIFY(sent.contains(id.toUtf8()));
            QVERIFY(!sent.toLower().contains(hex));
            QVERIFY(!sent.toLower().contains(dashed.toLower()));
        }
    }

private:
    std::unique_ptr<UsageReporting> make(TestHttpServer *server = nullptr,
                                         QWidget *parent = nullptr)
    {
        auto usages = std::make_unique<UsageReporting>(parent, folder());
        usages->setUrlOpener([this](const QUrl &url) {
            m_opened << url;
            return true;
        });
        usages->setAlertHandler([this](QMessageBox::Icon icon, const QString &title,
                                       const QString &text) {
            m_alerts << QStringLiteral("%1|%2|%3")
                            .arg(icon == QMessageBox::Critical ? "critical" : "info", title, text);
        });
        if (server)
            usages->uploader()->setUrl(server->url(QStringLiteral("/error/usagesubmit.php")));
        usages->uploader()->setTransferTimeout(300);
        return usages;
    }
    QString folder() const { return m_dir->filePath(QStringLiteral("Tallivo2")); }
    QString logPath() const { return folder() + QStringLiteral("/Usages.Log"); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<QUrl> m_opened;
    QStringList m_alerts;
};

QTEST_MAIN(TestUsageReporting)
#include "tst_usagereporting.moc"
