#include "filetablemodel.h"

#include <QIcon>

#include <algorithm>
#include <numeric>

namespace tallivo {

namespace {

Qt::Alignment alignment(Column column)
{
    switch (column) {
    case Column::Pages:
    case Column::Size:
    case Column::A4Equivalents:
        return Qt::AlignRight | Qt::AlignVCenter;
    case Column::Check:
        return Qt::AlignCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

bool isColumn(int column)
{
    return column >= 0 && column < ColumnCount;
}

} // namespace

QList<std::pair<int, int>> rowBlocks(const QList<int> &ascendingRows)
{
    QList<std::pair<int, int>> blocks;
    for (int row : ascendingRows) {
        if (!blocks.isEmpty() && row == blocks.last().second + 1)
            blocks.last().second = row;
        else if (blocks.isEmpty() || row > blocks.last().second)
            blocks.append({row, row});
    }
    return blocks;
}

FileTableModel::FileTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int FileTableModel::appendFiles(std::vector<std::unique_ptr<FileItem>> items)
{
    // Files already listed, or twice in the batch, are left out first, so
    // that the rows announced are the rows added.
    std::vector<std::unique_ptr<FileItem>> fresh;
    fresh.reserve(items.size());
    PathSet seen;
    for (auto &item : items) {
        if (!item)
            continue;
        const PathKey key = item->key();
        if (m_files.contains(key) || seen.contains(key))
            continue;
        seen.insert(key);
        fresh.push_back(std::move(item));
    }
    if (fresh.empty())
        return 0;
    const int count = int(fresh.size());
    beginInsertRows({}, m_rows, m_rows + count - 1);
    for (auto &item : fresh) {
        tally(*item, +1);
        m_files.append(std::move(item));
    }
    m_rows = m_files.size();
    endInsertRows();
    Q_EMIT tallyChanged();
    return count;
}

bool FileTableModel::isUncounted(const FileItem &item)
{
    return item.countStatus() != CountStatus::Counted;
}

bool FileTableModel::lacksDetails(const FileItem &item)
{
    return item.pages() > 0 && item.pageSummary().isEmpty();
}

void FileTableModel::tally(const FileItem &item, int sign)
{
    if (isUncounted(item))
        m_uncounted += sign;
    if (lacksDetails(item))
        m_withoutDetails += sign;
    if (sign > 0)
        m_pageTable.add(item.pageSummary());
    else
        m_pageTable.remove(item.pageSummary());
}

void FileTableModel::retally()
{
    m_uncounted = 0;
    m_withoutDetails = 0;
    m_pageTable.clear();
    for (int row = 0; row < m_rows; ++row)
        tally(*m_files.at(row), +1);
    Q_EMIT tallyChanged();
}

QList<QUrl> FileTableModel::filesWithoutDetails() const
{
    QList<QUrl> files;
    for (int row = 0; row < m_rows; ++row) {
        const FileItem &item = *m_files.at(row);
        if (lacksDetails(item))
            files.append(item.filePath());
    }
    return files;
}

int FileTableModel::setPageSummaries(const QHash<QString, std::pair<qint32, PageSummary>> &read)
{
    int first = m_rows;
    int last = -1;
    int taken = 0;
    for (int row = 0; row < m_rows && taken < read.size(); ++row) {
        FileItem &item = *m_files.at(row);
        if (!lacksDetails(item))
            continue;
        const auto found = read.constFind(item.urlText());
        if (found == read.cend() || found->first != item.pages() || found->second.isEmpty())
            continue;
        tally(item, -1);
        item.setPageSummary(found->second);
        tally(item, +1);
        first = std::min(first, row);
        last = row;
        ++taken;
    }
    if (taken > 0) {
        Q_EMIT dataChanged(index(first, int(Column::Sizes)), index(last, int(Column::Colour)));
        Q_EMIT tallyChanged();
    }
    return taken;
}

PageTable FileTableModel::pageTableOf(const QList<int> &rows, int *withoutDetails) const
{
    PageTable table;
    int without = 0;
    for (int row : rows) {
        if (row < 0 || row >= m_rows)
            continue;
        const FileItem &item = *m_files.at(row);
        table.add(item.pageSummary());
        without += lacksDetails(item);
    }
    if (withoutDetails)
        *withoutDetails = without;
    return table;
}

int FileTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int FileTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const FileItem &item = *m_files.at(index.row());
    const auto column = Column(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return column == Column::Check ? QVariant() : item.displayField(column);
    case Qt::DecorationRole:
        // A 0 that is not a real count is marked, so it is not taken for one.
        if (column == Column::Pages && isUncounted(item)) {
            static const QIcon mark(QStringLiteral(":/icons/not-counted.svg"));
            return mark;
        }
        return {};
    case Qt::ToolTipRole:
        switch (column) {
        case Column::Pages:
            if (isUncounted(item))
                return tr("Pages could not be counted: %1")
                    .arg(countStatusText(item.countStatus()));
            return {};
        // Long texts are elided in their cells.
        case Column::Name:
        case Column::Location:
        case Column::Sizes:
        case Column::Colour:
            return item.displayField(column);
        default:
            return {};
        }
    case Qt::CheckStateRole:
        if (column == Column::Check)
            return item.isChecked() ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        return int(alignment(column));
    default:
        return {};
    }
}

bool FileTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    // Only the check box can be edited.
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) ||
        index.column() != int(Column::Check) || role != Qt::CheckStateRole)
        return false;
    m_files.at(index.row())->setChecked(value.toInt() == Qt::Checked);
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || !isColumn(section))
        return QAbstractTableModel::headerData(section, orientation, role);
    const auto column = Column(section);
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case Column::Check:
            return QString();
        case Column::Name:
            return tr("Name");
        case Column::Pages:
            return tr("Pages");
        case Column::Size:
            return tr("Size");
        case Column::Type:
            return tr("Type");
        case Column::Modified:
            return tr("Modified");
        case Column::Created:
            return tr("Created");
        case Column::Accessed:
            return tr("Accessed");
        case Column::Location:
            return tr("Location");
        case Column::Sizes:
            return tr("Sizes");
        case Column::A4Equivalents:
            return tr("A4 eq.");
        case Column::Colour:
            return tr("Colour");
        }
        return {};
    case Qt::TextAlignmentRole:
        return int(column == Column::Check ? Qt::AlignLeft | Qt::AlignVCenter : alignment(column));
    case Qt::ToolTipRole:
        switch (column) {
        case Column::Check:
            return tr("Checked");
        case Column::Sizes:
            return tr("Pages by paper size");
        case Column::A4Equivalents:
            return tr("A4 equivalents: each page's area in A4 pages, rounded up");
        case Column::Colour:
            return tr("Pages by colour");
        default:
            return {};
        }
    default:
        return {};
    }
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == int(Column::Check))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void FileTableModel::sort(int column, Qt::SortOrder order)
{
    if (!isColumn(column))
        return;
    // One key per click: the sort is stable, so rows that tie keep the order
    // of the sort before, at half the cost of a second key.
    m_sort = {{Column(column), order == Qt::AscendingOrder}};
    resort();
}

void FileTableModel::resort()
{
    if ((m_sort.isEmpty() && !m_uncountedFirst) || m_rows < 2)
        return;
    // The persistent indexes stay where they are: a selection keeps its rows
    // while the files move under it.
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    if (!m_sort.isEmpty())
        m_files.sort(m_sort);
    if (m_uncountedFirst)
        partitionUncounted();
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileTableModel::setUncountedFirst(bool first)
{
    if (first == m_uncountedFirst)
        return;
    m_uncountedFirst = first;
    resort();
}

void FileTableModel::partitionUncounted()
{
    std::vector<int> order;
    order.reserve(size_t(m_files.size()));
    for (bool uncounted : {true, false}) {
        for (int row = 0; row < m_files.size(); ++row) {
            if (isUncounted(*m_files.at(row)) == uncounted)
                order.push_back(row);
        }
    }
    m_files.reorder(order);
}

void FileTableModel::reorderRows(std::vector<int> order)
{
    std::vector<int> newRow(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newRow[size_t(order[i])] = int(i);
    Q_EMIT layoutAboutToBeChanged();
    m_files.reorder(order);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to.append(this->index(newRow[size_t(index.row())], index.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged();
}

void FileTableModel::removeRowList(const QList<int> &rows)
{
    QList<int> ascending;
    ascending.reserve(rows.size());
    for (int row : rows) {
        if (row >= 0 && row < m_rows)
            ascending.append(row);
    }
    std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    const QList<std::pair<int, int>> blocks = rowBlocks(ascending);
    if (blocks.isEmpty())
        return;
    const int count = int(ascending.size());
    int first = blocks.first().first;
    // Scattered rows are gathered at the end first: one removal, not one a
    // block, each of which would cost the views a pass over every row.
    if (blocks.size() > 1) {
        std::vector<int> order;
        order.reserve(size_t(m_rows));
        std::vector<bool> doomed(size_t(m_rows), false);
        for (const auto &[first, last] : blocks)
            std::fill(doomed.begin() + first, doomed.begin() + last + 1, true);
        for (bool gathered : {false, true}) {
            for (int row = 0; row < m_rows; ++row) {
                if (doomed[size_t(row)] == gathered)
                    order.push_back(row);
            }
        }
        reorderRows(std::move(order));
        first = m_rows - count;
    }
    QList<int> gone(count);
    std::iota(gone.begin(), gone.end(), first);
    for (int row : std::as_const(gone))
        tally(*m_files.at(row), -1);
    beginRemoveRows({}, first, first + count - 1);
    m_files.removeRows(gone);
    m_rows -= count;
    endRemoveRows();
    Q_EMIT tallyChanged();
}

void FileTableModel::clear()
{
    if (m_rows == 0) {
        m_files.clear();
        retally();
        return;
    }
    beginRemoveRows({}, 0, m_rows - 1);
    m_files.clear();
    m_rows = 0;
    endRemoveRows();
    retally();
}

void FileTableModel::swapList(FileList &other)
{
    beginResetModel();
    std::swap(m_files, other);
    m_rows = m_files.size();
    endResetModel();
    retally();
}

QList<int> FileTableModel::insertFiles(std::vector<std::pair<int, std::unique_ptr<FileItem>>> files)
{
    std::stable_sort(files.begin(), files.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<int> targets;
    std::vector<std::unique_ptr<FileItem>> fresh;
    PathSet seen;
    for (auto &[row, item] : files) {
        if (!item)
            continue;
        const PathKey key = item->key();
        if (m_files.contains(key) || seen.contains(key))
            continue;
        seen.insert(key);
        targets.push_back(row);
        fresh.push_back(std::move(item));
    }
    if (targets.empty())
        return {};
    appendFiles(std::move(fresh));
    // Merge the new files, now at the end, into the others at their rows.
    const int k = int(targets.size());
    const int old = m_rows - k;
    std::vector<int> order;
    order.reserve(size_t(m_rows));
    QList<int> placed;
    int nextOld = 0;
    int nextNew = 0;
    for (int row = 0; row < m_rows; ++row) {
        if (nextNew < k && (targets[size_t(nextNew)] <= row || nextOld >= old)) {
            order.push_back(old + nextNew++);
            placed.append(row);
        } else {
            order.push_back(nextOld++);
        }
    }
    reorderRows(std::move(order));
    return placed;
}

QList<int> FileTableModel::rowsOf(const QSet<QString> &urlTexts) const
{
    QList<int> rows;
    for (int row = 0; row < m_rows; ++row) {
        if (urlTexts.contains(m_files.at(row)->urlText()))
            rows.append(row);
    }
    return rows;
}

QList<int> FileTableModel::moveBlocks(const QList<int> &rows, bool up)
{
    QList<std::pair<int, int>> blocks = rowBlocks(rows);
    if (!up)
        std::reverse(blocks.begin(), blocks.end());
    // A block moves by taking the row next to it to its other end.
    std::vector<int> order(static_cast<size_t>(m_rows));
    std::iota(order.begin(), order.end(), 0);
    QList<int> moved;
    QList<std::pair<int, int>> moves; // the row taken, and where it goes
    for (const auto &[first, last] : std::as_const(blocks)) {
        if (first < 0 || last >= m_rows || (up ? first == 0 : last == m_rows - 1))
            break;
        const auto begin = order.begin();
        if (up) {
            std::rotate(begin + first - 1, begin + first, begin + last + 1);
            moves.append({first - 1, last});
        } else {
            std::rotate(begin + first, begin + last + 1, begin + last + 2);
            moves.append({last + 1, first});
        }
        for (int row = first; row <= last; ++row)
            moved.append(up ? row - 1 : row + 1);
    }
    if (moves.size() == 1) {
        const auto [from, to] = moves.first();
        // beginMoveRows() counts the destination before the row is taken out.
        beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
        m_files.move(from, to);
        endMoveRows();
    } else if (moves.size() > 1) {
        reorderRows(std::move(order));
    }
    std::sort(moved.begin(), moved.end());
    return moved;
}

QList<int> FileTableModel::moveUp(const QList<int> &rows)
{
    return moveBlocks(rows, true);
}

QList<int> FileTableModel::moveDown(const QList<int> &rows)
{
    return moveBlocks(rows, false);
}

void FileTableModel::setChecked(const QList<int> &rows, CheckChange change)
{
    int first = m_rows;
    int last = -1;
    for (int row : rows) {
        if (row < 0 || row >= m_rows)
            continue;
        FileItem *item = m_files.at(row);
        item->setChecked(change == CheckChange::Toggle ? !item->isChecked()
                                                       : change == CheckChange::Check);
        first = qMin(first, row);
        last = qMax(last, row);
    }
    if (first <= last)
        Q_EMIT dataChanged(index(first, int(Column::Check)), index(last, int(Column::Check)),
                           {Qt::CheckStateRole});
}

void FileTableModel::setAllChecked(CheckChange change)
{
    QList<int> all(m_rows);
    std::iota(all.begin(), all.end(), 0);
    setChecked(all, change);
}

} // namespace tallivo
