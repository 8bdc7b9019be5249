#include "reopenservice.h"
#include "tallivoappdelegate.h"
#include "usagereporting.h"

#include <QApplication>
#include <QTimer>

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

    tallivo::UsageReporting usages(&window);
    usages.applyStartupSettings();
    window.setUsageSink([&usages](const QString &feature, qint32 totalFiles) {
        usages.counters().updateUsages(feature, totalFiles);
    });
    window.setRateUsHandler([&usages] { usages.openReviewPage(); });
    window.setDidFinishLaunchingHandler([&usages] { usages.showReviewPromptIfDue(); });

    // Quitting stores the recent folders and ends a run without waiting
    // for the files still to be counted.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] {
        window.applicationShouldTerminate();
        window.shutdownRun();
    });
    window.show();
    window.openAppAction();
    QTimer::singleShot(0, &window, [&window] { window.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
