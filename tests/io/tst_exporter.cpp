#include "exporter.h"
#include "exportname.h"
#include "fileio.h"
#include "filelist.h"
#include "importparser.h"
#include "localpath.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace tallivo;

class TestExporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void exportText();
    void exportList();
    void fullDiskLeavesTheOldExport();
    void destinationNameIsBytes();
    void suggestedName();
    void oddPathsRoundTrip();

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
    files.at(0)->setChecked(false);
    files.sort({{Column::Name, true}});

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
    const QString text = QString::fromUtf8(tallivo::exportText(files));
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
    QVERIFY(tallivo::exportList(files, out));
    QCOMPARE(readAll(out), tallivo::exportText(files));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.txt"});

    // A destination that cannot be written is reported and left as it was.
    QVERIFY(QDir(dir.path()).mkpath("taken/inside"));
    QString error;
    QVERIFY(!tallivo::exportList(files, dir.filePath("taken"), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(dir.filePath("taken/inside")).isDir());
    QVERIFY(!tallivo::exportList(files, dir.filePath("missing/out.txt"), &error));
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));

    // Through a symbolic link the file it names is replaced; the link stays.
    QVERIFY(QFile::link(out, dir.filePath("link.txt")));
    QVERIFY(files.append(FileItem::create(QUrl::fromLocalFile(dir.filePath("b.pdf")))));
    QVERIFY(tallivo::exportList(files, dir.filePath("link.txt"), &error));
    QVERIFY(QFileInfo(dir.filePath("link.txt")).isSymLink());
    QCOMPARE(readAll(out), tallivo::exportText(files));
}

// Whatever stops a write (a full disk, a quota, a size limit) fails the
// export and leaves the file it was to replace as it was. A size limit is a
// full disk that root cannot write past either.
void TestExporter::fullDiskLeavesTheOldExport()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out.txt");
    FileList files;
    for (int i = 0; i < 40; ++i)
        QVERIFY(files.append(std::make_unique<FileItem>(
            QUrl::fromLocalFile(dir.filePath(QStringLiteral("scan %1.pdf").arg(i))), i, 1000)));
    QVERIFY(writeFile(out, "the good export\n"));
    QVERIFY(tallivo::exportText(files).size() > 2048);

    struct rlimit saved;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    QString error;
    const bool written = tallivo::exportList(files, out, &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!written);
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
    QCOMPARE(readAll(out), QByteArray("the good export\n"));
    // Nothing is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});
}

// Latin-1 "café.txt": the name the user gave, byte for byte.
void TestExporter::destinationNameIsBytes()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path()) + "/caf\xe9.txt";
    FileList files;
    QVERIFY(files.append(std::make_unique<FileItem>(urlFromLocalPath("/a/b.tif"), 2, 10)));
    QString error;
    QVERIFY2(tallivo::exportList(files, path, &error), qPrintable(error));
    QFile written;
    const int fd = ::open(path.constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QVERIFY(written.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    QCOMPARE(written.readAll(), tallivo::exportText(files));
    // Qt lists no names that are not UTF-8; the file system's listing does.
    const FolderListing listing = listFolder(QFile::encodeName(dir.path()));
    QCOMPARE(listing.entries.size(), size_t(1));
    QCOMPARE(listing.entries.front().name, QByteArray("caf\xe9.txt"));
    QCOMPARE(::unlink(path.constData()), 0);
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

void TestExporter::oddPathsRoundTrip()
{
    // Through an import list, the file list and the export unchanged.
    const QStringList paths{
        m_dir.filePath("two  blanks\tand a tab.pdf"),
        m_dir.filePath(QString::fromUtf8("Ärger 日本語 ファイル.PDF")),
        m_dir.filePath("#hash %25 ?query &amp.tif"),
        m_dir.filePath(QString(250, QLatin1Char('n')) + ".tiff"),
    };
    QByteArray list;
    for (const QString &path : paths) {
        QVERIFY2(writeFile(path), qPrintable(path));
        list += path.toUtf8() + '\n';
    }
    const QList<QByteArray> parsed = parseImportList(list);
    QCOMPARE(parsed.size(), paths.size());
    for (qsizetype i = 0; i < paths.size(); ++i)
        QCOMPARE(parsed.at(i), paths.at(i).toUtf8());

    FileList files;
    for (const QUrl &url : importUrls(parsed))
        QVERIFY(files.append(FileItem::create(url)));
    const QByteArray text = tallivo::exportText(files);
    // Every row stays one row of eight fields; a tab in a name is written \t.
    for (const QByteArray &row : text.split('\n').mid(1, files.size()))
        QCOMPARE(row.count('\t'), 7);
    for (const QString &path : paths) {
        const QFileInfo info(path);
        QVERIFY(text.contains('\n' + escapedForRow(info.fileName().toUtf8()) + '\t'));
        QVERIFY(text.contains('\t' + info.path().toUtf8() + '\n'));
    }
    // The files exist, so their dates are real.
    QVERIFY(!text.contains("\t(null)\t(null)\t"));
}

QTEST_GUILESS_MAIN(TestExporter)
#include "tst_exporter.moc"
