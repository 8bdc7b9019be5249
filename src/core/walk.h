#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <optional>
#include <vector>

namespace tallivo {

// The input of one collection run.
struct Arguments
{
    QList<QUrl> urls;
    bool isFolders = false;
    bool isIncludeSubdirectories = false;
};

// "tif", "TIF", "tiff", "TIFF", "pdf", "PDF"; membership is exact, case included.
const QStringList &allowedFileTypes();
bool isAllowedFileType(const QString &extension);
// The extension of the last path component, as written; "" for none.
QString pathExtension(const QString &path);

// Yields, in order, the URLs a run is to add: every given URL for a file walk;
// for a folder walk the top-level files of an allowed type and the allowed
// files found below the given folders, depth first. Hidden entries (names
// starting with ".") are neither returned nor entered, symbolic links are
// never entered, unreadable folders are passed over. The flag is read before
// every entry; once it is false the walk ends.
class Walk
{
public:
    Walk(const Arguments &arguments, const std::atomic_bool &keepGoing);

    std::optional<QUrl> next();
    // True when the walk ended because the flag was cleared.
    bool wasStopped() const { return m_stopped; }

private:
    struct Entry
    {
        QString name;
        bool isDirectory;
    };
    struct Level
    {
        QString path;
        std::vector<Entry> entries;
        size_t next = 0;
    };

    bool keepGoing();
    void enter(const QString &path);

    QList<QUrl> m_urls;
    bool m_isFolders;
    bool m_subdirectories;
    const std::atomic_bool &m_keepGoing;
    qsizetype m_nextUrl = 0;
    std::vector<Level> m_stack;
    bool m_stopped = false;
};

} // namespace tallivo
