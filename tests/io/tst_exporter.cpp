#include "exporter.h"
#include "filelist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <unistd.h>

using namespace tallivo;

class TestExporter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyListIsHeaderOnly();
    void linesFollowListOrder();
    void vanishedFileWritesNull();
    void writesExactBytes();
    void failedWriteKeepsExistingEntry_data();
    void failedWriteKeepsExistingEntry();

private:
    QString makeFile(const QString &name, const QDateTime &modified);
    std::unique_ptr<FileItem> item(const QString &path, qint32 pages, qint32 size);

    QTemporaryDir m_dir;
    // 2021-03-04 05:06:07 UTC, which is 10:36:07 in Kolkata.
    const QDateTime m_modified = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
};

static const QByteArray header =
    "Name\tPages\tSize\tType\tModified Date\tAccessed Date\tCreated Date\tLocation\n";

void TestExporter::initTestCase()
{
    // A zone far from UTC shows whether dates are converted.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    QVERIFY(m_dir.isValid());
}

QString TestExporter::makeFile(const QString &name, const QDateTime &modified)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write("x");
    f.flush();
    f.setFileTime(modified, QFileDevice::FileModificationTime);
    f.setFileTime(modified.addDays(1), QFileDevice::FileAccessTime);
    return path;
}

std::unique_ptr<FileItem> TestExporter::item(const QString &path, qint32 pages, qint32 size)
{
    return std::make_unique<FileItem>(QUrl::fromLocalFile(path), pages, size);
}

void TestExporter::emptyListIsHeaderOnly()
{
    QCOMPARE(exportText(FileList()), header);
}

void TestExporter::linesFollowListOrder()
{
    FileList files;
    QVERIFY(files.append(item(makeFile("b.tif", m_modified), 3, 4096)));
    QVERIFY(files.append(item(makeFile("a.PDF", m_modified), 12, 2000000)));
    // Unchecked files are exported all the same.
    files.at(1)->setIsSelected(false);

    const QString date = QStringLiteral("2021-03-04 05:06:07 +0000");
    const QString accessed = QStringLiteral("2021-03-05 05:06:07 +0000");
    QStringList lines = QString::fromUtf8(exportText(files)).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.last(), QString());
    QStringList b = lines.at(1).split(QLatin1Char('\t'));
    QCOMPARE(b.size(), 8);
    QCOMPARE(b.mid(0, 6),
             (QStringList{"b.tif", "3", FileItem::sizeText(4096), "tif", date, accessed}));
    QCOMPARE(b.at(7), m_dir.path());
    const QStringList a = lines.at(2).split(QLatin1Char('\t'));
    QCOMPARE(a.mid(0, 4), (QStringList{"a.PDF", "12", FileItem::sizeText(2000000), "PDF"}));

    files.sort({{QStringLiteral("name"), true}});
    lines = QString::fromUtf8(exportText(files)).split(QLatin1Char('\n'));
    QVERIFY(lines.at(1).startsWith(QLatin1String("a.PDF\t")));
    QVERIFY(lines.at(2).startsWith(QLatin1String("b.tif\t")));
}

void TestExporter::vanishedFileWritesNull()
{
    const QString path = makeFile("gone.tiff", m_modified);
    FileList files;
    QVERIFY(files.append(item(path, 7, 8192)));
    QVERIFY(QFile::remove(path));
    const QByteArray expected = header + "gone.tiff\t7\t" + FileItem::sizeText(8192).toUtf8() +
                                "\ttiff\t(null)\t(null)\t(null)\t" +
                                QFile::encodeName(m_dir.path()) + "\n";
    QCOMPARE(exportText(files), expected);
}

void TestExporter::writesExactBytes()
{
    FileList files;
    QVERIFY(files.append(item(m_dir.filePath("missing/é x.pdf"), 1, 0)));
    const QString out = m_dir.filePath("out.txt");
    QString error;
    QVERIFY2(exportList(files, out, &error), qPrintable(error));
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), exportText(files));
    QVERIFY(
        !QDir(m_dir.path()).entryList(QDir::Files).join(' ').contains(QLatin1String("out.txt.")));
}

void TestExporter::failedWriteKeepsExistingEntry_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("existing");
    QTest::newRow("folder gone") << m_dir.filePath("no/such/folder/list.txt") << false;
    QTest::newRow("parent is a file") << m_dir.filePath("plain.txt/list.txt") << false;
    QTest::newRow("destination is a folder") << m_dir.filePath("taken") << true;
    if (QFileInfo(QStringLiteral("/proc/self")).exists())
        QTest::newRow("read-only file system") << QStringLiteral("/proc/tallivo-list.txt") << false;
    if (::geteuid() != 0)
        QTest::newRow("read-only folder") << m_dir.filePath("locked/list.txt") << true;
}

void TestExporter::failedWriteKeepsExistingEntry()
{
    QFETCH(QString, destination);
    QFETCH(bool, existing);
    makeFile("plain.txt", m_modified);
    QDir(m_dir.path()).mkpath("taken/inside");
    QDir(m_dir.path()).mkpath("locked");
    const QString lockedFile = m_dir.filePath("locked/list.txt");
    if (!QFile::exists(lockedFile)) {
        QFile f(lockedFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    QFile::setPermissions(m_dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner);

    FileList files;
    QVERIFY(files.append(item(m_dir.filePath("a.tif"), 1, 0)));
    QString error;
    QVERIFY(!exportList(files, destination, &error));
    QVERIFY(!error.isEmpty());

    const QFileInfo after(destination);
    QCOMPARE(after.exists(), existing);
    if (after.isDir())
        QVERIFY(QFileInfo(destination + "/inside").isDir());
    else if (existing) {
        QFile f(destination);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old"));
    }
    QFile::setPermissions(m_dir.filePath("locked"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QTEST_GUILESS_MAIN(TestExporter)
#include "tst_exporter.moc"
