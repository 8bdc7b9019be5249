#include "collectionrun.h"
#include "runtoend.h"

#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace tallivo;

namespace {

// Files where our count differs from the reference majority on purpose, with
// the reason. Each of them is still checked against our own count.
struct Deviation
{
    const char *path;
    int ours;
    const char *why;
};
const Deviation deviations[] = {
    {"pdf/pdfjs__bug1980958.pdf", 0,
     "no startxref and a broken body; only one reference tool recovers a page, the PDF reader "
     "finds no document"},
    {"pdf/qpdf__bad-encryption-length.pdf", 0,
     "invalid /Length in the encryption dictionary: the PDF reader cannot decrypt it, so it is "
     "counted like any locked document"},
};

} // namespace

// Lists every file of the shared acceptance corpus the way an import does
// (no type filter) and checks each scored count.
class TestCorpus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void wholeCorpus();
};

void TestCorpus::wholeCorpus()
{
    const QString root = QStringLiteral(TALLIVO_CORPUS_DIR);
    QFile truth(root + QStringLiteral("/truth.tsv"));
    if (!truth.open(QIODevice::ReadOnly))
        QSKIP("the shared corpus is not available here");

    QHash<QString, QString> expected;
    QHash<QString, QString> notes;
    const QList<QByteArray> lines = truth.readAll().split('\n');
    const QList<QByteArray> header = lines.value(0).split('\t');
    const qsizetype expectedColumn = header.indexOf("expected");
    const qsizetype noteColumn = header.indexOf("note");
    QVERIFY(expectedColumn > 0);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].split('\t');
        if (cells.size() <= expectedColumn)
            continue;
        expected.insert(QString::fromUtf8(cells[0]), QString::fromUtf8(cells[expectedColumn]));
        notes.insert(QString::fromUtf8(cells[0]), QString::fromUtf8(cells.value(noteColumn)));
    }
    QVERIFY(expected.size() > 300);

    Arguments args;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        args.urls << QUrl::fromLocalFile(root + QLatin1Char('/') + it.key());

    FileList files;
    CollectionRun run;
    QVERIFY(test::runToEnd(run, files, args, 300000));
    QCOMPARE(files.size(), int(expected.size()));

    QHash<QString, int> deviating;
    for (const Deviation &d : deviations)
        deviating.insert(QString::fromLatin1(d.path), d.ours);

    int scored = 0;
    QStringList wrong;
    for (int i = 0; i < files.size(); ++i) {
        const FileItem &item = *files.at(i);
        const QString relative = item.filePath().toLocalFile().mid(root.size() + 1);
        const QString want = expected.value(relative);
        int wanted = 0;
        if (deviating.contains(relative)) {
            wanted = deviating.value(relative);
        } else if (want == QLatin1String("?")) {
            continue;
        } else {
            bool ok = false;
            wanted = want.toInt(&ok);
            QVERIFY2(ok, qPrintable(relative));
        }
        ++scored;
        if (item.pages() != wanted)
            wrong << QStringLiteral("%1: ours %2, expected %3 (%4)")
                         .arg(relative)
                         .arg(item.pages())
                         .arg(wanted)
                         .arg(notes.value(relative));
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    QVERIFY(scored > 300);
}

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
