#include "iso8601dateformatter.h"

#include "usagelogging.h"

#include <QHash>
#include <QMutex>

#include <cmath>

namespace tallivo {

namespace {

QMutex zoneCacheMutex;
QHash<int, QTimeZone> zoneCache;
bool zoneCacheAlive = true;

QList<QString> tokenize(const QString &pattern)
{
    // Letter runs are fields; quoted text and other characters are literals,
    // kept with a leading quote so they never look like a field.
    QList<QString> tokens;
    qsizetype i = 0;
    while (i < pattern.size()) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\'')) {
            QString literal = QStringLiteral("'");
            ++i;
            if (i < pattern.size() && pattern.at(i) == QLatin1Char('\'')) {
                tokens.append(QStringLiteral("''"));
                ++i;
                continue;
            }
            while (i < pattern.size()) {
                if (pattern.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < pattern.size() && pattern.at(i + 1) == QLatin1Char('\'')) {
                        literal += QLatin1Char('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                literal += pattern.at(i++);
            }
            tokens.append(literal);
        } else if (c.isLetter() && c.unicode() < 128) {
            qsizetype j = i;
            while (j < pattern.size() && pattern.at(j) == c)
                ++j;
            tokens.append(pattern.mid(i, j - i));
            i = j;
        } else {
            tokens.append(QLatin1Char('\'') + c);
            ++i;
        }
    }
    return tokens;
}

QString padded(qint64 value, int width)
{
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

QString formatField(const QString &token, const QDateTime &local)
{
    const QDate date = local.date();
    const QTime time = local.time();
    const int width = int(token.size());
    switch (token.at(0).unicode()) {
    case 'y':
        return width == 2 ? padded(date.year() % 100, 2) : padded(date.year(), width);
    case 'M':
        return padded(date.month(), width);
    case 'd':
        return padded(date.day(), width);
    case 'D':
        return padded(date.dayOfYear(), width);
    case 'H':
        return padded(time.hour(), width);
    case 'm':
        return padded(time.minute(), width);
    case 's':
        return padded(time.second(), width);
    case 'S': {
        const QString millis = padded(time.msec(), 3);
        return width <= 3 ? millis.left(width) : millis + QString(width - 3, QLatin1Char('0'));
    }
    default:
        return token;
    }
}

QString offsetText(int offset)
{
    if (offset == 0)
        return QStringLiteral("Z");
    const int size = std::abs(offset);
    return QStringLiteral("%1%2:%3")
        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(padded(size / 3600, 2), padded((size % 3600) / 60, 2));
}

// Reading state: a cursor over the text.
struct Cursor
{
    const QString &text;
    qsizetype pos = 0;

    bool atEnd() const { return pos >= text.size(); }
    QChar peek(qsizetype ahead = 0) const
    {
        return pos + ahead < text.size() ? text.at(pos + ahead) : QChar();
    }
    bool isDigitAt(qsizetype ahead = 0) const
    {
        const QChar c = peek(ahead);
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    }
    // Reads up to max digits; returns how many were read.
    int digits(qint64 *value, int max = 18)
    {
        int count = 0;
        qint64 result = 0;
        while (count < max && isDigitAt()) {
            result = result * 10 + (text.at(pos).unicode() - '0');
            ++pos;
            ++count;
        }
        *value = result;
        return count;
    }
    // A number with an optional "." or "," fraction.
    bool decimal(double *value, bool *hasFraction)
    {
        qint64 whole = 0;
        if (digits(&whole) == 0)
            return false;
        *value = double(whole);
        *hasFraction = false;
        if ((peek() == QLatin1Char('.') || peek() == QLatin1Char(',')) && isDigitAt(1)) {
            ++pos;
            double scale = 0.1;
            while (isDigitAt()) {
                *value += scale * (text.at(pos).unicode() - '0');
                scale /= 10;
                ++pos;
            }
            *hasFraction = true;
        }
        return true;
    }
};

QDate isoWeekDate(int year, int week, int weekday)
{
    const QDate january4(year, 1, 4);
    const QDate week1Monday = january4.addDays(1 - january4.dayOfWeek());
    return week1Monday.addDays(qint64(week - 1) * 7 + (weekday - 1));
}

// The text form has whole minutes up to 14 hours; a zone whose offset at that
// date has neither (local mean time before 1900) is written as UTC.
QTimeZone zoneForWriting(const QTimeZone &zone, const QDateTime &date)
{
    const int offset = zone.offsetFromUtc(date);
    if (offset % 60 != 0 || std::abs(offset) > Iso8601DateFormatter::MaxOffsetSeconds)
        return QTimeZone::utc();
    return zone;
}

// The instants whose local date is within years 1 to 9999 in every zone of at
// most 14 hours, so the four-digit year written for them can be read back.
bool isWritable(const QDateTime &date)
{
    static const QDateTime first(QDate(1, 1, 1), QTime(14, 0), QTimeZone::utc());
    static const QDateTime last(QDate(9999, 12, 31), QTime(9, 59, 59, 999), QTimeZone::utc());
    return date >= first && date <= last;
}

} // namespace

Iso8601DateFormatter::Iso8601DateFormatter()
    : m_parsingZone(QTimeZone::systemTimeZone())
{
}

QTimeZone Iso8601DateFormatter::timeZoneForOffset(int offsetSeconds)
{
    if (std::abs(offsetSeconds) > MaxOffsetSeconds)
        return {};
    QMutexLocker lock(&zoneCacheMutex);
    if (zoneCacheAlive) {
        const auto found = zoneCache.constFind(offsetSeconds);
        if (found != zoneCache.constEnd())
            return *found;
    }
    const QTimeZone zone = offsetSeconds == 0 ? QTimeZone::utc() : QTimeZone(offsetSeconds);
    if (zoneCacheAlive)
        zoneCache.insert(offsetSeconds, zone);
    return zone;
}

void Iso8601DateFormatter::clearZoneCache()
{
    QMutexLocker lock(&zoneCacheMutex);
    zoneCache.clear();
    zoneCacheAlive = false;
}

QString Iso8601DateFormatter::replaceColons(const QString &text, QChar separator)
{
    if (separator == QLatin1Char(':'))
        return text;
    QString result = text;
    result.replace(QLatin1Char(':'), separator);
    return result;
}

QTimeZone Iso8601DateFormatter::writingZone() const
{
    return m_timeZone.isValid() ? m_timeZone : QTimeZone::systemTimeZone();
}

QString Iso8601DateFormatter::toString(const QDateTime &date) const
{
    return toString(date, writingZone());
}

QString Iso8601DateFormatter::toString(const QDateTime &date, const QTimeZone &zone) const
{
    switch (m_format) {
    case Format::Calendar:
        return toString(date, QStringLiteral("yyyy-MM-dd"), zone);
    case Format::Ordinal:
        return toString(date, QStringLiteral("yyyy-DDD"), zone);
    case Format::Week:
        return weekDateString(date, zone);
    }
    qCWarning(lcUsage, "Unknown ISO 8601 date format %d", int(m_format));
    return {};
}

QString Iso8601DateFormatter::toString(const QDateTime &date, const QString &formatString,
                                       const QTimeZone &zone) const
{
    if (!date.isValid())
        return {};
    const QTimeZone useZone = zoneForWriting(zone.isValid() ? zone : writingZone(), date);
    QString pattern = formatString;
    if (m_includeTime)
        pattern += QStringLiteral("'T'") +
                   replaceColons(QStringLiteral("HH:mm:ss.SSSSSS"), m_timeSeparator);
    if (pattern != m_lastPattern) {
        m_lastPattern = pattern;
        m_lastTokens = tokenize(pattern);
    }
    const QDateTime local = date.toTimeZone(useZone);
    QString text;
    for (const QString &token : std::as_const(m_lastTokens))
        text += token.startsWith(QLatin1Char('\'')) ? token.mid(1) : formatField(token, local);
    if (m_includeTime)
        text += offsetText(useZone.offsetFromUtc(date));
    return text;
}

QString Iso8601DateFormatter::timePart(const QDateTime &local, int offset) const
{
    const QString sep(m_timeSeparator);
    return QStringLiteral("T") + padded(local.time().hour(), 2) + sep +
           padded(local.time().minute(), 2) + sep + padded(local.time().second(), 2) +
           QLatin1Char('.') + formatField(QStringLiteral("SSSSSS"), local) + offsetText(offset);
}

QString Iso8601DateFormatter::weekDateString(const QDateTime &date, const QTimeZone &zone) const
{
    if (!date.isValid())
        return {};
    const QTimeZone useZone = zoneForWriting(zone.isValid() ? zone : writingZone(), date);
    const QDateTime local = date.toTimeZone(useZone);
    int weekYear = 0;
    const int week = local.date().weekNumber(&weekYear);
    return QStringLiteral("%1-W%2-%3%4")
        .arg(weekYear)
        .arg(padded(week, 2), padded(local.date().dayOfWeek(), 2),
             m_includeTime ? timePart(local, useZone.offsetFromUtc(date)) : QString());
}

Iso8601DateFormatter::DateComponents Iso8601DateFormatter::parseComponents(const QString &text,
                                                                           QTimeZone *zoneOut,
                                                                           Range *rangeOut) const
{
    const auto failed = [&]() {
        if (zoneOut)
            *zoneOut = QTimeZone();
        if (rangeOut)
            *rangeOut = Range();
        return DateComponents();
    };
    const QChar separator = m_strict ? QLatin1Char(':') : m_timeSeparator;
    Q_ASSERT_X(!separator.isNull(), "parseComponents", "Time separator must not be NUL.");
    if (separator.isNull())
        return failed();

    const QDate today = QDateTime::currentDateTime().toTimeZone(m_parsingZone).date();
    Cursor in{text};
    if (m_strict) {
        if (!in.atEnd() && in.peek().isSpace())
            return failed();
    } else {
        while (!in.atEnd() && in.peek().isSpace())
            ++in.pos;
    }
    const qsizetype start = in.pos;

    int year = today.year();
    int month = today.month();
    int day = today.day();
    int ordinal = 0;
    int week = 0;
    int weekday = 0;
    const int century = today.year() / 100 * 100;

    if (in.peek() != QLatin1Char('T')) {
        int hyphens = 0;
        while (in.peek() == QLatin1Char('-')) {
            ++hyphens;
            ++in.pos;
        }
        qint64 value = 0;
        const int count = in.digits(&value);
        if (hyphens > 0 && m_strict)
            return failed();
        switch (hyphens) {
        case 0:
            if (count == 4) {
                year = int(value);
                if (in.peek() == QLatin1Char('-'))
                    ++in.pos;
                if (in.peek() == QLatin1Char('W')) {
                    ++in.pos;
                    qint64 weekValue = 0;
                    const int weekDigits = in.digits(&weekValue, 3);
                    if (weekDigits == 3) {
                        week = int(weekValue / 10);
                        weekday = int(weekValue % 10);
                    } else if (weekDigits == 2) {
                        week = int(weekValue);
                        weekday = 1;
                        if (in.peek() == QLatin1Char('-') && in.isDigitAt(1)) {
                            ++in.pos;
                            qint64 d = 0;
                            in.digits(&d, 1);
                            weekday = int(d);
                        }
                    } else {
                        return failed();
                    }
                    break;
                }
                qint64 next = 0;
                const int nextDigits = in.digits(&next, 4);
                if (nextDigits == 0) {
                    month = 1;
                    day = 1;
                } else if (nextDigits == 2) {
                    month = int(next);
                    day = 1;
                    if (in.peek() == QLatin1Char('-') && in.isDigitAt(1))
                        ++in.pos;
                    qint64 d = 0;
                    if (in.digits(&d, 2) > 0)
                        day = int(d);
                } else if (nextDigits == 3) {
                    ordinal = int(next);
                } else if (nextDigits == 4) {
                    month = int(next / 100);
                    day = int(next % 100);
                } else {
                    return failed();
                }
            } else if (count == 8) {
                year = int(value / 10000);
                month = int(value / 100 % 100);
                day = int(value % 100);
            } else if (count == 7) {
                year = int(value / 1000);
                ordinal = int(value % 1000);
            } else if (count == 6 && !m_strict) {
                year = century + int(value / 10000);
                month = int(value / 100 % 100);
                day = int(value % 100);
            } else {
                return failed();
            }
            break;
        case 1:
            // -YY, -YY-MM or -YYMM: a year of today's century.
            if (count == 2) {
                year = century + int(value);
                qCDebug(lcUsage) << QStringLiteral("(%1) found %2 digits and one hyphen, so "
                                                   "this is either -YY or -YY-MM; segment (year) "
                                                   "is %3")
                                        .arg(text)
                                        .arg(count)
                                        .arg(value);
                month = 1;
                if (in.peek() == QLatin1Char('-') && in.isDigitAt(1)) {
                    ++in.pos;
                    qint64 m = 0;
                    if (in.digits(&m, 2) != 2)
                        return failed();
                    month = int(m);
                    qCDebug(lcUsage) << QStringLiteral("(%1) month is %2").arg(text).arg(month);
                }
                day = 1;
            } else if (count == 4) {
                year = century + int(value / 100);
                month = int(value % 100);
                day = 1;
            } else {
                return failed();
            }
            break;
        case 2:
            // --MM-dd, --MMdd or --MM of today's year.
            if (count == 2) {
                month = int(value);
                day = 1;
                if (in.peek() == QLatin1Char('-') && in.isDigitAt(1)) {
                    ++in.pos;
                    qint64 d = 0;
                    if (in.digits(&d, 2) != 2)
                        return failed();
                    day = int(d);
                }
            } else if (count == 4) {
                month = int(value / 100);
                day = int(value % 100);
            } else {
                return failed();
            }
            break;
        case 3:
            if (count != 2)
                return failed();
            day = int(value);
            break;
        default:
            return failed();
        }
    }

    if (ordinal > 0) {
        if (m_strict && ordinal > QDate(year, 1, 1).daysInYear())
            return failed();
        const QDate date = QDate(year, 1, 1).addDays(ordinal - 1);
        year = date.year();
        month = date.month();
        day = date.day();
    } else if (week > 0) {
        const QDate date = isoWeekDate(year, week, weekday);
        year = date.year();
        month = date.month();
        day = date.day();
    }

    int hour = 0;
    double minutes = 0;
    double seconds = 0;
    if ((in.peek() == QLatin1Char('T') || in.peek().isSpace()) && in.isDigitAt(1))
        ++in.pos;
    if (in.isDigitAt()) {
        qint64 h = 0;
        const int hourDigits = in.digits(&h, 2);
        hour = int(h);
        const bool separatorIsDecimal =
            separator == QLatin1Char('.') || separator == QLatin1Char(',');
        if (in.peek() == separator && in.isDigitAt(1)) {
            ++in.pos;
            if (separatorIsDecimal) {
                qint64 m = 0;
                in.digits(&m, 2);
                minutes = double(m);
                if (in.peek() == separator && in.isDigitAt(1)) {
                    ++in.pos;
                    qint64 s = 0;
                    in.digits(&s, 2);
                    seconds = double(s);
                }
            } else {
                bool fraction = false;
                in.decimal(&minutes, &fraction);
                if (fraction) {
                    seconds = (minutes - std::floor(minutes)) * 60;
                } else if (in.peek() == separator && in.isDigitAt(1)) {
                    ++in.pos;
                    in.decimal(&seconds, &fraction);
                }
            }
        } else if (hourDigits == 2 && in.isDigitAt() && in.isDigitAt(1)) {
            // The basic form: hhmm[ss[.fff]].
            qint64 m = 0;
            in.digits(&m, 2);
            minutes = double(m);
            if (in.isDigitAt() && in.isDigitAt(1)) {
                qint64 s = 0;
                in.digits(&s, 2);
                seconds = double(s);
                bool fraction = false;
                if ((in.peek() == QLatin1Char('.') || in.peek() == QLatin1Char(',')) &&
                    in.isDigitAt(1)) {
                    ++in.pos;
                    double ignored = 0;
                    in.decimal(&ignored, &fraction);
                }
            }
        }
    }

    // Whole numbers are taken below; anything out of range is no time at all.
    if (!(minutes < 60) || !(seconds < 61))
        return failed();

    if (!m_strict && in.peek().isSpace())
        ++in.pos;

    QTimeZone zone;
    if (in.peek() == QLatin1Char('Z')) {
        ++in.pos;
        zone = timeZoneForOffset(0);
    } else if ((in.peek() == QLatin1Char('+') || in.peek() == QLatin1Char('-')) &&
               in.isDigitAt(1)) {
        const int sign = in.peek() == QLatin1Char('-') ? -1 : 1;
        ++in.pos;
        qint64 h = 0;
        qint64 m = 0;
        in.digits(&h, 2);
        if ((in.peek() == separator || in.peek() == QLatin1Char(':')) && in.isDigitAt(1))
            ++in.pos;
        in.digits(&m, 2);
        // No zone is further than 14 hours from UTC: such a text is no date.
        zone = m < 60 ? timeZoneForOffset(sign * int(h * 3600 + m * 60)) : QTimeZone();
        if (!zone.isValid())
            return failed();
    }

    if (zoneOut)
        *zoneOut = zone;
    if (rangeOut)
        *rangeOut = Range{start, in.pos - start};
    DateComponents result;
    result.isValid = true;
    result.year = year;
    result.month = month;
    result.day = day;
    result.hour = hour;
    result.minute = int(minutes);
    result.second = int(seconds);
    return result;
}

QDateTime Iso8601DateFormatter::parse(const QString &text, QTimeZone *zoneOut,
                                      Range *rangeOut) const
{
    QTimeZone zone;
    const DateComponents parts = parseComponents(text, &zone, rangeOut);
    if (zoneOut)
        *zoneOut = QTimeZone();
    if (!parts.isValid)
        return {};
    QDate date(parts.year, parts.month, parts.day);
    QTime time(parts.hour, parts.minute, parts.second);
    if (parts.hour == 24 && parts.minute == 0 && parts.second == 0) {
        date = date.addDays(1);
        time = QTime(0, 0);
    }
    if (!date.isValid() || !time.isValid())
        return {};
    const QDateTime result(date, time, zone.isValid() ? zone : m_parsingZone);
    if (!isWritable(result))
        return {};
    if (zoneOut)
        *zoneOut = zone;
    return result;
}

} // namespace tallivo
