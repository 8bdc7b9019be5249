#include "iopool.h"
#include "reopenservice.h"
#include "tallivoappdelegate.h"
#include "usagesreportingwindowcontroller.h"

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

    tallivo::TallivoAppDelegate window;
    tallivo::ReopenService::serve(&window);

    tallivo::UsagesReportingWindowController usages(&window);
    usages.applyStartupSettings();
    window.setUsageSink([&usages](const QString &feature, qint32 totalFiles) {
        usages.updateUsages(feature, totalFiles);
    });
    window.setRateUsHandler([&usages] { usages.rateUs(); });
    window.setDidFinishLaunchingHandler([&usages] { usages.validate(false); });

    // Quitting stores the recent folders and ends a run without waiting
    // for the files still to be counted.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] {
        window.applicationShouldTerminate();
        window.shutdownRun();
    });
    window.show();
    window.openAppAction();
    QTimer::singleShot(0, &window, [&window] { window.applicationDidFinishLaunching(); });
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
