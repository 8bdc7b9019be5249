// Times the main window's table with many rows: filling the model, scrolling
// through it, selecting all, and sorting by every column.
//
//   bench_table [rows]        (default 100000; runs offscreen unless
//                              QT_QPA_PLATFORM says otherwise)

#include "filetablemodel.h"
#include "filetableview.h"
#include "listeditor.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdio>

using namespace tallivo;

namespace {

void report(const char *what, qint64 ms)
{
    std::printf("%-34s %7lld ms\n", what, static_cast<long long>(ms));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;

    // Real files, so the date columns read real times; spread over folders
    // with varied names, pages and sizes.
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    QList<QUrl> urls;
    urls.reserve(rows);
    for (int i = 0; i < rows; ++i) {
        const QString folder = dir.filePath(QStringLiteral("batch%1").arg(i % 97));
        if (i < 97)
            QDir().mkpath(folder);
        const QString path =
            folder + QStringLiteral("/scan %1.%2")
                         .arg((i * 7919) % rows)
                         .arg(i % 3 ? QStringLiteral("tif") : QStringLiteral("pdf"));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.close();
        urls.append(QUrl::fromLocalFile(path));
    }
    std::printf("%d rows (files made in %lld ms)\n", rows, static_cast<long long>(timer.elapsed()));

    MainWindow window;
    window.resize(1366, 768);
    window.show();
    QApplication::processEvents();
    FileTableView *table = window.findChild<FileTableView *>();
    FileTableModel &model = window.model();

    timer.restart();
    std::vector<std::unique_ptr<FileItem>> items;
    items.reserve(size_t(rows));
    for (int i = 0; i < rows; ++i)
        items.push_back(
            std::make_unique<FileItem>(urls.at(i), (i * 31) % 500, (i * 104729) % 50000000));
    model.appendFiles(std::move(items));
    table->viewport()->repaint();
    report("model fill + first paint", timer.elapsed());

    timer.restart();
    QScrollBar *bar = table->verticalScrollBar();
    const int steps = 200;
    for (int s = 0; s <= steps; ++s) {
        bar->setValue(bar->maximum() * s / steps);
        table->viewport()->repaint();
    }
    report("scroll top to bottom (201 paints)", timer.elapsed());

    timer.restart();
    table->selectAll();
    table->viewport()->repaint();
    report("select all + totals", timer.elapsed());

    for (int column = 0; column < ColumnCount; ++column) {
        const QString title = model.headerData(column, Qt::Horizontal).toString();
        timer.restart();
        table->sortByColumn(column, Qt::AscendingOrder);
        table->viewport()->repaint();
        const qint64 asc = timer.elapsed();
        timer.restart();
        table->sortByColumn(column, Qt::DescendingOrder);
        table->viewport()->repaint();
        const qint64 desc = timer.elapsed();
        const QByteArray label = QStringLiteral("sort by %1 (asc / desc)")
                                     .arg(title.isEmpty() ? QStringLiteral("check box") : title)
                                     .toUtf8();
        std::printf("%-34s %7lld / %lld ms\n", label.constData(), static_cast<long long>(asc),
                    static_cast<long long>(desc));
    }

    ListEditor *editor = window.findChild<ListEditor *>();
    timer.restart();
    QList<int> everyOther;
    for (int row = 0; row < model.rowCount(); row += 2)
        everyOther.append(row);
    table->selectRows(everyOther.mid(0, 1000));
    editor->moveDown();
    report("move 1000 separate rows down", timer.elapsed());

    timer.restart();
    table->selectRows(everyOther.mid(0, 1000));
    editor->removeSelected();
    report("remove 1000 separate rows", timer.elapsed());

    timer.restart();
    table->selectAll();
    editor->removeSelected();
    report("remove all selected rows", timer.elapsed());
    return 0;
}
