#pragma once

#include "column.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

namespace tallivo {

class FileItem;

// The value a column shows: a bool for the check box, an int for the pages,
// text otherwise.
QVariant displayField(const FileItem &item, Column column);

// A timestamp as the table shows it, in the user's locale and zone.
QString displayDate(const QDateTime &date);
// The same for milliseconds since the epoch; the zone is looked up once,
// not for every row.
QString displayDate(qint64 msecs);

} // namespace tallivo
