#include "customtableview.h"
#include "filetablemodel.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

using namespace tallivo;

class TestCustomTableView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void contextMenuNeedsSelection();
    void rightPressKeepsSelection();
    void headerMenuListsHideableColumns();
    void keys_data();
    void keys();
    void drops_data();
    void drops();
    void gridFollowsRows();

private:
    void select(int row);

    FileList m_files;
    std::unique_ptr<FileTableModel> m_model;
    std::unique_ptr<CustomTableView> m_view;
    std::unique_ptr<QMenu> m_menu;
};

void TestCustomTableView::init()
{
    m_files.clear();
    for (int i = 0; i < 3; ++i)
        m_files.append(std::make_unique<FileItem>(
            QUrl::fromLocalFile(QStringLiteral("/d/f%1.pdf").arg(i)), 1, 0));
    m_model = std::make_unique<FileTableModel>(m_files);
    m_view = std::make_unique<CustomTableView>();
    m_view->setModel(m_model.get());
    m_menu = std::make_unique<QMenu>();
    m_menu->addAction(QStringLiteral("Open"));
    m_view->setContextMenu(m_menu.get());
    m_view->resize(600, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestCustomTableView::cleanup()
{
    m_view.reset();
    m_menu.reset();
    m_model.reset();
}

void TestCustomTableView::select(int row)
{
    m_view->selectionModel()->select(m_model->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
}

void TestCustomTableView::contextMenuNeedsSelection()
{
    const QPoint pos = m_view->visualRect(m_model->index(1, 1)).center();
    QContextMenuEvent none(QContextMenuEvent::Mouse, pos, m_view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(m_view->viewport(), &none);
    QVERIFY(!m_menu->isVisible());

    select(0);
    QContextMenuEvent some(QContextMenuEvent::Mouse, pos, m_view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(m_view->viewport(), &some);
    QTRY_VERIFY(m_menu->isVisible());
    m_menu->close();
}

void TestCustomTableView::rightPressKeepsSelection()
{
    select(0);
    const QPoint pos = m_view->visualRect(m_model->index(2, 1)).center();
    QTest::mousePress(m_view->viewport(), Qt::RightButton, {}, pos);
    QTest::mouseRelease(m_view->viewport(), Qt::RightButton, {}, pos);
    QVERIFY(m_view->selectionModel()->isRowSelected(0, {}));
    QVERIFY(!m_view->selectionModel()->isRowSelected(2, {}));
}

void TestCustomTableView::headerMenuListsHideableColumns()
{
    QMenu *menu = m_view->headerContextMenu();
    // Location moved to the front shows first; the fixed columns never show.
    m_view->horizontalHeader()->moveSection(FileTableModel::LocationColumn, 0);
    m_view->menuNeedsUpdate(menu);
    QStringList titles;
    for (QAction *a : menu->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{QStringLiteral("Location"), QStringLiteral("Size"),
                                  QStringLiteral("Type"), QStringLiteral("Modified"),
                                  QStringLiteral("Created"), QStringLiteral("Accessed")}));
    QVERIFY(menu->actions().at(1)->isChecked());

    menu->actions().at(1)->trigger();
    QVERIFY(m_view->isColumnHidden(FileTableModel::SizeColumn));
    m_view->menuNeedsUpdate(menu);
    QVERIFY(!menu->actions().at(1)->isChecked());
    menu->actions().at(1)->trigger();
    QVERIFY(!m_view->isColumnHidden(FileTableModel::SizeColumn));

    // Another menu is left alone.
    QMenu other;
    other.addAction(QStringLiteral("keep"));
    m_view->menuNeedsUpdate(&other);
    QCOMPARE(other.actions().size(), 1);
}

void TestCustomTableView::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("removes");
    QTest::addColumn<int>("currentRowAfter");
    QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << true << 1;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << true << 1;
    QTest::newRow("ctrl+down does nothing")
        << int(Qt::Key_Down) << int(Qt::ControlModifier) << false << 1;
    QTest::newRow("ctrl+up does nothing")
        << int(Qt::Key_Up) << int(Qt::ControlModifier) << false << 1;
    QTest::newRow("down moves") << int(Qt::Key_Down) << 0 << false << 2;
}

void TestCustomTableView::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, removes);
    QFETCH(int, currentRowAfter);
    m_view->setCurrentIndex(m_model->index(1, 1));
    QSignalSpy remove(m_view.get(), &CustomTableView::removeRequested);
    QTest::keyClick(m_view.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(remove.size(), removes ? 1 : 0);
    QCOMPARE(m_view->currentIndex().row(), currentRowAfter);
}

void TestCustomTableView::drops_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QList<QUrl>>("dropped");
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/data/a b.pdf"));
    const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/data/scans"));
    const QUrl web(QStringLiteral("https://example.org/x.pdf"));
    QTest::newRow("file and folder") << QList<QUrl>{file, folder} << QList<QUrl>{file, folder};
    QTest::newRow("only local files") << QList<QUrl>{web, file} << QList<QUrl>{file};
    QTest::newRow("no local files") << QList<QUrl>{web} << QList<QUrl>{};
    QTest::newRow("no urls") << QList<QUrl>{} << QList<QUrl>{};
}

void TestCustomTableView::drops()
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
    QCOMPARE(enter.isAccepted(), !dropped.isEmpty() || !urls.isEmpty());
    QDropEvent drop(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(m_view->viewport(), &drop);
    if (dropped.isEmpty()) {
        QCOMPARE(spy.size(), 0);
        return;
    }
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().first().value<QList<QUrl>>(), dropped);
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
}

void TestCustomTableView::gridFollowsRows()
{
    QVERIFY(m_view->showGrid());
    QVERIFY(m_view->alternatingRowColors());
    m_model->beginReload();
    m_files.clear();
    m_model->endReload();
    QVERIFY(!m_view->showGrid());
    QVERIFY(!m_view->alternatingRowColors());
}

QTEST_MAIN(TestCustomTableView)
#include "tst_customtableview.moc"
