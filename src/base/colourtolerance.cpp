#include "colourtolerance.h"

#include <QLocale>

#include <cmath>

namespace tallivo {

std::optional<double> parseColourMinArea(QStringView text)
{
    bool ok = false;
    // The C locale takes "1.5" and refuses "1,5" whatever the session's
    // language, so that scripts mean the same everywhere.
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value) || !isValidColourMinArea(value))
        return std::nullopt;
    return value;
}

} // namespace tallivo
