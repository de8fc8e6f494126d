#include "components/MessageTimer.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

using namespace vestrel;

namespace {

// Milliseconds left in the running period of `timer`, as this thread's dispatcher sees it.
int remaining(const TMessageTimer& timer) {
    return QAbstractEventDispatcher::instance()->remainingTime(timer.TimerId());
}

} // namespace

class TestMessageTimer : public QObject {
    Q_OBJECT

private slots:
    void newTimerDoesNotRun();
    void enablingWithIntervalZeroLeavesItStopped();
    void intervalZeroPausesAndANewIntervalResumes();
    void sameIntervalKeepsThePeriod();
    void enablingARunningTimerRestartsThePeriod();
    void removingTheHandlerStopsTicksUntilEnabledAgain();
    void oneShotStopsBeforeItsHandlerRuns();
    void handlerLivesAsLongAsItsTimers();
    void timerMayDestroyItselfInItsHandler();
    void ticksOnAWorkerThreadWithItsOwnHandler();
    void timerLeftBehindByItsThreadIsHarmless();
    void armFailsWhereNoTimerCanRun();
};

void TestMessageTimer::newTimerDoesNotRun() {
    TMessageTimer plain;
    QCOMPARE(plain.Interval(), 1000);
    QVERIFY(!plain.Enabled());
    QVERIFY(!plain.OnTimer());

    TMessageTimer service(300000, [](TMessageTimer*) {});
    QCOMPARE(service.Interval(), 300000);
    QVERIFY(!service.Enabled());
    QVERIFY(!service.IsTicking());
    QVERIFY(!service.OneShot());
}

void TestMessageTimer::enablingWithIntervalZeroLeavesItStopped() {
    TMessageTimer timer(0, [](TMessageTimer*) {});
    QVERIFY(!timer.Arm());
    timer.SetEnabled(true);
    QVERIFY(!timer.Enabled());
    QVERIFY(!timer.IsTicking());
}

void TestMessageTimer::intervalZeroPausesAndANewIntervalResumes() {
    int ticks = 0;
    TMessageTimer timer(10, [&](TMessageTimer*) { ++ticks; });
    timer.SetEnabled(true);
    QTRY_VERIFY(ticks >= 1);

    timer.SetInterval(0);
    QVERIFY(timer.Enabled());
    QVERIFY(!timer.IsTicking());

    const int before = ticks;
    timer.SetInterval(500);
    QVERIFY(timer.Enabled());
    QVERIFY(timer.IsTicking());
    QTRY_VERIFY(ticks > before);
}

// Whether a period restarted shows in the time left of a long period: half a second gone stays gone
// unless the period starts again.
void TestMessageTimer::sameIntervalKeepsThePeriod() {
    TMessageTimer timer(60000, [](TMessageTimer*) {});
    timer.SetEnabled(true);
    QTRY_VERIFY(remaining(timer) < 59500);
    timer.SetInterval(60000);
    QVERIFY(remaining(timer) < 59500);
}

void TestMessageTimer::enablingARunningTimerRestartsThePeriod() {
    TMessageTimer timer(60000, [](TMessageTimer*) {});
    timer.SetEnabled(true);
    QTRY_VERIFY(remaining(timer) < 59500);
    timer.SetEnabled(true);
    QVERIFY(timer.Enabled());
    QVERIFY(remaining(timer) > 59500);
}

void TestMessageTimer::removingTheHandlerStopsTicksUntilEnabledAgain() {
    int ticks = 0;
    const TNotifyEvent count = [&](TMessageTimer*) {
        ++ticks;
    };
    TMessageTimer timer(10, count);
    timer.SetEnabled(true);
    QTRY_VERIFY(ticks >= 1);

    timer.SetOnTimer({});
    QVERIFY(timer.Enabled());
    QVERIFY(!timer.IsTicking());

    // Giving a handler back does not restart the ticks; enabling does.
    timer.SetOnTimer(count);
    QVERIFY(!timer.IsTicking());
    const int before = ticks;
    timer.SetEnabled(true);
    QTRY_VERIFY(ticks > before);
}

void TestMessageTimer::oneShotStopsBeforeItsHandlerRuns() {
    int ticks = 0;
    bool enabledInHandler = true;
    TMessageTimer timer(5, [&](TMessageTimer* sender) {
        ++ticks;
        enabledInHandler = sender->Enabled();
    });
    timer.SetOneShot(true);
    timer.SetEnabled(true);
    QTRY_COMPARE(ticks, 1);
    QVERIFY(!enabledInHandler);
    QVERIFY(!timer.Enabled());
    QVERIFY(!timer.IsTicking());
}

void TestMessageTimer::handlerLivesAsLongAsItsTimers() {
    QCOMPARE(TMessageTimerHandler::Instance(), nullptr);
    TMessageTimerHandler::DetachTimerHandler(); // nothing to detach: the count stays at 0, not below
    auto first = std::make_unique<TMessageTimer>();
    auto second = std::make_unique<TMessageTimer>(20, [](TMessageTimer*) {});
    QPointer<TMessageTimerHandler> handler = TMessageTimerHandler::Instance();
    QVERIFY(handler);
    QCOMPARE(handler->UserCount(), 2);

    second->SetEnabled(true);
    second.reset();
    QVERIFY(handler);
    QCOMPARE(handler->UserCount(), 1);
    first.reset();
    QVERIFY(handler.isNull());
    QCOMPARE(TMessageTimerHandler::Instance(), nullptr);

    // A later timer gets a new handler and ticks through it.
    int ticks = 0;
    TMessageTimer later(5, [&](TMessageTimer*) { ++ticks; });
    QVERIFY(TMessageTimerHandler::Instance());
    QCOMPARE(TMessageTimerHandler::Instance()->UserCount(), 1);
    later.SetEnabled(true);
    QTRY_VERIFY(ticks >= 1);
}

void TestMessageTimer::timerMayDestroyItselfInItsHandler() {
    auto* timer = new TMessageTimer(5, [](TMessageTimer* sender) { delete sender; });
    QPointer<TMessageTimerHandler> handler = TMessageTimerHandler::Instance();
    timer->SetEnabled(true);
    QTRY_VERIFY(handler.isNull());
}

void TestMessageTimer::ticksOnAWorkerThreadWithItsOwnHandler() {
    TMessageTimer uiTimer;
    TMessageTimerHandler* uiHandler = TMessageTimerHandler::Instance();

    QThread worker;
    worker.start();
    QObject context;
    context.moveToThread(&worker);

    std::unique_ptr<TMessageTimer> timer;
    TMessageTimerHandler* workerHandler = nullptr;
    std::atomic<int> ticks = 0;
    std::atomic<int> ticksElsewhere = 0;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            timer = std::make_unique<TMessageTimer>(
                5, [&](TMessageTimer*) { ++(QThread::currentThread() == &worker ? ticks : ticksElsewhere); });
            workerHandler = TMessageTimerHandler::Instance();
            timer->SetEnabled(true);
        },
        Qt::BlockingQueuedConnection);
    QVERIFY(workerHandler);
    QVERIFY(workerHandler != uiHandler);
    QTRY_VERIFY(ticks >= 3);

    bool workerHandlerGone = false;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            timer.reset();
            workerHandlerGone = TMessageTimerHandler::Instance() == nullptr;
        },
        Qt::BlockingQueuedConnection);
    worker.quit();
    QVERIFY(worker.wait(10000));
    QVERIFY(workerHandlerGone);
    QCOMPARE(ticksElsewhere.load(), 0);
    QCOMPARE(TMessageTimerHandler::Instance(), uiHandler);
}

void TestMessageTimer::timerLeftBehindByItsThreadIsHarmless() {
    TMessageTimer uiTimer;
    TMessageTimerHandler* uiHandler = TMessageTimerHandler::Instance();

    std::unique_ptr<TMessageTimer> leftBehind;
    QThread worker;
    QObject context;
    context.moveToThread(&worker);
    worker.start();
    QMetaObject::invokeMethod(
        &context,
        [&] {
            leftBehind = std::make_unique<TMessageTimer>(5, [](TMessageTimer*) {});
            leftBehind->SetEnabled(true);
        },
        Qt::BlockingQueuedConnection);
    worker.quit();
    QVERIFY(worker.wait(10000));

    // The worker's handler went with its thread; the timer neither ticks nor touches this thread's handler.
    QVERIFY(!leftBehind->IsTicking());
    leftBehind.reset();
    QCOMPARE(TMessageTimerHandler::Instance(), uiHandler);
    QCOMPARE(uiHandler->UserCount(), 1);
}

void TestMessageTimer::armFailsWhereNoTimerCanRun() {
    TMessageTimer negative(-1, [](TMessageTimer*) {});
    QVERIFY(!negative.Arm());
    QVERIFY(!negative.Enabled());

    // A thread without an event loop cannot run timers.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("startTimer")));
    bool armed = true;
    bool enabled = true;
    std::thread bare([&] {
        TMessageTimer timer(10, [](TMessageTimer*) {});
        armed = timer.Arm();
        enabled = timer.Enabled();
    });
    bare.join();
    QVERIFY(!armed);
    QVERIFY(!enabled);
}

QTEST_GUILESS_MAIN(TestMessageTimer)
#include "test_messagetimer.moc"
