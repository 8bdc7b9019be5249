#include "appinfo.h"
#include "colourtolerance.h"
#include "fakes.h"
#include "mainwindow.h"
#include "pdfworkers.h"
#include "pricesdialog.h"
#include "pricesmodel.h"
#include "samplefiles.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

namespace {

PriceList::Row row(const char *size, const char *colour, PriceUnit unit, Money price)
{
    return {QString::fromUtf8(size), QString::fromUtf8(colour), unit, price};
}

// The rows as "size/colour/unit/price" texts, in order.
QString rowsText(const std::vector<PriceList::Row> &rows)
{
    QStringList out;
    for (const PriceList::Row &r : rows)
        out << r.size + QLatin1Char('/') + r.colour + QLatin1Char('/') + priceUnitLabel(r.unit) +
                   QLatin1Char('/') + QString::fromLatin1(priceText(r.price));
    return out.join(QLatin1Char(' '));
}

const QByteArray kTsv = "Size\tColour\tUnit\tPrice\n"
                        "A4\tColour\tpage\t0.25\n"
                        "*\tB/W\tA4 eq.\t0.0525\n"
                        "*\t*\tjob\t2.00\n";

} // namespace

class TestPricesDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void rowsAddRemoveMove();
    void cellsTakeOnlyWhatTheListHolds_data();
    void cellsTakeOnlyWhatTheListHolds();
    void priceInput_data();
    void priceInput();
    void settingsRoundTrip();
    void damagedSettingsGiveDefaults();
    void toleranceKeptUnlessChanged();
    void importAndExport();
    void importRefusesABadList();
    void windowKeepsAndAppliesThem();

private:
    QTemporaryDir m_settingsDir;
};

void TestPricesDialog::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QLocale::setDefault(QLocale::c());
}

void TestPricesDialog::rowsAddRemoveMove()
{
    PricesModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setRows(
        {row("A4", "B/W", PriceUnit::Page, 1000), row("A3", "Colour", PriceUnit::Page, 2)});
    // New rows price everything per page at 0, where they are put.
    QCOMPARE(model.insertNewRow(1), 1);
    QCOMPARE(model.insertNewRow(99), 3);
    QCOMPARE(rowsText(model.rows()),
             QStringLiteral("A4/B/W/page/0.10 */*/page/0.00 A3/Colour/page/0.0002 */*/page/0.00"));
    // Moves stop at the ends.
    QVERIFY(model.moveRowBy(2, -1));
    QVERIFY(model.moveRowBy(1, -1));
    QVERIFY(!model.moveRowBy(0, -1));
    QVERIFY(model.moveRowBy(0, 1));
    QVERIFY(!model.moveRowBy(3, 1));
    QCOMPARE(rowsText(model.rows()),
             QStringLiteral("A4/B/W/page/0.10 A3/Colour/page/0.0002 */*/page/0.00 */*/page/0.00"));
    QVERIFY(model.removeRows(2, 2));
    QVERIFY(!model.removeRows(1, 2));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(1, PricesModel::PriceColumn).data().toString(), QStringLiteral("0.0002"));
}

void TestPricesDialog::cellsTakeOnlyWhatTheListHolds_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken");
    QTest::newRow("size A5") << int(PricesModel::SizeColumn) << QStringLiteral("A5") << true;
    QTest::newRow("size A7") << int(PricesModel::SizeColumn) << QStringLiteral("A7") << false;
    QTest::newRow("colour Red") << int(PricesModel::ColourColumn) << QStringLiteral("Red") << false;
    QTest::newRow("unit sheet") << int(PricesModel::UnitColumn) << QStringLiteral("sheet") << false;
    QTest::newRow("price") << int(PricesModel::PriceColumn) << QStringLiteral("3.5") << true;
    QTest::newRow("price word") << int(PricesModel::PriceColumn) << QStringLiteral("free") << false;
}

void TestPricesDialog::cellsTakeOnlyWhatTheListHolds()
{
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(bool, taken);
    PricesModel model;
    model.setRows({row("A4", "B/W", PriceUnit::Page, 1000)});
    const QModelIndex cell = model.index(0, column);
    const QString before = cell.data().toString();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QCOMPARE(model.setData(cell, text), taken);
    QCOMPARE(changed.size(), taken ? 1 : 0);
    QCOMPARE(cell.data().toString(),
             taken ? (column == PricesModel::PriceColumn ? QStringLiteral("3.50") : text) : before);
    // Each offered choice is one the list takes.
    for (const QString &choice : cell.data(PricesModel::ChoicesRole).toStringList())
        QVERIFY2(model.setData(cell, choice), qPrintable(choice));
    PriceList list;
    QVERIFY(list.setRows(model.rows()));
}

void TestPricesDialog::priceInput_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<qint64>("price"); // -1: refused
    QTest::addColumn<QString>("shown");
    const QString c = QStringLiteral("C");
    const QString de = QStringLiteral("de_DE");
    const QString tr = QStringLiteral("tr_TR");
    const QString en = QStringLiteral("en_US");
    QTest::newRow("4 decimals") << QStringLiteral("0.1234") << c << qint64(1234)
                                << QStringLiteral("0.1234");
    QTest::newRow("5 decimals") << QStringLiteral("0.12345") << c << qint64(-1) << QString();
    QTest::newRow("negative") << QStringLiteral("-1") << c << qint64(-1) << QString();
    QTest::newRow("whole") << QStringLiteral(" 12 ") << en << qint64(120000)
                           << QStringLiteral("12.00");
    QTest::newRow("too dear") << QStringLiteral("1000001") << c << qint64(-1) << QString();
    QTest::newRow("other digits") << QStringLiteral("\u0661") << c << qint64(-1) << QString();
    // A German or Turkish decimal comma is a point there; a point there
    // groups thousands, so "1.500" is refused rather than read as 1.5.
    QTest::newRow("comma, de") << QStringLiteral("1,5") << de << qint64(15000)
                               << QStringLiteral("1,50");
    QTest::newRow("comma, tr") << QStringLiteral("0,1234") << tr << qint64(1234)
                               << QStringLiteral("0,1234");
    QTest::newRow("point, de") << QStringLiteral("1.500") << de << qint64(-1) << QString();
    QTest::newRow("grouped, de") << QStringLiteral("1.500,25") << de << qint64(-1) << QString();
    QTest::newRow("comma, en") << QStringLiteral("1,5") << en << qint64(-1) << QString();
}

void TestPricesDialog::priceInput()
{
    QFETCH(QString, text);
    QFETCH(QString, locale);
    QFETCH(qint64, price);
    QFETCH(QString, shown);
    const QLocale l(locale);
    const std::optional<Money> got = PricesModel::parsePriceInput(text, l);
    QCOMPARE(got.value_or(-1), price);
    if (got) {
        QCOMPARE(PricesModel::priceForPeople(*got, l), shown);
        // What is shown is taken back as it is.
        QCOMPARE(PricesModel::parsePriceInput(shown, l), got);
    }
}

void TestPricesDialog::settingsRoundTrip()
{
    // Stored locale-free whatever the session's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString file = m_settingsDir.filePath(QStringLiteral("roundtrip.conf"));
    PriceSettings kept;
    QVERIFY(kept.prices.setRows({row("A4", "Colour", PriceUnit::Page, 2500),
                                 row("other", "*", PriceUnit::A4Equivalent, 1),
                                 row("*", "*", PriceUnit::Job, 20000)}));
    kept.currency = QStringLiteral("€");
    kept.shopName = QStringLiteral("Druckerei Müller\tGmbH");
    kept.colourMinArea = 20.5;
    {
        QSettings settings(file, QSettings::IniFormat);
        kept.save(settings);
    }
    {
        QSettings settings(file, QSettings::IniFormat);
        QCOMPARE(settings.value(QLatin1String(kColourMinAreaKey)).toString(),
                 QStringLiteral("20.5"));
        QCOMPARE(settings.value(QStringLiteral("SHOPNAME")).toString(), kept.shopName);
        QCOMPARE(PriceSettings::load(settings), kept);
    }
    // The default tolerance is not stored; an emptied list goes.
    PriceSettings plain;
    plain.colourMinArea = kDefaultColourMinArea;
    {
        QSettings settings(file, QSettings::IniFormat);
        plain.save(settings);
        QVERIFY(!settings.contains(QLatin1String(kColourMinAreaKey)));
        QVERIFY(!settings.contains(QStringLiteral("PRICES")));
        QCOMPARE(PriceSettings::load(settings).effectiveColourMinArea(), kDefaultColourMinArea);
    }
    QLocale::setDefault(QLocale::c());
}

void TestPricesDialog::damagedSettingsGiveDefaults()
{
    const QString file = m_settingsDir.filePath(QStringLiteral("damaged.conf"));
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(QLatin1String(kColourMinAreaKey), QStringLiteral("1,5"));
    settings.setValue(QStringLiteral("PRICES"), QStringLiteral("Size\tColour\tUnit\tPrice\nA4\t"));
    const PriceSettings loaded = PriceSettings::load(settings);
    QVERIFY(loaded.prices.isEmpty());
    QCOMPARE(loaded.effectiveColourMinArea(), kDefaultColourMinArea);
    settings.setValue(QLatin1String(kColourMinAreaKey), QStringLiteral("500"));
    QCOMPARE(PriceSettings::load(settings).effectiveColourMinArea(), kDefaultColourMinArea);
}

void TestPricesDialog::toleranceKeptUnlessChanged()
{
    // The spin box shows two decimals; the default has more, and stays the
    // default unless a person changes it.
    test::FakeDialogs dialogs;
    PriceSettings loaded;
    PricesDialog dialog(dialogs, loaded);
    auto *spin = dialog.findChild<QDoubleSpinBox *>(QStringLiteral("colourTolerance"));
    QVERIFY(spin);
    QCOMPARE(dialog.settings().colourMinArea, kDefaultColourMinArea);
    spin->setValue(20);
    QCOMPARE(dialog.settings().colourMinArea, 20.0);
    spin->setValue(500);
    QCOMPARE(dialog.settings().colourMinArea, kMaxColourMinArea);
}

void TestPricesDialog::importAndExport()
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("prices in.tsv"));
    const QString out = dir.filePath(QStringLiteral("prices out.tsv"));
    QVERIFY(test::writeBytes(in, kTsv));
    test::FakeDialogs dialogs;
    PricesDialog dialog(dialogs, PriceSettings{});
    QSignalSpy done(&dialog, &PricesDialog::fileDone);
    dialogs.fileAnswers = {{in}, {out}};
    dialog.importList();
    QVERIFY(done.wait());
    QCOMPARE(done.takeFirst().at(0).toBool(), true);
    QCOMPARE(rowsText(dialog.model().rows()),
             QStringLiteral("A4/Colour/page/0.25 */B/W/A4 eq./0.0525 */*/job/2.00"));
    // Edited, moved, and written back as the list now is.
    dialog.model().moveRowBy(2, -2);
    dialog.exportList();
    QVERIFY(done.wait());
    QCOMPARE(done.takeFirst().at(0).toBool(), true);
    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("Size\tColour\tUnit\tPrice\n"
                                           "*\t*\tjob\t2.00\n"
                                           "A4\tColour\tpage\t0.25\n"
                                           "*\tB/W\tA4 eq.\t0.0525\n"));
    QVERIFY(dialogs.messages.isEmpty());
    // A folder cannot be written over: said, and the list stays.
    dialogs.fileAnswers = {{dir.path()}};
    dialog.exportList();
    QVERIFY(done.wait());
    QCOMPARE(done.takeFirst().at(0).toBool(), false);
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialog.model().rowCount(), 3);
}

void TestPricesDialog::importRefusesABadList()
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("bad.tsv"));
    QVERIFY(
        test::writeBytes(in, "Size\tColour\tUnit\tPrice\nA4\tB/W\tpage\t0.1\nA4\tRed\tpage\t1\n"));
    test::FakeDialogs dialogs;
    PriceSettings kept;
    QVERIFY(kept.prices.setRows({row("A3", "*", PriceUnit::Page, 5)}));
    PricesDialog dialog(dialogs, kept);
    QSignalSpy done(&dialog, &PricesDialog::fileDone);
    dialogs.fileAnswers = {{in}};
    dialog.importList();
    QVERIFY(done.wait());
    QCOMPARE(done.takeFirst().at(0).toBool(), false);
    // The line is named; the list as it was stays.
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY2(dialogs.messages.first().informativeText.contains(QStringLiteral("line 3")),
             qPrintable(dialogs.messages.first().informativeText));
    QCOMPARE(rowsText(dialog.model().rows()), QStringLiteral("A3/*/page/0.0005"));
}

void TestPricesDialog::windowKeepsAndAppliesThem()
{
    // Edit > Prices, changed and accepted: kept in the user's settings, and
    // the tolerance applied to the PDF workers; the next window starts with
    // them.
    userSettings().remove(QLatin1String(kColourMinAreaKey));
    auto open = [](MainWindow &window) {
        auto *action = window.findChild<QAction *>(QStringLiteral("actionPrices"));
        action->trigger();
        return window.findChild<PricesDialog *>(QStringLiteral("prices"));
    };
    {
        MainWindow window(std::make_unique<test::FakeDialogs>(),
                          std::make_unique<test::FakeDesktop>());
        QCOMPARE(PdfWorkers::shared().colourMinArea(), kDefaultColourMinArea);
        PricesDialog *dialog = open(window);
        QVERIFY(dialog);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("colourTolerance"))->setValue(12.5);
        dialog->findChild<QLineEdit *>(QStringLiteral("shopName"))->setText(QStringLiteral("Copy"));
        dialog->model().insertNewRow(0);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(PdfWorkers::shared().colourMinArea(), 12.5);
    }
    PdfWorkers::shared().setColourMinArea(kDefaultColourMinArea);
    const PriceSettings kept = PriceSettings::load(userSettings());
    QCOMPARE(kept.colourMinArea, 12.5);
    QCOMPARE(kept.shopName, QStringLiteral("Copy"));
    QCOMPARE(kept.prices.rows().size(), size_t(1));
    {
        MainWindow window(std::make_unique<test::FakeDialogs>(),
                          std::make_unique<test::FakeDesktop>());
        QCOMPARE(PdfWorkers::shared().colourMinArea(), 12.5);
        PricesDialog *dialog = open(window);
        QVERIFY(dialog);
        QCOMPARE(dialog->model().rowCount(), 1);
        // Cancelled: nothing changes.
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("colourTolerance"))->setValue(50);
        dialog->reject();
        QCOMPARE(PriceSettings::load(userSettings()).colourMinArea, 12.5);
    }
    userSettings().remove(QLatin1String(kColourMinAreaKey));
    PdfWorkers::shared().setColourMinArea(kDefaultColourMinArea);
}

QTEST_MAIN(TestPricesDialog)
#include "tst_pricesdialog.moc"
