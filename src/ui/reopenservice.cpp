#include "reopenservice.h"

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

#include <memory>

namespace tallivo {

ReopenService::ReopenService(MainWindow *window)
    : QObject(window)
    , m_window(window)
{
}

bool ReopenService::claim(const QList<QUrl> &urls)
{
    return claim(QDBusConnection::sessionBus(), urls);
}

bool ReopenService::claim(QDBusConnection bus, const QList<QUrl> &urls)
{
    if (!bus.isConnected() || bus.registerService(serviceName()))
        return true;
    if (handOver(bus, serviceName(), urls))
        return false;
    // A holder that does not answer is quitting or stuck: run on our own,
    // next in line for the name, which the bus hands over once it is free.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> queued =
        bus.interface()->registerService(serviceName(), QDBusConnectionInterface::QueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!queued.isValid())
        qCInfo(lcUi) << "Not in line for the name:" << queued.error();
    return true;
}

bool ReopenService::handOver(const QDBusConnection &bus, const QString &service,
                             const QList<QUrl> &urls)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/"), serviceName(),
                                                       urls.isEmpty() ? QStringLiteral("reopen")
                                                                      : QStringLiteral("open"));
    if (!urls.isEmpty())
        call << encodeUrls(urls);
    // Events go on meanwhile: the answer may come from this very process.
    QDBusPendingCallWatcher answer(bus.asyncCall(call, 5000));
    QEventLoop loop;
    QObject::connect(&answer, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    // A holder that lets go of the name is quitting: no answer will come.
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

QStringList ReopenService::encodeUrls(const QList<QUrl> &urls)
{
    QStringList texts;
    for (const QUrl &url : urls) {
        if (!localPath(url).isEmpty())
            texts.append(QString::fromLatin1(url.toEncoded()));
    }
    return texts;
}

QList<QUrl> ReopenService::decodeUrls(const QStringList &texts)
{
    QList<QUrl> urls;
    for (const QString &text : texts) {
        if (urls.size() >= kMaxUrls)
            break;
        if (text.size() > kMaxUrlLength)
            continue;
        // Encoded URLs are ASCII; anything else was not made by encodeUrls().
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() > 0x20 && c.unicode() < 0x7f;
        if (!ascii)
            continue;
        const QUrl url = QUrl::fromEncoded(text.toLatin1(), QUrl::StrictMode);
        const QByteArray path = localPath(url);
        if (url.isValid() && path.startsWith('/') && !path.contains('\0'))
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
    m_window->openLaunched(decodeUrls(urls));
}

} // namespace tallivo
