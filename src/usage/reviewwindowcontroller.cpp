#include "reviewwindowcontroller.h"

#include "ui_ReviewUs.h"

#include <QDesktopServices>

namespace tallivo {

ReviewWindowController::ReviewWindowController(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ReviewUs>())
    , m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    m_ui->setupUi(this);
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    connect(m_ui->reviewOKButton, &QPushButton::clicked, this,
            &ReviewWindowController::reviewOKAction);
    connect(m_ui->reviewCancelButton, &QPushButton::clicked, this,
            &ReviewWindowController::reviewCancelAction);
}

ReviewWindowController::~ReviewWindowController() = default;

bool ReviewWindowController::neverAskForReview() const
{
    return m_ui->neverAskmeAgainButton->isChecked();
}

void ReviewWindowController::setNeverAskForReview(bool never)
{
    m_ui->neverAskmeAgainButton->setChecked(never);
}

QCheckBox *ReviewWindowController::neverAskmeAgainButton() const
{
    return m_ui->neverAskmeAgainButton;
}

void ReviewWindowController::reviewOKAction()
{
    const QUrl url(m_reviewURL, QUrl::StrictMode);
    if (!m_reviewURL.isEmpty() && url.isValid() && !url.isRelative() && m_openUrl)
        m_openUrl(url);
    finish(QDialog::Accepted);
}

void ReviewWindowController::reviewCancelAction()
{
    finish(QDialog::Rejected);
}

void ReviewWindowController::reject()
{
    // Escape and the close button count as cancel.
    reviewCancelAction();
}

void ReviewWindowController::finish(int result)
{
    QDialog::done(result);
    emit reviewWindowControllerDidFinished(this);
}

} // namespace tallivo
