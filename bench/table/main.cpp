// Times the window's list commands on a long list: how long each blocks the
// main thread (the worst lateness of a 10 ms timer), how long it takes in
// all, and the process's memory after it (and at its peak).
//
//   bench_table [rows]        (default 100000; runs offscreen unless
//                              QT_QPA_PLATFORM says otherwise)
//
// The files need not exist: the items are made with known measurements.
// Commands: sort by each column, Select All, select the top half, Remove,
// Undo, Redo, Remove All, each after the one before has ended.

#include "filetablemodel.h"
#include "filetableview.h"
#include "listeditor.h"
#include "listhistory.h"
#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>

using namespace tallivo;

namespace {

// VmRSS and VmHWM in MB.
std::pair<long, long> memory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    long rss = 0;
    long peak = 0;
    if (!status.open(QIODevice::ReadOnly))
        return {0, 0};
    for (const QByteArray &line : status.readAll().split('\n')) {
        const auto kb = [&line] { return line.mid(6).trimmed().split(' ').first().toLong(); };
        if (line.startsWith("VmRSS:"))
            rss = kb() / 1024;
        else if (line.startsWith("VmHWM:"))
            peak = kb() / 1024;
    }
    return {rss, peak};
}

// CPU time of the calling thread: on a machine shared with other work, the
// main thread's own cost, which its lateness may overstate.
qint64 threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

template <typename Model> bool sorting(const Model &model)
{
    if constexpr (requires { model.isSorting(); })
        return model.isSorting();
    else
        return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The user's own settings and recent folders stay out of it.
    QStandardPaths::setTestModeEnabled(true);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;

    MainWindow window;
    window.resize(1366, 768);
    window.show();
    QApplication::processEvents();
    FileTableView *table = window.findChild<FileTableView *>();
    FileTableModel &model = window.model();
    ListEditor *editor = window.findChild<ListEditor *>();
    ListHistory &history = window.history();

    QElapsedTimer clock;
    clock.start();
    {
        // 500 files a folder, names that sort unlike their order, three
        // types, varied pages, sizes and dates.
        std::vector<std::unique_ptr<FileItem>> items;
        items.reserve(size_t(rows));
        // One folder record for the files of a folder, as a run makes
        // them (FOLDER_PER_FILE=1: one record a file, as the earlier
        // figures were taken).
        const bool folderPerFile = qEnvironmentVariableIntValue("FOLDER_PER_FILE") == 1;
        Folder folder;
        for (int i = 0; i < rows; ++i) {
            const int n = int((qint64(i) * 7919) % rows);
            if (i % 500 == 0 || folderPerFile) {
                QByteArray path =
                    QStringLiteral("/archive/box%1").arg(i / 500, 4, 10, QLatin1Char('0')).toUtf8();
                path.squeeze();
                folder = makeFolder(std::move(path));
            }
            FileRecord record;
            record.folder = folder;
            record.name = QStringLiteral("scan %1.%2")
                              .arg(n)
                              .arg(i % 3 ? QStringLiteral("tif") : QStringLiteral("pdf"))
                              .toUtf8();
            // As read from a folder: no room to spare.
            record.name.squeeze();
            record.pages = (i * 31) % 500;
            record.size = (qint64(i) * 104729) % 50000000;
            auto item = std::make_unique<FileItem>(std::move(record));
            const qint64 t = 1600000000000LL + qint64(n) * 1000;
            item->setFileTimes(t, t - 5000, t + 5000);
            item->setChecked(i % 7 != 0);
            items.push_back(std::move(item));
        }
        model.appendFiles(std::move(items));
    }
    QApplication::processEvents();
    const auto [filledRss, filledPeak] = memory();
    std::printf("%d rows, filled in %lld ms, RSS %ld MB (peak %ld MB)\n", rows,
                static_cast<long long>(clock.elapsed()), filledRss, filledPeak);
    std::printf("%-26s %10s %10s %10s %8s %8s\n", "command", "block ms", "wall ms", "main cpu ms",
                "RSS MB", "peak MB");
    std::fflush(stdout);

    qint64 worst = 0;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = qMax(worst, now - lastTick - 10);
        lastTick = now;
    });

    const auto measure = [&](const QString &what, const std::function<void()> &command) {
        // Settle first, so that the command's own lateness is measured.
        QEventLoop settle;
        QTimer::singleShot(50, &settle, &QEventLoop::quit);
        settle.exec();
        lastTick = clock.elapsed();
        worst = 0;
        ticker.start();
        const qint64 start = clock.elapsed();
        const qint64 cpuStart = threadCpuMs();
        qint64 end = -1;
        bool ran = false;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            command();
            ran = true;
        });
        // A background sort ends when the model says so; the paints that
        // follow are measured too.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!ran || sorting(model))
                return;
            end = clock.elapsed();
            poll.stop();
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
        });
        poll.start(5);
        loop.exec();
        ticker.stop();
        const auto [rss, peak] = memory();
        std::printf("%-26s %10lld %10lld %10lld %8ld %8ld\n", what.toUtf8().constData(),
                    static_cast<long long>(worst), static_cast<long long>(end - start),
                    static_cast<long long>(threadCpuMs() - cpuStart), rss, peak);
        std::fflush(stdout);
    };

    for (int column = 0; column < ColumnCount; ++column) {
        const QString title = model.headerData(column, Qt::Horizontal).toString();
        measure(QStringLiteral("sort by %1").arg(title.isEmpty() ? QStringLiteral("check") : title),
                [&] { table->sortByColumn(column, Qt::AscendingOrder); });
    }
    measure(QStringLiteral("select all"), [&] { table->selectAll(); });
    measure(QStringLiteral("select half"), [&] {
        const int last = model.columnCount() - 1;
        table->selectionModel()->select(
            QItemSelection(model.index(0, 0), model.index(model.rowCount() / 2 - 1, last)),
            QItemSelectionModel::ClearAndSelect);
    });
    measure(QStringLiteral("remove"), [&] { editor->removeSelected(); });
    measure(QStringLiteral("undo"), [&] { history.undo(); });
    measure(QStringLiteral("redo"), [&] { history.redo(); });
    measure(QStringLiteral("remove all"), [&] { history.clear(QStringLiteral("Remove All")); });
    measure(QStringLiteral("undo remove all"), [&] { history.undo(); });
    return 0;
}
