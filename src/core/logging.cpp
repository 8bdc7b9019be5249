#include "logging.h"

Q_LOGGING_CATEGORY(lcCore, "tallivo.core")
