#pragma once

#include <QMenu>

namespace tallivo {

class FileTableModel;
class FileTableView;
class RunPresenter;

// The View menu's "Sort By": the columns shown, in their order, then the
// order. An entry sorts as a click on the column's header would; nothing is
// sorted while a run appends to the list.
class SortMenu final : public QMenu
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SortMenu)
public:
    SortMenu(FileTableModel &model, FileTableView &table, const RunPresenter &presenter,
             QWidget *parent = nullptr);

    void sortBy(int column, Qt::SortOrder order);

private:
    void fill();

    FileTableModel &m_model;
    FileTableView &m_table;
    const RunPresenter &m_presenter;
};

} // namespace tallivo
