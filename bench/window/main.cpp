// bench-window: the window during a run, as a person would see it: how long
// until the first rows show, and how late the main thread ever is to a
// 10 ms timer (the longest it was blocked). Run by hand, on a slow share:
//   QT_QPA_PLATFORM=offscreen bench-window [--subfolders] [--cancel-at MS]
//                                          [--quit-at MS] FOLDER
// --cancel-at cancels the run that long after it started and reports how
// long the run took to end; --quit-at quits the application then (time the
// whole process from outside).
#include "collectionrun.h"
#include "filetablemodel.h"
#include "intake.h"
#include "iopool.h"
#include "mainwindow.h"
#include "runpresenter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using namespace tallivo;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QStringList args = app.arguments().mid(1);
    const bool subfolders = args.removeAll(QStringLiteral("--subfolders")) > 0;
    auto takeNumber = [&args](const QString &option) {
        const qsizetype at = args.indexOf(option);
        if (at < 0 || at + 1 >= args.size())
            return -1;
        const int value = args.at(at + 1).toInt();
        args.remove(at, 2);
        return value;
    };
    const int cancelAt = takeNumber(QStringLiteral("--cancel-at"));
    const int quitAt = takeNumber(QStringLiteral("--quit-at"));
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
    qint64 cancelledAt = -1;
    QObject::connect(&window.presenter().run(), &CollectionRun::finished, &app, [&] {
        std::printf("rows %d  first rows %lld ms  whole run %lld ms  main thread late at most "
                    "%lld ms",
                    window.model().rowCount(), firstRows, clock.elapsed(), worstLateness);
        if (cancelledAt >= 0)
            std::printf("  ended %lld ms after the cancel", clock.elapsed() - cancelledAt);
        std::printf("\n");
        std::fflush(stdout);
        app.quit();
    });
    if (cancelAt >= 0) {
        QTimer::singleShot(200 + cancelAt, &window, [&] {
            cancelledAt = clock.elapsed();
            window.presenter().run().cancel();
        });
    }
    if (quitAt >= 0) {
        QTimer::singleShot(200 + quitAt, &window, [&] {
            std::printf("quitting with %d rows listed\n", window.model().rowCount());
            std::fflush(stdout);
            window.close();
            app.quit();
        });
    }
    QTimer::singleShot(200, &window, [&] {
        clock.start();
        lastTick = 0;
        ticker.start(10);
        window.intake().addDropped(
            {QUrl::fromLocalFile(QFileInfo(args.first()).absoluteFilePath())});
    });
    const int status = app.exec();
    // As the application does: threads stuck on the share are not waited for.
    if (IoPool::instance().pending() > 0) {
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
