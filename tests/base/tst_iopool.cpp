#include "iopool.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

using namespace tallivo;

class TestIoPool : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answersOnTheAskersThread();
    void noAnswerOnceTheAskerIsGone_data();
    void noAnswerOnceTheAskerIsGone();
};

void TestIoPool::answersOnTheAskersThread()
{
    QObject asker;
    std::atomic<QThread *> worker{nullptr};
    QThread *answeredOn = nullptr;
    int value = 0;
    runOnIoPool(
        &asker,
        [&] {
            worker = QThread::currentThread();
            return 7;
        },
        [&](int v) {
            answeredOn = QThread::currentThread();
            value = v;
        });
    QTRY_COMPARE(value, 7);
    QVERIFY(worker.load() != qApp->thread());
    QCOMPARE(answeredOn, qApp->thread());
    // Work without a result answers too.
    bool done = false;
    runOnIoPool(
        &asker, [] {}, [&] { done = true; });
    QTRY_VERIFY(done);
}

void TestIoPool::noAnswerOnceTheAskerIsGone_data()
{
    QTest::addColumn<bool>("whileWorking");
    QTest::newRow("gone while the work goes on") << true;
    QTest::newRow("gone with the answer on its way") << false;
}

void TestIoPool::noAnswerOnceTheAskerIsGone()
{
    QFETCH(bool, whileWorking);
    auto asker = std::make_unique<QObject>();
    std::atomic_bool go{!whileWorking};
    bool answered = false;
    runOnIoPool(
        asker.get(),
        [&go] {
            while (!go)
                QThread::msleep(1);
            return 1;
        },
        [&](int) { answered = true; });
    if (!whileWorking) {
        // The answer is posted before the task counts as done; no events
        // are handled meanwhile, so it stays posted.
        while (IoPool::instance().pending() > 0)
            QThread::msleep(1);
    }
    asker.reset();
    go = true;
    QTRY_COMPARE(IoPool::instance().pending(), 0);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!answered);
}

QTEST_GUILESS_MAIN(TestIoPool)
#include "tst_iopool.moc"
