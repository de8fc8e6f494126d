#pragma once

#include "fb/Connection.h"
#include "fb/DataSet.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace vestrel::reminders {

// Why the last change of the editor did not go through, for the dialog to tell the user.
struct EditorFailure {
    enum class Kind {
        None,
        LockConflict,   // another workstation holds the row: try again later
        ConnectionLost, // nothing was saved; the next save reconnects and stores the edits held
        RowChanged,     // another operator saved the row since it was read: see Conflict()
        Refused,        // typed text the database cannot hold
        Other,
    };
    Kind kind = Kind::None;
    QString text;    // what the user reads, in the program's language
    QString details; // the server's own text, when there is one
};

// A row another operator saved after this editor read it, while this editor has changes of its own.
struct RowConflict {
    struct Column {
        QByteArray name;
        QByteArray theirs; // what the other operator saved
        QByteArray mine;   // what this editor holds
    };
    qint64 id = 0;
    QList<Column> columns; // the columns where the two differ
};

// The rules of the reminders editor, without widgets: every change of the RICORRENZE dataset (edit,
// post, insert, delete, commit, roll back), the editing state and the update guard. The dialog shows
// the dataset and calls these; each returns false when the change did not go through, and
// LastFailure() says why. Nothing typed is lost by a failure: the edit and every change made since the
// last commit stay, and a save after a lost connection reconnects and writes them again.
//
// Rows are written column by column: only the columns this editor changed, and only where the row still
// holds every value this editor read. When another operator saved the row meanwhile, Conflict() shows
// both versions and ResolveConflict keeps one of them; nothing is overwritten silently.
class TRicorrEditor {
public:
    TRicorrEditor(fb::DataSet& ricorr, fb::Connection& connection);
    ~TRicorrEditor();
    TRicorrEditor(const TRicorrEditor&) = delete;
    TRicorrEditor& operator=(const TRicorrEditor&) = delete;

    // Set while the dialog moves data between its detail lists and the dataset, so that the events that
    // follow start no further update. Enter returns false when it is already set.
    bool UpdatingGuard() const { return m_guard; }
    bool EnterGuard();
    void LeaveGuard() { m_guard = false; }

    bool Editing() const { return m_ricorr.Modified(); }
    // An edit in progress, or changes posted since the last commit, or text refused.
    bool HasUnsavedEdits() const;
    bool ConnectionLost() const { return m_connectionLost; }
    const EditorFailure& LastFailure() const { return m_failure; }
    const std::optional<RowConflict>& Conflict() const { return m_conflict; }

    // Field changes of the current row, kept in the edit buffer until posted. Text is refused, and the
    // buffer keeps its last value, when cp1252 cannot hold it; saving and moving are then refused too.
    bool SetText(QByteArrayView field, const QString& text);
    bool SetValue(QByteArrayView field, const fb::Value& value);
    // The criterion and the detail are posted at once; WriteDetail does nothing under the guard.
    bool SetCriterion(int criterio);
    bool WriteDetail(const QByteArray& detail);

    bool MoveTo(qsizetype row);
    bool Append();
    bool Delete();
    bool Edit();
    bool Post();
    void Cancel();
    bool Refresh();

    // OK: posts the edit and commits. On a lost connection it reconnects first and writes again every
    // change made since the last commit.
    bool Save();
    // Reconnects after a lost connection and writes the changes held again, without committing.
    bool Reconnect();
    // Cancel: drops the edit and rolls back what was posted. False, with nothing dropped, when the
    // connection is gone and there are unsaved edits: the caller asks, then calls DiscardAnyway.
    bool Discard();
    void DiscardAnyway();

    // Keeps this editor's version of the conflicting row (written over the other's, column by column)
    // or takes the other operator's.
    bool ResolveConflict(bool keepMine);

private:
    class RowChangedError;
    struct Pending {
        qint64 id;
        fb::Row read;                  // as read
        std::vector<fb::Value> mine;   // as this editor holds it
        std::optional<fb::Row> theirs; // as stored now; nothing when deleted
        bool fromBuffer;               // the edit buffer, not a posted row
    };

    bool run(const std::function<void()>& change);
    bool resolve(Pending pending, bool keepMine);
    bool refuseTyped();
    void fail(EditorFailure::Kind kind, const QString& text, const QString& details = {});
    void writeRow(const fb::Row& read, const std::vector<fb::Value>& values);
    bool writeChanged(const fb::Row& read, const std::vector<fb::Value>& values);
    void insertRow(const fb::Row& row);
    std::optional<fb::Row> storedRow(qint64 id);
    void replay();
    void takeSnapshot();
    void raiseConflict(Pending pending);
    qint64 rowId(const fb::Row& row) const;
    qsizetype indexOfId(qint64 id) const;

    fb::DataSet& m_ricorr;
    fb::Connection& m_connection;
    bool m_guard = false;
    bool m_connectionLost = false;
    bool m_replayNeeded = false; // the transaction holding the posted changes died with the connection
    EditorFailure m_failure;
    QHash<QByteArray, QStringList> m_refused; // field → characters cp1252 cannot hold
    std::map<qint64, fb::Row> m_committed;    // the rows as of the last commit, by ID
    std::optional<Pending> m_pending;         // the conflict the user is asked about
    std::vector<Pending> m_queued;            // further rows of a replay that met a conflict
    std::optional<RowConflict> m_conflict;
};

} // namespace vestrel::reminders
