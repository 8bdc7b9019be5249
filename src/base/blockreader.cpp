#include "blockreader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace tallivo {

namespace {

// Block buffers left by the readers of earlier files on this thread: a
// count of many files allocates them once per thread instead of four times
// a file. Readers may nest, so these are a stack, not one set.
thread_local std::vector<QByteArray> spareBlocks;
thread_local qint64 allocations = 0;
constexpr size_t kMaxSpareBlocks = 4;
// Blocks start on these boundaries; the one at the end is up to this much
// longer than BlockSizes::tail.
constexpr qint64 kAlignment = 512;

} // namespace

BlockReader::BlockReader(int fd, qint64 fileSize, QByteArray head, BlockSizes sizes)
    : m_fd(fd)
    , m_size(qMax<qint64>(0, fileSize))
    , m_sizes(sizes)
    , m_head(std::move(head))
{
    if (m_head.size() > m_size)
        m_head.truncate(m_size);
    for (Block &block : m_blocks) {
        if (spareBlocks.empty())
            break;
        block.data = std::move(spareBlocks.back());
        spareBlocks.pop_back();
    }
}

BlockReader::~BlockReader()
{
    for (Block &block : m_blocks) {
        // A buffer shared with a copy somebody kept is theirs now.
        if (block.data.capacity() == 0 || !block.data.isDetached() ||
            spareBlocks.size() >= kMaxSpareBlocks)
            continue;
        block.data.resize(0); // keeps the capacity
        spareBlocks.push_back(std::move(block.data));
    }
}

qint64 BlockReader::blockAllocations()
{
    return allocations;
}

const BlockReader::Block *BlockReader::blockFor(qint64 start, qint64 end)
{
    ++m_clock;
    Block *oldest = &m_blocks[0];
    for (Block &block : m_blocks) {
        if (block.start >= 0 && block.start <= start && end <= block.start + block.data.size()) {
            block.lastUse = m_clock;
            return &block;
        }
        if (block.lastUse < oldest->lastUse)
            oldest = &block;
    }
    qint64 blockStart;
    qint64 blockEnd;
    if (end <= m_sizes.head) {
        blockStart = 0;
        blockEnd = m_sizes.head;
    } else if (start >= m_size - m_sizes.tail) {
        // A PDF keeps its cross-reference section and trailer at the end.
        blockStart = qMax<qint64>(0, m_size - m_sizes.tail) / kAlignment * kAlignment;
        blockEnd = m_size;
    } else {
        // Parsers read forward from where they land (a TIFF directory's
        // long values follow it), so the block starts there.
        blockStart = start / kAlignment * kAlignment;
        blockEnd = qMax(blockStart + m_sizes.small, end);
    }
    blockEnd = qMin(blockEnd, m_size);
    const qint64 length = blockEnd - blockStart;
    oldest->start = -1;
    if (oldest->data.capacity() < length || !oldest->data.isDetached()) {
        // Room for the largest usual block, so that a buffer serves any
        // part of the next file without growing.
        ++allocations;
        oldest->data = QByteArray();
        oldest->data.reserve(qMax(length, qMax(m_sizes.head, m_sizes.tail + kAlignment)));
    }
    oldest->data.resize(length);
    qint64 done = 0;
    while (done < length) {
        ++m_readCalls;
        const ssize_t n = ::pread(m_fd, oldest->data.data() + done, size_t(length - done),
                                  off_t(blockStart + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return nullptr;
        done += n;
    }
    oldest->start = blockStart;
    oldest->lastUse = m_clock;
    return oldest;
}

QByteArrayView BlockReader::view(qint64 offset, qint64 length)
{
    if (offset < 0 || length < 0 || length > kBlockSize || offset > m_size - length)
        return {};
    if (length == 0)
        return QByteArrayView("", 0);
    if (offset + length <= m_head.size())
        return QByteArrayView(m_head).sliced(offset, length);
    const Block *block = blockFor(offset, offset + length);
    if (!block)
        return {};
    return QByteArrayView(block->data).sliced(offset - block->start, length);
}

QByteArrayView BlockReader::viewUpTo(qint64 offset, qint64 length)
{
    if (offset < 0 || offset > m_size)
        return {};
    return view(offset, qMin(length, m_size - offset));
}

bool BlockReader::readInto(qint64 offset, qint64 length, char *out)
{
    if (offset < 0 || length < 0 || offset > m_size - length)
        return false;
    if (length > kBlockSize) {
        // A large piece is read straight into place, in as few calls as
        // the system allows, past the cache.
        const qint64 inHead = qBound<qint64>(0, m_head.size() - offset, length);
        if (inHead > 0)
            std::memcpy(out, m_head.constData() + offset, size_t(inHead));
        qint64 done = inHead;
        while (done < length) {
            ++m_readCalls;
            const ssize_t n =
                ::pread(m_fd, out + done, size_t(length - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    while (length > 0) {
        const qint64 piece = qMin(length, kBlockSize - offset % kBlockSize);
        const QByteArrayView bytes = view(offset, piece);
        if (bytes.size() != piece)
            return false;
        std::memcpy(out, bytes.data(), size_t(piece));
        out += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}

} // namespace tallivo
