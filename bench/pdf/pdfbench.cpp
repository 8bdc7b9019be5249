// bench-pdf: how fast the pages of PDF files are counted, against the I/O
// floor. One thread, files taken one after the other, every pass over the
// same list; each pass is run several times and its best run counts.
//
//   floor       open, read the last 4 KiB, close
//   structural  open and statx as a listed file is opened, the structural
//               reader, close (it may step aside)
//   poppler     poppler-cpp opens the file and gives its page count
//   tallivo     measureFile: the structural reader, poppler where it steps aside
#include "blockreader.h"
#include "fileio.h"
#include "pagecount.h"
#include "pdfstructure.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>

#include <poppler-document.h>
#include <poppler-global.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tallivo;

namespace {

qint64 nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void quiet(const std::string &, void *) {}

struct Pass
{
    const char *name;
    std::function<qint64(const QByteArray &)> count; // pages, or -1
    qint64 best = -1;
    qint64 pages = 0;
    std::vector<qint64> perFile = {}; // fastest time of each file over the runs
};

qint64 ioFloor(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    char buffer[4096];
    bool read = false;
    if (::fstat(fd, &st) == 0) {
        const off_t at = st.st_size > off_t(sizeof buffer) ? st.st_size - off_t(sizeof buffer) : 0;
        read = ::pread(fd, buffer, sizeof buffer, at) >= 0;
    }
    ::close(fd);
    return read ? 0 : -1;
}

int g_readCalls = 0;

qint64 structural(const QByteArray &path)
{
    // Opened as measureFile opens a file its folder listing calls regular.
    FileDescriptor fd(openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return -1;
    const std::optional<FileStatus> status = statusOf(fd.get());
    if (!status || !status->isRegular())
        return -1;
    BlockReader reader(fd.get(), status->size, {}, blockSizesFor(fd.get(), *status));
    const qint64 pages = examinePdfStructure(reader).pages.value_or(-1);
    g_readCalls = reader.readCalls();
    return pages;
}

qint64 popplerCount(const QByteArray &path)
{
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path.toStdString()));
    if (!doc || doc->is_locked())
        return 0;
    return qMax(0, doc->pages());
}

qint64 median(std::vector<qint64> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int repeat = 3;
    QString only; // one pass, for profiling
    bool perFile = false;
    for (;;) {
        if (args.size() >= 2 && args.first() == QLatin1String("--repeat")) {
            repeat = qMax(1, args.at(1).toInt());
            args = args.mid(2);
        } else if (!args.isEmpty() && args.first() == QLatin1String("--per-file")) {
            perFile = true;
            args = args.mid(1);
        } else if (args.size() >= 2 && args.first() == QLatin1String("--only")) {
            only = args.at(1);
            args = args.mid(2);
        } else {
            break;
        }
    }
    if (args.isEmpty() || args.first().startsWith(QLatin1Char('-'))) {
        std::fputs("Usage: bench-pdf [--repeat N] [--only PASS] [--per-file] FOLDER...\n"
                   "Times the page count of every .pdf below FOLDER: I/O floor, structural\n"
                   "reader, poppler, and the two together as Tallivo counts. --only times\n"
                   "one pass (floor, structural, poppler or tallivo), for a profiler;\n"
                   "--per-file lists each file's best times in microseconds.\n",
                   stderr);
        return 2;
    }
    poppler::set_debug_error_function(quiet, nullptr);
    // As the application does: one document kept open spares poppler
    // rebuilding its global tables for every file.
    static const char minimal[] = "%PDF-1.0\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                                  "2 0 obj<</Type/Pages/Kids[]/Count 0>>endobj\n"
                                  "trailer<</Root 1 0 R>>\n%%EOF\n";
    std::unique_ptr<poppler::document> keeper(
        poppler::document::load_from_raw_data(minimal, sizeof minimal - 1));

    std::vector<QByteArray> files;
    for (const QString &folder : std::as_const(args)) {
        QDirIterator it(folder, {QStringLiteral("*.pdf"), QStringLiteral("*.PDF")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files.push_back(QFile::encodeName(it.next()));
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fputs("bench-pdf: no PDF files found\n", stderr);
        return 1;
    }

    std::vector<Pass> passes{{"I/O floor", ioFloor},
                             {"structural", structural},
                             {"poppler", popplerCount},
                             {"tallivo (structural, else poppler)", [](const QByteArray &p) {
                                  return qint64(measureFile(p).count.pages);
                              }}};
    std::vector<int> readCalls(files.size());
    qint64 answered = 0;
    for (Pass &pass : passes)
        pass.perFile.assign(files.size(), -1);
    static const char *const keys[] = {"floor", "structural", "poppler", "tallivo"};
    int onlyPass = -1;
    for (int i = 0; i < 4; ++i) {
        if (only == QLatin1String(keys[i]))
            onlyPass = i;
    }
    if (!only.isEmpty() && onlyPass < 0) {
        std::fputs("bench-pdf: --only takes floor, structural, poppler or tallivo\n", stderr);
        return 2;
    }
    // One untimed round brings everything into the page cache.
    for (const QByteArray &file : files) {
        QFile f(QFile::decodeName(file));
        if (f.open(QIODevice::ReadOnly))
            f.readAll();
    }

    for (int round = 0; round < repeat; ++round) {
        for (Pass &pass : passes) {
            if (onlyPass >= 0 && &pass != &passes[size_t(onlyPass)])
                continue;
            qint64 pages = 0;
            qint64 counted = 0;
            const qint64 start = nowNs();
            for (size_t i = 0; i < files.size(); ++i) {
                const qint64 t0 = nowNs();
                const qint64 n = pass.count(files[i]);
                const qint64 t = nowNs() - t0;
                if (pass.perFile[i] < 0 || t < pass.perFile[i])
                    pass.perFile[i] = t;
                if (n > 0) {
                    pages += n;
                    ++counted;
                }
                if (&pass == &passes[1])
                    readCalls[i] = g_readCalls;
            }
            const qint64 total = nowNs() - start;
            if (pass.best < 0 || total < pass.best)
                pass.best = total;
            pass.pages = pages;
            if (&pass == &passes[1])
                answered = counted;
        }
    }

    const double floorNs = double(passes[0].best);
    std::printf("%zu PDF files, best of %d runs, one thread\n\n", files.size(), repeat);
    std::printf("%-36s %12s %14s %14s %10s\n", "pass", "total ms", "median us/file", "mean us/file",
                "x floor");
    for (const Pass &pass : passes) {
        if (pass.best < 0)
            continue;
        std::printf("%-36s %12.2f %14.1f %14.1f %10.1f\n", pass.name, double(pass.best) / 1e6,
                    double(median(pass.perFile)) / 1e3,
                    double(pass.best) / 1e3 / double(files.size()), double(pass.best) / floorNs);
    }
    if (perFile) {
        for (size_t i = 0; i < files.size(); ++i) {
            for (const Pass &pass : passes) {
                if (pass.best >= 0)
                    std::printf("%9.1f ", double(pass.perFile[i]) / 1e3);
            }
            std::printf("%s\n", files[i].constData());
        }
    }
    std::vector<qint64> calls(readCalls.begin(), readCalls.end());
    std::sort(calls.begin(), calls.end());
    std::printf("\nstructural reader answered %lld of %zu files (%lld stepped aside)\n",
                static_cast<long long>(answered), files.size(),
                static_cast<long long>(qint64(files.size()) - answered));
    std::printf("read calls per file (structural): median %lld, 90th percentile %lld, max %lld\n",
                static_cast<long long>(calls[calls.size() / 2]),
                static_cast<long long>(calls[calls.size() * 9 / 10]),
                static_cast<long long>(calls.back()));
    const bool same = onlyPass >= 0 || passes[2].pages == passes[3].pages;
    std::printf("pages: poppler %lld, tallivo %lld: %s\n", static_cast<long long>(passes[2].pages),
                static_cast<long long>(passes[3].pages), same ? "identical" : "DIFFERENT");
    return same ? 0 : 1;
}
