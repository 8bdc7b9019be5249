#include "customtableview.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "listeditor.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;
using tallivo::test::addItem;
using tallivo::test::order;

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

private:
    void fill(int rows);
    void fillSample();
    void select(const QString &rows);
    QString selection() const;

    QTemporaryDir m_dir;
    FileList m_files;
    QMenu m_menu;
    std::unique_ptr<FileTableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<CustomTableView> m_view;
    test::FakeDialogs m_dialogs;
    std::unique_ptr<ListEditor> m_editor;
    int m_refreshes = 0;
};

void TestFileTable::init()
{
    m_editor.reset();
    m_view.reset();
    m_tester.reset();
    m_files.clear();
    m_model = std::make_unique<FileTableModel>(m_files);
    // Every test also checks the model's signals against what it reports.
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_view = std::make_unique<CustomTableView>();
    m_view->setModel(m_model.get());
    m_view->setContextMenu(&m_menu);
    m_view->resize(600, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    m_dialogs = test::FakeDialogs();
    m_refreshes = 0;
    m_editor =
        std::make_unique<ListEditor>(*m_model, *m_view, m_dialogs, [this] { ++m_refreshes; });
}

void TestFileTable::fill(int rows)
{
    m_model->beginReload();
    for (int i = 0; i < rows; ++i)
        addItem(m_files, QStringLiteral("/d/r%1.pdf").arg(i), i + 1);
    m_model->endReload();
}

// Three real files whose names, pages, sizes, types, folders and dates all
// sort differently; the last is unchecked.
void TestFileTable::fillSample()
{
    const std::tuple<const char *, int, int, QDate> sample[] = {
        {"z/b2.pdf", 5, 9000, QDate(2020, 2, 10)},
        {"a/a10.tif", 20, 120000, QDate(2021, 1, 20)},
        {"m/c.tiff", 2, 10000, QDate(2020, 10, 5)}};
    m_model->beginReload();
    for (const auto &[name, pages, size, modified] : sample) {
        const QString path = m_dir.filePath(QLatin1String(name));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        addItem(m_files, path, pages, size);
        m_files.at(m_files.size() - 1)
            ->setFileTimes(QDateTime(modified, QTime(12, 0), Qt::UTC).toMSecsSinceEpoch(), {},
                           {});
    }
    m_files.at(2)->setChecked(false);
    m_model->endReload();
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
    for (int row : m_editor->selectedRows())
        rows << QString::number(row);
    return rows.join(QLatin1Char(' '));
}

void TestFileTable::runAdditionsAndCheckBoxes()
{
    fillSample();
    m_model->sort(FileTableModel::PagesColumn);
    // A run's additions appear and are sorted in by the same column.
    addItem(m_files, QStringLiteral("/d/late.pdf"), 1);
    m_model->syncRows();
    m_model->sortFiles();
    QCOMPARE(m_model->rowCount(), 4);
    QCOMPARE(order(m_files), QStringLiteral("late c b2 a10"));

    // Only the check box is editable; sizes sit on the right.
    const QModelIndex check = m_model->index(0, FileTableModel::CheckColumn);
    QVERIFY(!m_model->setData(m_model->index(0, FileTableModel::NameColumn), QStringLiteral("x")));
    QVERIFY(m_model->setData(check, Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!m_files.at(0)->isChecked());
    QVERIFY(m_model->data(m_model->index(0, FileTableModel::SizeColumn), Qt::TextAlignmentRole)
                .toInt() &
            Qt::AlignRight);
}

void TestFileTable::sorts_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name") << int(FileTableModel::NameColumn) << true << "a10 b2 c";
    QTest::newRow("pages") << int(FileTableModel::PagesColumn) << true << "c b2 a10";
    // Sizes and dates compare as values, not as their texts.
    QTest::newRow("size") << int(FileTableModel::SizeColumn) << true << "b2 c a10";
    QTest::newRow("modified") << int(FileTableModel::ModifiedColumn) << true << "b2 c a10";
    QTest::newRow("modified desc") << int(FileTableModel::ModifiedColumn) << false << "a10 c b2";
    QTest::newRow("type") << int(FileTableModel::TypeColumn) << true << "b2 a10 c";
    QTest::newRow("location") << int(FileTableModel::LocationColumn) << true << "a10 c b2";
    // Ties keep their earlier order.
    QTest::newRow("checked") << int(FileTableModel::CheckColumn) << true << "c b2 a10";
}

void TestFileTable::sorts()
{
    QFETCH(int, column);
    QFETCH(bool, ascending);
    QFETCH(QString, expected);
    fillSample();
    select(QStringLiteral("0 2"));
    m_model->sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QCOMPARE(order(m_files), expected);
    // The selection stays on the same row positions, not with the files.
    QCOMPARE(selection(), QStringLiteral("0 2"));
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
    QMenu *menu = m_view->headerContextMenu();
    // A column moved to the front shows first; the fixed columns never show.
    m_view->horizontalHeader()->moveSection(FileTableModel::LocationColumn, 0);
    m_view->menuNeedsUpdate(menu);
    QStringList titles;
    for (QAction *a : menu->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"Location", "Size", "Type", "Modified", "Created", "Accessed"}));
    QAction *size = menu->actions().at(1);
    QVERIFY(size->isChecked());
    size->trigger();
    QVERIFY(m_view->isColumnHidden(FileTableModel::SizeColumn));
    m_view->menuNeedsUpdate(menu);
    QVERIFY(!menu->actions().at(1)->isChecked());
    menu->actions().at(1)->trigger();
    QVERIFY(!m_view->isColumnHidden(FileTableModel::SizeColumn));
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
    QSignalSpy remove(m_view.get(), &CustomTableView::removeRequested);
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
    QSignalSpy spy(m_view.get(), &CustomTableView::filesDropped);
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
    QTest::addColumn<QString>("command"); // check commands carry their code
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
    // Row 1 stays selected, now showing the file that moved up into it; row 5 is gone.
    row("remove", "remove", "1 5", "r0 r2 r3 r4", "1", "1101");
    row("remove, nothing selected", "remove", "", same, "", "101011");
    // Check boxes are not the selection.
    row("check selected", "selected 1", "1 2", same, "1 2", "111011");
    row("uncheck selected", "selected 2", "1 2", same, "1 2", "100011");
    row("invert selected", "selected 3", "1 2", same, "1 2", "110011");
    row("unknown code", "selected 4", "1 2", same, "1 2", "101011");
    row("uncheck all", "all 2", "1 2", same, "1 2", "000000");
    row("invert all", "all 3", "1 2", same, "1 2", "010100");
}

void TestFileTable::edits()
{
    QFETCH(QString, command);
    QFETCH(QString, selected);
    QFETCH(QString, expectedOrder);
    QFETCH(QString, expectedSelection);
    QFETCH(QString, expectedChecks);
    fill(6);
    m_files.at(1)->setChecked(false);
    m_files.at(3)->setChecked(false);
    select(selected);
    const int code = command.section(QLatin1Char(' '), 1).toInt();
    if (command == QLatin1String("up"))
        m_editor->moveUp();
    else if (command == QLatin1String("down"))
        m_editor->moveDown();
    else if (command == QLatin1String("remove"))
        m_editor->selectDeselectRemoveAll(ListEditor::RemoveSelected);
    else if (command.startsWith(QLatin1String("all")))
        m_editor->checkUncheckInvertAll(code);
    else
        m_editor->checkUncheckInvertSelection(code);
    QCOMPARE(order(m_files), expectedOrder);
    QCOMPARE(m_model->rowCount(), m_files.size());
    QCOMPARE(selection(), expectedSelection);
    QString checks;
    for (int i = 0; i < m_files.size(); ++i)
        checks += m_files.at(i)->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(checks, expectedChecks);
    if (command != QLatin1String("up") && command != QLatin1String("down"))
        QCOMPARE(m_refreshes, 1);
}

QTEST_MAIN(TestFileTable)
#include "tst_filetable.moc"
