#include "blockreader.h"

#include <QTemporaryFile>
#include <QTest>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace tallivo;

class TestBlockReader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void readsMatchTheFile_data();
    void readsMatchTheFile();
    void nearbyReadsShareOneCall();
    void headServesWithoutReading();
    void outOfRangeIsRefused();
    void nextFileReusesTheBlocks();

private:
    QTemporaryFile m_file;
    QByteArray m_bytes;
    int m_fd = -1;
};

void TestBlockReader::initTestCase()
{
    m_bytes.resize(3 * BlockReader::kBlockSize + 123);
    for (qsizetype i = 0; i < m_bytes.size(); ++i)
        m_bytes[i] = char((i * 7919) >> 3);
    QVERIFY(m_file.open());
    QCOMPARE(m_file.write(m_bytes), m_bytes.size());
    m_file.flush();
    m_fd = ::open(QFile::encodeName(m_file.fileName()).constData(), O_RDONLY);
    QVERIFY(m_fd >= 0);
}

void TestBlockReader::cleanupTestCase()
{
    ::close(m_fd);
}

void TestBlockReader::readsMatchTheFile_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<bool>("remote");
    const qint64 b = BlockReader::kBlockSize;
    for (const bool remote : {true, false}) {
        const char *where = remote ? "remote" : "local";
        QTest::addRow("%s: start", where) << qint64(0) << qint64(16) << remote;
        QTest::addRow("%s: across a block edge", where) << b - 5 << qint64(10) << remote;
        QTest::addRow("%s: across the small head", where) << qint64(4090) << qint64(10) << remote;
        QTest::addRow("%s: whole block unaligned", where) << qint64(100) << b << remote;
        QTest::addRow("%s: into the tail block", where)
            << 3 * b + 123 - 16390 << qint64(20) << remote;
        QTest::addRow("%s: last bytes", where) << 3 * b + 100 << qint64(23) << remote;
        QTest::addRow("%s: empty at end", where) << 3 * b + 123 << qint64(0) << remote;
    }
}

void TestBlockReader::readsMatchTheFile()
{
    QFETCH(qint64, offset);
    QFETCH(qint64, length);
    QFETCH(bool, remote);
    BlockReader reader(m_fd, m_bytes.size(), {},
                       remote ? BlockSizes::remote() : BlockSizes::local());
    QCOMPARE(reader.view(offset, length).toByteArray(), m_bytes.mid(offset, length));
    // Again, now that blocks around it are held.
    QCOMPARE(reader.view(offset, length).toByteArray(), m_bytes.mid(offset, length));
    QByteArray copy(2 * BlockReader::kBlockSize + 7, 0);
    const qint64 longOffset = qMin<qint64>(offset, m_bytes.size() - copy.size());
    QVERIFY(reader.readInto(longOffset, copy.size(), copy.data()));
    QCOMPARE(copy, m_bytes.mid(longOffset, copy.size()));
}

void TestBlockReader::nearbyReadsShareOneCall()
{
    BlockReader reader(m_fd, m_bytes.size());
    for (int i = 0; i < 100; ++i)
        QCOMPARE(reader.view(i * 200, 12).toByteArray(), m_bytes.mid(i * 200, 12));
    QCOMPARE(reader.readCalls(), 1);
    reader.view(m_bytes.size() - 4, 4);
    reader.view(10, 4);
    QCOMPARE(reader.readCalls(), 2);
}

void TestBlockReader::headServesWithoutReading()
{
    BlockReader reader(-1, m_bytes.size(), m_bytes.left(1000));
    QCOMPARE(reader.view(990, 10).toByteArray(), m_bytes.mid(990, 10));
    QCOMPARE(reader.readCalls(), 0);
    QVERIFY(reader.view(995, 10).isEmpty()); // past the head, and fd -1 cannot read
}

void TestBlockReader::outOfRangeIsRefused()
{
    BlockReader reader(m_fd, m_bytes.size());
    QVERIFY(reader.view(-1, 4).isEmpty());
    QVERIFY(reader.view(m_bytes.size() - 3, 4).isEmpty());
    QVERIFY(reader.view(0, BlockReader::kBlockSize + 1).isEmpty());
    QVERIFY(reader.view(std::numeric_limits<qint64>::max(), 1).isEmpty());
    char c;
    QVERIFY(!reader.readInto(m_bytes.size(), 1, &c));
    QCOMPARE(reader.viewUpTo(m_bytes.size() - 3, 100).size(), 3);
    // A file that shrank under us: the read comes up short.
    BlockReader liar(m_fd, m_bytes.size() + 10);
    QVERIFY(liar.view(m_bytes.size(), 4).isEmpty());
}

// A count reads file after file on each pool thread: the readers after the
// first take their block buffers from the ones before, and still read the
// file's own bytes, also when a second reader is open inside the first.
void TestBlockReader::nextFileReusesTheBlocks()
{
    const qint64 b = BlockReader::kBlockSize;
    const qint64 size = m_bytes.size();
    int wrong = 0;
    auto check = [&](BlockReader &reader, qint64 offset, qint64 length) {
        if (reader.view(offset, length) != QByteArrayView(m_bytes).sliced(offset, length))
            ++wrong;
    };
    auto readFile = [&](qint64 shift) {
        BlockReader reader(m_fd, size, {}, BlockSizes::local());
        check(reader, shift, 100);
        check(reader, size - 300 + shift, 200);
        check(reader, b + 17 + shift, 3000);
        check(reader, 2 * b + 5 + shift, 40);
    };
    qint64 first = -1;
    qint64 again = -1;
    qint64 nested = -1;
    // On a thread of its own, which starts with no spare buffers.
    // std::thread: its join is a synchronisation the race checker sees.
    std::thread thread([&] {
        qint64 before = BlockReader::blockAllocations();
        readFile(0);
        first = BlockReader::blockAllocations() - before;
        before = BlockReader::blockAllocations();
        readFile(11);
        again = BlockReader::blockAllocations() - before;
        before = BlockReader::blockAllocations();
        {
            BlockReader outer(m_fd, size, {}, BlockSizes::local());
            check(outer, 3, 50);
            readFile(23);
            check(outer, size - 60, 50);
            check(outer, 3, 50);
        }
        nested = BlockReader::blockAllocations() - before;
    });
    thread.join();
    QCOMPARE(wrong, 0);
    QCOMPARE(first, 4);
    QCOMPARE(again, 0);
    // The outer reader took the spares; the inner one needs buffers of its
    // own, which join the spares when it ends.
    QCOMPARE(nested, 4);
}

QTEST_GUILESS_MAIN(TestBlockReader)
#include "tst_blockreader.moc"
