#include "exporter.h"
#include "exportname.h"
#include "exporttext.h"
#include "filelist.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

using namespace tallivo;

class TestExporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void exportText();
    void exportList();
    void suggestedName();
    void datesOfEveryYear();
    void backgroundExportIsTheListAsChosen();
    void backgroundExportOutlivesItsWindow();

private:
    QTemporaryDir m_dir;
};

static bool writeFile(const QString &path, const QByteArray &data = "x")
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

static QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestExporter::initTestCase()
{
    // A zone far from UTC (+5:30) shows whether dates are converted.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    QVERIFY(m_dir.isValid());
}

void TestExporter::exportText()
{
    const QDateTime modified(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    FileList files;
    for (const QString name : {"b.tif", "gone.tiff", "a.PDF"}) {
        QFile f(m_dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.setFileTime(modified, QFileDevice::FileModificationTime);
        f.setFileTime(modified.addDays(1), QFileDevice::FileAccessTime);
        auto item = std::make_unique<FileItem>(QUrl::fromLocalFile(f.fileName()), 3, 4096);
        if (name != QLatin1String("gone.tiff")) {
            const QDateTime birth = QFileInfo(f.fileName()).birthTime();
            item->setFileTimes(modified.toMSecsSinceEpoch(),
                               birth.isValid() ? std::optional(birth.toMSecsSinceEpoch())
                                               : std::nullopt,
                               modified.addDays(1).toMSecsSinceEpoch());
        }
        QVERIFY(files.append(std::move(item)));
    }
    // Check boxes play no part.
    files.setChecked(0, false);
    files.sort({{SortKey::Name, true}});

    const QString mid = "\t3\t" + FileItem::sizeText(4096) + "\t";
    const QString tail =
        "\t2021-03-04 05:06:07 +0000\t2021-03-05 05:06:07 +0000\tBIRTH\t" + m_dir.path();
    const QStringList expected{
        "Name\tPages\tSize\tType\tModified Date\tAccessed Date\tCreated Date\tLocation",
        "a.PDF" + mid + "PDF" + tail, "b.tif" + mid + "tif" + tail,
        // Times that could not be read.
        "gone.tiff" + mid + "tiff\t(null)\t(null)\t(null)\t" + m_dir.path(), ""};
    // Birth times depend on the file system, so only their form is fixed.
    QString pattern = QRegularExpression::escape(expected.join('\n'));
    pattern.replace("BIRTH", R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000|\(null\)))");
    const QString text = QString::fromUtf8(tallivo::test::exportText(files));
    QVERIFY2(QRegularExpression("^" + pattern + "$").match(text).hasMatch(), qPrintable(text));
}

void TestExporter::exportList()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out.txt");
    FileList files;
    QVERIFY(files.append(FileItem::create(QUrl::fromLocalFile(dir.filePath("a.pdf")))));
    // Replaces a file whole, leaving no temporary file beside it.
    QVERIFY(writeFile(out, "old"));
    QVERIFY(tallivo::test::exportList(files, out));
    QCOMPARE(readAll(out), tallivo::test::exportText(files));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.txt"});

    // A destination that cannot be written is reported (the others are
    // tst_savefile's).
    QString error;
    QVERIFY(!tallivo::test::exportList(files, dir.filePath("missing/out.txt"), &error));
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));

    // Through a symbolic link the file it names is replaced; the link stays.
    QVERIFY(QFile::link(out, dir.filePath("link.txt")));
    QVERIFY(files.append(FileItem::create(QUrl::fromLocalFile(dir.filePath("b.pdf")))));
    QVERIFY(tallivo::test::exportList(files, dir.filePath("link.txt"), &error));
    QVERIFY(QFileInfo(dir.filePath("link.txt")).isSymLink());
    QCOMPARE(readAll(out), tallivo::test::exportText(files));
}

void TestExporter::suggestedName()
{
    // In Kolkata (UTC+5:30) 18:22 UTC is 11:52 PM; 18:45 UTC is past midnight.
    const QDateTime utc(QDate(2026, 12, 4), QTime(18, 45, 18), Qt::UTC);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(suggestedExportName(utc, english), "Export 05-Dec-2026 12-15-18 AM.txt");
    QCOMPARE(suggestedExportName(utc.addSecs(23 * 3600 + 37 * 60), english),
             "Export 05-Dec-2026 11-52-18 PM.txt");
    const QLocale german(QLocale::German, QLocale::Germany);
    QCOMPARE(suggestedExportName(utc.addSecs(8 * 3600 + 48 * 60), german),
             "Export 05-" + german.monthName(12, QLocale::ShortFormat) + "-2026 09-03-18 " +
                 german.amText().toUpper() + ".txt");
}

// The fast form of a date gives what QDateTime gives, and the years it does
// not cover go the long way.
void TestExporter::datesOfEveryYear()
{
    const QList<QDateTime> dates = {
        QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 999), Qt::UTC),
        QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC),
        QDateTime(QDate(2038, 1, 19), QTime(3, 14, 8), Qt::UTC),
        QDateTime(QDate(999, 12, 31), QTime(23, 0), Qt::UTC),
        QDateTime(QDate(12000, 6, 1), QTime(1, 2, 3), Qt::UTC),
    };
    for (const QDateTime &date : dates) {
        FileRecord record;
        record.folder = makeFolder("/a");
        record.name = "b.tif";
        record.modified = record.created = record.accessed = date.toMSecsSinceEpoch();
        QByteArray row;
        appendExportRow(row, record);
        const QByteArray expected =
            date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() + " +0000";
        QCOMPARE(row,
                 "b.tif\t0\t0 KB\ttif\t" + expected + '\t' + expected + '\t' + expected + "\t/a\n");
    }
}

static FileList manyFiles(const QString &folder, int count)
{
    FileList files;
    for (int i = 0; i < count; ++i) {
        auto item = std::make_unique<FileItem>(
            QUrl::fromLocalFile(folder + QStringLiteral("/scan %1.pdf").arg(i)), i, 1000 * i);
        item->setFileTimes(qint64(i) * 86'400'000, std::nullopt, 1'600'000'000'000 + i);
        files.append(std::move(item));
    }
    return files;
}

static bool waitFor(const bool &flag)
{
    for (int i = 0; i < 6000 && !flag; ++i)
        QTest::qWait(10);
    return flag;
}

// The rows written are the list as it was at one moment, however it is
// edited while they are copied; they are written on another thread, and
// only the answers come back.
void TestExporter::backgroundExportIsTheListAsChosen()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out.txt");
    QVERIFY(writeFile(out, "old"));
    FileList files = manyFiles(dir.path(), 5000);
    // Stands in for the table's model, which announces every edit.
    QStringListModel model(QStringList(5000, QString()));
    QObject window;
    QList<qint64> progress;
    bool done = false;
    QString error = QStringLiteral("not called");
    ExportCallbacks callbacks;
    callbacks.progress = [&](qint64 written, qint64 total) {
        QCOMPARE(QThread::currentThread(), window.thread());
        QVERIFY(written <= total);
        QVERIFY(progress.isEmpty() || progress.last() <= written);
        progress << written;
    };
    callbacks.done = [&](const QString &e) {
        error = e;
        done = true;
    };
    const auto removeRows = [&](int first, int count) {
        QList<int> rows;
        for (int i = first; i < first + count; ++i)
            rows << i;
        model.removeRows(first, count);
        files.removeRows(rows);
    };

    // Rows taken away among those copied already, then at the end: the
    // copy starts again once, and what is written is the list after both.
    exportInBackground(&window, files, QFile::encodeName(out), callbacks, &model, 700);
    removeRows(0, 3);
    QTimer::singleShot(0, &window, [&] { removeRows(4990, 7); });
    QVERIFY(waitFor(done));
    QCOMPARE(error, QString());
    QCOMPARE(files.size(), 4990);
    const QByteArray expected = tallivo::test::exportText(files);
    QVERIFY(expected.size() > 512 * 1024); // more than one write
    QCOMPARE(readAll(out), expected);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});

    // Once the rows are copied, edits no longer matter.
    done = false;
    progress.clear();
    exportInBackground(&window, files, QFile::encodeName(out), callbacks, &model);
    removeRows(0, 10);
    files.update(0, [](FileItem &item) { item.setFileTimes(1, 1, 1); });
    QVERIFY(waitFor(done));
    QCOMPARE(readAll(out), expected);

    // Emptied while being copied: a header alone.
    done = false;
    progress.clear();
    exportInBackground(&window, files, QFile::encodeName(out), callbacks, &model, 1000);
    model.setStringList({});
    files.clear();
    QVERIFY(waitFor(done));
    QCOMPARE(error, QString());
    QCOMPARE(readAll(out), exportHeader());

    // A destination that cannot be written is said so.
    done = false;
    exportInBackground(&window, files, QFile::encodeName(dir.filePath("missing/out.txt")),
                       callbacks);
    QVERIFY(waitFor(done));
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
}

// A window closed while its rows are being copied exports nothing; closed
// once they are copied, the export is written all the same, as a save is,
// and the window hears nothing more of it.
void TestExporter::backgroundExportOutlivesItsWindow()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out.txt");
    QVERIFY(writeFile(out, "old"));
    const FileList files = manyFiles(dir.path(), 3000);
    bool called = false;
    ExportCallbacks callbacks;
    callbacks.progress = [&](qint64, qint64) { called = true; };
    callbacks.done = [&](const QString &) { called = true; };
    {
        QObject window;
        exportInBackground(&window, files, QFile::encodeName(out), callbacks, nullptr, 100);
    }
    QTest::qWait(50);
    QCOMPARE(readAll(out), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});

    {
        QObject window;
        exportInBackground(&window, files, QFile::encodeName(out), callbacks, nullptr, 3000);
    }
    const QByteArray expected = tallivo::test::exportText(files);
    for (int i = 0; i < 6000 && readAll(out) != expected; ++i)
        QTest::qWait(10);
    QCOMPARE(readAll(out), expected);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});
    QTest::qWait(50);
    QVERIFY(!called);
}

QTEST_GUILESS_MAIN(TestExporter)
#include "tst_exporter.moc"
