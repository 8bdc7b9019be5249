#include "collectionrun.h"
#include "exporter.h"
#include "nullrunhost.h"
#include "samplefiles.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

namespace {

struct Result
{
    int status;
    QString out;
    QString err;
};

Result countWith(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void listsFilesAndTotals();
    void exportMatchesTheWindowsExport();
    void missingPathCountsTheRest();
    void librariesStayQuietOnDamagedFiles();
    void badOptions_data();
    void badOptions();

private:
    QTemporaryDir m_dir;
};

void TestCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir().mkpath(m_dir.filePath(QStringLiteral("deep/er")));
    QVERIFY(test::writeTiff(m_dir.filePath(QStringLiteral("a scan.tif")), 3));
    QVERIFY(test::writePdf(m_dir.filePath(QStringLiteral("b.PDF")), 4));
    QVERIFY(test::writePdf(m_dir.filePath(QStringLiteral("c.Pdf")), 9)); // not an allowed type
    QVERIFY(test::writeTiff(m_dir.filePath(QStringLiteral("deep/er/d.tiff")), 2));
}

void TestCli::listsFilesAndTotals()
{
    Result r = countWith({m_dir.path()});
    QCOMPARE(r.status, 0);
    QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(QStringLiteral("a scan.tif\t3\t")));
    QVERIFY(lines[0].endsWith(QLatin1Char('\t') + m_dir.path()));
    QVERIFY(lines[1].startsWith(QStringLiteral("b.PDF\t4\t")));
    QCOMPARE(lines[2], QStringLiteral("Total Pages TIFF : 3 PDF : 4"));
    QCOMPARE(lines[3], QStringLiteral("2 Total file(s); 0 file selected; Total page count of "
                                      "selected TIFF file(s) : 0 PDF file(s) : 0"));

    // The same folder twice, and a file inside it: each file is listed once.
    const QString file = m_dir.filePath(QStringLiteral("deep/er/d.tiff"));
    r = countWith({QStringLiteral("--quiet"), QStringLiteral("--subfolders"), m_dir.path(),
                   m_dir.path(), file});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out,
             QStringLiteral("Total Pages TIFF : 5 PDF : 4\n3 Total file(s); 0 file selected; "
                            "Total page count of selected TIFF file(s) : 0 PDF file(s) : 0\n"));
    QVERIFY(r.err.isEmpty()); // no progress when stderr is not a terminal
}

void TestCli::exportMatchesTheWindowsExport()
{
    const QString target = m_dir.filePath(QStringLiteral("out/list.txt"));
    QDir().mkpath(m_dir.filePath(QStringLiteral("out")));
    const Result r = countWith({QStringLiteral("--quiet"), QStringLiteral("--subfolders"),
                                QStringLiteral("--export"), target, m_dir.path()});
    QCOMPARE(r.status, 0);

    FileList files;
    test::NullRunHost host;
    CollectionRun run(files, host);
    QSignalSpy done(&run, &CollectionRun::finished);
    run.loadURLs(Arguments{{QUrl::fromLocalFile(m_dir.path())}, true, true});
    QVERIFY(done.wait(60000));
    QFile written(target);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), exportText(files));
    QCOMPARE(files.size(), 3);

    // An export that cannot be written is an error, not a success.
    const Result bad =
        countWith({QStringLiteral("--quiet"), QStringLiteral("--export"),
                   m_dir.filePath(QStringLiteral("no/such/dir/x.txt")), m_dir.path()});
    QCOMPARE(bad.status, 1);
    QVERIFY(bad.err.contains(QStringLiteral("cannot write")));
}

void TestCli::missingPathCountsTheRest()
{
    const Result r = countWith({QStringLiteral("--quiet"), m_dir.filePath(QStringLiteral("nope")),
                                m_dir.filePath(QStringLiteral("b.PDF"))});
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains(QStringLiteral("nope")));
    QVERIFY(r.out.startsWith(QStringLiteral("Total Pages TIFF : 0 PDF : 4\n1 Total file(s)")));
}

void TestCli::librariesStayQuietOnDamagedFiles()
{
    const QString corpus = QStringLiteral(TALLIVO_CORPUS_DIR);
    if (!QFileInfo::exists(corpus))
        QSKIP("the shared corpus is not available here");
    // Hundreds of broken, fuzzed and encrypted files: not one library
    // complaint may reach the terminal.
    const Result r = countWith({QStringLiteral("--quiet"), QStringLiteral("--subfolders"), corpus});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.err, QString());
    QVERIFY(r.out.contains(QStringLiteral("Total Pages TIFF : ")));
}

void TestCli::badOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no path") << QStringList();
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--frobnicate"), QStringLiteral(".")};
    QTest::newRow("export without file")
        << QStringList{QStringLiteral("."), QStringLiteral("--export")};
}

void TestCli::badOptions()
{
    QFETCH(QStringList, args);
    const Result r = countWith(args);
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("Usage: tallivo-count")));
    QVERIFY(r.out.isEmpty());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
