// A day's work in the window while the share holding the files stops
// answering: every request that touches it waits off the main thread, the
// window keeps answering, and quitting completes with the share still hung.

#include "fakes.h"
#include "fakeshare.h"
#include "importfilesdialog.h"
#include "intake.h"
#include "iopool.h"
#include "mainwindow.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"
#include "samplefiles.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

using namespace tallivo;

class TestHungShare : public QObject, public test::WindowFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void windowOnAHungShare();
    void cleanupTestCase();

private:
    // Whether an event queued now runs when the main thread next looks.
    static bool mainThreadAnswers();
};

void TestHungShare::initTestCase()
{
    setUpEnvironment();
    // Enough threads for every request below to be waiting on the share at
    // once, rather than queued behind another.
    qputenv("TALLIVO_IO_THREADS", "8");
    QVERIFY(m_data->isValid());
}

bool TestHungShare::mainThreadAnswers()
{
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&ran] { ran = true; }, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    return ran;
}

void TestHungShare::windowOnAHungShare()
{
    QCOMPARE(IoPool::instance().threadCount(), 8);
    const QString share = m_data->filePath(QStringLiteral("share"));
    const QString gone = m_data->filePath(QStringLiteral("share/gone"));
    QVERIFY(QDir().mkpath(share));
    QVERIFY(test::writeTiff(share + QStringLiteral("/t0.tif"), 2));
    const QString listFile = share + QStringLiteral("/list.txt");
    QVERIFY(test::writeBytes(listFile, (share + QStringLiteral("/t0.tif\n")).toUtf8()));

    makeWindow();
    connect(qApp, &QCoreApplication::aboutToQuit, m_window.get(), &MainWindow::prepareToQuit);
    m_window->show();
    auto *recent = popup();
    recent->add({gone});
    recent->add({share});
    test::appendFile(m_window->model(), share + QStringLiteral("/t0.tif"));

    test::FakeShare hung;
    hung.hang("/share");

    // Choosing a recent folder asks whether it is there.
    Q_EMIT recent->activated(1);
    QTRY_VERIFY(hung.isHanging());
    QVERIFY(mainThreadAnswers());

    // Remove Missing Folders asks for each of them.
    QSignalSpy removed(recent, &RecentFoldersCombo::missingRemoved);
    trigger("actionRemoveMissingRecent");
    QVERIFY(mainThreadAnswers());

    // Importing a list kept on the share: the dialog waits for its read.
    trigger("actionImport");
    ImportFilesDialog *dialog = m_window->intake().importDialog();
    QVERIFY(dialog && dialog->isVisible());
    dialog->setSource(ImportFilesDialog::Source::File);
    dialog->findChild<QLineEdit *>(QStringLiteral("listFileEdit"))->setText(listFile);
    dialog->findChild<QPushButton *>(QStringLiteral("importButton"))->click();
    QVERIFY(dialog->isBusy());
    QVERIFY(mainThreadAnswers());

    // Exporting to the share.
    const QString out = share + QStringLiteral("/export.txt");
    m_dialogs->fileAnswers = {{out}};
    trigger("actionExport");
    QVERIFY(mainThreadAnswers());

    // Nothing has come back, and nothing ran on the main thread.
    QVERIFY(removed.isEmpty());
    QVERIFY(dialog->isBusy());
    QVERIFY(!m_window->presenter().run().isActive());
    QVERIFY(!QFile::exists(out));
    QCOMPARE(hung.mainThreadVisits(), QList<QByteArray>());

    // Quit as the program does, through the event loop and its end.
    QTimer::singleShot(0, m_window.get(), [this] { trigger("actionQuit"); });
    QCOMPARE(QApplication::exec(), 0);
    m_window.reset();
    QVERIFY(hung.isHanging());
    QCOMPARE(hung.mainThreadVisits(), QList<QByteArray>());
    // What is left runs on threads nobody joins: the program leaves without
    // waiting for them. Qt's pool, which the end of the program waits for,
    // holds none of it. (The bound is no speed check: a task waiting on the
    // share would never finish.)
    QVERIFY(IoPool::instance().pending() > 0);
    QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
    QVERIFY(hung.isHanging());

    // Once the share answers, what was asked of it is done, for no window.
    hung.release();
    QTRY_VERIFY(QFile::exists(out));
    QTRY_COMPARE(IoPool::instance().pending(), 0);
}

void TestHungShare::cleanupTestCase()
{
    QVERIFY(QTest::qWaitFor([] { return IoPool::instance().pending() == 0; }, 300000));
}

QTEST_MAIN(TestHungShare)
#include "tst_hungshare.moc"
