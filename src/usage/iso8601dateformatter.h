#pragma once

#include <QChar>
#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <QVariant>

#include <limits>

namespace tallivo {

inline constexpr QChar ISO8601DefaultTimeSeparatorCharacter = QLatin1Char(':');

// Writes dates as ISO 8601 text and reads the calendar, ordinal, week and
// truncated forms back. Not thread-safe; the zone cache behind it is.
class ISO8601DateFormatter
{
public:
    enum Format : unsigned
    {
        Calendar = 0,
        Ordinal = 1,
        Week = 2
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

    struct Range
    {
        static constexpr qsizetype NotFound = std::numeric_limits<qsizetype>::max();
        qsizetype location = NotFound;
        qsizetype length = 0;
    };

    ISO8601DateFormatter();

    unsigned format() const { return m_format; }
    void setFormat(unsigned format) { m_format = format; }
    bool includeTime() const { return m_includeTime; }
    void setIncludeTime(bool include) { m_includeTime = include; }
    QChar timeSeparator() const { return m_timeSeparator; }
    void setTimeSeparator(QChar separator) { m_timeSeparator = separator; }
    bool parsesStrictly() const { return m_strict; }
    void setParsesStrictly(bool strict) { m_strict = strict; }
    // An invalid zone means none: writing then uses the system's zone.
    QTimeZone defaultTimeZone() const { return m_defaultTimeZone; }
    void setDefaultTimeZone(const QTimeZone &zone) { m_defaultTimeZone = zone; }

    QString stringFromDate(const QDateTime &date) const;
    // Throws std::logic_error when format() is none of the three forms.
    QString stringFromDate(const QDateTime &date, const QTimeZone &zone) const;
    QString stringFromDate(const QDateTime &date, const QString &formatString,
                           const QTimeZone &zone) const;
    QString stringForObjectValue(const QVariant &value) const;
    QString weekDateStringForDate(const QDateTime &date, const QTimeZone &zone) const;

    // An invalid date when the text matches no form. The zone is the one the
    // text names, invalid when it names none.
    QDateTime dateFromString(const QString &text, QTimeZone *zone = nullptr,
                             Range *range = nullptr) const;
    DateComponents dateComponentsFromString(const QString &text, QTimeZone *zone = nullptr,
                                            Range *range = nullptr) const;
    bool getObjectValue(QVariant *value, const QString &text, QString *errorDescription) const;

    static QString replaceColonsInString(const QString &text, QChar separator);
    // Drops the zone cache shared by all formatters; zones are made anew from then on.
    static void purgeGlobalCaches();
    static QTimeZone timeZoneForOffset(int offsetSeconds);

private:
    QTimeZone writingZone() const;
    QString timePart(const QDateTime &local, const QTimeZone &zone, const QDateTime &date) const;

    unsigned m_format = Calendar;
    bool m_includeTime = false;
    QChar m_timeSeparator = ISO8601DefaultTimeSeparatorCharacter;
    bool m_strict = false;
    QTimeZone m_defaultTimeZone;
    QTimeZone m_parsingZone;
    // The last writing pattern, split once into tokens and reused.
    mutable QString m_lastPattern;
    mutable QList<QString> m_lastTokens;
};

} // namespace tallivo
