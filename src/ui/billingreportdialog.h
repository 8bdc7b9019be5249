#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class BillingReportDialog;
}

namespace tallivo {

// Which files a bill is made of, and how they are grouped into jobs.
struct BillingChoice
{
    bool checkedOnly = false;
    bool jobPerSubfolder = false;
};

// Asks what the billing report is to hold before it is saved or printed.
class BillingReportDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BillingReportDialog)
public:
    explicit BillingReportDialog(QWidget *parent = nullptr);
    ~BillingReportDialog() override;

    BillingChoice choice() const;
    void setChoice(const BillingChoice &choice);

private:
    std::unique_ptr<Ui::BillingReportDialog> m_ui;
};

} // namespace tallivo
