#include "filetablemodel.h"

#include "filedisplay.h"
#include "iopool.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
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

QList<RowRange> mergedRanges(QList<RowRange> ranges)
{
    std::sort(ranges.begin(), ranges.end());
    QList<RowRange> merged;
    for (const RowRange &range : std::as_const(ranges)) {
        if (range.first > range.second)
            continue;
        if (!merged.isEmpty() && range.first <= merged.last().second + 1)
            merged.last().second = qMax(merged.last().second, range.second);
        else
            merged.append(range);
    }
    return merged;
}

// A sort in the background: the rows' sort data is read here in slices, the
// keys are made and sorted on the I/O pool, and the order is shown here in
// one step, unless the list changed meanwhile.
struct FileTableModel::SortJob
{
    quint64 generation = 0;
    int rows = 0;
    int gathered = 0;
    bool uncountedFirst = false;
    std::vector<SortKeyData> columns;
};

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
    for (auto &item : fresh)
        m_files.append(std::move(item));
    m_rows = m_files.size();
    m_appended += quint64(count);
    edited(true);
    endInsertRows();
    Q_EMIT tallyChanged();
    return count;
}

std::vector<FileTableModel::DetailsWanted> FileTableModel::filesWithoutDetails() const
{
    std::vector<DetailsWanted> files;
    files.reserve(size_t(tally().withoutDetails()));
    for (int row = 0; row < m_rows; ++row) {
        const FileItem &item = *m_files.at(row);
        if (PageTally::lacksDetails(item))
            files.push_back({item.folder(), item.nameBytes(), row});
    }
    return files;
}

int FileTableModel::setPageSummaries(std::vector<DetailsRead> reads)
{
    int first = m_rows;
    int last = -1;
    int taken = 0;
    const auto take = [&](int row, DetailsRead &read) {
        m_files.update(row, [&read](FileItem &item) {
            item.setPageSummary(std::move(read.summary));
            item.setColoursLost(read.coloursLost);
        });
        first = std::min(first, row);
        last = std::max(last, row);
        ++taken;
    };
    const auto wants = [this](const FileItem &item, const DetailsRead &read) {
        return PageTally::lacksDetails(item) && item.pages() == read.pages &&
               !read.summary.isEmpty();
    };
    // Most files are where they were when asked for.
    QHash<PathKey, qsizetype> moved;
    for (qsizetype i = 0; i < qsizetype(reads.size()); ++i) {
        DetailsRead &read = reads[size_t(i)];
        if (read.summary.isEmpty())
            continue;
        if (read.row >= 0 && read.row < m_rows) {
            const FileItem &item = *m_files.at(read.row);
            if (item.key() == read.key) {
                if (wants(item, read))
                    take(read.row, read);
                continue;
            }
        }
        moved.insert(read.key, i);
    }
    // The others, after a sort or an edit, in one pass.
    for (int row = 0; row < m_rows && !moved.isEmpty(); ++row) {
        const FileItem &item = *m_files.at(row);
        if (!PageTally::lacksDetails(item))
            continue;
        const auto found = moved.constFind(item.key());
        if (found == moved.cend())
            continue;
        DetailsRead &read = reads[size_t(*found)];
        moved.erase(found);
        if (wants(item, read))
            take(row, read);
    }
    if (taken > 0) {
        Q_EMIT dataChanged(index(first, int(Column::Sizes)), index(last, int(Column::Colour)));
        Q_EMIT tallyChanged();
    }
    return taken;
}

void FileTableModel::dropPdfDetails()
{
    ++m_colourEpoch;
    startDrop();
}

void FileTableModel::startDrop()
{
    const bool scheduled = isDroppingDetails();
    m_dropRow = 0;
    m_dropShape = m_reshaped;
    if (!scheduled)
        QTimer::singleShot(0, this, &FileTableModel::dropSlice);
}

void FileTableModel::dropSlice()
{
    // A few milliseconds a slice: a million files go without freezing the
    // window.
    constexpr int kRowsPerSlice = 32768;
    if (m_dropShape != m_reshaped) {
        // Rows moved: those not yet reached may be above the slice now.
        m_dropRow = 0;
        m_dropShape = m_reshaped;
    }
    const int to = std::min(m_rows, m_dropRow + kRowsPerSlice);
    const auto [first, last] = m_files.dropPageDetails(m_dropRow, to, PageGroup::Pdf);
    if (first <= last) {
        Q_EMIT dataChanged(index(first, int(Column::Sizes)), index(last, int(Column::Colour)));
        Q_EMIT tallyChanged();
    }
    if (to < m_rows) {
        m_dropRow = to;
        QTimer::singleShot(0, this, &FileTableModel::dropSlice);
        return;
    }
    m_dropRow = -1;
    m_files.setColourEpoch(m_colourEpoch);
    Q_EMIT pdfDetailsDropped();
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
        return column == Column::Check ? QVariant() : displayField(item, column);
    case Qt::DecorationRole:
        // A 0 that is not a real count is marked, so it is not taken for one.
        // So are colours a PDF worker lost, which show as Unknown.
        if ((column == Column::Pages && PageTally::isUncounted(item)) ||
            (column == Column::Colour && item.coloursLost() != CountStatus::Counted)) {
            static const QIcon mark(QStringLiteral(":/icons/not-counted.svg"));
            return mark;
        }
        return {};
    case Qt::ToolTipRole:
        switch (column) {
        case Column::Pages:
            if (PageTally::isUncounted(item))
                return tr("Pages could not be counted: %1")
                    .arg(countStatusText(item.countStatus()));
            return {};
        case Column::Colour:
            if (item.coloursLost() != CountStatus::Counted)
                return tr("Page colours could not be read: %1")
                    .arg(countStatusText(item.coloursLost()));
            return displayField(item, column);
        // Long texts are elided in their cells.
        case Column::Name:
        case Column::Location:
        case Column::Sizes:
            return displayField(item, column);
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
    const bool checked = value.toInt() == Qt::Checked;
    if (checked != m_files.at(index.row())->isChecked()) {
        m_files.setChecked(index.row(), checked);
        edited(true);
    }
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    Q_EMIT tallyChanged();
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
    const std::optional<SortKey> key = sortKeyOf(Column(column));
    if (!key)
        return;
    // One key per click: the sort is stable, so rows that tie keep the order
    // of the sort before, at half the cost of a second key.
    m_sort = {{*key, order == Qt::AscendingOrder}};
    resort();
}

void FileTableModel::resort()
{
    if ((m_sort.isEmpty() && !m_uncountedFirst) || m_rows < 2) {
        // A sort under way is overtaken by this one.
        if (m_job)
            endSort();
        return;
    }
    if (m_rows < m_backgroundSortFrom) {
        if (m_job)
            endSort();
        sortNow();
        return;
    }
    const bool started = !m_job;
    auto job = std::make_shared<SortJob>();
    job->generation = m_generation;
    job->rows = m_rows;
    job->uncountedFirst = m_uncountedFirst;
    const auto column = [this](SortDescriptor descriptor) {
        SortKeyData data;
        data.descriptor = descriptor;
        // Room for every row at once: a vector doubling on a million rows
        // would hold both sizes for a moment.
        const auto rows = size_t(m_rows);
        if (descriptor.key == SortKey::Folder)
            data.folders.reserve(rows);
        else if (descriptor.key == SortKey::Name || descriptor.key == SortKey::Type)
            data.names.reserve(rows);
        else
            data.numbers.reserve(rows);
        return data;
    };
    if (m_uncountedFirst)
        job->columns.push_back(column({SortKey::Pages, true}));
    for (const SortDescriptor &d : std::as_const(m_sort))
        job->columns.push_back(column(d));
    m_job = job;
    if (started)
        Q_EMIT sortingChanged(true);
    gatherSortData(job);
}

void FileTableModel::sortNow()
{
    std::vector<SortKeyData> columns;
    if (m_uncountedFirst) {
        SortKeyData first;
        for (int row = 0; row < m_rows; ++row)
            first.numbers.push_back(!PageTally::isUncounted(*m_files.at(row)));
        columns.push_back(std::move(first));
    }
    for (const SortDescriptor &d : std::as_const(m_sort)) {
        SortKeyData data;
        data.descriptor = d;
        tallivo::gatherSortData(m_files, 0, m_rows, data);
        columns.push_back(std::move(data));
    }
    applyOrder(sortOrder(std::move(columns), m_rows));
}

void FileTableModel::gatherSortData(const std::shared_ptr<SortJob> &job)
{
    if (m_job != job)
        return;
    if (job->generation != m_generation) {
        resort();
        return;
    }
    // Slices short enough that the window keeps answering.
    constexpr int kSlice = 4096;
    QElapsedTimer clock;
    clock.start();
    while (job->gathered < job->rows && clock.elapsed() < 20) {
        const int from = job->gathered;
        const int to = qMin(from + kSlice, job->rows);
        for (size_t c = 0; c < job->columns.size(); ++c) {
            SortKeyData &data = job->columns[c];
            if (c == 0 && job->uncountedFirst) {
                for (int row = from; row < to; ++row)
                    data.numbers.push_back(!PageTally::isUncounted(*m_files.at(row)));
            } else {
                tallivo::gatherSortData(m_files, from, to, data);
            }
        }
        job->gathered = to;
    }
    if (job->gathered < job->rows) {
        QTimer::singleShot(0, this, [this, job] { gatherSortData(job); });
        return;
    }
    sortGathered(job);
}

void FileTableModel::sortGathered(const std::shared_ptr<SortJob> &job)
{
    runOnIoPool(
        this,
        [job] {
            // Heavy on the CPU: one core's worth, like a parse.
            ParseSlot slot;
            const bool texts = std::any_of(job->columns.cbegin(), job->columns.cend(),
                                           [](const SortKeyData &c) { return c.text; });
            auto order =
                std::make_shared<std::vector<int>>(sortOrder(std::move(job->columns), job->rows));
#ifdef __GLIBC__
            // The keys of a million texts, freed, would stay with the
            // process until its end.
            if (texts)
                malloc_trim(0);
#endif
            return order;
        },
        [this, job](const std::shared_ptr<std::vector<int>> &order) {
            if (m_job != job)
                return;
            if (job->generation != m_generation) {
                // The list changed under the sort: sort it again as it is.
                resort();
                return;
            }
            applyOrder(*order);
            endSort();
        });
}

void FileTableModel::endSort()
{
    m_job.reset();
    Q_EMIT sortingChanged(false);
}

void FileTableModel::applyOrder(const std::vector<int> &order)
{
    if (order.size() != size_t(m_rows))
        return;
    std::vector<int> newRows(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newRows[size_t(order[i])] = int(i);
    Q_EMIT rowsAboutToBeReordered();
    reorderRows(order, newRows);
    Q_EMIT rowsReordered(newRows);
}

void FileTableModel::setUncountedFirst(bool first)
{
    if (first == m_uncountedFirst)
        return;
    m_uncountedFirst = first;
    resort();
}

void FileTableModel::reorderRows(const std::vector<int> &order)
{
    std::vector<int> newRow(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newRow[size_t(order[i])] = int(i);
    reorderRows(order, newRow);
}

void FileTableModel::reorderRows(const std::vector<int> &order, const std::vector<int> &newRow)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    m_files.reorder(order);
    edited();
    // Views that keep their selection as ranges take it off before this, so
    // only a few indexes are left here.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to.append(this->index(newRow[size_t(index.row())], index.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::vector<FileBlock> FileTableModel::removeRowList(const QList<int> &rows)
{
    QList<int> ascending;
    ascending.reserve(rows.size());
    for (int row : rows) {
        if (row >= 0 && row < m_rows)
            ascending.append(row);
    }
    std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    return removeRanges(rowBlocks(ascending));
}

std::vector<FileBlock> FileTableModel::removeRanges(const QList<RowRange> &ranges)
{
    QList<RowRange> blocks;
    for (const auto &[first, last] : ranges) {
        const int from = qMax(first, 0);
        const int to = qMin(last, m_rows - 1);
        if (from <= to)
            blocks.append({from, to});
    }
    blocks = mergedRanges(blocks);
    std::vector<FileBlock> taken;
    if (blocks.isEmpty())
        return taken;
    if (blocks.size() > kMaxBlockSignals) {
        beginResetModel();
        taken = m_files.takeBlocks(blocks);
        m_rows = m_files.size();
        edited();
        endResetModel();
    } else {
        // From the last block up, so that the rows above stay as they were.
        for (qsizetype b = blocks.size(); b-- > 0;) {
            const auto [first, last] = blocks[b];
            beginRemoveRows({}, first, last);
            std::vector<FileBlock> one = m_files.takeBlocks({blocks[b]});
            m_rows = m_files.size();
            edited();
            endRemoveRows();
            taken.push_back(std::move(one.front()));
        }
        std::reverse(taken.begin(), taken.end());
    }
    Q_EMIT tallyChanged();
    return taken;
}

QList<RowRange> FileTableModel::insertBlocks(std::vector<FileBlock> blocks)
{
    return insertBlocks(std::move(blocks), quint64(-1));
}

QList<RowRange> FileTableModel::insertBlocks(std::vector<FileBlock> blocks, quint64 appendedSince)
{
    const bool mayBeListed = appendedSince != m_appended;
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const FileBlock &a, const FileBlock &b) { return a.row < b.row; });
    // Files taken off before the colour rule changed come back without the
    // PDFs' colours of the old one.
    for (FileBlock &block : blocks) {
        if (block.colourEpoch == m_colourEpoch)
            continue;
        for (const auto &item : block.items) {
            if (item && pageGroupOf(*item) == PageGroup::Pdf)
                item->dropPageDetails();
        }
        block.colourEpoch = m_colourEpoch;
    }
    // Files listed meanwhile (a run may have found them again) stay where
    // they are.
    std::vector<FileBlock> fresh;
    for (FileBlock &block : blocks) {
        // Nothing appended since: every file goes back, and the block as it is.
        if (!mayBeListed && std::none_of(block.items.cbegin(), block.items.cend(),
                                         [](const auto &item) { return !item; })) {
            if (!block.items.empty())
                fresh.push_back(std::move(block));
            continue;
        }
        FileBlock kept;
        kept.row = block.row;
        const bool known = block.pages.size() == block.items.size();
        for (size_t i = 0; i < block.items.size(); ++i) {
            std::unique_ptr<FileItem> &item = block.items[i];
            if (!item || (mayBeListed && m_files.isListed(*item)))
                continue;
            kept.items.push_back(std::move(item));
            if (known)
                kept.pages.push_back(block.pages[i]);
        }
        if (!kept.items.empty())
            fresh.push_back(std::move(kept));
    }
    QList<RowRange> placed;
    if (fresh.empty())
        return placed;
    if (fresh.size() > size_t(kMaxBlockSignals)) {
        beginResetModel();
        placed = m_files.putBlocks(std::move(fresh));
        m_rows = m_files.size();
        edited();
        endResetModel();
    } else {
        // From the first block down: each goes in at its row among the rows
        // already back.
        for (FileBlock &block : fresh) {
            const int first = qBound(0, block.row, m_rows);
            const int last = first + int(block.items.size()) - 1;
            block.row = first;
            beginInsertRows({}, first, last);
            std::vector<FileBlock> one;
            one.push_back(std::move(block));
            m_files.putBlocks(std::move(one));
            m_rows = m_files.size();
            edited();
            endInsertRows();
            if (!placed.isEmpty() && placed.last().second + 1 == first)
                placed.last().second = last;
            else
                placed.append({first, last});
        }
    }
    Q_EMIT tallyChanged();
    return placed;
}

void FileTableModel::clear()
{
    if (m_rows == 0) {
        m_files.clear();
        edited();
        Q_EMIT tallyChanged();
        return;
    }
    beginRemoveRows({}, 0, m_rows - 1);
    m_files.clear();
    m_rows = 0;
    edited();
    endRemoveRows();
    Q_EMIT tallyChanged();
}

void FileTableModel::swapList(FileList &other)
{
    beginResetModel();
    std::swap(m_files, other);
    m_rows = m_files.size();
    edited();
    endResetModel();
    // The tally came with the list.
    Q_EMIT tallyChanged();
    // A list kept from before the colour rule changed drops its PDFs' colours.
    if (m_files.colourEpoch() != m_colourEpoch)
        startDrop();
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
        edited();
        endMoveRows();
    } else if (moves.size() > 1) {
        reorderRows(order);
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
        const bool checked = change == CheckChange::Toggle ? !m_files.at(row)->isChecked()
                                                           : change == CheckChange::Check;
        m_files.setChecked(row, checked);
        first = qMin(first, row);
        last = qMax(last, row);
    }
    if (first <= last) {
        edited(true);
        Q_EMIT dataChanged(index(first, int(Column::Check)), index(last, int(Column::Check)),
                           {Qt::CheckStateRole});
        Q_EMIT tallyChanged();
    }
}

void FileTableModel::setAllChecked(CheckChange change)
{
    QList<int> all(m_rows);
    std::iota(all.begin(), all.end(), 0);
    setChecked(all, change);
}

} // namespace tallivo
