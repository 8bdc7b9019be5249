#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class QSettings;

namespace tallivo {

// One remembered folder.
struct RecentFolder
{
    QString path;
    QDateTime lastUsed;

    // {"itemPath": text, "lastUsedDate": date}, the stored form of one entry.
    QVariantMap toVariantMap() const;
    // A missing entry leaves its field empty.
    static RecentFolder fromVariantMap(const QVariantMap &map);
};

// The folders the user has added, most recently used first. Entries go only
// when the user takes them off; a path is listed at most once.
class RecentFolders
{
public:
    using Clock = std::function<QDateTime()>;

    RecentFolders();

    // Appends the paths not yet listed, all stamped with one moment newer than
    // any listed date, then re-sorts. A listed path keeps its date and place.
    // Empty paths are ignored; trailing separators are dropped.
    void add(const QStringList &folders);
    // Newest first.
    const QList<RecentFolder> &folders() const { return m_folders; }
    bool isEmpty() const { return m_folders.isEmpty(); }

    // Index of the entry for path, the last one if several; -1 when none.
    int indexOf(const QString &path) const;
    // Stamps the entry for path now and re-sorts, so it moves to the top.
    // False when the path is not listed.
    bool touch(const QString &path);
    // Takes the entries for these paths off; how many went.
    int remove(const QStringList &paths);
    void clear() { m_folders.clear(); }

    // Replaces the list by the stored one ("RECENTITEMS"), then sorts it.
    void load(const QSettings &settings);
    // Stores the list under "RECENTITEMS" and flushes it to disk; false when
    // it could not be written.
    bool save(QSettings &settings) const;

    // Whether a chosen entry can be walked: an existing, readable folder.
    static bool isFolderReadable(const QString &path);

    // Paths are stored as text. A folder name that is not UTF-8 is stored
    // as its file URL, which keeps the bytes.
    static QString storedText(const QByteArray &path);
    static QByteArray folderPath(const QString &stored);
    // The stored text as people read it.
    static QString displayText(const QString &stored);
    // For tests; the default is the current time.
    void setClock(Clock clock) { m_clock = std::move(clock); }

private:
    QDateTime stamp() const;
    void sort();

    QList<RecentFolder> m_folders;
    Clock m_clock;
};

} // namespace tallivo
