#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <chrono>
#include <sys/types.h>

namespace tallivo {

// A file written whole or not at all. The bytes go to a new file beside the
// destination, "NAME.tallivo-XXXXXX.tmp" (NAME cut to 200 bytes, six
// letters); commit() puts them on disk and only then renames the new file
// over the destination, so a full disk, a size limit or a failed write
// leaves the old file exactly as it was. The new file takes the mode, and
// where the system lets us the owner, of the file it replaces.
//
// A save holds a lock on its new file while it lives. Such files of the same
// destination that nobody holds are what a killed save left, and the next
// save of the destination removes them, if they are ours.
//
// A destination that exists and is not a regular file is never replaced: a
// pipe (FIFO) or a character device is written in place, as a stream (a pipe
// that no program reads fails at once), a folder, a block device or a socket
// is refused with the reason. Written in place, a failure midway leaves what
// was already written.
//
// QSaveFile does the same for a QString name, which cannot hold a file name
// that is not UTF-8; this takes the path as bytes, of any length. A symbolic
// link at the destination is followed: the file it names is replaced. Every
// failure keeps the system's reason, for errorString().
class SaveFile final : public QIODevice
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SaveFile)
public:
    explicit SaveFile(QByteArray path, QObject *parent = nullptr);
    // Removes the new file unless it was committed.
    ~SaveFile() override;

    // WriteOnly only.
    bool open(OpenMode mode) override;
    // Fails once any write has failed; the destination is then untouched.
    bool commit();
    // Drops what was written; the destination stays as it was.
    void cancelWriting();
    void close() override;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    bool fail(int error);
    bool fail(const QString &reason);
    bool openInPlace(mode_t type);
    void discard();

    QByteArray m_path;
    QByteArray m_name; // what is renamed over, in m_folder
    QByteArray m_temp; // the new file, in m_folder
    int m_folder = -1;
    int m_fd = -1;
    bool m_failed = false;
    bool m_inPlace = false; // a pipe or device, written as it is
};

// Removes what killed saves of `path` left beside it (see SaveFile); saving
// does this by itself.
void removeStaleTemporaries(const QByteArray &path);

// Writes `data` to `path` through SaveFile. On failure returns false with the
// reason in `error`.
bool saveFile(const QByteArray &path, QByteArrayView data, QString *error = nullptr);

// Replaces the file at `path` with `data` as saveFile() does, making its
// folder when missing; empty `data` removes the file instead. The work runs
// on a thread of its own while the caller waits for as long as it makes
// progress: a folder on a share that stops answering holds the caller up
// for `patience` at most, and the old file then stays as it was.
bool keepFile(const QByteArray &path, QByteArray data, std::chrono::milliseconds patience,
              QString *error = nullptr);

} // namespace tallivo
