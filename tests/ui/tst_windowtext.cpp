#include "windowtext.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QTest>

using namespace tallivo;

class TestWindowText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void numericField_data();
    void numericField();
    void numericFieldFollowsEdits();
    void menuTitles();
};

void TestWindowText::numericField_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("letters") << 30001 << "abc"
                             << "2";
    QTest::newRow("zero") << 30001 << "0"
                          << "2";
    QTest::newRow("zeros") << 30001 << "000"
                           << "2";
    QTest::newRow("trailing letter") << 30001 << "12x"
                                     << "12";
    QTest::newRow("leading letter") << 30001 << "x12"
                                    << "12";
    QTest::newRow("letter inside") << 30001 << "1x2"
                                   << "1x2";
    QTest::newRow("zero then letter inside") << 30001 << "0x5"
                                             << "2";
    QTest::newRow("leading zeros kept") << 30001 << "007"
                                        << "007";
    QTest::newRow("huge number") << 30001 << "99999999999999999999"
                                 << "99999999999999999999";
    QTest::newRow("empty") << 30002 << ""
                           << "1";
    QTest::newRow("other default") << 30002 << " 0 "
                                   << "1";
    QTest::newRow("blanks stripped") << 30002 << " 4 "
                                     << "4";
    QTest::newRow("other tag") << 7 << "abc"
                               << "abc";
}

void TestWindowText::numericField()
{
    QFETCH(int, tag);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(numericFieldText(tag, text), expected);
}

void TestWindowText::numericFieldFollowsEdits()
{
    QLineEdit field;
    watchNumericField(&field, PageCountFieldTag);
    QTest::keyClick(&field, Qt::Key_A);
    QCOMPARE(field.text(), QStringLiteral("2"));
    field.selectAll();
    QTest::keyClicks(&field, QStringLiteral("7b"));
    QCOMPARE(field.text(), QStringLiteral("7"));
    QVERIFY(field.hasFocus() || !field.isVisible());
}

void TestWindowText::menuTitles()
{
    QMenuBar bar;
    QMenu *app = bar.addMenu(QStringLiteral("File"));
    QAction *quit = app->addAction(QStringLiteral("Quit Tallivo"));
    QAction *middle = app->addAction(QStringLiteral("About Tallivo Pro"));
    QMenu *window = bar.addMenu(QStringLiteral("&Window"));
    QAction *main = window->addAction(QStringLiteral("Tallivo Main Window"));
    QAction *ending = window->addAction(QStringLiteral("Show Tallivo"));
    QMenu *help = bar.addMenu(QStringLiteral("Help"));
    QAction *site = help->addAction(QStringLiteral("Tallivo Web Site"));

    renameMenuTitles(&bar, QStringLiteral("Tallivo"), QStringLiteral("Tallivo Lite"));
    QCOMPARE(quit->text(), QStringLiteral("Quit Tallivo Lite"));
    QCOMPARE(middle->text(), QStringLiteral("About Tallivo Pro"));
    QCOMPARE(main->text(), QStringLiteral("Tallivo Lite Main Window"));
    QCOMPARE(ending->text(), QStringLiteral("Show Tallivo"));
    QCOMPARE(site->text(), QStringLiteral("Tallivo Lite Web Site"));
}

QTEST_MAIN(TestWindowText)
#include "tst_windowtext.moc"
