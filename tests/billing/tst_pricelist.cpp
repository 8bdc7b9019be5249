#include "pricelist.h"
#include "savefile.h"

#include <QTemporaryDir>
#include <QTest>

#include <clocale>

using namespace tallivo;

class TestPriceList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void parsesAndWritesBack();
    void prices_data();
    void prices();
    void refusesBadLists_data();
    void refusesBadLists();
    void pricesTheFirstMatchingRow_data();
    void pricesTheFirstMatchingRow();
    void loadsOnlyBoundedRegularFiles();
};

void TestPriceList::initTestCase()
{
    // The file's numbers are locale-free: a decimal comma must change nothing.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    QLocale::setDefault(QLocale(QLocale::German));
}

void TestPriceList::parsesAndWritesBack()
{
    const QByteArray tsv = "Size\tColour\tUnit\tPrice\r\n"
                           "A4\tB/W\tpage\t0.05\r\n"
                           "\n"
                           "other\t*\tA4 eq.\t1.2345\n"
                           "unknown size\tColour\tpage\t3\n"
                           "*\t*\tjob\t2.50";
    PriceList::Error error;
    const auto list = PriceList::parse(tsv, &error);
    QVERIFY2(list, qPrintable(error.text()));
    const std::vector<PriceList::Row> expected{
        {QStringLiteral("A4"), QStringLiteral("B/W"), PriceUnit::Page, 500},
        {QStringLiteral("other"), QStringLiteral("*"), PriceUnit::A4Equivalent, 12345},
        {QStringLiteral("unknown size"), QStringLiteral("Colour"), PriceUnit::Page, 30000},
        {QStringLiteral("*"), QStringLiteral("*"), PriceUnit::Job, 25000}};
    QCOMPARE(list->rows(), expected);
    QCOMPARE(list->toTsv(), QByteArray("Size\tColour\tUnit\tPrice\n"
                                       "A4\tB/W\tpage\t0.05\n"
                                       "other\t*\tA4 eq.\t1.2345\n"
                                       "unknown size\tColour\tpage\t3.00\n"
                                       "*\t*\tjob\t2.50\n"));
    QCOMPARE(PriceList::parse(list->toTsv()), list);
}

void TestPriceList::prices_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("price"); // -1: refused
    QTest::newRow("whole") << QByteArray("12") << qint64(120000);
    QTest::newRow("four decimals") << QByteArray("0.0001") << qint64(1);
    QTest::newRow("zero") << QByteArray("0") << qint64(0);
    QTest::newRow("largest") << QByteArray("1000000.0000") << qint64(10000000000);
    QTest::newRow("above the largest") << QByteArray("1000000.0001") << qint64(-1);
    QTest::newRow("overflowing") << QByteArray("99999999999999999999999") << qint64(-1);
    QTest::newRow("five decimals") << QByteArray("0.00001") << qint64(-1);
    QTest::newRow("comma") << QByteArray("0,5") << qint64(-1);
    QTest::newRow("no digits after point") << QByteArray("5.") << qint64(-1);
    QTest::newRow("no digits before point") << QByteArray(".5") << qint64(-1);
    QTest::newRow("sign") << QByteArray("+5") << qint64(-1);
    QTest::newRow("space") << QByteArray(" 5") << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
}

void TestPriceList::prices()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, price);
    Money parsed = -7;
    QCOMPARE(parsePrice(text, &parsed), price >= 0);
    QCOMPARE(parsed, price >= 0 ? price : -7);
}

void TestPriceList::refusesBadLists_data()
{
    QTest::addColumn<QByteArray>("tsv");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");
    const QByteArray header = "Size\tColour\tUnit\tPrice\n";
    const QByteArray good = "A4\t*\tpage\t1\n";
    QTest::newRow("empty") << QByteArray() << 1 << QStringLiteral("header");
    QTest::newRow("header in another order")
        << QByteArray("Colour\tSize\tUnit\tPrice\n") << 1 << QStringLiteral("header");
    QTest::newRow("header with commas")
        << QByteArray("Size,Colour,Unit,Price\n") << 1 << QStringLiteral("header");
    QTest::newRow("unknown size") << header + good + "A7\t*\tpage\t1\n"
                                  << 3 << QStringLiteral("unknown size \"A7\"");
    QTest::newRow("size with its sides") << header + "other 200 x 300 mm\t*\tpage\t1\n"
                                         << 2 << QStringLiteral("unknown size");
    QTest::newRow("lower-case size") << header + "a4\t*\tpage\t1\n"
                                     << 2 << QStringLiteral("unknown size");
    QTest::newRow("unknown colour") << header + good + good + "A4\tRed\tpage\t1\n"
                                    << 4 << QStringLiteral("unknown colour \"Red\"");
    QTest::newRow("colour Unknown") << header + "A4\tUnknown\tpage\t1\n"
                                    << 2 << QStringLiteral("unknown colour");
    QTest::newRow("unknown unit") << header + "A4\t*\tsheet\t1\n"
                                  << 2 << QStringLiteral("unknown unit \"sheet\"");
    QTest::newRow("not a number") << header + good + "A4\t*\tpage\tfree\n"
                                  << 3 << QStringLiteral("not a number");
    QTest::newRow("decimal comma") << header + "A4\t*\tpage\t0,05\n"
                                   << 2 << QStringLiteral("not a number");
    QTest::newRow("five decimals") << header + "A4\t*\tpage\t0.00005\n"
                                   << 2 << QStringLiteral("more than 4 decimals");
    QTest::newRow("negative") << header + "A4\t*\tpage\t-0.05\n" << 2 << QStringLiteral("negative");
    QTest::newRow("three fields") << header + "A4\t*\t1\n" << 2 << QStringLiteral("found 3");
    QTest::newRow("five fields") << header + "A4\t*\tpage\t1\t\n" << 2 << QStringLiteral("found 5");
    QTest::newRow("after blank lines") << header + good + "\n\r\nA4\t*\tpage\t\n"
                                       << 5 << QStringLiteral("not a number");
}

void TestPriceList::refusesBadLists()
{
    QFETCH(QByteArray, tsv);
    QFETCH(int, line);
    QFETCH(QString, reason);
    PriceList::Error error;
    QVERIFY(!PriceList::parse(tsv, &error));
    QCOMPARE(error.line, line);
    QVERIFY2(error.message.contains(reason), qPrintable(error.message));
    QVERIFY(error.text().startsWith(QStringLiteral("line %1: ").arg(line)));
}

void TestPriceList::pricesTheFirstMatchingRow_data()
{
    QTest::addColumn<int>("size"); // SizeClass::Named, or -1 for an other size
    QTest::addColumn<int>("colour");
    QTest::addColumn<int>("row"); // index in the list below; -1: unpriced
    const int bw = int(ColourClass::BlackWhite), colour = int(ColourClass::Colour),
              grey = int(ColourClass::Grey), unknown = int(ColourClass::Unknown);
    QTest::newRow("A4 B/W") << int(SizeClass::A4) << bw << 1;
    QTest::newRow("A4 colour") << int(SizeClass::A4) << colour << 2;
    QTest::newRow("A4 unknown colour") << int(SizeClass::A4) << unknown << 2;
    QTest::newRow("A3 grey") << int(SizeClass::A3) << grey << 3;
    QTest::newRow("other colour") << -1 << colour << 4;
    QTest::newRow("other B/W") << -1 << bw << -1;
    QTest::newRow("Letter B/W") << int(SizeClass::Letter) << bw << -1;
    QTest::newRow("unknown size") << int(SizeClass::Unknown) << grey << 5;
}

void TestPriceList::pricesTheFirstMatchingRow()
{
    QFETCH(int, size);
    QFETCH(int, colour);
    QFETCH(int, row);
    const auto list = PriceList::parse("Size\tColour\tUnit\tPrice\n"
                                       "A4\t*\tjob\t9\n" // never prices a page
                                       "A4\tB/W\tpage\t0.05\n"
                                       "A4\t*\tpage\t0.5\n"
                                       "A3\t*\tA4 eq.\t0.04\n"
                                       "other\tColour\tpage\t2\n"
                                       "unknown size\t*\tpage\t1\n"
                                       "A3\tGrey\tpage\t7\n");
    QVERIFY(list);
    const SizeClass sizeClass =
        size < 0 ? SizeClass::other(200, 300) : SizeClass::named(SizeClass::Named(size));
    const auto priced = list->price(sizeClass, ColourClass(colour));
    QCOMPARE(priced.has_value(), row >= 0);
    if (row >= 0)
        QCOMPARE(*priced, list->rows()[size_t(row)]);
}

void TestPriceList::loadsOnlyBoundedRegularFiles()
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray path = folder + "/prices \xff.tsv";
    PriceList list;
    QVERIFY(list.setRows({{QStringLiteral("A4"), QStringLiteral("*"), PriceUnit::Page, 700}}));
    QString why;
    QVERIFY2(list.save(path, &why), qPrintable(why));
    QCOMPARE(PriceList::load(path), list);

    PriceList::Error error;
    QVERIFY(!PriceList::load(folder, &error));
    QVERIFY(error.message.contains(QStringLiteral("regular")));
    QVERIFY(
        saveFile(path, "Size\tColour\tUnit\tPrice\n" + QByteArray(PriceList::kMaxFileSize, '\n')));
    QVERIFY(!PriceList::load(path, &error));
    QVERIFY(error.message.contains(QStringLiteral("larger")));

    QVERIFY(!list.setRows({{QStringLiteral("A4"), QStringLiteral("*"), PriceUnit::Page, 1},
                           {QStringLiteral("A5"), QStringLiteral("Red"), PriceUnit::Page, 1}},
                          &error));
    QCOMPARE(error.line, 2);
    QCOMPARE(list.rows().size(), size_t(1));
}

QTEST_GUILESS_MAIN(TestPriceList)
#include "tst_pricelist.moc"
