#include "reopenservice.h"

#include "localpath.h"
#include "mainwindow.h"
#include "uilogging.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace tallivo {

ReopenService::ReopenService(MainWindow *window)
    : QObject(window)
    , m_window(window)
{
}

bool ReopenService::claim(const QList<QUrl> &urls)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.registerService(serviceName()))
        return true;
    // A holder that does not answer is stuck or gone: run on our own.
    return !handOver(bus, serviceName(), urls);
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
    const QDBusMessage reply = bus.call(call, QDBus::BlockWithGui, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCInfo(lcUi) << "The running window did not answer:" << reply.errorMessage();
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
    bus.registerObject(QStringLiteral("/"), new ReopenService(window),
                       QDBusConnection::ExportScriptableSlots);
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
