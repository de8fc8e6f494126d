#pragma once

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>

namespace vestrel {

class TMessageTimer;

using TNotifyEvent = std::function<void(TMessageTimer* sender)>;

// The hidden receiver that all timers of one thread share. It lives in the thread that made it and gets
// the timer events through that thread's event loop. It exists while at least one timer of its thread
// exists: the first timer attaches (creating it), the last one to go detaches (destroying it).
class TMessageTimerHandler : public QObject {
    Q_OBJECT

public:
    // Counts one more user of this thread's handler, creating the handler when there is none.
    static TMessageTimerHandler* AttachTimerHandler();
    // Counts one user less (never below 0); at 0 the handler is destroyed.
    static void DetachTimerHandler();
    // This thread's handler, or nullptr when there is none.
    static TMessageTimerHandler* Instance();

    ~TMessageTimerHandler() override;

    int UserCount() const { return m_users; }

    // The stand-ins for SetTimer / KillTimer: start `timer` with a period of `interval` ms, replacing a
    // running period; stop it. False when the timer cannot be started or was not running.
    bool SetTimer(TMessageTimer* timer, int interval);
    bool KillTimer(TMessageTimer* timer);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    friend class TMessageTimer;
    TMessageTimerHandler() = default;

    int m_users = 0;
    int m_dispatching = 0;
    QHash<int, TMessageTimer*> m_timers; // running timers by their event identifier
    QSet<TMessageTimer*> m_attached;     // every timer using this handler, told when it goes first
};

// A light timer that needs no owner and no window. It ticks through the event loop of the thread that
// constructed it; arm, disarm and destroy it on that thread.
class TMessageTimer {
public:
    TMessageTimer();
    TMessageTimer(int interval, TNotifyEvent onTimer);
    ~TMessageTimer();

    TMessageTimer(const TMessageTimer&) = delete;
    TMessageTimer& operator=(const TMessageTimer&) = delete;

    // Starts the period; false, changing nothing, when Interval is 0. Arming a running timer restarts it.
    bool Arm();
    // Stops the period; with `clearEnabled` Enabled becomes false. False when it was not running.
    bool Disarm(bool clearEnabled);

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value);

    int Interval() const { return m_interval; }
    void SetInterval(int value);

    const TNotifyEvent& OnTimer() const { return m_onTimer; }
    void SetOnTimer(TNotifyEvent handler);

    // When set, a tick stops the timer (Enabled false) before the handler runs.
    bool OneShot() const { return m_oneShot; }
    void SetOneShot(bool value) { m_oneShot = value; }

    // Whether the period runs now (Enabled may be set while it does not, see SetInterval and SetOnTimer).
    bool IsTicking() const { return m_timerId != 0; }
    // The identifier of the running period in its thread's event dispatcher, 0 when none runs.
    int TimerId() const { return m_timerId; }

private:
    friend class TMessageTimerHandler;

    TMessageTimerHandler* m_handler = nullptr;
    int m_timerId = 0; // the handler's event identifier while the period runs
    bool m_enabled = false;
    bool m_oneShot = false;
    int m_interval = 1000;
    TNotifyEvent m_onTimer;
};

} // namespace vestrel
