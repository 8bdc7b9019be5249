#include "reviewdialog.h"

#include "ui_ReviewUs.h"

#include <QDesktopServices>

namespace tallivo {

bool openWebPage(const QString &address, const std::function<bool(const QUrl &)> &openUrl)
{
    const QUrl url(address, QUrl::StrictMode);
    return !address.isEmpty() && url.isValid() && !url.isRelative() && openUrl && openUrl(url);
}

ReviewDialog::ReviewDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ReviewUs>())
    , m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    m_ui->setupUi(this);
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    connect(m_ui->reviewOKButton, &QPushButton::clicked, this, &ReviewDialog::accept);
    connect(m_ui->reviewCancelButton, &QPushButton::clicked, this, &ReviewDialog::reject);
}

ReviewDialog::~ReviewDialog() = default;

bool ReviewDialog::neverAskAgain() const
{
    return m_ui->neverAskAgainCheckBox->isChecked();
}

void ReviewDialog::setNeverAskAgain(bool never)
{
    m_ui->neverAskAgainCheckBox->setChecked(never);
}

void ReviewDialog::accept()
{
    openWebPage(m_reviewUrl, m_openUrl);
    QDialog::accept();
}

} // namespace tallivo
