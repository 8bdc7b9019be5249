#include "fakes.h"
#include "fileactions.h"
#include "fileitem.h"

#include <QTest>

using namespace tallivo;
using tallivo::test::FakeDesktop;

class TestFileActions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void doubleClick_data();
    void doubleClick();
    void showInFileManager_data();
    void showInFileManager();
    void openActsOnEveryItemInOrder();
};

namespace {

FileItem item(const QString &path)
{
    return FileItem(QUrl::fromLocalFile(path), 1, 0);
}

} // namespace

void TestFileActions::doubleClick_data()
{
    QTest::addColumn<bool>("canOpen");
    QTest::addColumn<bool>("fileManagerAnswers");
    QTest::addColumn<QList<QUrl>>("opened");
    QTest::addColumn<int>("fileManagerCalls");
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/data/scan 1.tif"));
    const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/data"));
    QTest::newRow("opens") << true << true << QList<QUrl>{file} << 0;
    QTest::newRow("shows in file manager") << false << true << QList<QUrl>{file} << 1;
    QTest::newRow("opens the folder") << false << false << QList<QUrl>{file, folder} << 1;
}

void TestFileActions::doubleClick()
{
    QFETCH(bool, canOpen);
    QFETCH(bool, fileManagerAnswers);
    QFETCH(QList<QUrl>, opened);
    QFETCH(int, fileManagerCalls);
    FakeDesktop desktop;
    desktop.canOpen = canOpen;
    desktop.fileManagerAnswers = fileManagerAnswers;
    FileActions actions(desktop);
    const FileItem scan = item(QStringLiteral("/data/scan 1.tif"));
    actions.fileDoubleClicked(&scan);
    QCOMPARE(desktop.opened, opened);
    QCOMPARE(desktop.fileManagerCalls.size(), fileManagerCalls);
    if (fileManagerCalls) {
        QCOMPARE(desktop.fileManagerCalls.first().first, QStringLiteral("ShowItems"));
        // Blanks travel percent-encoded, as file URIs must.
        QCOMPARE(desktop.fileManagerCalls.first().second,
                 QStringList{QStringLiteral("file:///data/scan%201.tif")});
    }
    actions.fileDoubleClicked(nullptr);
    QCOMPARE(desktop.opened, opened);
}

void TestFileActions::showInFileManager_data()
{
    QTest::addColumn<bool>("properties");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QList<QUrl>>("fallback");
    const QList<QUrl> folders = {QUrl::fromLocalFile(QStringLiteral("/b")),
                                 QUrl::fromLocalFile(QStringLiteral("/a"))};
    QTest::newRow("show") << false << true << "ShowItems" << QList<QUrl>{};
    QTest::newRow("show, no file manager") << false << false << "ShowItems" << folders;
    QTest::newRow("properties") << true << true << "ShowItemProperties" << QList<QUrl>{};
    QTest::newRow("properties, no file manager")
        << true << false << "ShowItemProperties" << folders;
}

void TestFileActions::showInFileManager()
{
    QFETCH(bool, properties);
    QFETCH(bool, answers);
    QFETCH(QString, method);
    QFETCH(QList<QUrl>, fallback);
    FakeDesktop desktop;
    desktop.fileManagerAnswers = answers;
    FileActions actions(desktop);
    const FileItem x = item(QStringLiteral("/b/x.pdf"));
    const FileItem y = item(QStringLiteral("/a/y.pdf"));
    const FileItem z = item(QStringLiteral("/b/z.pdf"));
    if (properties)
        actions.getInfo({&x, &y, &z});
    else
        actions.openEnclodingFolder({&x, &y, &z});
    QCOMPARE(desktop.fileManagerCalls.size(), 1);
    QCOMPARE(desktop.fileManagerCalls.first().first, method);
    QCOMPARE(desktop.fileManagerCalls.first().second,
             (QStringList{QStringLiteral("file:///b/x.pdf"), QStringLiteral("file:///a/y.pdf"),
                          QStringLiteral("file:///b/z.pdf")}));
    // Each folder once, in the order of the files.
    QCOMPARE(desktop.opened, fallback);
}

void TestFileActions::openActsOnEveryItemInOrder()
{
    FakeDesktop desktop;
    desktop.canOpen = false;
    FileActions actions(desktop);
    const FileItem x = item(QStringLiteral("/b/x.pdf"));
    const FileItem y = item(QStringLiteral("/a/y.pdf"));
    actions.openFiles({&x, &y});
    // A file that cannot be opened does not stop the next.
    QCOMPARE(desktop.opened, (QList<QUrl>{x.filePath(), y.filePath()}));
    QVERIFY(desktop.fileManagerCalls.isEmpty());
}

QTEST_GUILESS_MAIN(TestFileActions)
#include "tst_fileactions.moc"
