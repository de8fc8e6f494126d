#include "chat/ConnectionMachine.h"

#include <algorithm>
#include <cmath>

namespace vestrel::chat {

ReconnectBackoff::ReconnectBackoff(std::function<double()> random)
    : m_random(std::move(random))
    , m_generator(std::random_device{}()) {
    if (!m_random) {
        m_random = [this] {
            return std::uniform_real_distribution<double>(0.0, 1.0)(m_generator);
        };
    }
}

std::chrono::milliseconds ReconnectBackoff::next() {
    const int doublings = std::min(m_attempts, 6); // 2^6 s already passes the longest delay
    const auto base = std::min<std::chrono::milliseconds>(First * (1 << doublings), Longest);
    ++m_attempts;
    const double spread = 0.8 + 0.4 * std::clamp(m_random(), 0.0, 1.0);
    return std::chrono::milliseconds(std::llround(double(base.count()) * spread));
}

ConnectionMachine::Action ConnectionMachine::connectRequested() {
    if (m_state != State::Disconnected)
        return Action::None;
    m_state = State::Connecting;
    if (m_attemptRunning)
        return Action::None; // an attempt given up a moment ago is still running: its result serves
    m_attemptRunning = true;
    return Action::StartConnect;
}

ConnectionMachine::Action ConnectionMachine::connectFinished(bool ok, bool lasting) {
    m_attemptRunning = false;
    if (m_state != State::Connecting)
        return ok ? Action::CloseConnection : Action::None; // given up meanwhile: the late one closes
    if (ok) {
        m_state = State::Connected;
        m_reconnecting = false;
        m_backoff.reset();
        return Action::LogIn;
    }
    m_state = State::Disconnected;
    if (m_reconnecting && !lasting)
        return scheduleRetry();
    m_reconnecting = false;
    m_backoff.reset();
    return Action::ReportFailure;
}

ConnectionMachine::Action ConnectionMachine::disconnectRequested() {
    m_reconnecting = false;
    m_backoff.reset();
    switch (m_state) {
    case State::Connected:
        m_state = State::Disconnecting;
        return Action::CloseConnection;
    case State::Connecting:
        m_state = State::Disconnected;
        return Action::None;
    case State::Disconnecting:
    case State::Disconnected:
        return Action::None;
    }
    return Action::None;
}

void ConnectionMachine::disconnectFinished() {
    if (m_state == State::Disconnecting)
        m_state = State::Disconnected;
}

ConnectionMachine::Action ConnectionMachine::connectionLost() {
    if (m_state != State::Connected)
        return Action::None; // a close we asked for, or a connection already given up
    m_state = State::Disconnected;
    m_reconnecting = true;
    return scheduleRetry();
}

ConnectionMachine::Action ConnectionMachine::retryDue() {
    if (!m_reconnecting || m_state != State::Disconnected)
        return Action::None;
    return connectRequested();
}

ConnectionMachine::Action ConnectionMachine::scheduleRetry() {
    m_retryDelay = m_backoff.next();
    return Action::ScheduleRetry;
}

} // namespace vestrel::chat
