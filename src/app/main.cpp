#include "iopool.h"
#include "mainwindow.h"
#include "reopenservice.h"
#include "runpresenter.h"
#include "usagereporting.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kelmarin"));
    QApplication::setApplicationName(QStringLiteral(TALLIVO_NAME));
    QApplication::setApplicationVersion(QStringLiteral(TALLIVO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("tallivo"));

    if (!tallivo::ReopenService::claim())
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
    QTimer::singleShot(0, &usages, [&usages] { usages.showReviewPromptIfDue(); });

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window,
                     &tallivo::MainWindow::prepareToQuit);
    window.bringToFront();
    const int status = QApplication::exec();
    // Files still being read from a share that stopped answering: their
    // threads cannot be waited for, so leave without running destructors
    // under them once the settings are on disk.
    if (tallivo::IoPool::instance().pending() > 0) {
        QSettings().sync();
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
