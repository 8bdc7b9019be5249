#pragma once

#include <QLoggingCategory>

namespace tallivo {

// Diagnostics of the file formats and per-user locations.
Q_DECLARE_LOGGING_CATEGORY(lcIo)

} // namespace tallivo
