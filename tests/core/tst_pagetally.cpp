#include "filelist.h"
#include "pagetally.h"

#include <QRandomGenerator>
#include <QTest>

#include <numeric>

using namespace tallivo;

namespace {

// A file as a run would list it: `pages` A4 pages, every other one in colour,
// with page details or without.
struct Sample
{
    QByteArray name;
    qint32 pages = 0;
    CountStatus status = CountStatus::Counted;
    bool checked = true;
    bool details = true;
};
using Samples = QList<Sample>;

std::unique_ptr<FileItem> fileOf(const Sample &sample, int n = 0)
{
    FileRecord record;
    record.folder = makeFolder(QByteArrayLiteral("/box/") + QByteArray::number(n));
    record.name = sample.name;
    record.pages = sample.pages;
    record.status = sample.status;
    record.checked = sample.checked;
    auto item = std::make_unique<FileItem>(std::move(record));
    if (sample.details && sample.pages > 0) {
        std::vector<PageInfo> pages;
        for (qint32 p = 0; p < sample.pages; ++p)
            pages.push_back({210.f, 297.f, p % 2 ? ColourClass::Colour : ColourClass::BlackWhite});
        item->setPageSummary(PageSummary::fromPages(pages, sample.pages));
    }
    return item;
}

// The tally made afresh from the list's files.
PageTally recount(const FileList &files)
{
    PageTally tally;
    for (int row = 0; row < files.size(); ++row)
        tally.add(*files.at(row));
    return tally;
}

QByteArray describe(const PageTally &t)
{
    return "files " + QByteArray::number(t.files()) + ", TIFF " +
           QByteArray::number(t.pages().tiffPages) + ", PDF " +
           QByteArray::number(t.pages().pdfPages) + ", checked " +
           QByteArray::number(t.checkedFiles()) + " (TIFF " +
           QByteArray::number(t.checkedPages().tiffPages) + ", PDF " +
           QByteArray::number(t.checkedPages().pdfPages) + "), uncounted " +
           QByteArray::number(t.uncounted()) + ", without details " +
           QByteArray::number(t.withoutDetails()) + ", table " +
           QByteArray::number(t.table().totals().total) + " pages of " +
           QByteArray::number(t.table().files()) + " files";
}

} // namespace

class TestPageTally : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void figuresOfASet_data();
    void figuresOfASet();
    void uncountedByReason();
    void listKeepsItsTallyThroughEdits();
    void tallyOfRowsIsTheirShare();
};

void TestPageTally::figuresOfASet_data()
{
    QTest::addColumn<Samples>("samples");
    // files, TIFF, PDF, checked files, checked TIFF, checked PDF, uncounted,
    // without details, pages in the table
    QTest::addColumn<QList<qint64>>("expected");
    QTest::newRow("empty") << Samples{} << QList<qint64>{0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("types") << Samples{{"a.tif", 3}, {"b.PDF", 5}, {"c.tiff", 2}, {"d.txt", 0}}
                           << QList<qint64>{4, 5, 5, 4, 5, 5, 0, 0, 10};
    QTest::newRow("unchecked") << Samples{{"a.tif", 3, CountStatus::Counted, false},
                                          {"b.pdf", 5},
                                          {"c.pdf", 7, {}, false}}
                               << QList<qint64>{3, 3, 12, 1, 0, 5, 0, 0, 15};
    QTest::newRow("uncounted") << Samples{{"a.pdf", 0, CountStatus::Locked},
                                          {"b.tif", 2, CountStatus::CutShort, false},
                                          {"c.pdf", 4}}
                               << QList<qint64>{3, 2, 4, 2, 0, 4, 2, 0, 6};
    QTest::newRow("without details")
        << Samples{{"a.pdf", 4, {}, true, false}, {"b.pdf", 0, {}, true, false}, {"c.tif", 1}}
        << QList<qint64>{3, 1, 4, 3, 1, 4, 0, 1, 1};
}

void TestPageTally::figuresOfASet()
{
    QFETCH(Samples, samples);
    QFETCH(QList<qint64>, expected);
    std::vector<std::unique_ptr<FileItem>> files;
    for (const Sample &sample : std::as_const(samples))
        files.push_back(fileOf(sample, int(files.size())));
    PageTally all;
    for (const auto &f : files)
        all.add(*f);
    const QList<qint64> figures{
        all.files(),        all.pages().tiffPages,        all.pages().pdfPages,
        all.checkedFiles(), all.checkedPages().tiffPages, all.checkedPages().pdfPages,
        all.uncounted(),    all.withoutDetails(),         all.table().totals().total};
    QCOMPARE(figures, expected);

    // Two parts add up to the whole, and the whole less one part is the
    // other, whatever the split.
    for (size_t split = 0; split <= files.size(); ++split) {
        PageTally first;
        PageTally second;
        for (size_t i = 0; i < files.size(); ++i)
            (i < split ? first : second).add(*files[i]);
        PageTally sum = first;
        sum += second;
        QVERIFY2(sum == all, (describe(sum) + " vs " + describe(all)).constData());
        PageTally rest = all;
        rest -= first;
        QVERIFY2(rest == second, (describe(rest) + " vs " + describe(second)).constData());
    }
    // Taking every file away, in another order, leaves nothing at all.
    for (auto f = files.rbegin(); f != files.rend(); ++f)
        all.remove(**f);
    QVERIFY2(all == PageTally(), describe(all).constData());
    QVERIFY(all.table().isEmpty());
}

void TestPageTally::uncountedByReason()
{
    PageTally tally;
    const std::vector<CountStatus> statuses{CountStatus::Locked,  CountStatus::Damaged,
                                            CountStatus::Damaged, CountStatus::Missing,
                                            CountStatus::Counted, CountStatus::TookTooLong};
    std::vector<std::unique_ptr<FileItem>> files;
    for (CountStatus status : statuses) {
        files.push_back(fileOf({"f.pdf", 1, status}, int(files.size())));
        tally.add(*files.back());
    }
    QCOMPARE(tally.uncounted(), qint64(5));
    QCOMPARE(tally.uncounted(CountStatus::Damaged), qint64(2));
    QCOMPARE(tally.uncounted(CountStatus::Locked), qint64(1));
    QCOMPARE(tally.uncounted(CountStatus::Counted), qint64(0));
    QCOMPARE(tally.uncounted(CountStatus::NotAFile), qint64(0));
    tally.remove(*files[1]);
    QCOMPARE(tally.uncounted(), qint64(4));
    QCOMPARE(tally.uncounted(CountStatus::Damaged), qint64(1));
    qint64 sum = 0;
    for (int s = 1; s <= int(kLastCountStatus); ++s)
        sum += tally.uncounted(CountStatus(s));
    QCOMPARE(sum, tally.uncounted());
}

void TestPageTally::listKeepsItsTallyThroughEdits()
{
    // Every way the list changes, over files of every kind, the checked
    // and unchecked ones mixed: the kept tally is the one counted afresh.
    QRandomGenerator random(7);
    const auto randomSample = [&random](int n) {
        static const char *const names[] = {"a.tif", "b.pdf", "c.TIFF", "d.Pdf", "e.txt"};
        Sample sample;
        sample.name = QByteArray::number(n) + names[random.bounded(5)];
        sample.pages = qint32(random.bounded(6));
        sample.status = random.bounded(4) == 0 ? CountStatus::Damaged : CountStatus::Counted;
        sample.checked = random.bounded(3) != 0;
        sample.details = random.bounded(2) == 0;
        return sample;
    };
    FileList list;
    int made = 0;
    const auto appendSome = [&](int n) {
        for (int i = 0; i < n; ++i, ++made)
            QVERIFY(list.append(fileOf(randomSample(made), made)));
    };
    const auto check = [&list](const char *step) {
        const PageTally fresh = recount(list);
        QVERIFY2(list.tally() == fresh,
                 (QByteArray(step) + ": " + describe(list.tally()) + " vs " + describe(fresh))
                     .constData());
        QCOMPARE(list.totals(), fresh.pages());
    };
    appendSome(60);
    check("append");
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 10; ++i)
            list.setChecked(random.bounded(list.size()), random.bounded(2) == 0);
        check("check boxes");
        const int row = random.bounded(list.size());
        list.update(row, [](FileItem &item) {
            if (item.pageSummary().isEmpty())
                item.setPageSummary(
                    PageSummary::fromPages({{100.f, 100.f, ColourClass::Grey}}, item.pages()));
            item.setCountStatus(CountStatus::Counted);
        });
        check("details read");
        const int first = random.bounded(list.size() - 10);
        std::vector<FileBlock> blocks =
            list.takeBlocks({{first, first + 3}, {first + 6, first + 9}});
        check("blocks taken");
        // Their check boxes change while they are off the list, as an undo
        // puts back what was taken.
        for (FileBlock &block : blocks) {
            block.items.front()->setChecked(!block.items.front()->isChecked());
            block.pages.clear();
        }
        list.putBlocks(std::move(blocks));
        check("blocks put back");
        list.removeRows({random.bounded(list.size()), random.bounded(list.size())});
        check("rows removed");
        appendSome(2);
        check("appended");
    }
    FileList other;
    std::swap(list, other);
    QVERIFY(list.tally() == PageTally());
    std::swap(list, other);
    check("swapped back");
    list.clear();
    QVERIFY(list.tally() == PageTally());
}

void TestPageTally::tallyOfRowsIsTheirShare()
{
    FileList list;
    for (int i = 0; i < 20; ++i)
        list.append(fileOf({i % 3 ? "x.tif" : "x.pdf", i, CountStatus::Counted, i % 2 == 0}, i));
    const QList<int> rows{1, 4, 5, 19};
    PageTally some = list.tallyOf(rows);
    QCOMPARE(some.files(), qint64(4));
    QCOMPARE(some.pages(), list.totalsOf(rows));
    QCOMPARE(some.pages(), list.totalsOf(QList<RowRange>{{1, 1}, {4, 5}, {19, 19}}));
    QCOMPARE(some.checkedFiles(), qint64(1));
    QList<int> all(list.size());
    std::iota(all.begin(), all.end(), 0);
    QVERIFY(list.tallyOf(all) == list.tally());
    // Rows past the list are no files.
    QCOMPARE(list.tallyOf({-1, 20, 3}).files(), qint64(1));
}

QTEST_GUILESS_MAIN(TestPageTally)
#include "tst_pagetally.moc"
