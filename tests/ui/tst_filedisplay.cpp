#include "filedisplay.h"
#include "fileitem.h"
#include "pagesummary.h"
#include "samplefiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <tuple>

using namespace tallivo;

// What the table shows of a file: its fields, and dates in the user's
// locale and zone.
class TestFileDisplay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void displayFields();
    void pageDetailTexts();
    void datesInTheUsersLocale();
    void datesFollowTheZoneWithoutAskingPerRow();
};

void TestFileDisplay::displayFields()
{
    FileItem item(QUrl::fromLocalFile(QStringLiteral("/nowhere/scan.TIF")), 7, 1500);
    item.setChecked(false);
    const QList<std::pair<Column, QVariant>> cases = {
        {Column::Pages, 7},     {Column::Size, "2 KB"},         {Column::Type, "TIF"},
        {Column::Check, false}, {Column::Location, "/nowhere"}, {Column::Name, "scan.TIF"},
        {Column::Modified, ""} /* the file is not there */};
    for (const auto &[column, value] : cases)
        QCOMPARE(displayField(item, column), value);
}

void TestFileDisplay::pageDetailTexts()
{
    const auto page = [](float w, float h, ColourClass c) { return PageInfo{w, h, c}; };
    std::vector<PageInfo> list(10, page(210, 297, ColourClass::BlackWhite));
    list.push_back(page(297, 420, ColourClass::Grey));
    list.push_back(page(421, 298, ColourClass::Colour)); // A3 landscape, scanned large
    list.push_back(page(297.5f, 210.5f, ColourClass::Colour));
    list.push_back(page(220, 300, ColourClass::BlackWhite));
    const PageSummary s = PageSummary::fromPages(list, 14);
    QCOMPARE(sizesText(s), QStringLiteral("A4 x 11, A3 x 2, other 220 x 300 mm x 1"));
    QCOMPARE(colourText(s), QStringLiteral("B/W 11, Grey 1, Colour 2"));
    QCOMPARE(a4EquivalentsText(s), QStringLiteral("17"));
    // Details stop at a cap, or are missing for a file counted without them.
    const PageSummary unknown =
        PageSummary::fromPages(std::vector<PageInfo>(3, page(0, 0, ColourClass::Grey)), 5);
    QCOMPARE(sizesText(unknown), QStringLiteral("unknown size x 5"));
    QCOMPARE(colourText(unknown), QStringLiteral("Grey 3, Unknown 2"));
    const PageSummary none;
    QCOMPARE(sizesText(none), QString());
    QCOMPARE(colourText(none), QString());
    QCOMPARE(a4EquivalentsText(none), QString());
}

void TestFileDisplay::datesInTheUsersLocale()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("three.tif"));
    QVERIFY(test::writeTiff(path, 3));
    auto item = FileItem::create(QUrl::fromLocalFile(path));
    QVERIFY(item);
    const QDateTime modified = QFileInfo(path).lastModified();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QDateTime evening(QDate(2013, 3, 5), QTime(21, 7));
    QCOMPARE(displayDate(evening), QStringLiteral("05-Mar-2013 9:07 PM"));
    QCOMPARE(displayDate(evening.addSecs(-12 * 3600)), QStringLiteral("05-Mar-2013 9:07 AM"));
    QCOMPARE(displayField(*item, Column::Modified).toString(), displayDate(modified));
}

// The zone is looked up once, not for every date, yet a changed TZ is
// followed, and the text is the one a QDateTime in local time gives.
void TestFileDisplay::datesFollowTheZoneWithoutAskingPerRow()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QByteArray saved = qgetenv("TZ");
    const qint64 winter = QDateTime(QDate(2013, 1, 5), QTime(21, 7), Qt::UTC).toMSecsSinceEpoch();
    const qint64 summer = QDateTime(QDate(2013, 7, 5), QTime(3, 59), Qt::UTC).toMSecsSinceEpoch();
    FileItem item(QUrl::fromLocalFile(QStringLiteral("/a/b.tif")), 1, 1);
    item.setFileTimes(winter, summer, std::nullopt);
    const QList<std::tuple<QByteArray, QString, QString>> zones = {
        {"Asia/Kolkata", "06-Jan-2013 2:37 AM", "05-Jul-2013 9:29 AM"},
        {"America/New_York", "05-Jan-2013 4:07 PM", "04-Jul-2013 11:59 PM"},
        {"UTC", "05-Jan-2013 9:07 PM", "05-Jul-2013 3:59 AM"},
    };
    for (const auto &[zone, modified, created] : zones) {
        qputenv("TZ", zone);
        tzset();
        QCOMPARE(displayField(item, Column::Modified).toString(), modified);
        QCOMPARE(displayField(item, Column::Created).toString(), created);
        QCOMPARE(displayDate(QDateTime::fromMSecsSinceEpoch(winter)), modified);
        QCOMPARE(displayField(item, Column::Accessed).toString(), QString());
    }
    if (saved.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", saved);
    tzset();
}

QTEST_GUILESS_MAIN(TestFileDisplay)
#include "tst_filedisplay.moc"
