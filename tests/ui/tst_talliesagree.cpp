// The window and tallivo-count total the same files alike, and the Page
// Summary shows the figures the command line prints: all three read one
// tally.
#include "collectionrun.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "pagereport.h"
#include "pagesummarydialog.h"
#include "pagetally.h"

#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using namespace tallivo;

namespace {

struct CommandLineCount
{
    QStringList out;
    QStringList err;
};

CommandLineCount countWithCommandLine(const QString &folder)
{
    QProcess p;
    // Its messages as written, whatever the machine's language.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TALLIVO_COUNT_BINARY),
            {QStringLiteral("--summary"), QStringLiteral("--subfolders"), QStringLiteral("--quiet"),
             folder});
    if (!p.waitForFinished(-1))
        return {};
    return {QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n')),
            QString::fromUtf8(p.readAllStandardError()).split(QLatin1Char('\n'))};
}

// A table line as the label and its six numbers.
QStringList tableCells(const QString &line)
{
    QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 7)
        return {};
    const QStringList numbers = words.mid(words.size() - 6);
    words.resize(words.size() - 6);
    return QStringList{words.join(QLatin1Char(' '))} + numbers;
}

} // namespace

class TestTalliesAgree : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowCommandLineAndSummaryAgree();
};

void TestTalliesAgree::windowCommandLineAndSummaryAgree()
{
    const QString root = QStringLiteral(TALLIVO_CORPUS_DIR);
    if (!QFileInfo(root).isDir())
        QSKIP("the shared corpus is not available here");

    // The window's way: the run's batches into the table's model, with the
    // page details the Page Summary asks for; and a second reader of the
    // same batches, as a report would be.
    FileTableModel model;
    CollectionRun run;
    run.setPageDetails(PageDetails::Summary);
    PageTally read;
    connect(&run, &CollectionRun::filesCounted, &model,
            [&model](const SharedFileBatch &batch) { model.appendFiles(batch->copies()); });
    connect(&run, &CollectionRun::filesCounted, this, [&read](const SharedFileBatch &batch) {
        for (const auto &item : batch->items)
            read.add(*item);
    });
    QSignalSpy done(&run, &CollectionRun::finished);
    Arguments arguments;
    arguments.isFolders = true;
    arguments.includeSubfolders = true;
    arguments.urls << QUrl::fromLocalFile(root);
    QVERIFY(run.start(arguments));
    QVERIFY(done.wait(540000));
    const PageTally &tally = model.tally();
    QVERIFY(tally.files() > 300);
    QVERIFY(tally.pages().tiffPages > 0 && tally.pages().pdfPages > 0);
    QVERIFY(tally.uncounted() > 0);
    QCOMPARE(tally.withoutDetails(), qint64(0));
    // Every receiver had every file.
    QCOMPARE(read.files(), tally.files());
    QVERIFY(read == tally);

    const CommandLineCount cli = countWithCommandLine(root);
    const auto line = [&cli](const QString &start) -> qsizetype {
        for (qsizetype i = 0; i < cli.out.size(); ++i)
            if (cli.out[i].startsWith(start))
                return i;
        return -1;
    };
    const qsizetype totals = line(QStringLiteral("Total Pages TIFF : "));
    QVERIFY2(totals >= 0, qPrintable(cli.out.join(QLatin1Char('\n'))));
    QCOMPARE(cli.out[totals], QStringLiteral("Total Pages TIFF : %1 PDF : %2")
                                  .arg(tally.pages().tiffPages)
                                  .arg(tally.pages().pdfPages));
    const qsizetype files = line(QStringLiteral("%1 Total file(s)").arg(tally.files()));
    QVERIFY2(files > totals, qPrintable(cli.out.join(QLatin1Char('\n'))));

    // Files not counted: how many, and why, file by file.
    QVERIFY(
        cli.err.contains(QStringLiteral("%1 files could not be counted").arg(tally.uncounted())));
    QHash<QString, qint64> reasons;
    for (const QString &l : cli.err) {
        const qsizetype colon = l.lastIndexOf(QStringLiteral(": "));
        if (l.startsWith(QStringLiteral("tallivo-count: /")) && colon > 0)
            ++reasons[l.mid(colon + 2)];
        else // and no library's complaint reaches the terminal
            QVERIFY2(l.isEmpty() || l.endsWith(QStringLiteral(" could not be counted")),
                     qPrintable(l));
    }
    QHash<QString, qint64> expected;
    for (int s = 1; s <= int(kLastCountStatus); ++s) {
        if (const qint64 n = tally.uncounted(CountStatus(s)))
            expected[countStatusText(CountStatus(s))] += n;
    }
    QCOMPARE(reasons, expected);

    // Pages by size and colour: the command line's table is the window's.
    const QStringList table = cli.out.mid(files + 1);
    QCOMPARE(table.join(QLatin1Char('\n')).trimmed(), pageTableText(tally.table()).trimmed());

    // And the Page Summary shows those figures, row for row.
    test::FakeDialogs dialogs;
    PageSummaryDialog summary(dialogs);
    summary.setTally(tally);
    QVERIFY(summary.table() == tally.table());
    const auto *widget = summary.findChild<QTableWidget *>(QStringLiteral("pageTable"));
    QVERIFY(widget);
    QStringList cliRows;
    for (const QString &l : table.mid(1)) {
        if (!l.trimmed().isEmpty())
            cliRows << tableCells(l).join(QLatin1Char('|'));
    }
    QStringList shown;
    for (int r = 0; r < widget->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < widget->columnCount(); ++c)
            cells << widget->item(r, c)->data(Qt::DisplayRole).toString();
        shown << cells.join(QLatin1Char('|'));
    }
    QCOMPARE(shown, cliRows);
    QVERIFY(shown.size() > 1);
}

QTEST_MAIN(TestTalliesAgree)
#include "tst_talliesagree.moc"
