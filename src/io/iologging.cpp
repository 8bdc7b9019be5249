#include "iologging.h"

namespace tallivo {

// Warnings by default; QT_LOGGING_RULES="tallivo.*=true" shows everything.
Q_LOGGING_CATEGORY(lcIo, "tallivo.io", QtWarningMsg)

} // namespace tallivo
