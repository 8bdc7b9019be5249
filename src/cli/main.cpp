// tallivo-count: counts the pages of TIFF and PDF files from the command line,
// collecting paths exactly as a drop on the window does.
#include "appinfo.h"
#include "billingreport.h"
#include "billingwriters.h"
#include "collectionrun.h"
#include "commandline.h"
#include "exporter.h"
#include "filelist.h"
#include "localpath.h"
#include "pagereport.h"
#include "pagesummary.h"
#include "pagetally.h"
#include "pdfworkers.h"
#include "savefile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace tallivo;

namespace {

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
    // `listed` files are those whose pages are in `t`: the run counts ahead
    // of them, out of order, so its own figure would not match the totals.
    void show(const RunProgress &p, qint64 listed, const PageTotals &t)
    {
        const QByteArray folder = escapedForRow(p.folder.right(60).toUtf8(), RowTarget::Terminal);
        std::fprintf(stderr,
                     "\r\033[K%lld found, %lld counted, TIFF pages %lld, PDF pages %lld  %s",
                     p.found, listed, t.tiffPages, t.pdfPages, folder.constData());
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

// Interrupts reach the event loop through a pipe, so that the run stops and
// the listings being written are dropped the ordinary way: nothing is left
// beside the files they were to replace. A second interrupt ends the
// program at once.
int interruptPipe[2] = {-1, -1};

void onInterrupt(int signal)
{
    const char code = char(signal);
    const ssize_t written = ::write(interruptPipe[1], &code, 1);
    (void)written;
}

bool catchInterrupts()
{
    if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    return true;
}

// Problems are reported by this program, a line per file or folder, so the
// layers' own warnings (categories "tallivo.*") are dropped. By a message
// handler rather than a filter rule: setting a rule reads Qt's logging
// configuration first, a third of what the start-up spent in main().
QtMessageHandler otherMessages = nullptr;

void dropOwnWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && context.category &&
        std::strncmp(context.category, "tallivo.", 8) == 0)
        return;
    otherMessages(type, context, message);
}

int usageError(const QString &message)
{
    const QByteArray text =
        "tallivo-count: " + message.toUtf8() + '\n' + commandLineHelp(Program::Counter).toUtf8();
    std::fputs(text.constData(), stderr);
    return Usage;
}

void printRow(FILE *out, RowTarget target, const FileItem &f)
{
    const QByteArray line = escapedForRow(f.nameBytes(), target) + '\t' +
                            QByteArray::number(f.pages()) + '\t' + f.sizeInKB().toUtf8() + '\t' +
                            escapedForRow(f.locationBytes(), target) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), out);
}

// The per-page listing, written as the files come, whole or not at all.
class PageListWriter
{
public:
    explicit PageListWriter(const QByteArray &path)
        : m_file(path)
    {
        m_ok = m_file.open(QIODevice::WriteOnly);
        m_chunk = pageListHeader();
    }
    void add(const FileItem &f)
    {
        m_ok = m_ok && writePageListRows(m_file, f.localPath(), f.pages(), f.pageInfo(), m_chunk);
    }
    bool commit(QString *error)
    {
        m_ok = m_ok && (m_chunk.isEmpty() || m_file.write(m_chunk) == m_chunk.size());
        m_ok = m_ok && m_file.commit();
        if (!m_ok && error)
            *error = m_file.errorString();
        return m_ok;
    }

private:
    SaveFile m_file;
    QByteArray m_chunk;
    bool m_ok = false;
};

// The module of the XLSX and PDF reports (see billingmodule.cpp), loaded
// for good.
struct ReportModule
{
    QCoreApplication *(*makeApplication)(int *argc, char **argv) = nullptr;
    bool (*save)(const BillingReport *report, const QByteArray *path, QString *error) = nullptr;
};

std::optional<ReportModule> loadReportModule(QString *error)
{
    QList<QByteArray> candidates;
    if (const char *given = std::getenv("TALLIVO_REPORT_MODULE"); given && *given)
        candidates << given;
#ifdef TALLIVO_REPORT_MODULE_FROM_PROGRAM
    // Where the install puts it beside this program: never outside its prefix.
    QByteArray self(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), size_t(self.size()));
    if (n > 0 && n < self.size()) {
        self.truncate(n);
        candidates << self.left(self.lastIndexOf('/') + 1) + TALLIVO_REPORT_MODULE_FROM_PROGRAM;
    }
#endif
    *error = QStringLiteral("this build writes only CSV reports");
    for (const QByteArray &path : std::as_const(candidates)) {
        if (::access(path.constData(), R_OK) != 0)
            continue;
        void *handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            *error = QString::fromLocal8Bit(::dlerror());
            continue;
        }
        ReportModule module;
        module.makeApplication = reinterpret_cast<decltype(module.makeApplication)>(
            ::dlsym(handle, "tallivoBillingApplication"));
        module.save =
            reinterpret_cast<decltype(module.save)>(::dlsym(handle, "tallivoSaveBillingReport"));
        if (module.makeApplication && module.save)
            return module;
        *error = QStringLiteral("%1 is not the report module").arg(displayPath(path));
    }
    return std::nullopt;
}

bool saveReport(const BillingReport &report, const QByteArray &path,
                const std::optional<ReportModule> &module, QString *error)
{
    if (module)
        return module->save(&report, &path, error);
    return saveBillingCsv(report, path, error);
}

} // namespace

int main(int argc, char *argv[])
{
    // A write past a file size limit fails with EFBIG, said and the old file
    // kept, instead of ending the program with its new file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // Paths are bytes: the arguments are read as given, never decoded.
    QList<QByteArray> argumentList;
    for (int i = 1; i < argc; ++i)
        argumentList << QByteArray(argv[i]);
    const CommandLine line = parseCommandLine(argumentList, currentFolder(), Program::Counter);
    // A PDF report is laid out with fonts, which need the GUI application;
    // it never shows a window, so no display is needed either.
    std::unique_ptr<QCoreApplication> application;
    std::optional<ReportModule> reportModule;
    const QByteArray reportType =
        line.reportPath ? extensionOf(*line.reportPath).toLower() : QByteArray();
    if (line.error.isEmpty() && (reportType == "xlsx" || reportType == "pdf")) {
        QString why;
        reportModule = loadReportModule(&why);
        if (!reportModule)
            return usageError(why);
        // Only the PDF's fonts need the GUI application.
        if (reportType == "pdf")
            application.reset(reportModule->makeApplication(&argc, argv));
    }
    if (!application)
        application = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication &app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("tallivo-count"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLIVO_VERSION));
    otherMessages = qInstallMessageHandler(dropOwnWarnings);

    if (line.help) {
        std::fputs(commandLineHelp(Program::Counter).toUtf8().constData(), stdout);
        return Ok;
    }
    if (line.version) {
        std::printf("tallivo-count %s\n", TALLIVO_VERSION);
        return Ok;
    }
    if (!line.error.isEmpty())
        return usageError(line.error);
    if (line.colourMinArea)
        PdfWorkers::shared().setColourMinArea(*line.colourMinArea);
    const bool quiet = line.quiet;
    const bool summary = line.summary;
    const bool pagesGiven = line.pagesPath.has_value();
    const bool exportGiven = line.exportPath.has_value();
    const QByteArray pagesPath = line.pagesPath.value_or(QByteArray());
    const QByteArray exportPath = line.exportPath.value_or(QByteArray());
    const bool reportGiven = line.reportPath.has_value();
    const QByteArray reportPath = line.reportPath.value_or(QByteArray());

    const bool stderrIsTerminal = ::isatty(STDERR_FILENO);
    const RowTarget stdoutTarget = ::isatty(STDOUT_FILENO) ? RowTarget::Terminal : RowTarget::File;
    const RowTarget stderrTarget = stderrIsTerminal ? RowTarget::Terminal : RowTarget::File;
    // The report's format and prices are checked before anything is counted.
    PriceList prices;
    if (reportGiven && reportType != "csv" && reportType != "xlsx" && reportType != "pdf")
        return usageError(QStringLiteral("the report is written as .csv, .xlsx or .pdf"));
    if (line.pricesPath) {
        PriceList::Error error;
        std::optional<PriceList> loaded = PriceList::load(*line.pricesPath, &error);
        if (!loaded) {
            std::fprintf(stderr, "tallivo-count: %s: %s\n",
                         escapedForRow(*line.pricesPath, stderrTarget).constData(),
                         error.text().toUtf8().constData());
            return Usage;
        }
        prices = std::move(*loaded);
    }
    int status = Ok;
    // A file URL naming another machine is not a local path: said, not counted.
    for (const QString &skipped : line.skipped) {
        std::fprintf(stderr, "tallivo-count: %s\n", skipped.toUtf8().constData());
        status = Failed;
    }
    Arguments arguments;
    arguments.isFolders = true;
    arguments.includeSubfolders = line.subfolders;
    QList<QByteArray> givenFolders;
    for (const QUrl &url : line.urls) {
        const QByteArray p = localPath(url);
        if (!statusOf(p)) {
            const int error = errno;
            std::fprintf(stderr, "tallivo-count: %s: %s\n",
                         escapedForRow(p, stderrTarget).constData(), std::strerror(error));
            status = Failed;
            continue;
        }
        arguments.urls << url;
        if (isFolder(p))
            givenFolders << p;
    }
    const JobFolders jobs(givenFolders, line.jobPerSubfolder);
    BillingTally billing;

    // Each file is printed, written to the listings and added to the totals
    // as it comes, in walk order, and then forgotten: the run keeps a key
    // for its duplicate test only of files that two given paths may share.
    CollectionRun run;
    if (pagesGiven)
        run.setPageDetails(PageDetails::Pages);
    else if (summary || reportGiven)
        run.setPageDetails(PageDetails::Summary);
    std::optional<ExportWriter> exportWriter;
    if (exportGiven) {
        exportWriter.emplace(exportPath);
        exportWriter->open();
    }
    std::optional<PageListWriter> pageList;
    if (pagesGiven)
        pageList.emplace(pagesPath);
    // The figures the window would show of the same files; the files
    // themselves go.
    PageTally tally;
    ProgressLine progress;
    QObject::connect(&run, &CollectionRun::filesCounted, [&](const SharedFileBatch &batch) {
        if (!quiet)
            progress.clear();
        for (const auto &item : batch->items) {
            const FileItem &f = *item;
            tally.add(f);
            if (exportWriter)
                exportWriter->add(f.record());
            if (pageList)
                pageList->add(f);
            if (reportGiven)
                billing.addListed(jobs, f.localPath(), f.countStatus(), f.pages(), f.pageSummary());
            if (!quiet)
                printRow(stdout, stdoutTarget, f);
            if (f.countStatus() == CountStatus::Counted)
                continue;
            // A problem, not progress: named under --quiet too.
            const QByteArray line = "tallivo-count: " + escapedForRow(f.localPath(), stderrTarget) +
                                    ": " + countStatusText(f.countStatus()).toUtf8() + '\n';
            std::fflush(stdout);
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
    });
    if (!quiet && stderrIsTerminal) {
        QObject::connect(&run, &CollectionRun::progress, [&](const RunProgress &p) {
            progress.show(p, tally.files(), tally.pages());
        });
    }
    int interrupted = 0;
    std::optional<QSocketNotifier> interrupts;
    if (catchInterrupts()) {
        interrupts.emplace(interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(&*interrupts, &QSocketNotifier::activated, [&] {
            char code = 0;
            if (::read(interruptPipe[0], &code, 1) == 1 && interrupted == 0) {
                interrupted = code;
                run.cancel();
            }
        });
    }
    QList<UnreadableFolder> unreadable;
    SubfolderFiles below;
    QObject::connect(&run, &CollectionRun::finished, &app, [&](const RunResult &result) {
        progress.clear();
        unreadable = result.unreadableFolders;
        below = result.subfolderFiles;
        QCoreApplication::quit();
    });
    run.start(arguments);
    app.exec();
    if (interrupted != 0) {
        // Neither listing replaces anything; the new files go.
        exportWriter.reset();
        pageList.reset();
        std::fflush(stdout);
        return 128 + interrupted;
    }

    const PageTotals &t = tally.pages();
    std::printf("Total Pages TIFF : %lld PDF : %lld\n", t.tiffPages, t.pdfPages);
    // The sum on a line of its own, so that the line above stays as scripts
    // read it.
    std::printf("Total pages: %lld\n", t.all());
    // The window's status text, without its selection part: nothing is
    // selected here.
    std::printf("%lld Total file(s)\n", tally.files());
    const qint64 uncounted = tally.uncounted();
    std::fflush(stdout);

    for (const UnreadableFolder &folder : unreadable) {
        std::fprintf(stderr, "tallivo-count: cannot read folder %s: %s\n",
                     escapedForRow(folder.path, stderrTarget).constData(),
                     std::strerror(folder.error));
    }
    if (uncounted > 0) {
        std::fprintf(stderr, "%lld file%s could not be counted\n", uncounted,
                     uncounted == 1 ? "" : "s");
    }
    if (!unreadable.isEmpty()) {
        const qsizetype n = unreadable.size();
        std::fprintf(stderr, "%lld folder%s could not be read\n", qint64(n), n == 1 ? "" : "s");
    }
    // Nothing found, but the subfolders not walked hold files.
    if (below.files > 0) {
        std::fprintf(stderr,
                     "tallivo-count: no TIFF or PDF files here, but the subfolders hold %s%lld; "
                     "add --subfolders to count them\n",
                     below.complete ? "" : "at least ", below.files);
    }
    if ((uncounted > 0 || !unreadable.isEmpty()) && status == Ok)
        status = NotAllCounted;

    if (summary) {
        std::fputs(pageTableText(tally.table()).toUtf8().constData(), stdout);
        std::fflush(stdout);
    }
    if (pagesGiven) {
        QString error;
        if (!pageList->commit(&error)) {
            std::fprintf(stderr, "tallivo-count: cannot write %s: %s\n",
                         escapedForRow(pagesPath, stderrTarget).constData(), qPrintable(error));
            status = Failed;
        }
    }
    if (exportGiven) {
        QString error;
        if (!exportWriter->commit(&error)) {
            std::fprintf(stderr, "tallivo-count: cannot write %s: %s\n",
                         escapedForRow(exportPath, stderrTarget).constData(), qPrintable(error));
            status = Failed;
        }
    }
    if (reportGiven) {
        const QString shop = userSettings().value(kShopNameKey).toString();
        const BillingReport report = makeBillingReport(billing, prices, shop, QDate::currentDate());
        QString error;
        if (!saveReport(report, reportPath, reportModule, &error)) {
            std::fprintf(stderr, "tallivo-count: cannot write %s: %s\n",
                         escapedForRow(reportPath, stderrTarget).constData(), qPrintable(error));
            status = Failed;
        }
    }
    // For the colour benchmark: how the PDF pages' colours were decided.
    if (qEnvironmentVariableIsSet("TALLIVO_COLOUR_STATS")) {
        const PdfWorkers::ColourTally tally = PdfWorkers::colourTally();
        std::fprintf(stderr, "colour: %lld pages decided from their operators, %lld rendered\n",
                     qlonglong(tally.scanned), qlonglong(tally.rendered));
    }
    return status;
}
