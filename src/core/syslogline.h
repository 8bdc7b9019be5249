#pragma once

#include <QString>

namespace tallivo {

// Writes one line to the system log. Used for failures that are not shown to
// the user; the text is the whole message.
void logLine(const QString &text);

// "Error in <where> : <reason>", the form every handler uses.
void logError(const char *where, const QString &reason);

} // namespace tallivo
