#include "usagereporting.h"

#include "appinfo.h"
#include "reviewdialog.h"
#include "syslogline.h"
#include "usagereportingdialog.h"

#include <QAction>
#include <QDesktopServices>
#include <QIcon>
#include <QToolBar>

namespace tallivo {

UsageReporting::UsageReporting(QWidget *parentWindow, const QString &folder)
    : QObject(parentWindow)
    , m_counters(folder)
    , m_reviewUrl(QString::fromLatin1(MakerWebsite))
    , m_parentWindow(parentWindow)
    , m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    m_counters.open();
    connect(&m_uploader, &ReportUploader::answered, this, &UsageReporting::reportAnswer);
}

UsageReporting::~UsageReporting()
{
    // Without a parent window nothing else owns the dialogs.
    if (m_reviewDialog && !m_reviewDialog->parent())
        delete m_reviewDialog;
    if (m_reportingDialog && !m_reportingDialog->parent())
        delete m_reportingDialog;
}

void UsageReporting::applyStartupSettings()
{
    setReviewStep(2000);
    setReviewEnabled(true);
    setReviewUrl(QString::fromLatin1(ReviewPageURL));
    if (m_counters.state().features.isEmpty()) {
        m_counters.state().features.append({QString::fromLatin1(OutputFilesFeature), 1, 0});
        m_counters.save();
    }
}

void UsageReporting::setReviewStep(qint64 step)
{
    m_reviewStep = step;
    if (m_counters.state().nextReviewTarget == 0)
        m_counters.state().nextReviewTarget = step;
}

ReviewDialog *UsageReporting::reviewDialog() const
{
    return m_reviewDialog;
}

UsageReportingDialog *UsageReporting::reportingDialog() const
{
    return m_reportingDialog;
}

void UsageReporting::showReviewPromptIfDue()
{
    const UsagesLogState &state = m_counters.state();
    if (!m_reviewEnabled || state.neverAskForReview)
        return;
    const qint64 total = m_counters.totalFileCount();
    if (total > 0 && total >= state.nextReviewTarget)
        showReviewPrompt();
}

void UsageReporting::showReviewPrompt()
{
    if (!m_reviewDialog) {
        m_reviewDialog = new ReviewDialog(m_parentWindow);
        m_reviewDialog->setUrlOpener(m_openUrl);
        connect(m_reviewDialog, &QDialog::finished, this, &UsageReporting::reviewPromptClosed);
    }
    m_reviewDialog->setReviewUrl(m_reviewUrl);
    m_reviewDialog->setNeverAskAgain(m_counters.state().neverAskForReview);
    m_reviewDialog->open();
}

void UsageReporting::reviewPromptClosed()
{
    UsagesLogState &state = m_counters.state();
    state.neverAskForReview = m_reviewDialog->neverAskAgain();
    state.lastReviewPrompt = QDateTime::currentDateTime();
    state.nextReviewTarget = m_counters.totalFileCount() + m_reviewStep;
    m_counters.save();
}

void UsageReporting::openReviewPage()
{
    openWebPage(m_reviewUrl, m_openUrl);
}

bool UsageReporting::submitReport()
{
    QString error;
    if (m_uploader.submit(m_counters.filePath(), &error))
        return true;
    logError("submitReport", error);
    return false;
}

void UsageReporting::reportAnswer(bool accepted)
{
    if (accepted) {
        m_counters.state().lastReportSent = QDateTime::currentDateTime();
        m_counters.save();
    }
    if (m_announceAnswer) {
        m_announceAnswer = false;
        showAlert(accepted);
    }
    Q_EMIT reportAnswered(accepted);
}

void UsageReporting::showAlert(bool success)
{
    const QString title = tr("Usages Reporting :");
    const QMessageBox::Icon icon = success ? QMessageBox::Information : QMessageBox::Critical;
    const QString text =
        success ? tr("Report submitted successfully.") : tr("Unable to submit report!");
    if (m_alert) {
        m_alert(icon, title, text);
        return;
    }
    QWidget *over = m_reportingDialog && m_reportingDialog->isVisible() ? m_reportingDialog.data()
                                                                        : m_parentWindow.data();
    auto *box = new QMessageBox(icon, appTitle(), title, QMessageBox::Ok, over);
    box->setInformativeText(text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(over ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

void UsageReporting::showReportingDialog()
{
    if (!m_reportingDialog) {
        m_reportingDialog = new UsageReportingDialog(m_parentWindow);
        connect(m_reportingDialog, &QDialog::accepted, this, &UsageReporting::applyReportingDialog);
        connect(m_reportingDialog, &UsageReportingDialog::submitRequested, this,
                &UsageReporting::submitFromDialog);
        // Only when made: a cancelled change stays in the box until applied.
        m_reportingDialog->setReportingEnabled(m_counters.state().reportingEnabled);
    }
    m_reportingDialog->open();
}

void UsageReporting::applyReportingDialog()
{
    m_counters.state().reportingEnabled = m_reportingDialog->isReportingEnabled();
    m_counters.save();
}

void UsageReporting::submitFromDialog()
{
    if (!submitReport()) {
        m_announceAnswer = false;
        showAlert(false);
        return;
    }
    // Success is told only once the server has accepted the report.
    m_announceAnswer = true;
}

QAction *UsageReporting::createReportingAction(QObject *parent)
{
    auto *action =
        new QAction(QIcon(QStringLiteral(":/usages.svg")), tr("Usages Reporting"), parent);
    action->setObjectName(QString::fromLatin1(UsagesReportingActionName));
    action->setToolTip(tr("Usages Reporting"));
    connect(action, &QAction::triggered, this, &UsageReporting::showReportingDialog);
    return action;
}

void UsageReporting::addReportingAction(QToolBar *toolbar, const QString &afterText)
{
    if (!toolbar)
        return;
    const QList<QAction *> actions = toolbar->actions();
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (actions.at(i)->text() == afterText) {
            QAction *before = i + 1 < actions.size() ? actions.at(i + 1) : nullptr;
            toolbar->insertAction(before, createReportingAction(toolbar));
            return;
        }
    }
}

void UsageReporting::setUrlOpener(UrlOpener opener)
{
    m_openUrl = std::move(opener);
    if (m_reviewDialog)
        m_reviewDialog->setUrlOpener(m_openUrl);
}

} // namespace tallivo
