#pragma once

#include "jobsummary.h"
#include "pagesummary.h"
#include "pagetally.h"

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class QRadioButton;
class QCheckBox;
class QSplitter;
class QTableView;
class QTableWidget;
class QTableWidgetItem;

namespace tallivo {

class Dialogs;
class JobTableModel;
class PageBarChart;

// The pages of the list, or of its selected files, by size class and colour
// class: a table, a bar chart and a CSV export; or by job. With prices, the
// amounts of the bill beside them. Not modal; its owner hands it a new table
// whenever the list, the selection or the scope changes.
class PageSummaryDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageSummaryDialog)
public:
    enum class Scope
    {
        WholeList,
        Selection
    };
    Q_ENUM(Scope)

    // `dialogs` asks for the export's destination and reports failures; it
    // must outlive the dialog.
    explicit PageSummaryDialog(Dialogs &dialogs, QWidget *parent = nullptr);
    ~PageSummaryDialog() override;

    Scope scope() const { return m_scope; }
    const PageTable &table() const { return m_table; }
    bool isByJob() const;
    const JobTableModel &jobModel() const { return *m_jobModel; }

public Q_SLOTS:
    void setSummary(const tallivo::PageTable &table);
    // The figures of the files in scope: their table and how many of them
    // have no page details, as setFilesWithoutDetails() takes them.
    void setTally(const tallivo::PageTally &tally, bool reading = false);
    void setScope(tallivo::PageSummaryDialog::Scope scope);
    // Files in scope that were counted while page details were off: they
    // are not in the table yet. While `reading`, their details are being
    // read and a note says how many are left; otherwise the note says they
    // could not be read.
    void setFilesWithoutDetails(int files, bool reading = false);
    // While a count runs, Esc asks for it to be cancelled instead of
    // closing the summary.
    void setRunning(bool running);
    // Asks where to save the table as CSV and saves it there.
    void exportCsv();
    // With prices the table has an amount column and the bill's total is
    // shown, `currency` beside it.
    void setPricing(bool priced, const QString &currency);
    // Shows the files by job instead of by size.
    void setByJob(bool byJob);
    // The files in scope by job and their bill, once grouped; null when
    // neither amounts nor the jobs are shown.
    void setJobSummary(std::shared_ptr<const tallivo::JobSummary> summary);
    // The files in scope changed and are being grouped again.
    void setJobSummaryPending();

Q_SIGNALS:
    void scopeChanged(tallivo::PageSummaryDialog::Scope scope);
    void byJobChanged(bool byJob);
    // Esc while a count runs.
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void fillTable();
    void fitToContents();
    void showAmount();
    QTableWidgetItem *amountItem(const JobSummary::SizeAmount *line) const;

    Dialogs &m_dialogs;
    PageTable m_table;
    Scope m_scope = Scope::WholeList;
    QRadioButton *m_wholeList;
    QRadioButton *m_selection;
    QTableWidget *m_tableWidget;
    PageBarChart *m_chart;
    QLabel *m_totals;
    QLabel *m_note;
    QLabel *m_amount;
    QCheckBox *m_byJob;
    QTableView *m_jobTable;
    JobTableModel *m_jobModel;
    QPushButton *m_export;
    QSplitter *m_splitter = nullptr;
    std::shared_ptr<const JobSummary> m_jobSummary;
    QString m_currency;
    bool m_priced = false;
    bool m_pending = false;
    bool m_running = false;
    bool m_sized = false;
    int m_fittedBars = -1; // how many bars the size was fitted to
};

} // namespace tallivo
