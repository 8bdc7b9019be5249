#include "colourtolerance.h"
#include "detailsreader.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "iopool.h"
#include "pdfworkers.h"
#include "samplefiles.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <thread>

using namespace tallivo;

namespace {

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

// A PDF of `pages` pages whose cross-reference section is a compressed
// stream, as most PDFs written today have: reading it inflates.
QByteArray pdfWithXrefStream(int pages)
{
    QList<QByteArray> objects;
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += number(3 + i) + " 0 R ";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + number(pages) + " >>";
    for (int i = 0; i < pages; ++i)
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>";
    QByteArray out = "%PDF-1.5\n";
    QList<qint64> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << out.size();
        out += number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const int xrefNum = int(objects.size()) + 1;
    offsets << out.size();
    QByteArray entries;
    for (int num = 0; num <= xrefNum; ++num) {
        const qint64 field = num == 0 ? 0 : offsets[num - 1];
        entries += char(num == 0 ? 0 : 1);
        for (int shift = 24; shift >= 0; shift -= 8)
            entries += char((field >> shift) & 0xff);
        entries += char(0);
        entries += char(0);
    }
    const QByteArray packed = qCompress(entries).mid(4); // zlib, as FlateDecode holds it
    out += number(xrefNum) + " 0 obj\n<< /Type /XRef /Size " + number(xrefNum + 1) +
           " /W [1 4 2] /Root 1 0 R /Filter /FlateDecode /Length " + number(packed.size()) +
           " >>\nstream\n" + packed + "\nendstream\nendobj\n";
    return out + "startxref\n" + number(offsets.last()) + "\n%%EOF\n";
}

qint64 pagesOf(const FileTableModel &model, ColourClass colour)
{
    return model.tally().table().totals().pages[size_t(colour)];
}

} // namespace

class TestDetailsReader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void manyPdfsThroughFewParseSlots();
    void nestedSlotsRideOnTheFirst();
    void lostColoursAreMarked();
    void coloursFollowTheTolerance();
    void answersOfAnOlderToleranceAreDropped();
    void droppingReachesMovedAndUndoneFiles();
};

void TestDetailsReader::initTestCase()
{
    // Two parse slots, whatever the machine, read before the first is taken.
    qputenv("TALLIVO_PARSE_SLOTS", "2");
    qputenv("TALLIVO_PDFWORKER", TALLIVO_PDFWORKER_TEST_BINARY);
    qputenv("TALLIVO_PDFWORKER_TEST_FAULTS", "1");
}

void TestDetailsReader::manyPdfsThroughFewParseSlots()
{
    // More files under way than parse slots, each of which inflates its
    // cross-reference stream: all of them are read, none waits for good.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FileTableModel model;
    for (int i = 0; i < 8; ++i) {
        const QString path = dir.filePath(QStringLiteral("x%1.pdf").arg(i));
        QVERIFY(test::writeBytes(path, pdfWithXrefStream(i % 3 + 1)));
        test::appendFile(model, path, i % 3 + 1);
    }
    QCOMPARE(model.tally().withoutDetails(), 8);
    DetailsReader reader(model);
    QSignalSpy finished(&reader, &DetailsReader::finished);
    reader.readMissing();
    QVERIFY(reader.isReading());
    QVERIFY(finished.wait(120000));
    QTRY_COMPARE(model.tally().withoutDetails(), 0);
    const PageTable table = model.tally().table();
    QCOMPARE(table.totals().total, qint64(3 * 1 + 3 * 2 + 2 * 3));
    QCOMPARE(table.rows().size(), size_t(1));
    QCOMPARE(table.rows().front().size.label(), QStringLiteral("A4"));
}

void TestDetailsReader::nestedSlotsRideOnTheFirst()
{
    // Both slots held by other threads: a thread that holds one takes
    // another without waiting for theirs.
    QVERIFY(!ParseSlot::heldByThisThread());
    std::mutex mutex;
    std::condition_variable changed;
    int holding = 0;
    bool release = false;
    std::thread other([&] {
        ParseSlot slot;
        std::unique_lock lock(mutex);
        ++holding;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        ParseSlot outer;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return holding == 1; });
        }
        ParseSlot inner; // the gate is full: this would wait for good
        QVERIFY(ParseSlot::heldByThisThread());
    }
    QVERIFY(!ParseSlot::heldByThisThread());
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    other.join();
}

void TestDetailsReader::lostColoursAreMarked()
{
    // A worker that dies in the colour pass: the count stands, the colours
    // are Unknown, and the Colour cell says why, with the mark of a lost count.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray pdf = test::pdfBytes(2);
    pdf.insert(pdf.indexOf('\n') + 1, "%TALLIVO-TEST-FAULT crashcolour\n");
    const QString path = dir.filePath(QStringLiteral("lost.pdf"));
    QVERIFY(test::writeBytes(path, pdf));
    FileTableModel model;
    test::appendFile(model, path, 2);
    DetailsReader reader(model);
    QSignalSpy finished(&reader, &DetailsReader::finished);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                           "lost\\.pdf: page colours not read: the PDF library")));
    reader.readMissing();
    QVERIFY(finished.wait(120000));
    QTRY_COMPARE(model.tally().withoutDetails(), 0);
    QCOMPARE(model.tally().table().totals().pages[size_t(ColourClass::Unknown)], qint64(2));
    const QModelIndex colour = model.index(0, int(Column::Colour));
    QCOMPARE(colour.data(Qt::ToolTipRole).toString(),
             QStringLiteral("Page colours could not be read: ") +
                 countStatusText(CountStatus::LibraryFailed));
    QVERIFY(!colour.data(Qt::DecorationRole).isNull());
    QVERIFY(model.index(0, int(Column::Pages)).data(Qt::DecorationRole).isNull());
}

void TestDetailsReader::coloursFollowTheTolerance()
{
    // A logo above the tolerance makes the page Colour, below it B/W, each
    // time the tolerance changes; a TIFF's details stay as they were.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("logo.pdf"));
    const QString tiff = dir.filePath(QStringLiteral("scan.tif"));
    QVERIFY(test::writeBytes(pdf, test::pdfWithLogo()));
    QVERIFY(test::writeTiff(tiff, 2));
    FileTableModel model;
    test::appendFile(model, pdf, 1);
    test::appendFile(model, tiff, 2);
    PdfWorkers &workers = PdfWorkers::shared();
    workers.setColourMinArea(kDefaultColourMinArea);
    DetailsReader reader(model);
    QSignalSpy finished(&reader, &DetailsReader::finished);
    reader.readMissing();
    QVERIFY(finished.wait(120000));
    QTRY_COMPARE(model.tally().withoutDetails(), 0);
    QCOMPARE(pagesOf(model, ColourClass::Colour), 1);
    const qint64 tiffPages = pagesOf(model, ColourClass::BlackWhite);
    QCOMPARE(tiffPages + pagesOf(model, ColourClass::Grey), 2);

    for (const double tolerance : {20.0, kDefaultColourMinArea, 12.0}) {
        const bool colour = tolerance < 12.4;
        workers.setColourMinArea(tolerance);
        reader.coloursChanged();
        QTRY_VERIFY(!model.isDroppingDetails());
        QCOMPARE(model.tally().withoutDetails(), 1);
        QCOMPARE(pagesOf(model, ColourClass::Colour), 0);
        finished.clear();
        reader.readMissing();
        QVERIFY(finished.wait(120000));
        QTRY_COMPARE(model.tally().withoutDetails(), 0);
        QCOMPARE(pagesOf(model, ColourClass::Colour), colour ? 1 : 0);
        QCOMPARE(pagesOf(model, ColourClass::BlackWhite), tiffPages + (colour ? 0 : 1));
        QCOMPARE(model.index(0, int(Column::Colour)).data().toString(),
                 colourLabel(colour ? ColourClass::Colour : ColourClass::BlackWhite) +
                     QStringLiteral(" 1"));
        // The tally kept as rows changed is the one counted afresh.
        FileList again;
        for (int row = 0; row < model.rowCount(); ++row)
            again.append(model.files().at(row)->clone());
        QCOMPARE(again.tally(), model.tally());
    }
    workers.setColourMinArea(kDefaultColourMinArea);
}

void TestDetailsReader::answersOfAnOlderToleranceAreDropped()
{
    // The answer under the old tolerance is in before the change, and
    // handed on after it: it is not taken, the file is read again.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("logo.pdf"));
    QVERIFY(test::writeBytes(pdf, test::pdfWithLogo()));
    FileTableModel model;
    test::appendFile(model, pdf, 1);
    PdfWorkers &workers = PdfWorkers::shared();
    workers.setColourMinArea(kDefaultColourMinArea);
    DetailsReader reader(model);
    QSignalSpy finished(&reader, &DetailsReader::finished);
    const qint64 scanned = PdfWorkers::colourTally().scanned;
    reader.readMissing();
    // No event is handled meanwhile, so the answer waits for this thread.
    while (PdfWorkers::colourTally().scanned == scanned)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    workers.setColourMinArea(20);
    reader.coloursChanged();
    QVERIFY(reader.isReading());
    QVERIFY(finished.wait(120000));
    QTRY_COMPARE(model.tally().withoutDetails(), 0);
    QCOMPARE(pagesOf(model, ColourClass::Colour), 0);
    QCOMPARE(pagesOf(model, ColourClass::BlackWhite), 1);
    workers.setColourMinArea(kDefaultColourMinArea);
}

void TestDetailsReader::droppingReachesMovedAndUndoneFiles()
{
    // Files with details, PDFs and TIFFs in turn, more than a slice of them.
    const auto detailed = [](int i) {
        FileRecord record;
        record.folder = makeFolder("/nowhere");
        record.name = QByteArray("f") + QByteArray::number(i).rightJustified(6, '0') +
                      (i % 2 ? ".tif" : ".pdf");
        record.pages = 1;
        auto item = std::make_unique<FileItem>(std::move(record));
        item->setPageSummary(PageSummary::fromPages({{210, 297, ColourClass::Colour}}, 1));
        return item;
    };
    constexpr int kFiles = 100000;
    FileTableModel model;
    model.setBackgroundSortFrom(std::numeric_limits<int>::max());
    std::vector<std::unique_ptr<FileItem>> items;
    for (int i = 0; i < kFiles; ++i)
        items.push_back(detailed(i));
    model.appendFiles(std::move(items));
    // Taken off before the tolerance changes, put back after.
    std::vector<FileBlock> removed = model.removeRanges({{10, 19}});
    QSignalSpy dropped(&model, &FileTableModel::pdfDetailsDropped);
    model.dropPdfDetails();
    QVERIFY(model.isDroppingDetails());
    // A first slice, then the order turns round: rows not yet reached come
    // before those done.
    QCoreApplication::processEvents();
    QVERIFY(model.isDroppingDetails());
    model.sort(int(Column::Name), Qt::DescendingOrder);
    QVERIFY(dropped.wait(60000));
    QCOMPARE(dropped.size(), 1);
    model.insertBlocks(std::move(removed));
    QCOMPARE(model.rowCount(), kFiles);
    const auto check = [&model] {
        QCOMPARE(model.tally().withoutDetails(), kFiles / 2);
        QCOMPARE(model.tally().table().totals().total, kFiles / 2);
        for (int row = 0; row < model.rowCount(); ++row) {
            const FileItem &item = *model.files().at(row);
            QCOMPARE(PageTally::lacksDetails(item), pageGroupOf(item) == PageGroup::Pdf);
        }
    };
    check();
    if (QTest::currentTestFailed())
        return;
    // A whole list kept from before the change (as Undo keeps one) drops
    // its PDFs' details when it comes back.
    FileList old;
    for (int i = 0; i < 100; ++i)
        old.append(detailed(i));
    model.swapList(old);
    QVERIFY(dropped.wait(60000));
    QCOMPARE(model.tally().withoutDetails(), 50);
    QCOMPARE(model.tally().table().totals().total, 50);
    // And the list swapped out, now current, keeps its own.
    model.swapList(old);
    QCOMPARE(model.rowCount(), kFiles);
    QVERIFY(!model.isDroppingDetails());
    check();
}

QTEST_MAIN(TestDetailsReader)
#include "tst_detailsreader.moc"
