#pragma once

#include <QDate>

namespace vestrel::reminders {

// Where the reminders take "today" from. The programs use SystemClock; tests and the command-line
// tool's --date give a fixed day.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDate today() const = 0;
};

class SystemClock final : public Clock {
public:
    QDate today() const override { return QDate::currentDate(); }
};

class FixedClock final : public Clock {
public:
    explicit FixedClock(QDate day)
        : m_day(day) {}
    QDate today() const override { return m_day; }

private:
    QDate m_day;
};

} // namespace vestrel::reminders
