#include "recentfolders.h"

#include "fileio.h"
#include "localpath.h"

#include "iologging.h"

#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QVariantList>

#include <algorithm>

#include <unistd.h>

namespace tallivo {

namespace {

const QString settingsKey = QStringLiteral("RECENTITEMS");
const QString pathKey = QStringLiteral("itemPath");
const QString dateKey = QStringLiteral("lastUsedDate");

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

QVariantMap RecentFolder::toVariantMap() const
{
    return {{pathKey, path}, {dateKey, lastUsed}};
}

RecentFolder RecentFolder::fromVariantMap(const QVariantMap &map)
{
    return {map.value(pathKey).toString(), map.value(dateKey).toDateTime()};
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
    for (const RecentFolder &folder : m_folders) {
        if (folder.lastUsed.isValid() && folder.lastUsed >= now)
            now = folder.lastUsed.addMSecs(1);
    }
    return now;
}

void RecentFolders::sort()
{
    // Stable, so entries of equal date keep their order. Undated entries last.
    std::stable_sort(m_folders.begin(), m_folders.end(),
                     [](const RecentFolder &a, const RecentFolder &b) {
                         if (!b.lastUsed.isValid())
                             return a.lastUsed.isValid();
                         return a.lastUsed.isValid() && a.lastUsed > b.lastUsed;
                     });
}

void RecentFolders::add(const QStringList &folders)
{
    QSet<QString> listed;
    for (const RecentFolder &folder : std::as_const(m_folders))
        listed.insert(folder.path);
    // One moment for the whole call: new entries come out on top in the
    // order given.
    const QDateTime now = stamp();
    for (const QString &given : folders) {
        const QString path = withoutTrailingSlash(given);
        if (path.isEmpty() || listed.contains(path))
            continue;
        listed.insert(path);
        m_folders.append(RecentFolder{path, now});
    }
    sort();
}

int RecentFolders::indexOf(const QString &path) const
{
    for (int i = int(m_folders.size()) - 1; i >= 0; --i) {
        if (m_folders.at(i).path == path)
            return i;
    }
    return -1;
}

bool RecentFolders::touch(const QString &path)
{
    const int i = indexOf(path);
    if (i < 0)
        return false;
    m_folders[i].lastUsed = stamp();
    sort();
    return true;
}

int RecentFolders::remove(const QStringList &paths)
{
    const QSet<QString> gone(paths.cbegin(), paths.cend());
    return int(
        m_folders.removeIf([&](const RecentFolder &folder) { return gone.contains(folder.path); }));
}

void RecentFolders::load(const QSettings &settings)
{
    m_folders.clear();
    const QVariantList stored = settings.value(settingsKey).toList();
    for (const QVariant &entry : stored) {
        if (entry.typeId() != QMetaType::QVariantMap) {
            qCWarning(lcIo) << "Passing over a stored recent folder of type" << entry.typeName();
            continue;
        }
        m_folders.append(RecentFolder::fromVariantMap(entry.toMap()));
    }
    sort();
}

bool RecentFolders::save(QSettings &settings) const
{
    QVariantList stored;
    stored.reserve(m_folders.size());
    for (const RecentFolder &folder : m_folders)
        stored.append(folder.toVariantMap());
    settings.setValue(settingsKey, stored);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool RecentFolders::isFolderReadable(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray bytes = folderPath(path);
    return isFolder(bytes) && ::access(bytes.constData(), R_OK | X_OK) == 0;
}

QString RecentFolders::storedText(const QByteArray &path)
{
    const QString text = QString::fromUtf8(path);
    if (text.toUtf8() == path && !text.startsWith(QLatin1String("file:")))
        return text;
    return urlFromLocalPath(path).toString();
}

QByteArray RecentFolders::folderPath(const QString &stored)
{
    if (stored.startsWith(QLatin1String("file://")))
        return localPath(QUrl(stored));
    return stored.toUtf8();
}

QString RecentFolders::displayText(const QString &stored)
{
    return displayPath(folderPath(stored));
}

} // namespace tallivo
