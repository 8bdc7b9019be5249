#include "jobtablemodel.h"

namespace tallivo {

JobTableModel::JobTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void JobTableModel::setSummary(std::shared_ptr<const JobSummary> summary)
{
    // Few columns and any number of rows: a reset costs no more than the
    // rows in view.
    beginResetModel();
    m_summary = std::move(summary);
    endResetModel();
}

int JobTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_summary ? 0 : int(m_summary->jobs.size());
}

int JobTableModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_summary && m_summary->bill ? AmountColumn + 1 : AmountColumn;
}

QString JobTableModel::amountText(Cents amount, qint64 pricedPages, qint64 unpricedPages)
{
    // Pages without a price are never billed as free.
    if (unpricedPages > 0 && pricedPages == 0)
        return tr("unpriced");
    if (unpricedPages == 1)
        return tr("%1 + 1 unpriced page").arg(amountForPeople(amount));
    if (unpricedPages > 0)
        return tr("%1 + %2 unpriced pages")
            .arg(amountForPeople(amount), QLocale().toString(unpricedPages));
    return amountForPeople(amount);
}

QVariant JobTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const JobSummary::Job &job = m_summary->jobs[size_t(index.row())];
    const int column = index.column();
    if (role == Qt::TextAlignmentRole && column != JobColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (column == AmountColumn) {
        const BillingJob &bill = m_summary->bill->jobs[size_t(index.row())];
        if (role == CentsRole)
            return bill.amount;
        if (role == Qt::DisplayRole)
            return amountText(bill.amount, bill.pages - bill.unpricedPages, bill.unpricedPages);
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (column) {
    case JobColumn:
        return BillingReport::displayName(job.key);
    case FilesColumn:
        return job.tally.files();
    case PagesColumn:
        return job.tally.pages().all();
    case A4Column:
        return job.tally.a4Equivalents();
    case UncountedColumn:
        return job.tally.uncounted();
    default:
        return {};
    }
}

QVariant JobTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case JobColumn:
        return tr("Job");
    case FilesColumn:
        return tr("Files");
    case PagesColumn:
        return tr("Pages");
    case A4Column:
        return tr("A4 eq.");
    case UncountedColumn:
        return tr("Not counted");
    case AmountColumn:
        return tr("Amount");
    default:
        return {};
    }
}

} // namespace tallivo
