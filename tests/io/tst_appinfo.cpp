#include "appinfo.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace tallivo;

class TestAppInfo : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void dataFolder();
};

void TestAppInfo::dataFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString app = appDataPath();
    QCOMPARE(app, QDir::cleanPath(base + QStringLiteral("/Kelmarin/Tallivo2")));
    QDir(base + QStringLiteral("/Kelmarin")).removeRecursively();
    QVERIFY(!QFileInfo::exists(app)); // named, not created

    // Both levels on first use, then nothing to do.
    QString error;
    QVERIFY(makeAppDataFolder(QString(), &error));
    QVERIFY(QFileInfo(app).isDir());
    QVERIFY(makeAppDataFolder(QString(), &error));
    QVERIFY(makeAppDataFolder(QStringLiteral("a/b"), &error));
    QVERIFY(QFileInfo(app + QStringLiteral("/a/b")).isDir());

    // A file in the way is a failure, and says so.
    QDir(app).removeRecursively();
    QFile blocker(app);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    error.clear();
    QVERIFY(!makeAppDataFolder(QString(), &error));
    QVERIFY(error.contains(QStringLiteral("Tallivo2")));
    QVERIFY(QFileInfo(app).isFile());
    QFile::remove(app);
}

QTEST_GUILESS_MAIN(TestAppInfo)
#include "tst_appinfo.moc"
