#include "usagesreportingwindow.h"

#include "ui_UsagesReporting.h"

#include <QIcon>

namespace tallivo {

UsagesReportingWindow::UsagesReportingWindow(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::UsagesReporting>())
{
    m_ui->setupUi(this);
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    m_ui->iconLabel->setPixmap(QIcon(QStringLiteral(":/usages.svg")).pixmap(64, 64));
    connect(m_ui->applyButton, &QPushButton::clicked, this, &UsagesReportingWindow::applyRequested);
    connect(m_ui->cancelButton, &QPushButton::clicked, this,
            &UsagesReportingWindow::cancelRequested);
    connect(m_ui->submitButton, &QPushButton::clicked, this,
            &UsagesReportingWindow::submitRequested);
    connect(m_ui->privacyPolicyButton, &QPushButton::clicked, this,
            &UsagesReportingWindow::privacyPolicyRequested);
}

UsagesReportingWindow::~UsagesReportingWindow() = default;

QCheckBox *UsagesReportingWindow::enableUsagesReportingButton() const
{
    return m_ui->enableUsagesReportingButton;
}

void UsagesReportingWindow::reject()
{
    emit cancelRequested();
}

} // namespace tallivo
