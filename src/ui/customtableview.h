#pragma once

#include <QList>
#include <QTableView>
#include <QUrl>

class QMenu;

namespace tallivo {

// The file table: the picture and hint of an empty list, a context menu that
// opens only over a selection, the delete keys, the header menu that shows
// and hides columns, and drops of files and folders.
class CustomTableView : public QTableView
{
    Q_OBJECT
public:
    explicit CustomTableView(QWidget *parent = nullptr);

    QMenu *contextMenu() const { return m_contextMenu; }
    void setContextMenu(QMenu *menu) { m_contextMenu = menu; }
    bool disableDrawing() const { return m_disableDrawing; }
    void setDisableDrawing(bool disable);

    QMenu *headerContextMenu() const { return m_headerMenu; }
    // Rebuilds the header menu: one checkable entry per hideable column, in
    // on-screen order.
    void menuNeedsUpdate(QMenu *menu);
    // Whether the header menu may hide this column.
    static bool isHideable(const QString &identifier);

    void setModel(QAbstractItemModel *model) override;

Q_SIGNALS:
    void removeRequested();
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
    void colMenuItemClick(QAction *action);
    bool acceptsDrag(const QDropEvent *event) const;
    void updateLook();

    QMenu *m_contextMenu = nullptr;
    QMenu *m_headerMenu = nullptr;
    bool m_disableDrawing = false;
    QPoint m_headerPress;
};

} // namespace tallivo
