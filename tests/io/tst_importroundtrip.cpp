#include "exporter.h"
#include "filelist.h"
#include "importparser.h"
#include "walk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

// Odd paths go through an import list, the file list and the export unchanged.
class TestImportRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void oddPaths();
};

void TestImportRoundTrip::oddPaths()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString deep = dir.path();
    for (int i = 0; i < 12; ++i)
        deep += QLatin1Char('/') + QString(200, QChar(u'a' + i));
    QVERIFY(QDir().mkpath(deep));

    const QStringList paths{
        dir.filePath("with  blanks inside.tif"),
        dir.filePath("tab\there.pdf"),
        dir.filePath(QString::fromUtf8("Ärger 日本語 ファイル.PDF")),
        dir.filePath("#hash %25 ?query &amp.tif"),
        dir.filePath(QString(250, QLatin1Char('n')) + ".tiff"),
        deep + "/deep.pdf",
    };
    QByteArray list;
    for (const QString &path : paths) {
        QFile f(path);
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
        list += path.toUtf8() + '\n';
    }
    const QString listPath = dir.filePath("list.txt");
    QFile listFile(listPath);
    QVERIFY(listFile.open(QIODevice::WriteOnly));
    listFile.write(list);
    listFile.close();

    const std::optional<QByteArray> data = readImportFile(listPath);
    QVERIFY(data);
    const QStringList parsed = parseImportList(*data, allowedFileTypes());
    QCOMPARE(parsed, paths);

    FileList files;
    for (const QUrl &url : importUrls(parsed)) {
        std::unique_ptr<FileItem> item = FileItem::initWithURL(url);
        QVERIFY(item);
        QVERIFY(files.append(std::move(item)));
    }
    const QString text = QString::fromUtf8(exportText(files));
    for (int i = 0; i < paths.size(); ++i) {
        const QFileInfo info(paths.at(i));
        QCOMPARE(files.at(i)->name(), info.fileName());
        QCOMPARE(files.at(i)->location(), info.path());
        QVERIFY(text.contains(QLatin1Char('\n') + info.fileName() + QLatin1Char('\t')));
        QVERIFY(text.contains(QLatin1Char('\t') + info.path() + QLatin1Char('\n')));
        // The file exists, so its dates are real, not "(null)".
        QVERIFY(files.at(i)->dateModified().isValid());
    }
}

QTEST_GUILESS_MAIN(TestImportRoundTrip)
#include "tst_importroundtrip.moc"
