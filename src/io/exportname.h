#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace tallivo {

// The name the save dialog suggests for an export, "Export <date>.txt", the
// date as "dd-MMM-yyyy hh-mm-ss AM" in the locale and the local time zone,
// e.g. "Export 05-Dec-2026 11-52-18 PM.txt".
QString suggestedExportName(const QDateTime &now, const QLocale &locale);

} // namespace tallivo
