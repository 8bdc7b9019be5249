#include "fileitem.h"
#include "listsnapshot.h"

#include <QFile>
#include <QtEndian>
#include <QTest>

#include <cstring>

using namespace tallivo;

namespace {

std::unique_ptr<FileItem> makeItem(const Folder &folder, QByteArray name, qint32 pages,
                                   const std::vector<PageInfo> &details = {})
{
    FileRecord record;
    record.folder = folder;
    record.name = std::move(name);
    record.size = 4096 + pages;
    record.modified = 1'700'000'000'000 + pages;
    record.created = FileRecord::kNoTime;
    record.accessed = -5; // before the epoch
    record.pages = pages;
    auto item = std::make_unique<FileItem>(std::move(record));
    if (!details.empty())
        item->setPageSummary(PageSummary::fromPages(details, pages));
    return item;
}

std::vector<const FileItem *> pointers(const std::vector<std::unique_ptr<FileItem>> &items)
{
    std::vector<const FileItem *> out;
    for (const auto &item : items)
        out.push_back(item.get());
    return out;
}

// A small list with two folders, one of them a name that is not UTF-8, a
// file of every status, unchecked ones, and page summaries.
std::vector<std::unique_ptr<FileItem>> sampleList()
{
    const Folder scans = makeFolder("/srv/scans/Box 1");
    const Folder latin1 = makeFolder(QByteArray("/srv/caf\xe9/\xff\xfe"));
    std::vector<std::unique_ptr<FileItem>> items;
    items.push_back(makeItem(scans, "a.tif", 3,
                             {{210, 297, ColourClass::BlackWhite},
                              {297, 420, ColourClass::Colour},
                              {0, 0, ColourClass::Unknown}}));
    items.push_back(makeItem(latin1, QByteArray("r\xe9sum\xe9.pdf"), 12,
                             {{215.9f, 279.4f, ColourClass::Grey}}));
    items.push_back(makeItem(scans, "b.pdf", 0));
    items.back()->setCountStatus(CountStatus::Locked);
    items.back()->setChecked(false);
    items.push_back(makeItem(latin1, "c.tiff", 1));
    items.back()->setCountStatus(CountStatus::NeededTooMuchMemory);
    return items;
}

void writeU32(QByteArray &bytes, qsizetype at, quint32 value)
{
    const quint32 little = qToLittleEndian(value);
    std::memcpy(bytes.data() + at, &little, 4);
}

} // namespace

class TestListSnapshot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTripKeepsEveryField();
    void recordsOfOneFolderAreMerged();
    void truncatedIsRefused();
    void everyBitFlipIsRefused();
    void garbledIsRefused_data();
    void garbledIsRefused();
    void badFieldsAreRefused();
    void fuzzSeedsAreLists();
};

void TestListSnapshot::roundTripKeepsEveryField()
{
    const auto items = sampleList();
    // The folders the user added, one of them not UTF-8.
    const QList<QByteArray> added = {"/srv/scans", QByteArray("/srv/caf\xe9")};
    std::vector<std::unique_ptr<FileItem>> back;
    QList<QByteArray> addedBack;
    QString error;
    QVERIFY2(listsnapshot::decode(listsnapshot::encode(pointers(items), added), &back, &error,
                                  &addedBack),
             qPrintable(error));
    QCOMPARE(addedBack, added);
    QCOMPARE(back.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const FileRecord &a = items[i]->record();
        const FileRecord &b = back[i]->record();
        QCOMPARE(b.name, a.name);
        QCOMPARE(b.folderPath(), a.folderPath());
        QCOMPARE(b.size, a.size);
        QCOMPARE(b.modified, a.modified);
        QCOMPARE(b.created, a.created);
        QCOMPARE(b.accessed, a.accessed);
        QCOMPARE(b.pages, a.pages);
        QCOMPARE(b.status, a.status);
        QCOMPARE(b.checked, a.checked);
        QVERIFY(back[i]->pageSummary() == items[i]->pageSummary());
        QCOMPARE(back[i]->localPath(), items[i]->localPath());
    }
    QVERIFY(!back[0]->pageSummary().isEmpty());
    // Files of one folder share its record again.
    QCOMPARE(back[0]->folder().data(), back[2]->folder().data());
    QVERIFY(listsnapshot::decode(listsnapshot::encode({}), &back));
    QVERIFY(back.empty());
}

// Files of one folder added by separate commands (two launches, two Add
// Files, an import) hold separate records of one path. The list read back
// holds every file, its folder stored once.
void TestListSnapshot::recordsOfOneFolderAreMerged()
{
    const QByteArray path = "/srv/scans/day";
    const Folder first = makeFolder(path);
    const Folder second = makeFolder(path);
    const Folder other = makeFolder("/srv/other");
    QVERIFY(first.data() != second.data());
    std::vector<std::unique_ptr<FileItem>> items;
    items.push_back(makeItem(first, "a.tif", 1));
    items.push_back(makeItem(other, "x.pdf", 2));
    items.push_back(makeItem(second, "b.tif", 3));
    items.push_back(makeItem(first, "c.tif", 4));
    items.push_back(makeItem(makeFolder(path), "d.tif", 5));
    const QByteArray bytes = listsnapshot::encode(pointers(items));
    QCOMPARE(bytes.count(path), 1);
    std::vector<std::unique_ptr<FileItem>> back;
    QString error;
    QVERIFY2(listsnapshot::decode(bytes, &back, &error), qPrintable(error));
    QCOMPARE(back.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        QCOMPARE(back[i]->localPath(), items[i]->localPath());
        QCOMPARE(back[i]->pages(), items[i]->pages());
    }
    QCOMPARE(back[2]->folder().data(), back[0]->folder().data());
    QCOMPARE(back[4]->folder().data(), back[0]->folder().data());
    // One form only.
    QCOMPARE(listsnapshot::encode(pointers(back)), bytes);
}

void TestListSnapshot::truncatedIsRefused()
{
    const auto items = sampleList();
    const QByteArray bytes = listsnapshot::encode(pointers(items));
    for (qsizetype size = 0; size < bytes.size(); ++size) {
        std::vector<std::unique_ptr<FileItem>> back;
        QString error;
        QVERIFY2(!listsnapshot::decode(bytes.first(size), &back, &error),
                 qPrintable(QString::number(size)));
        QVERIFY(back.empty());
        QVERIFY(!error.isEmpty());
    }
    // Bytes after the list are a fault too.
    std::vector<std::unique_ptr<FileItem>> back;
    QVERIFY(!listsnapshot::decode(bytes + '\0', &back));
    QVERIFY(back.empty());
}

// A list whose bytes changed after it was written is refused whole, never
// read as another list: every single bit flipped, of the head and the
// checksum and every 997th bit between, of a list of 5,000 files.
void TestListSnapshot::everyBitFlipIsRefused()
{
    std::vector<std::unique_ptr<FileItem>> items;
    Folder folder;
    for (int i = 0; i < 5000; ++i) {
        if (i % 100 == 0)
            folder = makeFolder("/srv/box " + QByteArray::number(i / 100));
        items.push_back(makeItem(folder, "s" + QByteArray::number(i) + ".tif", 1 + i % 9,
                                 {{210, 297, ColourClass::BlackWhite}}));
    }
    QByteArray bytes = listsnapshot::encode(pointers(items));
    const qint64 bits = qint64(bytes.size()) * 8;
    int flips = 0;
    for (qint64 bit = 0; bit < bits; bit += (bit < 256 || bit >= bits - 64) ? 1 : 997) {
        char &byte = bytes[qsizetype(bit / 8)];
        byte = char(byte ^ (1 << (bit % 8)));
        std::vector<std::unique_ptr<FileItem>> back;
        const bool read = listsnapshot::decode(bytes, &back);
        byte = char(byte ^ (1 << (bit % 8)));
        QVERIFY2(!read, qPrintable(QStringLiteral("bit %1 of %2").arg(bit).arg(bits)));
        QVERIFY(back.empty());
        ++flips;
    }
    QVERIFY(flips > 3000);
    std::vector<std::unique_ptr<FileItem>> back;
    QVERIFY(listsnapshot::decode(bytes, &back));
    QCOMPARE(back.size(), items.size());
}

void TestListSnapshot::garbledIsRefused_data()
{
    QTest::addColumn<qsizetype>("at");
    QTest::addColumn<quint32>("value");
    // The head: magic, version, folders, files. The checksum is made to fit
    // each change, so that it is the field's own check that refuses it.
    QTest::newRow("magic") << qsizetype(0) << quint32(0x41414141);
    QTest::newRow("earlier version") << qsizetype(8) << quint32(1);
    QTest::newRow("later version") << qsizetype(8) << quint32(4);
    QTest::newRow("more folders than files") << qsizetype(12) << quint32(5);
    QTest::newRow("unused folder") << qsizetype(12) << quint32(3);
    QTest::newRow("huge file count") << qsizetype(16) << quint32(0xffffffff);
    QTest::newRow("too many files for the bytes") << qsizetype(16) << quint32(9'999'999);
    QTest::newRow("fewer files than stored") << qsizetype(16) << quint32(3);
    QTest::newRow("huge folder length") << qsizetype(20) << quint32(0xfffffff0);
    // The tail: the colour tolerance's high word (from the end) is one no
    // setting can hold.
    QTest::newRow("tolerance not a number") << qsizetype(-8) << quint32(0x7ff80000);
    QTest::newRow("tolerance over the limit") << qsizetype(-8) << quint32(0x408f4000); // 1000
    QTest::newRow("negative tolerance") << qsizetype(-8) << quint32(0xbff00000);
}

void TestListSnapshot::garbledIsRefused()
{
    QFETCH(qsizetype, at);
    QFETCH(quint32, value);
    const auto items = sampleList();
    QByteArray bytes = listsnapshot::encode(pointers(items), {}, 20);
    writeU32(bytes, at < 0 ? bytes.size() + at : at, value);
    listsnapshot::reseal(&bytes);
    std::vector<std::unique_ptr<FileItem>> back;
    QVERIFY(!listsnapshot::decode(bytes, &back));
    QVERIFY(back.empty());
}

// Every field of a file record is checked: a bad folder number, status,
// check box, name or summary row refuses the whole list.
void TestListSnapshot::badFieldsAreRefused()
{
    const Folder folder = makeFolder("/x");
    std::vector<std::unique_ptr<FileItem>> items;
    items.push_back(makeItem(folder, "one.tif", 2, {{210, 297, ColourClass::Grey}}));
    const QByteArray good = listsnapshot::encode(pointers(items));
    // Head 20, folder 4 + 2, then the file.
    const qsizetype file = 20 + 4 + 2;
    const qsizetype name = file + 4;
    const qsizetype status = name + 4 + 7 + 8 * 4 + 4;
    const qsizetype summary = status + 2;
    struct Change
    {
        qsizetype at;
        QByteArray bytes;
    };
    const QList<Change> changes = {
        {file, QByteArray("\x01\0\0\0", 4)},              // folder number
        {name + 4, "a/b.tif"},                            // a slash in a name
        {name + 4, QByteArray("on\0.tif", 7)},            // a NUL in a name
        {status, "\x0f"},                                 // no such status
        {status + 1, "\x02"},                             // check box
        {summary, QByteArray("\0\x10\0\0", 4)},           // too many summary rows
        {summary + 4, QByteArray("\xff\xff\xff\xff", 4)}, // no such size class
        {summary + 8, QByteArray("\0\0\0\0", 4)},         // a row of no pages
        {summary + 20, "\x09"},                           // no such colour
    };
    for (const Change &change : changes) {
        QByteArray bytes = good;
        bytes.replace(change.at, change.bytes.size(), change.bytes);
        QCOMPARE(bytes.size(), good.size());
        listsnapshot::reseal(&bytes);
        std::vector<std::unique_ptr<FileItem>> back;
        QVERIFY2(!listsnapshot::decode(bytes, &back), qPrintable(QString::number(change.at)));
        QVERIFY(back.empty());
    }
    std::vector<std::unique_ptr<FileItem>> back;
    QVERIFY(listsnapshot::decode(good, &back));
    QCOMPARE(back.size(), size_t(1));
}

// The fuzzer starts from these; they must stay lists it reads through. They
// are of version 2, before the added folders: such a list, kept by an older
// release, is read with none.
void TestListSnapshot::fuzzSeedsAreLists()
{
    const QString path = QFINDTESTDATA("../../fuzz/seeds/listsnapshot/two-folders.bin");
    QFile seed(path);
    QVERIFY2(seed.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray bytes = seed.readAll();
    std::vector<std::unique_ptr<FileItem>> back;
    QList<QByteArray> added = {"/left/over"};
    QString error;
    QVERIFY2(listsnapshot::decode(bytes, &back, &error, &added), qPrintable(error));
    QVERIFY(added.isEmpty());
    QCOMPARE(back.size(), size_t(3));
    QCOMPARE(back[1]->localPath(), QByteArray("/srv/caf\xe9/r\xe9sum\xe9.pdf"));
    QCOMPARE(back[0]->pageSummary().rows().size(), size_t(3));
    QCOMPARE(back[2]->countStatus(), CountStatus::Locked);
    QVERIFY(!back[2]->isChecked());
    // One form only: written again, the same bytes but for the version, the
    // count of no added folders and no tolerance.
    std::vector<const FileItem *> list;
    for (const auto &item : back)
        list.push_back(item.get());
    QByteArray now = bytes;
    writeU32(now, 8, 3);
    now.insert(now.size() - 4, QByteArray(4 + 8, '\0'));
    listsnapshot::reseal(&now);
    QCOMPARE(listsnapshot::encode(list), now);

    QFile withFolders(QFINDTESTDATA("../../fuzz/seeds/listsnapshot/added-folders.bin"));
    QVERIFY(withFolders.open(QIODevice::ReadOnly));
    double tolerance = 0;
    QVERIFY(listsnapshot::decode(withFolders.readAll(), &back, &error, &added, &tolerance));
    QCOMPARE(added, (QList<QByteArray>{"/srv", QByteArray("/srv/caf\xe9")}));
    QCOMPARE(tolerance, 20.0);

    QFile empty(QFINDTESTDATA("../../fuzz/seeds/listsnapshot/empty.bin"));
    QVERIFY(empty.open(QIODevice::ReadOnly));
    QVERIFY(listsnapshot::decode(empty.readAll(), &back));
    QVERIFY(back.empty());
}

QTEST_GUILESS_MAIN(TestListSnapshot)
#include "tst_listsnapshot.moc"
