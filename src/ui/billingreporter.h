#pragma once

#include "billingreport.h"
#include "billingreportdialog.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QPrinter;
class QWidget;

namespace tallivo {

class DetailsReader;
class Dialogs;
class FileTableModel;
class RunPresenter;

using SharedBillingReport = std::shared_ptr<const BillingReport>;

// Rows copied per turn of the event loop.
inline constexpr int kBillingRowsPerSlice = 20000;

// Makes the bill of the listed files (or of the checked ones). What the bill
// needs of each file is copied on the calling thread a slice of rows per turn
// of its event loop, and again from the start when an edit touches the rows
// already copied; the jobs are found, the pages tallied and the report made
// on the I/O pool, and `done` is called on the thread of `context`, unless
// it has gone. `model` must last as long as `context`.
void buildBillingReport(QObject *context, const FileTableModel &model, const BillingChoice &choice,
                        PriceList prices, QString shopName,
                        std::function<void(SharedBillingReport)> done,
                        int rowsPerSlice = kBillingRowsPerSlice);

// File > Billing Report… and File > Print Billing Report…: asks what the
// bill holds, has missing page details read, builds the report off the main
// thread and saves it on the I/O pool, or prints it. The outcome shows in the
// status line; a failure in a message.
class BillingReporter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BillingReporter)
public:
    BillingReporter(const FileTableModel &model, DetailsReader &details, RunPresenter &presenter,
                    Dialogs &dialogs, QWidget *window);
    ~BillingReporter() override;

    void saveReport();
    void printReport();
    // The question shown last, while it is open.
    BillingReportDialog *choiceDialog() const { return m_choiceDialog; }

Q_SIGNALS:
    // The report was written to `path` (empty when it was not) or printed.
    void saved(const QString &path);
    void printed(bool ok);
    // The choices asked for were stored in the settings.
    void settingsChanged();

private:
    enum class Target
    {
        File,
        Printer
    };
    void ask(Target target);
    // Has the page details the list lacks read, then builds the report.
    void build(const BillingChoice &choice, std::function<void(SharedBillingReport)> done);
    void save(const QString &path, const BillingChoice &choice);
    void print(const SharedBillingReport &report);
    void showFailure(const QString &text, const QString &why);

    const FileTableModel &m_model;
    DetailsReader &m_details;
    RunPresenter &m_presenter;
    Dialogs &m_dialogs;
    QWidget *m_window;
    QPointer<BillingReportDialog> m_choiceDialog;
    std::unique_ptr<QPrinter> m_printer;
};

} // namespace tallivo
