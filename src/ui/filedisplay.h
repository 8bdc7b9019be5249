#pragma once

#include "column.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

namespace tallivo {

class FileItem;
class PageSummary;

// The value a column shows: a bool for the check box, an int for the pages,
// text otherwise.
QVariant displayField(const FileItem &item, Column column);

// The texts of the page detail columns: "A4 x 12, A3 x 2" (most pages
// first), "14", "B/W 10, Grey 1, Colour 1"; empty for an empty summary.
QString sizesText(const PageSummary &summary);
QString a4EquivalentsText(const PageSummary &summary);
QString colourText(const PageSummary &summary);

// A timestamp as the table shows it, in the user's locale and zone.
QString displayDate(const QDateTime &date);
// The same for milliseconds since the epoch; the zone is looked up once,
// not for every row.
QString displayDate(qint64 msecs);

} // namespace tallivo
