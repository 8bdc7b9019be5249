#include "collectionrun.h"
#include "exporter.h"
#include "runtoend.h"
#include "samplefiles.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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
    void namesAreBytesAndRowsStayRows();
    void pageListAndSummary();
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
    CollectionRun run;
    QVERIFY(test::runToEnd(run, files, Arguments{{QUrl::fromLocalFile(m_dir.path())}, true, true}));
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
    const Result r = countWith({QStringLiteral("--subfolders"), corpus});
    // Damaged and encrypted files are named, with the reason, and summed up.
    QCOMPARE(r.status, 3);
    const QStringList lines = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    for (const QString &line : lines.mid(0, lines.size() - 1))
        QVERIFY2(line.startsWith(QStringLiteral("tallivo-count: /")), qPrintable(line));
    QCOMPARE(lines.last(), QStringLiteral("%1 files could not be counted").arg(lines.size() - 1));
    QVERIFY(r.out.contains(QStringLiteral("Total Pages TIFF : ")));
    const Result quiet =
        countWith({QStringLiteral("--quiet"), QStringLiteral("--subfolders"), corpus});
    QCOMPARE(quiet.err, lines.last() + QLatin1Char('\n'));
}

void TestCli::namesAreBytesAndRowsStayRows()
{
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    // A folder and files named in Latin-1, as older systems left them, and a
    // name with a tab and a line feed.
    QVERIFY(::mkdir(QByteArray(top + "/Factures_\xe9t\xe9").constData(), 0755) == 0);
    const QString tmp = dir.filePath(QStringLiteral("t.tif"));
    QVERIFY(test::writeTiff(tmp, 2));
    QVERIFY(::rename(QFile::encodeName(tmp).constData(),
                     QByteArray(top + "/Factures_\xe9t\xe9/scan\xe9.tif").constData()) == 0);
    QVERIFY(test::writeTiff(tmp, 3));
    QVERIFY(::rename(QFile::encodeName(tmp).constData(),
                     QByteArray(top + "/Factures_\xe9t\xe9/scan\xe8.tif").constData()) == 0);
    QVERIFY(test::writePdf(tmp, 4));
    QVERIFY(::rename(QFile::encodeName(tmp).constData(),
                     QByteArray(top + "/a\tb\nc.pdf").constData()) == 0);

    QProcess p;
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY),
            {QStringLiteral("--subfolders"), QStringLiteral("--export"),
             dir.filePath(QStringLiteral("out.txt")), dir.path()});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    // Byte order of names: the folder "F..." before "a...".
    QVERIFY(lines.value(0).startsWith("scan\xe8.tif\t3\t"));
    QVERIFY(lines.value(1).startsWith("scan\xe9.tif\t2\t"));
    QVERIFY(lines.value(1).endsWith('\t' + top + "/Factures_\xe9t\xe9"));
    QCOMPARE(lines.value(2), "a\\tb\\nc.pdf\t4\t" + FileItem::sizeText(4096).toUtf8() + '\t' + top);
    QCOMPARE(lines.value(3), "Total Pages TIFF : 5 PDF : 4");

    QFile exported(dir.filePath(QStringLiteral("out.txt")));
    QVERIFY(exported.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = exported.readAll().split('\n');
    QCOMPARE(rows.size(), 5);
    for (const QByteArray &row : rows.mid(1, 3))
        QCOMPARE(row.count('\t'), 7);
    QVERIFY(rows.value(2).startsWith("scan\xe9.tif\t2\t"));
    // Qt cannot remove names that are not UTF-8.
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()});
}

void TestCli::pageListAndSummary()
{
    QTemporaryDir out;
    const QString pages = out.filePath(QStringLiteral("pages.tsv"));
    const QString exported = out.filePath(QStringLiteral("list.txt"));
    const Result r = countWith({QStringLiteral("--summary"), QStringLiteral("--pages"), pages,
                                QStringLiteral("--export"), exported, m_dir.path()});
    QCOMPARE(r.status, 0);
    // One line per page of the two files (3 + 4), after a header.
    QFile list(pages);
    QVERIFY(list.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = list.readAll().split('\n');
    QCOMPARE(rows.size(), 1 + 7 + 1);
    QVERIFY(rows.first().startsWith("Path\tPage\t"));
    QVERIFY(rows.at(1).startsWith(QFile::encodeName(m_dir.filePath(QStringLiteral("a scan.tif"))) +
                                  "\t1\t"));
    for (const QByteArray &row : rows.mid(1, 7))
        QCOMPARE(row.count('\t'), 6);
    QVERIFY(r.out.contains(QStringLiteral("Total")));
    // The export is the same with or without page details.
    QFile withDetails(exported);
    QVERIFY(withDetails.open(QIODevice::ReadOnly));
    const Result plain = countWith({QStringLiteral("--quiet"), QStringLiteral("--export"),
                                    out.filePath(QStringLiteral("plain.txt")), m_dir.path()});
    QFile withoutDetails(out.filePath(QStringLiteral("plain.txt")));
    QVERIFY(withoutDetails.open(QIODevice::ReadOnly));
    QCOMPARE(withDetails.readAll(), withoutDetails.readAll());
    // A listing that cannot be written is an error.
    const Result bad = countWith({QStringLiteral("--quiet"), QStringLiteral("--pages"),
                                  out.filePath(QStringLiteral("no/such/pages.tsv")), m_dir.path()});
    QCOMPARE(bad.status, 1);
    QVERIFY(bad.err.contains(QStringLiteral("cannot write")));
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
