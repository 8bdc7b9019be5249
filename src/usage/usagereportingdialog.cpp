#include "usagereportingdialog.h"

#include "ui_UsagesReporting.h"

#include <QIcon>

namespace tallivo {

UsageReportingDialog::UsageReportingDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::UsagesReporting>())
{
    m_ui->setupUi(this);
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    m_ui->iconLabel->setPixmap(QIcon(QStringLiteral(":/usages.svg")).pixmap(64, 64));
    connect(m_ui->applyButton, &QPushButton::clicked, this, &UsageReportingDialog::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &UsageReportingDialog::reject);
    connect(m_ui->submitButton, &QPushButton::clicked, this,
            &UsageReportingDialog::submitRequested);
}

UsageReportingDialog::~UsageReportingDialog() = default;

bool UsageReportingDialog::isReportingEnabled() const
{
    return m_ui->enableReportingCheckBox->isChecked();
}

void UsageReportingDialog::setReportingEnabled(bool enabled)
{
    m_ui->enableReportingCheckBox->setChecked(enabled);
}

} // namespace tallivo
