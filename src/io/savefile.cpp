#include "savefile.h"

#include "fileio.h"
#include "localpath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tallivo {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Where a chain of symbolic links at `name` in `folder` ends: the folder to
// write in (a new descriptor, or -1 with errno) and the name there.
int followLinks(int folder, QByteArray *name)
{
    int current = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    for (int hops = 0; current >= 0 && hops < 40; ++hops) {
        struct stat st;
        if (::fstatat(current, name->constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(st.st_mode))
            return current; // a new file, or the one to replace
        QByteArray target(st.st_size > 0 ? st.st_size + 1 : 4096, '\0');
        const ssize_t n =
            ::readlinkat(current, name->constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size()) {
            const int error = n < 0 ? errno : ENAMETOOLONG;
            ::close(current);
            errno = error;
            return -1;
        }
        target.truncate(n);
        QByteArray folderPath = folderOf(target);
        *name = fileNameOf(target);
        int next;
        if (folderPath.isEmpty())
            next = ::fcntl(current, F_DUPFD_CLOEXEC, 0);
        else if (target.startsWith('/'))
            next = openPath(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        else
            next = ::openat(current, folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        ::close(current);
        errno = error;
        current = next;
    }
    if (current >= 0) {
        ::close(current);
        errno = ELOOP;
    }
    return -1;
}

QByteArray randomLetters(int n)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QByteArray out(n, Qt::Uninitialized);
    for (char &c : out)
        c = letters[QRandomGenerator::global()->bounded(52)];
    return out;
}

// The new file's name: "NAME.tallivo-XXXXXX.tmp", recognisably ours.
constexpr qsizetype kStemBytes = 200;
constexpr int kTempLetters = 6;
constexpr char kTempEnd[] = ".tmp";

QByteArray tempStem(const QByteArray &name)
{
    return name.left(kStemBytes) + ".tallivo-";
}

bool isTempOf(QByteArrayView entry, QByteArrayView stem)
{
    const qsizetype end = qsizetype(sizeof kTempEnd) - 1;
    if (entry.size() != stem.size() + kTempLetters + end || !entry.startsWith(stem) ||
        !entry.endsWith(kTempEnd))
        return false;
    for (qsizetype i = stem.size(); i < stem.size() + kTempLetters; ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    }
    return true;
}

// Where the file system keeps no locks, only a file last written before this
// process started is surely no save of its own.
const timespec kProcessStart = [] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}();

bool olderThanProcess(const struct stat &st)
{
    return st.st_mtim.tv_sec < kProcessStart.tv_sec || (st.st_mtim.tv_sec == kProcessStart.tv_sec &&
                                                        st.st_mtim.tv_nsec < kProcessStart.tv_nsec);
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

// Removes `name` in `folder` if it is a new file of ours that no save holds.
void removeIfStale(int folder, const char *name)
{
    struct stat seen;
    if (::fstatat(folder, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
        seen.st_uid != ::geteuid())
        return;
    const FileDescriptor fd(
        ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened;
    if (fd.get() < 0 || ::fstat(fd.get(), &opened) != 0 || !sameFile(seen, opened))
        return;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK || error == EINTR || !olderThanProcess(opened))
            return;
    }
    struct stat now;
    if (::fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, opened))
        ::unlinkat(folder, name, 0);
}

void removeStaleIn(int folder, const QByteArray &stem)
{
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    // Names first: removing while reading may skip entries.
    QList<QByteArray> found;
    while (const dirent *entry = ::readdir(dir)) {
        if (isTempOf(QByteArrayView(entry->d_name), stem))
            found.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    for (const QByteArray &name : std::as_const(found))
        removeIfStale(folder, name.constData());
}

// The folder a path's file is in, links followed, and the name there; -1
// with errno on failure.
int openFolderOf(const QByteArray &path, QByteArray *name)
{
    *name = fileNameOf(path);
    if (path.isEmpty() || path.contains('\0') || name->isEmpty() || path.endsWith('/')) {
        errno = path.isEmpty() ? ENOENT : EISDIR;
        return -1;
    }
    QByteArray folderPath = folderOf(path);
    if (folderPath.isEmpty())
        folderPath = ".";
    const int folder = openPath(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return -1;
    const int followed = followLinks(folder, name);
    const int error = errno;
    ::close(folder);
    errno = error;
    return followed;
}

// A reader that goes away fails the write with EPIPE instead of ending the
// program: SIGPIPE is held back on this thread while it writes, and one it
// raised is taken off again.
class PipeSignalGuard
{
public:
    PipeSignalGuard()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~PipeSignalGuard()
    {
        if (m_raised && !m_wasPending) {
            const timespec zero{};
            while (::sigtimedwait(&m_pipe, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    PipeSignalGuard(const PipeSignalGuard &) = delete;
    PipeSignalGuard &operator=(const PipeSignalGuard &) = delete;
    void raised() { m_raised = true; }

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_wasPending = false;
    bool m_raised = false;
};

} // namespace

void removeStaleTemporaries(const QByteArray &path)
{
    QByteArray name;
    const int folder = openFolderOf(path, &name);
    if (folder < 0)
        return;
    removeStaleIn(folder, tempStem(name));
    ::close(folder);
}

SaveFile::SaveFile(QByteArray path, QObject *parent)
    : QIODevice(parent)
    , m_path(std::move(path))
{
}

SaveFile::~SaveFile()
{
    discard();
}

bool SaveFile::fail(int error)
{
    return fail(systemError(error));
}

bool SaveFile::fail(const QString &reason)
{
    m_failed = true;
    setErrorString(reason);
    return false;
}

void SaveFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_folder >= 0) {
        if (!m_temp.isEmpty())
            ::unlinkat(m_folder, m_temp.constData(), 0);
        ::close(m_folder);
        m_folder = -1;
    }
    m_temp.clear();
    m_inPlace = false;
}

bool SaveFile::open(OpenMode mode)
{
    if (isOpen() || (mode & ReadOnly) || !(mode & WriteOnly) || (mode & Append)) {
        setErrorString(QCoreApplication::translate("SaveFile", "Unsupported open mode"));
        return false;
    }
    m_failed = false;
    m_folder = openFolderOf(m_path, &m_name);
    if (m_folder < 0)
        return fail(errno);

    struct stat old;
    const bool replacing = ::fstatat(m_folder, m_name.constData(), &old, 0) == 0;
    if (replacing && !S_ISREG(old.st_mode)) {
        if (!openInPlace(old.st_mode)) {
            discard();
            return false;
        }
        return QIODevice::open(mode | Unbuffered);
    }

    const QByteArray stem = tempStem(m_name);
    removeStaleIn(m_folder, stem);
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        const QByteArray temp = stem + randomLetters(kTempLetters) + kTempEnd;
        // Nobody else may read what replaces a private file, not even for
        // a moment.
        const int fd =
            ::openat(m_folder, temp.constData(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, replacing ? 0600 : 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            const int error = errno;
            discard();
            return fail(error);
        }
        // Held until the file is renamed or removed: the mark of a save
        // under way. Another save's clean-up may have taken it first.
        struct stat made;
        const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (taken || ::fstat(fd, &made) != 0 || made.st_nlink == 0) {
            ::unlinkat(m_folder, temp.constData(), 0);
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_temp = temp;
    }
    if (m_fd < 0) {
        discard();
        return fail(EEXIST);
    }
    if (replacing) {
        // The owner first: a change of owner clears the set-ID bits.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
            const int ignored = ::fchown(m_fd, uid_t(-1), old.st_gid);
            (void)ignored;
        }
        ::fchmod(m_fd, old.st_mode & 07777);
    }
    return QIODevice::open(mode | Unbuffered);
}

bool SaveFile::openInPlace(mode_t type)
{
    if (S_ISDIR(type))
        return fail(EISDIR);
    if (!S_ISFIFO(type) && !S_ISCHR(type)) {
        return fail(QCoreApplication::translate(
            "SaveFile", "It is not a file, a pipe or a character device: it is not written over"));
    }
    // Neither made nor truncated: what the path names is written to as it
    // is. Without waiting, so that a pipe no program reads fails at once.
    m_fd = ::openat(m_folder, m_name.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        if (errno == ENXIO && S_ISFIFO(type))
            return fail(QCoreApplication::translate("SaveFile", "No program reads from the pipe"));
        return fail(errno);
    }
    struct stat opened;
    if (::fstat(m_fd, &opened) != 0 || (!S_ISFIFO(opened.st_mode) && !S_ISCHR(opened.st_mode)))
        return fail(EAGAIN); // replaced meanwhile: never written into unchecked
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(errno);
    m_inPlace = true;
    return true;
}

qint64 SaveFile::writeData(const char *data, qint64 size)
{
    if (m_failed || m_fd < 0)
        return -1;
    std::optional<PipeSignalGuard> guard;
    if (m_inPlace)
        guard.emplace();
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE && guard)
                guard->raised();
            fail(errno);
            return -1;
        }
        if (n == 0) {
            fail(ENOSPC);
            return -1;
        }
        done += n;
    }
    return done;
}

qint64 SaveFile::readData(char *, qint64)
{
    return -1;
}

bool SaveFile::commit()
{
    if (!isOpen() || m_fd < 0) {
        if (!m_failed)
            setErrorString(QCoreApplication::translate("SaveFile", "The file is not open"));
        return false;
    }
    QIODevice::close();
    if (m_failed) {
        discard();
        return false;
    }
    if (m_inPlace) {
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0 && errno != EINTR)
            return fail(errno);
        discard();
        return true;
    }
    // Delayed allocation and network file systems report a full disk here.
    int error = 0;
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    // The lock stays on a second descriptor until the rename is done.
    const int held = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (::close(m_fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    m_fd = held;
    if (error == 0 && ::renameat(m_folder, m_temp.constData(), m_folder, m_name.constData()) != 0)
        error = errno;
    if (error != 0) {
        discard();
        return fail(error);
    }
    m_temp.clear();
    discard();
    return true;
}

void SaveFile::cancelWriting()
{
    if (isOpen())
        QIODevice::close();
    discard();
}

void SaveFile::close()
{
    // Closing without commit() keeps nothing.
    cancelWriting();
}

bool saveFile(const QByteArray &path, QByteArrayView data, QString *error)
{
    SaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(data.data(), data.size()) == data.size() && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

namespace {

// Written a block at a time, so that a waiting caller sees the progress.
constexpr qint64 kKeepBlock = 1 << 20;

bool writeOrRemove(const QByteArray &path, const QByteArray &data,
                   const std::function<void()> &progress, QString *error)
{
    if (data.isEmpty()) {
        removeStaleTemporaries(path);
        // Only a file of ours goes, never a pipe or a device in its place.
        struct stat st;
        if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            return true;
        if (::unlink(path.constData()) == 0 || errno == ENOENT)
            return true;
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !QDir().mkpath(QFile::decodeName(path.left(slash)))) {
        *error = QCoreApplication::translate("SaveFile", "Its folder could not be made");
        return false;
    }
    SaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        for (qint64 at = 0; at < data.size(); at += kKeepBlock) {
            const qint64 size = std::min(kKeepBlock, data.size() - at);
            if (file.write(data.constData() + at, size) != size)
                break;
            progress();
        }
        if (file.commit())
            return true;
    }
    *error = file.errorString();
    return false;
}

} // namespace

bool keepFile(const QByteArray &path, QByteArray data, std::chrono::milliseconds patience,
              QString *error)
{
    struct State
    {
        std::mutex mutex;
        std::condition_variable changed;
        qint64 progress = 0;
        bool done = false;
        bool ok = false;
        QString error;
    };
    auto state = std::make_shared<State>();
    // Its own thread, not the I/O pool: the pool's threads may all be held
    // by a share that stopped answering. Left behind, it ends with the
    // program.
    std::thread([state, path, data = std::move(data)] {
        QString error;
        const bool ok = writeOrRemove(
            path, data,
            [&state] {
                std::lock_guard lock(state->mutex);
                ++state->progress;
                state->changed.notify_all();
            },
            &error);
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->ok = ok;
        state->error = error;
        state->changed.notify_all();
    }).detach();

    std::unique_lock lock(state->mutex);
    for (qint64 seen = -1; !state->done;) {
        seen = state->progress;
        if (!state->changed.wait_for(lock, patience,
                                     [&] { return state->done || state->progress != seen; })) {
            if (error)
                *error = QCoreApplication::translate("SaveFile", "The folder stopped answering");
            return false;
        }
    }
    if (!state->ok && error)
        *error = state->error;
    return state->ok;
}

} // namespace tallivo
