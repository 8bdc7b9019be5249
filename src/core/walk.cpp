#include "walk.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace tallivo {

const QStringList &allowedFileTypes()
{
    static const QStringList types =
        QStringLiteral("tif,TIF,tiff,TIFF,pdf,PDF").split(QLatin1Char(','));
    return types;
}

bool isAllowedFileType(const QString &extension)
{
    return allowedFileTypes().contains(extension, Qt::CaseSensitive);
}

QString pathExtension(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        return {};
    return path.mid(dot + 1);
}

namespace {

bool isDirectory(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString childPath(const QString &dir, const QString &name)
{
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

} // namespace

Walk::Walk(const Arguments &arguments, const std::atomic_bool &keepGoing)
    : m_urls(arguments.urls)
    , m_isFolders(arguments.isFolders)
    , m_subdirectories(arguments.isIncludeSubdirectories)
    , m_keepGoing(keepGoing)
{
}

bool Walk::keepGoing()
{
    if (!m_stopped && !m_keepGoing.load(std::memory_order_acquire)) {
        m_stopped = true;
        m_stack.clear();
    }
    return !m_stopped;
}

// Reads one folder's entries in one go, so no folder stays open while its
// files are counted, however deep the tree.
void Walk::enter(const QString &path)
{
    Level level;
    level.path = path;
    const QByteArray local = QFile::encodeName(path);
    DIR *dir = ::opendir(local.constData());
    if (!dir)
        return;
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        bool directory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            const QByteArray full = local + '/' + e->d_name;
            directory = ::lstat(full.constData(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        level.entries.push_back({QFile::decodeName(e->d_name), directory});
    }
    ::closedir(dir);
    // Name order makes runs repeatable; the file system's own order is not.
    std::sort(level.entries.begin(), level.entries.end(),
              [](const Entry &a, const Entry &b) { return a.name < b.name; });
    m_stack.push_back(std::move(level));
}

std::optional<QUrl> Walk::next()
{
    for (;;) {
        while (!m_stack.empty()) {
            if (!keepGoing())
                return std::nullopt;
            Level &level = m_stack.back();
            if (level.next >= level.entries.size()) {
                m_stack.pop_back();
                continue;
            }
            const Entry entry = level.entries[level.next++];
            const QString path = childPath(level.path, entry.name);
            if (entry.isDirectory) {
                if (m_subdirectories)
                    enter(path);
                continue;
            }
            if (isAllowedFileType(pathExtension(entry.name)))
                return QUrl::fromLocalFile(path);
        }
        if (m_nextUrl >= m_urls.size() || !keepGoing())
            return std::nullopt;
        const QUrl url = m_urls.at(m_nextUrl++);
        if (!m_isFolders)
            return url;
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (isDirectory(path)) {
            enter(path);
            continue;
        }
        if (isAllowedFileType(pathExtension(path)))
            return url;
    }
}

} // namespace tallivo
