#include "billingreportdialog.h"

#include "ui_billingreportdialog.h"

namespace tallivo {

BillingReportDialog::BillingReportDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::BillingReportDialog>())
{
    m_ui->setupUi(this);
    connect(m_ui->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

BillingReportDialog::~BillingReportDialog() = default;

BillingChoice BillingReportDialog::choice() const
{
    return {m_ui->checkedOnly->isChecked(), m_ui->jobPerSubfolder->isChecked()};
}

void BillingReportDialog::setChoice(const BillingChoice &choice)
{
    m_ui->checkedOnly->setChecked(choice.checkedOnly);
    m_ui->jobPerSubfolder->setChecked(choice.jobPerSubfolder);
}

} // namespace tallivo
