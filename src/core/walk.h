#pragma once

#include "fileio.h"
#include "pathset.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tallivo {

// The input of one collection run.
struct Arguments
{
    QList<QUrl> urls;
    bool isFolders = false;
    bool includeSubfolders = false;
};

class FolderReader;
class HeldFolders;

// A folder to read: its name in an open parent, or its whole path.
struct FolderPlace
{
    std::shared_ptr<const FileDescriptor> parent;
    QByteArray name; // with a parent
    QByteArray path; // without one
};

// A folder's place in the walk's order: the `index`th entry of the folder
// `depth` levels down; the folders given at the top are at depth 0. A
// deeper folder is needed sooner.
struct FolderKey
{
    quint32 depth = 0;
    quint64 index = 0;

    friend bool operator<(const FolderKey &a, const FolderKey &b)
    {
        return a.depth != b.depth ? a.depth > b.depth : a.index < b.index;
    }
};

// A folder's listing, and the folder itself kept open when it has subfolders.
struct FolderRead
{
    FolderListing listing;
    std::shared_ptr<const FileDescriptor> descriptor;
};

// Yields, in order, the files a run is to add: every given local URL for a file
// walk; for a folder walk the top-level files with a countable name
// (isCountableName) and the countable files found below the given folders, depth first, each
// folder's entries in byte order of their names. Hidden entries (names starting with
// ".") are neither returned nor entered, symbolic links are never entered,
// unreadable folders are passed over and reported.
//
// Folder listings are read ahead of the walk, many at once, on the I/O
// pool: the subfolders left at each level of the walk, the deepest level's
// first. next() waits for the one it needs at most `waitMs` at a time, so
// the caller stays responsive while a share is slow. The flag is read
// before every entry; once it is false the walk ends.
//
// Each folder is opened relative to its parent, and the walk holds one path
// however deep it is: its time and memory grow with the number of folders,
// not with the square of their depth.
class Walk
{
public:
    // A file: its name in a folder shared by every file found there.
    struct Found
    {
        Folder folder;
        QByteArray name;
        EntryType type = EntryType::Unknown; // as the folder listing gave it

        QByteArray path() const;
        QUrl url() const;
    };
    enum class Step
    {
        Found,
        Pending, // still waiting for a folder listing
        End
    };

    // With `readAhead` false every folder is read on the calling thread.
    Walk(const Arguments &arguments, const std::atomic_bool &keepGoing, bool readAhead = true);
    ~Walk();

    Step next(Found *found, int waitMs);
    // Waits as long as it takes.
    std::optional<Found> next();

    bool wasStopped() const { return m_stopped; }
    // How many folders have been read so far.
    qint64 foldersRead() const { return m_foldersRead; }
    // Whether a folder read so far holds a subfolder, entered or not, or a
    // folder could not be read: only then may a walk with subfolders find
    // more than this one.
    bool mayHaveSubfolders() const { return m_sawSubfolder || m_sawUnreadable; }
    // The folder whose entries are being walked, as bytes.
    QByteArray currentFolder() const;
    // Called for each folder given at the top once its listing is read.
    void setTopFolderHandler(std::function<void(const QUrl &)> handler)
    {
        m_onTopFolder = std::move(handler);
    }
    // Called for each folder that could not be read, with its errno.
    void setUnreadableHandler(std::function<void(const QByteArray &, int)> handler)
    {
        m_onUnreadable = std::move(handler);
    }

private:
    struct Level
    {
        Folder folder; // made once a file is found here
        // Open while subfolders are left to read, so that each is opened
        // relative to it rather than down the whole path again.
        std::shared_ptr<const FileDescriptor> descriptor;
        qsizetype pathSize = 0; // the folder's path is the first bytes of m_path
        std::vector<FolderEntry> entries;
        size_t next = 0;
        size_t foldersLeft = 0;
    };

    // A folder the walk is to enter next, waiting for its listing.
    struct Pending
    {
        FolderPlace place;
        FolderKey key;
        bool topLevel = false;
        QUrl url;
    };

    bool keepGoing();
    // Where the subfolder `name` of the innermost folder is read from.
    FolderPlace placeBelow(const Level &level, const QByteArray &name) const;
    QByteArray pendingPath() const;
    void enter(Pending folder, FolderRead read);
    // A file given by its path, in the folder record of the file before it
    // where that is the same folder.
    Found foundAt(const QByteArray &path);

    QList<QUrl> m_urls;
    bool m_isFolders;
    bool m_subfolders;
    const std::atomic_bool &m_keepGoing;
    std::shared_ptr<HeldFolders> m_held;
    std::shared_ptr<FolderReader> m_reader;
    qsizetype m_nextUrl = 0;
    std::vector<Level> m_stack;
    // The path of the innermost folder: levels hold only their length, so
    // a deep walk holds one path, not one per level.
    QByteArray m_path;
    std::optional<Pending> m_pending;
    bool m_stopped = false;
    qint64 m_foldersRead = 0;
    bool m_sawSubfolder = false;
    bool m_sawUnreadable = false;
    std::function<void(const QByteArray &, int)> m_onUnreadable;
    std::function<void(const QUrl &)> m_onTopFolder;
    Folder m_lastTopFolder;
};

// What the subfolders of folders walked without them hold.
struct SubfolderFiles
{
    qint64 files = 0;     // countable files below the folders' subfolders
    bool complete = true; // false: the look stopped early; there are at least `files`
};

// Counts the countable files in the subfolders of `folders` (not in the
// folders themselves), as a walk with subfolders would find them. A tree of a
// million files is not walked in full: the look stops once `maxFiles` files
// are found or more than `maxFolders` folders read, and once the flag is
// false. The folders are read on the I/O pool; the caller looks at the
// flag every few milliseconds meanwhile.
SubfolderFiles countSubfolderFiles(const QList<QUrl> &folders, const std::atomic_bool &keepGoing,
                                   qint64 maxFiles = 10000, qint64 maxFolders = 5000);

} // namespace tallivo
