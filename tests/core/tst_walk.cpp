#include "fileitem.h"
#include "localpath.h"
#include "samplefiles.h"
#include "walk.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tallivo;

class TestWalk : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void folderWalk_data();
    void folderWalk();
    void fileWalkTakesEverything();
    void symlinksAreNotEntered();
    void clearedFlagStopsBeforeNextEntry();
    void deeperThanPathMax();
    void reportsTheFoldersItEnters();
    void countsWhatTheSubfoldersHold();

private:
    void touch(const QString &relative);
    QStringList walk(const Arguments &args, std::atomic_bool *flag = nullptr);
    QUrl url(const QString &relative) const
    {
        return QUrl::fromLocalFile(m_dir->filePath(relative));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestWalk::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    for (const char *f :
         {"top/a.tif", "top/b.TIF", "top/c.Tif", "top/d.tIFF", "top/e.pdf", "top/f.PDF",
          "top/g.Pdf", "top/h.txt", "top/.hidden.tif", "top/sub/i.tiff", "top/sub/deeper/j.TIFF",
          "top/.secret/k.pdf", "top/folder.tif/l.pdf", "top/noext", "loose.pdf", "loose.txt"})
        touch(QString::fromLatin1(f));
}

void TestWalk::touch(const QString &relative)
{
    const QString path = m_dir->filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

QStringList TestWalk::walk(const Arguments &args, std::atomic_bool *flag)
{
    std::atomic_bool keepGoing{true};
    Walk w(args, flag ? *flag : keepGoing);
    QStringList found;
    while (auto u = w.next())
        found << QDir(m_dir->path()).relativeFilePath(QFile::decodeName(localPath(u->url())));
    return found;
}

void TestWalk::folderWalk_data()
{
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<bool>("subfolders");
    QTest::addColumn<QStringList>("expected");
    // Extensions in any letter case: a scanner that writes "Scan.Tif" is
    // counted, not skipped in silence.
    QTest::newRow("folder only") << QStringList{"top"} << false
                                 << QStringList{"top/a.tif", "top/b.TIF", "top/c.Tif", "top/d.tIFF",
                                                "top/e.pdf", "top/f.PDF", "top/g.Pdf"};
    QTest::newRow("with subfolders") << QStringList{"top"} << true
                                     << QStringList{"top/a.tif",
                                                    "top/b.TIF",
                                                    "top/c.Tif",
                                                    "top/d.tIFF",
                                                    "top/e.pdf",
                                                    "top/f.PDF",
                                                    "top/folder.tif/l.pdf",
                                                    "top/g.Pdf",
                                                    "top/sub/deeper/j.TIFF",
                                                    "top/sub/i.tiff"};
    QTest::newRow("top-level files: allowed added, others nothing")
        << QStringList{"loose.txt", "loose.pdf", "top/g.Pdf"} << true
        << QStringList{"loose.pdf", "top/g.Pdf"};
    QTest::newRow("folder named .tif is walked")
        << QStringList{"top/folder.tif"} << false << QStringList{"top/folder.tif/l.pdf"};
    QTest::newRow("missing top-level of an allowed type is still offered")
        << QStringList{"gone.tif", "gone"} << false << QStringList{"gone.tif"};
    QTest::newRow("hidden folder given directly is walked")
        << QStringList{"top/.secret"} << false << QStringList{"top/.secret/k.pdf"};
}

void TestWalk::folderWalk()
{
    QFETCH(QStringList, given);
    QFETCH(bool, subfolders);
    Arguments args;
    args.isFolders = true;
    args.includeSubfolders = subfolders;
    for (const QString &g : given)
        args.urls << url(g);
    QTEST(walk(args), "expected");
}

void TestWalk::fileWalkTakesEverything()
{
    Arguments args;
    args.urls = {url("top/h.txt"), url("top"), url("missing.pdf"),
                 QUrl(QStringLiteral("https://example.com/x.pdf"))};
    std::atomic_bool keepGoing{true};
    Walk w(args, keepGoing);
    QList<QUrl> found;
    while (auto u = w.next())
        found << u->url();
    // Every local path as given, whatever it names; a URL of another
    // scheme is no file to count.
    QCOMPARE(found, args.urls.mid(0, 3));
    QCOMPARE(walk(Arguments{}), QStringList());
}

void TestWalk::symlinksAreNotEntered()
{
    // A link back up the tree would otherwise loop for ever.
    QVERIFY(QFile::link(m_dir->filePath("top"), m_dir->filePath("top/sub/loop")));
    QVERIFY(QFile::link(m_dir->filePath("top/a.tif"), m_dir->filePath("top/sub/link.tif")));
    Arguments args{{url("top/sub")}, true, true};
    QCOMPARE(walk(args),
             QStringList({"top/sub/deeper/j.TIFF", "top/sub/i.tiff", "top/sub/link.tif"}));
}

void TestWalk::clearedFlagStopsBeforeNextEntry()
{
    std::atomic_bool keepGoing{true};
    Arguments args{{url("top"), url("loose.pdf")}, true, true};
    Walk w(args, keepGoing);
    QVERIFY(w.next());
    QVERIFY(w.next());
    keepGoing = false;
    QVERIFY(!w.next());
    QVERIFY(w.wasStopped());
    keepGoing = true;
    QVERIFY(!w.next()); // once stopped, stays stopped

    Arguments files{{url("a"), url("b")}, false, false};
    std::atomic_bool off{false};
    QCOMPARE(walk(files, &off), QStringList());
}

// Heap bytes in use, as malloc counts them.
size_t heapInUse()
{
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

void TestWalk::deeperThanPathMax()
{
    // 3,000 folders deep, with long names: paths of some 57,000 bytes, made
    // and removed relative to each folder, as nothing else can reach them.
    const QString pdf = m_dir->filePath(QStringLiteral("seed.pdf"));
    QVERIFY(test::writePdf(pdf, 3));
    QFile seed(pdf);
    QVERIFY(seed.open(QIODevice::ReadOnly));
    const QByteArray bytes = seed.readAll();
    const QByteArray name = QByteArray(18, 'd');
    constexpr int kDepth = 3000;
    const int top = ::open(QFile::encodeName(m_dir->path()).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(top >= 0);
    int fd = ::dup(top);
    for (int depth = 0; depth < kDepth; ++depth) {
        QVERIFY(::mkdirat(fd, name.constData(), 0755) == 0);
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(next >= 0);
        ::close(fd);
        fd = next;
    }
    const int out = ::openat(fd, "deep.pdf", O_WRONLY | O_CREAT, 0644);
    QVERIFY(out >= 0);
    QCOMPARE(::write(out, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(out);
    ::close(fd);

    for (const bool readAhead : {true, false}) {
        Arguments args{{url(QString::fromLatin1(name))}, true, true};
        std::atomic_bool keepGoing{true};
        const size_t heapBefore = heapInUse();
        const int descriptorsBefore = openDescriptors();
        Walk walk(args, keepGoing, readAhead);
        const auto found = walk.next();
        QVERIFY(found);
        // At the bottom, every level of the walk is alive: a level holds
        // its own entries, not a copy of its path, and folders are not
        // held open all the way down.
        QVERIFY2(heapInUse() < heapBefore + 16 * 1024 * 1024,
                 qPrintable(QString::number(qint64(heapInUse() - heapBefore))));
        QVERIFY(openDescriptors() < descriptorsBefore + 8);
        QCOMPARE(localPath(found->url()).size(), m_dir->path().size() + kDepth * 19 + 9);
        QVERIFY(!walk.next());
        const auto item = FileItem::create(found->url(), found->type);
        QCOMPARE(item->pages(), 3);
        QVERIFY(item->size() > 0);
        QVERIFY(item->dateModified().isValid());
        QCOMPARE(item->name(), QStringLiteral("deep.pdf"));
    }
    // Qt cannot remove what it cannot reach.
    QProcess::execute(QStringLiteral("rm"),
                      {QStringLiteral("-rf"), m_dir->filePath(QString::fromLatin1(name))});
    ::close(top);
}

void TestWalk::reportsTheFoldersItEnters()
{
    // Only folders given at the top, once read: files and missing paths are
    // not folders to remember.
    Arguments args{{url("loose.pdf"), url("top"), url("gone"), url("top/sub")}, true, true};
    std::atomic_bool keepGoing{true};
    Walk walk(args, keepGoing);
    QList<QUrl> entered;
    walk.setTopFolderHandler([&](const QUrl &folder) { entered << folder; });
    while (walk.next()) {
    }
    QCOMPARE(entered, (QList<QUrl>{url("top"), url("top/sub")}));
}

void TestWalk::countsWhatTheSubfoldersHold()
{
    std::atomic_bool keepGoing{true};
    for (int i = 0; i < 30; ++i)
        touch(QStringLiteral("big/box%1/s.tif").arg(i, 2, 10, QLatin1Char('0')));
    // Only what lies below: the folder's own files, hidden folders and other
    // types are left out.
    SubfolderFiles below = countSubfolderFiles({url("top")}, keepGoing);
    QCOMPARE(below.files, 3);
    QVERIFY(below.complete);
    // Several folders, one missing and one a file: counted together.
    below =
        countSubfolderFiles({url("top/sub"), url("gone"), url("loose.pdf"), url("big")}, keepGoing);
    QCOMPARE(below.files, 1 + 30);
    QVERIFY(below.complete);
    below = countSubfolderFiles({url("top/sub/deeper")}, keepGoing);
    QCOMPARE(below.files, 0);
    QVERIFY(below.complete);

    // A big tree is not walked to its end: the look stops at either limit,
    // or at once when the flag is down, and says it stopped.
    QCOMPARE(countSubfolderFiles({url("big")}, keepGoing).files, 30);
    below = countSubfolderFiles({url("big")}, keepGoing, 10);
    QCOMPARE(below.files, 10);
    QVERIFY(!below.complete);
    below = countSubfolderFiles({url("big")}, keepGoing, 1000, 5);
    QVERIFY(below.files >= 3 && below.files <= 5);
    QVERIFY(!below.complete);
    std::atomic_bool stop{false};
    below = countSubfolderFiles({url("big")}, stop);
    QCOMPARE(below.files, 0);
    QVERIFY(!below.complete);
}

QTEST_GUILESS_MAIN(TestWalk)
#include "tst_walk.moc"
