#pragma once

#include <QChar>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <limits>

namespace tallivo {

// Writes dates as ISO 8601 text and reads the calendar, ordinal, week and
// truncated forms back. Only years 1 to 9999 are read, and only offsets up to
// 14 hours, so whatever is read can be written back in the same form. Not
// thread-safe; the zone cache behind it is.
class Iso8601DateFormatter
{
public:
    enum class Format
    {
        Calendar,
        Ordinal,
        Week
    };

    struct DateComponents
    {
        bool isValid = false;
        int year = 0;
        int month = 0;
        int day = 0;
        int hour = 0;
        int minute = 0;
        int second = 0;
    };

    // The part of a text that was read.
    struct Range
    {
        static constexpr qsizetype NotFound = std::numeric_limits<qsizetype>::max();
        qsizetype location = NotFound;
        qsizetype length = 0;
    };

    static constexpr int MaxOffsetSeconds = 14 * 3600;

    Iso8601DateFormatter();

    Format format() const { return m_format; }
    void setFormat(Format format) { m_format = format; }
    bool includeTime() const { return m_includeTime; }
    void setIncludeTime(bool include) { m_includeTime = include; }
    QChar timeSeparator() const { return m_timeSeparator; }
    void setTimeSeparator(QChar separator) { m_timeSeparator = separator; }
    // Strict reading refuses leading white space and some truncated forms, and
    // always expects ":" between the parts of the time.
    bool isStrict() const { return m_strict; }
    void setStrict(bool strict) { m_strict = strict; }
    // An invalid zone means none: writing then uses the system's zone.
    QTimeZone timeZone() const { return m_timeZone; }
    void setTimeZone(const QTimeZone &zone) { m_timeZone = zone; }

    QString toString(const QDateTime &date) const;
    QString toString(const QDateTime &date, const QTimeZone &zone) const;
    // pattern: Unicode date-format fields (y, M, d, D, H, m, s, S) and quoted text.
    QString toString(const QDateTime &date, const QString &pattern, const QTimeZone &zone) const;
    QString weekDateString(const QDateTime &date, const QTimeZone &zone) const;

    // An invalid date when the text matches no form. The zone is the one the
    // text names, invalid when it names none; a text without one is read in
    // the system's zone.
    QDateTime parse(const QString &text, QTimeZone *zone = nullptr, Range *range = nullptr) const;
    DateComponents parseComponents(const QString &text, QTimeZone *zone = nullptr,
                                   Range *range = nullptr) const;

    static QString replaceColons(const QString &text, QChar separator);
    // Drops the zone cache shared by all formatters; zones are made anew from then on.
    static void clearZoneCache();
    // The zone of a fixed offset; invalid beyond MaxOffsetSeconds.
    static QTimeZone timeZoneForOffset(int offsetSeconds);

private:
    QTimeZone writingZone() const;
    QString timePart(const QDateTime &local, int offset) const;

    Format m_format = Format::Calendar;
    bool m_includeTime = false;
    QChar m_timeSeparator = QLatin1Char(':');
    bool m_strict = false;
    QTimeZone m_timeZone;
    QTimeZone m_parsingZone;
    // The last writing pattern, split once into tokens and reused.
    mutable QString m_lastPattern;
    mutable QList<QString> m_lastTokens;
};

} // namespace tallivo
