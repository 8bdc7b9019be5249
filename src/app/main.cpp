#include "commandline.h"
#include "localpath.h"
#include "mainwindow.h"
#include "reopenservice.h"
#include "runpresenter.h"
#include "usagereporting.h"

#include <QApplication>
#include <QSettings>

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

} // namespace

int main(int argc, char *argv[])
{
    // Help and version need no display, so they come before the application.
    const tallivo::CommandLine early = tallivo::parseCommandLine(argumentsOf(argc, argv), {});
    if (early.help || early.version) {
        if (early.help)
            std::fputs(qPrintable(tallivo::commandLineHelp()), stdout);
        else
            std::printf("%s %s\n", TALLIVO_DISPLAY_NAME, TALLIVO_VERSION);
        return 0;
    }

    QApplication app(argc, argv);
    // Qt has taken its own options out of argv by now.
    const tallivo::CommandLine line =
        tallivo::parseCommandLine(argumentsOf(argc, argv), tallivo::currentFolder());
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "tallivo: %s\n%s", qPrintable(line.error),
                     qPrintable(tallivo::commandLineHelp()));
        return 2;
    }
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
        &window, &tallivo::MainWindow::lastListSettled, &usages,
        [&usages] { usages.showReviewPromptIfDue(); }, Qt::SingleShotConnection);

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window,
                     &tallivo::MainWindow::prepareToQuit);
    window.setLastListPath(tallivo::MainWindow::defaultLastListPath());
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
