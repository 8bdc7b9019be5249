#include "syslogline.h"

#include <mutex>
#include <syslog.h>

namespace tallivo {

void logLine(const QString &text)
{
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("Tallivo", LOG_PID, LOG_USER); });
    const QByteArray line = text.toUtf8();
    syslog(LOG_ERR, "%s", line.constData());
}

void logError(const char *where, const QString &reason)
{
    logLine(QStringLiteral("Error in %1 : %2").arg(QLatin1String(where), reason));
}

} // namespace tallivo
