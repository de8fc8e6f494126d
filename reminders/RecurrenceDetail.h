#pragma once

#include <QByteArray>
#include <QString>

namespace vestrel::reminders {

enum Criterio { CriterioOnce = 0, CriterioDaily = 1, CriterioWeekly = 2, CriterioMonthly = 3, CriterioYearly = 4 };

// The numbers of a SOTTOCRITERIO text, read with "%d" (one) or "%d %d" (two); numbers the text does not
// give stay 0.
struct DetailNumbers {
    qint32 first = 0;
    qint32 second = 0;
};
DetailNumbers ScanDetail(const QByteArray& detail, int count);

// The SOTTOCRITERIO texts the editor's combos write: the zero-based item index of the weekday or day
// ("%d"), or day index, one space, month index ("%d %d"). An unselected combo gives -1.
QByteArray EncodeDetail(qint32 index);
QByteArray EncodeDetail(qint32 dayIndex, qint32 monthIndex);

// The grid's one-letter column: 1 "G", 2 "S", 3 "M", 4 "A", 0 "U"; empty for other values.
QString CriterionLetter(qint64 criterio);
// The name the message window shows: "Unica", "Giornaliera", "Settimanale", "Mensile", "Annuale";
// empty for other values.
QString CriterionDisplayName(qint64 criterio);

} // namespace vestrel::reminders
