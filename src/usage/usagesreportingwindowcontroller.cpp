#include "usagesreportingwindowcontroller.h"

#include "formdatarequest.h"
#include "networkqueue.h"
#include "reviewwindowcontroller.h"
#include "syslogline.h"
#include "usagesreportingwindow.h"
#include "utilities.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QSaveFile>
#include <QSysInfo>
#include <QTimeZone>
#include <QToolBar>
#include <QUuid>

#include <limits>

namespace tallivo {

namespace {

qint32 saturatingAdd(qint32 a, qint64 b)
{
    return qint32(qBound(qint64(std::numeric_limits<qint32>::min()), qint64(a) + b,
                         qint64(std::numeric_limits<qint32>::max())));
}

QDateTime executableDate()
{
    if (!QCoreApplication::instance())
        return {};
    return QFileInfo(QCoreApplication::applicationFilePath()).lastModified();
}

// Whole months and the days left over between two moments, by the calendar.
void monthsAndDays(const QDateTime &from, const QDateTime &to, int *months, int *days)
{
    const QDateTime start = from.toLocalTime();
    const QDateTime end = to.toLocalTime();
    int count =
        (end.date().year() - start.date().year()) * 12 + end.date().month() - start.date().month();
    if (count > 0 && start.addMonths(count) > end)
        --count;
    *months = count;
    *days = int(start.addMonths(count).date().daysTo(end.date()));
    if (*days > 0 && start.addMonths(count).addDays(*days) > end)
        --*days;
}

} // namespace

QString CopySerialNumber()
{
    const QByteArray id = QSysInfo::machineUniqueId();
    if (id.isEmpty())
        return {};
    // /etc/machine-id is 32 hex digits; show it in the usual UUID form.
    const QByteArray raw = QByteArray::fromHex(id);
    if (id.size() == 32 && raw.size() == 16)
        return QUuid::fromRfc4122(raw).toString(QUuid::WithoutBraces).toUpper();
    return QString::fromLatin1(id);
}

UsagesReportingWindowController::UsagesReportingWindowController(QWidget *parentWindow,
                                                                 const QString &folder)
    : QObject(parentWindow)
    , m_folder(folder)
    , m_reportURL(QUrl(QString::fromLatin1(UsagesReportURL)))
    , m_requestTimeOut(HttpRequest::DefaultTimeOutMilliseconds)
    , m_parentWindow(parentWindow)
    , m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    const QDateTime now = QDateTime::currentDateTime();
    m_state.productName = QStringLiteral(TALLIVO_NAME);
    m_state.version = QStringLiteral(TALLIVO_VERSION);
    m_state.buildDate = executableDate();
    m_state.lastReportSentOn = now;
    m_state.hardwareUUID = CopySerialNumber();
    m_reviewURL = QString::fromLatin1(MakerHomeURL);
    setReviewFileCountLimit(1000);
    m_state.lastReviewAskDate = now;
    // A fresh state has no target until the main window sets its limit.
    m_state.nextReviewTargetValue = 0;

    m_networkQueue = new NetworkQueue(this);
    m_networkQueue->setMaxConcurrentOperationCount(4);
    m_networkQueue->setShouldCancelAllRequestsOnFailure(true);
    m_networkQueue->setSuspended(true);

    if (!load())
        save();
}

UsagesReportingWindowController::~UsagesReportingWindowController()
{
    // Without a parent window nothing else owns the dialogs.
    if (m_reviewPanel && !m_reviewPanel->parent())
        delete m_reviewPanel;
    if (m_window && !m_window->parent())
        delete m_window;
}

ReviewWindowController *UsagesReportingWindowController::reviewPanel() const
{
    return m_reviewPanel;
}

UsagesReportingWindow *UsagesReportingWindowController::window() const
{
    return m_window;
}

QString UsagesReportingWindowController::usagesLogPath() const
{
    const QString folder = m_folder.isEmpty() ? getAppPath() : m_folder;
    const QString name = QString::fromLatin1(UsagesLogFileName);
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

bool UsagesReportingWindowController::load()
{
    const QString path = usagesLogPath();
    if (!QFileInfo::exists(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        logError("load", file.errorString());
        return false;
    }
    readUsagesLog(file.readAll(), &m_state, QTimeZone::systemTimeZone());
    return true;
}

bool UsagesReportingWindowController::save()
{
    QString error;
    const bool haveFolder = m_folder.isEmpty() ? createApplicationUsersFolder(QString(), &error)
                                               : QDir().mkpath(m_folder);
    if (!haveFolder) {
        logError("save",
                 error.isEmpty() ? QStringLiteral("No folder for %1").arg(m_folder) : error);
        return false;
    }
    QSaveFile file(usagesLogPath());
    if (!file.open(QIODevice::WriteOnly)) {
        logError("save", file.errorString());
        return false;
    }
    file.write(writeUsagesLog(m_state, QTimeZone::systemTimeZone()));
    if (!file.commit()) {
        logError("save", file.errorString());
        return false;
    }
    return true;
}

void UsagesReportingWindowController::updateUsages(const QString &feature, qint32 totalFiles)
{
    for (qsizetype i = m_state.features.size() - 1; i >= 0; --i) {
        FeatureUsages &entry = m_state.features[i];
        if (entry.name == feature) {
            entry.usagesCount = saturatingAdd(entry.usagesCount, 1);
            entry.filesCount = saturatingAdd(entry.filesCount, totalFiles);
            save();
            return;
        }
    }
    m_state.features.append({feature, 1, totalFiles});
    save();
}

void UsagesReportingWindowController::applyStartupSettings()
{
    setReviewFileCountLimit(2000);
    setIsReviewEnabled(true);
    setReviewURL(QString::fromLatin1(ReviewPageURL));
    if (m_state.features.isEmpty()) {
        appendFeature({QString::fromLatin1(OutputFilesFeature), 1, 0});
        save();
    }
}

void UsagesReportingWindowController::setReviewFileCountLimit(qint64 limit)
{
    m_reviewFileCountLimit = limit;
    if (m_state.nextReviewTargetValue == 0)
        m_state.nextReviewTargetValue = limit;
}

qint64 UsagesReportingWindowController::totalFileCount() const
{
    qint64 total = 0;
    for (const FeatureUsages &feature : m_state.features)
        total += feature.filesCount;
    return total;
}

void UsagesReportingWindowController::validate(bool autoSubmit)
{
    if (autoSubmit && m_state.isEnabled && m_state.lastReportSentOn.isValid()) {
        int months = 0;
        int days = 0;
        monthsAndDays(m_state.lastReportSentOn, QDateTime::currentDateTime(), &months, &days);
        if (days > 29)
            submitReport();
    }
    if (!m_isReviewEnabled || m_state.neverAskForReview)
        return;
    const qint64 total = totalFileCount();
    if (total > 0 && total >= m_state.nextReviewTargetValue)
        submitReview();
}

void UsagesReportingWindowController::submitReview()
{
    if (!m_reviewPanel) {
        m_reviewPanel = new ReviewWindowController(m_parentWindow);
        m_reviewPanel->setUrlOpener(m_openUrl);
        connect(m_reviewPanel, &ReviewWindowController::reviewWindowControllerDidFinished, this,
                &UsagesReportingWindowController::reviewWindowControllerDidFinished);
    }
    m_reviewPanel->setReviewURL(m_reviewURL);
    m_reviewPanel->setNeverAskForReview(m_state.neverAskForReview);
    m_reviewPanel->open();
}

void UsagesReportingWindowController::reviewWindowControllerDidFinished(
    ReviewWindowController *dialog)
{
    const qint64 total = totalFileCount();
    m_state.neverAskForReview = dialog->neverAskForReview();
    m_state.lastReviewAskDate = QDateTime::currentDateTime();
    m_state.nextReviewTargetValue = total + m_reviewFileCountLimit;
    save();
}

void UsagesReportingWindowController::rateUs()
{
    const QUrl url(m_reviewURL, QUrl::StrictMode);
    if (!m_reviewURL.isEmpty() && url.isValid() && !url.isRelative() && m_openUrl)
        m_openUrl(url);
}

bool UsagesReportingWindowController::submitReport()
{
    const QString path = usagesLogPath();
    if (!QFileInfo(path).isFile())
        return false;

    m_networkQueue->reset();
    m_networkQueue->setShowAccurateProgress(true);
    m_networkQueue->setRequestDidFail([this](HttpRequest *request) { postFailed(request); });
    m_networkQueue->setRequestDidFinish([this](HttpRequest *request) { postFinished(request); });

    const double seconds = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QString urlText =
        QString::asprintf("%s?f=%f", qUtf8Printable(m_reportURL.toString()), seconds);
    auto request = FormDataRequest::requestWithURL(QUrl(urlText));
    request->setRequestMethod(QByteArrayLiteral("POST"));
    request->setTimeOutMilliseconds(m_requestTimeOut);
    request->addRequestHeader(QByteArrayLiteral("UPLOAD_ID"), QByteArray(UsagesUploadId));
    request->setFile(path, QString::fromLatin1(UsagesLogFileName), QString(),
                     QStringLiteral("file"));
    if (!request->error().isNull()) {
        logError("submitReport", request->error().description);
        return false;
    }
    m_networkQueue->addOperation(request.release());
    m_networkQueue->go();
    return true;
}

void UsagesReportingWindowController::postFinished(HttpRequest *request)
{
    QString answer = request->responseString();
    answer.replace(QStringLiteral("<br>"), QStringLiteral("\n"));
    answer.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    const bool accepted = answer == u"OK";
    if (accepted) {
        m_state.lastReportSentOn = QDateTime::currentDateTime();
        save();
    }
    announce(accepted);
    emit reportAnswered(accepted);
}

void UsagesReportingWindowController::postFailed(HttpRequest *)
{
    announce(false);
    emit reportAnswered(false);
}

void UsagesReportingWindowController::announce(bool success)
{
    if (!m_announceAnswer)
        return;
    m_announceAnswer = false;
    showAlert(success);
}

void UsagesReportingWindowController::showAlert(bool success)
{
    const QString title = QStringLiteral("Usages Reporting :");
    const QMessageBox::Icon icon = success ? QMessageBox::Information : QMessageBox::Critical;
    const QString text = success ? QStringLiteral("Report submitted successfully.")
                                 : QStringLiteral("Unable to submit report!");
    if (m_alert) {
        m_alert(icon, title, text);
        return;
    }
    QWidget *over = m_window && m_window->isVisible() ? m_window.data() : m_parentWindow.data();
    auto *box = new QMessageBox(icon, getAppTitle(), title, QMessageBox::Ok, over);
    box->setInformativeText(text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(over ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

void UsagesReportingWindowController::usagesAction()
{
    if (!m_window) {
        m_window = new UsagesReportingWindow(m_parentWindow);
        connect(m_window, &UsagesReportingWindow::applyRequested, this,
                &UsagesReportingWindowController::applyAction);
        connect(m_window, &UsagesReportingWindow::cancelRequested, this,
                &UsagesReportingWindowController::cancelAction);
        connect(m_window, &UsagesReportingWindow::submitRequested, this,
                &UsagesReportingWindowController::submitAction);
        connect(m_window, &UsagesReportingWindow::privacyPolicyRequested, this,
                &UsagesReportingWindowController::privacyPolicyAction);
        awakeFromNib();
    }
    m_window->open();
}

void UsagesReportingWindowController::awakeFromNib()
{
    // Only on first load: a cancelled change stays in the box until applied.
    m_window->enableUsagesReportingButton()->setChecked(m_state.isEnabled);
}

void UsagesReportingWindowController::applyAction()
{
    if (!m_window)
        return;
    m_state.isEnabled = m_window->enableUsagesReportingButton()->isChecked();
    save();
    m_window->hide();
}

void UsagesReportingWindowController::cancelAction()
{
    if (m_window)
        m_window->hide();
}

void UsagesReportingWindowController::submitAction()
{
    if (!submitReport()) {
        m_announceAnswer = false;
        showAlert(false);
        return;
    }
    // Success is told only once the server has accepted the report.
    m_announceAnswer = true;
}

void UsagesReportingWindowController::privacyPolicyAction() {}

QAction *UsagesReportingWindowController::toolbarItem(const QString &identifier, QObject *parent)
{
    auto *item = new QAction(parent);
    item->setObjectName(identifier);
    if (identifier != QLatin1String(UsagesReportingItemIdentifier))
        return item;
    item->setText(QStringLiteral("Usages Reporting"));
    item->setIconText(QStringLiteral("Usages Reporting"));
    item->setProperty("paletteLabel", QStringLiteral("USAGESREPORTING"));
    item->setToolTip(QStringLiteral("Usages Reporting"));
    item->setIcon(QIcon(QStringLiteral(":/usages.svg")));
    connect(item, &QAction::triggered, this, &UsagesReportingWindowController::usagesAction);
    return item;
}

void UsagesReportingWindowController::initToolbar(QToolBar *toolbar, const QString &label)
{
    if (!toolbar)
        return;
    m_toolbar = toolbar;
    const QList<QAction *> items = toolbar->actions();
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items.at(i)->text() == label) {
            QAction *before = i + 1 < items.size() ? items.at(i + 1) : nullptr;
            toolbar->insertAction(
                before, toolbarItem(QString::fromLatin1(UsagesReportingItemIdentifier), toolbar));
            return;
        }
    }
}

void UsagesReportingWindowController::setUrlOpener(UrlOpener opener)
{
    m_openUrl = std::move(opener);
    if (m_reviewPanel)
        m_reviewPanel->setUrlOpener(m_openUrl);
}

} // namespace tallivo
