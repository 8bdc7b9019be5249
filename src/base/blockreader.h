#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>

namespace tallivo {

// How much a BlockReader reads at once: the first block, the block at the
// end of the file, and the least size of any other.
struct BlockSizes
{
    qint64 head;
    qint64 tail;
    qint64 small;

    // On a network share every read() is a round trip, so reads are few and
    // large: the first holds the header and first directories of a TIFF
    // file and all of a small PDF, the last a PDF's cross-reference section.
    static constexpr BlockSizes remote() { return {64 * 1024, 64 * 1024, 16 * 1024}; }
    // On a local disk a read costs a system call and a copy from the page
    // cache: bytes nobody looks at are what costs. A TIFF directory takes a
    // few hundred bytes.
    static constexpr BlockSizes local() { return {4096, 16 * 1024, 1024}; }
};

// Reads an open file in aligned blocks and keeps the last few, so a parser
// that asks for many small pieces close together costs one system call per
// block. Blocks are as large as BlockSizes says where parsers start (the
// file's start, and its end, where a PDF keeps its cross-reference section)
// and small elsewhere, as parsers jump from one small structure to the
// next. The first block can be handed in already read.
class BlockReader
{
public:
    // The largest piece view() gives.
    static constexpr qint64 kBlockSize = 64 * 1024;

    // Does not take ownership of fd. `head` holds the file's first bytes,
    // possibly the whole file.
    BlockReader(int fd, qint64 fileSize, QByteArray head = {},
                BlockSizes sizes = BlockSizes::remote());
    // The block buffers go back to the thread's spares, for the next file.
    ~BlockReader();
    BlockReader(const BlockReader &) = delete;
    BlockReader &operator=(const BlockReader &) = delete;

    qint64 size() const { return m_size; }

    // The bytes [offset, offset + length), or an empty view when the range
    // is not wholly inside the file or cannot be read. The view stays valid
    // until the next call. Ranges longer than a block are refused: parsers
    // asking for more use readInto().
    QByteArrayView view(qint64 offset, qint64 length);
    // Copies [offset, offset + length) into `out`; false when that fails.
    bool readInto(qint64 offset, qint64 length, char *out);
    // Up to `length` bytes from offset, shorter at the end of the file.
    QByteArrayView viewUpTo(qint64 offset, qint64 length);

    // How many read system calls were made (for tests and benchmarks).
    int readCalls() const { return m_readCalls; }
    // How many times a block buffer was allocated or grown on this thread
    // (for tests and benchmarks).
    static qint64 blockAllocations();

private:
    struct Block
    {
        qint64 start = -1;
        QByteArray data;
        quint64 lastUse = 0;
    };
    // A cached or newly read block that holds [start, end).
    const Block *blockFor(qint64 start, qint64 end);

    int m_fd;
    qint64 m_size;
    BlockSizes m_sizes;
    QByteArray m_head;
    std::array<Block, 4> m_blocks;
    quint64 m_clock = 0;
    int m_readCalls = 0;
};

} // namespace tallivo
