#include "reminders/RicThread.h"

#include "reminders/DueDates.h"
#include "reminders/RemindersLog.h"
#include "reminders/Scanf.h"

#include <exception>

namespace vestrel::reminders {

namespace {

enum Criterion { Once = 0, Daily = 1, Weekly = 2, Monthly = 3, Yearly = 4 };

} // namespace

ReminderEvaluation::ReminderEvaluation(MemTable& memTB, fb::RowSource& ricorr, ReminderFilters filters,
                                       const Clock& clock)
    : m_memTB(memTB)
    , m_ricorr(ricorr)
    , m_filters(std::move(filters))
    , m_clock(clock) {}

void ReminderEvaluation::Execute(const std::function<bool()>& terminated) {
    m_alert.Open();
    if (terminated())
        return;
    m_memTB.Close();
    m_memTB.Open();

    m_ricorr.First();
    while (!m_ricorr.Eof()) {
        if (terminated())
            return;
        try {
            m_today = m_clock.today();
            if (m_ricorr.FieldByName("FINACTIVE").asText() != "1") {
                switch (m_ricorr.FieldByName("CRITERIO").asInteger()) {
                case Once:
                    IsDueOnce();
                    break;
                case Daily:
                    IsDueDaily();
                    break;
                case Weekly:
                    IsDueWeekly();
                    break;
                case Monthly:
                    IsDueMonthly();
                    break;
                case Yearly:
                    IsDueYearly();
                    break;
                default:
                    break; // never due
                }
            }
        } catch (const std::exception& e) {
            // A row that cannot be handled (missing column, unreadable value, database or registry
            // error) is skipped; the walk goes on.
            reportSkipped(QString::fromLocal8Bit(e.what()));
        }
        m_ricorr.Next();
    }
}

void ReminderEvaluation::reportSkipped(const QString& reason) const {
    QByteArray id = "?";
    try {
        id = m_ricorr.FieldByName("ID").asText();
    } catch (const std::exception& e) {
        // "?" stands for the unknown ID; the reason below says what is wrong with the row.
        qCWarning(lcReminders).noquote() << "the ID of a skipped reminder cannot be read:" << e.what();
    }
    if (m_skipped)
        m_skipped(id, reason);
    else
        qCWarning(lcReminders).noquote() << "reminder" << QString::fromLatin1(id) << "skipped:" << reason;
}

qint64 ReminderEvaluation::currentId() const {
    return m_ricorr.FieldByName("ID").asInteger();
}

void ReminderEvaluation::IsDueOnce() {
    if (!m_alert.HasValue(currentId()))
        AddDueReminder();
}

void ReminderEvaluation::IsDueDaily() {
    const qint64 id = currentId();
    if (!m_alert.HasValue(id)) {
        AddDueReminder();
        return;
    }
    if (m_today > m_alert.ReadDate(id))
        AddDueReminder();
}

void ReminderEvaluation::IsDueWeekly() {
    isDueOnDate(Shape::Weekly);
}

void ReminderEvaluation::IsDueMonthly() {
    isDueOnDate(Shape::Monthly);
}

void ReminderEvaluation::IsDueYearly() {
    isDueOnDate(Shape::Yearly);
}

void ReminderEvaluation::isDueOnDate(Shape shape) {
    // An unreadable detail or dismissal raises to the walk, which skips the row and reports it.
    std::optional<QDate> due;
    const QByteArray detail = m_ricorr.FieldByName("SOTTOCRITERIO").asText();
    qint32 first = 0;
    qint32 second = 0;
    switch (shape) {
    case Shape::Weekly:
        ScanFormatted(detail, "%d", {&first});
        due = WeeklyDueDate(m_today, first);
        break;
    case Shape::Monthly:
        ScanFormatted(detail, "%d", {&first});
        due = MonthlyDueDate(m_today, first);
        break;
    case Shape::Yearly:
        ScanFormatted(detail, "%d %d", {&first, &second});
        due = YearlyDueDate(m_today, first, second);
        break;
    }
    if (!due || m_today < *due)
        return;

    const qint64 id = currentId();
    if (!m_alert.HasValue(id)) {
        AddDueReminder();
        return;
    }
    if (m_alert.ReadDate(id) < *due)
        AddDueReminder();
}

void ReminderEvaluation::AddDueReminder() {
    const QByteArray utente = m_ricorr.FieldByName("UTENTE").asText();
    const QByteArray postazione = m_ricorr.FieldByName("POSTAZIONE").asText();
    if (!PassesFilters(m_filters, utente, postazione))
        return;
    MemTBRow row;
    row.ID = m_ricorr.FieldByName("ID").asInteger();
    row.Descrizione = m_ricorr.FieldByName("DESCRIZIONE").asText();
    row.Messaggio = m_readMessage ? m_readMessage(row.ID) : m_ricorr.FieldByName("MESSAGGIO").asText();
    row.CRITERIO = qint16(m_ricorr.FieldByName("CRITERIO").asInteger());
    m_memTB.Append(std::move(row));
}

TRicThread::TRicThread(MemTable& memTB, fb::RowSource& ricorr, ReminderFilters filters, const Clock& clock,
                       QObject* parent)
    : QThread(parent)
    , m_evaluation(memTB, ricorr, std::move(filters), clock) {}

void TRicThread::run() {
    try {
        m_evaluation.Execute([this] { return isInterruptionRequested(); });
    } catch (const std::exception& e) {
        // A dataset that cannot even be walked leaves the table as far as it got; the display shows
        // what there is.
        qCWarning(lcReminders).noquote() << "the walk of the reminders stopped:" << QString::fromLocal8Bit(e.what());
    }
}

} // namespace vestrel::reminders
