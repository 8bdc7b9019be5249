#include "reopenservice.h"

#include "commandline.h"
#include "localpath.h"
#include "mainwindow.h"
#include "uilogging.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QStatusBar>

#include <memory>

namespace tallivo {

ReopenService::ReopenService(MainWindow *window)
    : QObject(window)
    , m_window(window)
{
}

bool ReopenService::claim(const QList<QUrl> &urls, QStringList *refused)
{
    return claim(QDBusConnection::sessionBus(), urls, refused);
}

bool ReopenService::claim(QDBusConnection bus, const QList<QUrl> &urls, QStringList *refused)
{
    if (!bus.isConnected() || bus.registerService(serviceName()))
        return true;
    // A holder that does not answer is quitting or stuck: run on our own,
    // next in line for the name, which the bus hands over once it is free.
    QStringList lines;
    if (handOver(bus, serviceName(), urls, &lines)) {
        if (refused)
            *refused += lines;
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> queued =
        bus.interface()->registerService(serviceName(), QDBusConnectionInterface::QueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!queued.isValid())
        qCInfo(lcUi) << "Not in line for the name:" << queued.error();
    return true;
}

namespace {

// Sends one call to the holder of `service`; true when it answered. Events
// go on meanwhile: the answer may come from this very process. Gives up at
// once when the holder lets go of the name, as a quitting instance does.
bool callHolder(const QDBusConnection &bus, const QString &service, const QDBusMessage &call)
{
    QDBusPendingCallWatcher answer(bus.asyncCall(call, 5000));
    QEventLoop loop;
    QObject::connect(&answer, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    std::unique_ptr<QDBusServiceWatcher> gone;
    if (!service.isEmpty() && bus.interface()) {
        gone = std::make_unique<QDBusServiceWatcher>(service, bus,
                                                     QDBusServiceWatcher::WatchForUnregistration);
        QObject::connect(gone.get(), &QDBusServiceWatcher::serviceUnregistered, &loop,
                         &QEventLoop::quit);
        // Gone before the watch began.
        if (!bus.interface()->isServiceRegistered(service).value())
            return false;
    }
    if (!answer.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!answer.isFinished()) {
        qCInfo(lcUi) << "The running window is quitting";
        return false;
    }
    if (answer.isError()) {
        qCInfo(lcUi) << "The running window did not answer:" << answer.error().message();
        return false;
    }
    return true;
}

} // namespace

bool ReopenService::handOver(const QDBusConnection &bus, const QString &service,
                             const QList<QUrl> &urls, QStringList *refused)
{
    // Paths go in calls of bounded size; without paths, one call brings the
    // window back.
    QList<QStringList> calls;
    if (!urls.isEmpty()) {
        calls.append(QStringList());
        qsizetype length = 0;
        for (const QString &text : encodeUrls(urls, refused)) {
            if (calls.last().size() >= kMaxUrls || length + text.size() > kMaxCallLength) {
                calls.append(QStringList());
                length = 0;
            }
            calls.last().append(text);
            length += text.size();
        }
    }
    if (calls.isEmpty() || (calls.size() == 1 && calls.first().isEmpty()))
        calls = {QStringList()};
    for (const QStringList &texts : std::as_const(calls)) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, QStringLiteral("/"), serviceName(),
            texts.isEmpty() ? QStringLiteral("reopen") : QStringLiteral("open"));
        if (!texts.isEmpty())
            call << texts;
        if (!callHolder(bus, service, call))
            return false;
    }
    return true;
}

void ReopenService::serve(MainWindow *window)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcUi) << "No session bus: a second launch starts a window of its own";
        return;
    }
    serve(window, bus);
}

void ReopenService::serve(MainWindow *window, QDBusConnection bus)
{
    auto *service = new ReopenService(window);
    bus.registerObject(QStringLiteral("/"), service, QDBusConnection::ExportScriptableSlots);
    // Quitting may still wait on the way out; a launch meanwhile must find
    // the name free rather than a holder that no longer answers.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, service, [bus]() mutable {
        bus.unregisterService(serviceName());
        bus.unregisterObject(QStringLiteral("/"));
    });
}

namespace {

void refuse(QStringList *refused, const QString &line)
{
    qCInfo(lcUi) << line;
    if (refused)
        refused->append(line);
}

// The start of a long text, enough to know it by.
QString shortened(const QString &text)
{
    return text.size() <= 200 ? text : text.left(200) + QStringLiteral("...");
}

} // namespace

QStringList ReopenService::encodeUrls(const QList<QUrl> &urls, QStringList *refused)
{
    QStringList texts;
    for (const QUrl &url : urls) {
        if (localPath(url).isEmpty() || !isOnThisMachine(url)) {
            refuse(refused, tr("%1 is not a file on this machine: skipped")
                                .arg(shortened(url.toDisplayString())));
            continue;
        }
        const QString text = QString::fromLatin1(url.toEncoded());
        if (text.size() > kMaxUrlLength) {
            refuse(refused, tr("%1 is longer than %2 characters as a URL: skipped")
                                .arg(shortened(displayPath(localPath(url))))
                                .arg(kMaxUrlLength));
            continue;
        }
        texts.append(text);
    }
    return texts;
}

QList<QUrl> ReopenService::decodeUrls(const QStringList &texts, QStringList *refused)
{
    QList<QUrl> urls;
    for (const QString &text : texts) {
        if (urls.size() >= kMaxUrls) {
            refuse(refused, tr("Only the first %1 paths handed over are counted").arg(kMaxUrls));
            break;
        }
        if (text.size() > kMaxUrlLength) {
            refuse(refused, tr("A path of %1 characters as a URL is longer than %2: skipped")
                                .arg(text.size())
                                .arg(kMaxUrlLength));
            continue;
        }
        // Encoded URLs are ASCII; anything else was not made by encodeUrls().
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() > 0x20 && c.unicode() < 0x7f;
        const QUrl url = ascii ? QUrl::fromEncoded(text.toLatin1(), QUrl::StrictMode) : QUrl();
        const QByteArray path = localPath(url);
        if (!url.isValid() || !path.startsWith('/') || path.contains('\0')) {
            refuse(refused, tr("%1 is not a local file URL: skipped").arg(shortened(text)));
            continue;
        }
        if (!isOnThisMachine(url)) {
            refuse(refused, tr("%1 is on the machine %2, not this one: skipped")
                                .arg(shortened(url.toDisplayString()), url.host()));
            continue;
        }
        urls.append(urlFromLocalPath(path));
    }
    return urls;
}

void ReopenService::reopen()
{
    if (!m_window->isVisible() || m_window->isMinimized())
        m_window->bringToFront();
}

void ReopenService::open(const QStringList &urls)
{
    m_window->bringToFront();
    QStringList refused;
    const QList<QUrl> accepted = decodeUrls(urls, &refused);
    if (!refused.isEmpty()) {
        // Said where the person who gave the paths is looking.
        const QString first = refused.first();
        m_window->statusBar()->showMessage(
            refused.size() == 1 ? first
                                : tr("%1 of the paths handed over were skipped, the first: %2")
                                      .arg(refused.size())
                                      .arg(first));
    }
    m_window->openLaunched(accepted);
}

} // namespace tallivo
