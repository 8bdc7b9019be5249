#pragma once

#include "pagesummary.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace tallivo {

class Dialogs;
class PageBarChart;

// The pages of the list, or of its selected files, by size class and colour
// class: a table, a bar chart and a CSV export. Not modal; its owner hands it
// a new table whenever the list, the selection or the scope changes.
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

public Q_SLOTS:
    void setSummary(const tallivo::PageTable &table);
    void setScope(tallivo::PageSummaryDialog::Scope scope);
    // Files in scope that were counted while page details were off: they
    // are not in the table, and a note says so.
    void setFilesWithoutDetails(int files);
    // Asks where to save the table as CSV and saves it there.
    void exportCsv();

Q_SIGNALS:
    void scopeChanged(tallivo::PageSummaryDialog::Scope scope);

private:
    void fillTable();

    Dialogs &m_dialogs;
    PageTable m_table;
    Scope m_scope = Scope::WholeList;
    QRadioButton *m_wholeList;
    QRadioButton *m_selection;
    QTableWidget *m_tableWidget;
    PageBarChart *m_chart;
    QLabel *m_totals;
    QLabel *m_note;
    QPushButton *m_export;
};

} // namespace tallivo
