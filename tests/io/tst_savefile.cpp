#include "exporter.h"
#include "exporttext.h"
#include "filelist.h"
#include "pagereport.h"
#include "pagesummary.h"
#include "pipereader.h"
#include "savefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tallivo;
using tallivo::test::PipeReader;

namespace {

// Every file the programs write, each through the path its program takes.
const QStringList kWriters = {"export",         "export text", "window export",
                              "export checked", "summary csv", "kept list"};

QByteArray readBytes(const QByteArray &path)
{
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

bool writeBytes(const QByteArray &path, const QByteArray &data, mode_t mode = 0644)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && ok;
}

QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

mode_t typeOf(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// A folder in which nothing can be made or renamed, for root as well:
// immutable where the system lets us, else without write permission.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QByteArray &path)
        : m_path(path)
    {
        if (::geteuid() != 0) {
            m_done = ::chmod(path.constData(), 0555) == 0;
            return;
        }
        m_fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            m_done = ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
    }
    ~ReadOnlyFolder()
    {
        int flags = 0;
        if (m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
        }
        if (m_fd >= 0)
            ::close(m_fd);
        else
            ::chmod(m_path.constData(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;
    bool isReadOnly() const { return m_done; }

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_done = false;
};

} // namespace

class TestSaveFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void failedWriteKeepsTheOldFile_data();
    void failedWriteKeepsTheOldFile();
    void replacedFileKeepsModeAndOwner_data() { writerRows(); }
    void replacedFileKeepsModeAndOwner();
    void staleTemporariesGoAtTheNextSave_data() { writerRows(); }
    void staleTemporariesGoAtTheNextSave();
    void otherDestinationsAreNeverReplaced_data();
    void otherDestinationsAreNeverReplaced();
    void pipeReaderThatLeavesFailsTheSave();

private:
    static void writerRows();
    bool write(const QString &writer, const QByteArray &path, QString *error);

    FileList m_files;
    PageTable m_table;
    QByteArray m_kept;
};

void TestSaveFile::initTestCase()
{
    ::umask(022);
    // More than a pipe holds, so that a pipe's writer waits for its reader.
    for (int i = 0; i < 3000; ++i) {
        auto item = std::make_unique<FileItem>(
            QUrl::fromLocalFile(QStringLiteral("/scans/box %1/scan %2.pdf").arg(i / 100).arg(i)), i,
            1000 * i);
        item->setFileTimes(qint64(i) * 86'400'000, std::nullopt, 1'600'000'000'000 + i);
        item->setChecked(i % 3 != 0);
        QVERIFY(m_files.append(std::move(item)));
    }
    for (int i = 0; i < 100'000; ++i)
        m_kept += char('a' + i % 26);
}

void TestSaveFile::writerRows()
{
    QTest::addColumn<QString>("writer");
    for (const QString &writer : kWriters)
        QTest::newRow(qPrintable(writer)) << writer;
}

bool TestSaveFile::write(const QString &writer, const QByteArray &path, QString *error)
{
    if (writer == QLatin1String("export"))
        return test::exportList(m_files, path, error);
    if (writer == QLatin1String("export text"))
        return saveFile(path, test::exportText(m_files), error);
    if (writer == QLatin1String("summary csv"))
        return savePageTableCsv(m_table, QFile::decodeName(path), error);
    if (writer == QLatin1String("kept list"))
        return keepFile(path, m_kept, std::chrono::minutes(5), error);
    // The window's Export and Export Checked.
    QObject window;
    bool done = false;
    ExportCallbacks callbacks;
    callbacks.done = [&](const QString &why) {
        *error = why;
        done = true;
    };
    exportInBackground(&window, m_files, path, callbacks, nullptr, 1000,
                       writer == QLatin1String("export checked") ? ExportRows::Checked
                                                                 : ExportRows::All);
    if (!QTest::qWaitFor([&] { return done; }, 300000))
        *error = QStringLiteral("never finished");
    return done && error->isEmpty();
}

void TestSaveFile::failedWriteKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("fault");
    for (const QString &writer : kWriters) {
        // A file size limit fails a write as a full disk does, root or not.
        QTest::newRow(qPrintable(writer + " size limit")) << writer << "size limit";
        QTest::newRow(qPrintable(writer + " read-only folder")) << writer << "read-only folder";
    }
}

void TestSaveFile::failedWriteKeepsTheOldFile()
{
    QFETCH(QString, writer);
    QFETCH(QString, fault);
    QTemporaryDir dir;
    const QByteArray out = QFile::encodeName(dir.filePath("out.txt"));
    const QByteArray old = "the good file\n";
    QVERIFY(writeBytes(out, old));

    bool written = false;
    QString error;
    if (fault == QLatin1String("size limit")) {
        struct rlimit saved;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved;
        limit.rlim_cur = 16;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        written = write(writer, out, &error);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
    } else {
        ReadOnlyFolder readOnly(QFile::encodeName(dir.path()));
        if (!readOnly.isReadOnly())
            QSKIP("no way to make a folder read-only here");
        written = write(writer, out, &error);
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(!written);
    QCOMPARE(readBytes(out), old);
    QCOMPARE(entries(dir.path()), QStringList{"out.txt"});
}

void TestSaveFile::replacedFileKeepsModeAndOwner()
{
    QFETCH(QString, writer);
    QTemporaryDir dir;
    const QByteArray out = QFile::encodeName(dir.filePath("out.txt"));
    QVERIFY(writeBytes(out, "old", 0640));
    QCOMPARE(::chmod(out.constData(), 0640), 0);
    // Only root can give a file away.
    const bool root = ::geteuid() == 0;
    if (root)
        QCOMPARE(::chown(out.constData(), 65534, 65534), 0);
    QString error;
    QVERIFY2(write(writer, out, &error), qPrintable(error));
    QVERIFY(readBytes(out) != "old");
    struct stat st;
    QCOMPARE(::stat(out.constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    if (root) {
        QCOMPARE(st.st_uid, uid_t(65534));
        QCOMPARE(st.st_gid, gid_t(65534));
    }
    // A new file takes the umask's mode.
    const QByteArray fresh = QFile::encodeName(dir.filePath("fresh.txt"));
    QVERIFY2(write(writer, fresh, &error), qPrintable(error));
    QCOMPARE(::stat(fresh.constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0644));
    QCOMPARE(entries(dir.path()), QStringList({"fresh.txt", "out.txt"}));
}

// What a save killed midway left beside its destination goes at the next
// save of it; nothing else does: not another's, not a save under way, not
// a name that only looks like ours.
void TestSaveFile::staleTemporariesGoAtTheNextSave()
{
    QFETCH(QString, writer);
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    const QByteArray out = top + "/out.txt";
    QVERIFY(writeBytes(out, "old"));

    // A save of the same file under way, here or in another program.
    SaveFile underWay(out);
    QVERIFY(underWay.open(QIODevice::WriteOnly));
    QStringList kept = entries(dir.path());
    QCOMPARE(kept.size(), 2);

    // A save killed as it wrote.
    const pid_t child = ::fork();
    if (child == 0) {
        SaveFile file(out);
        if (file.open(QIODevice::WriteOnly) && file.write(QByteArray(100000, 'x')) == 100000)
            ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(entries(dir.path()).size(), 3);
    QVERIFY(writeBytes(top + "/out.txt.tallivo-ZxCvBn.tmp", "left by a crash"));

    const QStringList others = {"out.txt.tallivo-AbCdE.tmp", "out.txt.tallivo-AbC1Ef.tmp",
                                "out.txt.backup", "out.txt.AbCdEf", "other.tallivo-AbCdEf.tmp"};
    for (const QString &name : others)
        QVERIFY(writeBytes(QFile::encodeName(dir.filePath(name)), "keep"));
    QVERIFY(QDir(dir.path()).mkdir("out.txt.tallivo-QwErTy.tmp"));
    kept << others << "out.txt.tallivo-QwErTy.tmp";
    if (::geteuid() == 0) {
        QVERIFY(writeBytes(top + "/out.txt.tallivo-Theirs.tmp", "another user's"));
        QCOMPARE(::chown((top + "/out.txt.tallivo-Theirs.tmp").constData(), 65534, 65534), 0);
        kept << "out.txt.tallivo-Theirs.tmp";
    }

    QString error;
    QVERIFY2(write(writer, out, &error), qPrintable(error));
    kept.sort();
    QCOMPARE(entries(dir.path()), kept);
    underWay.cancelWriting();
}

void TestSaveFile::otherDestinationsAreNeverReplaced_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("destination");
    for (const QString &writer : kWriters) {
        for (const char *destination :
             {"pipe", "pipe without reader", "null device", "full device", "folder"})
            QTest::newRow(qPrintable(writer + ' ' + destination)) << writer << destination;
    }
}

// A pipe or a character device is written as it is, never renamed over; a
// folder is refused.
void TestSaveFile::otherDestinationsAreNeverReplaced()
{
    QFETCH(QString, writer);
    QFETCH(QString, destination);
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    const QByteArray out = top + "/out";
    mode_t type = S_IFIFO;
    if (destination.startsWith(QLatin1String("pipe"))) {
        QCOMPARE(::mkfifo(out.constData(), 0644), 0);
    } else if (destination.endsWith(QLatin1String("device"))) {
        type = S_IFCHR;
        const dev_t device =
            destination.startsWith(QLatin1String("null")) ? makedev(1, 3) : makedev(1, 7);
        if (::mknod(out.constData(), S_IFCHR | 0644, device) != 0)
            QSKIP("device nodes are made by root only");
    } else {
        type = S_IFDIR;
        QVERIFY(QDir().mkdir(dir.filePath("out")));
    }
    QString error;
    QByteArray expected = "(none)";
    std::optional<PipeReader> reader;
    if (destination == QLatin1String("pipe")) {
        QVERIFY2(write(writer, top + "/regular", &error), qPrintable(error));
        expected = readBytes(top + "/regular");
        QCOMPARE(::unlink((top + "/regular").constData()), 0);
        reader.emplace(out);
        QVERIFY(reader->isOpen());
    }

    const bool written = write(writer, out, &error);
    if (destination == QLatin1String("pipe") || destination.startsWith(QLatin1String("null"))) {
        QVERIFY2(written, qPrintable(error));
    } else {
        QVERIFY(!written);
        if (destination == QLatin1String("pipe without reader"))
            QCOMPARE(error, QStringLiteral("No program reads from the pipe"));
        else
            QCOMPARE(error,
                     QString::fromLocal8Bit(std::strerror(type == S_IFDIR ? EISDIR : ENOSPC)));
    }
    if (reader)
        QCOMPARE(reader->data(), expected);
    QCOMPARE(typeOf(out), type);
    QCOMPARE(entries(dir.path()), QStringList{"out"});
}

// A reader that goes away midway fails the save with the reason; the
// program goes on.
void TestSaveFile::pipeReaderThatLeavesFailsTheSave()
{
    QTemporaryDir dir;
    const QByteArray out = QFile::encodeName(dir.filePath("out"));
    QCOMPARE(::mkfifo(out.constData(), 0644), 0);
    PipeReader reader(out, 1);
    QString error;
    QVERIFY(!saveFile(out, QByteArray(4 << 20, 'x'), &error));
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EPIPE)));
    QVERIFY(!reader.data().isEmpty());
    QCOMPARE(typeOf(out), mode_t(S_IFIFO));
}

QTEST_GUILESS_MAIN(TestSaveFile)
#include "tst_savefile.moc"
