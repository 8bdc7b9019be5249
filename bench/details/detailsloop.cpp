// bench-page-details: the cost of reading page sizes and colours. Times, on
// one thread over the same files, today's page count, the page reader
// without details, and the page reader with details and a per-file summary.
#include "localpath.h"
#include "pagecount.h"
#include "pagesummary.h"
#include "walk.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <atomic>
#include <cstdio>

using namespace tallivo;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList folders = app.arguments().mid(1);
    if (folders.isEmpty() || folders.first().startsWith(QLatin1Char('-'))) {
        std::fputs("Usage: bench-page-details FOLDER...\n"
                   "Times counting the pages below FOLDER with and without their sizes and "
                   "colours.\nRun it twice: the first run warms the cache.\n",
                   stderr);
        return 2;
    }
    Arguments arguments;
    arguments.isFolders = true;
    arguments.includeSubfolders = true;
    for (const QString &folder : folders)
        arguments.urls << QUrl::fromLocalFile(QFileInfo(folder).absoluteFilePath());
    const std::atomic_bool keepGoing{true};
    Walk walk(arguments, keepGoing, false);
    QList<QUrl> urls;
    while (const std::optional<Walk::Found> found = walk.next())
        urls << found->url();

    const int repeat = qMax(1, qEnvironmentVariableIntValue("REPEAT"));
    // Split by kind: PDF names apart from the rest (TIFF and others).
    QList<bool> isPdf;
    for (const QUrl &url : std::as_const(urls))
        isPdf << url.path().endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    struct Times
    {
        qint64 tiff = -1;
        qint64 pdf = -1;
        qint64 all() const { return tiff + pdf; }
    };
    const auto best = [&](const char *name, auto &&countOne) {
        Times fastest;
        qint64 pages = 0;
        for (int r = 0; r < repeat; ++r) {
            qint64 tiff = 0;
            qint64 pdf = 0;
            pages = 0;
            QElapsedTimer clock;
            for (qsizetype i = 0; i < urls.size(); ++i) {
                clock.start();
                pages += countOne(urls[i]);
                (isPdf[i] ? pdf : tiff) += clock.nsecsElapsed();
            }
            fastest.tiff = fastest.tiff < 0 ? tiff : qMin(fastest.tiff, tiff);
            fastest.pdf = fastest.pdf < 0 ? pdf : qMin(fastest.pdf, pdf);
        }
        std::printf("%-20s files: %lld  pages: %lld  seconds: TIFF %.4f  PDF %.4f  all %.4f\n",
                    name, qint64(urls.size()), pages, double(fastest.tiff) / 1e9,
                    double(fastest.pdf) / 1e9, double(fastest.all()) / 1e9);
        return fastest;
    };
    const Times today =
        best("count", [](const QUrl &u) { return measureFile(localPath(u)).count.pages; });
    const Times off = best("reader, no details", [](const QUrl &u) {
        return measureFile(localPath(u), EntryType::Unknown, nullptr).count.pages;
    });
    const Times on = best("reader with details", [](const QUrl &u) {
        std::vector<PageInfo> pages;
        const qint32 n = measureFile(localPath(u), EntryType::Unknown, &pages).count.pages;
        return PageSummary::fromPages(pages, n).pages();
    });
    const auto ratio = [](qint64 a, qint64 b) { return double(a) / double(qMax<qint64>(b, 1)); };
    std::printf("details on / off: TIFF %.2f  PDF %.2f  all %.2f\n", ratio(on.tiff, off.tiff),
                ratio(on.pdf, off.pdf), ratio(on.all(), off.all()));
    std::printf("details on / count: TIFF %.2f  PDF %.2f  all %.2f\n", ratio(on.tiff, today.tiff),
                ratio(on.pdf, today.pdf), ratio(on.all(), today.all()));
    return 0;
}
