#include "billingprint.h"
#include "billingreport.h"
#include "billingwriters.h"
#include "savefile.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

using namespace tallivo;

namespace {

PriceList shopPrices()
{
    const auto list = PriceList::parse("Size\tColour\tUnit\tPrice\n"
                                       "A4\tB/W\tpage\t0.045\n"
                                       "A4\t*\tpage\t0.125\n"
                                       "A3\t*\tA4 eq.\t0.3333\n"
                                       "other\t*\tpage\t0.005\n"
                                       "Letter\t*\tjob\t9\n" // no Letter page: never charged
                                       "*\t*\tjob\t2.50\n");
    Q_ASSERT(list);
    return *list;
}

// Job a: A4 B/W 10 x 0.045 = 0.45; A4 colour 3 x 0.125 = 0.375 -> 0.38; A3
// colour 4 A4 eq. x 0.3333 = 1.3332 -> 1.33; one grey page of unknown size
// unpriced; the fee 2.50: 4.66. Job b: 5 x 0.005 = 0.025 -> 0.03 and the
// fee: 2.53. Job c: a file not counted, no pages, no fee. In all 7.19.
BillingTally shopTally()
{
    const QByteArray a = "/jobs/a,\"quoted\"", b = "/jobs/b \xff\x01", c = "/jobs/c";
    BillingTally tally;
    tally.addFile(b, {});
    tally.addPages(b, SizeClass::other(200, 300), ColourClass::BlackWhite, 5, 5);
    tally.addFile(a, {});
    tally.addPages(a, SizeClass::named(SizeClass::A3), ColourClass::Colour, 2, 4);
    tally.addPages(a, SizeClass::named(SizeClass::A4), ColourClass::BlackWhite, 4, 4);
    tally.addFile(a, {});
    tally.addPages(a, SizeClass::named(SizeClass::A4), ColourClass::BlackWhite, 6, 6);
    tally.addPages(a, SizeClass::named(SizeClass::A4), ColourClass::Colour, 3, 3);
    tally.addPages(a, SizeClass(), ColourClass::Grey, 1, 1);
    tally.addUncounted(c, "/jobs/c/bad.pdf", QStringLiteral("damaged"));
    return tally;
}

const QByteArray expectedCsv = "Job,Size,Colour,Pages,A4 eq.,Unit,Unit price,Amount,Note,File\r\n"
                               "\"/jobs/a,\"\"quoted\"\"\",A3,Colour,2,4,A4 eq.,0.3333,1.33,,\r\n"
                               "\"/jobs/a,\"\"quoted\"\"\",A4,B/W,10,10,page,0.045,0.45,,\r\n"
                               "\"/jobs/a,\"\"quoted\"\"\",A4,Colour,3,3,page,0.125,0.38,,\r\n"
                               "\"/jobs/a,\"\"quoted\"\"\",unknown size,Grey,1,1,,,,unpriced,\r\n"
                               "\"/jobs/a,\"\"quoted\"\"\",*,*,,,job,2.50,2.50,job fee,\r\n"
                               "\"/jobs/a,\"\"quoted\"\"\",Total,,16,18,,,4.66,1 page unpriced,\r\n"
                               "/jobs/b \xff\x01,other 200 x 300 mm,B/W,5,5,page,0.005,0.03,,\r\n"
                               "/jobs/b \xff\x01,*,*,,,job,2.50,2.50,job fee,\r\n"
                               "/jobs/b \xff\x01,Total,,5,5,,,2.53,,\r\n"
                               "/jobs/c,,,,,,,,not counted: damaged,/jobs/c/bad.pdf\r\n"
                               "/jobs/c,Total,,0,0,,,0.00,1 file not counted,\r\n"
                               "Total,,,21,23,,,7.19,1 page unpriced; 1 file not counted,\r\n";

QByteArray run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

} // namespace

class TestBillingReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void jobKeys_data();
    void jobKeys();
    void jobsOfAddedFolders_data();
    void jobsOfAddedFolders();
    void roundsHalfAwayFromZero_data();
    void roundsHalfAwayFromZero();
    void billsEachJob();
    void billsListedFilesInAnyOrder();
    void writesCsv();
    void writesXlsx();
    void writesPdf_data();
    void writesPdf();
    void savesByExtension_data();
    void savesByExtension();
};

void TestBillingReport::initTestCase()
{
    // Files for other programs must not follow the locale.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestBillingReport::jobKeys_data()
{
    QTest::addColumn<QByteArray>("root");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("perSubfolder");
    QTest::addColumn<QByteArray>("job");
    QTest::newRow("root's file") << QByteArray("/a") << QByteArray("/a/x.pdf") << false
                                 << QByteArray("/a");
    QTest::newRow("deep file, one job")
        << QByteArray("/a") << QByteArray("/a/s/t/x.pdf") << false << QByteArray("/a");
    QTest::newRow("root's file, per subfolder")
        << QByteArray("/a") << QByteArray("/a/x.pdf") << true << QByteArray("/a");
    QTest::newRow("subfolder's file")
        << QByteArray("/a") << QByteArray("/a/s/x.pdf") << true << QByteArray("/a/s");
    QTest::newRow("deeper file, its subfolder")
        << QByteArray("/a") << QByteArray("/a/s/t/x.pdf") << true << QByteArray("/a/s");
    QTest::newRow("added by itself")
        << QByteArray() << QByteArray("/b/c/x.pdf") << true << QByteArray("/b/c");
    QTest::newRow("beside the root, not in it")
        << QByteArray("/a") << QByteArray("/ab/x.pdf") << false << QByteArray("/ab");
    QTest::newRow("root /") << QByteArray("/") << QByteArray("/s/t/x.pdf") << true
                            << QByteArray("/s");
    QTest::newRow("file of /") << QByteArray("/") << QByteArray("/x.pdf") << true
                               << QByteArray("/");
    QTest::newRow("bytes of a name")
        << QByteArray("/a") << QByteArray("/a/\xff\n,/x.pdf") << true << QByteArray("/a/\xff\n,");
}

void TestBillingReport::jobKeys()
{
    QFETCH(QByteArray, root);
    QFETCH(QByteArray, file);
    QFETCH(bool, perSubfolder);
    QFETCH(QByteArray, job);
    QCOMPARE(jobKey(root, file, perSubfolder), job);
}

void TestBillingReport::jobsOfAddedFolders_data()
{
    QTest::addColumn<bool>("perSubfolder");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("job");
    QTest::newRow("deep in an added folder")
        << false << QByteArray("/srv/a/x/y/f.pdf") << QByteArray("/srv/a");
    QTest::newRow("its subfolder")
        << true << QByteArray("/srv/a/x/y/f.pdf") << QByteArray("/srv/a/x");
    QTest::newRow("the innermost added folder")
        << true << QByteArray("/srv/a/x/inner/deep/f.pdf") << QByteArray("/srv/a/x/inner/deep");
    QTest::newRow("added with a trailing slash")
        << true << QByteArray("/srv/b/s/f.pdf") << QByteArray("/srv/b/s");
    QTest::newRow("added by itself")
        << true << QByteArray("/home/u/scans/f.pdf") << QByteArray("/home/u/scans");
    QTest::newRow("the root folder added") << true << QByteArray("/f.pdf") << QByteArray("/");
}

void TestBillingReport::jobsOfAddedFolders()
{
    QFETCH(bool, perSubfolder);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, job);
    const JobFolders folders({"/srv/a", "/srv/a/x/inner", "/srv/b/"}, perSubfolder);
    QCOMPARE(folders.jobOf(file), job);
}

void TestBillingReport::roundsHalfAwayFromZero_data()
{
    QTest::addColumn<qint64>("quantity");
    QTest::addColumn<qint64>("price");
    QTest::addColumn<qint64>("cents");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("half a cent up") << qint64(1) << qint64(50) << qint64(1) << QByteArray("0.01");
    QTest::newRow("below half down") << qint64(1) << qint64(49) << qint64(0) << QByteArray("0.00");
    QTest::newRow("3 x 0.125") << qint64(3) << qint64(1250) << qint64(38) << QByteArray("0.38");
    QTest::newRow("7 x 1.2345") << qint64(7) << qint64(12345) << qint64(864) << QByteArray("8.64");
    QTest::newRow("negative half away")
        << qint64(-1) << qint64(50) << qint64(-1) << QByteArray("-0.01");
    QTest::newRow("a billion pages at the dearest")
        << qint64(1000000000) << kMaxPrice << qint64(100000000000000000)
        << QByteArray("1000000000000000.00");
}

void TestBillingReport::roundsHalfAwayFromZero()
{
    QFETCH(qint64, quantity);
    QFETCH(qint64, price);
    QFETCH(qint64, cents);
    QFETCH(QByteArray, text);
    QCOMPARE(amountOf(quantity, price), cents);
    QCOMPARE(amountText(cents), text);
}

void TestBillingReport::billsEachJob()
{
    const BillingReport report = makeBillingReport(shopTally(), shopPrices());
    QCOMPARE(report.jobs.size(), size_t(3));
    QCOMPARE(report.jobs[0].amount, Cents(466));
    QCOMPARE(report.jobs[0].files, qint64(2));
    QCOMPARE(report.jobs[0].unpricedPages, qint64(1));
    QCOMPARE(report.jobs[1].amount, Cents(253));
    QCOMPARE(report.jobs[2].amount, Cents(0));
    QCOMPARE(report.jobs[2].lines.size(), size_t(0));
    QCOMPARE(report.amount, Cents(719));
    QCOMPARE(report.pages, qint64(21));
    QCOMPARE(report.uncountedFiles, qint64(1));

    // Without prices every page is unpriced, never free.
    const BillingReport unpriced = makeBillingReport(shopTally(), PriceList());
    QCOMPARE(unpriced.amount, Cents(0));
    QCOMPARE(unpriced.unpricedPages, qint64(21));
    for (const BillingLine &line : unpriced.jobs[0].lines)
        QVERIFY(!line.isPriced());
}

// Files fed as the window and the counter feed them: the same bill whatever
// their order, and pages whose details were not read billed as of unknown
// size rather than left out.
void TestBillingReport::billsListedFilesInAnyOrder()
{
    const JobFolders jobs({"/jobs"}, true);
    struct File
    {
        QByteArray path;
        CountStatus status;
        qint32 pages;
        PageSummary summary;
    };
    const QList<File> files = {
        {"/jobs/x/b.pdf", CountStatus::Damaged, 0, {}},
        {"/jobs/x/a.pdf", CountStatus::Locked, 0, {}},
        {"/jobs/x/c.pdf", CountStatus::Counted, 1,
         PageSummary::fromPages({{210, 297, ColourClass::BlackWhite}}, 1)},
        {"/jobs/x/d.pdf", CountStatus::Counted, 2, {}},
    };
    QList<QByteArray> csv;
    for (const bool reversed : {false, true}) {
        BillingTally tally;
        for (qsizetype i = 0; i < files.size(); ++i) {
            const File &f = files[reversed ? files.size() - 1 - i : i];
            tally.addListed(jobs, f.path, f.status, f.pages, f.summary);
        }
        const BillingReport report = makeBillingReport(tally, PriceList());
        QCOMPARE(report.jobs.size(), size_t(1));
        const BillingJob &job = report.jobs[0];
        QCOMPARE(job.key, QByteArray("/jobs/x"));
        QCOMPARE(job.files, qint64(4));
        QCOMPARE(job.pages, qint64(3));
        QCOMPARE(job.lines.back().size, QStringLiteral("unknown size"));
        QCOMPARE(job.lines.back().pages, qint64(2));
        QCOMPARE(job.uncounted.size(), size_t(2));
        QCOMPARE(job.uncounted[0].path, QByteArray("/jobs/x/a.pdf"));
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(writeBillingCsv(out, report));
        csv << out.data();
    }
    QCOMPARE(csv[0], csv[1]);
}

void TestBillingReport::writesCsv()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path()) + "/bill.csv";
    QString why;
    QVERIFY2(saveBillingReport(makeBillingReport(shopTally(), shopPrices()), path, &why),
             qPrintable(why));
    QFile f(QFile::decodeName(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), expectedCsv);
}

void TestBillingReport::writesXlsx()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bill.xlsx"));
    QString why;
    QVERIFY2(saveBillingReport(makeBillingReport(shopTally(), shopPrices()),
                               QFile::encodeName(path), &why),
             qPrintable(why));
    const auto part = [&path](const char *name) {
        return run(QStringLiteral("unzip"), {QStringLiteral("-p"), path, QLatin1String(name)});
    };
    const QByteArray jobs = part("xl/worksheets/sheet1.xml");
    const QByteArray lines = part("xl/worksheets/sheet2.xml");
    const QByteArray strings = part("xl/sharedStrings.xml");
    QVERIFY(!jobs.isEmpty() && !lines.isEmpty() && !strings.isEmpty());
    // Amounts are numbers, in a currency format.
    for (const char *amount : {"<v>4.66</v>", "<v>2.53</v>", "<v>7.19</v>"})
        QVERIFY2(jobs.contains(amount), jobs.constData());
    for (const char *amount : {"<v>1.33</v>", "<v>0.45</v>", "<v>0.38</v>", "<v>0.03</v>",
                               "<v>0.3333</v>", "<v>7.19</v>", "<v>21</v>", "<v>23</v>"})
        QVERIFY2(lines.contains(amount), amount);
    QVERIFY(part("xl/styles.xml").contains("numFmtId=\"7\""));
    // The names as people read them: the byte 0xff as its Latin-1 letter,
    // the control character replaced.
    QVERIFY(strings.contains("/jobs/b \xc3\xbf\xef\xbf\xbd"));
    QVERIFY(strings.contains("/jobs/a,&quot;quoted&quot;") ||
            strings.contains("/jobs/a,\"quoted\""));
    QVERIFY(strings.contains("not counted: damaged"));

    // A path longer than a cell holds is cut, not dropped.
    BillingTally tally;
    tally.addUncounted("/long", "/long/" + QByteArray(40000, 'n'), QStringLiteral("damaged"));
    QVERIFY(saveBillingReport(makeBillingReport(tally, shopPrices()), QFile::encodeName(path)));
    QVERIFY(part("xl/sharedStrings.xml").contains("/long/nnnn"));
}

void TestBillingReport::writesPdf_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QByteArray>("paper");
    QTest::addColumn<QByteArray>("total");
    QTest::newRow("C") << QLocale::c() << QByteArray("(A4)") << QByteArray("7.19");
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << QByteArray("(A4)")
                            << QByteArray("7,19");
    QTest::newRow("American") << QLocale(QLocale::English, QLocale::UnitedStates)
                              << QByteArray("(letter)") << QByteArray("7.19");
}

void TestBillingReport::writesPdf()
{
    QFETCH(QLocale, locale);
    QFETCH(QByteArray, paper);
    QFETCH(QByteArray, total);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bill.pdf"));
    BillingReport report = makeBillingReport(shopTally(), shopPrices(),
                                             QStringLiteral("Copy & Print"), QDate(2026, 3, 1));
    QVERIFY(saveFile(QFile::encodeName(path), billingPdf(report, locale)));
    const QByteArray text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    QVERIFY(text.contains("Copy & Print"));
    QVERIFY(text.contains("2026"));
    QVERIFY(text.contains("/jobs/a,\"quoted\""));
    QVERIFY(text.contains("/jobs/c/bad.pdf: damaged"));
    QVERIFY(text.contains("unpriced"));
    QVERIFY2(text.contains(total), text.constData());
    const QByteArray info = run(QStringLiteral("pdfinfo"), {path});
    QVERIFY2(info.contains(paper), info.constData());
}

void TestBillingReport::savesByExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("start"); // empty: refused
    QTest::newRow("csv") << QStringLiteral("r.CSV") << QByteArray("Job,");
    QTest::newRow("xlsx") << QStringLiteral("r.xlsx") << QByteArray("PK");
    QTest::newRow("pdf") << QStringLiteral("r.Pdf") << QByteArray("%PDF");
    QTest::newRow("txt") << QStringLiteral("r.txt") << QByteArray();
    QTest::newRow("a folder") << QStringLiteral("folder.csv") << QByteArray();
}

void TestBillingReport::savesByExtension()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, start);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.csv")));
    const QString path = dir.filePath(name);
    QString why;
    const bool saved = saveBillingReport(makeBillingReport(shopTally(), shopPrices()),
                                         QFile::encodeName(path), &why);
    QCOMPARE(saved, !start.isEmpty());
    if (!saved) {
        QVERIFY(!why.isEmpty());
        return;
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().startsWith(start));
}

QTEST_MAIN(TestBillingReport)
#include "tst_billingreport.moc"
