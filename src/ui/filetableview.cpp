#include "filetableview.h"

#include "column.h"
#include "filetablemodel.h"
#include "localpath.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QSvgRenderer>

#include <vector>

namespace tallivo {

namespace {

const QSize pictureSize(220, 211);
constexpr int hintWidth = 290;
constexpr int columnWidths[ColumnCount] = {30, 250, 62, 84, 56, 148, 148, 148, 240, 150, 64, 150};

// The header menu shows and hides the other columns; these always show.
bool isHideable(Column column)
{
    return column != Column::Check && column != Column::Name && column != Column::Pages;
}

bool isOptional(Column column)
{
    return column == Column::Sizes || column == Column::A4Equivalents || column == Column::Colour;
}

} // namespace

FileTableView::FileTableView(QWidget *parent)
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
    // Tab moves on to the window's other controls; the arrows move in here.
    setTabKeyNavigation(false);

    verticalHeader()->hide();
    // Fixed row heights keep scrolling and resizing cheap with many rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 10);

    QHeaderView *header = horizontalHeader();
    header->setSectionsMovable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(true);
    header->setSortIndicatorShown(true);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    header->viewport()->installEventFilter(this);
    m_headerMenu->setObjectName(QStringLiteral("headerMenu"));
    connect(header, &QHeaderView::customContextMenuRequested, this, [this](const QPoint &pos) {
        m_headerMenu->popup(horizontalHeader()->viewport()->mapToGlobal(pos));
    });
    connect(header, &QHeaderView::sectionMoved, this, [this] { setPictureHidden(false); });
    connect(m_headerMenu, &QMenu::aboutToShow, this, &FileTableView::updateHeaderMenu);
    connect(m_headerMenu, &QMenu::triggered, this, &FileTableView::toggleColumn);

    // The keyboard's other way to the context menu, besides the Menu key.
    auto *menuKey = new QAction(this);
    menuKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    menuKey->setShortcutContext(Qt::WidgetShortcut);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, this, [this] {
        const QModelIndex current = currentIndex();
        QRect area = visualRect(current);
        if (!current.isValid() || !viewport()->rect().intersects(area))
            area = QRect(QPoint(0, 0), QSize(1, 1));
        const QPoint at = area.center();
        QContextMenuEvent event(QContextMenuEvent::Keyboard, at, viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(viewport(), &event);
    });
}

void FileTableView::setModel(QAbstractItemModel *model)
{
    QTableView::setModel(model);
    if (!model)
        return;
    keepHeaderOffSelection();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, &FileTableView::updateLook);
    connect(model, &QAbstractItemModel::modelReset, this, &FileTableView::updateLook);
    if (auto *files = qobject_cast<FileTableModel *>(model)) {
        connect(files, &FileTableModel::rowsAboutToBeReordered, this,
                &FileTableView::holdSelection);
        connect(files, &FileTableModel::rowsReordered, this, &FileTableView::restoreSelection);
        connect(files, &FileTableModel::sortingChanged, this, [this](bool sorting) {
            if (sorting)
                viewport()->setCursor(Qt::BusyCursor);
            else
                viewport()->unsetCursor();
        });
    }
    QHeaderView *header = horizontalHeader();
    for (int column = 0; column < ColumnCount && column < header->count(); ++column)
        header->resizeSection(column, columnWidths[column]);
    header->setSectionResizeMode(int(Column::Check), QHeaderView::Fixed);
    for (int column = 0; column < ColumnCount && column < header->count(); ++column) {
        if (isOptional(Column(column)))
            setColumnHidden(column, true);
    }
    // Unsorted until a header is clicked.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    updateLook();
}

void FileTableView::setSelectionModel(QItemSelectionModel *selectionModel)
{
    QTableView::setSelectionModel(selectionModel);
    keepHeaderOffSelection();
}

void FileTableView::keepHeaderOffSelection()
{
    // A header asks whether each column it paints is selected whole, which
    // the selection model answers by reading every row of the column: a
    // million rows, each repaint after a Select All. The header highlights
    // nothing and clicks on it sort, so it gets a selection of its own that
    // stays empty.
    QAbstractItemModel *model = this->model();
    QHeaderView *header = horizontalHeader();
    if (!model || !header)
        return;
    if (!m_headerSelection || m_headerSelection->model() != model) {
        delete m_headerSelection;
        m_headerSelection = new QItemSelectionModel(model, this);
    }
    header->setSelectionModel(m_headerSelection);
}

QList<std::pair<int, int>> FileTableView::selectedRowRanges() const
{
    if (!selectionModel() || !model())
        return {};
    QList<RowRange> ranges;
    const QItemSelection selection = selectionModel()->selection();
    ranges.reserve(selection.size());
    for (const QItemSelectionRange &range : selection) {
        if (range.isValid())
            ranges.append({range.top(), range.bottom()});
    }
    return mergedRanges(std::move(ranges));
}

QList<int> FileTableView::selectedRows() const
{
    QList<int> rows;
    for (const auto &[first, last] : selectedRowRanges()) {
        for (int row = first; row <= last; ++row)
            rows.append(row);
    }
    return rows;
}

QList<int> FileTableView::selectedRowsAnyOrder() const
{
    return selectedRows();
}

void FileTableView::selectRows(const QList<int> &rows)
{
    selectRowRanges(rowBlocks(rows));
}

void FileTableView::selectRowRanges(const QList<std::pair<int, int>> &ranges, int current)
{
    if (!model() || !selectionModel())
        return;
    QItemSelection selection;
    const int rowCount = model()->rowCount();
    const int lastColumn = model()->columnCount() - 1;
    selection.reserve(ranges.size());
    for (const auto &[first, last] : ranges) {
        const int from = qMax(first, 0);
        const int to = qMin(last, rowCount - 1);
        // Appended, not merged: the ranges are apart already.
        if (from <= to)
            selection.append(
                QItemSelectionRange(model()->index(from, 0), model()->index(to, lastColumn)));
    }
    if (current >= 0 && current < rowCount)
        selectionModel()->setCurrentIndex(model()->index(current, 0),
                                          QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void FileTableView::selectAnchorRow(int row)
{
    if (!model() || !selectionModel() || row < 0 || row >= model()->rowCount())
        return;
    const QModelIndex index = model()->index(row, int(Column::Name));
    scrollTo(index);
    // The view keeps the anchor to itself and moves it only on a press, or a
    // key that moves without Shift; the selection model's current index is
    // not it. A plain press on the row, handed to the view, moves it.
    const QRect area = visualRect(index);
    if (area.isValid() && indexAt(area.center()) == index) {
        const QPointF at = area.center();
        const QPointF global = viewport()->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QTableView::mousePressEvent(&press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QTableView::mouseReleaseEvent(&release);
    }
    selectRowRanges({{row, row}}, row);
}

void FileTableView::holdSelection()
{
    m_heldSelection = selectedRowRanges();
    // Without a selection the layout change moves only the current index.
    if (!m_heldSelection.isEmpty())
        selectionModel()->clearSelection();
}

void FileTableView::restoreSelection(const std::vector<int> &newRows)
{
    const QList<RowRange> held = std::exchange(m_heldSelection, {});
    if (held.isEmpty())
        return;
    std::vector<bool> selected(newRows.size(), false);
    for (const auto &[first, last] : held) {
        for (int row = qMax(first, 0); row <= last && size_t(row) < newRows.size(); ++row)
            selected[size_t(newRows[size_t(row)])] = true;
    }
    QList<RowRange> ranges;
    for (int row = 0; size_t(row) < selected.size(); ++row) {
        if (!selected[size_t(row)])
            continue;
        if (!ranges.isEmpty() && ranges.last().second + 1 == row)
            ranges.last().second = row;
        else
            ranges.append({row, row});
    }
    selectRowRanges(ranges);
}

void FileTableView::updateLook()
{
    // A plain background under the empty-list picture, a grid once rows exist.
    const bool rows = model() && model()->rowCount() > 0;
    setShowGrid(rows);
    setAlternatingRowColors(rows);
    viewport()->update();
}

void FileTableView::setPictureHidden(bool hidden)
{
    if (m_pictureHidden == hidden)
        return;
    m_pictureHidden = hidden;
    viewport()->update();
}

void FileTableView::updateHeaderMenu()
{
    m_headerMenu->clear();
    if (!model())
        return;
    const QHeaderView *header = horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (column < 0 || column >= ColumnCount || !isHideable(Column(column)))
            continue;
        QAction *entry =
            m_headerMenu->addAction(model()->headerData(column, Qt::Horizontal).toString());
        entry->setCheckable(true);
        entry->setChecked(!isColumnHidden(column));
        entry->setData(column);
    }
}

void FileTableView::toggleColumn(QAction *entry)
{
    bool ok = false;
    const int column = entry ? entry->data().toInt(&ok) : -1;
    if (!ok || column < 0 || !model() || column >= model()->columnCount())
        return;
    setColumnHidden(column, !isColumnHidden(column));
    Q_EMIT columnsShownChanged();
}

bool FileTableView::showsPageDetails() const
{
    for (int column = 0; column < ColumnCount; ++column) {
        if (isOptional(Column(column)) && !isColumnHidden(column))
            return true;
    }
    return false;
}

void FileTableView::paintEvent(QPaintEvent *event)
{
    QTableView::paintEvent(event);
    if ((model() && model()->rowCount() > 0) || m_pictureHidden)
        return;

    const bool active = isActiveWindow();
    const QRect area = viewport()->rect();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);

    QFont font = this->font();
    font.setPointSizeF(qMax(font.pointSizeF(), 9.0) * 1.5);
    const QString hint =
        tr("Drag and Drop your files/folders directly from the file manager here.");
    const int width = qMin(hintWidth + 70, area.width() - 16);
    const QRect textBounds = QFontMetrics(font).boundingRect(
        QRect(0, 0, width, 1000), Qt::AlignHCenter | Qt::TextWordWrap, hint);
    const int gap = 18;
    const int blockHeight = pictureSize.height() + gap + textBounds.height();
    const int top = area.top() + qMax(8, (area.height() - blockHeight) / 2);

    // A missing picture still leaves the hint.
    QSvgRenderer picture(active ? QStringLiteral(":/images/Drop1.svg")
                                : QStringLiteral(":/images/Drop.svg"));
    const QRect pictureRect(area.center().x() - pictureSize.width() / 2, top, pictureSize.width(),
                            pictureSize.height());
    if (picture.isValid())
        picture.render(&painter, pictureRect);

    painter.setFont(font);
    painter.setPen(active ? QColor(129, 167, 200) : QColor(128, 128, 128));
    painter.drawText(QRect(area.center().x() - width / 2, pictureRect.bottom() + gap, width,
                           textBounds.height()),
                     Qt::AlignHCenter | Qt::TextWordWrap, hint);
}

void FileTableView::keyPressEvent(QKeyEvent *event)
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

void FileTableView::mousePressEvent(QMouseEvent *event)
{
    // A right press leaves the selection alone: the menu acts on it as it is.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void FileTableView::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    if (!m_contextMenu || !selectionModel() || !selectionModel()->hasSelection())
        return;
    m_contextMenu->popup(event->globalPos());
}

bool FileTableView::acceptsDrag(const QDropEvent *event) const
{
    if (event->source() == this || event->source() == viewport())
        return false;
    return event->mimeData() && event->mimeData()->hasUrls();
}

void FileTableView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void FileTableView::dragMoveEvent(QDragMoveEvent *event)
{
    // The whole table is the target; no insertion line between rows.
    if (!acceptsDrag(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void FileTableView::dropEvent(QDropEvent *event)
{
    if (!acceptsDrag(event)) {
        event->ignore();
        return;
    }
    // The URLs as given: they keep a name's bytes, which a local path in a
    // QString would not.
    QList<QUrl> urls;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (!localPath(url).isEmpty())
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

bool FileTableView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader()->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            m_headerPress = static_cast<QMouseEvent *>(event)->position().toPoint();
            break;
        case QEvent::MouseMove: {
            auto *move = static_cast<QMouseEvent *>(event);
            if ((move->buttons() & Qt::LeftButton) &&
                (move->position().toPoint() - m_headerPress).manhattanLength() >=
                    QApplication::startDragDistance())
                setPictureHidden(true);
            break;
        }
        case QEvent::MouseButtonRelease:
            setPictureHidden(false);
            break;
        default:
            break;
        }
    }
    return QTableView::eventFilter(watched, event);
}

void FileTableView::changeEvent(QEvent *event)
{
    // The picture and hint colour follow whether this is the active window.
    if (event->type() == QEvent::ActivationChange)
        viewport()->update();
    QTableView::changeEvent(event);
}

} // namespace tallivo
