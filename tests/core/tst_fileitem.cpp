#include "fileitem.h"
#include "filelist.h"
#include "localpath.h"
#include "samplefiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <string>

using namespace tallivo;

class TestFileItem : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sizeText_data();
    void sizeText();
    void derivedFromPath_data();
    void derivedFromPath();
    void displayFields();
    void measuresOnceAtCreation();
    void equalityIsByUrlText();
    void listKeepsTotalsAndUrlsInStep();
    void sortReordersListStablyByEveryKey();
    void moveWithinList();
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
    const auto row = [](const char *name, const char *path, const char *file, const char *location,
                        const char *type, const char *upper) {
        QTest::newRow(name) << path << file << location << type << upper;
    };
    row("plain", "/a/b/c.pdf", "c.pdf", "/a/b", "pdf", "PDF");
    row("upper case kept", "/a/scan.TIF", "scan.TIF", "/a", "TIF", "TIF");
    row("root folder", "/x.tiff", "x.tiff", "/", "tiff", "TIFF");
    row("no extension", "/a/README", "README", "/a", "", "");
    row("blanks and accents", "/srv/Ærkiv 2/fil é.Pdf", "fil é.Pdf", "/srv/Ærkiv 2", "Pdf", "PDF");
    row("percent and hash", "/d/100% #1.tif", "100% #1.tif", "/d", "tif", "TIF");
}

void TestFileItem::derivedFromPath()
{
    QFETCH(QString, path);
    const FileItem item(QUrl::fromLocalFile(path), 0, 0);
    QTEST(item.name(), "name");
    QTEST(item.location(), "location");
    QTEST(item.type(), "type");
    QTEST(item.typeToUpper(), "upper");
}

void TestFileItem::displayFields()
{
    FileItem item(QUrl::fromLocalFile(QStringLiteral("/nowhere/scan.TIF")), 7, 1500);
    item.setChecked(false);
    const QList<std::pair<Column, QVariant>> cases = {
        {Column::Pages, 7},     {Column::Size, "2 KB"},         {Column::Type, "TIF"},
        {Column::Check, false}, {Column::Location, "/nowhere"}, {Column::Name, "scan.TIF"},
        {Column::Modified, ""} /* the file is not there */};
    for (const auto &[column, value] : cases)
        QCOMPARE(item.displayField(column), value);
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
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QDateTime evening(QDate(2013, 3, 5), QTime(21, 7));
    QCOMPARE(FileItem::displayDate(evening), QStringLiteral("05-Mar-2013 9:07 PM"));
    QCOMPARE(FileItem::displayDate(evening.addSecs(-12 * 3600)),
             QStringLiteral("05-Mar-2013 9:07 AM"));
    QCOMPARE(item->displayField(Column::Modified).toString(), FileItem::displayDate(modified));

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
    list.sort({{Column::Name, true}});
    QCOMPARE(names(), QStringList({"file1.TIF", "File2.pdf", "file10.tif"}));
    list.sort({{Column::Size, false}});
    QCOMPARE(names(), QStringList({"file1.TIF", "file10.tif", "File2.pdf"}));
    // Ties keep their order; a second key breaks them.
    list.sort({{Column::Pages, false}});
    QCOMPARE(names(), QStringList({"file10.tif", "File2.pdf", "file1.TIF"}));
    list.sort({{Column::Pages, true}, {Column::Location, true}});
    QCOMPARE(names(), QStringList({"file1.TIF", "File2.pdf", "file10.tif"}));
    list.sort({{Column::Type, true}, {Column::Name, false}});
    QCOMPARE(names(), QStringList({"File2.pdf", "file10.tif", "file1.TIF"}));
    // Dates of missing files leave the order alone.
    list.sort({{Column::Modified, true}});
    QCOMPARE(names(), QStringList({"File2.pdf", "file10.tif", "file1.TIF"}));
    // Files without dates come before every dated one going up, after them
    // going down.
    list.at(0)->setFileTimes(2000, 2000, 2000);
    list.at(2)->setFileTimes(1000, 1000, 1000);
    for (Column column : {Column::Modified, Column::Created, Column::Accessed}) {
        list.sort({{column, true}});
        QCOMPARE(names(), QStringList({"file10.tif", "file1.TIF", "File2.pdf"}));
        list.sort({{column, false}});
        QCOMPARE(names(), QStringList({"File2.pdf", "file1.TIF", "file10.tif"}));
    }
}

void TestFileItem::moveWithinList()
{
    FileList list;
    for (const char *n : {"/a.tif", "/b.tif", "/c.tif", "/d.tif"})
        list.append(item(QString::fromLatin1(n), 1));
    list.move(0, 2);
    list.move(3, 0);
    list.move(3, 4); // out of range: nothing
    QString order;
    for (int i = 0; i < list.size(); ++i)
        order += list.at(i)->name().at(0);
    QCOMPARE(order, QStringLiteral("dbca"));
    list.reorder({3, 2, 1, 0});
    list.reorder({0, 1}); // not every row: nothing
    order.clear();
    for (int i = 0; i < list.size(); ++i)
        order += list.at(i)->name().at(0);
    QCOMPARE(order, QStringLiteral("acbd"));
}

QTEST_GUILESS_MAIN(TestFileItem)
#include "tst_fileitem.moc"
