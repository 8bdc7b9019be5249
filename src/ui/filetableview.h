#pragma once

#include <QItemSelectionModel>
#include <QList>
#include <QPointer>
#include <QTableView>
#include <QUrl>

#include <utility>
#include <vector>

class QMenu;

namespace tallivo {

// The file table: the picture and hint of an empty list, a context menu that
// opens only over a selection (also on Shift+F10), the delete keys, the
// header menu that shows and hides columns, and drops of files and folders.
class FileTableView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileTableView)
public:
    explicit FileTableView(QWidget *parent = nullptr);

    void setContextMenu(QMenu *menu) { m_contextMenu = menu; }
    QMenu *headerMenu() const { return m_headerMenu; }
    // The selected rows, ascending, each once; read from the selection's
    // ranges, so a select-all of 100,000 rows costs no more than a loop.
    QList<int> selectedRows() const;
    // The same rows in no particular order, at the cost of the selection's
    // size rather than the table's.
    QList<int> selectedRowsAnyOrder() const;
    // Replaces the selection by these rows (ascending).
    void selectRows(const QList<int> &rows);
    // The selected rows as ascending ranges of whole rows, apart from each
    // other, at the cost of the selection's ranges.
    QList<std::pair<int, int>> selectedRowRanges() const;
    // Replaces the selection by these row ranges in one change; the current
    // row becomes `current` unless that is -1.
    void selectRowRanges(const QList<std::pair<int, int>> &ranges, int current = -1);
    // Selects `row` alone and makes it current and the anchor that a
    // Shift+click or Shift+arrow extends from, as a plain click on it would.
    void selectAnchorRow(int row);

    void setModel(QAbstractItemModel *model) override;
    void setSelectionModel(QItemSelectionModel *selectionModel) override;
    // Whether a column of page sizes or colours is shown.
    bool showsPageDetails() const;

Q_SIGNALS:
    void removeRequested();
    // The header menu showed or hid a column.
    void columnsShownChanged();
    void filesDropped(const QList<QUrl> &urls);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateHeaderMenu();
    void toggleColumn(QAction *entry);
    bool acceptsDrag(const QDropEvent *event) const;
    void setPictureHidden(bool hidden);
    void updateLook();
    // A sort keeps the selection on the same files: taken off before the
    // new order shows, put back on the files' new rows after.
    void holdSelection();
    void keepHeaderOffSelection();
    void restoreSelection(const std::vector<int> &newRows);

    QMenu *m_contextMenu = nullptr;
    QMenu *m_headerMenu = nullptr;
    // While a column is dragged, the empty-list picture would smear.
    bool m_pictureHidden = false;
    QPoint m_headerPress;
    QList<std::pair<int, int>> m_heldSelection;
    QPointer<QItemSelectionModel> m_headerSelection;
};

} // namespace tallivo
