#pragma once

#include "featureusages.h"
#include "usageslog.h"
#include "utilities.h"

#include <QDateTime>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QAction;
class QToolBar;

namespace tallivo {

class HttpRequest;
class NetworkQueue;
class ReviewWindowController;
class UsagesReportingWindow;

inline constexpr char UsagesLogFileName[] = "Usages.Log";
inline constexpr char OutputFilesFeature[] = "Output Files";
inline constexpr char UsagesReportingItemIdentifier[] = "USAGESREPORTING";
// The maker's endpoints.
inline constexpr char UsagesReportURL[] = "http://www.kelmarin.com/error/usagesubmit.php";
inline constexpr char ReviewPageURL[] = "http://www.kelmarin.com/review.php?pid=2013";
inline constexpr char UsagesUploadId[] = "mzq81v570316";

// The machine's identifier in UUID text form; "" when the platform has none.
QString CopySerialNumber();

// Usage counters persisted in "Usages.Log", the review prompt and the usage
// reporting window with its report upload. One per application, used from the
// main thread only; its windows are created only when first shown.
class UsagesReportingWindowController : public QObject
{
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl &)>;
    using AlertHandler =
        std::function<void(QMessageBox::Icon icon, const QString &title, const QString &text)>;

    // Loads "Usages.Log" from folder (getAppPath() when empty) or writes it
    // when it cannot be loaded. Sheets are shown over parentWindow.
    explicit UsagesReportingWindowController(QWidget *parentWindow = nullptr,
                                             const QString &folder = QString());
    ~UsagesReportingWindowController() override;

    QString usagesLogPath() const;
    bool load();
    bool save();
    // Counts one use of the feature with the files it handled, then saves.
    void updateUsages(const QString &feature, qint32 totalFiles);
    // What the main window does after creating the controller: review limit
    // 2000, the prompt on with the maker's review page, and the "Output Files"
    // counter on a fresh state (saved).
    void applyStartupSettings();

    QString productName() const { return m_state.productName; }
    void setProductName(const QString &name) { m_state.productName = name; }
    QString version() const { return m_state.version; }
    void setVersion(const QString &version) { m_state.version = version; }
    QDateTime buildDate() const { return m_state.buildDate; }
    void setBuildDate(const QDateTime &date) { m_state.buildDate = date; }
    QList<FeatureUsages> features() const { return m_state.features; }
    void setFeatures(const QList<FeatureUsages> &features) { m_state.features = features; }
    void appendFeature(const FeatureUsages &feature) { m_state.features.append(feature); }
    bool isEnabled() const { return m_state.isEnabled; }
    void setIsEnabled(bool enabled) { m_state.isEnabled = enabled; }
    QDateTime lastReportSentOn() const { return m_state.lastReportSentOn; }
    void setLastReportSentOn(const QDateTime &date) { m_state.lastReportSentOn = date; }
    QString hardwareUUID() const { return m_state.hardwareUUID; }
    void setHardwareUUID(const QString &uuid) { m_state.hardwareUUID = uuid; }
    bool isReviewEnabled() const { return m_isReviewEnabled; }
    void setIsReviewEnabled(bool enabled) { m_isReviewEnabled = enabled; }
    QString reviewURL() const { return m_reviewURL; }
    void setReviewURL(const QString &url) { m_reviewURL = url; }
    qint64 reviewFileCountLimit() const { return m_reviewFileCountLimit; }
    // Also sets the next target when none is set yet.
    void setReviewFileCountLimit(qint64 limit);
    QDateTime lastReviewAskDate() const { return m_state.lastReviewAskDate; }
    void setLastReviewAskDate(const QDateTime &date) { m_state.lastReviewAskDate = date; }
    bool neverAskForReview() const { return m_state.neverAskForReview; }
    void setNeverAskForReview(bool never) { m_state.neverAskForReview = never; }
    qint64 nextReviewTargetValue() const { return m_state.nextReviewTargetValue; }
    void setNextReviewTargetValue(qint64 value) { m_state.nextReviewTargetValue = value; }
    // filesCount summed over all features.
    qint64 totalFileCount() const;

    // The start-up check: shows the review prompt once the target is reached.
    // With autoSubmit, a report is also sent when one is due.
    void validate(bool autoSubmit = false);
    void submitReview();
    void reviewWindowControllerDidFinished(ReviewWindowController *dialog);
    // Opens the review page (the help control's rate command).
    void rateUs();
    ReviewWindowController *reviewPanel() const;

    // Queues an upload of "Usages.Log"; false when there is no file.
    bool submitReport();
    void postFinished(HttpRequest *request);
    void postFailed(HttpRequest *request);
    NetworkQueue *networkQueue() const { return m_networkQueue; }
    QUrl reportURL() const { return m_reportURL; }
    void setReportURL(const QUrl &url) { m_reportURL = url; }
    int requestTimeOutMilliseconds() const { return m_requestTimeOut; }
    void setRequestTimeOutMilliseconds(int msecs) { m_requestTimeOut = msecs; }

    // The reporting window and its commands.
    void usagesAction();
    void applyAction();
    void cancelAction();
    void submitAction();
    void privacyPolicyAction();
    UsagesReportingWindow *window() const;
    // A new toolbar item: the reporting item for its identifier, else bare.
    QAction *toolbarItem(const QString &identifier, QObject *parent);
    // Inserts the reporting item after the first item labelled label.
    void initToolbar(QToolBar *toolbar, const QString &label);

    // Seams: how URLs are opened and alerts are shown.
    void setUrlOpener(UrlOpener opener);
    void setAlertHandler(AlertHandler handler) { m_alert = std::move(handler); }

Q_SIGNALS:
    // The server answered (accepted: it said "OK") or the upload failed.
    void reportAnswered(bool accepted);

private:
    void awakeFromNib();
    void announce(bool success);
    void showAlert(bool success);

    QString m_folder;
    UsagesLogState m_state;
    bool m_isReviewEnabled = false;
    QString m_reviewURL;
    qint64 m_reviewFileCountLimit = 0;

    NetworkQueue *m_networkQueue = nullptr;
    QUrl m_reportURL;
    int m_requestTimeOut;
    bool m_announceAnswer = false;

    QPointer<QWidget> m_parentWindow;
    QPointer<ReviewWindowController> m_reviewPanel;
    QPointer<UsagesReportingWindow> m_window;
    QPointer<QToolBar> m_toolbar;
    UrlOpener m_openUrl;
    AlertHandler m_alert;
};

} // namespace tallivo
