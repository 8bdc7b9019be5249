#include "commandline.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "intake.h"
#include "localpath.h"
#include "mainwindow.h"
#include "reopenservice.h"
#include "runpresenter.h"
#include "samplefiles.h"

#include <QDBusConnectionInterface>
#include <QDBusServer>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

// `tallivo [PATH...]` and a second launch handing its paths to the first.
class TestLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void urlsTravelAsBytes();
    void handOverToRunningWindow();
    void quittingInstanceLetsTheNameGo();

private:
    QTemporaryDir m_settingsDir;
};

void TestLaunch::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TestLaunch::commandLine_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<QList<QByteArray>>("paths"); // local paths of the URLs
    QTest::addColumn<QString>("flags");           // "h" help, "v" version, "e" error
    using L = QList<QByteArray>;
    QTest::newRow("none") << L{} << L{} << "";
    QTest::newRow("absolute and relative") << L{"/scans/a.pdf", "b", "./c/../d//e"}
                                           << L{"/scans/a.pdf", "/work/b", "/work/c/../d/e"} << "";
    // Names are bytes: not UTF-8, blanks, "%", "#" and "?" come through.
    QTest::newRow("any bytes") << L{"/s/caf\xe9 50%#?.tif"} << L{"/s/caf\xe9 50%#?.tif"} << "";
    QTest::newRow("file url") << L{"file:///s/a%20b.pdf"} << L{"/s/a b.pdf"} << "";
    QTest::newRow("help") << L{"--help", "x"} << L{"/work/x"} << "h";
    QTest::newRow("version") << L{"--version"} << L{} << "v";
    QTest::newRow("unknown option") << L{"-x", "a"} << L{"/work/a"} << "e";
    // After "--" a name may start with "-".
    QTest::newRow("dash names") << L{"--", "-a", "--help"} << L{"/work/-a", "/work/--help"} << "";
    QTest::newRow("lone dash") << L{"-"} << L{"/work/-"} << "";
}

void TestLaunch::commandLine()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(QList<QByteArray>, paths);
    QFETCH(QString, flags);
    const CommandLine line = parseCommandLine(arguments, "/work");
    QList<QByteArray> got;
    for (const QUrl &url : line.urls)
        got << localPath(url);
    QCOMPARE(got, paths);
    QCOMPARE(line.help, flags.contains(QLatin1Char('h')));
    QCOMPARE(line.version, flags.contains(QLatin1Char('v')));
    QCOMPARE(!line.error.isEmpty(), flags.contains(QLatin1Char('e')));
    QVERIFY(commandLineHelp().startsWith(QStringLiteral("Usage: tallivo [PATH...]")));
}

void TestLaunch::urlsTravelAsBytes()
{
    const QList<QUrl> urls = {urlFromLocalPath("/s/caf\xe9 #1.tif"),
                              urlFromLocalPath("/s/\xff\x01 tab\there.pdf"),
                              QUrl(QStringLiteral("https://example.org/x.pdf"))};
    const QStringList texts = ReopenService::encodeUrls(urls);
    QCOMPARE(texts.size(), 2); // only local files travel
    for (const QString &text : texts) {
        for (QChar c : text)
            QVERIFY(c.unicode() > 0x20 && c.unicode() < 0x7f);
    }
    const QList<QUrl> back = ReopenService::decodeUrls(texts);
    QCOMPARE(back.size(), 2);
    QCOMPARE(localPath(back.at(0)), QByteArray("/s/caf\xe9 #1.tif"));
    QCOMPARE(localPath(back.at(1)), QByteArray("/s/\xff\x01 tab\there.pdf"));

    // What a stranger sends is bounded and checked.
    const QStringList hostile = {QStringLiteral("file:///ok.pdf"),
                                 QStringLiteral("relative/path.pdf"),
                                 QStringLiteral("http://host/x.pdf"),
                                 QStringLiteral("file:///n\u00e4me.pdf"),
                                 QStringLiteral("file:///nul%00byte.pdf"),
                                 QStringLiteral("file:///") + QString(70000, QLatin1Char('a')),
                                 QString()};
    const QList<QUrl> kept = ReopenService::decodeUrls(hostile);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(localPath(kept.first()), QByteArray("/ok.pdf"));
    QStringList many(ReopenService::kMaxUrls + 5, QStringLiteral("file:///a.pdf"));
    QCOMPARE(ReopenService::decodeUrls(many).size(), ReopenService::kMaxUrls);
}

void TestLaunch::handOverToRunningWindow()
{
    QTemporaryDir data;
    const QByteArray folder = QFile::encodeName(data.filePath(QStringLiteral("scans")));
    QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
    // A name that is not UTF-8 arrives as the same bytes.
    const QByteArray odd = folder + "/caf\xe9.pdf";
    QVERIFY(test::writePdf(QFile::decodeName(odd), 3));
    QVERIFY(test::writeTiff(QFile::decodeName(folder + "/b.tif"), 2));

    MainWindow window(std::make_unique<test::FakeDialogs>(), std::make_unique<test::FakeDesktop>());
    // A private bus between two connections in this process stands for the
    // session bus between two launches.
    QDBusServer server;
    QVERIFY(server.isConnected());
    connect(&server, &QDBusServer::newConnection, this,
            [&](const QDBusConnection &peer) { ReopenService::serve(&window, peer); });
    QDBusConnection second = QDBusConnection::connectToPeer(server.address(), "second launch");
    QVERIFY(second.isConnected());
    QTRY_VERIFY(window.findChild<ReopenService *>());

    QSignalSpy finished(&window.presenter().run(), &CollectionRun::finished);
    const CommandLine line = parseCommandLine({folder + "/caf\xe9.pdf", "b.tif"}, folder);
    QVERIFY(ReopenService::handOver(second, QString(), line.urls));
    QVERIFY(!finished.isEmpty() || finished.wait(60000));
    const FileList &files = window.model().files();
    QCOMPARE(files.size(), 2);
    QSet<QByteArray> listed;
    for (int i = 0; i < files.size(); ++i)
        listed << files.at(i)->localPath();
    QCOMPARE(listed, (QSet<QByteArray>{odd, folder + "/b.tif"}));
    QVERIFY(window.isVisible());
    // Without paths the window only comes back.
    QVERIFY(ReopenService::handOver(second, QString(), {}));
    QDBusConnection::disconnectFromPeer(QStringLiteral("second launch"));
}

void TestLaunch::quittingInstanceLetsTheNameGo()
{
    // A bus of our own stands for the session bus.
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    if (!daemon.waitForStarted())
        QSKIP("no dbus-daemon");
    QTRY_VERIFY_WITH_TIMEOUT(daemon.canReadLine(), 20000);
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    const QString name = ReopenService::serviceName();
    const auto connect = [&](const char *launch) {
        return QDBusConnection::connectToBus(address, QString::fromLatin1(launch));
    };
    QDBusConnection first = connect("first");
    QDBusConnection second = connect("second");
    QDBusConnection stuck = connect("stuck");
    QVERIFY(first.isConnected() && second.isConnected() && stuck.isConnected());
    const auto owner = [&] { return second.interface()->serviceOwner(name).value(); };

    {
        MainWindow window(std::make_unique<test::FakeDialogs>(),
                          std::make_unique<test::FakeDesktop>());
        QVERIFY(ReopenService::claim(first, {}));
        ReopenService::serve(&window, first);
        // While it runs, a launch hands over to it.
        QVERIFY(!ReopenService::claim(second, {}));
        // Quitting lets go of the name before anything else.
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QVERIFY(!first.interface()->isServiceRegistered(name).value());
    }
    // So a launch meanwhile runs with the name at once.
    QVERIFY(ReopenService::claim(second, {}));
    QCOMPARE(owner(), second.baseService());
    QVERIFY(second.unregisterService(name));

    // A holder that does not answer: the launch runs on its own and takes
    // the name over once it is free.
    QVERIFY(stuck.registerService(name));
    QVERIFY(ReopenService::claim(second, {}));
    QCOMPARE(owner(), stuck.baseService());
    QVERIFY(stuck.unregisterService(name));
    QTRY_COMPARE(owner(), second.baseService());

    for (const char *launch : {"first", "second", "stuck"})
        QDBusConnection::disconnectFromBus(QString::fromLatin1(launch));
    daemon.terminate();
    daemon.waitForFinished();
}

QTEST_MAIN(TestLaunch)
#include "tst_launch.moc"
