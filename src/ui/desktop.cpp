#include "desktop.h"

#include "localpath.h"
#include "uilogging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>

#include <unistd.h>

namespace tallivo {

bool SystemDesktop::openUrl(const QUrl &url)
{
    // The launcher answers yes even for a file that has gone; ask first.
    if (url.isLocalFile() && ::access(localPath(url).constData(), F_OK) != 0)
        return false;
    return QDesktopServices::openUrl(url);
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
