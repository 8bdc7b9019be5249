// What the window shows and allows while it counts and after: the status
// line at every width, the table during a run, the keyboard's ways to the
// sort and the menus, and the short words on what a command came to.
#include "buttonbar.h"
#include "fakes.h"
#include "fakeshare.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "intake.h"
#include "listexporter.h"
#include "mainwindow.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace tallivo;
using tallivo::test::order;

class TestWindowFeedback : public QObject, public test::WindowFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void statusLineIsNeverCut();
    void tableDuringRun();
    void sortByMenu();
    void keyboardReachesMenusAndFocus();
    void everyMenuHasOneLetterPerEntry();
    void editCommandsFollowTheList();
    void ctrlHomeAndEndMoveTheAnchor_data();
    void ctrlHomeAndEndMoveTheAnchor();
    void countedIsWhatTheTableLists();
    void cancelledRunSaysWhatWasLeft();
    void fileActionsNeedASelection();
    void wordsOnWhatACommandCameTo();
    void folderWhoseFilesAreInSubfolders();

private:
    QString makeFolder(const QString &name, int tiffs, int pdfs);
    QString message() const { return m_window->presenter().message(); }
};

void TestWindowFeedback::initTestCase()
{
    setUpEnvironment();
}

void TestWindowFeedback::init()
{
    resetEnvironment();
    makeWindow();
}

void TestWindowFeedback::cleanup()
{
    m_window.reset();
}

QString TestWindowFeedback::makeFolder(const QString &name, int tiffs, int pdfs)
{
    const QString dir = m_data->filePath(name);
    QDir().mkpath(dir);
    for (int i = 0; i < tiffs; ++i)
        test::writeTiff(dir + QStringLiteral("/t%1.tif").arg(i, 3, 10, QLatin1Char('0')), 1);
    for (int i = 0; i < pdfs; ++i)
        test::writePdf(dir + QStringLiteral("/p%1.pdf").arg(i, 3, 10, QLatin1Char('0')), 2);
    return dir;
}

void TestWindowFeedback::statusLineIsNeverCut()
{
    // The longest texts a run shows: large totals, a selection, files that
    // could not be counted, the progress of a deep folder, "In Process".
    FileTableModel &model = m_window->model();
    test::appendFile(model, QStringLiteral("/x/a.tif"), 186754321);
    test::appendFile(model, QStringLiteral("/x/b.pdf"), 123456789);
    test::appendFile(model, QStringLiteral("/x/c.pdf"), 0, 0,
                     [](FileItem &f) { f.setCountStatus(CountStatus::Locked); });
    table()->selectAll();
    m_window->resize(1240, 700);
    QVERIFY(showActive());
    RunPresenter &presenter = m_window->presenter();
    presenter.resetView(false);
    presenter.processStarted();
    presenter.showMessage(QStringLiteral("A word on the last command, long enough to need a "
                                         "second line in a narrow window, which it gets."));
    QWidget *central = m_window->centralWidget();
    const QList<QWidget *> parts = {
        child<QLabel>("pageTotalsLabel"),   child<QToolButton>("uncountedButton"),
        child<QLabel>("fileTotalsLabel"),   child<QLabel>("messageLabel"),
        child<QLabel>("progressLabel"),     child<QProgressBar>("busyIndicator"),
        child<QPushButton>("cancelButton"), child<QLabel>("timeTakenLabel")};
    const int least = m_window->minimumWidth();
    for (int width : {least, 640, 900, 1240}) {
        m_window->resize(width, 500);
        QTRY_COMPARE(m_window->width(), qMax(width, least));
        central->layout()->activate();
        QCoreApplication::processEvents();
        presenter.progress({2802, 1000, QStringLiteral("/srv/scans/customer/Box 12/2019-03")});
        const QString at = QStringLiteral(" at %1 px").arg(m_window->width());
        QList<QRect> areas;
        for (QWidget *part : parts) {
            const QString name = part->objectName() + at;
            QVERIFY2(part->isVisible(), qPrintable(name));
            const QRect area(part->mapTo(central, QPoint(0, 0)), part->size());
            QVERIFY2(central->rect().contains(area), qPrintable(name));
            for (const QRect &other : std::as_const(areas))
                QVERIFY2(!area.intersects(other), qPrintable(name));
            areas.append(area);
            // A line is broken only where it must be.
            if (part->objectName() == QLatin1String("pageTotalsLabel") && width >= 900)
                QVERIFY2(part->height() < 2 * part->fontMetrics().lineSpacing(), qPrintable(name));
            auto *text = qobject_cast<QLabel *>(part);
            if (part->objectName() == QLatin1String("progressLabel")) {
                // The counts at least; the folder is cut, in the middle.
                QVERIFY2(test::figures(text->text()).startsWith(QStringLiteral("2,802 0 ")),
                         qPrintable(text->text() + at));
                QVERIFY2(text->fontMetrics().horizontalAdvance(text->text()) <=
                             text->contentsRect().width(),
                         qPrintable(name));
            } else if (text && text->wordWrap()) {
                // Wrapped, never cut: every line has its room.
                QVERIFY2(text->heightForWidth(text->width()) <= text->height(), qPrintable(name));
                QVERIFY2(text->minimumSizeHint().width() <= text->width(), qPrintable(name));
            } else {
                QVERIFY2(part->sizeHint().width() <= part->width(), qPrintable(name));
            }
        }
    }
    QCOMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("186,754,321 123,456,789"));
}

void TestWindowFeedback::tableDuringRun()
{
    // The last file in walk order does not answer, so the run stays on with
    // the others listed.
    const QString dir = makeFolder(QStringLiteral("run"), 120, 0);
    QVERIFY(test::writePdf(dir + QStringLiteral("/zz.pdf"), 1));
    test::FakeShare share;
    share.hang("/zz.pdf");
    m_window->resize(900, 420);
    QVERIFY(showActive());
    m_dialogs->fileAnswers = {{dir}};
    QSignalSpy finished(&collectionRun(), &CollectionRun::finished);
    action("actionAddFolder")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->model().rowCount(), 120, 60000);
    QVERIFY(collectionRun().isActive());
    // The file count goes with the totals, not only at the end.
    QTRY_VERIFY(test::figures(label("fileTotalsLabel")).startsWith(QStringLiteral("120 ")));
    QCOMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("120 0"));
    QTRY_VERIFY(test::figures(label("progressLabel")).startsWith(QStringLiteral("121 ")));

    // Scrolled and selected, but not edited: no check box, no removal, no
    // sort.
    FileTableView *view = table();
    QVERIFY(view->isEnabled());
    QVERIFY(view->verticalScrollBar()->maximum() > 0);
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    QVERIFY(view->rowAt(0) > 0);
    view->setFocus();
    view->selectRows({0});
    view->setCurrentIndex(m_window->model().index(0, int(Column::Check)));
    view->scrollToTop();
    const QModelIndex check = m_window->model().index(0, int(Column::Check));
    const QVariant before = check.data(Qt::CheckStateRole);
    const QPoint box = view->visualRect(check).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box);
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(check.data(Qt::CheckStateRole), before);
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(m_window->model().rowCount(), 120);
    const QString unsorted = order(files());
    QHeaderView *header = view->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(int(Column::Name)) + 5, 5));
    QCOMPARE(order(files()), unsorted);
    QTRY_VERIFY(label("fileTotalsLabel").startsWith(QStringLiteral("120 Total file(s); 1 file")));

    share.release();
    QVERIFY(!finished.isEmpty() || finished.wait(60000));
    QCOMPARE(m_window->model().rowCount(), 121);
    // Once the run is over, the same click checks.
    view->scrollToTop();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(m_window->model().index(0, int(Column::Check))).center());
    QVERIFY(m_window->model().index(0, int(Column::Check)).data(Qt::CheckStateRole) != before);
}

void TestWindowFeedback::sortByMenu()
{
    FileTableModel &model = m_window->model();
    test::appendFile(model, QStringLiteral("/s/b.pdf"), 5);
    test::appendFile(model, QStringLiteral("/s/a.pdf"), 9);
    test::appendFile(model, QStringLiteral("/s/c.pdf"), 1);
    auto *menu = child<QMenu>("menuSortBy");
    QVERIFY(menu);
    QVERIFY(child<QMenu>("menuView")->actions().contains(menu->menuAction()));
    const auto entry = [menu](const QString &text) -> QAction * {
        Q_EMIT menu->aboutToShow();
        for (QAction *a : menu->actions()) {
            if (a->text().remove(QLatin1Char('&')) == text)
                return a;
        }
        return nullptr;
    };
    QHeaderView *header = table()->horizontalHeader();
    // The columns shown, no more.
    table()->setColumnHidden(int(Column::Type), true);
    QVERIFY(entry(QStringLiteral("Name")) && entry(QStringLiteral("Location")));
    QVERIFY(!entry(QStringLiteral("Type")));

    entry(QStringLiteral("Pages"))->trigger();
    QCOMPARE(header->sortIndicatorSection(), int(Column::Pages));
    QCOMPARE(order(files()), QStringLiteral("c b a"));
    QVERIFY(entry(QStringLiteral("Pages"))->isChecked());
    QVERIFY(entry(QStringLiteral("Ascending"))->isChecked());
    entry(QStringLiteral("Descending"))->trigger();
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(order(files()), QStringLiteral("a b c"));
    // Another column keeps the order chosen, as the header would.
    entry(QStringLiteral("Name"))->trigger();
    QCOMPARE(order(files()), QStringLiteral("c b a"));
    QCOMPARE(header->sortIndicatorSection(), int(Column::Name));
    // The same choice again sorts again, after rows were moved by hand.
    table()->selectRows({0});
    action("actionMoveDown")->trigger();
    QCOMPARE(order(files()), QStringLiteral("b c a"));
    entry(QStringLiteral("Name"))->trigger();
    QCOMPARE(order(files()), QStringLiteral("c b a"));

    // Not while a run appends.
    m_window->presenter().resetView(false);
    QVERIFY(!menu->menuAction()->isEnabled());
    m_window->presenter().resetView(true);
    QVERIFY(menu->menuAction()->isEnabled());
}

void TestWindowFeedback::keyboardReachesMenusAndFocus()
{
    QVERIFY(showActive());
    test::appendFile(m_window->model(), QStringLiteral("/k/a.pdf"));
    test::appendFile(m_window->model(), QStringLiteral("/k/b.pdf"));
    FileTableView *view = table();
    view->setFocus();
    QTRY_VERIFY(view->hasFocus());

    // Shift+F10 opens the context menu, as the Menu key does, over a
    // selection.
    view->setCurrentIndex(m_window->model().index(1, int(Column::Name)));
    view->selectRows({1});
    QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(QApplication::activePopupWidget());
    auto *context = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(context && context->actions().contains(action("actionOpen")));
    context->close();
    QTRY_VERIFY(!QApplication::activePopupWidget());

    // A pressed button shows the focus as well as a raised one.
    QToolButton *subfolders = segment(2);
    subfolders->click();
    QVERIFY(subfolders->isChecked());
    view->setFocus();
    const QImage plain = subfolders->grab().toImage();
    subfolders->setFocus(Qt::TabFocusReason);
    QVERIFY(subfolders->hasFocus());
    QVERIFY(subfolders->grab().toImage() != plain);
}

void TestWindowFeedback::everyMenuHasOneLetterPerEntry()
{
    QVERIFY(showActive());
    test::appendFile(m_window->model(), QStringLiteral("/m/a.pdf"));
    popup()->add({m_data->path()});
    const auto mnemonic = [](const QString &text) -> QChar {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('&') && text.at(i + 1) != QLatin1Char('&'))
                return text.at(i + 1).toLower();
            if (text.at(i) == QLatin1Char('&'))
                ++i;
        }
        return {};
    };
    // Every menu of the window, the context menu and the menus filled as
    // they open among them.
    auto *recent = child<QMenu>("menuRecentFolders");
    QList<QMenu *> menus = m_window->findChildren<QMenu *>();
    QVERIFY(menus.size() >= 10);
    for (QMenu *menu : std::as_const(menus)) {
        // Opened twice: menus filled as they open mark each entry once.
        Q_EMIT menu->aboutToShow();
        Q_EMIT menu->aboutToShow();
        QHash<QChar, QString> keys;
        for (QAction *a : menu->actions()) {
            if (a->isSeparator() || a->text().isEmpty())
                continue;
            const QChar key = mnemonic(a->text());
            // The folders in Recent Folders are paths, not commands.
            if (menu == recent && a != action("actionRemoveMissingRecent") &&
                a != action("actionClearRecent"))
                continue;
            const QString where = menu->title() + QLatin1String(": ") + a->text();
            QVERIFY2(!key.isNull(), qPrintable(where));
            QVERIFY2(a->text().count(QLatin1Char('&')) - 2 * a->text().count(QLatin1String("&&")) ==
                         1,
                     qPrintable(where));
            QVERIFY2(!keys.contains(key), qPrintable(where + QLatin1String(" and ") + keys[key]));
            keys.insert(key, a->text());
        }
    }
    QSet<QChar> titles;
    for (QAction *a : m_window->menuBar()->actions()) {
        const QChar key = mnemonic(a->text());
        QVERIFY2(!key.isNull() && !titles.contains(key), qPrintable(a->text()));
        titles.insert(key);
    }

    // Alt+V, then S: Subfolders, not Sort By.
    QAction *subfolders = action("actionIncludeSubfolders");
    const bool before = subfolders->isChecked();
    QTest::keyClick(m_window.get(), Qt::Key_V, Qt::AltModifier);
    QTRY_COMPARE(QApplication::activePopupWidget(), child<QMenu>("menuView"));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_S);
    QTRY_COMPARE(subfolders->isChecked(), !before);
    QTRY_VERIFY(!QApplication::activePopupWidget());
}

void TestWindowFeedback::editCommandsFollowTheList()
{
    // All but Undo and Redo, which follow the history, and the prices,
    // which are no command on the list.
    QList<QAction *> commands;
    for (QAction *a : child<QMenu>("menuEdit")->actions()) {
        if (!a->isSeparator() && a != action("actionUndo") && a != action("actionRedo") &&
            a != action("actionPrices"))
            commands.append(a);
    }
    QCOMPARE(commands.size(), 12);
    const auto enabled = [&] {
        QString out;
        for (QAction *a : std::as_const(commands))
            out += a->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return out;
    };
    const QString none(commands.size(), QLatin1Char('0'));
    const QString all(commands.size(), QLatin1Char('1'));
    QCOMPARE(enabled(), none);
    test::appendFile(m_window->model(), QStringLiteral("/e/a.pdf"));
    QCOMPARE(enabled(), all);
    m_window->presenter().resetView(false);
    QCOMPARE(enabled(), none);
    m_window->presenter().resetView(true);
    QCOMPARE(enabled(), all);
    m_dialogs->messageAnswers = {true};
    action("actionRemoveAll")->trigger();
    QCOMPARE(m_window->model().rowCount(), 0);
    QCOMPARE(enabled(), none);
}

void TestWindowFeedback::ctrlHomeAndEndMoveTheAnchor_data()
{
    QTest::addColumn<int>("clicked");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("shiftClicked");
    QTest::addColumn<QList<int>>("selected");
    // Ten rows: a click, the key, then Shift+click selects from where the
    // key went.
    QTest::newRow("Ctrl+Home") << 6 << int(Qt::Key_Home) << 3 << QList<int>{0, 1, 2, 3};
    QTest::newRow("Ctrl+Home, below")
        << 2 << int(Qt::Key_Home) << 5 << QList<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("Ctrl+End") << 2 << int(Qt::Key_End) << 6 << QList<int>{6, 7, 8, 9};
}

void TestWindowFeedback::ctrlHomeAndEndMoveTheAnchor()
{
    QFETCH(int, clicked);
    QFETCH(int, key);
    QFETCH(int, shiftClicked);
    QFETCH(QList<int>, selected);
    for (int i = 0; i < 10; ++i)
        test::appendFile(m_window->model(), QStringLiteral("/h/%1.pdf").arg(i));
    QVERIFY(showActive());
    FileTableView *view = table();
    view->setFocus();
    QTRY_VERIFY(view->hasFocus());
    const auto at = [&](int row) {
        return view->visualRect(m_window->model().index(row, int(Column::Name))).center();
    };
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(clicked));
    QCOMPARE(view->selectedRows(), QList<int>{clicked});
    QTest::keyClick(view, Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(view->currentIndex().row(), key == Qt::Key_Home ? 0 : 9);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(shiftClicked));
    QCOMPARE(view->selectedRows(), selected);
    // Shift+arrows extend from there too.
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    QVERIFY(view->selectedRows().contains(key == Qt::Key_Home ? 0 : 9));
}

void TestWindowFeedback::countedIsWhatTheTableLists()
{
    QVERIFY(showActive());
    test::appendFile(m_window->model(), QStringLiteral("/before/a.pdf"), 3);
    RunPresenter &presenter = m_window->presenter();
    presenter.resetView(false);
    presenter.processStarted();
    // The run's word on how far it got, then a batch that overtakes it.
    presenter.progress({3000, 1000, QString()});
    auto batch = std::make_shared<FileBatch>();
    for (int i = 0; i < 1200; ++i)
        batch->items.push_back(std::make_unique<FileItem>(
            QUrl::fromLocalFile(QStringLiteral("/run/%1.tif").arg(i)), 1, 0));
    Q_EMIT collectionRun().filesCounted(batch);
    QCOMPARE(m_window->model().rowCount(), 1201);
    QCOMPARE(test::figures(label("progressLabel")), QStringLiteral("3,000 1,200"));
    // Found is never fewer than counted.
    presenter.progress({1100, 1100, QString()});
    QCOMPARE(test::figures(label("progressLabel")), QStringLiteral("1,200 1,200"));
    // One form for every figure.
    QTRY_VERIFY(test::figures(label("fileTotalsLabel")).startsWith(QStringLiteral("1,201 ")));
    QCOMPARE(test::figures(label("pageTotalsLabel")), QStringLiteral("1,200 3"));
    presenter.resetView(true);
}

void TestWindowFeedback::cancelledRunSaysWhatWasLeft()
{
    // The last file in walk order does not answer: cancelled, the run
    // leaves it out, and says so.
    const QString dir = makeFolder(QStringLiteral("cut"), 30, 0);
    QVERIFY(test::writePdf(dir + QStringLiteral("/zz.pdf"), 1));
    test::FakeShare share;
    share.hang("/zz.pdf");
    m_dialogs->fileAnswers = {{dir}};
    QSignalSpy finished(&collectionRun(), &CollectionRun::finished);
    action("actionAddFolder")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->model().rowCount(), 30, 60000);
    QTRY_VERIFY(share.isHanging());
    action("actionCancel")->trigger();
    QVERIFY(!finished.isEmpty() || finished.wait(60000));
    // One of the 31 files found left out.
    QCOMPARE(test::figures(message()), QStringLiteral("1 31"));
    share.release();
}

void TestWindowFeedback::fileActionsNeedASelection()
{
    const QList<QAction *> acting = {action("actionOpen"), action("actionShowInFileManager"),
                                     action("actionProperties")};
    const auto enabled = [&] {
        QString out;
        for (QAction *a : acting)
            out += a->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return out;
    };
    QCOMPARE(enabled(), QStringLiteral("000"));
    test::appendFile(m_window->model(), QStringLiteral("/f/a.pdf"));
    test::appendFile(m_window->model(), QStringLiteral("/f/b.pdf"));
    QCOMPARE(enabled(), QStringLiteral("000"));
    table()->selectRows({1});
    QCOMPARE(enabled(), QStringLiteral("111"));
    // The selected row removed: nothing is selected any more.
    m_dialogs->messageAnswers = {true};
    action("actionRemoveSelected")->trigger();
    QCOMPARE(m_window->model().rowCount(), 1);
    QCOMPARE(enabled(), table()->selectionModel()->hasSelection() ? QStringLiteral("111")
                                                                  : QStringLiteral("000"));
    table()->selectAll();
    QCOMPARE(enabled(), QStringLiteral("111"));
    m_dialogs->messageAnswers = {true};
    action("actionRemoveAll")->trigger();
    QCOMPARE(m_window->model().rowCount(), 0);
    QCOMPARE(enabled(), QStringLiteral("000"));
}

void TestWindowFeedback::wordsOnWhatACommandCameTo()
{
    auto *words = child<QLabel>("messageLabel");
    QVERIFY(words->isHidden());
    const QString dir = makeFolder(QStringLiteral("again"), 2, 1);
    m_dialogs->fileAnswers = {{dir}};
    QVERIFY(run([&] { action("actionAddFolder")->trigger(); }));
    QCOMPARE(files().size(), 3);
    QVERIFY(message().isEmpty() && words->isHidden());

    // The same folder again adds nothing, and says why.
    m_dialogs->fileAnswers = {{dir}};
    QVERIFY(run([&] { action("actionAddFolder")->trigger(); }));
    QCOMPARE(test::figures(message()), QStringLiteral("3"));
    QVERIFY(!words->isHidden());
    // Partly listed: how many of each.
    test::writeTiff(dir + QStringLiteral("/new.tif"), 1);
    m_dialogs->fileAnswers = {{dir}};
    QVERIFY(run([&] { action("actionAddFolder")->trigger(); }));
    QCOMPARE(test::figures(message()), QStringLiteral("1 3"));

    // An edit of the list makes the word stale: it goes.
    table()->selectRows({0});
    m_dialogs->messageAnswers = {true};
    action("actionRemoveSelected")->trigger();
    QVERIFY(message().isEmpty() && words->isHidden());

    // A finished export says where the list went.
    const QString out = m_data->filePath(QStringLiteral("out.txt"));
    m_dialogs->fileAnswers = {{out}};
    QSignalSpy exported(&m_window->exporter(), &ListExporter::exported);
    action("actionExport")->trigger();
    QVERIFY(exported.wait());
    QCOMPARE(test::figures(message()), QStringLiteral("3"));
    QVERIFY(message().contains(QStringLiteral("out.txt")));
}

void TestWindowFeedback::folderWhoseFilesAreInSubfolders()
{
    // Boxes of scans, nothing at the top.
    const QString top = m_data->filePath(QStringLiteral("customer"));
    makeFolder(QStringLiteral("customer/Box 1"), 2, 0);
    makeFolder(QStringLiteral("customer/Box 2/inner"), 0, 3);
    popup()->add({top});
    test::appendFile(m_window->model(), QStringLiteral("/old/one.pdf"));
    QVERIFY(!m_window->intake().includeSubfolders());
    QVERIFY(run([&] { Q_EMIT popup()->activated(1); }));
    // The list is emptied for the folder, and the window says where its
    // files are and how to take them.
    QCOMPARE(files().size(), 0);
    QCOMPARE(test::figures(message()), QStringLiteral("5"));
    QVERIFY(message().contains(
        child<QAction>("actionIncludeSubfolders")->shortcut().toString(QKeySequence::NativeText)));
    segment(2)->click();
    QVERIFY(run([&] { Q_EMIT popup()->activated(1); }));
    QCOMPARE(files().size(), 5);
    QVERIFY(message().isEmpty());
}

QTEST_MAIN(TestWindowFeedback)
#include "tst_windowfeedback.moc"
