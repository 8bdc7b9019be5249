#include "fileio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace tallivo {

namespace {

std::atomic<std::function<void(const QByteArray &)> *> ioHook{nullptr};

void callIoHook(const QByteArray &path)
{
    if (auto *hook = ioHook.load(std::memory_order_acquire))
        (*hook)(path);
}

// Longest piece handed to the kernel in one call, well inside PATH_MAX.
constexpr qsizetype kPiece = PATH_MAX / 2;

// Calls `last(dirfd, name)` for the path's last piece, opening the folders
// before it piece by piece when the whole is too long for one call.
template <typename Call> auto atPath(const QByteArray &path, Call last) -> decltype(last(0, ""))
{
    if (path.size() < kPiece)
        return last(AT_FDCWD, path.constData());
    FileDescriptor dir;
    qsizetype start = 0;
    int base = AT_FDCWD;
    for (;;) {
        const qsizetype left = path.size() - start;
        if (left < kPiece)
            return last(base, path.constData() + start);
        // Cut at the last "/" inside the piece.
        const qsizetype cut = path.lastIndexOf('/', start + kPiece - 1);
        if (cut <= start) {
            errno = ENAMETOOLONG;
            return last(-1, nullptr);
        }
        const QByteArray piece = path.mid(start, cut - start + (cut == 0 ? 1 : 0));
        const int next = ::openat(base, piece.isEmpty() ? "/" : piece.constData(),
                                  O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0)
            return last(-1, nullptr);
        dir.reset(next);
        base = next;
        start = cut + 1;
    }
}

std::optional<qint64> msecs(const struct statx &st, unsigned mask, const statx_timestamp &t)
{
    if (!(st.stx_mask & mask))
        return std::nullopt;
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::optional<FileStatus> statusAt(int dirfd, const char *name, int flags)
{
    if (!name)
        return std::nullopt;
    struct statx st;
    const unsigned want =
        STATX_TYPE | STATX_SIZE | STATX_BLOCKS | STATX_MTIME | STATX_ATIME | STATX_BTIME;
    if (::statx(dirfd, name, flags, want, &st) != 0)
        return std::nullopt;
    FileStatus status;
    status.type = st.stx_mode & S_IFMT;
    status.size = qint64(st.stx_size);
    status.allocated = (st.stx_mask & STATX_BLOCKS) ? qint64(st.stx_blocks) * 512 : 0;
    status.modified = msecs(st, STATX_MTIME, st.stx_mtime);
    status.created = msecs(st, STATX_BTIME, st.stx_btime);
    status.accessed = msecs(st, STATX_ATIME, st.stx_atime);
    status.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    return status;
}

bool isLocalFileSystemType(unsigned long type)
{
    switch (type) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0x858458F6: // ramfs
    case 0x794C7630: // overlayfs
    case 0xF2F52010: // f2fs
    case 0x2FC12FC1: // zfs
    case 0x4D44:     // vfat
    case 0x2011BAB0: // exfat
    case 0x7366746E: // ntfs3
    case 0x5346544E: // ntfs
    case 0x3153464A: // jfs
    case 0x52654973: // reiserfs
    case 0x9660:     // iso9660
    case 0x15013346: // udf
    case 0xCA451A4E: // bcachefs
    case 0x73717368: // squashfs
    case 0xE0F5E1E2: // erofs
        return true;
    default:
        return false;
    }
}

EntryType typeOf(mode_t mode)
{
    if (S_ISREG(mode))
        return EntryType::File;
    if (S_ISDIR(mode))
        return EntryType::Folder;
    return EntryType::Other;
}

} // namespace

bool isRemoteFileSystem(int fd, quint64 device)
{
    // Devices are few: once seen, the answer is kept for the process. A
    // device number reused by another mount can only cost speed.
    static std::mutex mutex;
    static std::unordered_map<quint64, bool> remote;
    {
        const std::lock_guard lock(mutex);
        if (const auto it = remote.find(device); it != remote.end())
            return it->second;
    }
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return true; // not kept: the next file asks again
    const bool answer = !isLocalFileSystemType((unsigned long)(fs.f_type));
    const std::lock_guard lock(mutex);
    if (remote.size() >= 4096)
        remote.clear();
    remote.emplace(device, answer);
    return answer;
}

namespace testing {
void setIoHook(std::function<void(const QByteArray &path)> hook)
{
    // Hooks are few and set by tests; old ones are kept, as a thread may
    // still be inside one.
    using Hook = std::function<void(const QByteArray &)>;
    static std::mutex mutex;
    static auto *kept = new std::vector<std::unique_ptr<Hook>>;
    std::lock_guard lock(mutex);
    Hook *current = nullptr;
    if (hook) {
        kept->push_back(std::make_unique<Hook>(std::move(hook)));
        current = kept->back().get();
    }
    ioHook.store(current, std::memory_order_release);
}
} // namespace testing

void FileDescriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int openPath(const QByteArray &path, int flags)
{
    callIoHook(path);
    if (path.isEmpty() || path.contains('\0')) {
        errno = ENOENT;
        return -1;
    }
    return atPath(path, [flags](int dirfd, const char *name) {
        return name ? ::openat(dirfd, name, flags) : -1;
    });
}

std::optional<FileStatus> statusOf(int fd)
{
    return statusAt(fd, "", AT_EMPTY_PATH);
}

std::optional<FileStatus> statusOf(const QByteArray &path)
{
    callIoHook(path);
    if (path.isEmpty() || path.contains('\0')) {
        errno = ENOENT;
        return std::nullopt;
    }
    return atPath(path, [](int dirfd, const char *name) { return statusAt(dirfd, name, 0); });
}

bool isFolder(const QByteArray &path)
{
    const auto status = statusOf(path);
    return status && status->isDirectory();
}

namespace {

FolderListing listOpenFolder(int fd, int *keptFd)
{
    FolderListing listing;
    if (keptFd)
        *keptFd = -1;
    if (fd < 0) {
        listing.error = errno;
        return listing;
    }
    if (keptFd)
        *keptFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        listing.error = errno;
        ::close(fd);
        if (keptFd && *keptFd >= 0)
            ::close(std::exchange(*keptFd, -1));
        return listing;
    }
    for (;;) {
        errno = 0;
        const dirent *e = ::readdir(dir);
        if (!e) {
            listing.error = errno;
            break;
        }
        if (e->d_name[0] == '.' &&
            (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        EntryType type = EntryType::Unknown;
        switch (e->d_type) {
        case DT_REG:
            type = EntryType::File;
            break;
        case DT_DIR:
            type = EntryType::Folder;
            break;
        case DT_UNKNOWN: {
            struct stat st;
            if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = typeOf(st.st_mode);
            break;
        }
        default:
            type = EntryType::Other;
        }
        listing.entries.push_back({QByteArray(e->d_name), type});
    }
    ::closedir(dir);
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const FolderEntry &a, const FolderEntry &b) { return a.name < b.name; });
    return listing;
}

} // namespace

FolderListing listFolder(const QByteArray &path, int *keptFd)
{
    return listOpenFolder(openPath(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC), keptFd);
}

FolderListing listFolderAt(int dirfd, const QByteArray &name, int *keptFd)
{
    if (ioHook.load(std::memory_order_acquire)) {
        // Tests only: the hook is told the whole path, as the kernel sees it.
        const QByteArray link = "/proc/self/fd/" + QByteArray::number(dirfd);
        QByteArray folder(PATH_MAX, Qt::Uninitialized);
        const ssize_t size = ::readlink(link.constData(), folder.data(), size_t(folder.size()));
        folder.resize(size > 0 ? size : 0);
        callIoHook(childPath(folder, name));
    }
    if (name.isEmpty() || name.contains('\0') || name.contains('/')) {
        errno = ENOENT;
        return listOpenFolder(-1, keptFd);
    }
    return listOpenFolder(::openat(dirfd, name.constData(),
                                   O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC),
                          keptFd);
}

} // namespace tallivo
