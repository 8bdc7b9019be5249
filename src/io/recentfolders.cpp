#include "recentfolders.h"

#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QVariantList>

#include <algorithm>

namespace tallivo {

namespace {

const QString pathKey = QStringLiteral("itemPath");
const QString dateKey = QStringLiteral("lastUsedDate");

QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

QVariantMap RecentItem::getData() const
{
    return {{pathKey, itemPath}, {dateKey, lastUsedDate}};
}

void RecentItem::setData(const QVariantMap &data)
{
    itemPath = data.value(pathKey).toString();
    lastUsedDate = data.value(dateKey).toDateTime();
}

RecentFolders::RecentFolders()
    : m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
}

QDateTime RecentFolders::stamp() const
{
    // Strictly newer than anything listed, even when the clock is coarse or
    // has gone back, so the latest action always sorts on top.
    QDateTime now = m_clock();
    for (const RecentItem &item : m_items) {
        if (item.lastUsedDate.isValid() && item.lastUsedDate >= now)
            now = item.lastUsedDate.addMSecs(1);
    }
    return now;
}

void RecentFolders::sortItems()
{
    // Stable, so entries of equal date keep their order. Undated entries last.
    std::stable_sort(m_items.begin(), m_items.end(), [](const RecentItem &a, const RecentItem &b) {
        if (!b.lastUsedDate.isValid())
            return a.lastUsedDate.isValid();
        return a.lastUsedDate.isValid() && a.lastUsedDate > b.lastUsedDate;
    });
}

void RecentFolders::addRecentItem(const QStringList &folderPaths)
{
    QSet<QString> listed;
    for (const RecentItem &item : std::as_const(m_items))
        listed.insert(item.itemPath);
    // One moment for the whole call: new entries come out on top in the
    // order given.
    const QDateTime now = stamp();
    for (const QString &given : folderPaths) {
        const QString path = withoutTrailingSeparator(given);
        if (path.isEmpty() || listed.contains(path))
            continue;
        listed.insert(path);
        m_items.append(RecentItem{path, now});
    }
    sortItems();
}

int RecentFolders::indexOf(const QString &path) const
{
    for (int i = int(m_items.size()) - 1; i >= 0; --i) {
        if (m_items.at(i).isEqual(path))
            return i;
    }
    return -1;
}

bool RecentFolders::touch(const QString &path)
{
    const int i = indexOf(path);
    if (i < 0)
        return false;
    m_items[i].lastUsedDate = stamp();
    sortItems();
    return true;
}

QStringList RecentFolders::popupTitles() const
{
    QStringList titles{captionText()};
    titles.reserve(m_items.size() + 1);
    for (const RecentItem &item : m_items)
        titles.append(item.itemPath);
    return titles;
}

QString RecentFolders::pathAtPopupIndex(int index) const
{
    if (index < 1 || index > m_items.size())
        return {};
    return m_items.at(index - 1).itemPath;
}

void RecentFolders::loadRecentFolders(const QSettings &settings)
{
    m_items.clear();
    const QVariantList stored = settings.value(settingsKey()).toList();
    for (const QVariant &entry : stored) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        RecentItem item;
        item.setData(entry.toMap());
        m_items.append(item);
    }
    sortItems();
}

void RecentFolders::saveRecentFolders(QSettings &settings) const
{
    QVariantList stored;
    stored.reserve(m_items.size());
    for (const RecentItem &item : m_items)
        stored.append(item.getData());
    settings.setValue(settingsKey(), stored);
    settings.sync();
}

bool RecentFolders::isFolderReadable(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isDir() && info.isReadable();
}

} // namespace tallivo
