// The Page Summary as the window opens it: kept current with the list or
// the selection, and page details read only while something shows them.
#include "fileitem.h"
#include "pagesummarydialog.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QMenu>

using namespace tallivo;

class TestPageSummaryWindow : public QObject, public test::WindowFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setUpEnvironment(); }
    void init()
    {
        resetEnvironment();
        makeWindow();
    }
    void cleanup() { m_window.reset(); }

    void pageDetailsOnlyWhenShown();
    void pageSummaryListOrSelection();
    void quitKeyFromPageSummary();
    void detailsOnRequest();

private:
    // A folder of one TIFF of one page and one PDF of two.
    QString makeFolder(const QString &name) const;
    // The note says that `files` files have no details, once their reading
    // is over (a reading under way ends in an ellipsis).
    static bool saysUnread(const QLabel *note, int files)
    {
        return !note->isHidden() && test::figures(note->text()) == QString::number(files) &&
               !note->text().endsWith(QChar(0x2026));
    }
};

QString TestPageSummaryWindow::makeFolder(const QString &name) const
{
    const QString dir = m_data->filePath(name);
    QDir().mkpath(dir);
    test::writeTiff(dir + QStringLiteral("/t0.tif"), 1);
    test::writePdf(dir + QStringLiteral("/p0.pdf"), 2);
    return dir;
}

void TestPageSummaryWindow::pageDetailsOnlyWhenShown()
{
    const QString dir = makeFolder(QStringLiteral("d"));
    QCOMPARE(collectionRun().pageDetails(), PageDetails::None);
    m_dialogs->fileAnswers = {{dir}};
    QVERIFY(run([&] { trigger("actionAddFolder"); }));
    QVERIFY(files().at(0)->pageSummary().isEmpty());

    // A shown column asks runs for page details.
    QMenu *columns = table()->headerMenu();
    const auto toggleSizes = [columns] {
        Q_EMIT columns->aboutToShow();
        for (QAction *a : columns->actions()) {
            if (a->text().remove(QLatin1Char('&')) == QLatin1String("Sizes"))
                columns->triggered(a);
        }
    };
    toggleSizes();
    QCOMPARE(collectionRun().pageDetails(), PageDetails::Summary);
    m_dialogs->messageAnswers = {true};
    trigger("actionRemoveAll");
    QVERIFY(run([&] { Q_EMIT table()->filesDropped({QUrl::fromLocalFile(dir)}); }));
    m_window->model().sort(int(Column::Name));
    QCOMPARE(files().at(0)->pageSummary().pages(), 2);
    QCOMPARE(m_window->model().index(1, int(Column::A4Equivalents)).data().toString(),
             QStringLiteral("1"));
    toggleSizes();
    QCOMPARE(collectionRun().pageDetails(), PageDetails::None);
    // So does the open summary, until it is closed.
    trigger("actionPageSummary");
    QCOMPARE(collectionRun().pageDetails(), PageDetails::Summary);
    m_window->pageSummary()->reject();
    QCOMPARE(collectionRun().pageDetails(), PageDetails::None);
}

void TestPageSummaryWindow::pageSummaryListOrSelection()
{
    const std::vector<PageInfo> a4(3, PageInfo{210, 297, ColourClass::BlackWhite});
    const std::vector<PageInfo> a3(2, PageInfo{297, 420, ColourClass::Colour});
    FileTableModel &model = m_window->model();
    test::appendFile(model, QStringLiteral("/s/a.pdf"), 3, 0,
                     [&](FileItem &f) { f.setPageSummary(PageSummary::fromPages(a4, 3)); });
    test::appendFile(model, QStringLiteral("/s/b.pdf"), 2, 0,
                     [&](FileItem &f) { f.setPageSummary(PageSummary::fromPages(a3, 2)); });
    test::appendFile(model, QStringLiteral("/s/c.pdf"), 5); // counted without details
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    QVERIFY(summary && summary->isVisible() && !summary->isModal());
    QCOMPARE(summary->table().totals().total, 5);
    QCOMPARE(summary->table().totals().a4Equivalents, 3 + 2 * 2);
    auto *note = summary->findChild<QLabel *>(QStringLiteral("note"));
    // The file counted without details is read again for them; it is gone.
    QTRY_VERIFY(saysUnread(note, 1));

    table()->selectRows({1});
    summary->setScope(PageSummaryDialog::Scope::Selection);
    QCOMPARE(summary->table().totals().total, 2);
    QVERIFY(note->isHidden());
    // Later changes reach it a moment later.
    table()->selectRows({0, 1});
    QTRY_COMPARE(summary->table().totals().total, 5);
    summary->setScope(PageSummaryDialog::Scope::WholeList);
    trigger("actionRemoveAll");
    m_dialogs->messageAnswers = {true};
    trigger("actionRemoveAll");
    QTRY_COMPARE(summary->table().totals().total, 0);
    child<QAction>("actionUndo")->trigger();
    QTRY_COMPARE(summary->table().totals().total, 5);
}

void TestPageSummaryWindow::quitKeyFromPageSummary()
{
    // The summary is a window of its own; the quit key works there too.
    m_window->show();
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    summary->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(summary));
    auto *quit = child<QAction>("actionQuit");
    // Only the key is looked at here, not the quit itself.
    QObject::disconnect(quit, nullptr, m_window.get(), nullptr);
    QSignalSpy triggered(quit, &QAction::triggered);
    QTest::keyClick(summary, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(triggered.size(), 1);
}

void TestPageSummaryWindow::detailsOnRequest()
{
    // Files counted while details were off get them when the summary
    // opens, read again in the background, through the model.
    const QString dir = makeFolder(QStringLiteral("later"));
    FileTableModel &model = m_window->model();
    test::appendFile(model, dir + QStringLiteral("/p0.pdf"), 2);
    test::appendFile(model, dir + QStringLiteral("/t0.tif"), 1);
    QCOMPARE(model.tally().withoutDetails(), 2);
    trigger("actionPageSummary");
    PageSummaryDialog *summary = m_window->pageSummary();
    QTRY_COMPARE(model.tally().withoutDetails(), 0);
    QTRY_COMPARE(summary->table().totals().total, 3);
    QCOMPARE(summary->table().totals().pages[size_t(ColourClass::Unknown)], 0);
    QVERIFY(summary->findChild<QLabel *>(QStringLiteral("note"))->isHidden());
    QVERIFY(!model.index(0, int(Column::Colour)).data().toString().isEmpty());
    // A file whose count changed since is left for a new count.
    model.removeRowList({1});
    test::appendFile(model, dir + QStringLiteral("/t0.tif"), 7);
    child<QAction>("actionReadPageDetails")->trigger();
    QTRY_VERIFY(saysUnread(summary->findChild<QLabel *>(QStringLiteral("note")), 1));
    QCOMPARE(model.tally().withoutDetails(), 1);
}

QTEST_MAIN(TestPageSummaryWindow)
#include "tst_pagesummarywindow.moc"
