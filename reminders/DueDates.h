#pragma once

#include <QDate>

#include <optional>

namespace vestrel::reminders {

// The due dates of the recurrence rules for `today`. Numbers are the zero-based values stored in
// SOTTOCRITERIO; a number that gives no real date gives std::nullopt (the row is then not due).

// The day of today's ISO 8601 week (Monday to Sunday) with ISO weekday w + 1; w must be 0 to 6.
std::optional<QDate> WeeklyDueDate(QDate today, qint64 w);
// Day d + 1 of today's month, or its last day when the month is shorter; d must not be negative.
std::optional<QDate> MonthlyDueDate(QDate today, qint64 d);
// Day d + 1 of month m + 1 of today's year, when that is a real date.
std::optional<QDate> YearlyDueDate(QDate today, qint64 d, qint64 m);

// A day date in the OLE Automation form: days since 30 December 1899.
double ToOleDate(QDate date);
// The day of an OLE Automation date (its time part dropped); std::nullopt for NaN, infinities and
// values far outside the calendar.
std::optional<QDate> FromOleDate(double oleDate);

} // namespace vestrel::reminders
