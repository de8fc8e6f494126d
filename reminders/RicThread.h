#pragma once

#include "fb/RowSource.h"
#include "platform/Clock.h"
#include "reminders/DismissalRecord.h"
#include "reminders/MemTable.h"
#include "reminders/ReminderFilters.h"

#include <QDate>
#include <QThread>

#include <functional>

namespace vestrel::reminders {

// Told of a row the walk skipped because handling it failed: the row's ID as text ("?" when even that
// cannot be read) and the reason.
using SkippedRowFn = std::function<void(const QByteArray& id, const QString& reason)>;

// The evaluation of one run: walks every reminder of the dataset ("select * from RICORRENZE", open),
// applies the rule of each active row for today and appends the due ones that pass the filters to the
// memory table. A row whose handling fails (a damaged message, an unreadable value, a dismissal that is
// no date) is skipped and reported; the walk goes on. The message is read only for rows that are due.
class ReminderEvaluation {
public:
    ReminderEvaluation(MemTable& memTB, fb::RowSource& ricorr, ReminderFilters filters, const Clock& clock);

    // Reads the message of a due reminder by its ID. Without one the message comes from the walked rows'
    // MESSAGGIO column; with one the walk need not select it, so a message the connection cannot
    // convert fails only its own row (the engine converts a fetched row's text as a whole).
    using MessageReader = std::function<QByteArray(qint64 id)>;
    void setMessageReader(MessageReader reader) { m_readMessage = std::move(reader); }

    // Replaces the default report of a skipped row, a warning in the reminders log.
    void setSkippedRowReport(SkippedRowFn report) { m_skipped = std::move(report); }

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
    void reportSkipped(const QString& reason) const;

    MemTable& m_memTB;
    fb::RowSource& m_ricorr;
    SkippedRowFn m_skipped;
    MessageReader m_readMessage;
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
    TRicThread(MemTable& memTB, fb::RowSource& ricorr, ReminderFilters filters, const Clock& clock,
               QObject* parent = nullptr);

    ReminderEvaluation& evaluation() { return m_evaluation; }

protected:
    void run() override;

private:
    ReminderEvaluation m_evaluation;
};

} // namespace vestrel::reminders
