#include "iso8601dateformatter.h"

#include <QTest>

#include <stdexcept>

using namespace tallivo;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

QTimeZone zone(const char *id)
{
    return QTimeZone(QByteArray(id));
}

} // namespace

class TestISO8601DateFormatter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesCalendarFormWithOffset_data();
    void writesCalendarFormWithOffset();
    void writesOrdinalAndWeekForms();
    void rejectsUnknownFormat();
    void timeSeparator();
    void readsForms_data();
    void readsForms();
    void readsTruncatedFormsFromToday_data();
    void readsTruncatedFormsFromToday();
    void strictMode_data();
    void strictMode();
    void reportsRangeRead();
    void roundTripsOverManyDatesAndZones();
};

void TestISO8601DateFormatter::writesCalendarFormWithOffset_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QByteArray>("zoneId");
    QTest::addColumn<QString>("text");
    const QDateTime example = utc(2013, 5, 14, 9, 50, 31, 123);
    QTest::newRow("half-hour ahead") << example << QByteArray("Asia/Kolkata")
                                     << QStringLiteral("2013-05-14T15:20:31.123000+05:30");
    QTest::newRow("utc") << example << QByteArray("UTC")
                         << QStringLiteral("2013-05-14T09:50:31.123000Z");
    QTest::newRow("zero offset is Z") << utc(2013, 1, 10, 12, 0, 0) << QByteArray("Europe/London")
                                      << QStringLiteral("2013-01-10T12:00:00.000000Z");
    QTest::newRow("half-hour behind, winter")
        << utc(2013, 1, 10, 12, 0, 0) << QByteArray("America/St_Johns")
        << QStringLiteral("2013-01-10T08:30:00.000000-03:30");
    QTest::newRow("half-hour behind, summer")
        << utc(2013, 7, 10, 12, 0, 0) << QByteArray("America/St_Johns")
        << QStringLiteral("2013-07-10T09:30:00.000000-02:30");
    QTest::newRow("winter date keeps winter offset")
        << utc(2013, 1, 10, 23, 30, 0) << QByteArray("Europe/Berlin")
        << QStringLiteral("2013-01-11T00:30:00.000000+01:00");
    QTest::newRow("summer") << utc(2013, 7, 10, 12, 0, 0) << QByteArray("Europe/Berlin")
                            << QStringLiteral("2013-07-10T14:00:00.000000+02:00");
    QTest::newRow("southern summer")
        << utc(2013, 1, 10, 12, 0, 0) << QByteArray("Australia/Adelaide")
        << QStringLiteral("2013-01-10T22:30:00.000000+10:30");
    QTest::newRow("year rolls back") << utc(2014, 1, 1, 2, 0, 0) << QByteArray("America/New_York")
                                     << QStringLiteral("2013-12-31T21:00:00.000000-05:00");
}

void TestISO8601DateFormatter::writesCalendarFormWithOffset()
{
    QFETCH(QDateTime, date);
    QFETCH(QByteArray, zoneId);
    QFETCH(QString, text);
    ISO8601DateFormatter formatter;
    formatter.setIncludeTime(true);
    formatter.setDefaultTimeZone(QTimeZone(zoneId));
    QCOMPARE(formatter.stringFromDate(date), text);
    // An explicit zone wins over the default one.
    ISO8601DateFormatter other;
    other.setIncludeTime(true);
    other.setDefaultTimeZone(zone("Pacific/Auckland"));
    QCOMPARE(other.stringFromDate(date, QTimeZone(zoneId)), text);
}

void TestISO8601DateFormatter::writesOrdinalAndWeekForms()
{
    ISO8601DateFormatter formatter;
    formatter.setDefaultTimeZone(QTimeZone::utc());
    const QDateTime date = utc(2013, 5, 14, 9, 50, 31);
    QCOMPARE(formatter.stringFromDate(date), QStringLiteral("2013-05-14"));
    formatter.setFormat(ISO8601DateFormatter::Ordinal);
    QCOMPARE(formatter.stringFromDate(date), QStringLiteral("2013-134"));
    formatter.setFormat(ISO8601DateFormatter::Week);
    QCOMPARE(formatter.stringFromDate(date), QStringLiteral("2013-W20-02"));
    // The week-numbering year differs from the calendar year here.
    QCOMPARE(formatter.stringFromDate(utc(2010, 1, 3, 0, 0, 0)), QStringLiteral("2009-W53-07"));
    formatter.setIncludeTime(true);
    QCOMPARE(formatter.stringFromDate(date), QStringLiteral("2013-W20-02T09:50:31.000000Z"));
}

void TestISO8601DateFormatter::rejectsUnknownFormat()
{
    ISO8601DateFormatter formatter;
    formatter.setFormat(7);
    try {
        formatter.stringFromDate(utc(2013, 5, 14, 0, 0, 0));
        QFAIL("no exception");
    } catch (const std::logic_error &error) {
        QCOMPARE(QString::fromUtf8(error.what()),
                 QStringLiteral("self.format was 7, not calendar (0), week (2), or ordinal (1)"));
    }
}

void TestISO8601DateFormatter::timeSeparator()
{
    ISO8601DateFormatter formatter;
    formatter.setIncludeTime(true);
    formatter.setTimeSeparator(QLatin1Char('.'));
    formatter.setDefaultTimeZone(zone("Asia/Kolkata"));
    const QDateTime date = utc(2013, 5, 14, 9, 50, 31, 123);
    QCOMPARE(formatter.stringFromDate(date), QStringLiteral("2013-05-14T15.20.31.123000+05:30"));
    QCOMPARE(formatter.dateFromString(QStringLiteral("2013-05-14T15.20.31+05:30")),
             utc(2013, 5, 14, 9, 50, 31));
    // Strict reading always expects ":".
    formatter.setParsesStrictly(true);
    QCOMPARE(formatter.dateFromString(QStringLiteral("2013-05-14T15:20:31+05:30")),
             utc(2013, 5, 14, 9, 50, 31));
}

void TestISO8601DateFormatter::readsForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<int>("offset"); // -1: no zone in the text
    QTest::newRow("written form") << QStringLiteral("2013-05-14T15:20:31.123000+05:30")
                                  << utc(2013, 5, 14, 9, 50, 31) << 19800;
    QTest::newRow("space for T") << QStringLiteral("2013-05-14 15:20:31Z")
                                 << utc(2013, 5, 14, 15, 20, 31) << 0;
    QTest::newRow("no seconds") << QStringLiteral("2013-05-14T15:20Z")
                                << utc(2013, 5, 14, 15, 20, 0) << 0;
    QTest::newRow("minute fraction with comma")
        << QStringLiteral("2013-05-14T15:20,5Z") << utc(2013, 5, 14, 15, 20, 30) << 0;
    QTest::newRow("negative half-hour")
        << QStringLiteral("2013-05-14T15:20:31,75-03:30") << utc(2013, 5, 14, 18, 50, 31) << -12600;
    QTest::newRow("offset without colon")
        << QStringLiteral("2013-05-14T15:20:31+0530") << utc(2013, 5, 14, 9, 50, 31) << 19800;
    QTest::newRow("space before zone")
        << QStringLiteral("2013-05-14T15:20:31 +01:00") << utc(2013, 5, 14, 14, 20, 31) << 3600;
    QTest::newRow("compact") << QStringLiteral("20130514T152031Z") << utc(2013, 5, 14, 15, 20, 31)
                             << 0;
    QTest::newRow("no zone") << QStringLiteral("2013-05-14T15:20:31")
                             << utc(2013, 5, 14, 15, 20, 31) << -1;
    QTest::newRow("date only") << QStringLiteral("2013-05-14") << utc(2013, 5, 14, 0, 0, 0) << -1;
    QTest::newRow("year and month") << QStringLiteral("2013-05") << utc(2013, 5, 1, 0, 0, 0) << -1;
    QTest::newRow("ordinal") << QStringLiteral("2013-134T15:20:31Z") << utc(2013, 5, 14, 15, 20, 31)
                             << 0;
    QTest::newRow("ordinal compact")
        << QStringLiteral("2012366") << utc(2012, 12, 31, 0, 0, 0) << -1;
    QTest::newRow("week") << QStringLiteral("2013-W20-2") << utc(2013, 5, 14, 0, 0, 0) << -1;
    QTest::newRow("week compact") << QStringLiteral("2013W202") << utc(2013, 5, 14, 0, 0, 0) << -1;
    QTest::newRow("week 53 ends in next year")
        << QStringLiteral("2009-W53-7") << utc(2010, 1, 3, 0, 0, 0) << -1;
    QTest::newRow("week 1 starts in last year")
        << QStringLiteral("2008-W01-1") << utc(2007, 12, 31, 0, 0, 0) << -1;
    QTest::newRow("leading white space")
        << QStringLiteral("  2013-05-14T15:20:31Z") << utc(2013, 5, 14, 15, 20, 31) << 0;
    QTest::newRow("not a date") << QStringLiteral("hello") << QDateTime() << -1;
    QTest::newRow("empty") << QString() << QDateTime() << -1;
    QTest::newRow("month 13") << QStringLiteral("2013-13-01") << QDateTime() << -1;
}

void TestISO8601DateFormatter::readsForms()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, date);
    QFETCH(int, offset);
    ISO8601DateFormatter formatter; // tests run with TZ=UTC: a text without zone reads as UTC
    QTimeZone found;
    const QDateTime read = formatter.dateFromString(text, &found);
    QCOMPARE(read.isValid(), date.isValid());
    if (date.isValid())
        QCOMPARE(read.toUTC(), date);
    QCOMPARE(found.isValid(), offset != -1);
    if (offset != -1)
        QCOMPARE(found.offsetFromUtc(read), offset);
}

void TestISO8601DateFormatter::readsTruncatedFormsFromToday_data()
{
    const QDate today = QDate::currentDate();
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("date");
    QTest::newRow("--MM-dd") << QStringLiteral("--05-14") << QDate(today.year(), 5, 14);
    QTest::newRow("--MMdd") << QStringLiteral("--0514") << QDate(today.year(), 5, 14);
    QTest::newRow("---dd") << QStringLiteral("---09") << QDate(today.year(), today.month(), 9);
    QTest::newRow("-yy-MM") << QStringLiteral("-13-05")
                            << QDate(today.year() / 100 * 100 + 13, 5, 1);
    QTest::newRow("yyMMdd") << QStringLiteral("130514")
                            << QDate(today.year() / 100 * 100 + 13, 5, 14);
    QTest::newRow("time of today") << QStringLiteral("T15:20:31Z") << today;
}

void TestISO8601DateFormatter::readsTruncatedFormsFromToday()
{
    QFETCH(QString, text);
    QFETCH(QDate, date);
    ISO8601DateFormatter formatter;
    const ISO8601DateFormatter::DateComponents parts = formatter.dateComponentsFromString(text);
    QVERIFY(parts.isValid);
    QCOMPARE(QDate(parts.year, parts.month, parts.day), date);
}

void TestISO8601DateFormatter::strictMode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("lenient");
    QTest::addColumn<bool>("strict");
    QTest::newRow("leading space") << QStringLiteral(" 2013-05-14") << true << false;
    QTest::newRow("ordinal past year end") << QStringLiteral("2013-366") << true << false;
    QTest::newRow("ordinal in leap year") << QStringLiteral("2012-366") << true << true;
    QTest::newRow("truncated --MM-dd") << QStringLiteral("--05-14") << true << false;
    QTest::newRow("full form") << QStringLiteral("2013-05-14T15:20:31Z") << true << true;
}

void TestISO8601DateFormatter::strictMode()
{
    QFETCH(QString, text);
    QFETCH(bool, lenient);
    QFETCH(bool, strict);
    ISO8601DateFormatter formatter;
    QCOMPARE(formatter.dateFromString(text).isValid(), lenient);
    formatter.setParsesStrictly(true);
    QCOMPARE(formatter.dateFromString(text).isValid(), strict);
}

void TestISO8601DateFormatter::reportsRangeRead()
{
    ISO8601DateFormatter formatter;
    ISO8601DateFormatter::Range range;
    formatter.dateFromString(QStringLiteral("  2013-05-14T15:20Z trailing"), nullptr, &range);
    QCOMPARE(range.location, 2);
    QCOMPARE(range.length, 17);
    formatter.dateFromString(QStringLiteral("nothing"), nullptr, &range);
    QCOMPARE(range.location, ISO8601DateFormatter::Range::NotFound);
    QCOMPARE(range.length, 0);
}

void TestISO8601DateFormatter::roundTripsOverManyDatesAndZones()
{
    const QList<QByteArray> zones = {"UTC",
                                     "Europe/Berlin",
                                     "America/St_Johns",
                                     "Asia/Kolkata",
                                     "Australia/Adelaide",
                                     "Asia/Kathmandu",
                                     "America/Los_Angeles",
                                     "Pacific/Chatham",
                                     "Europe/London"};
    ISO8601DateFormatter reader;
    int checked = 0;
    for (const QByteArray &id : zones) {
        const QTimeZone tz(id);
        QVERIFY2(tz.isValid(), id.constData());
        ISO8601DateFormatter writer;
        writer.setIncludeTime(true);
        writer.setDefaultTimeZone(tz);
        // Every 37 days and 5 hours over 30 years hits both offsets of each zone.
        for (qint64 secs = 946684800; secs < 1893456000; secs += 37 * 86400 + 5 * 3600 + 17) {
            const QDateTime date =
                QDateTime::fromMSecsSinceEpoch(secs * 1000 + 789, QTimeZone::utc());
            const QString text = writer.stringFromDate(date);
            QTimeZone found;
            const QDateTime back = reader.dateFromString(text, &found);
            if (back != date.addMSecs(-789) || found.offsetFromUtc(date) != tz.offsetFromUtc(date))
                QFAIL(qPrintable(QStringLiteral("%1 in %2 -> %3 -> %4")
                                     .arg(date.toString(Qt::ISODateWithMs), QString::fromLatin1(id),
                                          text, back.toUTC().toString(Qt::ISODateWithMs))));
            ++checked;
        }
        if (id == "Asia/Kolkata")
            ISO8601DateFormatter::purgeGlobalCaches(); // zones are then made anew
    }
    QVERIFY(checked > 2000);
}

QTEST_GUILESS_MAIN(TestISO8601DateFormatter)
#include "tst_iso8601dateformatter.moc"
