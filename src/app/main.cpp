#include "commandline.h"
#include "lastlistkeeper.h"
#include "localpath.h"
#include "mainwindow.h"
#include "reopenservice.h"
#include "runpresenter.h"
#include "usagereporting.h"

#include <QApplication>
#include <QSettings>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

QList<QByteArray> argumentsOf(int argc, char *argv[])
{
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    return arguments;
}

// The window system Qt is to use: -platform on the command line, else
// QT_QPA_PLATFORM; empty for Qt's own choice.
QByteArray platformAsked(const QList<QByteArray> &arguments)
{
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == "--")
            break;
        if (arguments.at(i) == "-platform" || arguments.at(i) == "--platform")
            return arguments.at(i + 1);
    }
    return qgetenv("QT_QPA_PLATFORM");
}

// Whether there is a display to try. Qt without one aborts, telling the
// user to reinstall; an X11 or Wayland session always names its display.
// Other platforms (offscreen, vnc, eglfs, ...) need none, and are left to
// Qt.
bool mayHaveDisplay(const QList<QByteArray> &arguments)
{
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY") || arguments.contains("-display") ||
                     arguments.contains("--display");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QByteArray platforms = platformAsked(arguments);
    if (platforms.isEmpty())
        return x11 || wayland;
    for (const QByteArray &platform : platforms.split(';')) {
        const QByteArray name = platform.split(':').first();
        if (name == "xcb" ? x11 : !name.isEmpty())
            return true;
    }
    return false;
}

constexpr int kNoDisplay = 1;

void noDisplay(const char *why)
{
    std::fprintf(stderr,
                 "tallivo: cannot open the window: %s.\n"
                 "To count without a window, use tallivo-count (see tallivo-count --help).\n",
                 why);
}

// While the application connects to the display, a failure is Qt's fatal
// error: said plainly instead, with the documented status.
QtMessageHandler qtHandler = nullptr;

void startupMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        noDisplay("the display could not be reached");
        std::fflush(stderr);
        ::_exit(kNoDisplay);
    }
    // Says the plugin is broken where the display is missing.
    if (qstrcmp(context.category, "qt.qpa.plugin") == 0)
        return;
    qtHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    // A write past a file size limit fails with EFBIG, said and the old file
    // kept, instead of ending the program with its new file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // The whole line is read before the window system is asked for
    // anything: help, version and mistakes need no display.
    const QList<QByteArray> arguments = argumentsOf(argc, argv);
    const tallivo::CommandLine line =
        tallivo::parseCommandLine(arguments, tallivo::currentFolder());
    if (line.help) {
        std::fputs(qPrintable(tallivo::commandLineHelp()), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("%s %s\n", TALLIVO_DISPLAY_NAME, TALLIVO_VERSION);
        return 0;
    }
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "tallivo: %s\n%s", qPrintable(line.error),
                     qPrintable(tallivo::commandLineHelp()));
        return 2;
    }
    if (!mayHaveDisplay(arguments)) {
        noDisplay(platformAsked(arguments).isEmpty()
                      ? "there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set)"
                      : "there is no display (DISPLAY is not set, and X11 was asked for)");
        return kNoDisplay;
    }

    qtHandler = qInstallMessageHandler(startupMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    for (const QString &skipped : line.skipped)
        std::fprintf(stderr, "tallivo: %s\n", qPrintable(skipped));
    QApplication::setOrganizationName(QStringLiteral("Kelmarin"));
    QApplication::setApplicationName(QStringLiteral(TALLIVO_NAME));
    QApplication::setApplicationVersion(QStringLiteral(TALLIVO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("tallivo"));

    QStringList refused;
    const bool first = tallivo::ReopenService::claim(line.urls, &refused);
    for (const QString &reason : std::as_const(refused))
        std::fprintf(stderr, "tallivo: %s\n", qPrintable(reason));
    if (!first)
        return 0;

    tallivo::MainWindow window;
    tallivo::ReopenService::serve(&window);

    // The usage counters learn of every finished run and answer the rate
    // command; after start-up they may ask for a review.
    tallivo::UsageReporting usages(&window);
    usages.applyStartupSettings();
    QObject::connect(&window.presenter(), &tallivo::RunPresenter::runFinished, &usages,
                     [&usages](int fileCount) {
                         usages.counters().updateUsages(
                             QString::fromLatin1(tallivo::OutputFilesFeature), fileCount);
                     });
    QObject::connect(&window, &tallivo::MainWindow::rateRequested, &usages,
                     &tallivo::UsageReporting::openReviewPage);
    // One question at a time: the kept list's first, then the review prompt.
    QObject::connect(
        &window.lastList(), &tallivo::LastListKeeper::settled, &usages,
        [&usages] { usages.showReviewPromptIfDue(); }, Qt::SingleShotConnection);

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window,
                     &tallivo::MainWindow::prepareToQuit);
    window.lastList().setPath(tallivo::LastListKeeper::defaultPath());
    window.bringToFront();
    window.start(line.urls);
    const int status = QApplication::exec();
    // Everything that must outlast the program is on disk by now: the
    // recent folders, settings and the list (prepareToQuit), the usage counters (saved
    // at every change). What is left is memory: freeing a million listed
    // files one by one would hold up the quit for seconds, and files still
    // being read from a share that stopped answering cannot be waited for.
    // So leave without running destructors.
    QSettings().sync();
    std::fflush(nullptr);
    ::_exit(status);
}
