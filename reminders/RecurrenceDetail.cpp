#include "reminders/RecurrenceDetail.h"

#include "reminders/Scanf.h"

using namespace Qt::StringLiterals;

namespace vestrel {

DetailNumbers ScanDetail(const QByteArray& detail, int count) {
    DetailNumbers numbers;
    if (count >= 2)
        ScanFormatted(detail, "%d %d", {&numbers.first, &numbers.second});
    else
        ScanFormatted(detail, "%d", {&numbers.first});
    return numbers;
}

QByteArray EncodeDetail(qint32 index) {
    return QByteArray::number(index);
}

QByteArray EncodeDetail(qint32 dayIndex, qint32 monthIndex) {
    return QByteArray::number(dayIndex) + ' ' + QByteArray::number(monthIndex);
}

QString CriterionLetter(qint64 criterio) {
    switch (criterio) {
    case CriterioOnce:
        return u"U"_s;
    case CriterioDaily:
        return u"G"_s;
    case CriterioWeekly:
        return u"S"_s;
    case CriterioMonthly:
        return u"M"_s;
    case CriterioYearly:
        return u"A"_s;
    default:
        return {};
    }
}

QString CriterionDisplayName(qint64 criterio) {
    switch (criterio) {
    case CriterioOnce:
        return u"Unica"_s;
    case CriterioDaily:
        return u"Giornaliera"_s;
    case CriterioWeekly:
        return u"Settimanale"_s;
    case CriterioMonthly:
        return u"Mensile"_s;
    case CriterioYearly:
        return u"Annuale"_s;
    default:
        return {};
    }
}

} // namespace vestrel
