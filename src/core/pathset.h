#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QExplicitlySharedDataPointer>
#include <QHashFunctions>
#include <QSharedData>
#include <QSharedDataPointer>

#include <vector>

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

// The paths already listed or offered, by key: an open-addressed table of
// keys, shared between copies until one of them changes. A key's slot
// follows the order of its first half, so that many keys added or taken in
// that order walk the table from one end to the other instead of jumping
// about it: half a million keys go in or out at memory speed.
class PathSet
{
public:
    bool isEmpty() const { return size() == 0; }
    qsizetype size() const { return d ? d->count : 0; }
    bool contains(const PathKey &key) const;
    // True when the key was not in the set.
    bool insert(const PathKey &key);
    // True when the key was in the set.
    bool remove(const PathKey &key);
    // Many keys at once; the same as one by one, in the table's order.
    void insert(std::vector<PathKey> keys);
    void remove(std::vector<PathKey> keys);
    // Room for this many keys in all without growing again.
    void reserve(qsizetype count);
    void clear() { d.reset(); }

private:
    struct Table : QSharedData
    {
        std::vector<PathKey> slots; // {0, 0} marks a free slot
        qsizetype count = 0;
        bool zero = false; // the key {0, 0} itself
    };
    Table &table();
    void rebuild(size_t slots);

    QSharedDataPointer<Table> d;
};

} // namespace tallivo
