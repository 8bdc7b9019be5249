#include "utilities.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace tallivo;

class TestUtilities : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void applicationFolder();
    void title();
};

void TestUtilities::applicationFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString app = getAppPath();
    QCOMPARE(app, QDir::cleanPath(base + QStringLiteral("/Kelmarin/Tallivo2")));
    QDir(base + QStringLiteral("/Kelmarin")).removeRecursively();
    QVERIFY(!QFileInfo::exists(app)); // named, not created

    // Both levels on first use, then nothing to do.
    QString error;
    QVERIFY(createApplicationUsersFolder(QString(), &error));
    QVERIFY(QFileInfo(app).isDir());
    QVERIFY(createApplicationUsersFolder(QString(), &error));
    QVERIFY(createApplicationUsersFolder(QStringLiteral("a/b"), &error));
    QVERIFY(QFileInfo(app + QStringLiteral("/a/b")).isDir());

    // A file in the way is a failure, and says so.
    QDir(app).removeRecursively();
    QFile blocker(app);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    error.clear();
    QVERIFY(!createApplicationUsersFolder(QString(), &error));
    QVERIFY(error.contains(QStringLiteral("Tallivo2")));
    QVERIFY(QFileInfo(app).isFile());
    QFile::remove(app);
}

void TestUtilities::title()
{
    QCOMPARE(getAppTitle(), QStringLiteral("Tallivo"));
    QCOMPARE(getAppTitle(QStringLiteral(" - list")), QStringLiteral("Tallivo - list"));
}

QTEST_GUILESS_MAIN(TestUtilities)
#include "tst_utilities.moc"
