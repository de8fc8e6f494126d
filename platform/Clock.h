#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <utility>

namespace vestrel {

// Where the programs take the current day and time from. They use SystemClock; tests and tools that
// work for a given day (vericorr-due --date) put a FixedClock in its place.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    QDate today() const { return now().date(); }
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A clock that stands still until it is set again.
class FixedClock final : public Clock {
public:
    explicit FixedClock(QDateTime now = {})
        : m_now(std::move(now)) {}
    // Noon of `day`, so that neither end of the day is near.
    explicit FixedClock(QDate day)
        : m_now(day, QTime(12, 0)) {}

    QDateTime now() const override { return m_now; }
    void set(const QDateTime& now) { m_now = now; }

private:
    QDateTime m_now;
};

} // namespace vestrel
