#pragma once

#include <QLoggingCategory>

namespace tallivo {

// Diagnostics of the window and its dialogs.
Q_DECLARE_LOGGING_CATEGORY(lcUi)

} // namespace tallivo
