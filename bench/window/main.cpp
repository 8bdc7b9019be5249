// bench-window: the window during a run, as a person would see it: how long
// until the first rows show, and how late the main thread ever is to a
// 10 ms timer (the longest it was blocked). Run by hand, on a slow share:
//   QT_QPA_PLATFORM=offscreen bench-window [--subfolders] FOLDER
#include "collectionrun.h"
#include "filetablemodel.h"
#include "intake.h"
#include "mainwindow.h"
#include "runpresenter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

using namespace tallivo;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QStringList args = app.arguments().mid(1);
    const bool subfolders = args.removeAll(QStringLiteral("--subfolders")) > 0;
    if (args.isEmpty()) {
        std::fputs("Usage: bench-window [--subfolders] FOLDER\n", stderr);
        return 2;
    }
    MainWindow window;
    window.resize(1200, 800);
    window.show();
    window.intake().setIncludeSubfolders(subfolders);

    QElapsedTimer clock;
    qint64 firstRows = -1;
    qint64 worstLateness = 0;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstLateness = qMax(worstLateness, now - lastTick - 10);
        lastTick = now;
        if (firstRows < 0 && window.model().rowCount() > 0)
            firstRows = now;
    });
    QObject::connect(&window.presenter().run(), &CollectionRun::finished, &app, [&] {
        std::printf("rows %d  first rows %lld ms  whole run %lld ms  main thread late at most "
                    "%lld ms\n",
                    window.model().rowCount(), firstRows, clock.elapsed(), worstLateness);
        app.quit();
    });
    QTimer::singleShot(200, &window, [&] {
        clock.start();
        lastTick = 0;
        ticker.start(10);
        window.intake().addDropped(
            {QUrl::fromLocalFile(QFileInfo(args.first()).absoluteFilePath())});
    });
    return app.exec();
}
