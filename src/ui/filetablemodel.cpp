#include "filetablemodel.h"

#include <QFont>

namespace tallivo {

namespace {

struct ColumnInfo
{
    const char *identifier;
    const char *title;
};

// The identifiers of the check box, name, pages and size columns are compared
// exactly elsewhere; the rest are the upper-case column keys.
constexpr ColumnInfo columns[FileTableModel::ColumnCount] = {
    {"isselected", ""},         {"name", "Name"},
    {"pages", "Pages"},         {"sizeInKB", "Size"},
    {"TYPE", "Type"},           {"DATEMODIFIED", "Modified"},
    {"DATECREATED", "Created"}, {"DATEACCESSED", "Accessed"},
    {"LOCATION", "Location"},
};

} // namespace

FileTableModel::FileTableModel(FileList &files, QObject *parent)
    : QAbstractTableModel(parent)
    , m_files(files)
    , m_rows(files.size())
{
}

QString FileTableModel::columnIdentifier(int column)
{
    if (column < 0 || column >= ColumnCount)
        return {};
    return QLatin1String(columns[column].identifier);
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
    if (!index.isValid() || index.row() >= m_rows || index.row() >= m_files.size())
        return {};
    const FileItem &item = *m_files.at(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (column == CheckColumn)
            return {};
        if (role == Qt::ToolTipRole && column != NameColumn && column != LocationColumn)
            return {};
        return item.displayField(columnIdentifier(column));
    case Qt::CheckStateRole:
        if (column == CheckColumn)
            return item.isChecked() ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        if (column == SizeColumn || column == PagesColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (column == CheckColumn)
            return int(Qt::AlignCenter);
        return {};
    default:
        return {};
    }
}

bool FileTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    // Only the check box can be edited.
    if (!index.isValid() || index.column() != CheckColumn || role != Qt::CheckStateRole ||
        index.row() >= m_rows)
        return false;
    m_files.at(index.row())->setChecked(value.toInt() == Qt::Checked);
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromLatin1(columns[section].title);
    case IdentifierRole:
        return columnIdentifier(section);
    case Qt::TextAlignmentRole:
        if (section == SizeColumn || section == PagesColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        return section == CheckColumn ? QStringLiteral("Checked") : QVariant();
    default:
        return {};
    }
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == CheckColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void FileTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    // One key per click: the sort is stable, so rows that tie keep the order
    // of the sort before, at half the cost of a second key.
    m_descriptors = {{columnIdentifier(column), order == Qt::AscendingOrder}};
    sortFiles();
}

void FileTableModel::sortFiles()
{
    syncRows();
    if (m_descriptors.isEmpty() || m_files.size() < 2)
        return;
    // The persistent indexes are left where they are: the selection keeps
    // its row positions while the files move under it.
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    m_files.sort(m_descriptors);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileTableModel::syncRows()
{
    const int now = m_files.size();
    if (now > m_rows) {
        beginInsertRows({}, m_rows, now - 1);
        m_rows = now;
        endInsertRows();
    } else if (now < m_rows) {
        beginResetModel();
        m_rows = now;
        endResetModel();
    }
}

void FileTableModel::beginReload()
{
    beginResetModel();
}

void FileTableModel::endReload()
{
    m_rows = m_files.size();
    endResetModel();
}

void FileTableModel::reorder(const std::function<void()> &change)
{
    Q_EMIT layoutAboutToBeChanged();
    change();
    Q_EMIT layoutChanged();
}

void FileTableModel::checksChanged()
{
    if (m_rows > 0)
        Q_EMIT dataChanged(index(0, CheckColumn), index(m_rows - 1, CheckColumn),
                           {Qt::CheckStateRole});
}

} // namespace tallivo
