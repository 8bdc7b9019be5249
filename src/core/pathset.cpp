#include "pathset.h"

#include <algorithm>

namespace tallivo {

PathKey pathKey(QByteArrayView path)
{
    // Two hashes of the same bytes with unrelated seeds; the seeds are fixed,
    // so a key means the same on every thread for the life of the process.
    constexpr size_t kSeeds[] = {size_t(0x243f6a8885a308d3ULL), size_t(0x13198a2e03707344ULL)};
    return {quint64(qHashBits(path.data(), size_t(path.size()), kSeeds[0])),
            quint64(qHashBits(path.data(), size_t(path.size()), kSeeds[1]))};
}

namespace {

bool isFree(const PathKey &key)
{
    return key.first == 0 && key.second == 0;
}

// The slot a key starts looking at: its first half scaled to the table, so
// that slots follow the keys' order.
size_t home(const PathKey &key, size_t slots)
{
    return size_t((unsigned __int128)key.first * slots >> 64);
}

size_t next(size_t slot, size_t slots)
{
    return slot + 1 == slots ? 0 : slot + 1;
}

// At most 4 keys in 5 slots; a table grows to hold twice its keys.
bool isFull(qsizetype count, size_t slots)
{
    return size_t(count) * 5 >= slots * 4;
}

// Keys in about the table's order: by the top 16 bits of the first half,
// which is enough for each key to land near the one before it.
void orderForTable(std::vector<PathKey> &keys)
{
    if (keys.size() < 4096) {
        std::sort(keys.begin(), keys.end(),
                  [](const PathKey &a, const PathKey &b) { return a.first < b.first; });
        return;
    }
    std::vector<quint32> starts(65537, 0);
    for (const PathKey &key : keys)
        ++starts[size_t(key.first >> 48) + 1];
    for (size_t i = 1; i < starts.size(); ++i)
        starts[i] += starts[i - 1];
    std::vector<PathKey> ordered(keys.size());
    for (const PathKey &key : keys)
        ordered[starts[size_t(key.first >> 48)]++] = key;
    keys = std::move(ordered);
}

} // namespace

bool PathSet::contains(const PathKey &key) const
{
    const Table *t = d.constData();
    if (!t)
        return false;
    if (isFree(key))
        return t->zero;
    const size_t slots = t->slots.size();
    if (slots == 0)
        return false;
    for (size_t i = home(key, slots);; i = next(i, slots)) {
        const PathKey &at = t->slots[i];
        if (at == key)
            return true;
        if (isFree(at))
            return false;
    }
}

PathSet::Table &PathSet::table()
{
    if (!d)
        d = new Table;
    return *d;
}

void PathSet::rebuild(size_t slots)
{
    Table &t = table();
    std::vector<PathKey> old = std::exchange(t.slots, std::vector<PathKey>(slots));
    // The old table is in about the keys' order already.
    for (const PathKey &key : old) {
        if (isFree(key))
            continue;
        size_t i = home(key, slots);
        while (!isFree(t.slots[i]))
            i = next(i, slots);
        t.slots[i] = key;
    }
}

void PathSet::reserve(qsizetype count)
{
    Table &t = table();
    if (count > t.count && isFull(count, t.slots.size()))
        rebuild(qMax(size_t(count) * 2, size_t(16)));
}

bool PathSet::insert(const PathKey &key)
{
    Table &t = table();
    if (isFree(key)) {
        if (t.zero)
            return false;
        t.zero = true;
        ++t.count;
        return true;
    }
    if (t.slots.empty() || isFull(t.count + 1, t.slots.size()))
        rebuild(qMax(size_t(t.count + 1) * 2, size_t(16)));
    const size_t slots = t.slots.size();
    size_t i = home(key, slots);
    for (; !isFree(t.slots[i]); i = next(i, slots)) {
        if (t.slots[i] == key)
            return false;
    }
    t.slots[i] = key;
    ++t.count;
    return true;
}

bool PathSet::remove(const PathKey &key)
{
    if (!d || !contains(key))
        return false;
    Table &t = table();
    --t.count;
    if (isFree(key)) {
        t.zero = false;
        return true;
    }
    const size_t slots = t.slots.size();
    size_t hole = home(key, slots);
    while (t.slots[hole] != key)
        hole = next(hole, slots);
    // The keys after the hole that may sit in it move back, so that no
    // search stops early at it.
    for (size_t j = next(hole, slots); !isFree(t.slots[j]); j = next(j, slots)) {
        const size_t start = home(t.slots[j], slots);
        const bool movable =
            hole <= j ? (start <= hole || start > j) : (start <= hole && start > j);
        if (movable) {
            t.slots[hole] = t.slots[j];
            hole = j;
        }
    }
    t.slots[hole] = PathKey{};
    return true;
}

void PathSet::insert(std::vector<PathKey> keys)
{
    if (keys.empty())
        return;
    reserve(size() + qsizetype(keys.size()));
    orderForTable(keys);
    for (const PathKey &key : keys)
        insert(key);
}

void PathSet::remove(std::vector<PathKey> keys)
{
    if (keys.empty() || isEmpty())
        return;
    orderForTable(keys);
    for (const PathKey &key : keys)
        remove(key);
    // A set that lost most of its keys gives back its room.
    Table &t = table();
    if (t.count == 0)
        clear();
    else if (t.slots.size() > 64 && size_t(t.count) * 8 < t.slots.size())
        rebuild(qMax(size_t(t.count) * 2, size_t(16)));
}

} // namespace tallivo
