// tallivo-count: counts the pages of TIFF and PDF files from the command line,
// collecting paths exactly as a drop on the window does.
#include "collectionrun.h"
#include "exporter.h"
#include "filelist.h"
#include "localpath.h"
#include "pagereport.h"
#include "pagesummary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace tallivo;

namespace {

const char usageText[] = "Usage: tallivo-count [--subfolders] [--export FILE] [--quiet] PATH...\n"
                         "Counts the pages of the TIFF and PDF files at PATH (files or folders).\n"
                         "\n"
                         "  --subfolders   walk folders with their subfolders\n"
                         "  --export FILE  also write the tab-delimited list to FILE\n"
                         "  --quiet        print only the totals and the summary of problems\n"
                         "  --help         show this help\n"
                         "\n"
                         "Exit status: 0 all counted; 1 a PATH is missing or the export failed;\n"
                         "2 bad usage; 3 some files could not be counted or folders not read.\n";

// Exit statuses, as the help text gives them.
enum Status
{
    Ok = 0,
    Failed = 1,
    Usage = 2,
    NotAllCounted = 3
};

// The progress line on a terminal: counts, totals and the folder walked.
class ProgressLine
{
public:
    void show(const RunProgress &p, const PageTotals &t)
    {
        const QByteArray folder = escapedForRow(p.folder.right(60).toUtf8(), RowTarget::Terminal);
        std::fprintf(stderr, "\r\033[K%lld found, %lld counted, TIFF pages %d, PDF pages %d  %s",
                     p.found, p.counted, t.tiffPages, t.pdfPages, folder.constData());
        std::fflush(stderr);
        m_dirty = true;
    }
    void clear()
    {
        if (std::exchange(m_dirty, false))
            std::fputs("\r\033[K", stderr);
    }

private:
    bool m_dirty = false;
};

int usageError(const char *message)
{
    std::fprintf(stderr, "tallivo-count: %s\n", message);
    std::fputs(usageText, stderr);
    return Usage;
}

// A path from the command line made absolute and clean, as bytes.
QByteArray absolutePath(const QByteArray &path)
{
    QByteArray full = path;
    if (!full.startsWith('/')) {
        QByteArray cwd(4096, '\0');
        while (!::getcwd(cwd.data(), size_t(cwd.size()))) {
            if (errno != ERANGE)
                return path;
            cwd.resize(cwd.size() * 2);
        }
        full = QByteArray(cwd.constData()) + '/' + path;
    }
    QList<QByteArray> parts;
    for (const QByteArray &part : full.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts << part;
    }
    return '/' + parts.join('/');
}

void printRow(FILE *out, RowTarget target, const FileItem &f)
{
    const QByteArray line = escapedForRow(f.nameBytes(), target) + '\t' +
                            QByteArray::number(f.pages()) + '\t' + f.sizeInKB().toUtf8() + '\t' +
                            escapedForRow(f.locationBytes(), target) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), out);
}

// The per-page listing, written whole or not at all.
bool writePageList(const FileList &files, const QString &path, QString *error)
{
    QSaveFile out(path);
    bool ok = out.open(QIODevice::WriteOnly);
    const QByteArray header = pageListHeader();
    ok = ok && out.write(header) == header.size();
    for (int i = 0; ok && i < files.size(); ++i) {
        const FileItem &f = *files.at(i);
        FilePages pages{f.filePath(), f.pages(), {}};
        if (f.pageInfo())
            pages.pages = *f.pageInfo();
        ok = writePageListRows(out, pages);
    }
    ok = ok && out.flush() && out.commit();
    if (!ok && error)
        *error = out.errorString();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallivo-count"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLIVO_VERSION));
    // Problems are reported below, a line per file or folder.
    QLoggingCategory::setFilterRules(QStringLiteral("tallivo.*.warning=false"));

    bool subfolders = false;
    bool quiet = false;
    QByteArray exportPath;
    bool exportGiven = false;
    QByteArray pagesPath;
    bool pagesGiven = false;
    bool summary = false;
    QList<QByteArray> paths;
    bool optionsDone = false;
    // Paths are bytes: the arguments are read as given, never decoded.
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (optionsDone || !a.startsWith('-') || a == "-") {
            paths << a;
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "--subfolders") {
            subfolders = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--export") {
            if (++i >= argc)
                return usageError("--export needs a file name");
            exportGiven = true;
            exportPath = argv[i];
        } else if (a.startsWith("--export=")) {
            exportGiven = true;
            exportPath = a.mid(9);
        } else if (a == "--pages") {
            if (++i >= argc)
                return usageError("--pages needs a file name");
            pagesGiven = true;
            pagesPath = argv[i];
        } else if (a.startsWith("--pages=")) {
            pagesGiven = true;
            pagesPath = a.mid(8);
        } else if (a == "--summary") {
            summary = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(usageText, stdout);
            return Ok;
        } else if (a == "--version") {
            std::printf("tallivo-count %s\n", TALLIVO_VERSION);
            return Ok;
        } else {
            const QByteArray message = "unknown option " + escapedForRow(a, RowTarget::Terminal);
            return usageError(message.constData());
        }
    }
    if (paths.isEmpty())
        return usageError("no path given");
    if (exportGiven && exportPath.isEmpty())
        return usageError("--export needs a file name");
    if (pagesGiven && pagesPath.isEmpty())
        return usageError("--pages needs a file name");

    const bool stderrIsTerminal = ::isatty(STDERR_FILENO);
    const RowTarget stdoutTarget = ::isatty(STDOUT_FILENO) ? RowTarget::Terminal : RowTarget::File;
    const RowTarget stderrTarget = stderrIsTerminal ? RowTarget::Terminal : RowTarget::File;
    int status = Ok;
    Arguments arguments;
    arguments.isFolders = true;
    arguments.includeSubfolders = subfolders;
    for (const QByteArray &p : std::as_const(paths)) {
        if (!statusOf(p)) {
            const int error = errno;
            std::fprintf(stderr, "tallivo-count: %s: %s\n",
                         escapedForRow(p, stderrTarget).constData(), std::strerror(error));
            status = Failed;
            continue;
        }
        arguments.urls << urlFromLocalPath(absolutePath(p));
    }

    FileList files;
    CollectionRun run;
    if (pagesGiven)
        run.setPageDetails(PageDetails::Pages);
    else if (summary)
        run.setPageDetails(PageDetails::Summary);
    // The run's files are listed here in walk order, as the window's model
    // lists them.
    QObject::connect(&run, &CollectionRun::filesCounted, [&files](FileBatch &batch) {
        for (auto &item : batch.items)
            files.append(std::move(item));
    });
    ProgressLine progress;
    if (!quiet && stderrIsTerminal) {
        QObject::connect(&run, &CollectionRun::progress,
                         [&](const RunProgress &p) { progress.show(p, files.totals()); });
    }
    QList<UnreadableFolder> unreadable;
    QObject::connect(&run, &CollectionRun::finished, &app, [&](const RunResult &result) {
        progress.clear();
        unreadable = result.unreadableFolders;
        QCoreApplication::quit();
    });
    run.start(arguments);
    app.exec();

    int uncounted = 0;
    for (int i = 0; i < files.size(); ++i) {
        const FileItem &f = *files.at(i);
        if (!quiet)
            printRow(stdout, stdoutTarget, f);
        if (f.countStatus() == CountStatus::Counted)
            continue;
        ++uncounted;
        if (!quiet) {
            const QByteArray line = "tallivo-count: " + escapedForRow(f.localPath(), stderrTarget) +
                                    ": " + countStatusText(f.countStatus()).toUtf8() + '\n';
            std::fflush(stdout);
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
    }
    const PageTotals t = files.totals();
    std::printf("Total Pages TIFF : %d PDF : %d\n", t.tiffPages, t.pdfPages);
    std::printf("%d Total file(s); 0 file selected; Total page count of selected TIFF "
                "file(s) : 0 PDF file(s) : 0\n",
                files.size());
    std::fflush(stdout);

    for (const UnreadableFolder &folder : unreadable) {
        std::fprintf(stderr, "tallivo-count: cannot read folder %s: %s\n",
                     escapedForRow(folder.path, stderrTarget).constData(),
                     std::strerror(folder.error));
    }
    if (uncounted > 0) {
        std::fprintf(stderr, "%d file%s could not be counted\n", uncounted,
                     uncounted == 1 ? "" : "s");
    }
    if (!unreadable.isEmpty()) {
        const qsizetype n = unreadable.size();
        std::fprintf(stderr, "%lld folder%s could not be read\n", qint64(n), n == 1 ? "" : "s");
    }
    if ((uncounted > 0 || !unreadable.isEmpty()) && status == Ok)
        status = NotAllCounted;

    if (summary) {
        PageTable table;
        for (int i = 0; i < files.size(); ++i)
            table.add(files.at(i)->pageSummary());
        std::fputs(pageTableText(table).toUtf8().constData(), stdout);
        std::fflush(stdout);
    }
    if (pagesGiven) {
        QString error;
        if (!writePageList(files, QFile::decodeName(pagesPath), &error)) {
            std::fprintf(stderr, "tallivo-count: cannot write %s: %s\n",
                         escapedForRow(pagesPath, stderrTarget).constData(), qPrintable(error));
            status = Failed;
        }
    }
    if (exportGiven) {
        QString error;
        if (!exportList(files, QFile::decodeName(exportPath), &error)) {
            std::fprintf(stderr, "tallivo-count: cannot write %s: %s\n",
                         escapedForRow(exportPath, stderrTarget).constData(), qPrintable(error));
            status = Failed;
        }
    }
    return status;
}
