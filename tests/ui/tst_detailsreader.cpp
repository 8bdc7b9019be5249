#include "detailsreader.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "iopool.h"
#include "samplefiles.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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

} // namespace

class TestDetailsReader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void manyPdfsThroughFewParseSlots();
    void nestedSlotsRideOnTheFirst();
    void lostColoursAreMarked();
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

QTEST_MAIN(TestDetailsReader)
#include "tst_detailsreader.moc"
