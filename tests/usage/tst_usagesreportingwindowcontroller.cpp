#include "reviewwindowcontroller.h"
#include "usagesreportingwindow.h"
#include "usagesreportingwindowcontroller.h"

#include <QAction>
#include <QCheckBox>
#include <QMainWindow>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QXmlStreamReader>

#include <memory>

using namespace tallivo;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Element names in document order, with the text of leaf elements.
QStringList outline(const QByteArray &xml)
{
    QStringList items;
    QXmlStreamReader reader(xml);
    QString pending;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            if (!pending.isEmpty())
                items << pending;
            pending = reader.name().toString();
        } else if (reader.isCharacters() && !pending.isEmpty()) {
            pending += QLatin1Char('=') + reader.text().toString();
        } else if (reader.isEndElement() && !pending.isEmpty()) {
            items << pending;
            pending.clear();
        }
    }
    if (reader.hasError())
        items << QStringLiteral("ERROR ") + reader.errorString();
    return items;
}

QString leaf(const QStringList &items, const QString &name)
{
    QString value;
    for (const QString &item : items)
        if (item == name || item.startsWith(name + QLatin1Char('=')))
            value = item.mid(name.size() + 1);
    return value;
}

QByteArray logWith(const QByteArray &inner)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><usagesreporting>" + inner +
           "</usagesreporting>";
}

} // namespace

class TestUsagesReportingWindowController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();
    void firstStartWritesTheFileTwice();
    void fileLayout();
    void countsAccumulateAcrossRunsAndRestarts();
    void loadsTolerantly_data();
    void loadsTolerantly();
    void duplicateFeaturesUpdateTheLast();
    void neverLoadsExternalContent_data();
    void neverLoadsExternalContent();
    void keepsOlderVersionAndOwnMachineId();
    void datesSurviveARestart();
    void saveRecreatesADeletedFolder();
    void reviewPrompt_data();
    void reviewPrompt();
    void closingThePromptMovesTheTarget_data();
    void closingThePromptMovesTheTarget();
    void rateUsOpensTheReviewPage();
    void windowAppliesOnlyOnApply();
    void toolbarItem();

private:
    std::unique_ptr<UsagesReportingWindowController> make();
    QString logPath() const { return m_dir->filePath(QStringLiteral("Tallivo2/Usages.Log")); }
    QString folder() const { return m_dir->filePath(QStringLiteral("Tallivo2")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<QUrl> m_opened;
};

void TestUsagesReportingWindowController::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_opened.clear();
}

std::unique_ptr<UsagesReportingWindowController> TestUsagesReportingWindowController::make()
{
    auto controller = std::make_unique<UsagesReportingWindowController>(nullptr, folder());
    controller->setUrlOpener([this](const QUrl &url) {
        m_opened << url;
        return true;
    });
    return controller;
}

void TestUsagesReportingWindowController::firstStartWritesTheFileTwice()
{
    auto controller = make();
    QStringList items = outline(readFile(logPath()));
    QCOMPARE(leaf(items, QStringLiteral("nextReviewTargetValue")), QStringLiteral("0"));
    QVERIFY(items.contains(QStringLiteral("features")));
    QVERIFY(!items.contains(QStringLiteral("featureusages")));

    controller->applyStartupSettings();
    items = outline(readFile(logPath()));
    QCOMPARE(leaf(items, QStringLiteral("nextReviewTargetValue")), QStringLiteral("2000"));
    const qsizetype at = items.indexOf(QStringLiteral("featureusages"));
    QVERIFY(at > 0);
    QCOMPARE(items.mid(at),
             (QStringList{QStringLiteral("featureusages"), QStringLiteral("name=Output Files"),
                          QStringLiteral("usagescount=1"), QStringLiteral("filescount=0")}));
    QCOMPARE(controller->reviewURL(), QString::fromLatin1(ReviewPageURL));
    QVERIFY(controller->isReviewEnabled());

    // A second start keeps the loaded target and adds no second feature.
    auto again = make();
    again->applyStartupSettings();
    QCOMPARE(again->nextReviewTargetValue(), 2000);
    QCOMPARE(again->features().size(), 1);
}

void TestUsagesReportingWindowController::fileLayout()
{
    auto controller = make();
    controller->setFeatures({{QStringLiteral("a<b&c"), 3, 4}});
    controller->setIsEnabled(true);
    QVERIFY(controller->save());
    const QByteArray xml = readFile(logPath());
    QVERIFY2(xml.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>"), xml.constData());
    QVERIFY(xml.contains("<!--Tallivo 2.0.0 Usages Reporting File-->"));
    QVERIFY(xml.indexOf("<!--") < xml.indexOf("<usagesreporting"));
    QVERIFY(xml.contains("<usagesreporting xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">"));
    QVERIFY(!xml.contains("\n  <")); // no indentation

    QStringList names;
    for (const QString &item : outline(xml))
        names << item.section(QLatin1Char('='), 0, 0);
    QCOMPARE(names, (QStringList{"usagesreporting", "productname", "productversion", "builddate",
                                 "hardwareUUID", "enabled", "lastreportsenton", "lastReviewAskDate",
                                 "neverAskForReview", "nextReviewTargetValue", "features",
                                 "featureusages", "name", "usagescount", "filescount"}));
    const QStringList items = outline(xml);
    QCOMPARE(leaf(items, QStringLiteral("name")), QStringLiteral("a<b&c"));
    QCOMPARE(leaf(items, QStringLiteral("enabled")), QStringLiteral("true"));
    QCOMPARE(leaf(items, QStringLiteral("hardwareUUID")), CopySerialNumber());
    // "2013-05-14T15:20:31.123000+05:30" style, "Z" under the tests' TZ=UTC.
    QVERIFY(QRegularExpression(
                QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}(Z|[+-]\d\d:\d\d)$)"))
                .match(leaf(items, QStringLiteral("lastreportsenton")))
                .hasMatch());
}

void TestUsagesReportingWindowController::countsAccumulateAcrossRunsAndRestarts()
{
    {
        auto controller = make();
        controller->applyStartupSettings();
        controller->updateUsages(QString::fromLatin1(OutputFilesFeature), 250);
        controller->updateUsages(QString::fromLatin1(OutputFilesFeature), 260);
        controller->updateUsages(QStringLiteral("output files"), 5); // names are case-sensitive
    }
    auto controller = make();
    const QList<FeatureUsages> features = controller->features();
    QCOMPARE(features.size(), 2);
    QCOMPARE(features.at(0).name, QStringLiteral("Output Files"));
    QCOMPARE(features.at(0).usagesCount, 3);
    QCOMPARE(features.at(0).filesCount, 510);
    QCOMPARE(features.at(1).usagesCount, 1);
    QCOMPARE(features.at(1).filesCount, 5);
    QCOMPARE(controller->totalFileCount(), 515);

    // Counters stop at the 32-bit limit instead of wrapping to negative.
    controller->updateUsages(QStringLiteral("output files"), std::numeric_limits<qint32>::max());
    QCOMPARE(controller->features().at(1).filesCount, std::numeric_limits<qint32>::max());
}

void TestUsagesReportingWindowController::loadsTolerantly_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<qint64>("target");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("features");
    QTest::newRow("True is not true")
        << logWith("<enabled>True</enabled>") << false << qint64(0) << "2.0.0"
        << "";
    QTest::newRow("1 is not true")
        << logWith("<enabled>1</enabled>") << false << qint64(0) << "2.0.0"
        << "";
    QTest::newRow("true") << logWith("<enabled>true</enabled>") << true << qint64(0) << "2.0.0"
                          << "";
    QTest::newRow("last node wins")
        << logWith("<productversion>1.0</productversion><productversion>1.5</productversion>"
                   "<nextReviewTargetValue>10</nextReviewTargetValue>"
                   "<nextReviewTargetValue>20</nextReviewTargetValue>")
        << false << qint64(20) << "1.5"
        << "";
    QTest::newRow("leading integer")
        << logWith("<nextReviewTargetValue> 42abc</nextReviewTargetValue>") << false << qint64(42)
        << "2.0.0"
        << "";
    QTest::newRow("no integer") << logWith("<nextReviewTargetValue>abc</nextReviewTargetValue>")
                                << false << qint64(0) << "2.0.0"
                                << "";
    QTest::newRow("beyond 32 bits")
        << logWith("<nextReviewTargetValue>99999999999</nextReviewTargetValue>") << false
        << qint64(2147483647) << "2.0.0"
        << "";
    QTest::newRow("feature without name")
        << logWith("<features><featureusages><usagescount>2</usagescount>"
                   "<filescount>7</filescount></featureusages></features>")
        << false << qint64(0) << "2.0.0"
        << ":2:7";
    QTest::newRow("feature without counts")
        << logWith("<features><featureusages><name>x</name></featureusages></features>") << false
        << qint64(0) << "2.0.0"
        << "x:0:0";
    QTest::newRow("broken markup is repaired")
        << QByteArray("<usagesreporting><productversion>1.5</productversion><enabled>true"
                      "</enabled><features><featureusages><name>x</name><filescount>3")
        << true << qint64(0) << "1.5"
        << "x:0:3";
    QTest::newRow("not xml at all")
        << QByteArray("\x01\x02garbage") << false << qint64(0) << "2.0.0"
        << "";
    QTest::newRow("wrong root") << QByteArray("<other><enabled>true</enabled></other>") << false
                                << qint64(0) << "2.0.0"
                                << "";
}

void TestUsagesReportingWindowController::loadsTolerantly()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, enabled);
    QFETCH(qint64, target);
    QFETCH(QString, version);
    QFETCH(QString, features);
    QVERIFY(QDir().mkpath(folder()));
    QVERIFY(writeFile(logPath(), xml));
    auto controller = make();
    QCOMPARE(controller->isEnabled(), enabled);
    QCOMPARE(controller->nextReviewTargetValue(), target);
    QCOMPARE(controller->version(), version);
    QStringList loaded;
    for (const FeatureUsages &feature : controller->features())
        loaded << QStringLiteral("%1:%2:%3")
                      .arg(feature.name)
                      .arg(feature.usagesCount)
                      .arg(feature.filesCount);
    QCOMPARE(loaded.join(QLatin1Char(',')), features);
}

void TestUsagesReportingWindowController::duplicateFeaturesUpdateTheLast()
{
    QVERIFY(QDir().mkpath(folder()));
    QVERIFY(writeFile(logPath(),
                      logWith("<features><featureusages><name>Output Files</name><usagescount>1"
                              "</usagescount><filescount>10</filescount></featureusages>"
                              "<featureusages><name>Output Files</name><usagescount>2"
                              "</usagescount><filescount>20</filescount></featureusages>"
                              "</features>")));
    auto controller = make();
    controller->updateUsages(QStringLiteral("Output Files"), 5);
    QCOMPARE(controller->features().size(), 2);
    QCOMPARE(controller->features().at(0).filesCount, 10);
    QCOMPARE(controller->features().at(1).usagesCount, 3);
    QCOMPARE(controller->features().at(1).filesCount, 25);
}

void TestUsagesReportingWindowController::neverLoadsExternalContent_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("external entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE usagesreporting ["
                      "<!ENTITY ext SYSTEM \"file://SECRET\">]>"
                      "<usagesreporting><productname>&ext;</productname></usagesreporting>");
    QTest::newRow("parameter entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE usagesreporting ["
                      "<!ENTITY % ext SYSTEM \"file://DTD\"> %ext;]>"
                      "<usagesreporting><productname>&secret;</productname></usagesreporting>");
    QTest::newRow("external subset")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE usagesreporting SYSTEM \"file://DTD\">"
                      "<usagesreporting><productname>&secret;</productname></usagesreporting>");
    QTest::newRow("xinclude") << QByteArray(
        "<usagesreporting xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
        "<productname><xi:include href=\"file://SECRET\" parse=\"text\"/>"
        "</productname></usagesreporting>");
    QTest::newRow("network entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE usagesreporting ["
                      "<!ENTITY ext SYSTEM \"http://127.0.0.1:1/x\">]>"
                      "<usagesreporting><productname>&ext;</productname></usagesreporting>");
}

void TestUsagesReportingWindowController::neverLoadsExternalContent()
{
    QFETCH(QByteArray, xml);
    const QString secretPath = m_dir->filePath(QStringLiteral("secret.txt"));
    const QString dtdPath = m_dir->filePath(QStringLiteral("evil.dtd"));
    QVERIFY(writeFile(secretPath, "TOPSECRET"));
    QVERIFY(writeFile(dtdPath, "<!ENTITY secret \"TOPSECRET\">"));
    xml.replace("file://SECRET", QUrl::fromLocalFile(secretPath).toEncoded());
    xml.replace("file://DTD", QUrl::fromLocalFile(dtdPath).toEncoded());
    QVERIFY(QDir().mkpath(folder()));
    QVERIFY(writeFile(logPath(), xml));

    auto controller = make();
    QVERIFY2(!controller->productName().contains(QStringLiteral("TOPSECRET")),
             qPrintable(controller->productName()));
    controller->save();
    QVERIFY(!readFile(logPath()).contains("TOPSECRET"));
}

void TestUsagesReportingWindowController::keepsOlderVersionAndOwnMachineId()
{
    QVERIFY(QDir().mkpath(folder()));
    QVERIFY(writeFile(logPath(), logWith("<productversion>1.5</productversion>"
                                         "<hardwareUUID>SOMEONE-ELSE</hardwareUUID>")));
    auto controller = make();
    controller->updateUsages(QStringLiteral("Output Files"), 1);
    const QStringList items = outline(readFile(logPath()));
    QCOMPARE(leaf(items, QStringLiteral("productversion")), QStringLiteral("1.5"));
    QCOMPARE(leaf(items, QStringLiteral("hardwareUUID")), CopySerialNumber());
}

void TestUsagesReportingWindowController::datesSurviveARestart()
{
    const QDateTime sent(QDate(2013, 5, 14), QTime(9, 50, 31, 123), QTimeZone::utc());
    {
        auto controller = make();
        controller->setLastReportSentOn(sent);
        controller->setLastReviewAskDate(sent.addDays(-3));
        controller->setBuildDate(QDateTime());
        controller->save();
        QCOMPARE(leaf(outline(readFile(logPath())), QStringLiteral("builddate")), QString());
    }
    auto controller = make();
    QCOMPARE(controller->lastReportSentOn(), sent.addMSecs(-123));
    QCOMPARE(controller->lastReviewAskDate(), sent.addDays(-3).addMSecs(-123));
    QVERIFY(!controller->buildDate().isValid());
}

void TestUsagesReportingWindowController::saveRecreatesADeletedFolder()
{
    auto controller = make();
    QVERIFY(QDir(folder()).removeRecursively());
    controller->updateUsages(QStringLiteral("Output Files"), 3);
    QVERIFY(QFile::exists(logPath()));
    QCOMPARE(make()->totalFileCount(), 3);
}

void TestUsagesReportingWindowController::reviewPrompt_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("never");
    QTest::addColumn<bool>("reviewEnabled");
    QTest::addColumn<bool>("prompt");
    QTest::newRow("below target") << 1999 << 2000 << false << true << false;
    QTest::newRow("at target") << 2000 << 2000 << false << true << true;
    QTest::newRow("past target") << 2600 << 2000 << false << true << true;
    QTest::newRow("nothing counted, no target") << 0 << 0 << false << true << false;
    QTest::newRow("never ask") << 5000 << 2000 << true << true << false;
    QTest::newRow("prompt off") << 5000 << 2000 << false << false << false;
}

void TestUsagesReportingWindowController::reviewPrompt()
{
    QFETCH(int, total);
    QFETCH(int, target);
    QFETCH(bool, never);
    QFETCH(bool, reviewEnabled);
    QFETCH(bool, prompt);
    QVERIFY(QDir().mkpath(folder()));
    QVERIFY(writeFile(logPath(),
                      logWith(QStringLiteral("<neverAskForReview>%1</neverAskForReview>"
                                             "<nextReviewTargetValue>%2</nextReviewTargetValue>"
                                             "<features><featureusages><name>Output Files</name>"
                                             "<usagescount>1</usagescount><filescount>%3"
                                             "</filescount></featureusages></features>")
                                  .arg(never ? "true" : "false")
                                  .arg(target)
                                  .arg(total)
                                  .toUtf8())));
    auto controller = make();
    controller->setIsReviewEnabled(reviewEnabled);
    controller->validate(false);
    const bool shown = controller->reviewPanel() && controller->reviewPanel()->isVisible();
    QCOMPARE(shown, prompt);
}

void TestUsagesReportingWindowController::closingThePromptMovesTheTarget_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("tick");
    QTest::newRow("cancel, box clear") << false << false;
    QTest::newRow("confirm, box ticked") << true << true;
}

void TestUsagesReportingWindowController::closingThePromptMovesTheTarget()
{
    QFETCH(bool, confirm);
    QFETCH(bool, tick);
    auto controller = make();
    controller->applyStartupSettings();
    controller->updateUsages(QString::fromLatin1(OutputFilesFeature), 2600);
    const QDateTime before = controller->lastReviewAskDate();
    controller->validate(false);
    ReviewWindowController *dialog = controller->reviewPanel();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(!dialog->neverAskmeAgainButton()->isChecked());
    dialog->neverAskmeAgainButton()->setChecked(tick);
    if (confirm)
        dialog->reviewOKAction();
    else
        dialog->reviewCancelAction();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(m_opened,
             confirm ? QList<QUrl>{QUrl(QString::fromLatin1(ReviewPageURL))} : QList<QUrl>{});

    auto restarted = make();
    restarted->applyStartupSettings();
    QCOMPARE(restarted->nextReviewTargetValue(), 4600);
    QCOMPARE(restarted->neverAskForReview(), tick);
    QVERIFY(restarted->lastReviewAskDate() >= before.addSecs(-1));
    // Once more files are counted, only an unticked box lets the prompt return.
    restarted->updateUsages(QString::fromLatin1(OutputFilesFeature), 2000);
    restarted->validate(false);
    QCOMPARE(restarted->reviewPanel() != nullptr, !tick);
}

void TestUsagesReportingWindowController::rateUsOpensTheReviewPage()
{
    auto controller = make();
    controller->applyStartupSettings();
    controller->setNeverAskForReview(true);
    controller->rateUs();
    QCOMPARE(m_opened, QList<QUrl>{QUrl(QString::fromLatin1(ReviewPageURL))});
    controller->setReviewURL(QStringLiteral("not a url"));
    controller->rateUs();
    QCOMPARE(m_opened.size(), 1);
}

void TestUsagesReportingWindowController::windowAppliesOnlyOnApply()
{
    QMainWindow main;
    auto controller = std::make_unique<UsagesReportingWindowController>(&main, folder());
    QVERIFY(!controller->window());
    controller->usagesAction();
    UsagesReportingWindow *window = controller->window();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowModality(), Qt::WindowModal);
    QVERIFY(!window->enableUsagesReportingButton()->isChecked());

    window->enableUsagesReportingButton()->setChecked(true);
    controller->cancelAction();
    QVERIFY(!window->isVisible());
    QVERIFY(!controller->isEnabled());
    controller->usagesAction();
    QVERIFY(window->enableUsagesReportingButton()->isChecked());

    controller->applyAction();
    QVERIFY(!window->isVisible());
    QVERIFY(controller->isEnabled());
    QCOMPARE(leaf(outline(readFile(logPath())), QStringLiteral("enabled")), QStringLiteral("true"));
    controller.reset();
}

void TestUsagesReportingWindowController::toolbarItem()
{
    auto controller = make();
    QToolBar toolbar;
    toolbar.addAction(QStringLiteral("Open"));
    toolbar.addAction(QStringLiteral("Same"));
    toolbar.addAction(QStringLiteral("Same"));
    controller->initToolbar(&toolbar, QStringLiteral("Same"));
    QList<QAction *> items = toolbar.actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items.at(2)->objectName(), QStringLiteral("USAGESREPORTING"));
    QCOMPARE(items.at(2)->text(), QStringLiteral("Usages Reporting"));
    QCOMPARE(items.at(2)->toolTip(), QStringLiteral("Usages Reporting"));
    QVERIFY(!items.at(2)->icon().isNull());

    controller->initToolbar(&toolbar, QStringLiteral("Nothing"));
    QCOMPARE(toolbar.actions().size(), 4);

    std::unique_ptr<QAction> bare(controller->toolbarItem(QStringLiteral("OTHER"), nullptr));
    QCOMPARE(bare->objectName(), QStringLiteral("OTHER"));
    QVERIFY(bare->text().isEmpty());
    QVERIFY(bare->icon().isNull());

    items.at(2)->trigger();
    QVERIFY(controller->window() && controller->window()->isVisible());
}

QTEST_MAIN(TestUsagesReportingWindowController)
#include "tst_usagesreportingwindowcontroller.moc"
