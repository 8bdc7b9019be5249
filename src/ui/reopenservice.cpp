#include "reopenservice.h"

#include "mainwindow.h"
#include "uilogging.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace tallivo {

ReopenService::ReopenService(MainWindow *window)
    : QObject(window)
    , m_window(window)
{
}

bool ReopenService::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.registerService(serviceName()))
        return true;
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName(), QStringLiteral("/"),
                                                       serviceName(), QStringLiteral("reopen"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    // A holder that does not answer is stuck or gone: run on our own.
    return reply.type() == QDBusMessage::ErrorMessage;
}

void ReopenService::serve(MainWindow *window)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcUi) << "No session bus: a second launch starts a window of its own";
        return;
    }
    bus.registerObject(QStringLiteral("/"), new ReopenService(window),
                       QDBusConnection::ExportScriptableSlots);
}

void ReopenService::reopen()
{
    if (!m_window->isVisible() || m_window->isMinimized())
        m_window->bringToFront();
}

} // namespace tallivo
