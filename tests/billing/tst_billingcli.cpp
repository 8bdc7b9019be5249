#include "samplefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

using tallivo::test::pdfOfSize;
constexpr bool black = false;
constexpr bool red = true;

const QByteArray prices = "Size\tColour\tUnit\tPrice\n"
                          "A4\tB/W\tpage\t0.10\n"
                          "A4\t*\tpage\t0.50\n"
                          "A3\t*\tA4 eq.\t0.25\n"
                          "*\t*\tjob\t1\n";

struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Result count(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The files must not follow the locale; the printed report does.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir::tempPath() + QStringLiteral("/none"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY), args);
    p.waitForFinished(-1);
    Result r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray output(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(-1);
    return p.readAllStandardOutput();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestBillingCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void billsJobs_data();
    void billsJobs();
    void writesEveryFormat_data();
    void writesEveryFormat();
    void refusesBadPriceLists_data();
    void refusesBadPriceLists();
    void refusesBadReportOptions_data();
    void refusesBadReportOptions();

private:
    QTemporaryDir m_dir;
    QString m_root;
};

// root/own.pdf          1 A4 colour page            0.50 + fee 1 = 1.50
// root/jobA/a4.pdf      3 A4 B/W pages              0.30
// root/jobA/a3.pdf      2 A3 colour pages, 4 A4 eq. 1.00 + fee 1 = 2.30
// root/jobB/deep/l.pdf  1 Letter B/W page           unpriced, fee 1 = 1.00
// root/jobB/broken.pdf  not counted
// root/empty/           no files, no job                     in all 4.80
void TestBillingCli::initTestCase()
{
    using tallivo::test::writeBytes;
    QVERIFY(m_dir.isValid());
    m_root = m_dir.filePath(QStringLiteral("root"));
    QDir d(m_dir.path());
    for (const char *folder : {"root/jobA", "root/jobB/deep", "root/empty"})
        QVERIFY(d.mkpath(QLatin1String(folder)));
    QVERIFY(writeBytes(m_root + QStringLiteral("/own.pdf"), pdfOfSize(1, 595, 842, red)));
    QVERIFY(writeBytes(m_root + QStringLiteral("/jobA/a4.pdf"), pdfOfSize(3, 595, 842, black)));
    QVERIFY(writeBytes(m_root + QStringLiteral("/jobA/a3.pdf"), pdfOfSize(2, 842, 1191, red)));
    QVERIFY(writeBytes(m_root + QStringLiteral("/jobB/deep/l.pdf"), pdfOfSize(1, 612, 792, black)));
    QVERIFY(writeBytes(m_root + QStringLiteral("/jobB/broken.pdf"), "%PDF-1.4\nnothing"));
    QVERIFY(writeBytes(m_dir.filePath(QStringLiteral("prices.tsv")), prices));
}

void TestBillingCli::billsJobs_data()
{
    QTest::addColumn<bool>("perSubfolder");
    QTest::addColumn<QByteArray>("expected"); // the CSV, with ROOT for the folder
    QTest::newRow("one job per folder given")
        << false
        << QByteArray("Job,Size,Colour,Pages,A4 eq.,Unit,Unit price,Amount,Note,File\r\n"
                      "ROOT,A3,Colour,2,4,A4 eq.,0.25,1.00,,\r\n"
                      "ROOT,A4,B/W,3,3,page,0.10,0.30,,\r\n"
                      "ROOT,A4,Colour,1,1,page,0.50,0.50,,\r\n"
                      "ROOT,Letter,B/W,1,1,,,,unpriced,\r\n"
                      "ROOT,*,*,,,job,1.00,1.00,job fee,\r\n"
                      "ROOT,,,,,,,,not counted: REASON,ROOT/jobB/broken.pdf\r\n"
                      "ROOT,Total,,7,9,,,2.80,1 page unpriced; 1 file not counted,\r\n"
                      "Total,,,7,9,,,2.80,1 page unpriced; 1 file not counted,\r\n");
    QTest::newRow("a job per subfolder")
        << true
        << QByteArray("Job,Size,Colour,Pages,A4 eq.,Unit,Unit price,Amount,Note,File\r\n"
                      "ROOT,A4,Colour,1,1,page,0.50,0.50,,\r\n"
                      "ROOT,*,*,,,job,1.00,1.00,job fee,\r\n"
                      "ROOT,Total,,1,1,,,1.50,,\r\n"
                      "ROOT/jobA,A3,Colour,2,4,A4 eq.,0.25,1.00,,\r\n"
                      "ROOT/jobA,A4,B/W,3,3,page,0.10,0.30,,\r\n"
                      "ROOT/jobA,*,*,,,job,1.00,1.00,job fee,\r\n"
                      "ROOT/jobA,Total,,5,7,,,2.30,,\r\n"
                      "ROOT/jobB,Letter,B/W,1,1,,,,unpriced,\r\n"
                      "ROOT/jobB,*,*,,,job,1.00,1.00,job fee,\r\n"
                      "ROOT/jobB,,,,,,,,not counted: REASON,ROOT/jobB/broken.pdf\r\n"
                      "ROOT/jobB,Total,,1,1,,,1.00,1 page unpriced; 1 file not counted,\r\n"
                      "Total,,,7,9,,,4.80,1 page unpriced; 1 file not counted,\r\n");
}

void TestBillingCli::billsJobs()
{
    QFETCH(bool, perSubfolder);
    QFETCH(QByteArray, expected);
    const QString report = m_dir.filePath(QStringLiteral("bill.csv"));
    QStringList args{QStringLiteral("--quiet"),  QStringLiteral("--subfolders"),
                     QStringLiteral("--prices"), m_dir.filePath(QStringLiteral("prices.tsv")),
                     QStringLiteral("--report"), report};
    if (perSubfolder)
        args << QStringLiteral("--job-per-subfolder");
    const Result r = count(args << m_root);
    QCOMPARE(r.status, 3); // the broken file
    QByteArray csv = readAll(report);
    // The reason is the counter's; only that there is one matters here.
    const qsizetype at = csv.indexOf("not counted: ") + 13;
    QVERIFY(at > 13);
    csv.replace(at, csv.indexOf(',', at) - at, "REASON");
    QCOMPARE(csv.replace(QFile::encodeName(m_root), "ROOT"), expected);
}

void TestBillingCli::writesEveryFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("csv") << QStringLiteral("bill.csv");
    QTest::newRow("xlsx") << QStringLiteral("bill.xlsx");
    QTest::newRow("pdf") << QStringLiteral("bill.pdf");
}

void TestBillingCli::writesEveryFormat()
{
    QFETCH(QString, name);
    const QString report = m_dir.filePath(name);
    const Result r =
        count({QStringLiteral("--quiet"), QStringLiteral("--subfolders"),
               QStringLiteral("--job-per-subfolder"),
               QStringLiteral("--prices=") + m_dir.filePath(QStringLiteral("prices.tsv")),
               QStringLiteral("--report=") + report, m_root});
    if (r.status == 2 && r.err.contains("only CSV"))
        QSKIP("This build has no report module (QtGui is missing).");
    QCOMPARE(r.status, 3);
    // The job totals and the grand total.
    if (name.endsWith(QLatin1String("csv"))) {
        const QByteArray csv = readAll(report);
        for (const char *total : {",Total,,1,1,,,1.50,", ",Total,,5,7,,,2.30,",
                                  ",Total,,1,1,,,1.00,", "\nTotal,,,7,9,,,4.80,"})
            QVERIFY2(csv.contains(total), total);
    } else if (name.endsWith(QLatin1String("xlsx"))) {
        const QByteArray jobs =
            output(QStringLiteral("unzip"),
                   {QStringLiteral("-p"), report, QStringLiteral("xl/worksheets/sheet1.xml")});
        for (const char *total : {"<v>1.5</v>", "<v>2.3</v>", "<v>1</v>", "<v>4.8</v>"})
            QVERIFY2(jobs.contains(total), jobs.constData());
    } else {
        const QByteArray text = output(QStringLiteral("pdftotext"),
                                       {QStringLiteral("-layout"), report, QStringLiteral("-")});
        // For people: in the German way.
        for (const char *total : {"1,50", "2,30", "1,00", "4,80", "unpriced", "jobA"})
            QVERIFY2(text.contains(total), text.constData());
    }
}

void TestBillingCli::refusesBadPriceLists_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("wrong header") << QByteArray("Size,Colour,Unit,Price\n")
                                  << QByteArray("prices.tsv: line 1: the header");
    QTest::newRow("unknown colour") << prices + "A4\tRed\tpage\t1\n"
                                    << QByteArray("prices.tsv: line 6: unknown colour \"Red\"");
    QTest::newRow("negative price") << prices + "\nA4\t*\tjob\t-1\n"
                                    << QByteArray("prices.tsv: line 7: the price \"-1\" is "
                                                  "negative");
}

void TestBillingCli::refusesBadPriceLists()
{
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, message);
    QTemporaryDir other;
    const QString path = other.filePath(QStringLiteral("prices.tsv"));
    QVERIFY(tallivo::test::writeBytes(path, list));
    const QString report = other.filePath(QStringLiteral("bill.csv"));
    const Result r =
        count({QStringLiteral("--prices"), path, QStringLiteral("--report"), report, m_root});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message), r.err.constData());
    // Refused before anything was counted.
    QVERIFY(!r.out.contains("Total"));
    QVERIFY(!QFile::exists(report));
}

void TestBillingCli::refusesBadReportOptions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("prices without a report")
        << QStringList{QStringLiteral("--prices"), QStringLiteral("p.tsv")} << 2
        << QByteArray("go with --report");
    QTest::newRow("per subfolder without a report")
        << QStringList{QStringLiteral("--job-per-subfolder")} << 2
        << QByteArray("go with --report");
    QTest::newRow("unknown format")
        << QStringList{QStringLiteral("--report"), QStringLiteral("bill.txt")} << 2
        << QByteArray(".csv, .xlsx or .pdf");
    // Counted, then refused: a folder is never replaced.
    QTest::newRow("a folder") << QStringList{QStringLiteral("--report"), QStringLiteral("dir.pdf")}
                              << 1 << QByteArray("cannot write");
}

void TestBillingCli::refusesBadReportOptions()
{
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dir.pdf")));
    for (QString &o : options)
        if (o.contains(QLatin1Char('.')))
            o = dir.filePath(o);
    const Result r = count(options << m_root + QStringLiteral("/jobA"));
    QCOMPARE(r.status, status);
    QVERIFY2(r.err.contains(message), r.err.constData());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("dir.pdf"))).isDir());
}

QTEST_GUILESS_MAIN(TestBillingCli)
#include "tst_billingcli.moc"
