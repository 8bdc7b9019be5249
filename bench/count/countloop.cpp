// bench-count-loop: counts every TIFF and PDF file below the given folders one
// after the other on a single thread, with the same walk and page counter as
// tallivo-count, so the two can be compared file for file.
#include "fileitem.h"
#include "localpath.h"
#include "pagecount.h"
#include "walk.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cstdio>

using namespace tallivo;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList folders = app.arguments().mid(1);
    const bool each = folders.removeAll(QStringLiteral("--each")) > 0;
    const qsizetype listAt = folders.indexOf(QStringLiteral("--list"));
    if (listAt >= 0 && listAt + 1 < folders.size()) {
        // Given the files: no walk, one file after the other.
        QFile list(folders.at(listAt + 1));
        if (!list.open(QIODevice::ReadOnly))
            return 2;
        QElapsedTimer clock;
        clock.start();
        qint64 files = 0;
        qint64 pages = 0;
        for (const QByteArray &path : list.readAll().split('\n')) {
            if (path.isEmpty())
                continue;
            const auto item = FileItem::create(urlFromLocalPath(path));
            ++files;
            pages += item ? item->pages() : 0;
        }
        std::printf("files: %lld  pages: %lld  seconds: %.3f\n", files, pages,
                    double(clock.nsecsElapsed()) / 1e9);
        return 0;
    }
    if (folders.isEmpty() || folders.first().startsWith(QLatin1Char('-'))) {
        std::fputs("Usage: bench-count-loop [--each] FOLDER...\n"
                   "       bench-count-loop --list FILE\n"
                   "Counts the pages of the TIFF and PDF files below FOLDER, one file at a time.\n"
                   "  --each  also print pages and path of every file\n",
                   stderr);
        return 2;
    }

    Arguments arguments;
    arguments.isFolders = true;
    arguments.includeSubfolders = true;
    for (const QString &folder : std::as_const(folders))
        arguments.urls << QUrl::fromLocalFile(QFileInfo(folder).absoluteFilePath());

    QElapsedTimer clock;
    clock.start();
    const std::atomic_bool keepGoing{true};
    qint64 files = 0;
    qint64 pages = 0;
    Walk walk(arguments, keepGoing, false);
    while (const std::optional<Walk::Found> found = walk.next()) {
        const QUrl found_url = found->url();
        const QUrl *url = &found_url;
        const qint32 count = measureFile(localPath(*url)).count.pages;
        ++files;
        pages += count;
        if (each)
            std::printf("%d\t%s\n", count, qPrintable(url->toLocalFile()));
    }
    std::printf("files: %lld  pages: %lld  seconds: %.3f\n", files, pages,
                double(clock.nsecsElapsed()) / 1e9);
    return 0;
}
