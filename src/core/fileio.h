#pragma once

#include "localpath.h"

#include <QByteArray>

#include <functional>
#include <optional>
#include <vector>

#include <sys/stat.h>

namespace tallivo {

// System calls on paths given as bytes, of any length: a path longer than
// the kernel takes in one call is opened folder by folder, each step
// relative to the last.

// An open file descriptor, closed when it goes.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~FileDescriptor() { reset(-1); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    void reset(int fd);

private:
    int m_fd;
};

// open(2) on a path of any length; -1 with errno set on failure.
int openPath(const QByteArray &path, int flags);

// What one statx call tells about a file: its type, size and times.
struct FileStatus
{
    mode_t type = 0; // S_IFREG, S_IFDIR, ...
    qint64 size = 0;
    qint64 allocated = 0;           // bytes the file takes on disk
    std::optional<qint64> modified; // ms since the epoch
    std::optional<qint64> created;
    std::optional<qint64> accessed;
    quint64 device = 0; // the file system's device number

    bool isRegular() const { return S_ISREG(type); }
    bool isDirectory() const { return S_ISDIR(type); }
};

// statx(2) on an open descriptor, or on a path (following links); nullopt
// with errno set on failure.
std::optional<FileStatus> statusOf(int fd);
std::optional<FileStatus> statusOf(const QByteArray &path);

// Whether the file system of the open file `fd`, on `device`, is reached over
// a network (NFS, SMB, FUSE and any other not known to be a local disk or
// memory), where every read is a round trip. The kernel is asked once per
// device; any thread.
bool isRemoteFileSystem(int fd, quint64 device);

// Whether the path names a folder, following links.
bool isFolder(const QByteArray &path);

enum class EntryType : quint8
{
    Unknown,
    File, // a regular file
    Folder,
    Other // link, FIFO, device, socket
};

struct FolderEntry
{
    QByteArray name;
    EntryType type;
};

// The entries of one folder, without "." and "..", in byte order of their
// names. The type comes from the listing where the file system gives it,
// else from one lstat per entry. `error` is 0, or the errno of the failed
// open or read: ENOTDIR when the path is not a folder.
struct FolderListing
{
    std::vector<FolderEntry> entries;
    int error = 0;
};
// With `keptFd`, a descriptor of the folder is left there (or -1), for
// opening what lies below it without going down its whole path again.
FolderListing listFolder(const QByteArray &path, int *keptFd = nullptr);
// The folder `name` of the open folder `dirfd`; a symbolic link there is
// not followed.
FolderListing listFolderAt(int dirfd, const QByteArray &name, int *keptFd = nullptr);

namespace testing {
// Called with the path before every open, statx by path and folder listing,
// on the thread that does it: tests stall or slow the "share" with it.
void setIoHook(std::function<void(const QByteArray &path)> hook);
} // namespace testing

} // namespace tallivo
