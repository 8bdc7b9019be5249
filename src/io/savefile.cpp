#include "savefile.h"

#include "fileio.h"
#include "localpath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
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

} // namespace

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
    m_failed = true;
    setErrorString(systemError(error));
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
}

bool SaveFile::open(OpenMode mode)
{
    if (isOpen() || (mode & ReadOnly) || !(mode & WriteOnly) || (mode & Append)) {
        setErrorString(QCoreApplication::translate("SaveFile", "Unsupported open mode"));
        return false;
    }
    m_failed = false;
    m_name = fileNameOf(m_path);
    if (m_path.isEmpty() || m_path.contains('\0') || m_name.isEmpty() || m_path.endsWith('/'))
        return fail(m_path.isEmpty() ? ENOENT : EISDIR);
    QByteArray folderPath = folderOf(m_path);
    if (folderPath.isEmpty())
        folderPath = ".";
    const int folder = openPath(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return fail(errno);
    m_folder = followLinks(folder, &m_name);
    const int followError = errno;
    ::close(folder);
    if (m_folder < 0)
        return fail(followError);

    // Keep the mode of the file replaced; a new one gets the umask's.
    struct stat old;
    const bool replacing = ::fstatat(m_folder, m_name.constData(), &old, 0) == 0;
    const QByteArray stem = m_name.left(200) + '.';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temp = stem + randomLetters(6);
        m_fd = ::openat(m_folder, temp.constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (m_fd >= 0) {
            m_temp = temp;
            break;
        }
        if (errno != EEXIST) {
            const int error = errno;
            discard();
            return fail(error);
        }
    }
    if (m_fd < 0) {
        discard();
        return fail(EEXIST);
    }
    if (replacing && S_ISREG(old.st_mode))
        ::fchmod(m_fd, old.st_mode & 07777);
    return QIODevice::open(mode | Unbuffered);
}

qint64 SaveFile::writeData(const char *data, qint64 size)
{
    if (m_failed || m_fd < 0)
        return -1;
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
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
    // Delayed allocation and network file systems report a full disk here.
    int error = 0;
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    if (::close(m_fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    m_fd = -1;
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
