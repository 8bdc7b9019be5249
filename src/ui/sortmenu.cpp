#include "sortmenu.h"

#include "column.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "mnemonics.h"
#include "runpresenter.h"

#include <QActionGroup>
#include <QHeaderView>

namespace tallivo {

SortMenu::SortMenu(FileTableModel &model, FileTableView &table, const RunPresenter &presenter,
                   QWidget *parent)
    : QMenu(tr("S&ort By"), parent)
    , m_model(model)
    , m_table(table)
    , m_presenter(presenter)
{
    setObjectName(QStringLiteral("menuSortBy"));
    // Filled as it opens, for the columns shown then.
    connect(this, &QMenu::aboutToShow, this, &SortMenu::fill);
}

void SortMenu::fill()
{
    clear();
    qDeleteAll(findChildren<QActionGroup *>(Qt::FindDirectChildrenOnly));
    const QHeaderView *header = m_table.horizontalHeader();
    const int sorted = header->sortIndicatorSection();
    const Qt::SortOrder order = header->sortIndicatorOrder();
    auto *columns = new QActionGroup(this);
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (column == int(Column::Check) || header->isSectionHidden(column))
            continue;
        QAction *entry = addAction(m_model.headerData(column, Qt::Horizontal).toString());
        entry->setCheckable(true);
        entry->setChecked(column == sorted);
        entry->setActionGroup(columns);
        connect(entry, &QAction::triggered, this, [this, column, order] { sortBy(column, order); });
    }
    addSeparator();
    auto *orders = new QActionGroup(this);
    for (const auto &[text, entryOrder] : {std::pair{tr("Ascending"), Qt::AscendingOrder},
                                           std::pair{tr("Descending"), Qt::DescendingOrder}}) {
        QAction *entry = addAction(text);
        entry->setCheckable(true);
        entry->setChecked(sorted >= 0 && order == entryOrder);
        entry->setEnabled(sorted >= 0);
        entry->setActionGroup(orders);
        const Qt::SortOrder chosen = entryOrder;
        connect(entry, &QAction::triggered, this,
                [this, sorted, chosen] { sortBy(sorted, chosen); });
    }
    addMnemonics(this);
}

void SortMenu::sortBy(int column, Qt::SortOrder order)
{
    if (column < 0 || m_presenter.isBusy())
        return;
    const QHeaderView *header = m_table.horizontalHeader();
    // What a click on the header does; the same indicator sorts again, as
    // rows moved by hand may have left that order.
    if (header->sortIndicatorSection() == column && header->sortIndicatorOrder() == order)
        m_model.sort(column, order);
    else
        m_table.sortByColumn(column, order);
}

} // namespace tallivo
