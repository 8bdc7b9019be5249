#include "filetablemodel.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

namespace {

std::unique_ptr<FileItem> item(const QString &path, int pages, int size = 0)
{
    return std::make_unique<FileItem>(QUrl::fromLocalFile(path), pages, size);
}

QStringList names(const FileList &files)
{
    QStringList out;
    for (int i = 0; i < files.size(); ++i)
        out << files.at(i)->name();
    return out;
}

} // namespace

class TestFileTableModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void passesModelTester();
    void sortsByColumn_data();
    void sortsByColumn();
    void sortsByDate();
    void tiesKeepTheEarlierOrder();
    void sortKeepsSelectedRowPositions();
    void onlyCheckBoxIsEditable();
    void rowsAppendedByRunAppearOnSync();
};

void TestFileTableModel::passesModelTester()
{
    FileList files;
    files.append(item(QStringLiteral("/d/b.pdf"), 3));
    files.append(item(QStringLiteral("/d/a.tif"), 1));
    FileTableModel model(files);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    files.append(item(QStringLiteral("/d/c.tiff"), 7));
    model.syncRows();
    QCOMPARE(model.rowCount(), 3);
    for (int column = 0; column < model.columnCount(); ++column) {
        model.sort(column, Qt::AscendingOrder);
        model.sort(column, Qt::DescendingOrder);
    }
    model.setData(model.index(1, FileTableModel::CheckColumn), Qt::Unchecked, Qt::CheckStateRole);
    model.reorder([&] { files.move(0, 2); });
    model.beginReload();
    files.removeRows({0});
    model.endReload();
    QCOMPARE(model.rowCount(), 2);
}

void TestFileTableModel::sortsByColumn_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QStringList>("expected");
    const QString b = QStringLiteral("b2.pdf"), a = QStringLiteral("a10.tif"),
                  c = QStringLiteral("c.tiff");
    QTest::newRow("name") << int(FileTableModel::NameColumn) << true << QStringList{a, b, c};
    QTest::newRow("name desc") << int(FileTableModel::NameColumn) << false << QStringList{c, b, a};
    QTest::newRow("pages") << int(FileTableModel::PagesColumn) << true << QStringList{c, b, a};
    QTest::newRow("pages desc") << int(FileTableModel::PagesColumn) << false
                                << QStringList{a, b, c};
    // Sizes compare as numbers, not as their texts.
    QTest::newRow("size") << int(FileTableModel::SizeColumn) << true << QStringList{b, c, a};
    QTest::newRow("type") << int(FileTableModel::TypeColumn) << true << QStringList{b, a, c};
    QTest::newRow("location") << int(FileTableModel::LocationColumn) << true
                              << QStringList{a, c, b};
    QTest::newRow("checked") << int(FileTableModel::CheckColumn) << true << QStringList{c, b, a};
}

void TestFileTableModel::sortsByColumn()
{
    QFETCH(int, column);
    QFETCH(bool, ascending);
    QFETCH(QStringList, expected);
    FileList files;
    files.append(item(QStringLiteral("/z/b2.pdf"), 5, 9000));
    files.append(item(QStringLiteral("/a/a10.tif"), 20, 120000));
    files.append(item(QStringLiteral("/m/c.tiff"), 2, 10000));
    files.at(2)->setIsSelected(false);
    FileTableModel model(files);
    model.sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QCOMPARE(names(files), expected);
}

void TestFileTableModel::sortsByDate()
{
    QTemporaryDir dir;
    FileList files;
    const QDateTime base(QDate(2020, 5, 1), QTime(12, 0), Qt::UTC);
    // Names in the opposite order to their dates, so a text sort would fail.
    const QStringList order = {QStringLiteral("c.pdf"), QStringLiteral("a.pdf"),
                               QStringLiteral("b.pdf")};
    const QList<int> daysLater = {30, 400, 2};
    for (int i = 0; i < order.size(); ++i) {
        QFile f(dir.filePath(order.at(i)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.setFileTime(base.addDays(daysLater.at(i)), QFileDevice::FileModificationTime));
        f.close();
        files.append(FileItem::initWithURL(QUrl::fromLocalFile(f.fileName())));
    }
    FileTableModel model(files);
    model.sort(FileTableModel::ModifiedColumn, Qt::AscendingOrder);
    QCOMPARE(names(files), (QStringList{QStringLiteral("b.pdf"), QStringLiteral("c.pdf"),
                                        QStringLiteral("a.pdf")}));
    model.sort(FileTableModel::ModifiedColumn, Qt::DescendingOrder);
    QCOMPARE(names(files).first(), QStringLiteral("a.pdf"));
}

void TestFileTableModel::tiesKeepTheEarlierOrder()
{
    FileList files;
    files.append(item(QStringLiteral("/d/b.pdf"), 2));
    files.append(item(QStringLiteral("/d/a.pdf"), 2));
    files.append(item(QStringLiteral("/d/c.pdf"), 1));
    FileTableModel model(files);
    model.sort(FileTableModel::NameColumn, Qt::DescendingOrder);
    model.sort(FileTableModel::PagesColumn, Qt::AscendingOrder);
    QCOMPARE(names(files), (QStringList{QStringLiteral("c.pdf"), QStringLiteral("b.pdf"),
                                        QStringLiteral("a.pdf")}));
    // A run's additions are sorted in by the same column.
    files.append(item(QStringLiteral("/d/d.pdf"), 0));
    model.sortFiles();
    QCOMPARE(names(files).first(), QStringLiteral("d.pdf"));
}

void TestFileTableModel::sortKeepsSelectedRowPositions()
{
    FileList files;
    for (const char *n : {"a.pdf", "b.pdf", "c.pdf", "d.pdf"})
        files.append(item(QStringLiteral("/d/") + QLatin1String(n), 1));
    FileTableModel model(files);
    QTableView view;
    view.setModel(&model);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.selectionModel()->select(model.index(0, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view.selectionModel()->select(model.index(2, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    model.sort(FileTableModel::NameColumn, Qt::DescendingOrder);
    QCOMPARE(names(files).first(), QStringLiteral("d.pdf"));
    const QModelIndexList rows = view.selectionModel()->selectedRows();
    QCOMPARE(rows.size(), 2);
    QVERIFY(view.selectionModel()->isRowSelected(0, {}));
    QVERIFY(view.selectionModel()->isRowSelected(2, {}));
}

void TestFileTableModel::onlyCheckBoxIsEditable()
{
    FileList files;
    files.append(item(QStringLiteral("/d/a.pdf"), 1));
    FileTableModel model(files);
    QVERIFY(!model.setData(model.index(0, FileTableModel::NameColumn), QStringLiteral("x")));
    QVERIFY(!model.setData(model.index(0, FileTableModel::PagesColumn), 9, Qt::CheckStateRole));
    QVERIFY(model.setData(model.index(0, FileTableModel::CheckColumn), Qt::Unchecked,
                          Qt::CheckStateRole));
    QVERIFY(!files.at(0)->isSelected());
    QCOMPARE(model.data(model.index(0, FileTableModel::CheckColumn), Qt::CheckStateRole).toInt(),
             int(Qt::Unchecked));
    QCOMPARE(model.data(model.index(0, FileTableModel::NameColumn)).toString(),
             QStringLiteral("a.pdf"));
    QCOMPARE(model.data(model.index(0, FileTableModel::SizeColumn), Qt::TextAlignmentRole).toInt() &
                 Qt::AlignRight,
             int(Qt::AlignRight));
}

void TestFileTableModel::rowsAppendedByRunAppearOnSync()
{
    FileList files;
    FileTableModel model(files);
    files.append(item(QStringLiteral("/d/a.pdf"), 1));
    // Until announced, the table does not see the new row.
    QCOMPARE(model.rowCount(), 0);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.syncRows();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(inserted.size(), 1);
}

QTEST_MAIN(TestFileTableModel)
#include "tst_filetablemodel.moc"
