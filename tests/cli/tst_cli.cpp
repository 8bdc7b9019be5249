#include "collectionrun.h"
#include "exporter.h"
#include "exporttext.h"
#include "fileio.h"
#include "runtoend.h"
#include "samplefiles.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QRegularExpression>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <locale.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tallivo;

namespace {

struct Result
{
    int status;
    QString out;
    QString err;
};

Result countWith(const QStringList &args, const QProcessEnvironment &env = {})
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Runs tallivo-count with arguments that are bytes, not text, as a shell
// would pass them; optionally in a folder and under a file size limit. A
// write past the limit raises SIGXFSZ, which ends a program by default.
Result countRaw(const QList<QByteArray> &args, const QByteArray &folder = {},
                rlim_t fileSizeLimit = RLIM_INFINITY, const char *locale = nullptr)
{
    QList<QByteArray> argv{QByteArray(TALLIVO_COUNT_BINARY)};
    argv += args;
    std::vector<char *> pointers;
    for (QByteArray &a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return {-1, {}, {}};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (!folder.isEmpty() && ::chdir(folder.constData()) != 0)
            ::_exit(126);
        if (locale) {
            ::setenv("LC_ALL", locale, 1);
            ::setenv("LANG", locale, 1);
        }
        if (fileSizeLimit != RLIM_INFINITY) {
            std::signal(SIGXFSZ, SIG_DFL);
            struct rlimit limit;
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = fileSizeLimit;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    QByteArray output[2];
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, -1) >= 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                output[i].append(buffer, n);
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, QString::fromUtf8(output[0]),
            QString::fromUtf8(output[1])};
}

QByteArray readBytes(const QByteArray &path)
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return "(missing)";
    return file.readAll();
}

bool writeBytes(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && ok;
}

// Reading a file may move its access time between two runs.
QByteArray withoutAccessDates(const QByteArray &exported)
{
    QList<QByteArray> rows = exported.split('\n');
    for (QByteArray &row : rows) {
        QList<QByteArray> fields = row.split('\t');
        if (fields.size() == 8)
            fields[5] = "-";
        row = fields.join('\t');
    }
    return rows.join('\n');
}

bool hasLocale(const char *name)
{
    locale_t l = ::newlocale(LC_ALL_MASK, name, locale_t(0));
    if (!l)
        return false;
    ::freelocale(l);
    return true;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void listsFilesAndTotals();
    void exportMatchesTheWindowsExport();
    void missingPathCountsTheRest();
    void aFileThatKillsThePdfLibraryCostsOnlyItself();
    void namesAreBytesAndRowsStayRows();
    void pageListAndSummary();
    void problemsAreNamedWhenQuiet_data();
    void problemsAreNamedWhenQuiet();
    void colourTolerance_data();
    void colourTolerance();
    void badOptions_data();
    void badOptions();
    void helpListsEveryDocumentedOption();
    void outputNamesKeepTheirBytes();
    void fullDiskFailsAndKeepsTheOldFiles();
    void moreFilesThanCountAhead();
    void filesForOtherProgramsIgnoreTheLocale();
    void interruptLeavesTheOldFiles();
    void saysWhatTheSubfoldersHold();
    void whatCouldNotBeCountedIsSaid_data();
    void whatCouldNotBeCountedIsSaid();
    void tiffLibraryOnlyForTiffFiles_data();
    void tiffLibraryOnlyForTiffFiles();

private:
    QTemporaryDir m_dir;
};

void TestCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir().mkpath(m_dir.filePath(QStringLiteral("deep/er")));
    QVERIFY(test::writeTiff(m_dir.filePath(QStringLiteral("a scan.tif")), 3));
    QVERIFY(test::writePdf(m_dir.filePath(QStringLiteral("b.PDF")), 4));
    // Extensions are taken in any letter case.
    QVERIFY(test::writePdf(m_dir.filePath(QStringLiteral("c.Pdf")), 9));
    QVERIFY(test::writeTiff(m_dir.filePath(QStringLiteral("deep/er/d.tiff")), 2));
}

void TestCli::listsFilesAndTotals()
{
    Result r = countWith({m_dir.path()});
    QCOMPARE(r.status, 0);
    QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QVERIFY(lines[0].startsWith(QStringLiteral("a scan.tif\t3\t")));
    QVERIFY(lines[0].endsWith(QLatin1Char('\t') + m_dir.path()));
    QVERIFY(lines[1].startsWith(QStringLiteral("b.PDF\t4\t")));
    QVERIFY(lines[2].startsWith(QStringLiteral("c.Pdf\t9\t")));
    QCOMPARE(lines[3], QStringLiteral("Total Pages TIFF : 3 PDF : 13"));
    // The sum beside it, on a line of its own.
    QCOMPARE(lines[4], QStringLiteral("Total pages: 16"));
    // Nothing is selected in a listing: the window's selection text stays out.
    QCOMPARE(lines[5], QStringLiteral("3 Total file(s)"));

    // The same folder twice, and a file inside it: each file is listed once.
    const QString file = m_dir.filePath(QStringLiteral("deep/er/d.tiff"));
    r = countWith({QStringLiteral("--quiet"), QStringLiteral("--subfolders"), m_dir.path(),
                   m_dir.path(), file});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out,
             QStringLiteral("Total Pages TIFF : 5 PDF : 13\nTotal pages: 18\n4 Total file(s)\n"));
    QVERIFY(r.err.isEmpty()); // no progress when stderr is not a terminal
}

void TestCli::exportMatchesTheWindowsExport()
{
    const QString target = m_dir.filePath(QStringLiteral("out/list.txt"));
    QDir().mkpath(m_dir.filePath(QStringLiteral("out")));
    const Result r = countWith({QStringLiteral("--quiet"), QStringLiteral("--subfolders"),
                                QStringLiteral("--export"), target, m_dir.path()});
    QCOMPARE(r.status, 0);

    FileList files;
    CollectionRun run;
    QVERIFY(test::runToEnd(run, files, Arguments{{QUrl::fromLocalFile(m_dir.path())}, true, true}));
    QFile written(target);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), test::exportText(files));
    QCOMPARE(files.size(), 4);

    // An export that cannot be written is an error, not a success.
    const Result bad =
        countWith({QStringLiteral("--quiet"), QStringLiteral("--export"),
                   m_dir.filePath(QStringLiteral("no/such/dir/x.txt")), m_dir.path()});
    QCOMPARE(bad.status, 1);
    QVERIFY(bad.err.contains(QStringLiteral("cannot write")));
}

void TestCli::missingPathCountsTheRest()
{
    const Result r = countWith({QStringLiteral("--quiet"), m_dir.filePath(QStringLiteral("nope")),
                                m_dir.filePath(QStringLiteral("b.PDF"))});
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains(QStringLiteral("nope")));
    QVERIFY(r.out.startsWith(
        QStringLiteral("Total Pages TIFF : 0 PDF : 4\nTotal pages: 4\n1 Total file(s)")));
}

void TestCli::aFileThatKillsThePdfLibraryCostsOnlyItself()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(test::writePdf(dir.filePath(QStringLiteral("a.pdf")), 2));
    QVERIFY(test::writeBytes(dir.filePath(QStringLiteral("b.pdf")),
                             "%PDF-1.4\n%TALLIVO-TEST-FAULT crash\n"));
    QVERIFY(test::writePdf(dir.filePath(QStringLiteral("c.pdf")), 3));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TALLIVO_PDFWORKER"), QStringLiteral(TALLIVO_PDFWORKER_TEST_BINARY));
    env.insert(QStringLiteral("TALLIVO_PDFWORKER_TEST_FAULTS"), QStringLiteral("1"));
    const QString pages = dir.filePath(QStringLiteral("pages.tsv"));
    for (const QStringList &options :
         {QStringList(), QStringList{QStringLiteral("--pages"), pages}}) {
        const Result r = countWith(options + QStringList{dir.path()}, env);
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(QStringLiteral("b.pdf: the PDF library failed on this file\n")),
                 qPrintable(r.err));
        QVERIFY(r.err.endsWith(QStringLiteral("1 file could not be counted\n")));
        QVERIFY(r.out.contains(QStringLiteral("Total Pages TIFF : 0 PDF : 5")));
    }
}

void TestCli::namesAreBytesAndRowsStayRows()
{
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    // A folder and files named in Latin-1, as older systems left them, and a
    // name with a tab and a line feed.
    QVERIFY(::mkdir(QByteArray(top + "/Factures_\xe9t\xe9").constData(), 0755) == 0);
    const QString tmp = dir.filePath(QStringLiteral("t.tif"));
    QVERIFY(test::writeTiff(tmp, 2));
    QVERIFY(::rename(QFile::encodeName(tmp).constData(),
                     QByteArray(top + "/Factures_\xe9t\xe9/scan\xe9.tif").constData()) == 0);
    QVERIFY(test::writeTiff(tmp, 3));
    QVERIFY(::rename(QFile::encodeName(tmp).constData(),
                     QByteArray(top + "/Factures_\xe9t\xe9/scan\xe8.tif").constData()) == 0);
    QVERIFY(test::writePdf(tmp, 4));
    QVERIFY(::rename(QFile::encodeName(tmp).constData(),
                     QByteArray(top + "/a\tb\nc.pdf").constData()) == 0);

    QProcess p;
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY),
            {QStringLiteral("--subfolders"), QStringLiteral("--export"),
             dir.filePath(QStringLiteral("out.txt")), dir.path()});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    // Byte order of names: the folder "F..." before "a...".
    QVERIFY(lines.value(0).startsWith("scan\xe8.tif\t3\t"));
    QVERIFY(lines.value(1).startsWith("scan\xe9.tif\t2\t"));
    QVERIFY(lines.value(1).endsWith('\t' + top + "/Factures_\xe9t\xe9"));
    QCOMPARE(lines.value(2), "a\\tb\\nc.pdf\t4\t" + FileItem::sizeText(4096).toUtf8() + '\t' + top);
    QCOMPARE(lines.value(3), "Total Pages TIFF : 5 PDF : 4");

    QFile exported(dir.filePath(QStringLiteral("out.txt")));
    QVERIFY(exported.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = exported.readAll().split('\n');
    QCOMPARE(rows.size(), 5);
    for (const QByteArray &row : rows.mid(1, 3))
        QCOMPARE(row.count('\t'), 7);
    QVERIFY(rows.value(2).startsWith("scan\xe9.tif\t2\t"));
    // Qt cannot remove names that are not UTF-8.
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()});
}

void TestCli::pageListAndSummary()
{
    QTemporaryDir out;
    const QString pages = out.filePath(QStringLiteral("pages.tsv"));
    const QString exported = out.filePath(QStringLiteral("list.txt"));
    const Result r = countWith({QStringLiteral("--summary"), QStringLiteral("--pages"), pages,
                                QStringLiteral("--export"), exported, m_dir.path()});
    QCOMPARE(r.status, 0);
    // One line per page of the three files (3 + 4 + 9), after a header.
    QFile list(pages);
    QVERIFY(list.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = list.readAll().split('\n');
    QCOMPARE(rows.size(), 1 + 16 + 1);
    QVERIFY(rows.first().startsWith("Path\tPage\t"));
    QVERIFY(rows.at(1).startsWith(QFile::encodeName(m_dir.filePath(QStringLiteral("a scan.tif"))) +
                                  "\t1\t"));
    for (const QByteArray &row : rows.mid(1, 16))
        QCOMPARE(row.count('\t'), 6);
    QVERIFY(r.out.contains(QStringLiteral("Total")));
    // The export is the same with or without page details.
    QFile withDetails(exported);
    QVERIFY(withDetails.open(QIODevice::ReadOnly));
    const Result plain = countWith({QStringLiteral("--quiet"), QStringLiteral("--export"),
                                    out.filePath(QStringLiteral("plain.txt")), m_dir.path()});
    QFile withoutDetails(out.filePath(QStringLiteral("plain.txt")));
    QVERIFY(withoutDetails.open(QIODevice::ReadOnly));
    QCOMPARE(withDetails.readAll(), withoutDetails.readAll());
    // A listing that cannot be written is an error.
    const Result bad = countWith({QStringLiteral("--quiet"), QStringLiteral("--pages"),
                                  out.filePath(QStringLiteral("no/such/pages.tsv")), m_dir.path()});
    QCOMPARE(bad.status, 1);
    QVERIFY(bad.err.contains(QStringLiteral("cannot write")));
}

void TestCli::problemsAreNamedWhenQuiet_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("listing") << QStringList();
    QTest::newRow("quiet") << QStringList{QStringLiteral("--quiet")};
    QTest::newRow("quiet summary")
        << QStringList{QStringLiteral("--quiet"), QStringLiteral("--summary")};
}

void TestCli::problemsAreNamedWhenQuiet()
{
    QFETCH(QStringList, options);
    QTemporaryDir dir;
    QVERIFY(test::writeTiff(dir.filePath(QStringLiteral("a.tif")), 2));
    QVERIFY(test::writeBytes(dir.filePath(QStringLiteral("b.tif")), "II*\0garbage"));
    QVERIFY(test::writeBytes(dir.filePath(QStringLiteral("c.pdf")), "not a PDF at all"));
    const Result r = countWith(options + QStringList{dir.path()});
    QCOMPARE(r.status, 3);
    const QStringList lines = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    const QStringList names{QStringLiteral("b.tif"), QStringLiteral("c.pdf")};
    for (int i = 0; i < 2; ++i) {
        const QString named =
            QStringLiteral("tallivo-count: ") + dir.filePath(names.at(i)) + QStringLiteral(": ");
        QVERIFY2(lines.at(i).startsWith(named), qPrintable(lines.at(i)));
        QVERIFY(lines.at(i).size() > named.size() + 3); // with the reason
    }
    QCOMPARE(lines.at(2), QStringLiteral("2 files could not be counted"));
    QVERIFY(r.out.contains(QStringLiteral("Total Pages TIFF : 2 PDF : 0\nTotal pages: 2\n")));
}

void TestCli::colourTolerance_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("colour");
    QTest::newRow("default") << QStringList() << QByteArray("Colour");
    QTest::newRow("20 mm^2") << QStringList{QStringLiteral("--colour-min-area=20")}
                             << QByteArray("B/W");
    QTest::newRow("12.5 mm^2") << QStringList{QStringLiteral("--colour-min-area"),
                                              QStringLiteral("12.5")}
                               << QByteArray("B/W");
}

void TestCli::colourTolerance()
{
    // A page with a red logo of 10 mm^2, under a language that writes a
    // decimal comma: the option is read without it.
    QFETCH(QStringList, options);
    QFETCH(QByteArray, colour);
    QTemporaryDir dir;
    const QByteArray logo = "1 0 0 rg 100 60 9 9 re f";
    QVERIFY(test::writeBytes(
        dir.filePath(QStringLiteral("logo.pdf")),
        "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
        "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
        "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]/Contents 4 0 R>>endobj\n"
        "4 0 obj<</Length " +
            QByteArray::number(logo.size()) + ">>stream\n" + logo +
            "\nendstream endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n"));
    const QString pages = dir.filePath(QStringLiteral("pages.tsv"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8"));
    const Result r =
        countWith(options + QStringList{QStringLiteral("--quiet"), QStringLiteral("--pages"), pages,
                                        dir.filePath(QStringLiteral("logo.pdf"))},
                  env);
    QCOMPARE(r.status, 0);
    QFile list(pages);
    QVERIFY(list.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = list.readAll().split('\n');
    QCOMPARE(rows.size(), 3);
    QVERIFY2(rows.at(1).endsWith('\t' + colour), rows.at(1).constData());
}

void TestCli::badOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no path") << QStringList();
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--frobnicate"), QStringLiteral(".")};
    QTest::newRow("export without file")
        << QStringList{QStringLiteral("."), QStringLiteral("--export")};
    QTest::newRow("pages without file")
        << QStringList{QStringLiteral("--pages="), QStringLiteral(".")};
    for (const char *area : {"0", "100.5", "1,5", "nan"}) {
        QTest::newRow(("colour area " + QByteArray(area)).constData()) << QStringList{
            QStringLiteral("--colour-min-area"), QString::fromLatin1(area), QStringLiteral(".")};
    }
    QTest::newRow("colour area missing")
        << QStringList{QStringLiteral("."), QStringLiteral("--colour-min-area")};
}

void TestCli::badOptions()
{
    QFETCH(QStringList, args);
    const Result r = countWith(args);
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("Usage: tallivo-count")));
    QVERIFY(r.out.isEmpty());
}

void TestCli::helpListsEveryDocumentedOption()
{
    const Result r = countWith({QStringLiteral("--help")});
    QCOMPARE(r.status, 0);
    // The manual page's options, "--" and the "--export=FILE" forms among
    // them, and its exit statuses.
    QFile manual(QStringLiteral(TALLIVO_SOURCE_DIR "/packaging/tallivo-count.1"));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    const QString page =
        QString::fromUtf8(manual.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    const QString options =
        page.section(QStringLiteral(".SH OPTIONS"), 1).section(QStringLiteral(".SH "), 0, 0);
    QStringList manualOptions;
    const QRegularExpression manualOption(QStringLiteral("^\\.B[IR]? +(--(?:[a-z][a-z-]*)?=?)"),
                                          QRegularExpression::MultilineOption);
    for (const auto &match : manualOption.globalMatch(options))
        manualOptions << match.captured(1);
    QVERIFY2(manualOptions.contains(QStringLiteral("--")) &&
                 manualOptions.contains(QStringLiteral("--export=")) && manualOptions.size() >= 9,
             qPrintable(manualOptions.join(QLatin1Char(' '))));
    for (const QString &o : std::as_const(manualOptions)) {
        const QString shown =
            o.endsWith(QLatin1Char('=')) ? o + QStringLiteral("FILE ") : o + QLatin1Char(' ');
        QVERIFY2(r.out.contains(shown), qPrintable(o));
    }
    const QString statuses =
        page.section(QStringLiteral(".SH EXIT STATUS"), 1).section(QStringLiteral(".SH "), 0, 0);
    const QString helpStatuses = r.out.section(QStringLiteral("Exit status:"), 1);
    const QRegularExpression status(QStringLiteral("^\\.B ([0-9]+)$"),
                                    QRegularExpression::MultilineOption);
    int listed = 0;
    for (const auto &match : status.globalMatch(statuses)) {
        ++listed;
        QVERIFY2(
            helpStatuses.contains(QLatin1Char(' ') + match.captured(1) + QLatin1Char(' ')) ||
                helpStatuses.contains(QLatin1Char('\n') + match.captured(1) + QLatin1Char(' ')),
            qPrintable(match.captured(1)));
    }
    QCOMPARE(listed, 5);
    // The size column is the space on disk, and the help says so.
    QVERIFY(r.out.contains(QStringLiteral("on disk")));
    const Result v = countWith({QStringLiteral("--version")});
    QCOMPARE(v.status, 0);
    QVERIFY(v.out.startsWith(QStringLiteral("tallivo-count ")));
}

// The names of files and of the export and page list given on the command
// line are bytes: a Latin-1 "café" is written as "caf\xE9", not U+FFFD.
void TestCli::outputNamesKeepTheirBytes()
{
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    const QString tmp = dir.filePath(QStringLiteral("t.pdf"));
    QVERIFY(test::writePdf(tmp, 3));
    QVERIFY(::rename(QFile::encodeName(tmp).constData(),
                     QByteArray(top + "/caf\xe9.PDF").constData()) == 0);

    const Result r =
        countRaw({"--export", "caf\xe9.txt", "--pages=caf\xe9 pages.tsv", "caf\xe9.PDF"}, top);
    QCOMPARE(r.status, 0);
    const QByteArray exported = readBytes(top + "/caf\xe9.txt");
    QVERIFY2(exported.startsWith("Name\t"), exported.constData());
    QVERIFY(exported.contains("\ncaf\xe9.PDF\t3\t"));
    QVERIFY(readBytes(top + "/caf\xe9 pages.tsv").contains(top + "/caf\xe9.PDF\t3\t"));
    // Qt lists no names that are not UTF-8; the file system's listing does.
    const FolderListing listing = listFolder(top);
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()});
    QCOMPARE(listing.entries.size(), size_t(3));
}

// A full disk (a file size limit stands in for one) fails the export and the
// page list with status 1 and the system's reason, and keeps what was there.
void TestCli::fullDiskFailsAndKeepsTheOldFiles()
{
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    QVERIFY(writeBytes(top + "/list.txt", "good list\n"));
    QVERIFY(writeBytes(top + "/pages.tsv", "good pages\n"));
    const QByteArray folder = QFile::encodeName(m_dir.path());
    for (const QByteArray &option : {QByteArray("--export"), QByteArray("--pages")}) {
        const QByteArray target = top + (option == "--export" ? "/list.txt" : "/pages.tsv");
        const Result r = countRaw({"--quiet", "--subfolders", option, target, folder}, {}, 100);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("cannot write")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(r.err));
        QVERIFY(!r.err.contains(QStringLiteral("Unknown error")));
    }
    QCOMPARE(readBytes(top + "/list.txt"), QByteArray("good list\n"));
    QCOMPARE(readBytes(top + "/pages.tsv"), QByteArray("good pages\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// More files than counting may run ahead of the list: every one is listed,
// once, in walk order, and the totals add up.
void TestCli::moreFilesThanCountAhead()
{
    QTemporaryDir dir;
    const QString seed = dir.filePath(QStringLiteral("seed"));
    QVERIFY(test::writeTiff(seed, 2));
    constexpr int files = 2300;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("scans"))));
    QByteArray expected;
    for (int i = 0; i < files; ++i) {
        const QString name = QStringLiteral("f%1.tif").arg(i, 5, 10, QLatin1Char('0'));
        QVERIFY(QFile::copy(seed, dir.filePath(QStringLiteral("scans/") + name)));
        expected += name.toUtf8() + "\t2\n";
    }
    const Result r = countRaw({QFile::encodeName(dir.filePath(QStringLiteral("scans")))});
    QCOMPARE(r.status, 0);
    QByteArray listed;
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), files + 3);
    for (const QString &line : lines.mid(0, files))
        listed += line.section(QLatin1Char('\t'), 0, 1).toUtf8() + '\n';
    QCOMPARE(listed, expected);
    QCOMPARE(lines.at(files), QStringLiteral("Total Pages TIFF : %1 PDF : 0").arg(2 * files));
}

// The listing, the export and the page list are read by other programs: the
// same bytes in every locale, a "." in every size.
void TestCli::filesForOtherProgramsIgnoreTheLocale()
{
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    QVERIFY(test::writeTiff(dir.filePath(QStringLiteral("a.tif")), 2));
    // 1.5 MB on disk, whatever it holds.
    QVERIFY(writeBytes(top + "/big.pdf", QByteArray(1500 * 1000, 'x')));
    Result c = countRaw({"--export", top + "/c.txt", top}, {}, RLIM_INFINITY, "C");
    QCOMPARE(c.status, 3); // big.pdf is no PDF
    const QByteArray reference = readBytes(top + "/c.txt");
    QVERIFY2(reference.contains("\t 1.5 MB\t"), reference.constData());
    QVERIFY(c.out.contains(QStringLiteral("\t 1.5 MB\t")));
    int tried = 0;
    for (const char *locale : {"de_DE.UTF-8", "tr_TR.UTF-8"}) {
        if (!hasLocale(locale))
            continue;
        ++tried;
        const Result r = countRaw({"--export", top + "/l.txt", top}, {}, RLIM_INFINITY, locale);
        QCOMPARE(r.status, 3);
        QCOMPARE(r.out, c.out);
        QCOMPARE(withoutAccessDates(readBytes(top + "/l.txt")), withoutAccessDates(reference));
    }
    if (tried == 0)
        QSKIP("neither de_DE.UTF-8 nor tr_TR.UTF-8 is installed here");
}

// Ctrl+C during a run: the listings being written replace nothing and leave
// nothing beside the old files. (A run may end before the interrupt comes;
// then it has written both whole.)
void TestCli::interruptLeavesTheOldFiles()
{
    QTemporaryDir dir;
    const QString seed = dir.filePath(QStringLiteral("seed"));
    QVERIFY(test::writeTiff(seed, 2));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("scans"))));
    const QByteArray seedPath = QFile::encodeName(seed);
    for (int i = 0; i < 3000; ++i) {
        const QByteArray link =
            QFile::encodeName(dir.path()) + "/scans/f" + QByteArray::number(i) + ".tif";
        QCOMPARE(::link(seedPath.constData(), link.constData()), 0);
    }
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    QVERIFY(writeBytes(QFile::encodeName(out) + "/list.txt", "good list\n"));
    QVERIFY(writeBytes(QFile::encodeName(out) + "/pages.tsv", "good pages\n"));
    QProcess p;
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY),
            {QStringLiteral("--export"), out + QStringLiteral("/list.txt"),
             QStringLiteral("--pages"), out + QStringLiteral("/pages.tsv"),
             dir.filePath(QStringLiteral("scans"))});
    // The rows come as the files are counted: the first says the run is on.
    QVERIFY(p.waitForReadyRead(60000));
    QCOMPARE(::kill(pid_t(p.processId()), SIGINT), 0);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    const QStringList left = QDir(out).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left, QStringList({"list.txt", "pages.tsv"}));
    if (p.exitCode() == 128 + SIGINT) {
        QCOMPARE(readBytes(QFile::encodeName(out) + "/list.txt"), QByteArray("good list\n"));
        QCOMPARE(readBytes(QFile::encodeName(out) + "/pages.tsv"), QByteArray("good pages\n"));
        QVERIFY(!p.readAllStandardOutput().contains("Total Pages"));
    } else {
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(readBytes(QFile::encodeName(out) + "/list.txt").startsWith("Name\t"));
    }
}

void TestCli::saysWhatTheSubfoldersHold()
{
    // Files only below: the count of them and the option that takes them.
    const QString deep = m_dir.filePath(QStringLiteral("deep"));
    Result r = countWith({deep});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out,
             QStringLiteral("Total Pages TIFF : 0 PDF : 0\nTotal pages: 0\n0 Total file(s)\n"));
    QCOMPARE(r.err, QStringLiteral("tallivo-count: no TIFF or PDF files here, but the subfolders "
                                   "hold 1; add --subfolders to count them\n"));
    // Files of its own, or the subfolders walked: nothing to add.
    for (const QStringList &args :
         {QStringList{m_dir.path()}, QStringList{QStringLiteral("--subfolders"), deep}}) {
        r = countWith(args);
        QVERIFY2(!r.err.contains(QStringLiteral("subfolders")), qPrintable(r.err));
    }
}

void TestCli::whatCouldNotBeCountedIsSaid_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QStringList>("said");
    // The pages before the cut are listed and added up; the file is named.
    QTest::newRow("TIFF cut after its first page")
        << "cut.tif" << 3 << "cut.tif\t1\t"
        << QStringList{"/cut.tif: cut short\n", "\n1 file could not be counted\n"};
    QTest::newRow("folder that cannot be read")
        << "box" << 3 << "ok.tif\t2\t"
        << QStringList{"/box/locked: Permission denied\n", "\n1 folder could not be read\n"};
    // Said as such, and as for a path that is missing, not as bad usage.
    QTest::newRow("file URL of another machine")
        << "file://otherhost/x" << 1
        << "Total Pages TIFF : 0 PDF : 0\nTotal pages: 0\n0 Total file(s)\n"
        << QStringList{"tallivo-count: file://otherhost/x: the path is on another machine"};
}

void TestCli::whatCouldNotBeCountedIsSaid()
{
    QFETCH(QString, given);
    QFETCH(QString, listed);
    QFETCH(QStringList, said);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther));
    QVERIFY(test::writeG4Tiff(dir.filePath(QStringLiteral("cut.tif")), 3, true));
    const QString locked = dir.filePath(QStringLiteral("box/locked"));
    QVERIFY(QDir().mkpath(locked));
    QVERIFY(test::writeTiff(dir.filePath(QStringLiteral("box/ok.tif")), 2));
    QVERIFY(test::writeTiff(locked + QStringLiteral("/hidden.tif"), 1));
    QVERIFY(QFile::setPermissions(locked, {}));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C")); // strerror's words
    p.setProcessEnvironment(env);
    // Permissions do not hold root back: run as nobody then.
    p.setChildProcessModifier([] {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
    });
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY), {QStringLiteral("--subfolders"), given});
    QVERIFY(p.waitForFinished(120000));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QTEST(p.exitCode(), "status");
    QVERIFY2(out.contains(listed), qPrintable(out));
    for (const QString &words : said)
        QVERIFY2(err.contains(words), qPrintable(err));
    QVERIFY2(!err.contains(QStringLiteral("Usage")), qPrintable(err));
}

void TestCli::tiffLibraryOnlyForTiffFiles_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("totals");
    QTest::newRow("empty folder") << QStringList() << false << "TIFF : 0 PDF : 0";
    QTest::newRow("PDF files") << QStringList{QStringLiteral("a.pdf"), QStringLiteral("b.tif.pdf")}
                               << false << "TIFF : 0 PDF : 4";
    QTest::newRow("a TIFF file among them")
        << QStringList{QStringLiteral("a.pdf"), QStringLiteral("c.tif")} << true
        << "TIFF : 3 PDF : 2";
}

// Start-up loads no more than counting needs: libtiff, and the libraries it
// brings, come with the first TIFF file. The dynamic loader says what the
// counter itself loaded (not the PDF workers it may start).
void TestCli::tiffLibraryOnlyForTiffFiles()
{
    QFETCH(QStringList, files);
    QFETCH(bool, loaded);
    QFETCH(QString, totals);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("files"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &name : std::as_const(files)) {
        const QString path = folder + QLatin1Char('/') + name;
        QVERIFY(name.endsWith(QLatin1String(".tif")) ? test::writeTiff(path, 3)
                                                     : test::writePdf(path, 2));
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
    env.insert(QStringLiteral("LD_DEBUG_OUTPUT"), dir.filePath(QStringLiteral("ld")));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY), {QStringLiteral("--quiet"), folder});
    QVERIFY(p.waitForStarted());
    const qint64 pid = p.processId();
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains(totals));
    QFile log(dir.filePath(QStringLiteral("ld.%1").arg(pid)));
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    const QByteArray said = log.readAll();
    QVERIFY(said.contains("file=libQt6Core.so")); // the loader did speak
    QCOMPARE(said.contains("file=libtiff.so"), loaded);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
