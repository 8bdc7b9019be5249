#include "desktop.h"

#include "fileio.h"
#include "iopool.h"
#include "localpath.h"
#include "uilogging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>

namespace tallivo {

void SystemDesktop::openUrl(const QUrl &url, std::function<void(bool opened)> done)
{
    const auto open = [url, done](bool exists) {
        const bool opened = exists && QDesktopServices::openUrl(url);
        if (done)
            done(opened);
    };
    if (!url.isLocalFile())
        return open(true);
    // The launcher answers yes even for a file that has gone; ask first, off
    // the window's thread, as the file may be on a share.
    const QByteArray path = localPath(url);
    runOnIoPool(
        &m_context, [path] { return statusOf(path).has_value(); }, open);
}

void SystemDesktop::callFileManager(const QString &method, const QStringList &uris,
                                    std::function<void(bool answered)> done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcUi) << "No session bus for the file manager";
        done(false);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                       QStringLiteral("org.freedesktop.FileManager1"), method);
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [done](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         if (w->isError())
                             qCInfo(lcUi) << "The file manager did not answer:" << w->error();
                         done(!w->isError());
                     });
}

} // namespace tallivo
