#pragma once

#include <QLoggingCategory>

// Diagnostics of the usage counters and the report; the lines the system log
// must carry go through logError() instead.
Q_DECLARE_LOGGING_CATEGORY(lcUsage)
