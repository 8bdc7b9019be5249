#include "usagelogging.h"

Q_LOGGING_CATEGORY(lcUsage, "tallivo.usage", QtWarningMsg)
