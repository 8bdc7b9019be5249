#include "recentfolders.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

class TestRecentFolders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void newestFirst();
    void missingFolderFlow();
    void survivesRestart();
    void loadSortsStoredEntries();

private:
    QStringList paths() const { return m_recent.popupTitles().mid(1); }

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
    QCOMPARE(m_recent.popupTitles(), QStringList{"Recent Folders..."});
    m_recent.addRecentItem({"/a", "/data/Scans/"});
    const QDateTime first = m_now;
    m_now = m_now.addSecs(60);
    // Repeats, a trailing separator and empty paths add nothing; case counts.
    m_recent.addRecentItem({"/b", "/a", "/data/Scans", "/data/scans", ""});
    QCOMPARE(paths(), (QStringList{"/b", "/data/scans", "/a", "/data/Scans"}));
    QCOMPARE(m_recent.items().at(2).lastUsedDate, first);
    QCOMPARE(m_recent.pathAtPopupIndex(1), QString("/b"));
    QCOMPARE(m_recent.pathAtPopupIndex(0), QString());

    // A clock that stands still must not cost the latest action its place.
    QVERIFY(m_recent.touch("/a"));
    QCOMPARE(paths().first(), QString("/a"));
    QVERIFY(!m_recent.touch("/nowhere"));
}

void TestRecentFolders::missingFolderFlow()
{
    m_recent.addRecentItem({"/gone"});
    m_now = m_now.addSecs(60);
    m_recent.addRecentItem({"/other"});
    QVERIFY(!RecentFolders::isFolderReadable("/gone"));
    QVERIFY(!RecentFolders::isFolderReadable(QString()));
    QVERIFY(RecentFolders::isFolderReadable(m_settingsDir.path()));
    // The missing folder's entry is stamped, then the chosen folders added.
    QVERIFY(m_recent.touch("/gone"));
    m_recent.addRecentItem({"/x", "/y"});
    QCOMPARE(paths(), (QStringList{"/x", "/y", "/gone", "/other"}));
}

void TestRecentFolders::survivesRestart()
{
    const QStringList odd{"/plain",
                          QString::fromUtf8("/Ärger/日本語"),
                          "/with\ttab and  blanks ",
                          "/line\nbreak",
                          "/a,b;c=d#e\"f'g\\h",
                          "/@Variant(x)",
                          "/" + QString(300, QLatin1Char('n'))};
    for (const QString &path : odd) {
        m_now = m_now.addMSecs(1001);
        m_recent.addRecentItem({path});
    }
    {
        QSettings settings("Kelmarin", "Tallivo");
        m_recent.saveRecentFolders(settings);
    }
    QSettings settings("Kelmarin", "Tallivo");
    RecentFolders restarted;
    restarted.loadRecentFolders(settings);
    QCOMPARE(restarted.items().size(), odd.size());
    for (int i = 0; i < odd.size(); ++i) {
        QCOMPARE(restarted.items().at(i).itemPath, odd.at(odd.size() - 1 - i));
        QCOMPARE(restarted.items().at(i).lastUsedDate, m_recent.items().at(i).lastUsedDate);
    }
    const QVariantMap newest = settings.value("RECENTITEMS").toList().first().toMap();
    QCOMPARE(newest.value("itemPath").toString(), odd.last());
    QCOMPARE(newest.value("lastUsedDate").toDateTime(), m_now);
}

void TestRecentFolders::loadSortsStoredEntries()
{
    QSettings settings("Kelmarin", "Tallivo");
    settings.setValue("RECENTITEMS",
                      QVariantList{RecentItem{"/old", m_now}.getData(),
                                   RecentItem{"/new", m_now.addDays(1)}.getData(),
                                   QVariantMap{{"itemPath", "/undated"}}, QString("junk")});
    m_recent.loadRecentFolders(settings);
    QCOMPARE(paths(), (QStringList{"/new", "/old", "/undated"}));
}

QTEST_GUILESS_MAIN(TestRecentFolders)
#include "tst_recentfolders.moc"
