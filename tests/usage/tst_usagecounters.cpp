#include "machineid.h"
#include "usagecounters.h"
#include "usagetesting.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimeZone>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tallivo;
using namespace tallivo::test;

namespace {

const QString outputFiles = QString::fromLatin1(OutputFilesFeature);
using LoadResult = UsageCounters::LoadResult;

QByteArray logWith(const QByteArray &inner)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><usagesreporting>" + inner +
           "</usagesreporting>";
}

// What a file descriptor received while it was pointed at a temporary file.
class CapturedOutput
{
public:
    explicit CapturedOutput(int fd)
        : m_fd(fd)
        , m_saved(::dup(fd))
    {
        m_file.open();
        ::fflush(nullptr);
        ::dup2(m_file.handle(), fd);
    }
    ~CapturedOutput() { restore(); }
    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        ::fflush(nullptr);
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_fd;
    int m_saved;
};

} // namespace

class TestUsageCounters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The file's dates below are written in UTC.
        qputenv("TZ", "UTC");
        ::tzset();
    }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void countsAccumulateAcrossRestarts()
    {
        auto first = open();
        QVERIFY(readFile(logPath()).contains("<nextReviewTargetValue>0</nextReviewTargetValue>"));
        first->updateUsages(outputFiles, 250);
        first->updateUsages(outputFiles, 260);
        first->updateUsages(QStringLiteral("output files"), 5); // names are case-sensitive
        first.reset();

        auto again = open();
        QCOMPARE(featuresOf(*again), QStringLiteral("Output Files:2:510,output files:1:5"));
        QCOMPARE(again->totalFileCount(), 515);
        // Counters stop at the 32-bit limit instead of wrapping to negative.
        again->updateUsages(QStringLiteral("output files"), std::numeric_limits<qint32>::max());
        QCOMPARE(again->state().features.at(1).filesCount, std::numeric_limits<qint32>::max());
    }

    void fileLayoutSurvivesARestart()
    {
        const QDateTime sent(QDate(2013, 5, 14), QTime(9, 50, 31, 123), QTimeZone::utc());
        {
            auto counters = open();
            UsagesLogState &state = counters->state();
            state.features = {{QStringLiteral("a<b&c"), 3, 4}};
            state.reportingEnabled = true;
            state.buildDate = QDateTime();
            state.lastReportSent = sent;
            state.lastReviewPrompt = sent.addDays(-3);
            state.nextReviewTarget = 2000;
            QVERIFY(counters->save());
        }
        const QByteArray expected =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<!--" TALLIVO_DISPLAY_NAME " " TALLIVO_VERSION " Usages Reporting File-->\n"
            "<usagesreporting xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><productname>" TALLIVO_DISPLAY_NAME
            "</productname><productversion>" TALLIVO_VERSION
            "</productversion><builddate></builddate><hardwareUUID>" +
            machineId().toUtf8() +
            "</hardwareUUID><enabled>true</enabled>"
            "<lastreportsenton>2013-05-14T09:50:31.123000Z</lastreportsenton>"
            "<lastReviewAskDate>2013-05-11T09:50:31.123000Z</lastReviewAskDate>"
            "<neverAskForReview>false</neverAskForReview>"
            "<nextReviewTargetValue>2000</nextReviewTargetValue><features><featureusages>"
            "<name>a&lt;b&amp;c</name><usagescount>3</usagescount><filescount>4</filescount>"
            "</featureusages></features></usagesreporting>\n";
        QCOMPARE(readFile(logPath()), expected);

        auto counters = open();
        QCOMPARE(counters->state().lastReportSent.toSecsSinceEpoch(), sent.toSecsSinceEpoch());
        QCOMPARE(counters->state().lastReviewPrompt.toSecsSinceEpoch(),
                 sent.addDays(-3).toSecsSinceEpoch());
        QVERIFY(!counters->state().buildDate.isValid());
        QCOMPARE(featuresOf(*counters), QStringLiteral("a<b&c:3:4"));
    }

    void textXmlCannotCarryIsLeftOut_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("ends the comment") << "2.0-->x"
                                          << "2.0-->x";
        QTest::newRow("dashes") << "--2.0---"
                                << "--2.0---";
        QTest::newRow("control characters") << QStringLiteral("2\x01.0\x1f") << "2.0";
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + QLatin1Char('2')
                                        << QString(QChar(0xFFFD)) + QLatin1Char('2');
    }
    void textXmlCannotCarryIsLeftOut()
    {
        QFETCH(QString, version);
        QFETCH(QString, readBack);
        {
            auto counters = open();
            counters->state().version = version;
            counters->state().features = {{QStringLiteral("x"), 1, 7}};
            QVERIFY(counters->save());
        }
        // The next start reads the whole file, counters included.
        auto counters = open();
        QCOMPARE(counters->state().version, readBack);
        QCOMPARE(featuresOf(*counters), QStringLiteral("x:1:7"));
    }

    void loadsTolerantly_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("loaded"); // enabled|target|version read|features
        QTest::newRow("True is not true") << logWith("<enabled>True</enabled>") << "false|0||";
        QTest::newRow("last node wins")
            << logWith("<productversion>1.0</productversion><productversion>1.5</productversion>"
                       "<nextReviewTargetValue>10</nextReviewTargetValue>"
                       "<nextReviewTargetValue>20</nextReviewTargetValue>"
                       "<hardwareUUID>SOMEONE-ELSE</hardwareUUID>")
            << "false|20|1.5|";
        QTest::newRow("beyond 32 bits")
            << logWith("<nextReviewTargetValue>99999999999</nextReviewTargetValue>")
            << "false|2147483647||";
        QTest::newRow("features missing parts")
            << logWith("<features><featureusages><usagescount>2</usagescount><filescount>7"
                       "</filescount></featureusages><featureusages><name>x</name>"
                       "</featureusages></features>")
            << "false|0||:2:7,x:0:0";
        QTest::newRow("broken markup is repaired")
            << QByteArray("<usagesreporting><productversion>1.5</productversion><enabled>true"
                          "</enabled><features><featureusages><name>x</name><filescount>3")
            << "true|0|1.5|x:0:3";
        QTest::newRow("not xml at all") << QByteArray("\x01\x02garbage") << "false|0||";
        QTest::newRow("wrong root")
            << QByteArray("<other><enabled>true</enabled></other>") << "false|0||";
        const QByteArray doctype = "<?xml version=\"1.0\"?><!DOCTYPE usagesreporting ";
        // A hand-edited file may name its values.
        QTest::newRow("internal entity")
            << doctype + "[<!ENTITY v \"1.5\"><!ENTITY w \"&v;-beta\">]><usagesreporting>"
                         "<productversion>&w;</productversion>"
                         "<features><featureusages><name>&v;</name></featureusages></features>"
                         "</usagesreporting>"
            << "false|0|1.5-beta|1.5:0:0";
        QTest::newRow("undefined entity")
            << logWith("<productname>&nosuch;</productname><enabled>true</enabled>") << "true|0||";
        QTest::newRow("entities expanding out of proportion")
            << doctype + "[<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
                         "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                         "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                         "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                         "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                         "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
                         "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>"
                         "<usagesreporting><productname>&g;</productname>"
                         "<enabled>true</enabled></usagesreporting>"
            << "false|0||"; // libxml2 gives up on such a document
        // Nothing may come from another file.
        const QByteArray secret = "<usagesreporting><productname>&secret;</productname>";
        QTest::newRow("external entity")
            << doctype + "[<!ENTITY secret SYSTEM \"file://SECRET\">]>" + secret << "false|0||";
        QTest::newRow("parameter entity")
            << doctype + "[<!ENTITY % ext SYSTEM \"file://DTD\"> %ext;]>" + secret << "false|0||";
        QTest::newRow("external subset")
            << doctype + "SYSTEM \"file://DTD\">" + secret << "false|0||";
        QTest::newRow("xinclude")
            << QByteArray("<usagesreporting xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
                          "<productname><xi:include href=\"file://SECRET\" parse=\"text\"/>"
                          "</productname></usagesreporting>")
            << "false|0||";
    }
    void loadsTolerantly()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, loaded);
        const QString secretPath = m_dir->filePath(QStringLiteral("secret.txt"));
        const QString dtdPath = m_dir->filePath(QStringLiteral("evil.dtd"));
        QVERIFY(writeFile(secretPath, "TOPSECRET"));
        QVERIFY(writeFile(dtdPath, "<!ENTITY secret \"TOPSECRET\">"));
        xml.replace("file://SECRET", QUrl::fromLocalFile(secretPath).toEncoded());
        xml.replace("file://DTD", QUrl::fromLocalFile(dtdPath).toEncoded());
        QVERIFY(writeLog(xml));

        auto counters = open();
        const QString version = counters->state().version;
        QCOMPARE(QStringLiteral("%1|%2|%3|%4")
                     .arg(counters->state().reportingEnabled ? "true" : "false")
                     .arg(counters->state().nextReviewTarget)
                     .arg(version == QStringLiteral(TALLIVO_VERSION) ? QString() : version,
                          featuresOf(*counters)),
                 loaded);
        QVERIFY(!counters->state().productName.contains(QStringLiteral("TOPSECRET")));
        QVERIFY(counters->state().productName.size() < 1000);

        // Saving keeps an older version but always writes this machine's identifier.
        QVERIFY(counters->save());
        const QByteArray saved = readFile(logPath());
        QVERIFY(saved.contains("<productversion>" + version.toUtf8() + '<'));
        QVERIFY(saved.contains("<hardwareUUID>" + machineId().toUtf8() + '<'));
        QVERIFY(!saved.contains("TOPSECRET"));
    }

    void libxmlPrintsNothing_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::newRow("bytes that are not utf-8") << logWith("<productname>\xff\xfe</productname>");
        QTest::newRow("unknown encoding")
            << QByteArray("<?xml version=\"1.0\" encoding=\"x-no-such\"?><usagesreporting/>");
        QTest::newRow("broken markup") << QByteArray("<usagesreporting><a></b>&undefined;");
    }
    void libxmlPrintsNothing()
    {
        QFETCH(QByteArray, xml);
        QVERIFY(writeLog(xml));
        CapturedOutput stderrOutput(STDERR_FILENO);
        auto counters = open();
        QVERIFY(counters->save());
        QCOMPARE(stderrOutput.text(), QByteArray());
    }

    void onlyARegularFileOfSaneSizeIsRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<LoadResult>("result");
        QTest::newRow("fifo") << "fifo" << LoadResult::Refused;
        QTest::newRow("link to a fifo") << "link to fifo" << LoadResult::Refused;
        QTest::newRow("folder") << "folder" << LoadResult::Refused;
        QTest::newRow("one byte over 8 MiB") << "huge" << LoadResult::Refused;
        QTest::newRow("exactly 8 MiB") << "largest" << LoadResult::Loaded;
        QTest::newRow("device") << "device" << LoadResult::Refused;
    }
    void onlyARegularFileOfSaneSizeIsRead()
    {
        QFETCH(QString, kind);
        QFETCH(LoadResult, result);
        QVERIFY(QDir().mkpath(folder()));
        const QByteArray path = QFile::encodeName(logPath());
        if (kind == u"fifo") {
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        } else if (kind == u"link to fifo") {
            const QByteArray fifo = QFile::encodeName(m_dir->filePath(QStringLiteral("fifo")));
            QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
            QCOMPARE(::symlink(fifo.constData(), path.constData()), 0);
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkpath(logPath()));
        } else if (kind == u"device") {
            QCOMPARE(::symlink("/dev/zero", path.constData()), 0);
        } else {
            // A real document, padded with spaces to the size.
            QByteArray xml = logWith("<enabled>true</enabled>");
            const qint64 size = MaxUsagesLogSize + (kind == u"huge" ? 1 : 0);
            xml.append(QByteArray(size - xml.size(), ' '));
            QVERIFY(writeFile(logPath(), xml));
        }
        struct stat before;
        QCOMPARE(::lstat(path.constData(), &before), 0);

        UsageCounters counters(folder());
        QCOMPARE(counters.open(), result);
        QCOMPARE(counters.state().reportingEnabled, result == LoadResult::Loaded);
        // Whatever was refused is still there, untouched.
        struct stat after;
        QCOMPARE(::lstat(path.constData(), &after), 0);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_size, before.st_size);
    }

    void leftoversOfKilledSavesAreRemoved()
    {
        QVERIFY(QDir().mkpath(folder()));
        const QStringList leftovers = {QStringLiteral("Usages.Log.AbCdEf"),
                                       QStringLiteral("Usages.Log.qwerty")};
        const QStringList others = {QStringLiteral("Usages.Log.bak"),
                                    QStringLiteral("Usages.Log.AbC1Ef"),
                                    QStringLiteral("Usages.Log.AbCdEfG"), QStringLiteral("notes")};
        for (const QString &name : leftovers + others)
            QVERIFY(writeFile(folder() + u'/' + name, "<?xml"));
        QVERIFY(QDir().mkpath(folder() + QStringLiteral("/Usages.Log.Folder")));
        open();
        QStringList kept = QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        kept.removeOne(QStringLiteral("Usages.Log"));
        QStringList expected = others;
        expected << QStringLiteral("Usages.Log.Folder");
        kept.sort();
        expected.sort();
        QCOMPARE(kept, expected);
    }

    void aFullDiskKeepsTheLastGoodFile()
    {
        auto counters = open();
        counters->updateUsages(outputFiles, 3);
        const QByteArray good = readFile(logPath());
        QVERIFY(good.contains("<filescount>3</filescount>"));

        // A file size limit fails writes past it as a full disk does.
        struct rlimit saved;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved;
        limit.rlim_cur = rlim_t(good.size() / 2);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const bool saved1 = counters->save();
        counters->updateUsages(outputFiles, 4);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!saved1);
        QCOMPARE(readFile(logPath()), good);
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{QStringLiteral("Usages.Log")});
        // The counts are kept in memory and reach the file with the next save.
        QVERIFY(counters->save());
        QCOMPARE(featuresOf(*open()), QStringLiteral("Output Files:2:7"));
    }

    void duplicateFeaturesUpdateTheLast()
    {
        const QByteArray feature = "<featureusages><name>Output Files</name><usagescount>1"
                                   "</usagescount><filescount>10</filescount></featureusages>";
        QVERIFY(writeLog(logWith("<features>" + feature + feature + "</features>")));
        auto counters = open();
        counters->updateUsages(outputFiles, 5);
        QCOMPARE(featuresOf(*counters), QStringLiteral("Output Files:1:10,Output Files:2:15"));
    }

    // Whatever the state holds, a save writes a file the next start reads:
    // up to the limit as it is, past it cut down, "Output Files" kept.
    void savedFileStaysReadable_data()
    {
        QTest::addColumn<int>("over"); // bytes past the limit, written whole
        QTest::newRow("exactly the limit") << 0;
        QTest::newRow("one byte over") << 1;
    }
    void savedFileStaysReadable()
    {
        QFETCH(int, over);
        auto counters = open();
        counters->updateUsages(outputFiles, 7);
        QList<FeatureUsage> &features = counters->state().features;
        for (int i = 0; i < 3900; ++i)
            features.append({QString::number(i) + QString(2000, QLatin1Char('f')), 1, 1});
        // The machine's identifier is written once: it sets the exact size.
        UsagesLogState &state = counters->state();
        state.machineId = QStringLiteral("m");
        const qint64 base = writeUsagesLog(state, QTimeZone::utc()).size();
        QVERIFY(base < MaxUsagesLogSize);
        state.machineId += QString(MaxUsagesLogSize - base + over, QLatin1Char('m'));
        QCOMPARE(writeUsagesLog(state, QTimeZone::utc()).size(), MaxUsagesLogSize + over);

        QVERIFY(counters->save());
        QVERIFY(QFileInfo(logPath()).size() <= MaxUsagesLogSize);
        UsageCounters again(folder());
        QCOMPARE(again.load(), LoadResult::Loaded);
        const QList<FeatureUsage> &loaded = again.state().features;
        QCOMPARE(loaded.size(), over ? MaxSavedFeatures : 3901);
        QCOMPARE(loaded.first(), (FeatureUsage{outputFiles, 1, 7}));
        const QString last = QStringLiteral("3899") + QString(2000, QLatin1Char('f'));
        QCOMPARE(loaded.last().name, over ? last.left(MaxSavedTextLength) : last);
    }

    void saveRecreatesADeletedFolder()
    {
        auto counters = open();
        QVERIFY(QDir(folder()).removeRecursively());
        counters->updateUsages(outputFiles, 3);
        QCOMPARE(open()->totalFileCount(), 3);
    }

private:
    std::unique_ptr<UsageCounters> open()
    {
        auto counters = std::make_unique<UsageCounters>(folder());
        counters->open();
        return counters;
    }
    QString folder() const { return m_dir->filePath(QStringLiteral("Tallivo2")); }
    QString logPath() const { return folder() + QStringLiteral("/Usages.Log"); }
    bool writeLog(const QByteArray &xml)
    {
        return QDir().mkpath(folder()) && writeFile(logPath(), xml);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestUsageCounters)
#include "tst_usagecounters.moc"
