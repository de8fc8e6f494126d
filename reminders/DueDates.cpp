#include "reminders/DueDates.h"

#include <cmath>

namespace vestrel::reminders {

namespace {
const QDate oleEpoch(1899, 12, 30);
}

std::optional<QDate> WeeklyDueDate(QDate today, qint64 w) {
    if (w < 0 || w > 6)
        return std::nullopt;
    // dayOfWeek() is the ISO weekday (1 = Monday), so this stays inside today's ISO week even when the
    // week began in the previous calendar year.
    return today.addDays(w + 1 - today.dayOfWeek());
}

std::optional<QDate> MonthlyDueDate(QDate today, qint64 d) {
    const qint64 n = today.daysInMonth();
    if (n < d + 1)
        d = n - 1;
    if (d < 0)
        return std::nullopt;
    return QDate(today.year(), today.month(), int(d + 1));
}

std::optional<QDate> YearlyDueDate(QDate today, qint64 d, qint64 m) {
    if (d < 0 || d > 30 || m < 0 || m > 11)
        return std::nullopt;
    const QDate due(today.year(), int(m + 1), int(d + 1));
    if (!due.isValid())
        return std::nullopt;
    return due;
}

double ToOleDate(QDate date) {
    return double(oleEpoch.daysTo(date));
}

std::optional<QDate> FromOleDate(double oleDate) {
    // About 2700 years either side of the epoch: anything further is damage, not a dismissal.
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 1.0e6)
        return std::nullopt;
    // The day is the whole part; before the epoch the fraction is a positive time of the day too.
    return oleEpoch.addDays(qint64(std::trunc(oleDate)));
}

} // namespace vestrel::reminders
