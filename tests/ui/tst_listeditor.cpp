#include "fakes.h"
#include "filetablemodel.h"
#include "listeditor.h"

#include <QTableView>
#include <QTest>

using namespace tallivo;
using tallivo::test::FakeDialogs;

Q_DECLARE_METATYPE(QList<int>)

class TestListEditor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void moves_data();
    void moves();
    void removeSelectedKeepsRowPositions();
    void removeWithoutSelection();
    void removeAllAsksFirst_data();
    void removeAllAsksFirst();
    void checkCommands_data();
    void checkCommands();
    void selectFirstReplacesSelection();

private:
    void fill(int rows);
    void select(const QList<int> &rows);
    QStringList order() const;

    FileList m_files;
    std::unique_ptr<FileTableModel> m_model;
    std::unique_ptr<QTableView> m_view;
    FakeDialogs m_dialogs;
    std::unique_ptr<ListEditor> m_editor;
    int m_refreshes = 0;
};

void TestListEditor::init()
{
    m_files.clear();
    m_model = std::make_unique<FileTableModel>(m_files);
    m_view = std::make_unique<QTableView>();
    m_view->setModel(m_model.get());
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_dialogs = FakeDialogs();
    m_refreshes = 0;
    m_editor =
        std::make_unique<ListEditor>(*m_model, *m_view, m_dialogs, [this] { ++m_refreshes; });
}

void TestListEditor::cleanup()
{
    m_editor.reset();
    m_view.reset();
    m_model.reset();
}

void TestListEditor::fill(int rows)
{
    m_model->beginReload();
    for (int i = 0; i < rows; ++i)
        m_files.append(std::make_unique<FileItem>(
            QUrl::fromLocalFile(QStringLiteral("/d/r%1.pdf").arg(i)), i + 1, 0));
    m_model->endReload();
}

void TestListEditor::select(const QList<int> &rows)
{
    m_view->clearSelection();
    for (int row : rows)
        m_view->selectionModel()->select(m_model->index(row, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QStringList TestListEditor::order() const
{
    QStringList out;
    for (int i = 0; i < m_files.size(); ++i)
        out << m_files.at(i)->name().chopped(4);
    return out;
}

void TestListEditor::moves_data()
{
    QTest::addColumn<bool>("down");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QString>("expectedOrder");
    QTest::addColumn<QList<int>>("expectedSelection");
    QTest::newRow("block down") << true << QList<int>{2, 3} << "r0 r1 r4 r2 r3 r5"
                                << QList<int>{3, 4};
    QTest::newRow("gapped down") << true << QList<int>{1, 3} << "r0 r2 r1 r4 r3 r5"
                                 << QList<int>{2, 4};
    QTest::newRow("last row down")
        << true << QList<int>{4, 5} << "r0 r1 r2 r3 r4 r5" << QList<int>{};
    QTest::newRow("block up") << false << QList<int>{1, 2} << "r1 r2 r0 r3 r4 r5"
                              << QList<int>{0, 1};
    QTest::newRow("first row up") << false << QList<int>{0, 3} << "r0 r1 r2 r3 r4 r5"
                                  << QList<int>{};
    QTest::newRow("nothing selected")
        << false << QList<int>{} << "r0 r1 r2 r3 r4 r5" << QList<int>{};
}

void TestListEditor::moves()
{
    QFETCH(bool, down);
    QFETCH(QList<int>, selected);
    QFETCH(QString, expectedOrder);
    QFETCH(QList<int>, expectedSelection);
    fill(6);
    select(selected);
    if (down)
        m_editor->moveDown();
    else
        m_editor->moveUp();
    QCOMPARE(order().join(QLatin1Char(' ')), expectedOrder);
    QCOMPARE(m_editor->selectedRows(), expectedSelection);
}

void TestListEditor::removeSelectedKeepsRowPositions()
{
    fill(5);
    select({1, 3});
    m_editor->selectDeselectRemoveAll(ListEditor::RemoveSelected);
    QCOMPARE(order().join(QLatin1Char(' ')), QStringLiteral("r0 r2 r4"));
    QCOMPARE(m_refreshes, 1);
    // Row 1 still exists and now shows the file that moved up into it.
    QCOMPARE(m_editor->selectedRows(), QList<int>{1});
    QCOMPARE(m_files.totals().pdfPages, 1 + 3 + 5);
}

void TestListEditor::removeWithoutSelection()
{
    fill(3);
    m_editor->removeFiles();
    QCOMPARE(m_files.size(), 3);
    QCOMPARE(m_refreshes, 0);
    // The segment's command refreshes even when there was nothing to remove.
    m_editor->selectDeselectRemoveAll(ListEditor::RemoveSelected);
    QCOMPARE(m_files.size(), 3);
    QCOMPARE(m_refreshes, 1);
}

void TestListEditor::removeAllAsksFirst_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<int>("refreshes");
    QTest::newRow("no") << 0 << 3 << 0;
    QTest::newRow("yes") << 1 << 0 << 1;
}

void TestListEditor::removeAllAsksFirst()
{
    QFETCH(int, answer);
    QFETCH(int, remaining);
    QFETCH(int, refreshes);
    fill(3);
    m_dialogs.alertAnswers = {answer};
    m_editor->selectDeselectRemoveAll(ListEditor::RemoveAll);
    QCOMPARE(m_dialogs.alerts.size(), 1);
    const AlertRequest &alert = m_dialogs.alerts.first();
    QCOMPARE(alert.informativeText, QStringLiteral("Are you sure to remove all file(s)?"));
    QCOMPARE(alert.defaultButton, QStringLiteral("Yes"));
    QCOMPARE(alert.alternateButton, QStringLiteral("No"));
    QCOMPARE(m_files.size(), remaining);
    QCOMPARE(m_model->rowCount(), remaining);
    QCOMPARE(m_refreshes, refreshes);
}

void TestListEditor::checkCommands_data()
{
    QTest::addColumn<bool>("all");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected"); // check boxes of rows 0..3 after
    // Before: rows 0 and 2 checked, 1 and 3 not; rows 1 and 2 selected.
    QTest::newRow("check selected") << false << 1 << "1110";
    QTest::newRow("uncheck selected") << false << 2 << "1000";
    QTest::newRow("invert selected") << false << 3 << "1100";
    QTest::newRow("unknown code") << false << 4 << "1010";
    QTest::newRow("check all") << true << 1 << "1111";
    QTest::newRow("uncheck all") << true << 2 << "0000";
    QTest::newRow("invert all") << true << 3 << "0101";
}

void TestListEditor::checkCommands()
{
    QFETCH(bool, all);
    QFETCH(int, code);
    QFETCH(QString, expected);
    fill(4);
    m_files.at(1)->setIsSelected(false);
    m_files.at(3)->setIsSelected(false);
    select({1, 2});
    if (all)
        m_editor->checkUncheckInvertAll(code);
    else
        m_editor->checkUncheckInvertSelection(code);
    QString checks;
    for (int i = 0; i < m_files.size(); ++i)
        checks += m_files.at(i)->isSelected() ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(checks, expected);
    QCOMPARE(m_refreshes, 1);
    // Check boxes are not the selection.
    QCOMPARE(m_editor->selectedRows(), (QList<int>{1, 2}));
}

void TestListEditor::selectFirstReplacesSelection()
{
    fill(4);
    select({2, 3});
    m_editor->selectDeselectRemoveAll(ListEditor::SelectFirst);
    QCOMPARE(m_editor->selectedRows(), QList<int>{0});
    m_editor->selectDeselectRemoveAll(ListEditor::SelectAll);
    QCOMPARE(m_editor->selectedRows(), (QList<int>{0, 1, 2, 3}));
}

QTEST_MAIN(TestListEditor)
#include "tst_listeditor.moc"
