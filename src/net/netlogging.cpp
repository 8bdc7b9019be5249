#include "netlogging.h"

Q_LOGGING_CATEGORY(lcNet, "tallivo.net", QtWarningMsg)
