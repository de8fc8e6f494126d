#pragma once

#include <chrono>
#include <functional>
#include <random>

namespace vestrel::chat {

// How long the client waits before it calls a lost server again: 1 s, doubling up to 60 s. Each delay
// is moved by up to a fifth either way at random, so that the office's clients do not all call back in
// the same instant when the server comes back.
class ReconnectBackoff {
public:
    static constexpr std::chrono::milliseconds First{1000};
    static constexpr std::chrono::milliseconds Longest{60000};

    // `random` answers a number in [0, 1); without one, a generator seeded by the system does.
    explicit ReconnectBackoff(std::function<double()> random = {});

    // The delay before the next attempt; each call doubles the one after it.
    std::chrono::milliseconds next();
    // Back to the first delay (the server answered).
    void reset() { m_attempts = 0; }
    int attempts() const { return m_attempts; }

private:
    std::function<double()> m_random;
    std::mt19937 m_generator;
    int m_attempts = 0;
};

// The life of the window's connection to the server. The window reports what happened (the user asked,
// an attempt ended, the server went away, a retry is due) and carries out the action answered; the
// connect itself runs on a thread of its own, so nothing here ever waits.
//
// A connection lost while connected is called again by itself, with the backoff above, until a connect
// succeeds or the user disconnects on purpose. A connect the user asked for that fails is reported, not
// retried: wrong settings would otherwise be tried for ever in silence. A call again that meets a fault
// no retry can mend (a certificate not trusted for the server, a refused account) is reported too, and
// the calls stop until the user connects again.
class ConnectionMachine {
public:
    enum class State { Disconnected, Connecting, Connected, Disconnecting };
    enum class Action {
        None,
        StartConnect,    // start an attempt on the connection's own thread
        LogIn,           // the attempt succeeded: start receiving and log in
        CloseConnection, // log out if possible and close the connection
        ReportFailure,   // tell the user the connect failed
        ScheduleRetry,   // wait retryDelay(), then report retryDue()
    };

    explicit ConnectionMachine(std::function<double()> random = {})
        : m_backoff(std::move(random)) {}

    State state() const { return m_state; }
    bool connected() const { return m_state == State::Connected; }
    // A lost connection is being called again.
    bool reconnecting() const { return m_reconnecting; }
    // An attempt's thread is still running (its result may come after a cancel).
    bool attemptRunning() const { return m_attemptRunning; }

    Action connectRequested();
    // `lasting`: the attempt failed in a way calling again cannot mend.
    Action connectFinished(bool ok, bool lasting = false);
    // The user disconnects (or the program ends): no more retries.
    Action disconnectRequested();
    void disconnectFinished();
    Action connectionLost();
    Action retryDue();

    // The delay before the retry that the last ScheduleRetry asked for.
    std::chrono::milliseconds retryDelay() const { return m_retryDelay; }

private:
    State m_state = State::Disconnected;
    bool m_reconnecting = false;
    bool m_attemptRunning = false;
    ReconnectBackoff m_backoff;
    std::chrono::milliseconds m_retryDelay{0};

    Action scheduleRetry();
};

} // namespace vestrel::chat
