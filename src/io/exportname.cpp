#include "exportname.h"

namespace tallivo {

QString suggestedExportName(const QDateTime &now, const QLocale &locale)
{
    const QString date =
        locale.toString(now.toLocalTime(), QStringLiteral("dd-MMM-yyyy hh-mm-ss AP"));
    return QStringLiteral("Export %1.txt").arg(date);
}

} // namespace tallivo
