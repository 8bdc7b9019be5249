#pragma once

#include "filelist.h"

#include <QAbstractTableModel>
#include <QList>

#include <functional>

namespace tallivo {

// The table's view of the controller's list: one row per item, in list
// order. Sorting reorders the list itself, so export and row moves follow
// what the table shows. Rows appended by a run are announced by syncRows().
class FileTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        CheckColumn,
        NameColumn,
        PagesColumn,
        SizeColumn,
        TypeColumn,
        ModifiedColumn,
        CreatedColumn,
        AccessedColumn,
        LocationColumn,
        ColumnCount
    };
    // headerData() role giving a column's identifier ("isselected", "name", ...).
    static constexpr int IdentifierRole = Qt::UserRole + 1;

    explicit FileTableModel(FileList &files, QObject *parent = nullptr);

    FileList &files() const { return m_files; }
    static QString columnIdentifier(int column);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // A header click: sorts the list by this column.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Orders the list by the current sort without touching the descriptors.
    void sortFiles();
    const QList<SortDescriptor> &sortDescriptors() const { return m_descriptors; }

    // Announces items appended to the list behind the model's back.
    void syncRows();
    // The list is about to change wholesale (removal, clearing).
    void beginReload();
    void endReload();
    // The list was reordered in place (moves): same rows, new contents.
    void reorder(const std::function<void()> &change);
    // The check boxes of the given rows changed.
    void checksChanged();

private:
    FileList &m_files;
    int m_rows = 0;
    QList<SortDescriptor> m_descriptors;
};

} // namespace tallivo
