#include "uilogging.h"

namespace tallivo {

// Warnings by default; QT_LOGGING_RULES="tallivo.*=true" shows everything.
Q_LOGGING_CATEGORY(lcUi, "tallivo.ui", QtWarningMsg)

} // namespace tallivo
