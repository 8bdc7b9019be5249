#include "filedisplay.h"

#include "fileitem.h"
#include "pagesummary.h"

#include <QLocale>
#include <QTimeZone>

#include <mutex>

namespace tallivo {

namespace {

// The zone the table's dates are shown in. Finding it reads the system's
// zone files, which costs a file system round trip or more, so it is done
// once, not for every date; it is looked up again only when TZ changes.
QTimeZone displayZone()
{
    static std::mutex mutex;
    static QByteArray zoneVariable;
    static bool known = false;
    static QTimeZone zone;
    const QByteArray variable = qgetenv("TZ");
    std::lock_guard lock(mutex);
    if (!known || variable != zoneVariable) {
        zoneVariable = variable;
        zone = QTimeZone::systemTimeZone();
        known = true;
    }
    return zone;
}

const QString &displayDateFormat()
{
    static const QString format = QStringLiteral("dd-MMM-yyyy h:mm AP");
    return format;
}

} // namespace

QString displayDate(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    return QLocale().toString(date.toLocalTime(), displayDateFormat());
}

QString displayDate(qint64 msecs)
{
    if (msecs == FileRecord::kNoTime)
        return {};
    const QTimeZone zone = displayZone();
    if (!zone.isValid())
        return displayDate(QDateTime::fromMSecsSinceEpoch(msecs));
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(msecs, zone), displayDateFormat());
}

QString sizesText(const PageSummary &summary)
{
    QStringList parts;
    for (const auto &[size, pages] : summary.pagesBySize())
        parts << size.label() + QStringLiteral(" x ") + QString::number(pages);
    return parts.join(QStringLiteral(", "));
}

QString a4EquivalentsText(const PageSummary &summary)
{
    return summary.isEmpty() ? QString() : QString::number(summary.a4Equivalents());
}

QString colourText(const PageSummary &summary)
{
    QStringList parts;
    for (ColourClass c :
         {ColourClass::BlackWhite, ColourClass::Grey, ColourClass::Colour, ColourClass::Unknown}) {
        if (const qint64 n = summary.pages(c))
            parts << colourLabel(c) + QLatin1Char(' ') + QString::number(n);
    }
    return parts.join(QStringLiteral(", "));
}

QVariant displayField(const FileItem &item, Column column)
{
    const FileRecord &record = item.record();
    switch (column) {
    case Column::Check:
        return record.checked;
    case Column::Name:
        return item.name();
    case Column::Pages:
        return record.pages;
    case Column::Size:
        return item.sizeInKB();
    case Column::Type:
        return item.type();
    case Column::Modified:
        return displayDate(record.modified);
    case Column::Created:
        return displayDate(record.created);
    case Column::Accessed:
        return displayDate(record.accessed);
    case Column::Location:
        return item.location();
    case Column::Sizes:
        return sizesText(item.pageSummary());
    case Column::A4Equivalents:
        return a4EquivalentsText(item.pageSummary());
    case Column::Colour:
        return colourText(item.pageSummary());
    }
    return QString();
}

} // namespace tallivo
