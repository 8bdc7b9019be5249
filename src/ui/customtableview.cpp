#include "customtableview.h"

#include "filetablemodel.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QSvgRenderer>

namespace tallivo {

namespace {

const QSize pictureSize(220, 211);
constexpr int hintWidth = 290;

} // namespace

CustomTableView::CustomTableView(QWidget *parent)
    : QTableView(parent)
    , m_headerMenu(new QMenu(this))
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setSortingEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DropOnly);

    verticalHeader()->hide();
    // Fixed row heights keep scrolling and resizing cheap with many rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 10);

    QHeaderView *header = horizontalHeader();
    header->setSectionsMovable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(true);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    header->viewport()->installEventFilter(this);
    m_headerMenu->setObjectName(QStringLiteral("headerContextMenu"));
    connect(header, &QHeaderView::customContextMenuRequested, this, [this](const QPoint &pos) {
        menuNeedsUpdate(m_headerMenu);
        m_headerMenu->popup(horizontalHeader()->viewport()->mapToGlobal(pos));
    });
    connect(header, &QHeaderView::sectionMoved, this, [this] { setDisableDrawing(false); });
    connect(m_headerMenu, &QMenu::triggered, this, &CustomTableView::colMenuItemClick);
}

void CustomTableView::setModel(QAbstractItemModel *model)
{
    QTableView::setModel(model);
    if (!model)
        return;
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, &CustomTableView::updateLook);
    connect(model, &QAbstractItemModel::modelReset, this, &CustomTableView::updateLook);
    updateLook();
}

void CustomTableView::updateLook()
{
    // A plain background under the empty-list picture, a grid once rows exist.
    const bool rows = model() && model()->rowCount() > 0;
    setShowGrid(rows);
    setAlternatingRowColors(rows);
    viewport()->update();
}

void CustomTableView::setDisableDrawing(bool disable)
{
    if (m_disableDrawing == disable)
        return;
    m_disableDrawing = disable;
    viewport()->update();
}

bool CustomTableView::isHideable(const QString &identifier)
{
    return identifier != QLatin1String("isselected") && identifier != QLatin1String("name") &&
           identifier != QLatin1String("pages");
}

void CustomTableView::menuNeedsUpdate(QMenu *menu)
{
    if (menu != m_headerMenu || !model())
        return;
    menu->clear();
    const QHeaderView *header = horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        const QString id =
            model()->headerData(column, Qt::Horizontal, FileTableModel::IdentifierRole).toString();
        if (!isHideable(id))
            continue;
        QAction *entry = menu->addAction(model()->headerData(column, Qt::Horizontal).toString());
        entry->setCheckable(true);
        entry->setChecked(!isColumnHidden(column));
        entry->setData(column);
    }
}

void CustomTableView::colMenuItemClick(QAction *action)
{
    bool ok = false;
    const int column = action ? action->data().toInt(&ok) : -1;
    if (!ok || column < 0 || !model() || column >= model()->columnCount())
        return;
    setColumnHidden(column, !isColumnHidden(column));
}

void CustomTableView::paintEvent(QPaintEvent *event)
{
    QTableView::paintEvent(event);
    if ((model() && model()->rowCount() > 0) || m_disableDrawing)
        return;

    const bool main = isActiveWindow();
    const QRect area = viewport()->rect();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);

    QFont font = this->font();
    font.setPointSizeF(qMax(font.pointSizeF(), 9.0) * 1.5);
    const QString hint = tr("Drag and Drop your files/folders directly from the finder here.");
    const int width = qMin(hintWidth + 70, area.width() - 16);
    const QRect textBounds = QFontMetrics(font).boundingRect(
        QRect(0, 0, width, 1000), Qt::AlignHCenter | Qt::TextWordWrap, hint);
    const int gap = 18;
    const int blockHeight = pictureSize.height() + gap + textBounds.height();
    const int top = area.top() + qMax(8, (area.height() - blockHeight) / 2);

    // A missing picture still leaves the hint.
    QSvgRenderer picture(main ? QStringLiteral(":/images/Drop1.svg")
                              : QStringLiteral(":/images/Drop.svg"));
    const QRect pictureRect(area.center().x() - pictureSize.width() / 2, top, pictureSize.width(),
                            pictureSize.height());
    if (picture.isValid())
        picture.render(&painter, pictureRect);

    painter.setFont(font);
    painter.setPen(main ? QColor(129, 167, 200) : QColor(128, 128, 128));
    painter.drawText(QRect(area.center().x() - width / 2, pictureRect.bottom() + gap, width,
                           textBounds.height()),
                     Qt::AlignHCenter | Qt::TextWordWrap, hint);
}

void CustomTableView::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
        Q_EMIT removeRequested();
        event->accept();
        return;
    }
    // Ctrl+Up/Down are taken and do nothing; the menus move rows instead.
    if ((event->modifiers() & Qt::ControlModifier) && (key == Qt::Key_Up || key == Qt::Key_Down)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void CustomTableView::mousePressEvent(QMouseEvent *event)
{
    // A right press leaves the selection alone: the menu acts on it as it is.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void CustomTableView::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    if (!m_contextMenu || !selectionModel() || !selectionModel()->hasSelection())
        return;
    m_contextMenu->popup(event->globalPos());
}

bool CustomTableView::acceptsDrag(const QDropEvent *event) const
{
    if (event->source() == this || event->source() == viewport())
        return false;
    return event->mimeData() && event->mimeData()->hasUrls();
}

void CustomTableView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!acceptsDrag(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CustomTableView::dragMoveEvent(QDragMoveEvent *event)
{
    // The whole table is the target; no insertion line between rows.
    if (!acceptsDrag(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CustomTableView::dropEvent(QDropEvent *event)
{
    if (!acceptsDrag(event)) {
        event->ignore();
        return;
    }
    QList<QUrl> urls;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            urls.append(url);
    }
    if (urls.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    Q_EMIT filesDropped(urls);
}

bool CustomTableView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader()->viewport()) {
        // A column being dragged would drag the picture along with it.
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            m_headerPress = static_cast<QMouseEvent *>(event)->position().toPoint();
            break;
        case QEvent::MouseMove: {
            auto *move = static_cast<QMouseEvent *>(event);
            if ((move->buttons() & Qt::LeftButton) &&
                (move->position().toPoint() - m_headerPress).manhattanLength() >=
                    QApplication::startDragDistance())
                setDisableDrawing(true);
            break;
        }
        case QEvent::MouseButtonRelease:
            setDisableDrawing(false);
            break;
        default:
            break;
        }
    }
    return QTableView::eventFilter(watched, event);
}

void CustomTableView::changeEvent(QEvent *event)
{
    // The picture and hint colour follow whether this is the active window.
    if (event->type() == QEvent::ActivationChange)
        viewport()->update();
    QTableView::changeEvent(event);
}

} // namespace tallivo
