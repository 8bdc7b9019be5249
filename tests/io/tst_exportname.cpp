#include "exportname.h"

#include <QTest>

#include <ctime>

using namespace tallivo;

class TestExportName : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void names_data();
    void names();
};

void TestExportName::initTestCase()
{
    // The name is in local time; a zone off UTC shows the conversion.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
}

void TestExportName::names_data()
{
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("name");
    const auto at = [](int d, int h, int mi) {
        return QDateTime(QDate(2026, 12, d), QTime(h, mi, 18), Qt::UTC);
    };
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    // Kolkata is UTC+5:30.
    QTest::newRow("evening") << at(5, 18, 22) << english << "Export 05-Dec-2026 11-52-18 PM.txt";
    QTest::newRow("morning") << at(5, 3, 33) << english << "Export 05-Dec-2026 09-03-18 AM.txt";
    QTest::newRow("midnight") << at(4, 18, 45) << english << "Export 05-Dec-2026 12-15-18 AM.txt";
    QTest::newRow("locale's month") << at(5, 3, 33) << german
                                    << "Export 05-" + german.monthName(12, QLocale::ShortFormat) +
                                           "-2026 09-03-18 " + german.amText().toUpper() + ".txt";
}

void TestExportName::names()
{
    QFETCH(QDateTime, utc);
    QFETCH(QLocale, locale);
    QFETCH(QString, name);
    QCOMPARE(suggestedExportName(utc, locale), name);
}

QTEST_GUILESS_MAIN(TestExportName)
#include "tst_exportname.moc"
