#include "fileitem.h"
#include "filelist.h"
#include "localpath.h"
#include "samplefiles.h"
#include "walk.h"

#include <QCollator>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <ctime>
#include <numeric>
#include <set>
#include <string>
#include <tuple>

using namespace tallivo;

class TestFileItem : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sizeText_data();
    void sizeText();
    void derivedFromPath_data();
    void derivedFromPath();
    void measuresOnceAtCreation();
    void equalityIsByUrlText();
    void listKeepsTotalsAndUrlsInStep();
    void sortReordersListStablyByEveryKey();
    void textSortsMatchAKeyPerRow();
    void detailsOnlyWhereCounted();
    void filesOfAFolderShareItsRecord();
    void duplicatesAreFoundByPathBytes();
    void keySetMatchesAPlainSet();
};

void TestFileItem::sizeText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << Q_INT64_C(0) << "0 KB";
    QTest::newRow("499") << Q_INT64_C(499) << "0 KB";
    QTest::newRow("500 rounds up") << Q_INT64_C(500) << "1 KB";
    QTest::newRow("999500") << Q_INT64_C(999500) << "1000 KB";
    QTest::newRow("1000001") << Q_INT64_C(1000001) << " 1 MB";
    QTest::newRow("1050000 single precision") << Q_INT64_C(1050000) << " 1 MB";
    QTest::newRow("1500000") << Q_INT64_C(1500000) << " 1.5 MB";
    QTest::newRow("2000000") << Q_INT64_C(2000000) << " 2 MB";
    QTest::newRow("1500000000") << Q_INT64_C(1500000000) << " 1.5 GB";
    QTest::newRow("2147483647") << Q_INT64_C(2147483647) << " 2.1 GB";
    QTest::newRow("9999999") << Q_INT64_C(9999999) << "10 MB";
    QTest::newRow("123456789") << Q_INT64_C(123456789) << "123.5 MB";
    QTest::newRow("1000001000") << Q_INT64_C(1000001000) << " 1 GB";
    QTest::newRow("5 GiB") << Q_INT64_C(5368709120) << " 5.4 GB";
    QTest::newRow("tie rounds to even") << Q_INT64_C(526249984) << "526.2 MB";
    QTest::newRow("2 TiB") << Q_INT64_C(2199023255552) << " 2.2 TB";
}

void TestFileItem::sizeText()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(FileItem::sizeText(bytes), text);
    // The same text whatever the C library's numeric locale (Qt sets it
    // from the environment): "1,5 MB" in German would be wrong.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char *name : {"de_DE.UTF-8", "tr_TR.UTF-8", "fr_FR.UTF-8"}) {
        if (!std::setlocale(LC_ALL, name))
            continue;
        const QString inLocale = FileItem::sizeText(bytes);
        std::setlocale(LC_ALL, saved.c_str());
        QCOMPARE(inLocale, text);
    }
    std::setlocale(LC_ALL, saved.c_str());
}

void TestFileItem::derivedFromPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("upper");
    QTest::addColumn<PageGroup>("group");
    const auto row = [](const char *name, const char *path, const char *file, const char *location,
                        const char *type, const char *upper, PageGroup group) {
        QTest::newRow(name) << QString::fromUtf8(path) << QString::fromUtf8(file)
                            << QString::fromUtf8(location) << QString::fromUtf8(type)
                            << QString::fromUtf8(upper) << group;
    };
    row("plain", "/a/b/c.pdf", "c.pdf", "/a/b", "pdf", "PDF", PageGroup::Pdf);
    row("upper case kept", "/a/scan.TIF", "scan.TIF", "/a", "TIF", "TIF", PageGroup::Tiff);
    row("mixed case", "/a/x.tIfF", "x.tIfF", "/a", "tIfF", "TIFF", PageGroup::Tiff);
    row("no extension", "/a/README", "README", "/a", "", "", PageGroup::None);
    row("a leading dot starts none", "/a/.pdf", ".pdf", "/a", "", "", PageGroup::None);
    row("blanks and accents", "/srv/Ærkiv 2/fil é.Pdf", "fil é.Pdf", "/srv/Ærkiv 2", "Pdf", "PDF",
        PageGroup::Pdf);
    row("percent and hash", "/d/100% #1.tif", "100% #1.tif", "/d", "tif", "TIF", PageGroup::Tiff);
    // Grouped by the upper-case text shown, as before: a dotless i is an I.
    row("dotless i", "/d/x.t\u0131f", "x.t\u0131f", "/d", "t\u0131f", "TIF", PageGroup::Tiff);
}

void TestFileItem::derivedFromPath()
{
    QFETCH(QString, path);
    const FileItem item(QUrl::fromLocalFile(path), 0, 0);
    QTEST(item.name(), "name");
    QTEST(item.location(), "location");
    QTEST(item.type(), "type");
    QTEST(item.typeToUpper(), "upper");
    QTEST(pageGroupOf(item), "group");
}

void TestFileItem::measuresOnceAtCreation()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("three.tif"));
    QVERIFY(test::writeTiff(path, 3));
    auto item = FileItem::create(QUrl::fromLocalFile(path));
    QVERIFY(item);
    QVERIFY(item->isChecked());
    QCOMPARE(item->pages(), 3);
    QVERIFY(item->size() > 0);
    QVERIFY(item->dateModified().isValid());

    const QDateTime modified = QFileInfo(path).lastModified();
    QCOMPARE(item->dateModified(), modified);

    // Not a file URL: no item at all.
    QVERIFY(!FileItem::create(QUrl(QStringLiteral("https://example.com/a.pdf"))));
    QVERIFY(!FileItem::create(QUrl()));
    // A missing file still makes an item, with nothing measured.
    auto missing = FileItem::create(QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone.pdf"))));
    QVERIFY(missing);
    QCOMPARE(missing->pages(), 0);
    QCOMPARE(missing->size(), 0);

    QCOMPARE(missing->countStatus(), CountStatus::Missing);
    QVERIFY(!missing->dateModified().isValid());

    // Gone after listing: what was measured stays, the disk is not asked again.
    QVERIFY(QFile::remove(path));
    QCOMPARE(item->name(), QStringLiteral("three.tif"));
    QCOMPARE(item->pages(), 3);
    QCOMPARE(item->dateModified(), modified);
}

void TestFileItem::equalityIsByUrlText()
{
    const QUrl url = QUrl::fromLocalFile(QStringLiteral("/a/b.tif"));
    FileItem a(url, 1, 10), b(url, 9, 99);
    b.setChecked(false);
    QVERIFY(a == b);
    FileItem other(QUrl::fromLocalFile(QStringLiteral("/a/./b.tif")), 1, 10);
    QVERIFY(!(a == other));
    // Names that differ only in bytes that are not UTF-8 are different files.
    FileItem latin1(urlFromLocalPath("/a/\xe9.tif"), 1, 10);
    FileItem latin1e8(urlFromLocalPath("/a/\xe8.tif"), 1, 10);
    QVERIFY(!(latin1 == latin1e8));
    QCOMPARE(latin1.nameBytes(), QByteArray("\xe9.tif"));
    QCOMPARE(latin1.name(), QString::fromUtf8("é.tif"));
}

static std::unique_ptr<FileItem> item(const QString &path, qint32 pages, qint32 size = 0)
{
    return std::make_unique<FileItem>(QUrl::fromLocalFile(path), pages, size);
}

void TestFileItem::listKeepsTotalsAndUrlsInStep()
{
    FileList list;
    QVERIFY(list.append(item(QStringLiteral("/a.tif"), 4)));
    QVERIFY(list.append(item(QStringLiteral("/b.PDF"), 10)));
    QVERIFY(list.append(item(QStringLiteral("/c.Tiff"), 2)));
    QVERIFY(list.append(item(QStringLiteral("/d.txt"), 5)));
    QVERIFY(!list.append(item(QStringLiteral("/a.tif"), 100)));
    QVERIFY(!list.append(nullptr));
    QCOMPARE(list.size(), 4);
    QCOMPARE(list.totals().tiffPages, 6);
    QCOMPARE(list.totals().pdfPages, 10);
    QCOMPARE(list.totalsOf({0, 1, 3, 42}).tiffPages, 4);
    QCOMPARE(list.totalsOf({0, 1, 3, 42}).pdfPages, 10);

    list.removeRows({2, 0, 2});
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0)->name(), QStringLiteral("b.PDF"));
    QCOMPARE(list.totals().tiffPages, 0);
    QCOMPARE(list.totals().pdfPages, 10);
    // A removed file may be added again.
    QVERIFY(list.append(item(QStringLiteral("/a.tif"), 4)));
    QCOMPARE(list.totals().tiffPages, 4);
    list.clear();
    QVERIFY(list.isEmpty());
    QCOMPARE(list.totals().pdfPages, 0);
    QVERIFY(list.append(item(QStringLiteral("/b.PDF"), 1)));

    // Totals pass 2^31 without wrapping, and come back down.
    list.clear();
    for (const char *name : {"/1.tif", "/2.TIFF", "/3.Tif", "/4.pdf", "/5.pdf"})
        QVERIFY(list.append(item(QString::fromLatin1(name), 2'000'000'000)));
    QCOMPARE(list.totals().tiffPages, qint64(6'000'000'000));
    QCOMPARE(list.totals().pdfPages, qint64(4'000'000'000));
    QCOMPARE(list.totalsOf({0, 2, 3}).tiffPages, qint64(4'000'000'000));
    list.removeRows({1});
    QCOMPARE(list.totals().tiffPages, qint64(4'000'000'000));
}

void TestFileItem::sortReordersListStablyByEveryKey()
{
    // Names sort by the collation of the user's locale.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    FileList list;
    list.append(item(QStringLiteral("/z/file10.tif"), 3, 5000));
    list.append(item(QStringLiteral("/y/File2.pdf"), 3, 100));
    list.append(item(QStringLiteral("/x/file1.TIF"), 1, 9000));
    auto names = [&] {
        QStringList n;
        for (int i = 0; i < list.size(); ++i)
            n << list.at(i)->name();
        return n;
    };
    list.sort({{SortKey::Name, true}});
    QCOMPARE(names(), QStringList({"file1.TIF", "File2.pdf", "file10.tif"}));
    list.sort({{SortKey::Size, false}});
    QCOMPARE(names(), QStringList({"file1.TIF", "file10.tif", "File2.pdf"}));
    // Ties keep their order; a second key breaks them.
    list.sort({{SortKey::Pages, false}});
    QCOMPARE(names(), QStringList({"file10.tif", "File2.pdf", "file1.TIF"}));
    list.sort({{SortKey::Pages, true}, {SortKey::Folder, true}});
    QCOMPARE(names(), QStringList({"file1.TIF", "File2.pdf", "file10.tif"}));
    list.sort({{SortKey::Type, true}, {SortKey::Name, false}});
    QCOMPARE(names(), QStringList({"File2.pdf", "file10.tif", "file1.TIF"}));
    // Dates of missing files leave the order alone.
    list.sort({{SortKey::Modified, true}});
    QCOMPARE(names(), QStringList({"File2.pdf", "file10.tif", "file1.TIF"}));
    // Files without dates come before every dated one going up, after them
    // going down.
    list.update(0, [](FileItem &item) { item.setFileTimes(2000, 2000, 2000); });
    list.update(2, [](FileItem &item) { item.setFileTimes(1000, 1000, 1000); });
    for (SortKey key : {SortKey::Modified, SortKey::Created, SortKey::Accessed}) {
        list.sort({{key, true}});
        QCOMPARE(names(), QStringList({"file10.tif", "file1.TIF", "File2.pdf"}));
        list.sort({{key, false}});
        QCOMPARE(names(), QStringList({"File2.pdf", "file1.TIF", "file10.tif"}));
    }
}

void TestFileItem::textSortsMatchAKeyPerRow()
{
    // Texts sort by distinct values; the order must be the one a key per
    // row gives: repeated names and folders (some under separate folder
    // records), case, numbers, bytes that are not UTF-8, no extension.
    const QList<QByteArray> folders = {"/a",           "/A",     "/b/10",  "/b/9",
                                       "/b/\xe9t\xe9", "/b/été", "/b/\xff"};
    const QList<QByteArray> stems = {"scan", "Scan", "scan2",  "scan10", "SCAN 02",
                                     "\xe9", "é",    "x\x80y", "",       ".hidden"};
    const QList<QByteArray> extensions = {".tif", ".TIF", ".pdf", ".Pdf", "", ".tiff", ".\xe9"};
    QRandomGenerator random(2101);
    std::vector<std::unique_ptr<FileItem>> items;
    PathSet paths;
    QList<Folder> records;
    for (const QByteArray &path : folders)
        records.append(makeFolder(path));
    for (int i = 0; i < 600; ++i) {
        FileRecord record;
        const qsizetype f = random.bounded(int(folders.size()));
        // Now the folder's own record, now another one of the same path.
        record.folder = random.bounded(3) ? records[f] : makeFolder(folders[f]);
        record.name = stems[random.bounded(int(stems.size()))] +
                      QByteArray::number(random.bounded(3)) +
                      extensions[random.bounded(int(extensions.size()))];
        record.pages = i; // tells the rows apart
        auto item = std::make_unique<FileItem>(std::move(record));
        if (paths.insert(item->key()))
            items.push_back(std::move(item));
    }
    const auto textOf = [](const FileItem &item, SortKey key) {
        return key == SortKey::Name   ? item.name()
               : key == SortKey::Type ? item.type()
                                      : item.location();
    };
    const QList<QList<SortDescriptor>> sorts = {
        {{SortKey::Name, true}},
        {{SortKey::Name, false}},
        {{SortKey::Type, true}},
        {{SortKey::Folder, false}},
        {{SortKey::Folder, true}, {SortKey::Type, false}, {SortKey::Name, true}},
        {{SortKey::Type, false}, {SortKey::Pages, false}},
    };
    const QLocale before;
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::Swedish, QLocale::Sweden)}) {
        QLocale::setDefault(locale);
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        collator.setNumericMode(true);
        for (const QList<SortDescriptor> &sort : sorts) {
            FileList list;
            for (const auto &item : items)
                list.append(item->clone());
            list.sort(sort);
            // Each row's value for each key, a stable sort on all of them.
            std::vector<int> expected(items.size());
            std::iota(expected.begin(), expected.end(), 0);
            std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
                for (const SortDescriptor &d : sort) {
                    const FileItem &x = *items[size_t(d.ascending ? a : b)];
                    const FileItem &y = *items[size_t(d.ascending ? b : a)];
                    const int c =
                        d.key == SortKey::Pages
                            ? x.pages() - y.pages()
                            : collator.sortKey(textOf(x, d.key).toCaseFolded())
                                  .compare(collator.sortKey(textOf(y, d.key).toCaseFolded()));
                    if (c != 0)
                        return c < 0;
                }
                return false;
            });
            QCOMPARE(size_t(list.size()), items.size());
            for (int row = 0; row < list.size(); ++row)
                QCOMPARE(list.at(row)->pages(), items[size_t(expected[size_t(row)])]->pages());
        }
    }
    QLocale::setDefault(before);
}

// Page details take room only on the files counted with them, and go along
// when an item is copied.
void TestFileItem::detailsOnlyWhereCounted()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("two.tif"));
    QVERIFY(test::writeTiff(path, 2));
    const auto plain = FileItem::create(QUrl::fromLocalFile(path));
    QVERIFY(plain->pageSummary().isEmpty());
    QVERIFY(!plain->pageInfo());
    const auto detailed =
        FileItem::create(QUrl::fromLocalFile(path), EntryType::Unknown, PageDetails::Pages);
    QCOMPARE(detailed->pages(), 2);
    QVERIFY(!detailed->pageSummary().isEmpty());
    QVERIFY(detailed->pageInfo());
    QCOMPARE(detailed->pageInfo()->size(), size_t(2));

    const auto copy = detailed->clone();
    QVERIFY(*copy == *detailed);
    QCOMPARE(copy->pageSummary(), detailed->pageSummary());
    QCOMPARE(copy->pageInfo()->size(), size_t(2));
    QCOMPARE(copy->fileTimeMSecs(FileItem::FileTime::Modified),
             detailed->fileTimeMSecs(FileItem::FileTime::Modified));
    // An empty summary takes the summary away, not the pages.
    copy->setPageSummary({});
    QVERIFY(copy->pageSummary().isEmpty());
    QVERIFY(copy->pageInfo());
    FileItem bare(QUrl::fromLocalFile(path), 2, 1);
    bare.setPageSummary(detailed->pageSummary());
    QVERIFY(!bare.pageSummary().isEmpty());
    bare.setPageSummary({});
    QVERIFY(bare.pageSummary().isEmpty());
}

// A walk names each folder once: its files share the record, and so do the
// items made of them; files given one by one share it where they follow one
// another in the same folder.
void TestFileItem::filesOfAFolderShareItsRecord()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("sub")));
    for (const char *name : {"a.tif", "b.pdf", "sub/c.tif", "sub/d.tif"})
        QVERIFY(test::writeTiff(dir.filePath(QString::fromLatin1(name)), 1));
    const std::atomic_bool keepGoing{true};
    Arguments folders{{QUrl::fromLocalFile(dir.path())}, true, true};
    Walk walk(folders, keepGoing, false);
    std::vector<Walk::Found> found;
    while (auto f = walk.next())
        found.push_back(*f);
    QCOMPARE(found.size(), size_t(4));
    QCOMPARE(found[0].folder.data(), found[1].folder.data());
    QCOMPARE(found[2].folder.data(), found[3].folder.data());
    QVERIFY(found[1].folder.data() != found[2].folder.data());
    QCOMPARE(found[3].path(), QFile::encodeName(dir.filePath(QStringLiteral("sub/d.tif"))));
    const auto c = FileItem::create(found[2].folder, found[2].name, found[2].type);
    const auto d = FileItem::create(found[3].folder, found[3].name, found[3].type);
    QCOMPARE(c->folder().data(), d->folder().data());
    QCOMPARE(d->location(), dir.filePath(QStringLiteral("sub")));
    QCOMPARE(d->urlText(),
             QUrl::fromLocalFile(dir.filePath(QStringLiteral("sub/d.tif"))).toString());

    Arguments files{{QUrl::fromLocalFile(dir.filePath(QStringLiteral("a.tif"))),
                     QUrl::fromLocalFile(dir.filePath(QStringLiteral("b.pdf"))),
                     QUrl::fromLocalFile(dir.filePath(QStringLiteral("sub/c.tif"))),
                     QUrl(QStringLiteral("https://example.com/x.pdf"))},
                    false,
                    false};
    Walk given(files, keepGoing, false);
    found.clear();
    while (auto f = given.next())
        found.push_back(*f);
    // Only local files can be counted.
    QCOMPARE(found.size(), size_t(3));
    QCOMPARE(found[0].folder.data(), found[1].folder.data());
    QVERIFY(found[1].folder.data() != found[2].folder.data());
    QCOMPARE(found[2].name, QByteArray("c.tif"));
}

void TestFileItem::duplicatesAreFoundByPathBytes()
{
    QCOMPARE(pathKey("/a/b.tif"), pathKey(QByteArray("/a/b.tif")));
    QVERIFY(pathKey("/a/\xe9.tif") != pathKey("/a/\xe8.tif"));
    QVERIFY(pathKey("/a/b.tif") != pathKey("/a/b.tif/"));
    QVERIFY(pathKey("") != pathKey("/"));
    FileList list;
    QVERIFY(list.append(std::make_unique<FileItem>(urlFromLocalPath("/a/\xe9.tif"), 1, 1)));
    QVERIFY(list.append(std::make_unique<FileItem>(urlFromLocalPath("/a/\xe8.tif"), 1, 1)));
    // The same bytes however the item was made.
    FileRecord record;
    record.folder = makeFolder("/a");
    record.name = "\xe9.tif";
    QVERIFY(!list.append(std::make_unique<FileItem>(record)));
    QVERIFY(list.contains(pathKey("/a/\xe9.tif")));
    QVERIFY(list.pathKeys().contains(pathKey("/a/\xe8.tif")));
    list.removeRows({0});
    QVERIFY(!list.contains(pathKey("/a/\xe9.tif")));
    QVERIFY(list.append(std::make_unique<FileItem>(record)));
}

void TestFileItem::keySetMatchesAPlainSet()
{
    // Keys from few values, so that runs of neighbouring slots form and
    // removals in their middle must close them up; the zero key too.
    QRandomGenerator random(21);
    const auto someKey = [&random] {
        return PathKey{quint64(random.bounded(40)) * (quint64(1) << 58) +
                           quint64(random.bounded(3)),
                       quint64(random.bounded(2))};
    };
    PathSet set;
    std::set<std::pair<quint64, quint64>> plain;
    const auto same = [&](const PathSet &s) {
        if (s.size() != qsizetype(plain.size()))
            return false;
        for (quint64 high = 0; high < 40; ++high) {
            for (quint64 low = 0; low < 3; ++low) {
                for (quint64 second = 0; second < 2; ++second) {
                    const PathKey key{high * (quint64(1) << 58) + low, second};
                    if (s.contains(key) != (plain.count({key.first, key.second}) > 0))
                        return false;
                }
            }
        }
        return true;
    };
    PathSet before;
    std::set<std::pair<quint64, quint64>> plainBefore;
    for (int round = 0; round < 3000; ++round) {
        const PathKey key = someKey();
        switch (random.bounded(5)) {
        case 0:
        case 1:
            QCOMPARE(set.insert(key), plain.insert({key.first, key.second}).second);
            break;
        case 2:
            QCOMPARE(set.remove(key), plain.erase({key.first, key.second}) > 0);
            break;
        case 3: {
            // Many at once, with repeats.
            std::vector<PathKey> keys(size_t(random.bounded(60)));
            for (PathKey &k : keys)
                k = someKey();
            if (random.bounded(2)) {
                set.insert(keys);
                for (const PathKey &k : keys)
                    plain.insert({k.first, k.second});
            } else {
                set.remove(keys);
                for (const PathKey &k : keys)
                    plain.erase({k.first, k.second});
            }
            break;
        }
        default:
            // A copy keeps what it had while the set goes on changing.
            QVERIFY(same(set));
            QVERIFY(before.size() == qsizetype(plainBefore.size()));
            for (const auto &[first, second] : plainBefore)
                QVERIFY(before.contains({first, second}));
            before = set;
            plainBefore = plain;
            break;
        }
        if (random.bounded(200) == 0) {
            set.clear();
            plain.clear();
        }
    }
    QVERIFY(same(set));
    // A large batch, taken again in parts.
    std::vector<PathKey> many(50000);
    for (PathKey &k : many)
        k = {random.generate64(), random.generate64()};
    PathSet big;
    big.insert(many);
    QCOMPARE(big.size(), qsizetype(many.size()));
    big.remove(std::vector<PathKey>(many.begin(), many.begin() + 45000));
    QCOMPARE(big.size(), qsizetype(5000));
    for (size_t i = 0; i < many.size(); i += 97)
        QCOMPARE(big.contains(many[i]), i >= 45000);
}

QTEST_GUILESS_MAIN(TestFileItem)
#include "tst_fileitem.moc"
