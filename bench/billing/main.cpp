// Times the billing report of a long list as the window makes it: the rows
// copied a slice per turn of the event loop, then tallied on the I/O pool.
// Prints the whole time and the longest the event loop went unserved.
//
//   bench_billing [rows]     (default 1000000)
//
// The files need not exist: the items are made with known measurements, a
// thousand files a folder under ten added folders, each with a page summary.

#include "billingreporter.h"
#include "fileitem.h"
#include "filetablemodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

using namespace tallivo;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int rows = argc > 1 ? atoi(argv[1]) : 1000000;
    FileTableModel model;
    const PageSummary pages = PageSummary::fromPages(
        {{210, 297, ColourClass::BlackWhite}, {297, 420, ColourClass::Colour}}, 3);
    std::vector<std::unique_ptr<FileItem>> batch;
    Folder folder;
    for (int i = 0; i < rows; ++i) {
        if (i % 1000 == 0) {
            folder = makeFolder("/srv/scans/delivery " + QByteArray::number(i / 1000 % 10) +
                                "/box " + QByteArray::number(i / 1000));
        }
        FileRecord record;
        record.folder = folder;
        record.name = "scan_" + QByteArray::number(i) + ".pdf";
        record.pages = 3;
        batch.push_back(std::make_unique<FileItem>(std::move(record)));
        batch.back()->setPageSummary(pages);
        if (batch.size() == 10000)
            model.appendFiles(std::exchange(batch, {}));
    }
    model.appendFiles(std::move(batch));
    for (int i = 0; i < 10; ++i)
        model.addFolder("/srv/scans/delivery " + QByteArray::number(i));

    QElapsedTimer all;
    QElapsedTimer gap;
    qint64 worst = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, &app,
                     [&] { worst = std::max(worst, gap.restart()); });
    all.start();
    gap.start();
    tick.start();
    buildBillingReport(
        &app, model, {false, true}, PriceList(), QString(), [&](const SharedBillingReport &report) {
            worst = std::max(worst, gap.elapsed());
            std::printf("%d files, %zu jobs, %lld pages: %lld ms, the event "
                        "loop unserved at most %lld ms\n",
                        rows, report->jobs.size(), report->pages, all.elapsed(), worst);
            QCoreApplication::quit();
        });
    return app.exec();
}
