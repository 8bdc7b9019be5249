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
struct RecentItem
{
    QString itemPath;
    QDateTime lastUsedDate;

    // {"itemPath": text, "lastUsedDate": date}, the stored form of one entry.
    QVariantMap getData() const;
    // A missing entry leaves its field empty.
    void setData(const QVariantMap &data);
    // Exact, case-sensitive comparison of paths.
    bool isEqual(const QString &path) const { return itemPath == path; }
};

// The folders the user has added, most recently used first. Nothing is ever
// dropped from the list; a path is listed at most once.
class RecentFolders
{
public:
    using Clock = std::function<QDateTime()>;

    // The first entry of the pop-up, which stands for no folder.
    static QString captionText() { return QStringLiteral("Recent Folders..."); }
    static QString settingsKey() { return QStringLiteral("RECENTITEMS"); }

    RecentFolders();

    // Appends the paths not yet listed, all stamped with one moment newer than
    // any listed date, then re-sorts. A listed path keeps its date and place.
    // Empty paths are ignored; trailing separators are dropped.
    void addRecentItem(const QStringList &folderPaths);
    // Newest first, as the pop-up lists them.
    const QList<RecentItem> &items() const { return m_items; }
    bool isEmpty() const { return m_items.isEmpty(); }

    // Index into items() of the entry for path, the last one if several; -1
    // when none.
    int indexOf(const QString &path) const;
    // Stamps the entry for path now and re-sorts, so it moves to the top.
    // False when the path is not listed.
    bool touch(const QString &path);

    // The pop-up's entries: the caption, then every path in list order. Entry
    // i (from 1) is items()[i - 1].
    QStringList popupTitles() const;
    // The path of pop-up entry index; "" for the caption or out of range.
    QString pathAtPopupIndex(int index) const;

    // Replaces the list by the stored one, in stored order, then sorts it.
    void loadRecentFolders(const QSettings &settings);
    // Stores the list under "RECENTITEMS" and flushes it to disk.
    void saveRecentFolders(QSettings &settings) const;

    // Whether a chosen entry can be walked: an existing, readable folder.
    static bool isFolderReadable(const QString &path);
    // For tests; the default is the current time.
    void setClock(Clock clock) { m_clock = std::move(clock); }

private:
    QDateTime stamp() const;
    void sortItems();

    QList<RecentItem> m_items;
    Clock m_clock;
};

} // namespace tallivo
