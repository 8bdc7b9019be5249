// tallivo-count: counts the pages of TIFF and PDF files from the command line,
// collecting paths exactly as a drop on the window does.
#include "collectionrun.h"
#include "exporter.h"
#include "filelist.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace tallivo;

namespace {

const char usageText[] = "Usage: tallivo-count [--subfolders] [--export FILE] [--quiet] PATH...\n"
                         "Counts the pages of the TIFF and PDF files at PATH (files or folders).\n"
                         "\n"
                         "  --subfolders   walk folders with their subfolders\n"
                         "  --export FILE  also write the tab-delimited list to FILE\n"
                         "  --quiet        print only the totals\n"
                         "  --help         show this help\n";

class ConsoleHost : public RunHost
{
public:
    ConsoleHost(FileList &files, bool progress)
        : m_files(files)
        , m_progress(progress)
    {
    }

    void resetView(bool) override {}
    void processStarted() override { m_clock.start(); }
    void sortFiles() override {}
    void updateTotalPagesLabel() override
    {
        if (!m_progress || m_clock.elapsed() < m_nextReport)
            return;
        m_nextReport = m_clock.elapsed() + 200;
        const PageTotals t = m_files.totals();
        std::fprintf(stderr, "\r%d file(s), TIFF pages %d, PDF pages %d ", m_files.size(),
                     t.tiffPages, t.pdfPages);
        std::fflush(stderr);
        m_dirty = true;
    }
    void processStopped() override
    {
        if (m_dirty)
            std::fputs("\r\033[K", stderr);
    }

private:
    FileList &m_files;
    bool m_progress;
    QElapsedTimer m_clock;
    qint64 m_nextReport = 0;
    bool m_dirty = false;
};

int usageError(const QString &message)
{
    if (!message.isEmpty())
        std::fprintf(stderr, "tallivo-count: %s\n", qPrintable(message));
    std::fputs(usageText, stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallivo-count"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLIVO_VERSION));

    bool subfolders = false;
    bool quiet = false;
    QString exportPath;
    QStringList paths;
    const QStringList args = app.arguments().mid(1);
    bool optionsDone = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (optionsDone || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            paths << a;
        } else if (a == QLatin1String("--")) {
            optionsDone = true;
        } else if (a == QLatin1String("--subfolders")) {
            subfolders = true;
        } else if (a == QLatin1String("--quiet")) {
            quiet = true;
        } else if (a == QLatin1String("--export")) {
            if (++i >= args.size())
                return usageError(QStringLiteral("--export needs a file name"));
            exportPath = args.at(i);
        } else if (a.startsWith(QLatin1String("--export="))) {
            exportPath = a.mid(9);
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(usageText, stdout);
            return 0;
        } else if (a == QLatin1String("--version")) {
            std::printf("tallivo-count %s\n", TALLIVO_VERSION);
            return 0;
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(a));
        }
    }
    if (paths.isEmpty())
        return usageError(QStringLiteral("no path given"));
    if (exportPath.isEmpty() && args.contains(QLatin1String("--export")))
        return usageError(QStringLiteral("--export needs a file name"));

    int status = 0;
    Arguments arguments;
    arguments.isFolders = true;
    arguments.includeSubfolders = subfolders;
    for (const QString &p : std::as_const(paths)) {
        struct stat st;
        if (::stat(QFile::encodeName(p).constData(), &st) != 0) {
            std::fprintf(stderr, "tallivo-count: %s: %s\n", qPrintable(p), std::strerror(errno));
            status = 1;
            continue;
        }
        arguments.urls << QUrl::fromLocalFile(QFileInfo(p).absoluteFilePath());
    }

    FileList files;
    ConsoleHost host(files, !quiet && ::isatty(STDERR_FILENO));
    CollectionRun run(files, host);
    QObject::connect(&run, &CollectionRun::finished, &app, &QCoreApplication::quit);
    run.loadURLs(arguments);
    app.exec();

    QTextStream out(stdout);
    if (!quiet) {
        for (int i = 0; i < files.size(); ++i) {
            const FileItem &f = *files.at(i);
            out << f.name() << '\t' << f.pages() << '\t' << f.sizeInKB() << '\t' << f.location()
                << '\n';
        }
    }
    const PageTotals t = files.totals();
    out << QStringLiteral("Total Pages TIFF : %1 PDF : %2\n").arg(t.tiffPages).arg(t.pdfPages);
    out << QStringLiteral("%1 Total file(s); 0 file selected; Total page count of selected TIFF "
                          "file(s) : 0 PDF file(s) : 0\n")
               .arg(files.size());
    out.flush();

    if (!exportPath.isEmpty()) {
        QString error;
        if (!exportList(files, exportPath, &error)) {
            std::fprintf(stderr, "tallivo-count: cannot write %s: %s\n", qPrintable(exportPath),
                         qPrintable(error));
            status = 1;
        }
    }
    return status;
}
