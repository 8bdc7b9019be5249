#include "iso8601dateformatter.h"

#include <QTest>

using namespace tallivo;

namespace {

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

// A text without a zone is read in the system's zone, whichever it is.
QDateTime local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

} // namespace

class TestIso8601DateFormatter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writes_data()
    {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("text");
        const QDateTime example = utc(2013, 5, 14, 9, 50, 31, 123);
        const int calendar = int(Iso8601DateFormatter::Format::Calendar);
        const int week = int(Iso8601DateFormatter::Format::Week);
        QTest::newRow("half-hour ahead")
            << example << "Asia/Kolkata" << calendar << "2013-05-14T15:20:31.123000+05:30";
        QTest::newRow("zero offset is Z")
            << utc(2013, 1, 10, 12) << "Europe/London" << calendar << "2013-01-10T12:00:00.000000Z";
        QTest::newRow("half-hour behind, summer") << utc(2013, 7, 10, 12) << "America/St_Johns"
                                                  << calendar << "2013-07-10T09:30:00.000000-02:30";
        QTest::newRow("winter offset crosses midnight")
            << utc(2013, 1, 10, 23, 30) << "Europe/Berlin" << calendar
            << "2013-01-11T00:30:00.000000+01:00";
        QTest::newRow("ordinal") << example << "UTC" << int(Iso8601DateFormatter::Format::Ordinal)
                                 << "2013-134T09:50:31.123000Z";
        QTest::newRow("week") << example << "UTC" << week << "2013-W20-02T09:50:31.123000Z";
        // The week-numbering year differs from the calendar year here.
        QTest::newRow("week of last year")
            << utc(2010, 1, 3) << "UTC" << week << "2009-W53-07T00:00:00.000000Z";
        // Local mean time is no whole number of minutes: such a date is written in UTC.
        QTest::newRow("local mean time") << utc(1800, 6, 1, 12) << "Europe/Amsterdam" << calendar
                                         << "1800-06-01T12:00:00.000000Z";
    }
    void writes()
    {
        QFETCH(QDateTime, date);
        QFETCH(QString, zone);
        QFETCH(int, format);
        QFETCH(QString, text);
        Iso8601DateFormatter formatter;
        formatter.setFormat(Iso8601DateFormatter::Format(format));
        formatter.setIncludeTime(true);
        formatter.setTimeZone(QTimeZone("Pacific/Auckland"));
        // An explicit zone wins over the formatter's own.
        QCOMPARE(formatter.toString(date, QTimeZone(zone.toLatin1())), text);
        formatter.setTimeZone(QTimeZone(zone.toLatin1()));
        formatter.setIncludeTime(false);
        QCOMPARE(formatter.toString(date), text.section(QLatin1Char('T'), 0, 0));
    }
    void readsForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<int>("offset"); // -1: no zone in the text
        QTest::newRow("written form")
            << "2013-05-14T15:20:31.123000+05:30" << utc(2013, 5, 14, 9, 50, 31) << 19800;
        QTest::newRow("space for T") << "2013-05-14 15:20:31Z" << utc(2013, 5, 14, 15, 20, 31) << 0;
        QTest::newRow("minute fraction with comma")
            << "2013-05-14T15:20,5Z" << utc(2013, 5, 14, 15, 20, 30) << 0;
        QTest::newRow("negative half-hour")
            << "2013-05-14T15:20:31,75-03:30" << utc(2013, 5, 14, 18, 50, 31) << -12600;
        QTest::newRow("offset without colon")
            << "2013-05-14T15:20:31+0530" << utc(2013, 5, 14, 9, 50, 31) << 19800;
        QTest::newRow("space before zone")
            << "2013-05-14T15:20:31 +01:00" << utc(2013, 5, 14, 14, 20, 31) << 3600;
        QTest::newRow("compact") << "20130514T152031Z" << utc(2013, 5, 14, 15, 20, 31) << 0;
        QTest::newRow("no zone") << "2013-05-14T15:20:31" << local(2013, 5, 14, 15, 20, 31) << -1;
        QTest::newRow("year and month") << "2013-05" << local(2013, 5, 1) << -1;
        QTest::newRow("ordinal") << "2013-134T15:20:31Z" << utc(2013, 5, 14, 15, 20, 31) << 0;
        QTest::newRow("ordinal compact") << "2012366" << local(2012, 12, 31) << -1;
        QTest::newRow("week") << "2013-W20-2" << local(2013, 5, 14) << -1;
        QTest::newRow("week 53 ends in next year") << "2009-W53-7" << local(2010, 1, 3) << -1;
        QTest::newRow("week 1 starts in last year") << "2008-W01-1" << local(2007, 12, 31) << -1;
        // Truncated forms take what they lack from today.
        const QDate today = QDate::currentDate();
        const int year = today.year();
        const int century = year / 100 * 100;
        QTest::newRow("--MM-dd") << "--05-14" << local(year, 5, 14) << -1;
        QTest::newRow("---dd") << "---09" << local(year, today.month(), 9) << -1;
        QTest::newRow("-yy-MM") << "-13-05" << local(century + 13, 5, 1) << -1;
        QTest::newRow("yyMMdd") << "130514" << local(century + 13, 5, 14) << -1;
        QTest::newRow("time of today")
            << "T15:20:31Z" << QDateTime(today, QTime(15, 20, 31), QTimeZone::utc()) << 0;
        QTest::newRow("not a date") << "hello" << QDateTime() << -1;
        QTest::newRow("month 13") << "2013-13-01" << QDateTime() << -1;
        // Out of range: never a wrapped number or a silently dropped zone.
        QTest::newRow("minutes beyond int")
            << "2013-05-14T15:99999999999999999Z" << QDateTime() << -1;
        QTest::newRow("seconds beyond int")
            << "2013-05-14T15:20:99999999999999999,5Z" << QDateTime() << -1;
        QTest::newRow("minute 60") << "2013-05-14T15:60Z" << QDateTime() << -1;
        QTest::newRow("offset of 14 hours")
            << "2013-05-14T15:20:31+14:00" << utc(2013, 5, 14, 1, 20, 31) << 50400;
        QTest::newRow("offset beyond 14 hours") << "2013-05-14T15:20:31+14:01" << QDateTime() << -1;
        QTest::newRow("offset minute 75") << "2013-05-14T15:20:31+05:75" << QDateTime() << -1;
        QTest::newRow("year 0") << "0000-06-01T00:00:00Z" << QDateTime() << -1;
        QTest::newRow("before year 1 in UTC") << "0001-01-01T00:00:00+05:00" << QDateTime() << -1;
        QTest::newRow("after year 9999 in UTC") << "9999-12-31T23:00:00-05:00" << QDateTime() << -1;
        QTest::newRow("ordinal past year 9999") << "9999-999" << QDateTime() << -1;
    }
    void readsForms()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, date);
        QFETCH(int, offset);
        Iso8601DateFormatter formatter;
        QTimeZone found;
        const QDateTime read = formatter.parse(text, &found);
        QCOMPARE(read.isValid(), date.isValid());
        if (date.isValid())
            QCOMPARE(read.toUTC(), date.toUTC());
        QCOMPARE(found.isValid(), offset != -1);
        if (offset != -1)
            QCOMPARE(found.offsetFromUtc(read), offset);
    }
    void strictMode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("strict");
        QTest::newRow("leading space") << " 2013-05-14" << false;
        QTest::newRow("ordinal past year end") << "2013-366" << false;
        QTest::newRow("truncated --MM-dd") << "--05-14" << false;
        QTest::newRow("ordinal in leap year") << "2012-366" << true;
        QTest::newRow("full form") << "2013-05-14T15:20:31Z" << true;
    }
    void strictMode()
    {
        QFETCH(QString, text);
        QFETCH(bool, strict);
        Iso8601DateFormatter formatter;
        QVERIFY(formatter.parse(text).isValid()); // lenient reading takes them all
        formatter.setStrict(true);
        QCOMPARE(formatter.parse(text).isValid(), strict);
    }
    void roundTripsOverManyDatesAndZones()
    {
        const QList<QByteArray> zones =
            QByteArray("UTC Europe/Berlin America/St_Johns Asia/Kolkata Australia/Adelaide "
                       "Asia/Kathmandu America/Los_Angeles Pacific/Chatham Europe/London")
                .split(' ');
        Iso8601DateFormatter reader;
        int checked = 0;
        for (const QByteArray &id : zones) {
            const QTimeZone tz(id);
            QVERIFY2(tz.isValid(), id.constData());
            Iso8601DateFormatter writer;
            writer.setIncludeTime(true);
            writer.setTimeZone(tz);
            // Every 37 days and 5 hours over 30 years hits both offsets of each zone.
            for (qint64 secs = 946684800; secs < 1893456000; secs += 37 * 86400 + 5 * 3600 + 17) {
                const QDateTime date = QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc());
                const QString text = writer.toString(date.addMSecs(789));
                QTimeZone found;
                const QDateTime back = reader.parse(text, &found);
                if (back != date || found.offsetFromUtc(date) != tz.offsetFromUtc(date))
                    QFAIL(qPrintable(QStringLiteral("%1 in %2 -> %3 -> %4")
                                         .arg(date.toString(Qt::ISODate), QString::fromLatin1(id),
                                              text, back.toUTC().toString(Qt::ISODate))));
                ++checked;
            }
            if (id == "Asia/Kolkata")
                Iso8601DateFormatter::clearZoneCache(); // zones are then made anew
        }
        QVERIFY(checked > 2000);
    }
};

QTEST_GUILESS_MAIN(TestIso8601DateFormatter)
#include "tst_iso8601dateformatter.moc"
