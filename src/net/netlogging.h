#pragma once

#include <QLoggingCategory>

// Diagnostics of the HTTP client; failures users must see are reported by the caller.
Q_DECLARE_LOGGING_CATEGORY(lcNet)
