#include "components/MessageTimer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimerEvent>

namespace vestrel {

namespace {

// One handler per thread. The guard frees a handler still alive when its thread (or the program) ends.
struct HandlerSlot {
    TMessageTimerHandler* handler = nullptr;
    ~HandlerSlot();
};

thread_local HandlerSlot t_slot;

} // namespace

TMessageTimerHandler* TMessageTimerHandler::Instance() {
    return t_slot.handler;
}

TMessageTimerHandler* TMessageTimerHandler::AttachTimerHandler() {
    if (!t_slot.handler) {
        auto* handler = new TMessageTimerHandler;
        t_slot.handler = handler;
        // A worker thread frees a handler still alive when its event loop has ended, while the thread
        // can still stop the handler's timers (and before a wait() on the thread returns).
        QThread* thread = QThread::currentThread();
        if (thread && !(QCoreApplication::instance() && thread == QCoreApplication::instance()->thread())) {
            QObject::connect(
                thread, &QThread::finished, handler,
                [handler] {
                    if (t_slot.handler == handler)
                        t_slot.handler = nullptr;
                    handler->deleteLater();
                },
                Qt::DirectConnection);
        }
    }
    ++t_slot.handler->m_users;
    return t_slot.handler;
}

void TMessageTimerHandler::DetachTimerHandler() {
    TMessageTimerHandler* handler = t_slot.handler;
    if (!handler || handler->m_users == 0)
        return;
    if (--handler->m_users > 0)
        return;
    t_slot.handler = nullptr;
    // The last timer may go from inside its own tick; the handler is then still dispatching.
    if (handler->m_dispatching > 0)
        handler->deleteLater();
    else
        delete handler;
}

TMessageTimerHandler::~TMessageTimerHandler() {
    // Only at the end of the thread or program can timers outlive their handler; they then neither
    // tick nor detach any more.
    for (TMessageTimer* timer : std::as_const(m_attached)) {
        timer->m_handler = nullptr;
        timer->m_timerId = 0;
    }
}

bool TMessageTimerHandler::SetTimer(TMessageTimer* timer, int interval) {
    if (interval < 0)
        return false;
    KillTimer(timer);
    const int id = startTimer(interval, Qt::PreciseTimer);
    if (id == 0)
        return false; // no event loop in this thread, or a call from another thread
    timer->m_timerId = id;
    m_timers.insert(id, timer);
    return true;
}

bool TMessageTimerHandler::KillTimer(TMessageTimer* timer) {
    if (timer->m_timerId == 0)
        return false;
    killTimer(timer->m_timerId);
    m_timers.remove(timer->m_timerId);
    timer->m_timerId = 0;
    return true;
}

void TMessageTimerHandler::timerEvent(QTimerEvent* event) {
    TMessageTimer* timer = m_timers.value(event->timerId());
    if (!timer)
        return;
    ++m_dispatching;
    if (timer->m_oneShot)
        timer->Disarm(true);
    // A copy, so that a handler that destroys its own timer does not destroy the code it runs.
    if (const TNotifyEvent onTimer = timer->m_onTimer)
        onTimer(timer);
    --m_dispatching;
}

namespace {

HandlerSlot::~HandlerSlot() {
    delete handler;
    handler = nullptr;
}

} // namespace

TMessageTimer::TMessageTimer()
    : TMessageTimer(1000, {}) {}

TMessageTimer::TMessageTimer(int interval, TNotifyEvent onTimer)
    : m_interval(interval) {
    SetOnTimer(std::move(onTimer));
    m_handler = TMessageTimerHandler::AttachTimerHandler();
    m_handler->m_attached.insert(this);
}

TMessageTimer::~TMessageTimer() {
    if (m_enabled || m_timerId != 0)
        Disarm(true);
    if (m_handler) {
        m_handler->m_attached.remove(this);
        TMessageTimerHandler::DetachTimerHandler();
    }
}

bool TMessageTimer::Arm() {
    if (m_interval == 0)
        return false;
    if (m_enabled)
        Disarm(true);
    const bool started = m_handler && m_handler->SetTimer(this, m_interval);
    if (started)
        m_enabled = true;
    return started;
}

bool TMessageTimer::Disarm(bool clearEnabled) {
    if (clearEnabled)
        m_enabled = false;
    return m_handler && m_handler->KillTimer(this);
}

void TMessageTimer::SetEnabled(bool value) {
    if (value)
        Arm();
    else
        Disarm(true);
}

void TMessageTimer::SetInterval(int value) {
    if (value == m_interval)
        return;
    m_interval = value;
    if (!m_enabled)
        return;
    if (value != 0)
        Arm();
    else
        Disarm(false);
}

void TMessageTimer::SetOnTimer(TNotifyEvent handler) {
    m_onTimer = std::move(handler);
    if (!m_onTimer && m_enabled)
        Disarm(false);
}

} // namespace vestrel
