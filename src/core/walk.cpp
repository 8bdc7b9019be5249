#include "walk.h"

#include "iopool.h"
#include "localpath.h"

#include <QSet>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace tallivo {

namespace {

bool isHidden(const QByteArray &name)
{
    return name.startsWith('.');
}

// A folder's listing. A path given at the top that cannot be opened as a
// folder but is not one either reads as ENOTDIR, whatever the reason.
FolderListing readFolder(const QByteArray &path, bool topLevel)
{
    FolderListing listing = listFolder(path);
    if (topLevel && listing.error != 0 && listing.error != ENOTDIR && !isFolder(path))
        listing.error = ENOTDIR;
    return listing;
}

// A copy that shares no bytes with the original. Keys and paths cross
// threads here: the folder map's copies are touched under its lock only,
// and a reading thread's copies by that thread only, so no buffer's count
// is ever raised and dropped by threads that do not otherwise meet.
QByteArray unshared(const QByteArray &bytes)
{
    return QByteArray(bytes.constData(), bytes.size());
}

QByteArray rootKey(qsizetype index)
{
    QByteArray key(4, Qt::Uninitialized);
    qToBigEndian(quint32(index), key.data());
    return key;
}

} // namespace

// Reads folder listings ahead of the walk. Keys order folders as a depth-first
// walk meets them (a folder's key is its parent's, a NUL and its name; NUL
// sorts before every byte of a name), so the smallest waiting key is always
// the next folder the walk will need.
class FolderReader : public std::enable_shared_from_this<FolderReader>
{
public:
    FolderReader(bool subfolders)
        : m_subfolders(subfolders)
    {
    }

    void request(const QByteArray &key, const QByteArray &path)
    {
        std::lock_guard lock(m_mutex);
        const auto [it, added] = m_slots.emplace(unshared(key), Slot(unshared(path)));
        if (added)
            m_queued.insert(it->first);
        pump();
    }

    std::optional<FolderListing> take(const QByteArray &key, const QByteArray &path, int waitMs)
    {
        std::unique_lock lock(m_mutex);
        auto it = m_slots.find(key);
        if (it == m_slots.end())
            it = m_slots.emplace(unshared(key), Slot(unshared(path))).first;
        if (it->second.state == State::Queued) {
            m_queued.erase(key);
            start(it); // needed now, whatever the limits
        }
        const auto done = [&] { return it->second.state == State::Done; };
        if (waitMs < 0)
            m_done.wait(lock, done);
        else if (!m_done.wait_for(lock, std::chrono::milliseconds(waitMs), done))
            return std::nullopt;
        FolderListing listing = std::move(it->second.listing);
        m_slots.erase(it);
        --m_ready;
        pump();
        return listing;
    }

    void cancel()
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_queued.clear();
    }

private:
    enum class State
    {
        Queued,
        Reading,
        Done
    };
    struct Slot
    {
        explicit Slot(QByteArray path)
            : path(std::move(path))
        {
        }
        QByteArray path;
        State state = State::Queued;
        FolderListing listing;
    };
    using Slots = std::map<QByteArray, Slot>;
    static constexpr int kInFlight = 16;
    static constexpr int kReadyAhead = 512;

    void pump()
    {
        while (!m_cancelled && !m_queued.empty() && m_inFlight < kInFlight &&
               m_ready + m_inFlight < kReadyAhead) {
            const auto first = m_queued.begin();
            const auto it = m_slots.find(*first);
            m_queued.erase(first);
            start(it);
        }
    }

    void start(Slots::iterator it)
    {
        it->second.state = State::Reading;
        ++m_inFlight;
        IoPool::instance().submit(IoPool::Priority::High,
                                  [self = shared_from_this(), key = unshared(it->first),
                                   path = unshared(it->second.path)] { self->read(key, path); });
    }

    void read(const QByteArray &key, const QByteArray &path)
    {
        bool cancelled;
        {
            std::lock_guard lock(m_mutex);
            cancelled = m_cancelled;
        }
        FolderListing listing;
        if (cancelled)
            listing.error = ECANCELED;
        else
            listing = readFolder(path, key.size() == 4);
        std::lock_guard lock(m_mutex);
        --m_inFlight;
        ++m_ready;
        if (m_subfolders && listing.error == 0 && !m_cancelled) {
            for (const FolderEntry &entry : listing.entries) {
                if (entry.type != EntryType::Folder || isHidden(entry.name))
                    continue;
                const QByteArray childKey = key + '\0' + entry.name;
                if (m_slots.emplace(childKey, Slot(childPath(path, entry.name))).second)
                    m_queued.insert(childKey);
            }
        }
        const auto it = m_slots.find(key);
        if (it != m_slots.end()) {
            it->second.listing = std::move(listing);
            it->second.state = State::Done;
        }
        pump();
        m_done.notify_all();
    }

    const bool m_subfolders;
    std::mutex m_mutex;
    std::condition_variable m_done;
    Slots m_slots;
    std::set<QByteArray> m_queued;
    int m_inFlight = 0;
    int m_ready = 0;
    bool m_cancelled = false;
};

Walk::Walk(const Arguments &arguments, const std::atomic_bool &keepGoing, bool readAhead)
    : m_urls(arguments.urls)
    , m_isFolders(arguments.isFolders)
    , m_subfolders(arguments.includeSubfolders)
    , m_keepGoing(keepGoing)
{
    if (readAhead && m_isFolders) {
        m_reader = std::make_shared<FolderReader>(m_subfolders);
        for (qsizetype i = 0; i < m_urls.size(); ++i) {
            if (m_urls.at(i).isLocalFile())
                m_reader->request(rootKey(i), localPath(m_urls.at(i)));
        }
    }
}

Walk::~Walk()
{
    if (m_reader)
        m_reader->cancel();
}

bool Walk::keepGoing()
{
    if (!m_stopped && !m_keepGoing.load(std::memory_order_acquire)) {
        m_stopped = true;
        m_stack.clear();
        m_pending.reset();
        if (m_reader)
            m_reader->cancel();
    }
    return !m_stopped;
}

QByteArray Walk::currentFolder() const
{
    if (m_pending)
        return m_pending->path;
    return m_stack.empty() ? QByteArray() : m_stack.back().path;
}

Walk::Step Walk::next(Found *found, int waitMs)
{
    for (;;) {
        if (!keepGoing())
            return Step::End;
        if (m_pending) {
            std::optional<FolderListing> listing;
            if (m_reader)
                listing = m_reader->take(m_pending->key, m_pending->path, waitMs);
            else
                listing = readFolder(m_pending->path, m_pending->topLevel);
            if (!listing)
                return Step::Pending;
            Pending folder = std::move(*m_pending);
            m_pending.reset();
            if (listing->error == 0) {
                ++m_foldersRead;
                Level level{makeFolder(folder.path), folder.path, folder.key, {}, 0};
                level.entries.reserve(listing->entries.size());
                for (FolderEntry &entry : listing->entries) {
                    if (!isHidden(entry.name))
                        level.entries.push_back(std::move(entry));
                }
                m_stack.push_back(std::move(level));
                if (folder.topLevel && m_onTopFolder)
                    m_onTopFolder(folder.url);
            } else if (listing->error == ENOTDIR) {
                if (folder.topLevel && isCountableName(folder.path)) {
                    *found = foundAt(folder.path);
                    return Step::Found;
                }
            } else if (listing->error != ECANCELED && m_onUnreadable) {
                m_onUnreadable(folder.path, listing->error);
            }
            continue;
        }
        if (!m_stack.empty()) {
            Level &level = m_stack.back();
            if (level.next >= level.entries.size()) {
                m_stack.pop_back();
                continue;
            }
            const FolderEntry &entry = level.entries[level.next++];
            if (entry.type == EntryType::Folder) {
                if (m_subfolders)
                    m_pending = Pending{childPath(level.path, entry.name),
                                        level.key + '\0' + entry.name,
                                        false,
                                        {}};
                continue;
            }
            if (isCountableName(entry.name)) {
                *found = {level.folder, entry.name, entry.type};
                return Step::Found;
            }
            continue;
        }
        if (m_nextUrl >= m_urls.size())
            return Step::End;
        const qsizetype index = m_nextUrl++;
        const QUrl &url = m_urls.at(index);
        if (!m_isFolders) {
            // Only local files can be counted.
            if (!url.isLocalFile())
                continue;
            *found = foundAt(localPath(url));
            return Step::Found;
        }
        if (url.isLocalFile())
            m_pending = Pending{localPath(url), rootKey(index), true, url};
    }
}

QByteArray Walk::Found::path() const
{
    return childPath(folder ? folder->path : QByteArray(), name);
}

QUrl Walk::Found::url() const
{
    return urlFromLocalPath(path());
}

Walk::Found Walk::foundAt(const QByteArray &path)
{
    QByteArray folder = folderOf(path);
    if (!m_lastTopFolder || m_lastTopFolder->path != folder)
        m_lastTopFolder = makeFolder(std::move(folder));
    return {m_lastTopFolder, fileNameOf(path), EntryType::Unknown};
}

std::optional<Walk::Found> Walk::next()
{
    Found found;
    Step step;
    while ((step = next(&found, 50)) == Step::Pending) {
    }
    if (step == Step::End)
        return std::nullopt;
    return found;
}

SubfolderFiles countSubfolderFiles(const QList<QUrl> &folders, const std::atomic_bool &keepGoing,
                                   qint64 maxFiles, qint64 maxFolders)
{
    SubfolderFiles result;
    QSet<QByteArray> tops;
    for (const QUrl &url : folders)
        tops.insert(localPath(url));
    Walk walk(Arguments{folders, true, true}, keepGoing);
    Walk::Found found;
    for (;;) {
        if (walk.foldersRead() > maxFolders) {
            result.complete = false;
            break;
        }
        const Walk::Step step = walk.next(&found, 20);
        if (step == Walk::Step::End)
            break;
        // The folders' own files, and files given as such, are not what is
        // asked about.
        const QByteArray folder = walk.currentFolder();
        if (step != Walk::Step::Found || folder.isEmpty() || tops.contains(folder))
            continue;
        if (++result.files >= maxFiles) {
            result.complete = false;
            break;
        }
    }
    if (walk.wasStopped())
        result.complete = false;
    return result;
}

} // namespace tallivo
