#include "fakes.h"
#include "pagebarchart.h"
#include "pagereport.h"
#include "pagesummarydialog.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;
using tallivo::test::summaryOf;

namespace {

const PageInfo a4Bw{210, 297, ColourClass::BlackWhite};
const PageInfo a4Grey{210, 297, ColourClass::Grey};
const PageInfo a3Colour{297, 420, ColourClass::Colour};

QStringList rowTexts(const QTableWidget *table, int row)
{
    QStringList cells;
    for (int c = 0; c < table->columnCount(); ++c)
        cells << table->item(row, c)->text();
    return cells;
}

} // namespace

class TestPageSummaryDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void tableFollowsTheSummary();
    void scopeToggles();
    void exportsCsv();
    void chartBars();
    void manySizesShareTheLastBar();
    void defaultSizeShowsTheWholeChart_data();
    void defaultSizeShowsTheWholeChart();
    void escapeCancelsARunningCount();

private:
    test::FakeDialogs *m_dialogs = nullptr;
    PageSummaryDialog *m_dialog = nullptr;
    QTableWidget *m_table = nullptr;
};

void TestPageSummaryDialog::init()
{
    m_dialogs = new test::FakeDialogs;
    m_dialog = new PageSummaryDialog(*m_dialogs);
    m_table = m_dialog->findChild<QTableWidget *>(QStringLiteral("pageTable"));
    QVERIFY(m_table);
}

void TestPageSummaryDialog::cleanup()
{
    delete m_dialog;
    delete m_dialogs;
}

void TestPageSummaryDialog::tableFollowsTheSummary()
{
    QVERIFY(!m_dialog->isModal());
    // Empty: the total line alone.
    QCOMPARE(m_table->rowCount(), 1);
    QCOMPARE(rowTexts(m_table, 0).join(QLatin1Char(' ')), QStringLiteral("Total 0 0 0 0 0 0"));

    PageTable table;
    table.add(summaryOf({{10, a4Bw}, {1, a4Grey}}));
    table.add(summaryOf({{2, a3Colour}}));
    m_dialog->setSummary(table);
    QCOMPARE(m_table->rowCount(), 3);
    QCOMPARE(rowTexts(m_table, 0).join(QLatin1Char(' ')), QStringLiteral("A3 0 0 2 0 2 4"));
    QCOMPARE(rowTexts(m_table, 1).join(QLatin1Char(' ')), QStringLiteral("A4 10 1 0 0 11 11"));
    QCOMPARE(rowTexts(m_table, 2).join(QLatin1Char(' ')), QStringLiteral("Total 10 1 2 0 13 15"));
    // Numbers, so a sorted copy of the table sorts them as numbers.
    QCOMPARE(m_table->item(1, 1)->data(Qt::DisplayRole).metaType(), QMetaType::fromType<qint64>());
    const auto *totals = m_dialog->findChild<QLabel *>(QStringLiteral("totals"));
    QCOMPARE(test::figures(totals->text()), QStringLiteral("13 15"));

    // A later summary replaces the earlier one.
    table.remove(summaryOf({{10, a4Bw}, {1, a4Grey}}));
    m_dialog->setSummary(table);
    QCOMPARE(m_table->rowCount(), 2);
    QCOMPARE(rowTexts(m_table, 1).join(QLatin1Char(' ')), QStringLiteral("Total 0 0 2 0 2 4"));
}

void TestPageSummaryDialog::scopeToggles()
{
    QSignalSpy changed(m_dialog, &PageSummaryDialog::scopeChanged);
    auto *whole = m_dialog->findChild<QRadioButton *>(QStringLiteral("wholeList"));
    auto *selection = m_dialog->findChild<QRadioButton *>(QStringLiteral("selection"));
    QVERIFY(whole->isChecked());
    QCOMPARE(m_dialog->scope(), PageSummaryDialog::Scope::WholeList);
    selection->click();
    QCOMPARE(m_dialog->scope(), PageSummaryDialog::Scope::Selection);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).value<PageSummaryDialog::Scope>(),
             PageSummaryDialog::Scope::Selection);
    m_dialog->setScope(PageSummaryDialog::Scope::Selection);
    QCOMPARE(changed.size(), 1);
    m_dialog->setScope(PageSummaryDialog::Scope::WholeList);
    QVERIFY(whole->isChecked());
    QCOMPARE(changed.size(), 2);
}

void TestPageSummaryDialog::exportsCsv()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PageTable table;
    table.add(summaryOf({{3, a4Grey}, {1, a3Colour}}));
    m_dialog->setSummary(table);

    const QString path = dir.filePath(QStringLiteral("summary.csv"));
    m_dialogs->fileAnswers << QStringList{path};
    m_dialog->exportCsv();
    QCOMPARE(m_dialogs->fileRequests.size(), 1);
    QCOMPARE(m_dialogs->fileRequests[0].mode, FileDialogRequest::SaveFile);
    // Written off the window's thread; whole once it is there.
    QTRY_VERIFY(QFile::exists(path));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), pageTableCsv(table));
    QVERIFY(m_dialogs->messages.isEmpty());

    // Cancelled: nothing written, nothing said.
    m_dialog->exportCsv();
    QVERIFY(m_dialogs->messages.isEmpty());

    // A destination that cannot be written is reported.
    m_dialogs->fileAnswers << QStringList{dir.filePath(QStringLiteral("gone/summary.csv"))};
    m_dialog->exportCsv();
    QTRY_COMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->messages[0].icon, QMessageBox::Critical);
    QVERIFY(!m_dialogs->messages[0].informativeText.isEmpty());
}

void TestPageSummaryDialog::chartBars()
{
    PageBarChart chart;
    chart.resize(400, 200);
    PageTable table;
    table.add(summaryOf({{30, a4Bw}, {10, a4Grey}, {20, a3Colour}}));
    chart.setTable(table);
    QCOMPARE(chart.bars().size(), 2);
    QCOMPARE(chart.bars()[0].label, QStringLiteral("A3"));
    QCOMPARE(chart.bars()[1].total, qint64(40));

    // Lengths in proportion to the pages; colour classes side by side.
    const QRectF bw = chart.segmentRect(1, ColourClass::BlackWhite);
    const QRectF grey = chart.segmentRect(1, ColourClass::Grey);
    const QRectF colour = chart.segmentRect(0, ColourClass::Colour);
    QVERIFY(!bw.isEmpty() && !grey.isEmpty() && !colour.isEmpty());
    QVERIFY(chart.segmentRect(1, ColourClass::Colour).isEmpty());
    QCOMPARE(qRound(bw.width() / grey.width()), 3);
    QCOMPARE(qRound(colour.width() * 2 / (bw.width() + grey.width())), 1);
    QCOMPARE(grey.left(), bw.right());

    // And drawn where they say.
    QImage image(chart.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    chart.render(&image);
    QCOMPARE(QColor(image.pixel(grey.center().toPoint())),
             PageBarChart::colourOf(ColourClass::Grey));
    QCOMPARE(QColor(image.pixel(colour.center().toPoint())),
             PageBarChart::colourOf(ColourClass::Colour));
}

void TestPageSummaryDialog::manySizesShareTheLastBar()
{
    PageTable table;
    for (int i = 1; i <= 20; ++i)
        table.add(summaryOf({{i, PageInfo{float(100 + i), 100.f, ColourClass::Grey}}}));
    PageBarChart chart;
    chart.setTable(table);
    QCOMPARE(chart.bars().size(), PageBarChart::kMaxBars);
    // The eleven largest keep their bars, in size order; the rest share one.
    QCOMPARE(chart.bars().front().label, QStringLiteral("other 100 x 110 mm"));
    QCOMPARE(chart.bars().back().label, QStringLiteral("other sizes"));
    QCOMPARE(chart.bars().back().total, qint64(1 + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9));
}

void TestPageSummaryDialog::defaultSizeShowsTheWholeChart_data()
{
    // The sizes are known when the summary opens, or arrive while it is
    // open, as details are read on request with a note saying so.
    QTest::addColumn<bool>("whileOpen");
    QTest::newRow("at opening") << false;
    QTest::newRow("read while open") << true;
}

void TestPageSummaryDialog::defaultSizeShowsTheWholeChart()
{
    QFETCH(bool, whileOpen);
    // Eleven sizes and the unknown size: at the size it opens with, every
    // bar is in view, the last one included.
    PageTable table;
    for (int i = 1; i <= PageBarChart::kMaxBars - 1; ++i)
        table.add(summaryOf({{i, PageInfo{float(100 + i), 100.f, ColourClass::Grey}}}));
    table.add(summaryOf({{3, PageInfo{0, 0, ColourClass::Colour}}}));
    if (whileOpen) {
        m_dialog->setSummary(PageTable());
        m_dialog->setFilesWithoutDetails(12, true);
    } else {
        m_dialog->setSummary(table);
    }
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    if (whileOpen) {
        m_dialog->setSummary(table);
        m_dialog->setFilesWithoutDetails(1, true);
        QCoreApplication::processEvents(); // the layout settles
        QCoreApplication::processEvents();
    }
    auto *chart = m_dialog->findChild<PageBarChart *>(QStringLiteral("pageChart"));
    auto *area = m_dialog->findChild<QScrollArea *>(QStringLiteral("chartArea"));
    QVERIFY(chart && area);
    QCOMPARE(chart->bars().back().label, QStringLiteral("unknown size"));
    const QRectF last = chart->segmentRect(int(chart->bars().size()) - 1, ColourClass::Colour);
    QVERIFY(!last.isEmpty());
    QVERIFY2(
        area->viewport()->height() >= int(last.bottom()),
        qPrintable(QStringLiteral("%1 < %2").arg(area->viewport()->height()).arg(last.bottom())));
    // Made small, it scrolls to them instead of cutting them off.
    m_dialog->resize(m_dialog->width(), 300);
    QTRY_VERIFY(area->verticalScrollBar()->isVisible());
    QVERIFY(chart->height() >= int(last.bottom()));
}

void TestPageSummaryDialog::escapeCancelsARunningCount()
{
    QSignalSpy cancel(m_dialog, &PageSummaryDialog::cancelRequested);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    m_dialog->setRunning(true);
    QTest::keyClick(m_table, Qt::Key_Escape);
    QCOMPARE(cancel.count(), 1);
    QVERIFY(m_dialog->isVisible());
    // With nothing running, Esc closes it as any dialog.
    m_dialog->setRunning(false);
    QTest::keyClick(m_table, Qt::Key_Escape);
    QCOMPARE(cancel.count(), 1);
    QVERIFY(!m_dialog->isVisible());
}

QTEST_MAIN(TestPageSummaryDialog)
#include "tst_pagesummarydialog.moc"
