// The rules of the chat client's connection: its states, what each event asks the window to do, and
// the backoff between calls to a lost server. No socket and no timer: the tests report the events.
#include "chat/ConnectionMachine.h"

#include <QTest>

using namespace vestrel::chat;
using namespace std::chrono_literals;

using State = ConnectionMachine::State;
using Action = ConnectionMachine::Action;

class TestChatConnection : public QObject {
    Q_OBJECT
private slots:
    void backoffDoublesToAMinuteWithinItsJitter() {
        double random = 0.5; // the middle of the spread: exactly the base delay
        ReconnectBackoff backoff([&random] { return random; });
        const std::chrono::milliseconds expected[] = {1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s, 60s};
        for (const auto delay : expected)
            QCOMPARE(backoff.next(), delay);
        // Many attempts later the delay neither overflows nor passes the longest one.
        for (int i = 0; i < 100; ++i)
            backoff.next();
        QCOMPARE(backoff.next(), 60s);

        // The jitter moves each delay by up to a fifth either way.
        backoff.reset();
        random = 0.0;
        QCOMPARE(backoff.next(), 800ms);
        random = 0.999999;
        QVERIFY(backoff.next() <= 2400ms && backoff.next() >= 4000ms);
        random = 7.0; // a broken source stays inside the spread
        QCOMPARE(backoff.next(), 9600ms);

        // The default source spreads the clients' calls.
        ReconnectBackoff seeded;
        const auto first = seeded.next();
        QVERIFY(first >= 800ms && first <= 1200ms);
    }

    void aUserConnectThatFailsIsReportedNotRetried() {
        ConnectionMachine machine([] { return 0.5; });
        QCOMPARE(machine.connectRequested(), Action::StartConnect);
        QCOMPARE(machine.state(), State::Connecting);
        QCOMPARE(machine.connectRequested(), Action::None); // one attempt at a time
        QCOMPARE(machine.connectFinished(false), Action::ReportFailure);
        QCOMPARE(machine.state(), State::Disconnected);
        QVERIFY(!machine.reconnecting());
        QCOMPARE(machine.retryDue(), Action::None);
    }

    void aLostServerIsCalledAgainWithBackoffUntilItAnswers() {
        ConnectionMachine machine([] { return 0.5; });
        machine.connectRequested();
        QCOMPARE(machine.connectFinished(true), Action::LogIn);
        QVERIFY(machine.connected());

        QCOMPARE(machine.connectionLost(), Action::ScheduleRetry);
        QCOMPARE(machine.retryDelay(), 1s);
        QVERIFY(machine.reconnecting());
        QCOMPARE(machine.connectionLost(), Action::None); // reported once per connection
        for (const auto delay : {2s, 4s, 8s}) {
            QCOMPARE(machine.retryDue(), Action::StartConnect);
            QCOMPARE(machine.connectFinished(false), Action::ScheduleRetry); // silent while retrying
            QCOMPARE(machine.retryDelay(), delay);
        }
        QCOMPARE(machine.retryDue(), Action::StartConnect);
        QCOMPARE(machine.connectFinished(true), Action::LogIn);
        QVERIFY(!machine.reconnecting());

        // The next loss starts again from the first delay.
        QCOMPARE(machine.connectionLost(), Action::ScheduleRetry);
        QCOMPARE(machine.retryDelay(), 1s);
    }

    void aChangedCertificateEndsTheCallsAndIsReported() {
        ConnectionMachine machine([] { return 0.5; });
        machine.connectRequested();
        machine.connectFinished(true);
        machine.connectionLost();
        QCOMPARE(machine.retryDue(), Action::StartConnect);
        QCOMPARE(machine.connectFinished(false, true), Action::ReportFailure);
        QCOMPARE(machine.state(), State::Disconnected);
        QVERIFY(!machine.reconnecting());
        QCOMPARE(machine.retryDue(), Action::None);

        // The user connects again later: the backoff starts from the beginning.
        QCOMPARE(machine.connectRequested(), Action::StartConnect);
        QCOMPARE(machine.connectFinished(true), Action::LogIn);
        QCOMPARE(machine.connectionLost(), Action::ScheduleRetry);
        QCOMPARE(machine.retryDelay(), 1s);
    }

    void disconnectingOnPurposeStopsTheRetries() {
        ConnectionMachine machine([] { return 0.5; });
        machine.connectRequested();
        machine.connectFinished(true);
        machine.connectionLost();
        QCOMPARE(machine.disconnectRequested(), Action::None);
        QVERIFY(!machine.reconnecting());
        QCOMPARE(machine.retryDue(), Action::None); // a timer that fires late changes nothing

        // A connected client logs out and closes; the loss the close causes is no loss.
        machine.connectRequested();
        machine.connectFinished(true);
        QCOMPARE(machine.disconnectRequested(), Action::CloseConnection);
        QCOMPARE(machine.state(), State::Disconnecting);
        QCOMPARE(machine.connectionLost(), Action::None);
        machine.disconnectFinished();
        QCOMPARE(machine.state(), State::Disconnected);
        QVERIFY(!machine.reconnecting());
    }

    void aConnectGivenUpIsClosedWhenItSucceedsLate() {
        ConnectionMachine machine;
        machine.connectRequested();
        QCOMPARE(machine.disconnectRequested(), Action::None);
        QCOMPARE(machine.state(), State::Disconnected);
        QVERIFY(machine.attemptRunning());
        QCOMPARE(machine.connectFinished(true), Action::CloseConnection);
        QCOMPARE(machine.state(), State::Disconnected);

        // Asked again while the given-up attempt still runs, the window adopts it instead of starting
        // a second one on the same connection.
        machine.connectRequested();
        machine.disconnectRequested();
        QCOMPARE(machine.connectRequested(), Action::None);
        QCOMPARE(machine.state(), State::Connecting);
        QCOMPARE(machine.connectFinished(true), Action::LogIn);
        QVERIFY(machine.connected());
    }
};

QTEST_GUILESS_MAIN(TestChatConnection)
#include "tst_chatconnection.moc"
