#pragma once

#include "jobsummary.h"

#include <QAbstractTableModel>

#include <memory>

namespace tallivo {

// The Page Summary's "By job" table: a row per job with its files, pages,
// A4 equivalents, files not counted and, when priced, its amount. Made from
// a JobSummary, whose texts it makes only for the rows in view.
class JobTableModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JobTableModel)
public:
    enum Column
    {
        JobColumn,
        FilesColumn,
        PagesColumn,
        A4Column,
        UncountedColumn,
        AmountColumn, // only when priced
    };
    // Under Qt::UserRole, the amount column holds the amount in cents.
    static constexpr int CentsRole = Qt::UserRole;

    explicit JobTableModel(QObject *parent = nullptr);

    // Null: no rows.
    void setSummary(std::shared_ptr<const JobSummary> summary);
    const JobSummary *summary() const { return m_summary.get(); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The text of a priced line: the amount, or that (some of) its pages
    // have no price.
    static QString amountText(Cents amount, qint64 pricedPages, qint64 unpricedPages);

private:
    std::shared_ptr<const JobSummary> m_summary;
};

} // namespace tallivo
