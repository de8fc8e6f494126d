#pragma once

#include "fb/Query.h"
#include "reminders/Clock.h"
#include "reminders/DismissalRecord.h"
#include "reminders/MemTable.h"
#include "reminders/ReminderFilters.h"

#include <QDate>
#include <QThread>

#include <functional>

namespace vestrel {

// The evaluation of one run: walks every reminder of the dataset ("select * from RICORRENZE", open),
// applies the rule of each active row for today and appends the due ones that pass the filters to the
// memory table. A row whose handling fails is skipped silently.
class ReminderEvaluation {
public:
    ReminderEvaluation(MemTable& memTB, fb::Query& ricorr, ReminderFilters filters, const Clock& clock);

    // The whole walk. `terminated` is asked before the walk and before every row; when it says yes the
    // walk stops there and keeps what it has appended.
    void Execute(const std::function<bool()>& terminated);

private:
    // The rules, each on the dataset's current row for the day the walk took as today; each calls
    // AddDueReminder when the row is due.
    void IsDueOnce();
    void IsDueDaily();
    void IsDueWeekly();
    void IsDueMonthly();
    void IsDueYearly();
    // Applies the filters to the current row and appends it to the memory table.
    void AddDueReminder();

    enum class Shape { Weekly, Monthly, Yearly };
    void isDueOnDate(Shape shape);
    qint64 currentId() const;

    MemTable& m_memTB;
    fb::Query& m_ricorr;
    ReminderFilters m_filters;
    const Clock& m_clock;
    DismissalLookup m_alert;
    QDate m_today;
};

// The evaluation run on its own thread. The creator connects finished() and starts it; asking it to
// terminate (requestInterruption) stops the walk at the next row.
class TRicThread : public QThread {
    Q_OBJECT
public:
    TRicThread(MemTable& memTB, fb::Query& ricorr, ReminderFilters filters, const Clock& clock,
               QObject* parent = nullptr);

protected:
    void run() override;

private:
    ReminderEvaluation m_evaluation;
};

} // namespace vestrel
