#pragma once

#include <QStringView>

#include <optional>

namespace tallivo {

// The colour tolerance: the smallest coloured area, in mm^2, that makes a
// page Colour. Anything smaller (a logo, a blue link) leaves the page B/W
// or Grey. The default is the rendering rule's own threshold, 4 pixels at
// 50 dpi.
inline constexpr double kDefaultColourMinArea = 4 * (25.4 / 50.0) * (25.4 / 50.0);
inline constexpr double kMaxColourMinArea = 100;

// Where the window keeps it.
inline constexpr char kColourMinAreaKey[] = "ColourMinArea";

// Written so that NaN fails; header-only for the worker, which links no core.
inline bool isValidColourMinArea(double mm2)
{
    return mm2 > 0 && mm2 <= kMaxColourMinArea;
}
// A tolerance written by a person or a settings file: a plain number with a
// decimal point, 0 < x <= 100, read without the locale; nullopt otherwise.
std::optional<double> parseColourMinArea(QStringView text);

} // namespace tallivo
