#include "recentfolders.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace tallivo;

class TestRecentFolders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void newestFirst();
    void survivesRestart();

private:
    static QStringList paths(const RecentFolders &recent)
    {
        QStringList out;
        for (const RecentFolder &folder : recent.folders())
            out << folder.path;
        return out;
    }

    QTemporaryDir m_settingsDir;
    RecentFolders m_recent;
    QDateTime m_now;
};

void TestRecentFolders::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TestRecentFolders::init()
{
    QSettings("Kelmarin", "Tallivo").clear();
    m_now = QDateTime(QDate(2026, 5, 1), QTime(12, 0), Qt::UTC);
    m_recent = RecentFolders();
    m_recent.setClock([this] { return m_now; });
}

void TestRecentFolders::newestFirst()
{
    QVERIFY(m_recent.isEmpty());
    m_recent.add({"/gone", "/data/Scans/"});
    const QDateTime first = m_now;
    m_now = m_now.addSecs(60);
    // Repeats, a trailing separator and empty paths add nothing; case counts.
    m_recent.add({"/b", "/gone", "/data/Scans", "/data/scans", ""});
    QCOMPARE(paths(m_recent), (QStringList{"/b", "/data/scans", "/gone", "/data/Scans"}));
    QCOMPARE(m_recent.folders().at(2).lastUsed, first);

    // A missing folder: its entry is stamped, then the folders chosen instead
    // are added. A clock that stands still must not cost either its place.
    QVERIFY(!RecentFolders::isFolderReadable("/gone"));
    QVERIFY(RecentFolders::isFolderReadable(m_settingsDir.path()));
    QVERIFY(m_recent.touch("/gone"));
    QCOMPARE(paths(m_recent).first(), QString("/gone"));
    m_recent.add({"/x", "/y"});
    QCOMPARE(paths(m_recent),
             (QStringList{"/x", "/y", "/gone", "/b", "/data/scans", "/data/Scans"}));
}

void TestRecentFolders::survivesRestart()
{
    const QStringList odd{QString::fromUtf8("/Ärger/日本語\tand  blanks "), "/line\nbreak",
                          "/a,b;c=d#e\"f'g\\h", "/@Variant(x)",
                          RecentFolders::storedText("/Factures_\xe9t\xe9")};
    for (const QString &path : odd) {
        m_now = m_now.addMSecs(1001);
        m_recent.add({path});
    }
    {
        QSettings settings("Kelmarin", "Tallivo");
        QVERIFY(m_recent.save(settings));
        QVariantList stored = settings.value("RECENTITEMS").toList();
        QCOMPARE(stored.first().toMap(),
                 (QVariantMap{{"itemPath", odd.last()}, {"lastUsedDate", m_now}}));
        // Stored out of order, with an undated entry and one that is none.
        std::reverse(stored.begin(), stored.end());
        settings.setValue("RECENTITEMS", stored << QVariantMap{{"itemPath", "/undated"}} << "junk");
    }
    QSettings settings("Kelmarin", "Tallivo");
    RecentFolders restarted;
    restarted.load(settings);
    QCOMPARE(paths(restarted), QStringList(odd.rbegin(), odd.rend()) << "/undated");
    QCOMPARE(restarted.folders().first().lastUsed, m_now);

    // A name that is not UTF-8 comes back with its bytes, shown readably;
    // UTF-8 names are stored as they are.
    const QString latin1 = restarted.folders().first().path;
    QCOMPARE(RecentFolders::folderPath(latin1), QByteArray("/Factures_\xe9t\xe9"));
    QCOMPARE(RecentFolders::displayText(latin1), QString::fromUtf8("/Factures_été"));
    QCOMPARE(RecentFolders::storedText(QByteArray("/été")), QString::fromUtf8("/été"));
    QCOMPARE(RecentFolders::folderPath(odd.first()), odd.first().toUtf8());
}

QTEST_GUILESS_MAIN(TestRecentFolders)
#include "tst_recentfolders.moc"
