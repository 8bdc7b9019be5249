#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QExplicitlySharedDataPointer>
#include <QHashFunctions>
#include <QSet>
#include <QSharedData>

namespace tallivo {

// A folder, named once for all the files listed from it. The walk makes one
// record for each folder it enters and every item found there shares it, so
// a million files of two thousand folders hold two thousand folder paths.
class FolderRecord : public QSharedData
{
public:
    explicit FolderRecord(QByteArray folderPath)
        : path(std::move(folderPath))
    {
    }
    const QByteArray path;
};
using Folder = QExplicitlySharedDataPointer<const FolderRecord>;

inline Folder makeFolder(QByteArray path)
{
    return Folder(new FolderRecord(std::move(path)));
}

// 128 bits of a path's bytes, standing in for the path in the duplicate
// tests: a million paths are 16 MB of keys instead of a million strings. Two
// different paths give the same key with a chance of about 2^-128.
struct PathKey
{
    quint64 first = 0;
    quint64 second = 0;

    friend bool operator==(const PathKey &a, const PathKey &b)
    {
        return a.first == b.first && a.second == b.second;
    }
    friend bool operator!=(const PathKey &a, const PathKey &b) { return !(a == b); }
};

inline size_t qHash(const PathKey &key, size_t seed = 0) noexcept
{
    return size_t(key.first) ^ seed;
}

PathKey pathKey(QByteArrayView path);

// The paths already listed or offered, by key.
using PathSet = QSet<PathKey>;

} // namespace tallivo
