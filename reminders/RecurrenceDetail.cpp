#include "reminders/RecurrenceDetail.h"

#include "reminders/Scanf.h"

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

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

namespace {

struct CriterionNames {
    Criterio criterio;
    char16_t letter;
    const char16_t* name;
};

constexpr CriterionNames Criteria[] = {
    {CriterioOnce, u'U', u"Unica"},      {CriterioDaily, u'G', u"Giornaliera"}, {CriterioWeekly, u'S', u"Settimanale"},
    {CriterioMonthly, u'M', u"Mensile"}, {CriterioYearly, u'A', u"Annuale"},
};

const CriterionNames* findCriterion(qint64 criterio) {
    for (const CriterionNames& names : Criteria) {
        if (names.criterio == criterio)
            return &names;
    }
    return nullptr;
}

} // namespace

QString CriterionLetter(qint64 criterio) {
    const CriterionNames* names = findCriterion(criterio);
    return names ? QString(QChar(names->letter)) : QString();
}

QString CriterionDisplayName(qint64 criterio) {
    const CriterionNames* names = findCriterion(criterio);
    return names ? QString::fromUtf16(names->name) : QString();
}

} // namespace vestrel::reminders
