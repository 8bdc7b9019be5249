// Memory and time of a long list, headless: the items a run makes, the
// window's export, and letting the list go on the way out.
//
//   bench-million DIR
//
// Walks DIR with its subfolders through a collection run, as the window
// does, and keeps every file in a list. Prints the resident memory per
// listed file (everything the process holds, divided by the files), the
// export's wall time and the longest the main thread went without turning its
// event loop meanwhile (a 10 ms timer's lateness), and the time it takes to
// free the list file by file, which the program no longer spends on quit.

#include "collectionrun.h"
#include "exporter.h"
#include "filelist.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace tallivo;

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// The longest gap between the turns of the event loop while it is running.
class Lateness
{
public:
    Lateness()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_worst = qMax(m_worst, m_since.restart() - 10); });
    }
    void start()
    {
        m_worst = 0;
        m_since.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return qMax(m_worst, m_since.elapsed() - 10);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_worst = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Files that cannot be counted are listed all the same; no line each.
    QLoggingCategory::setFilterRules(QStringLiteral("tallivo.*.warning=false"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-million DIR\n");
        return 2;
    }
    const qint64 startKiB = residentKiB();

    FileList files;
    CollectionRun run;
    QObject::connect(&run, &CollectionRun::filesCounted, [&files](const SharedFileBatch &batch) {
        for (auto &item : batch->copies())
            files.append(std::move(item));
    });
    QObject::connect(&run, &CollectionRun::finished, &app, [] { QCoreApplication::quit(); });
    Arguments arguments;
    arguments.isFolders = true;
    arguments.includeSubfolders = true;
    arguments.urls << QUrl::fromLocalFile(QFile::decodeName(argv[1]));
    QElapsedTimer clock;
    clock.start();
    run.start(arguments);
    app.exec();
    const qint64 runMs = clock.elapsed();
    const qint64 listKiB = residentKiB();
    const int n = qMax(1, files.size());
    std::printf("files %d\nrun %lld ms\nresident after the run %lld KiB, %lld bytes per file\n",
                files.size(), runMs, listKiB, (listKiB - startKiB) * 1024 / n);

    QTemporaryDir dir;
    const QByteArray out = QFile::encodeName(dir.filePath(QStringLiteral("export.txt")));
    Lateness lateness;
    lateness.start();
    clock.start();
    QString failed;
    qint64 blocks = 0;
    ExportCallbacks callbacks;
    callbacks.progress = [&blocks](qint64, qint64) { ++blocks; };
    callbacks.done = [&failed](const QString &error) {
        failed = error;
        QCoreApplication::quit();
    };
    exportInBackground(&app, files, out, callbacks);
    const qint64 copyMs = clock.elapsed();
    app.exec();
    const qint64 exportMs = clock.elapsed();
    const qint64 worst = lateness.stop();
    std::printf("export %lld ms (%lld blocks, %lld bytes%s); rows copied in %lld ms; main thread "
                "blocked at most %lld ms\n",
                exportMs, blocks, qint64(QFile(dir.filePath(QStringLiteral("export.txt"))).size()),
                failed.isEmpty() ? "" : ", FAILED", copyMs, worst);
    std::printf("resident after the export %lld KiB\n", residentKiB());

    // The program leaves without freeing the list; this is what it saves.
    clock.start();
    files.clear();
    std::printf("list freed file by file in %lld ms\n", clock.elapsed());
    return failed.isEmpty() ? 0 : 1;
}
