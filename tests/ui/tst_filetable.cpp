#include "fakes.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "listeditor.h"
#include "listhistory.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;
using tallivo::test::addItem;
using tallivo::test::order;
using tallivo::test::summaryOf;

namespace {

const PageInfo a4Bw{210, 297, ColourClass::BlackWhite};
const PageInfo a4Colour{210, 297, ColourClass::Colour};
const PageInfo a3Grey{297, 420, ColourClass::Grey};

} // namespace

// The table as the window has it: the model, the view and the list commands.
class TestFileTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void runAdditionsAndCheckBoxes();
    void sorts_data();
    void sorts();
    void contextMenuNeedsSelection();
    void headerMenuMovesAndHidesColumns();
    void keys_data();
    void keys();
    void drops_data();
    void drops();
    void edits_data();
    void edits();
    void marksAndReasons_data();
    void marksAndReasons();
    void uncountedFirst();
    void pageColumns_data();
    void pageColumns();
    void undoRemovals_data();
    void undoRemovals();
    void largeRemovalsAreRanges_data();
    void largeRemovalsAreRanges();
    void totalsMatchARecount();
    void backgroundSort();

private:
    // Lists files r0, r1, ... of 1, 2, ... pages; `set` may change each
    // before the table shows it.
    void fill(int rows, const std::function<void(FileItem &, int)> &set = {});
    void fillSample();
    void select(const QString &rows);
    QString selection() const;

    QString checks() const;

    QTemporaryDir m_dir;
    QMenu m_menu;
    std::unique_ptr<FileTableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<FileTableView> m_view;
    test::FakeDialogs m_dialogs;
    std::unique_ptr<ListHistory> m_history;
    std::unique_ptr<ListEditor> m_editor;
};

void TestFileTable::init()
{
    m_editor.reset();
    m_history.reset();
    m_view.reset();
    m_tester.reset();
    m_model = std::make_unique<FileTableModel>();
    // Every test also checks the model's signals against what it reports.
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_view = std::make_unique<FileTableView>();
    m_view->setModel(m_model.get());
    m_view->setContextMenu(&m_menu);
    m_view->resize(600, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    m_dialogs = test::FakeDialogs();
    m_history = std::make_unique<ListHistory>(*m_model, *m_view);
    m_editor = std::make_unique<ListEditor>(*m_model, *m_view, m_dialogs, *m_history);
}

void TestFileTable::fill(int rows, const std::function<void(FileItem &, int)> &set)
{
    std::vector<std::unique_ptr<FileItem>> batch;
    for (int i = 0; i < rows; ++i) {
        batch.push_back(std::make_unique<FileItem>(
            QUrl::fromLocalFile(QStringLiteral("/d/r%1.pdf").arg(i)), i + 1, 0));
        if (set)
            set(*batch.back(), i);
    }
    m_model->appendFiles(std::move(batch));
}

// Three real files whose names, pages, sizes, types, folders and dates all
// sort differently; the last is unchecked.
void TestFileTable::fillSample()
{
    const std::tuple<const char *, int, int, QDate> sample[] = {
        {"z/b2.pdf", 5, 9000, QDate(2020, 2, 10)},
        {"a/a10.tif", 20, 120000, QDate(2021, 1, 20)},
        {"m/c.tiff", 2, 10000, QDate(2020, 10, 5)}};
    for (const auto &[name, pages, size, modified] : sample) {
        const QString path = m_dir.filePath(QLatin1String(name));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const bool last = name == std::get<0>(sample[2]);
        test::appendFile(*m_model, path, pages, size, [&](FileItem &item) {
            item.setFileTimes(QDateTime(modified, QTime(12, 0), Qt::UTC).toMSecsSinceEpoch(), {},
                              {});
            item.setChecked(!last);
        });
    }
}

// Rows as text, "1 3".
void TestFileTable::select(const QString &rows)
{
    m_view->clearSelection();
    for (const QString &row : rows.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        m_view->selectionModel()->select(m_model->index(row.toInt(), 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QString TestFileTable::selection() const
{
    QStringList rows;
    for (int row : m_view->selectedRows())
        rows << QString::number(row);
    return rows.join(QLatin1Char(' '));
}

void TestFileTable::runAdditionsAndCheckBoxes()
{
    fillSample();
    m_model->sort(int(Column::Pages));
    // A run's additions appear and are sorted in by the same column.
    test::appendFile(*m_model, QStringLiteral("/d/late.pdf"), 1);
    m_model->resort();
    QCOMPARE(m_model->rowCount(), 4);
    QCOMPARE(order(m_model->files()), QStringLiteral("late c b2 a10"));

    // Only the check box is editable; sizes sit on the right.
    const QModelIndex check = m_model->index(0, int(Column::Check));
    QVERIFY(!m_model->setData(m_model->index(0, int(Column::Name)), QStringLiteral("x")));
    QVERIFY(m_model->setData(check, Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!m_model->files().at(0)->isChecked());
    QVERIFY(m_model->data(m_model->index(0, int(Column::Size)), Qt::TextAlignmentRole).toInt() &
            Qt::AlignRight);
}

void TestFileTable::sorts_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name") << int(Column::Name) << true << "a10 b2 c";
    QTest::newRow("pages") << int(Column::Pages) << true << "c b2 a10";
    // Sizes and dates compare as values, not as their texts.
    QTest::newRow("size") << int(Column::Size) << true << "b2 c a10";
    QTest::newRow("modified") << int(Column::Modified) << true << "b2 c a10";
    QTest::newRow("type") << int(Column::Type) << true << "b2 a10 c";
    QTest::newRow("location") << int(Column::Location) << true << "a10 c b2";
    // Ties keep their earlier order.
    QTest::newRow("checked") << int(Column::Check) << true << "c b2 a10";
}

void TestFileTable::sorts()
{
    QFETCH(int, column);
    QFETCH(bool, ascending);
    QFETCH(QString, expected);
    fillSample();
    select(QStringLiteral("0 2"));
    m_model->sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QCOMPARE(order(m_model->files()), expected);
    // The selection stays on the same files, b2 and c, wherever they went.
    const QStringList names = expected.split(QLatin1Char(' '));
    QList<int> rows = {int(names.indexOf(QStringLiteral("b2"))),
                       int(names.indexOf(QStringLiteral("c")))};
    std::sort(rows.begin(), rows.end());
    QCOMPARE(m_view->selectedRows(), rows);
}

void TestFileTable::contextMenuNeedsSelection()
{
    fill(3);
    const QPoint pos = m_view->visualRect(m_model->index(2, 1)).center();
    const auto menuAt = [&] {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos,
                                m_view->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(m_view->viewport(), &event);
    };
    menuAt();
    QVERIFY(!m_menu.isVisible());
    // A right press on another row leaves the selection as it was.
    select(QStringLiteral("0"));
    QTest::mouseClick(m_view->viewport(), Qt::RightButton, {}, pos);
    QCOMPARE(selection(), QStringLiteral("0"));
    menuAt();
    QTRY_VERIFY(m_menu.isVisible());
    m_menu.close();
}

void TestFileTable::headerMenuMovesAndHidesColumns()
{
    QMenu *menu = m_view->headerMenu();
    QHeaderView *header = m_view->horizontalHeader();
    const auto openMenu = [&] {
        Q_EMIT header->customContextMenuRequested(QPoint(5, 5));
        QTRY_VERIFY(menu->isVisible());
        menu->close();
    };
    // A column moved to the front shows first; the fixed columns never show.
    header->moveSection(int(Column::Location), 0);
    openMenu();
    QStringList titles;
    for (QAction *a : menu->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"Location", "Size", "Type", "Modified", "Created", "Accessed",
                                  "Sizes", "A4 eq.", "Colour"}));
    // The page detail columns start hidden, and say when one shows.
    QVERIFY(!m_view->showsPageDetails());
    for (int i = 6; i < 9; ++i)
        QVERIFY(!menu->actions().at(i)->isChecked());
    QSignalSpy shown(m_view.get(), &FileTableView::columnsShownChanged);
    menu->actions().at(7)->trigger();
    QVERIFY(m_view->showsPageDetails());
    QCOMPARE(shown.size(), 1);
    QAction *size = menu->actions().at(1);
    QVERIFY(size->isChecked());
    size->trigger();
    QVERIFY(m_view->isColumnHidden(int(Column::Size)));
    openMenu();
    QVERIFY(!menu->actions().at(1)->isChecked());
    menu->actions().at(1)->trigger();
    QVERIFY(!m_view->isColumnHidden(int(Column::Size)));
}

void TestFileTable::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("removes");
    QTest::addColumn<int>("currentRowAfter");
    QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << true << 1;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << true << 1;
    QTest::newRow("ctrl+down is the window's")
        << int(Qt::Key_Down) << int(Qt::ControlModifier) << false << 1;
    QTest::newRow("down moves") << int(Qt::Key_Down) << 0 << false << 2;
}

void TestFileTable::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, removes);
    QFETCH(int, currentRowAfter);
    fill(3);
    m_view->setCurrentIndex(m_model->index(1, 1));
    QSignalSpy remove(m_view.get(), &FileTableView::removeRequested);
    QTest::keyClick(m_view.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(remove.size(), removes ? 1 : 0);
    QCOMPARE(m_view->currentIndex().row(), currentRowAfter);
}

void TestFileTable::drops_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QList<QUrl>>("dropped");
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/data/a b.pdf"));
    const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/data/scans"));
    const QUrl web(QStringLiteral("https://example.org/x.pdf"));
    QTest::newRow("file and folder") << QList<QUrl>{file, folder} << QList<QUrl>{file, folder};
    QTest::newRow("only local files") << QList<QUrl>{web, file} << QList<QUrl>{file};
    QTest::newRow("no urls") << QList<QUrl>{} << QList<QUrl>{};
}

void TestFileTable::drops()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QList<QUrl>, dropped);
    QMimeData mime;
    if (urls.isEmpty())
        mime.setText(QStringLiteral("plain text"));
    else
        mime.setUrls(urls);
    QSignalSpy spy(m_view.get(), &FileTableView::filesDropped);
    const QPoint pos = m_view->viewport()->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(m_view->viewport(), &enter);
    QCOMPARE(enter.isAccepted(), !urls.isEmpty());
    QDropEvent drop(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(m_view->viewport(), &drop);
    QCOMPARE(spy.size(), dropped.isEmpty() ? 0 : 1);
    if (!dropped.isEmpty()) {
        QCOMPARE(spy.first().first().value<QList<QUrl>>(), dropped);
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
    }
}

void TestFileTable::edits_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("expectedOrder");
    QTest::addColumn<QString>("expectedSelection");
    QTest::addColumn<QString>("expectedChecks");
    const auto row = [](const char *name, const char *command, const char *selected,
                        const char *order, const char *selection, const char *checks) {
        QTest::newRow(name) << command << selected << order << selection << checks;
    };
    // Before: rows 1 and 3 unchecked. Check boxes travel with their files.
    const char *same = "r0 r1 r2 r3 r4 r5";
    row("block down", "down", "2 3", "r0 r1 r4 r2 r3 r5", "3 4", "101101");
    row("gapped down", "down", "1 3", "r0 r2 r1 r4 r3 r5", "2 4", "110101");
    row("last row down", "down", "4 5", same, "", "101011");
    row("block up", "up", "1 2", "r1 r2 r0 r3 r4 r5", "0 1", "011011");
    row("first row up", "up", "0 3", same, "", "101011");
    row("up, nothing selected", "up", "", same, "", "101011");
    // The file after the first removed block is selected, no other.
    row("remove", "remove", "1 5", "r0 r2 r3 r4", "1", "1101");
    row("remove a block", "remove", "1 2 3", "r0 r4 r5", "1", "111");
    row("remove at the end", "remove", "4 5", "r0 r1 r2 r3", "", "1010");
    row("remove, nothing selected", "remove", "", same, "", "101011");
    // Check boxes are not the selection.
    row("check selected", "check", "1 2", same, "1 2", "111011");
    row("invert selected", "invert", "1 2", same, "1 2", "110011");
    row("invert all", "invert all", "1 2", same, "1 2", "010100");
}

void TestFileTable::edits()
{
    QFETCH(QString, command);
    QFETCH(QString, selected);
    QFETCH(QString, expectedOrder);
    QFETCH(QString, expectedSelection);
    QFETCH(QString, expectedChecks);
    fill(6);
    m_model->setChecked({1, 3}, FileTableModel::CheckChange::Uncheck);
    select(selected);
    // Indexes held elsewhere stay on their files, or go with them.
    QList<QPersistentModelIndex> held;
    for (int row = 0; row < 6; ++row)
        held << QPersistentModelIndex(m_model->index(row, int(Column::Name)));
    const QHash<QString, void (ListEditor::*)()> commands = {
        {"up", &ListEditor::moveUp},
        {"down", &ListEditor::moveDown},
        {"remove", &ListEditor::removeSelected},
        {"check", &ListEditor::checkSelected},
        {"invert", &ListEditor::invertSelected},
        {"invert all", &ListEditor::invertAll}};
    (m_editor.get()->*commands.value(command))();
    QCOMPARE(order(m_model->files()), expectedOrder);
    QCOMPARE(m_model->rowCount(), m_model->files().size());
    QCOMPARE(selection(), expectedSelection);
    QCOMPARE(checks(), expectedChecks);
    qsizetype valid = 0;
    for (int row = 0; row < 6; ++row) {
        if (held[row].isValid() && ++valid)
            QCOMPARE(held[row].data().toString(), QStringLiteral("r%1.pdf").arg(row));
    }
    QCOMPARE(valid, m_model->rowCount());
}

QString TestFileTable::checks() const
{
    QString out;
    for (int i = 0; i < m_model->files().size(); ++i)
        out += m_model->files().at(i)->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    return out;
}

void TestFileTable::marksAndReasons_data()
{
    QTest::addColumn<CountStatus>("status");
    QTest::addColumn<bool>("marked"); // the reasons' words are checked in tst_wording
    QTest::newRow("counted") << CountStatus::Counted << false;
    QTest::newRow("locked") << CountStatus::Locked << true;
    QTest::newRow("damaged") << CountStatus::Damaged << true;
    QTest::newRow("not tiff or pdf") << CountStatus::NotTiffOrPdf << true;
    QTest::newRow("missing") << CountStatus::Missing << true;
}

void TestFileTable::marksAndReasons()
{
    QFETCH(CountStatus, status);
    QFETCH(bool, marked);
    fill(2, [&](FileItem &file, int row) {
        if (row == 1)
            file.setCountStatus(status);
    });
    const QModelIndex pages = m_model->index(1, int(Column::Pages));
    // The count itself stays what it is; the mark and reason come with it.
    QCOMPARE(pages.data().toInt(), 2);
    QCOMPARE(pages.data(Qt::DecorationRole).isNull(), !marked);
    const QString tip = pages.data(Qt::ToolTipRole).toString();
    QCOMPARE(tip.isEmpty(), !marked);
    QVERIFY2(!marked || tip.endsWith(countStatusText(status)), qPrintable(tip));
    QVERIFY(m_model->index(0, int(Column::Pages)).data(Qt::DecorationRole).isNull());
    QVERIFY(m_model->index(1, int(Column::Name)).data(Qt::DecorationRole).isNull());
}

void TestFileTable::uncountedFirst()
{
    fill(5, [](FileItem &file, int row) {
        if (row == 1 || row == 3)
            file.setCountStatus(row == 1 ? CountStatus::Damaged : CountStatus::Missing);
    });
    m_model->sort(int(Column::Pages), Qt::DescendingOrder);
    QCOMPARE(m_model->tally().uncounted(), 2);
    // Each group keeps the order of the last sort, also for a run's additions.
    m_model->setUncountedFirst(true);
    QCOMPARE(order(m_model->files()), QStringLiteral("r3 r1 r4 r2 r0"));
    test::appendFile(*m_model, QStringLiteral("/d/late.pdf"), 0, 0,
                     [](FileItem &item) { item.setCountStatus(CountStatus::Locked); });
    m_model->resort();
    QCOMPARE(order(m_model->files()), QStringLiteral("r3 r1 late r4 r2 r0"));
    QCOMPARE(m_model->tally().uncounted(), 3);
    m_model->setUncountedFirst(false);
    QCOMPARE(order(m_model->files()), QStringLiteral("r4 r3 r2 r1 r0 late"));
    select(QStringLiteral("0 1"));
    m_editor->removeSelected();
    QCOMPARE(m_model->tally().uncounted(), 2);
}

void TestFileTable::pageColumns_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("texts"); // rows r0 r1 r2
    QTest::addColumn<QString>("ascending");
    // By the size of most pages, A3 before A4.
    QTest::newRow("sizes") << int(Column::Sizes) << QStringList{"A4 x 3", "", "A3 x 2, A4 x 1"}
                           << "r1 r2 r0";
    QTest::newRow("a4 equivalents")
        << int(Column::A4Equivalents) << QStringList{"3", "", "5"} << "r1 r0 r2";
    // Colour pages first, then grey ones.
    QTest::newRow("colour") << int(Column::Colour)
                            << QStringList{"B/W 2, Colour 1", "", "B/W 1, Grey 2"} << "r1 r2 r0";
}

void TestFileTable::pageColumns()
{
    QFETCH(int, column);
    QFETCH(QStringList, texts);
    QFETCH(QString, ascending);
    // A file counted without details shows empty cells.
    fill(3, [](FileItem &file, int row) {
        if (row == 0)
            file.setPageSummary(summaryOf({{2, a4Bw}, {1, a4Colour}}));
        if (row == 2)
            file.setPageSummary(summaryOf({{1, a4Bw}, {2, a3Grey}}));
    });
    QStringList shown;
    for (int row = 0; row < 3; ++row)
        shown << m_model->index(row, column).data().toString();
    QCOMPARE(shown, texts);
    m_model->sort(column, Qt::AscendingOrder);
    QCOMPARE(order(m_model->files()), ascending);
}

void TestFileTable::undoRemovals_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("after");
    QTest::newRow("remove scattered") << "remove"
                                      << "0 2 3 5"
                                      << "r1 r4";
    QTest::newRow("remove last") << "remove"
                                 << "5"
                                 << "r0 r1 r2 r3 r4";
    QTest::newRow("remove all") << "all"
                                << "1"
                                << "";
}

void TestFileTable::undoRemovals()
{
    QFETCH(QString, command);
    QFETCH(QString, selected);
    QFETCH(QString, after);
    fill(6, [](FileItem &file, int row) {
        if (row == 3) {
            file.setCountStatus(CountStatus::Locked);
            file.setPageSummary(summaryOf({{4, a4Bw}}));
        }
    });
    const QString before = order(m_model->files());
    m_model->setChecked({2, 3}, FileTableModel::CheckChange::Uncheck);
    select(selected);
    m_dialogs.messageAnswers = {true};
    if (command == QLatin1String("all"))
        m_editor->removeAll();
    else
        m_editor->removeSelected();
    QCOMPARE(order(m_model->files()), after);
    QCOMPARE(m_history->stack().undoText(), command == QLatin1String("all")
                                                ? QStringLiteral("Remove All")
                                                : QStringLiteral("Remove"));

    // Everything comes back at its place, with its check box and its count.
    m_history->undo();
    QCOMPARE(order(m_model->files()), before);
    QCOMPARE(checks(), QStringLiteral("110011"));
    const FileItem &locked = *m_model->files().at(3);
    QCOMPARE(locked.countStatus(), CountStatus::Locked);
    QCOMPARE(locked.pages(), 4);
    QCOMPARE(locked.pageSummary().pages(), 4);
    QCOMPARE(m_model->tally().uncounted(), 1);
    if (command != QLatin1String("all"))
        QCOMPARE(selection(), selected);

    // Redo takes the same files, wherever they are now.
    m_model->sort(int(Column::Pages), Qt::DescendingOrder);
    m_history->redo();
    m_model->sort(int(Column::Name));
    QCOMPARE(order(m_model->files()), after);
    m_history->undo();
    QCOMPARE(m_model->rowCount(), 6);

    // A removed file that a run lists again stays where the run put it; undo
    // brings back the others.
    m_model->sort(int(Column::Name));
    select(QStringLiteral("1 2"));
    m_editor->removeSelected();
    test::appendFile(*m_model, QStringLiteral("/d/r1.pdf"), 2);
    m_history->undo();
    QCOMPARE(order(m_model->files()).split(QLatin1Char(' ')).size(), 6);
    QVERIFY(order(m_model->files()).endsWith(QLatin1String(" r1")));
    QCOMPARE(m_model->files().totals().pdfPages, qint64(21));
}

void TestFileTable::largeRemovalsAreRanges_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<bool>("tail");
    // A few blocks go as row removals; many as one reset. Neither is a
    // layout change that would move an index per selected row. A block at
    // the end of the list comes back there, not a row early.
    for (const bool tail : {false, true}) {
        const char *end = tail ? ", the last at the end" : "";
        QTest::addRow("one block%s", end) << 1 << tail;
        QTest::addRow("a few blocks%s", end) << FileTableModel::kMaxBlockSignals << tail;
        QTest::addRow("many blocks%s", end) << FileTableModel::kMaxBlockSignals * 3 << tail;
    }
}

void TestFileTable::largeRemovalsAreRanges()
{
    QFETCH(int, blocks);
    QFETCH(bool, tail);
    const int rows = 4000;
    fill(rows);
    const QString before = order(m_model->files());
    // Blocks of 10 rows, spread over the list; or the top or bottom half as
    // one.
    QList<std::pair<int, int>> ranges;
    if (blocks == 1)
        ranges.append(tail ? std::pair(rows / 2, rows - 1) : std::pair(0, rows / 2 - 1));
    for (int b = 0; blocks > 1 && b < blocks; ++b)
        ranges.append({b * 20 + 5, b * 20 + 14});
    if (blocks > 1 && tail)
        ranges.last() = {rows - 10, rows - 1};
    int removed = 0;
    for (const auto &[first, last] : ranges)
        removed += last - first + 1;
    // A file outside the blocks, held elsewhere, stays on its file.
    const int heldRow = tail ? 0 : rows - 1;
    const QPersistentModelIndex held = m_model->index(heldRow, int(Column::Name));
    m_view->selectRowRanges(ranges, ranges.first().first);
    QSignalSpy layouts(m_model.get(), &QAbstractItemModel::layoutAboutToBeChanged);
    QSignalSpy removals(m_model.get(), &QAbstractItemModel::rowsAboutToBeRemoved);
    QSignalSpy insertions(m_model.get(), &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelAboutToBeReset);

    m_editor->removeSelected();
    const QString after = order(m_model->files());
    QCOMPARE(m_model->rowCount(), rows - removed);
    const bool many = blocks > FileTableModel::kMaxBlockSignals;
    // A reset lets go of every persistent index.
    QCOMPARE(held.data().toString(), many ? QString() : QStringLiteral("r%1.pdf").arg(heldRow));
    // The file after the first block is selected, and nothing else.
    if (ranges.first().second + 1 < rows) {
        QCOMPARE(m_view->selectedRows(), QList<int>({ranges.first().first}));
        QCOMPARE(m_model->files().at(ranges.first().first)->name(),
                 QStringLiteral("r%1.pdf").arg(ranges.first().second + 1));
    } else {
        QVERIFY(m_view->selectedRows().isEmpty());
    }
    QCOMPARE(removals.size(), many ? 0 : blocks);
    QCOMPARE(resets.size(), many ? 1 : 0);

    // Undo puts the same files back at their rows, selected.
    m_history->undo();
    QCOMPARE(order(m_model->files()), before);
    QCOMPARE(m_view->selectedRowRanges(), ranges);
    QCOMPARE(insertions.size(), many ? 0 : blocks);
    if (!many)
        QCOMPARE(held.row(), heldRow);
    QCOMPARE(m_model->files().totals().pdfPages, qint64(rows) * (rows + 1) / 2);

    m_history->redo();
    QCOMPARE(order(m_model->files()), after);
    m_history->undo();
    QCOMPARE(order(m_model->files()), before);
    QCOMPARE(layouts.size(), 0);
    QCOMPARE(resets.size(), many ? 4 : 0);
}

// Totals, selection totals and counts after a seeded random run of edits,
// sorts and undos, each against a count from scratch.
void TestFileTable::totalsMatchARecount()
{
    QRandomGenerator random(2126);
    int named = 0;
    const auto addFiles = [&](int n) {
        std::vector<std::unique_ptr<FileItem>> batch;
        for (int i = 0; i < n; ++i, ++named) {
            const char *type = random.bounded(3) == 0 ? "pdf" : random.bounded(2) ? "tif" : "txt";
            batch.push_back(std::make_unique<FileItem>(
                QUrl::fromLocalFile(QStringLiteral("/d/f%1.%2").arg(named).arg(type)),
                int(random.bounded(50)), int(random.bounded(1000))));
            batch.back()->setChecked(random.bounded(4) != 0);
            if (random.bounded(8) == 0)
                batch.back()->setCountStatus(CountStatus::Damaged);
        }
        m_model->appendFiles(std::move(batch));
    };
    addFiles(300);
    const auto recount = [&](const QString &step) {
        const FileList &files = m_model->files();
        PageTotals all;
        PageTotals selected;
        int checked = 0;
        int uncounted = 0;
        const QList<int> rows = m_view->selectedRows();
        for (int row = 0; row < files.size(); ++row) {
            const FileItem &item = *files.at(row);
            const QString type = item.type().toLower();
            qint64 &sum = type == QLatin1String("pdf") ? all.pdfPages : all.tiffPages;
            qint64 &part = type == QLatin1String("pdf") ? selected.pdfPages : selected.tiffPages;
            if (type != QLatin1String("txt")) {
                sum += item.pages();
                if (rows.contains(row))
                    part += item.pages();
            }
            checked += item.isChecked();
            uncounted += PageTally::isUncounted(item);
        }
        const PageTotals kept = files.totals();
        const PageTotals ofSelection = files.totalsOf(m_view->selectedRowRanges());
        if (kept.tiffPages != all.tiffPages || kept.pdfPages != all.pdfPages ||
            ofSelection.tiffPages != selected.tiffPages ||
            ofSelection.pdfPages != selected.pdfPages ||
            m_model->tally().checkedFiles() != checked || m_model->tally().uncounted() != uncounted)
            return step;
        return QString();
    };
    for (int round = 0; round < 400; ++round) {
        const int rows = m_model->rowCount();
        QString step;
        switch (random.bounded(8)) {
        case 0:
        case 1: { // select some ranges, and remove them
            QList<std::pair<int, int>> ranges;
            for (int n = int(random.bounded(4)); rows > 0 && n >= 0; --n) {
                const int first = int(random.bounded(rows));
                ranges.append({first, qMin(rows - 1, first + int(random.bounded(20)))});
            }
            m_view->selectRowRanges(mergedRanges(ranges));
            step = QStringLiteral("select");
            if (random.bounded(2)) {
                m_editor->removeSelected();
                step = QStringLiteral("remove");
            }
            break;
        }
        case 2:
            m_history->undo();
            step = QStringLiteral("undo");
            break;
        case 3:
            m_history->redo();
            step = QStringLiteral("redo");
            break;
        case 4: { // a sort keeps the selection on its files
            QList<const FileItem *> selected;
            for (int row : m_view->selectedRows())
                selected.append(m_model->files().at(row));
            m_model->sort(int(random.bounded(ColumnCount)),
                          random.bounded(2) ? Qt::AscendingOrder : Qt::DescendingOrder);
            QList<const FileItem *> now;
            for (int row : m_view->selectedRows())
                now.append(m_model->files().at(row));
            std::sort(selected.begin(), selected.end());
            std::sort(now.begin(), now.end());
            QCOMPARE(now, selected);
            step = QStringLiteral("sort");
            break;
        }
        case 5:
            m_model->setChecked(m_view->selectedRows(), FileTableModel::CheckChange::Toggle);
            step = QStringLiteral("check");
            break;
        case 6:
            addFiles(int(random.bounded(10)));
            step = QStringLiteral("add");
            break;
        case 7:
            m_view->selectAll();
            if (random.bounded(4) == 0) {
                m_dialogs.messageAnswers = {true};
                m_editor->removeAll();
                step = QStringLiteral("remove all");
            } else {
                step = QStringLiteral("select all");
            }
            break;
        }
        QCOMPARE(recount(step), QString());
    }
}

void TestFileTable::backgroundSort()
{
    m_model->setBackgroundSortFrom(0);
    fill(40);
    select(QStringLiteral("0 1"));
    QSignalSpy sorting(m_model.get(), &FileTableModel::sortingChanged);
    m_model->sort(int(Column::Pages), Qt::DescendingOrder);
    // The list stays as it was until the order is ready; the view is busy.
    QVERIFY(m_model->isSorting());
    QCOMPARE(m_view->viewport()->cursor().shape(), Qt::BusyCursor);
    QCOMPARE(m_model->files().at(0)->pages(), 1);
    // An edit meanwhile makes the sort start again on the list as it is.
    select(QStringLiteral("39"));
    m_editor->removeSelected();
    select(QStringLiteral("0 1"));
    QTRY_VERIFY(!m_model->isSorting());
    QCOMPARE(sorting.size(), 2);
    QCOMPARE(m_view->viewport()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(m_model->rowCount(), 39);
    for (int row = 0; row < 39; ++row)
        QCOMPARE(m_model->files().at(row)->pages(), 39 - row);
    // The selection went with its files, r0 and r1, now at the end.
    QCOMPARE(selection(), QStringLiteral("37 38"));
    QCOMPARE(m_history->stack().count(), 1);
}

QTEST_MAIN(TestFileTable)
#include "tst_filetable.moc"
