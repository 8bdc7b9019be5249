#pragma once

#include "reportuploader.h"
#include "usagecounters.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QAction;
class QToolBar;

namespace tallivo {

class ReviewDialog;
class UsageReportingDialog;

inline constexpr char UsagesReportingActionName[] = "USAGESREPORTING";
inline constexpr char ReviewPageURL[] = "http://www.kelmarin.com/review.php?pid=2013";

// Everything usage reporting shows: the review prompt once enough files are
// counted, the reporting dialog and its report upload, all driven by the
// counters it opens. One per application, on the main thread; the dialogs are
// made when first shown.
class UsageReporting final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UsageReporting)

public:
    using UrlOpener = std::function<bool(const QUrl &)>;
    using AlertHandler =
        std::function<void(QMessageBox::Icon icon, const QString &title, const QString &text)>;

    // Opens the counters in folder (the application folder when empty).
    // Dialogs are shown over parentWindow.
    explicit UsageReporting(QWidget *parentWindow = nullptr, const QString &folder = QString());
    ~UsageReporting() override;

    UsageCounters &counters() { return m_counters; }
    const UsageCounters &counters() const { return m_counters; }

    // The application's settings: a prompt every 2000 files, on, with the
    // maker's review page; and the "Output Files" counter on a fresh state.
    void applyStartupSettings();

    bool isReviewEnabled() const { return m_reviewEnabled; }
    void setReviewEnabled(bool enabled) { m_reviewEnabled = enabled; }
    QString reviewUrl() const { return m_reviewUrl; }
    void setReviewUrl(const QString &url) { m_reviewUrl = url; }
    // Files counted between two prompts; also the first target when none is set.
    qint64 reviewStep() const { return m_reviewStep; }
    void setReviewStep(qint64 step);

    // The start-up check: prompts once the counted files reach the target.
    void showReviewPromptIfDue();
    void showReviewPrompt();
    // The help command: the review page, whatever the prompt's state.
    void openReviewPage();
    ReviewDialog *reviewDialog() const;

    void showReportingDialog();
    UsageReportingDialog *reportingDialog() const;
    // An action, named "USAGESREPORTING", that shows the reporting dialog.
    QAction *createReportingAction(QObject *parent);
    // Inserts such an action after the first toolbar action with the text.
    void addReportingAction(QToolBar *toolbar, const QString &afterText);

    // Uploads the counters file; false when there is none to send.
    bool submitReport();
    ReportUploader *uploader() { return &m_uploader; }

    // Seams: how addresses are opened and alerts shown.
    void setUrlOpener(UrlOpener opener);
    void setAlertHandler(AlertHandler handler) { m_alert = std::move(handler); }

Q_SIGNALS:
    // The server answered (accepted: it said "OK") or the upload failed.
    void reportAnswered(bool accepted);

private:
    void reviewPromptClosed();
    void applyReportingDialog();
    void submitFromDialog();
    void reportAnswer(bool accepted);
    void showAlert(bool success);

    UsageCounters m_counters;
    ReportUploader m_uploader;
    bool m_reviewEnabled = false;
    QString m_reviewUrl;
    // Until the application sets its step; a fresh state has no target yet.
    qint64 m_reviewStep = 1000;
    bool m_announceAnswer = false;

    QPointer<QWidget> m_parentWindow;
    QPointer<ReviewDialog> m_reviewDialog;
    QPointer<UsageReportingDialog> m_reportingDialog;
    UrlOpener m_openUrl;
    AlertHandler m_alert;
};

} // namespace tallivo
