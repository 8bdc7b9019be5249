#include "commandline.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "intake.h"
#include "localpath.h"
#include "mainwindow.h"
#include "reopenservice.h"
#include "runpresenter.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

// `tallivo [PATH...]` and a second launch handing its paths to the first.
class TestLaunch : public QObject, public test::WindowFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void urlsTravelAsBytes();
    void handOverToRunningWindow();
    void quittingInstanceLetsTheNameGo();
    void withoutADisplay_data();
    void withoutADisplay();
    void helpMatchesTheManualPage();
    void cleanup() { m_window.reset(); }
};

void TestLaunch::initTestCase()
{
    setUpEnvironment();
}

void TestLaunch::commandLine_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<QList<QByteArray>>("paths"); // local paths of the URLs
    QTest::addColumn<QString>("flags");           // "h" help, "v" version, "e" error, "s" skipped
    using L = QList<QByteArray>;
    QTest::newRow("none") << L{} << L{} << "";
    QTest::newRow("absolute and relative") << L{"/scans/a.pdf", "b", "./c/../d//e"}
                                           << L{"/scans/a.pdf", "/work/b", "/work/c/../d/e"} << "";
    // Names are bytes: not UTF-8, blanks, "%", "#" and "?" come through.
    QTest::newRow("any bytes") << L{"/s/caf\xe9 50%#?.tif"} << L{"/s/caf\xe9 50%#?.tif"} << "";
    QTest::newRow("file url") << L{"file:///s/a%20b.pdf"} << L{"/s/a b.pdf"} << "";
    QTest::newRow("file url of localhost")
        << L{"file://localhost/s/a.pdf", "file://LOCALHOST/b"} << L{"/s/a.pdf", "/b"} << "";
    // Another machine's file is not the local file of the same path.
    QTest::newRow("file url of another host")
        << L{"file://scanner/s/a.pdf", "c"} << L{"/work/c"} << "s";
    QTest::newRow("help") << L{"--help", "x"} << L{"/work/x"} << "h";
    QTest::newRow("version") << L{"--version"} << L{} << "v";
    QTest::newRow("unknown option") << L{"-x", "a"} << L{"/work/a"} << "e";
    // After "--" a name may start with "-".
    QTest::newRow("dash names") << L{"--", "-a", "--help"} << L{"/work/-a", "/work/--help"} << "";
    QTest::newRow("lone dash") << L{"-"} << L{"/work/-"} << "";
    // Qt's own options are Qt's, with their values.
    QTest::newRow("toolkit options")
        << L{"-style", "fusion", "--platform", "xcb", "-reverse", "-stylesheet=x.qss", "a"}
        << L{"/work/a"} << "";
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
    QCOMPARE(line.skipped.size(), flags.contains(QLatin1Char('s')) ? 1 : 0);
    if (!line.skipped.isEmpty())
        QVERIFY2(line.skipped.first().contains(u"file://scanner/s/a.pdf") &&
                     line.skipped.first().contains(u"scanner"),
                 qPrintable(line.skipped.first()));
    QVERIFY(commandLineHelp().startsWith(QStringLiteral("Usage: tallivo [--] [PATH...]")));
}

void TestLaunch::urlsTravelAsBytes()
{
    // A 22 KB Latin-1 path is three times that as a URL, far past 64 KiB.
    QByteArray longPath;
    while (longPath.size() < 22000)
        longPath += '/' + QByteArray(200, '\xe9');
    const QList<QUrl> urls = {
        urlFromLocalPath("/s/caf\xe9 #1.tif"), urlFromLocalPath("/s/\xff\x01 tab\there.pdf"),
        urlFromLocalPath(longPath), QUrl(QStringLiteral("https://example.org/x.pdf")),
        QUrl(QStringLiteral("file://scanner/s/x.pdf"))};
    QStringList unsent;
    const QStringList texts = ReopenService::encodeUrls(urls, &unsent);
    QCOMPARE(texts.size(), 3);  // only files on this machine travel
    QCOMPARE(unsent.size(), 2); // and the rest are named
    QVERIFY(texts.at(2).size() > 64 * 1024);
    for (const QString &text : texts) {
        for (QChar c : text)
            QVERIFY(c.unicode() > 0x20 && c.unicode() < 0x7f);
    }
    QStringList refused;
    const QList<QUrl> back = ReopenService::decodeUrls(texts, &refused);
    QCOMPARE(back.size(), 3);
    QVERIFY(refused.isEmpty());
    QCOMPARE(localPath(back.at(0)), QByteArray("/s/caf\xe9 #1.tif"));
    QCOMPARE(localPath(back.at(1)), QByteArray("/s/\xff\x01 tab\there.pdf"));
    QCOMPARE(localPath(back.at(2)), longPath);

    // What a stranger sends is bounded and checked, and nothing is left
    // out without a word.
    const QStringList hostile = {QStringLiteral("file:///ok.pdf"),
                                 QStringLiteral("file://localhost/ok2.pdf"),
                                 QStringLiteral("relative/path.pdf"),
                                 QStringLiteral("http://host/x.pdf"),
                                 QStringLiteral("file://otherhost/etc/x.pdf"),
                                 QStringLiteral("file:///n\u00e4me.pdf"),
                                 QStringLiteral("file:///nul%00byte.pdf"),
                                 QStringLiteral("file:///") +
                                     QString(ReopenService::kMaxUrlLength, QLatin1Char('a')),
                                 QString()};
    refused.clear();
    const QList<QUrl> kept = ReopenService::decodeUrls(hostile, &refused);
    QCOMPARE(kept.size(), 2);
    QCOMPARE(localPath(kept.at(0)), QByteArray("/ok.pdf"));
    QCOMPARE(localPath(kept.at(1)), QByteArray("/ok2.pdf"));
    QCOMPARE(refused.size(), hostile.size() - 2);
    QVERIFY(refused.at(2).contains(u"otherhost"));
    QStringList many(ReopenService::kMaxUrls + 5, QStringLiteral("file:///a.pdf"));
    refused.clear();
    QCOMPARE(ReopenService::decodeUrls(many, &refused).size(), ReopenService::kMaxUrls);
    QCOMPARE(refused.size(), 1);
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

    MainWindow &window = makeWindow();
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
    // What the window cannot count is said in its status line.
    QVERIFY(!window.findChild<QStatusBar *>());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString(), QStringLiteral("/"), ReopenService::serviceName(), QStringLiteral("open"));
    call << QStringList{QStringLiteral("file://otherhost/scans/x.pdf")};
    QCOMPARE(second.call(call, QDBus::BlockWithGui, 5000).type(), QDBusMessage::ReplyMessage);
    QStatusBar *status = window.findChild<QStatusBar *>();
    QVERIFY(status);
    QVERIFY2(status->currentMessage().contains(u"otherhost"), qPrintable(status->currentMessage()));
    QCOMPARE(files.size(), 2);
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
    // scripts/install-deps.sh installs it: without it this test would hide
    // a missing install step.
    if (!daemon.waitForStarted())
        QFAIL("no dbus-daemon (Debian package dbus-daemon)");
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
        MainWindow &window = makeWindow();
        QVERIFY(ReopenService::claim(first, {}));
        ReopenService::serve(&window, first);
        // While it runs, a launch hands over to it.
        QVERIFY(!ReopenService::claim(second, {}));
        // Quitting lets go of the name before anything else.
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QVERIFY(!first.interface()->isServiceRegistered(name).value());
        m_window.reset();
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

namespace {

struct Launch
{
    int status = -1; // -1: it crashed
    QString out;
    QString err;
};

// Starts the tallivo program itself with only the variables given.
Launch launch(const QStringList &arguments, const QStringList &variables = {})
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (const QString &variable : variables)
        env.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TALLIVO_BINARY), arguments);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

// Without a display the window says so plainly, with its status, and the
// command line is read before: help and mistakes need none.
void TestLaunch::withoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    using L = QStringList;
    QTest::newRow("nothing set") << L{} << L{} << 1 << "there is no display";
    QTest::newRow("x11 asked for")
        << L{QStringLiteral("-platform"), QStringLiteral("xcb")}
        << L{QStringLiteral("WAYLAND_DISPLAY=wayland-9")} << 1 << "there is no display";
    QTest::newRow("bad option") << L{QStringLiteral("--frobnicate")} << L{} << 2
                                << "unknown option --frobnicate";
    QTest::newRow("help") << L{QStringLiteral("--help")} << L{} << 0 << "";
    // A display named that is not there: Qt's failure, said as plainly.
    QTest::newRow("display not there")
        << L{} << L{QStringLiteral("DISPLAY=:4271")} << 1 << "the display could not be reached";
}

void TestLaunch::withoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, variables);
    QFETCH(int, status);
    QFETCH(QString, said);
    if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X4271")))
        QSKIP("an X server listens on :4271 here");
    const Launch r = launch(arguments, variables);
    QCOMPARE(r.status, status);
    if (said.isEmpty()) {
        QVERIFY(r.err.isEmpty());
        QVERIFY(!r.out.isEmpty());
        return;
    }
    QVERIFY2(r.err.contains(QStringLiteral("tallivo: ") + said) ||
                 r.err.contains(QStringLiteral("tallivo: cannot open the window: ") + said),
             qPrintable(r.err));
    QVERIFY2(!r.err.contains(u"einstall"), qPrintable(r.err));
    if (status == 1)
        QVERIFY(r.err.contains(u"tallivo-count"));
}

// The manual page's options and exit statuses are those of --help.
void TestLaunch::helpMatchesTheManualPage()
{
    QFile manual(QStringLiteral(TALLIVO_SOURCE_DIR "/packaging/tallivo.1"));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    const QString page =
        QString::fromUtf8(manual.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    const QString help = launch({QStringLiteral("--help")}).out;
    QCOMPARE(help, commandLineHelp());
    const QString options =
        page.section(QStringLiteral(".SH OPTIONS"), 1).section(QStringLiteral(".SH "), 0, 0);
    const QRegularExpression option(QStringLiteral("(?:^\\.B[IR]? +| )(--?[a-z]*)"),
                                    QRegularExpression::MultilineOption);
    QStringList listed;
    for (const auto &match : option.globalMatch(options))
        listed << match.captured(1);
    QVERIFY2(listed.size() >= 5, qPrintable(listed.join(u' ')));
    for (const QString &o : std::as_const(listed))
        QVERIFY2(help.contains(o + QLatin1Char(' ')) || help.contains(o + QLatin1Char(',')),
                 qPrintable(o));
    const QString statuses =
        page.section(QStringLiteral(".SH EXIT STATUS"), 1).section(QStringLiteral(".SH "), 0, 0);
    const QString helpStatuses = help.section(QStringLiteral("Exit status:"), 1);
    const QRegularExpression status(QStringLiteral("^\\.B ([0-9]+)$"),
                                    QRegularExpression::MultilineOption);
    int seen = 0;
    for (const auto &match : status.globalMatch(statuses)) {
        ++seen;
        const QString n = match.captured(1);
        QVERIFY2(helpStatuses.contains(QLatin1Char(' ') + n + QLatin1Char(' ')) ||
                     helpStatuses.contains(QLatin1Char('\n') + n + QLatin1Char(' ')),
                 qPrintable(n));
    }
    QCOMPARE(seen, 3);
}

QTEST_MAIN(TestLaunch)
#include "tst_launch.moc"
