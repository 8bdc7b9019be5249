#include "walk.h"

#include "iopool.h"
#include "localpath.h"

#include <QSet>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

namespace tallivo {

namespace {

bool isHidden(const QByteArray &name)
{
    return name.startsWith('.');
}

// A copy that shares no bytes with the original. Names and paths cross
// threads here: the reader's copies are touched under its lock or by the
// thread reading them only, so no buffer's count is ever raised and dropped
// by threads that do not otherwise meet.
QByteArray unshared(const QByteArray &bytes)
{
    return QByteArray(bytes.constData(), bytes.size());
}

FolderPlace unshared(const FolderPlace &place)
{
    return {place.parent, unshared(place.name), unshared(place.path)};
}

} // namespace

// Folders kept open for their subfolders. A deep tree whose every level
// has a second branch would otherwise hold a descriptor per level; past the
// bound, folders are opened down their whole path instead.
class HeldFolders : public std::enable_shared_from_this<HeldFolders>
{
public:
    static constexpr int kMax = 128;

    bool reserve()
    {
        if (m_held.fetch_add(1, std::memory_order_relaxed) < kMax)
            return true;
        release();
        return false;
    }
    void release() { m_held.fetch_sub(1, std::memory_order_relaxed); }

    // Takes a reservation and the descriptor.
    std::shared_ptr<const FileDescriptor> hold(int fd)
    {
        return std::shared_ptr<const FileDescriptor>(
            new FileDescriptor(fd), [self = shared_from_this()](FileDescriptor *d) {
                delete d;
                self->release();
            });
    }

private:
    std::atomic_int m_held{0};
};

namespace {

// A folder's listing. A path given at the top that cannot be opened as a
// folder but is not one either reads as ENOTDIR, whatever the reason.
FolderRead readFolder(const FolderPlace &place, bool topLevel, bool subfolders, HeldFolders &held)
{
    FolderRead read;
    const bool keep = subfolders && held.reserve();
    int kept = -1;
    int *keptFd = keep ? &kept : nullptr;
    read.listing = place.parent ? listFolderAt(place.parent->get(), place.name, keptFd)
                                : listFolder(place.path, keptFd);
    if (topLevel && read.listing.error != 0 && read.listing.error != ENOTDIR &&
        !isFolder(place.path))
        read.listing.error = ENOTDIR;
    const bool hasFolders =
        std::any_of(read.listing.entries.begin(), read.listing.entries.end(),
                    [](const FolderEntry &e) { return e.type == EntryType::Folder; });
    if (kept >= 0 && hasFolders) {
        read.descriptor = held.hold(kept);
    } else {
        if (kept >= 0)
            ::close(kept);
        if (keep)
            held.release();
    }
    return read;
}

} // namespace

// Reads folder listings ahead of the walk: the folders left to enter at
// every level of it, the deepest level's first, so that the smallest
// waiting key is always the next folder the walk will need.
class FolderReader : public std::enable_shared_from_this<FolderReader>
{
public:
    FolderReader(bool subfolders, std::shared_ptr<HeldFolders> held)
        : m_subfolders(subfolders)
        , m_held(std::move(held))
    {
    }

    void request(std::vector<std::pair<FolderKey, FolderPlace>> folders)
    {
        std::lock_guard lock(m_mutex);
        for (auto &[key, place] : folders) {
            if (m_slots.emplace(key, Slot(unshared(place))).second)
                m_queued.insert(key);
        }
        pump();
    }

    std::optional<FolderRead> take(const FolderKey &key, const FolderPlace &place, int waitMs)
    {
        std::unique_lock lock(m_mutex);
        auto it = m_slots.find(key);
        if (it == m_slots.end())
            it = m_slots.emplace(key, Slot(unshared(place))).first;
        if (it->second.state == State::Queued) {
            m_queued.erase(key);
            start(it); // needed now, whatever the limits
        }
        const auto done = [&] { return it->second.state == State::Done; };
        if (waitMs < 0)
            m_done.wait(lock, done);
        else if (!m_done.wait_for(lock, std::chrono::milliseconds(waitMs), done))
            return std::nullopt;
        FolderRead read = std::move(it->second.read);
        m_slots.erase(it);
        --m_ready;
        pump();
        return read;
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
        explicit Slot(FolderPlace place)
            : place(std::move(place))
        {
        }
        FolderPlace place;
        State state = State::Queued;
        FolderRead read;
    };
    using Slots = std::map<FolderKey, Slot>;
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
        // The reading thread takes the place over: the slot needs it no more.
        IoPool::instance().submit(
            IoPool::Priority::High,
            [self = shared_from_this(), key = it->first, place = std::move(it->second.place)] {
                self->read(key, place);
            });
        it->second.place = {};
    }

    void read(const FolderKey &key, const FolderPlace &place)
    {
        bool cancelled;
        {
            std::lock_guard lock(m_mutex);
            cancelled = m_cancelled;
        }
        FolderRead result;
        if (cancelled)
            result.listing.error = ECANCELED;
        else
            result = readFolder(place, key.depth == 0, m_subfolders, *m_held);
        std::lock_guard lock(m_mutex);
        --m_inFlight;
        ++m_ready;
        const auto it = m_slots.find(key);
        if (it != m_slots.end()) {
            it->second.read = std::move(result);
            it->second.state = State::Done;
        }
        pump();
        m_done.notify_all();
    }

    const bool m_subfolders;
    const std::shared_ptr<HeldFolders> m_held;
    std::mutex m_mutex;
    std::condition_variable m_done;
    Slots m_slots;
    std::set<FolderKey> m_queued;
    int m_inFlight = 0;
    int m_ready = 0;
    bool m_cancelled = false;
};

Walk::Walk(const Arguments &arguments, const std::atomic_bool &keepGoing, bool readAhead)
    : m_urls(arguments.urls)
    , m_isFolders(arguments.isFolders)
    , m_subfolders(arguments.includeSubfolders)
    , m_keepGoing(keepGoing)
    , m_held(std::make_shared<HeldFolders>())
{
    if (readAhead && m_isFolders) {
        m_reader = std::make_shared<FolderReader>(m_subfolders, m_held);
        std::vector<std::pair<FolderKey, FolderPlace>> tops;
        for (qsizetype i = 0; i < m_urls.size(); ++i) {
            if (m_urls.at(i).isLocalFile())
                tops.push_back(
                    {FolderKey{0, quint64(i)}, FolderPlace{{}, {}, localPath(m_urls.at(i))}});
        }
        m_reader->request(std::move(tops));
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
        m_path.clear();
        m_pending.reset();
        if (m_reader)
            m_reader->cancel();
    }
    return !m_stopped;
}

QByteArray Walk::pendingPath() const
{
    return m_pending->topLevel ? m_pending->place.path : childPath(m_path, m_pending->place.name);
}

QByteArray Walk::currentFolder() const
{
    if (m_pending)
        return pendingPath();
    return m_path;
}

FolderPlace Walk::placeBelow(const Level &level, const QByteArray &name) const
{
    if (level.descriptor)
        return {level.descriptor, name, {}};
    return {{}, name, childPath(m_path, name)};
}

void Walk::enter(Pending folder, FolderRead read)
{
    ++m_foldersRead;
    if (folder.topLevel) {
        m_path = folder.place.path;
    } else {
        // In place: a copy per level would cost the square of the depth.
        if (!m_path.endsWith('/'))
            m_path += '/';
        m_path += folder.place.name;
    }
    Level level;
    level.descriptor = std::move(read.descriptor);
    level.pathSize = m_path.size();
    level.entries.reserve(read.listing.entries.size());
    for (FolderEntry &entry : read.listing.entries) {
        if (isHidden(entry.name))
            continue;
        if (entry.type == EntryType::Folder) {
            m_sawSubfolder = true;
            if (m_subfolders)
                ++level.foldersLeft;
        }
        level.entries.push_back(std::move(entry));
    }
    if (level.foldersLeft == 0)
        level.descriptor.reset();
    if (m_reader && level.foldersLeft > 0) {
        const auto depth = quint32(m_stack.size() + 1);
        std::vector<std::pair<FolderKey, FolderPlace>> below;
        below.reserve(level.foldersLeft);
        for (size_t i = 0; i < level.entries.size(); ++i) {
            if (level.entries[i].type == EntryType::Folder)
                below.push_back({FolderKey{depth, i}, placeBelow(level, level.entries[i].name)});
        }
        m_reader->request(std::move(below));
    }
    m_stack.push_back(std::move(level));
    if (folder.topLevel && m_onTopFolder)
        m_onTopFolder(folder.url);
}

Walk::Step Walk::next(Found *found, int waitMs)
{
    for (;;) {
        if (!keepGoing())
            return Step::End;
        if (m_pending) {
            std::optional<FolderRead> read;
            if (m_reader)
                read = m_reader->take(m_pending->key, m_pending->place, waitMs);
            else
                read = readFolder(m_pending->place, m_pending->topLevel, m_subfolders, *m_held);
            if (!read)
                return Step::Pending;
            const int error = read->listing.error;
            if (error == 0) {
                Pending folder = std::move(*m_pending);
                m_pending.reset();
                enter(std::move(folder), std::move(*read));
            } else if (error == ENOTDIR) {
                const bool offered = m_pending->topLevel && isCountableName(m_pending->place.path);
                const QByteArray path = m_pending->place.path;
                m_pending.reset();
                if (offered) {
                    *found = foundAt(path);
                    return Step::Found;
                }
            } else {
                m_sawUnreadable = true;
                if (error != ECANCELED && m_onUnreadable)
                    m_onUnreadable(pendingPath(), error);
                m_pending.reset();
            }
            continue;
        }
        if (!m_stack.empty()) {
            Level &level = m_stack.back();
            if (level.next >= level.entries.size()) {
                m_stack.pop_back();
                m_path.truncate(m_stack.empty() ? 0 : m_stack.back().pathSize);
                continue;
            }
            const size_t index = level.next++;
            const FolderEntry &entry = level.entries[index];
            if (entry.type == EntryType::Folder) {
                if (m_subfolders) {
                    m_pending = Pending{placeBelow(level, entry.name),
                                        FolderKey{quint32(m_stack.size()), index},
                                        false,
                                        {}};
                    if (--level.foldersLeft == 0)
                        level.descriptor.reset();
                }
                continue;
            }
            if (isCountableName(entry.name)) {
                if (!level.folder)
                    level.folder = makeFolder(unshared(m_path));
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
            m_pending = Pending{FolderPlace{{}, {}, localPath(url)}, FolderKey{0, quint64(index)},
                                true, url};
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
