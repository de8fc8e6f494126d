#include "reminders/RicorrEditor.h"

#include "components/csLocale.h"
#include "fb/Statement.h"
#include "platform/Cp1252.h"
#include "reminders/RemindersLog.h"

#include <set>

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

namespace {

constexpr char Table[] = "RICORRENZE";

constexpr int LocLockConflict = 54090;
constexpr int LocConnectionLost = 54091;
constexpr int LocRefused = 54094;
constexpr int LocRowChanged = 54095;
constexpr int LocRowDeleted = 54097;

// The localised text, or the Italian one when the language library has none for the number.
QString localised(int ident, const QString& italian) {
    const QString text = LocalString(ident);
    return text.isEmpty() ? italian : text;
}

QString serverText(const std::exception& e) {
    return QString::fromLocal8Bit(e.what()).trimmed();
}

// A value as the conflict shows it; a stored text the connection cannot read is marked.
QByteArray shown(const fb::Value& value) {
    try {
        return value.asText();
    } catch (const std::exception& e) {
        qCWarning(lcReminders).noquote() << "reminders editor: a value cannot be read:" << serverText(e);
        return "?";
    }
}

} // namespace

// The row no longer holds what this editor read: another operator saved it meanwhile.
class TRicorrEditor::RowChangedError : public fb::FbError {
public:
    RowChangedError()
        : fb::FbError("the reminder was changed by another operator since it was read") {}
};

TRicorrEditor::TRicorrEditor(fb::DataSet& ricorr, fb::Connection& connection)
    : m_ricorr(ricorr)
    , m_connection(connection) {
    m_ricorr.Modify = [this](const fb::Row& read, const std::vector<fb::Value>& values) {
        writeRow(read, values);
    };
    takeSnapshot();
}

TRicorrEditor::~TRicorrEditor() {
    m_ricorr.Modify = nullptr;
}

bool TRicorrEditor::EnterGuard() {
    if (m_guard)
        return false;
    m_guard = true;
    return true;
}

qint64 TRicorrEditor::rowId(const fb::Row& row) const {
    return row.FieldByName("ID").asInt64();
}

qsizetype TRicorrEditor::indexOfId(qint64 id) const {
    for (qsizetype i = 0; i < m_ricorr.RecordCount(); ++i) {
        if (rowId(m_ricorr.RowAt(i)) == id)
            return i;
    }
    return -1;
}

void TRicorrEditor::takeSnapshot() {
    m_committed.clear();
    if (!m_ricorr.Active())
        return;
    for (qsizetype i = 0; i < m_ricorr.RecordCount(); ++i) {
        const fb::Row& row = m_ricorr.RowAt(i);
        m_committed[rowId(row)] = row;
    }
}

bool TRicorrEditor::HasUnsavedEdits() const {
    if (m_ricorr.Modified() || !m_refused.isEmpty() || m_pending)
        return true;
    if (!m_ricorr.Active())
        return false;
    if (size_t(m_ricorr.RecordCount()) != m_committed.size())
        return true;
    for (qsizetype i = 0; i < m_ricorr.RecordCount(); ++i) {
        const fb::Row& row = m_ricorr.RowAt(i);
        const auto committed = m_committed.find(rowId(row));
        if (committed == m_committed.end())
            return true;
        for (qsizetype c = 0; c < row.count(); ++c) {
            if (!row.at(c).sameAs(committed->second.at(c)))
                return true;
        }
    }
    return false;
}

void TRicorrEditor::fail(EditorFailure::Kind kind, const QString& text, const QString& details) {
    m_failure = EditorFailure{kind, text, details};
}

bool TRicorrEditor::run(const std::function<void()>& change) {
    m_failure = {};
    try {
        change();
        return true;
    } catch (const RowChangedError&) {
        // The edit buffer met a row another operator saved meanwhile.
        if (!m_ricorr.Modified()) {
            fail(EditorFailure::Kind::Other, u"internal: a conflict without an edit"_s);
            return false;
        }
        Pending pending{rowId(m_ricorr.RowAt(m_ricorr.RecNo())), m_ricorr.RowAt(m_ricorr.RecNo()), {}, {}, true};
        for (const QByteArray& name : m_ricorr.FieldNames())
            pending.mine.push_back(m_ricorr.FieldByName(name));
        try {
            pending.theirs = m_ricorr.ReadStored();
        } catch (const fb::FbError& e) {
            qCWarning(lcReminders).noquote() << "reminders editor: cannot read the stored row:" << serverText(e);
            fail(EditorFailure::Kind::Other, serverText(e));
            return false;
        }
        raiseConflict(std::move(pending));
    } catch (const fb::FbError& e) {
        qCWarning(lcReminders).noquote() << "reminders editor:" << serverText(e).simplified();
        if (e.isConnectionLost() || m_connectionLost) {
            m_connectionLost = true;
            m_replayNeeded = true;
            fail(EditorFailure::Kind::ConnectionLost,
                 localised(LocConnectionLost,
                           u"La connessione al database si è interrotta: le modifiche non sono state salvate.\n"
                           u"Restano nella finestra: premere OK o \"Riprova\" per ricollegarsi e salvarle."_s),
                 serverText(e));
        } else if (e.isLockConflict()) {
            fail(EditorFailure::Kind::LockConflict,
                 localised(LocLockConflict,
                           u"Il promemoria è in modifica su un'altra postazione e non è stato salvato.\n"
                           u"Le modifiche restano nella finestra: riprovare più tardi oppure annullarle."_s),
                 serverText(e));
        } else {
            fail(EditorFailure::Kind::Other, serverText(e));
        }
    } catch (const std::exception& e) {
        qCWarning(lcReminders).noquote() << "reminders editor:" << e.what();
        fail(EditorFailure::Kind::Other, serverText(e));
    }
    return false;
}

bool TRicorrEditor::refuseTyped() {
    if (m_refused.isEmpty())
        return false;
    QStringList characters;
    for (const QStringList& refused : std::as_const(m_refused)) {
        for (const QString& c : refused) {
            if (!characters.contains(c))
                characters.append(c);
        }
    }
    fail(EditorFailure::Kind::Refused,
         localised(LocRefused, u"Il testo contiene caratteri che il database non può memorizzare: %1\n"
                               u"Toglierli o sostituirli prima di salvare."_s)
             .arg(characters.join(u' ')));
    return true;
}

bool TRicorrEditor::SetText(QByteArrayView field, const QString& text) {
    const QStringList refused = cp1252::unrepresentable(text);
    const QByteArray key = field.toByteArray();
    if (!refused.isEmpty()) {
        // The buffer keeps its last value; the widget keeps what was typed, so the user can mend it.
        m_refused.insert(key, refused);
        return !refuseTyped();
    }
    m_refused.remove(key);
    return SetValue(field, fb::Value::fromText(cp1252::fromUnicode(text)));
}

bool TRicorrEditor::SetValue(QByteArrayView field, const fb::Value& value) {
    return run([&] {
        if (!m_ricorr.Modified())
            m_ricorr.Edit();
        m_ricorr.SetFieldValue(field, value);
    });
}

bool TRicorrEditor::SetCriterion(int criterio) {
    if (refuseTyped())
        return false;
    return run([&] {
        if (!m_ricorr.Modified())
            m_ricorr.Edit();
        m_ricorr.SetFieldValue("CRITERIO", fb::Value::fromInteger(criterio));
        m_ricorr.Post();
    });
}

bool TRicorrEditor::WriteDetail(const QByteArray& detail) {
    if (!EnterGuard())
        return true;
    const bool ok = !refuseTyped() && run([&] {
        if (!m_ricorr.Modified())
            m_ricorr.Edit();
        m_ricorr.SetFieldValue("SOTTOCRITERIO", fb::Value::fromText(detail));
        m_ricorr.Post();
    });
    LeaveGuard();
    return ok;
}

bool TRicorrEditor::MoveTo(qsizetype row) {
    if (refuseTyped())
        return false;
    return run([&] { m_ricorr.MoveTo(row); });
}

bool TRicorrEditor::Append() {
    if (refuseTyped())
        return false;
    return run([&] { m_ricorr.Append(); });
}

bool TRicorrEditor::Delete() {
    const bool ok = run([&] { m_ricorr.Delete(); });
    if (ok)
        m_refused.clear();
    return ok;
}

bool TRicorrEditor::Edit() {
    return run([&] { m_ricorr.Edit(); });
}

bool TRicorrEditor::Post() {
    if (refuseTyped())
        return false;
    return run([&] { m_ricorr.Post(); });
}

void TRicorrEditor::Cancel() {
    m_refused.clear();
    m_ricorr.Cancel();
}

bool TRicorrEditor::Refresh() {
    if (refuseTyped())
        return false;
    return run([&] {
        m_ricorr.Post();
        m_ricorr.Open();
    });
}

bool TRicorrEditor::Save() {
    if (refuseTyped())
        return false;
    if ((m_connectionLost || m_replayNeeded) && !Reconnect())
        return false;
    if (m_pending) {
        raiseConflict(std::move(*m_pending));
        return false;
    }
    const bool ok = run([&] {
        if (m_ricorr.Modified())
            m_ricorr.Post();
        if (m_connection.InTransaction())
            m_connection.CommitRetaining();
    });
    if (ok)
        takeSnapshot();
    return ok;
}

bool TRicorrEditor::Reconnect() {
    m_failure = {};
    if (m_connectionLost || !m_connection.Connected()) {
        try {
            m_connection.Close();
        } catch (const std::exception& e) {
            // The old attachment is given up either way; the server may not even know it any more.
            qCInfo(lcReminders).noquote() << "reminders editor: closing the lost connection:" << serverText(e);
        }
        if (!run([&] { m_connection.Open(); }))
            return false;
        m_connectionLost = false;
    }
    if (m_replayNeeded) {
        if (!run([&] { replay(); })) {
            if (!m_connectionLost) {
                // A replay stopped half-way: the next one starts from the last commit again.
                try {
                    m_connection.transaction().rollbackRetaining();
                } catch (const std::exception& e) {
                    qCWarning(lcReminders).noquote()
                        << "reminders editor: cannot roll back a partial replay:" << serverText(e);
                }
            }
            m_pending.reset();
            m_queued.clear();
            return false;
        }
        m_replayNeeded = false;
    }
    if (m_pending) {
        raiseConflict(std::move(*m_pending));
        return false;
    }
    return true;
}

void TRicorrEditor::replay() {
    // Every change posted since the last commit died with the old transaction: write it again. The edit
    // in progress stays in the buffer and is posted by the caller afterwards.
    std::set<qint64> present;
    std::vector<Pending> conflicts;
    for (qsizetype i = 0; i < m_ricorr.RecordCount(); ++i) {
        const fb::Row& row = m_ricorr.RowAt(i);
        const qint64 id = rowId(row);
        present.insert(id);
        const auto committed = m_committed.find(id);
        if (committed == m_committed.end()) {
            insertRow(row);
            continue;
        }
        std::vector<fb::Value> mine;
        for (qsizetype c = 0; c < row.count(); ++c)
            mine.push_back(row.at(c));
        if (!writeChanged(committed->second, mine))
            conflicts.push_back(Pending{id, committed->second, std::move(mine), storedRow(id), false});
    }
    for (const auto& [id, row] : m_committed) {
        if (present.count(id) == 0) {
            fb::Statement remove(m_connection.attachment(), m_connection.transaction(),
                                 QByteArray("delete from ") + Table + " where ID = ?");
            remove.setParam(0, fb::Value::fromInteger(id));
            remove.execute();
        }
    }
    // One conflict at a time; the others are asked about after it (their rows are not written yet).
    for (Pending& conflict : conflicts) {
        if (!m_pending)
            m_pending = std::move(conflict);
        else
            m_queued.push_back(std::move(conflict));
    }
}

std::optional<fb::Row> TRicorrEditor::storedRow(qint64 id) {
    fb::Statement select(m_connection.attachment(), m_connection.transaction(),
                         QByteArray("select * from ") + Table + " where ID = ?");
    select.setParam(0, fb::Value::fromInteger(id));
    auto cursor = select.openCursor();
    fb::Row stored;
    if (!cursor->fetch(stored))
        return std::nullopt;
    std::vector<fb::Value> values;
    for (const QByteArray& name : m_ricorr.FieldNames()) {
        const fb::Value& value = stored.FieldByName(name);
        // Blobs are read now, while the cursor's transaction is certainly the one in use.
        values.push_back(value.isLazy() ? fb::Value::fromText(shown(value)) : value);
    }
    return fb::Row(std::make_shared<QByteArrayList>(m_ricorr.FieldNames()), std::move(values));
}

void TRicorrEditor::insertRow(const fb::Row& row) {
    fb::Statement insert(m_connection.attachment(), m_connection.transaction(), m_ricorr.InsertSQL);
    const QByteArrayList& params = insert.paramNames();
    for (int i = 0; i < params.size(); ++i) {
        const fb::Value& value = row.FieldByName(params.at(i));
        insert.setParam(i, value.isLazy() ? fb::Value::fromText(shown(value)) : value);
    }
    insert.execute();
}

void TRicorrEditor::writeRow(const fb::Row& read, const std::vector<fb::Value>& values) {
    if (!writeChanged(read, values))
        throw RowChangedError();
}

bool TRicorrEditor::writeChanged(const fb::Row& read, const std::vector<fb::Value>& values) {
    const QByteArrayList names = m_ricorr.FieldNames();
    const QByteArray deferred = m_ricorr.Deferred ? m_ricorr.Deferred->Name : QByteArray();
    QByteArrayList sets, conditions;
    std::vector<fb::Value> setValues, conditionValues;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const fb::Value& mine = values.at(size_t(i));
        const fb::Value& old = read.at(i);
        if (names[i].compare(deferred, Qt::CaseInsensitive) == 0) {
            // The message is read on demand: written when it was given a value, and then only over the
            // message this editor read and showed. One it could not read is not compared.
            if (!mine.isLazy()) {
                sets.append(names[i] + " = ?");
                setValues.push_back(mine);
                const std::optional<QByteArray> shownMessage = old.loadedText();
                if (!old.isLazy() || shownMessage) {
                    conditions.append(names[i] + " is not distinct from ?");
                    conditionValues.push_back(old.isLazy() ? fb::Value::fromText(*shownMessage) : old);
                }
            }
            continue;
        }
        if (!mine.sameAs(old)) {
            sets.append(names[i] + " = ?");
            setValues.push_back(mine);
        }
        if (old.isLazy())
            continue; // a value this editor could not read is not compared
        conditions.append(names[i] + " is not distinct from ?");
        conditionValues.push_back(old);
    }
    if (sets.isEmpty())
        return true;
    fb::Statement update(m_connection.attachment(), m_connection.transaction(),
                         QByteArray("update ") + Table + " set " + sets.join(", ") + " where " +
                             conditions.join(" and "));
    int param = 0;
    for (const fb::Value& value : setValues)
        update.setParam(param++, value);
    for (const fb::Value& value : conditionValues)
        update.setParam(param++, value);
    return update.execute() > 0;
}

void TRicorrEditor::raiseConflict(Pending pending) {
    RowConflict conflict;
    conflict.id = pending.id;
    const QByteArrayList names = m_ricorr.FieldNames();
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QByteArray mine = shown(pending.mine.at(size_t(i)));
        const QByteArray theirs = pending.theirs ? shown(pending.theirs->at(i)) : QByteArray();
        if (mine != theirs)
            conflict.columns.append({names[i], theirs, mine});
    }
    m_conflict = std::move(conflict);
    m_pending = std::move(pending);
    if (m_pending->theirs)
        fail(
            EditorFailure::Kind::RowChanged,
            localised(LocRowChanged, u"Un altro operatore ha salvato questo promemoria dopo che è stato letto qui."_s));
    else
        fail(EditorFailure::Kind::RowChanged,
             localised(LocRowDeleted,
                       u"Un altro operatore ha eliminato questo promemoria dopo che è stato letto qui."_s));
}

bool TRicorrEditor::ResolveConflict(bool keepMine) {
    if (!m_pending)
        return true;
    Pending pending = std::move(*m_pending);
    m_pending.reset();
    m_conflict.reset();
    const bool ok = resolve(std::move(pending), keepMine);
    if (!m_pending && !m_queued.empty()) {
        m_pending = std::move(m_queued.front());
        m_queued.erase(m_queued.begin());
    }
    return ok;
}

bool TRicorrEditor::resolve(Pending pending, bool keepMine) {
    if (!pending.theirs) {
        // Deleted elsewhere: keeping this editor's version stores the row again.
        m_committed.erase(pending.id);
        return run([&] {
            if (!keepMine) {
                m_ricorr.Cancel();
                m_ricorr.Open();
                return;
            }
            if (pending.fromBuffer) {
                fb::Row mine(std::make_shared<QByteArrayList>(m_ricorr.FieldNames()), pending.mine);
                insertRow(mine);
                m_ricorr.Cancel();
                m_ricorr.ReplaceRow(m_ricorr.RecNo(), mine);
            } else {
                insertRow(fb::Row(std::make_shared<QByteArrayList>(m_ricorr.FieldNames()), pending.mine));
            }
        });
    }
    m_committed[pending.id] = *pending.theirs;
    if (pending.fromBuffer) {
        m_ricorr.AdoptStored(*pending.theirs, keepMine);
        return !keepMine || Post();
    }
    const qsizetype index = indexOfId(pending.id);
    if (!keepMine)
        return run([&] { m_ricorr.ReplaceRow(index, *pending.theirs); });
    // Only the columns this editor changed, over what the other operator saved.
    std::vector<fb::Value> merged;
    for (qsizetype i = 0; i < pending.read.count(); ++i) {
        const fb::Value& mine = pending.mine.at(size_t(i));
        merged.push_back(mine.sameAs(pending.read.at(i)) ? pending.theirs->at(i) : mine);
    }
    bool written = false;
    std::optional<fb::Row> stored;
    const bool ok = run([&] {
        written = writeChanged(*pending.theirs, merged);
        if (written)
            m_ricorr.ReplaceRow(index, fb::Row(std::make_shared<QByteArrayList>(m_ricorr.FieldNames()), merged));
        else
            stored = storedRow(pending.id);
    });
    if (ok && !written) {
        // Changed yet again meanwhile: asked about once more.
        pending.theirs = std::move(stored);
        raiseConflict(std::move(pending));
        return false;
    }
    return ok;
}

bool TRicorrEditor::Discard() {
    m_failure = {};
    if (!m_connectionLost && m_connection.Connected()) {
        try {
            if (m_connection.InTransaction())
                m_connection.transaction().rollbackRetaining();
        } catch (const fb::FbError& e) {
            qCWarning(lcReminders).noquote() << "cannot roll back the reminders' changes:" << serverText(e);
            if (e.isConnectionLost())
                m_connectionLost = true;
        }
    }
    if (m_connectionLost && HasUnsavedEdits()) {
        fail(EditorFailure::Kind::ConnectionLost,
             localised(LocConnectionLost,
                       u"La connessione al database si è interrotta: le modifiche non sono state salvate.\n"
                       u"Restano nella finestra: premere OK o \"Riprova\" per ricollegarsi e salvarle."_s));
        return false;
    }
    DiscardAnyway();
    return true;
}

void TRicorrEditor::DiscardAnyway() {
    m_refused.clear();
    m_pending.reset();
    m_queued.clear();
    m_conflict.reset();
    m_ricorr.Cancel();
}

} // namespace vestrel::reminders
