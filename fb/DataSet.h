#pragma once

#include "fb/FbError.h"
#include "fb/RowSource.h"
#include "fb/Value.h"

#include <QByteArray>
#include <QByteArrayList>

#include <functional>
#include <optional>
#include <vector>

namespace vestrel::fb {

class Connection;

// An editable dataset on the default transaction of a connection, as a data module keeps one per table:
// a select that fills it, and the insert, update, delete and refresh statements that write a row back.
//
// The statements name their parameters after the columns (":DESCRIZIONE"); a parameter "OLD_X" takes the
// value column X had when the row was read, so an update can change the key. A row being edited lives in
// a buffer until Post writes it; when writing fails the buffer and the state stay as they were, so nothing
// the user typed is lost and Post can be tried again or the edit cancelled.
//
// Used from one thread at a time.
class DataSet final : public RowSource {
public:
    enum class State { Inactive, Browse, Edit, Insert };

    explicit DataSet(Connection& connection);

    QByteArray SelectSQL;
    QByteArray InsertSQL;
    QByteArray ModifySQL;
    QByteArray DeleteSQL;
    QByteArray RefreshSQL; // re-reads the row just written, keyed by its new values
    // The column that tells rows apart. With it, a select that fails on a value the connection cannot
    // convert (a title in another character set) is read again row by row, and column by column for
    // the rows that fail: such a value then fails only where it is read, and every other row shows.
    QByteArray KeyField;
    // A column filled from a generator when a new row is posted without a value for it.
    QByteArray GeneratorField;
    QByteArray GeneratorName;

    // A column SelectSQL leaves out, read for one row at a time when the row's value is first asked for:
    // `SelectSQL` has one parameter, given the row's `KeyField`, and selects the value as its first column.
    // A value the connection cannot convert (a character outside its set, a damaged blob) then fails
    // only for the row that holds it, where it is read, instead of failing the whole select.
    // ModifySQL and RefreshSQL leave the column out too: `UpdateSQL` writes it alone, after ModifySQL and
    // only when the row was given a new value for it, so a row whose value cannot be read still saves
    // its other columns, and an untouched value is never read just to be written back.
    struct DeferredColumn {
        QByteArray Name;
        QByteArray KeyField;
        QByteArray SelectSQL;
        QByteArray UpdateSQL;
    };
    std::optional<DeferredColumn> Deferred;

    // Called after the current row changed (open, moves, insert, delete).
    std::function<void()> AfterScroll;
    // Called when Append starts a new row; it may set fields and post the row at once.
    std::function<void()> OnNewRecord;
    // Called when rows were added, removed or rewritten, for views that list them.
    std::function<void()> OnRowsChanged;
    // When set, writes an edited row in place of ModifySQL and the deferred column's UpdateSQL: it is
    // given the row as read and the values to store, and raises to keep the edit as a failing
    // ModifySQL does.
    std::function<void(const Row& read, const std::vector<Value>& values)> Modify;

    // Runs SelectSQL in the connection's default transaction and reads every row.
    void Open();
    void Close();
    bool Active() const { return m_state != State::Inactive; }
    State state() const { return m_state; }
    bool Modified() const { return m_state == State::Edit || m_state == State::Insert; }

    qsizetype RecordCount() const { return qsizetype(m_rows.size()); }
    // Index of the current row; -1 when the dataset is empty.
    qsizetype RecNo() const { return m_rows.empty() ? -1 : m_current; }
    QByteArrayList FieldNames() const { return m_names ? *m_names : QByteArrayList(); }
    const Row& RowAt(qsizetype index) const { return m_rows.at(size_t(index)); }

    // Moves post a pending edit first; a failing post raises and the dataset stays where it was.
    void First() override;
    void Last();
    void Next() override;
    void Prior();
    void MoveTo(qsizetype index);
    bool Eof() const override { return m_eof || m_rows.empty(); }
    bool Bof() const { return m_current == 0; }

    // The current row's field, or the edit buffer's while editing.
    const Value& FieldByName(QByteArrayView name) const override;
    // Sets a field of the edit buffer; raises FbError outside Edit and Insert.
    void SetFieldValue(QByteArrayView name, Value value);
    // The first row whose `field` reads as `value` (compared as text), without moving the dataset.
    std::optional<qsizetype> Locate(QByteArrayView field, const QByteArray& value) const;

    void Edit();
    // Starts a new row after the last one and calls OnNewRecord.
    void Append();
    void Post();
    void Cancel();
    // Deletes the current row in the database and from the dataset.
    void Delete();

    // The current row as the database holds it now (RefreshSQL keyed by the row as read, the deferred
    // column read anew when asked for), or nothing when the row is gone.
    std::optional<Row> ReadStored();
    // Takes `stored` as the current row as read. With `keepEdits` an edit goes on, and the columns it
    // did not change take the stored values; otherwise the edit is cancelled.
    void AdoptStored(const Row& stored, bool keepEdits);
    // Puts `row` in the place of the row at `index`, as the database holds it now; not while that
    // row is being edited.
    void ReplaceRow(qsizetype index, const Row& row);

private:
    qsizetype fieldIndex(QByteArrayView name) const;
    // Reads SelectSQL's rows one at a time by KeyField, after the whole select failed with `failure`.
    std::vector<Row> readRowByRow(const QByteArrayList& columns, const FbError& failure);
    void execute(const QByteArray& sql, const std::vector<Value>& values, const Row* old);
    std::optional<Row> refresh(const std::vector<Value>& values);
    // `row` with the deferred column's value, read on demand, appended.
    Row withDeferredValue(const Row& row, qsizetype key) const;
    Value deferredValue(const Value& key) const;
    void checkActive() const;
    void scrolled();
    void changed();

    Connection& m_connection;
    std::shared_ptr<QByteArrayList> m_names;
    std::vector<Row> m_rows;
    qsizetype m_current = 0;
    bool m_eof = false;
    State m_state = State::Inactive;
    std::vector<Value> m_buffer;
};

} // namespace vestrel::fb
