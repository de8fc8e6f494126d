#include "fb/DataSet.h"

#include "fb/Connection.h"
#include "fb/Statement.h"

namespace vestrel::fb {

DataSet::DataSet(Connection& connection)
    : m_connection(connection) {}

void DataSet::Open() {
    Close();
    Statement select(m_connection.attachment(), m_connection.transaction(), SelectSQL);
    auto cursor = select.openCursor();
    const QByteArrayList columns = cursor->columnNames();
    m_names = std::make_shared<QByteArrayList>(columns);
    std::vector<Row> rows;
    try {
        Row row;
        while (cursor->fetch(row))
            rows.push_back(std::move(row));
    } catch (const FbError& e) {
        if (KeyField.isEmpty() || e.isConnectionLost())
            throw;
        cursor.reset();
        rows = readRowByRow(columns, e);
    }
    qsizetype key = -1;
    if (Deferred) {
        key = fieldIndex(Deferred->KeyField);
        m_names->append(Deferred->Name);
    }
    for (Row& row : rows)
        m_rows.push_back(Deferred ? withDeferredValue(row, key) : std::move(row));
    m_state = State::Browse;
    m_current = 0;
    m_eof = false;
    changed();
    scrolled();
}

std::vector<Row> DataSet::readRowByRow(const QByteArrayList& columns, const FbError& failure) {
    Attachment& attachment = m_connection.attachment();
    Transaction& transaction = m_connection.transaction();
    const QByteArray source = "(" + SelectSQL + ") as R";
    std::vector<Value> keys;
    try {
        Statement select(attachment, transaction, "select R." + KeyField + " from " + source);
        auto cursor = select.openCursor();
        Row row;
        while (cursor->fetch(row))
            keys.push_back(row.at(0));
    } catch (const FbError&) {
        throw failure; // not a matter of single rows
    }
    Statement whole(attachment, transaction, "select * from " + source + " where R." + KeyField + " = ?");
    std::vector<Row> rows;
    for (const Value& key : keys) {
        whole.setParam(0, key);
        try {
            auto cursor = whole.openCursor();
            Row row;
            if (cursor->fetch(row))
                rows.push_back(std::move(row));
            continue;
        } catch (const FbError&) {
            // One of its values cannot be read: take the row column by column.
        }
        std::vector<Value> values;
        for (const QByteArray& column : columns) {
            try {
                Statement one(attachment, transaction,
                              "select R." + column + " from " + source + " where R." + KeyField + " = ?");
                one.setParam(0, key);
                auto cursor = one.openCursor();
                Row row;
                values.push_back(cursor->fetch(row) ? row.at(0) : Value());
            } catch (const FbError& e) {
                // The value fails where it is read, with the engine's own words.
                values.push_back(
                    Value::fromLazyText([message = std::string(e.what()), code = e.errorCode()]() -> QByteArray {
                        throw FbError(message, code);
                    }));
            }
        }
        rows.emplace_back(std::make_shared<QByteArrayList>(columns), std::move(values));
    }
    return rows;
}

Row DataSet::withDeferredValue(const Row& row, qsizetype key) const {
    std::vector<Value> values;
    values.reserve(size_t(row.count()) + 1);
    for (qsizetype i = 0; i < row.count(); ++i)
        values.push_back(row.at(i));
    values.push_back(deferredValue(row.at(key)));
    return Row(m_names, std::move(values));
}

Value DataSet::deferredValue(const Value& key) const {
    return Value::fromLazyText([connection = &m_connection, sql = Deferred->SelectSQL, id = key] {
        // Prepared for each read: the editor reads a handful, and a statement kept across reads would
        // outlive the transaction a rollback ends.
        Statement select(connection->attachment(), connection->transaction(), sql);
        select.setParam(0, id);
        auto cursor = select.openCursor();
        Row found;
        return cursor->fetch(found) ? found.at(0).asText() : QByteArray(); // deleted since the select
    });
}

void DataSet::Close() {
    m_rows.clear();
    m_buffer.clear();
    m_state = State::Inactive;
    m_current = 0;
    m_eof = false;
}

void DataSet::checkActive() const {
    if (m_state == State::Inactive)
        throw FbError("dataset is not open");
}

void DataSet::scrolled() {
    if (AfterScroll)
        AfterScroll();
}

void DataSet::changed() {
    if (OnRowsChanged)
        OnRowsChanged();
}

void DataSet::First() {
    MoveTo(0);
}

void DataSet::Last() {
    MoveTo(RecordCount() - 1);
}

void DataSet::Next() {
    checkActive();
    if (Modified())
        Post();
    if (m_current + 1 < RecordCount()) {
        ++m_current;
        scrolled();
    } else {
        m_eof = true;
    }
}

void DataSet::Prior() {
    checkActive();
    if (m_current > 0)
        MoveTo(m_current - 1);
}

void DataSet::MoveTo(qsizetype index) {
    checkActive();
    if (Modified())
        Post();
    m_eof = false;
    m_current = std::clamp<qsizetype>(index, 0, std::max<qsizetype>(0, RecordCount() - 1));
    scrolled();
}

qsizetype DataSet::fieldIndex(QByteArrayView name) const {
    if (m_names) {
        for (qsizetype i = 0; i < m_names->size(); ++i) {
            if (m_names->at(i).compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
    }
    throw FbError("Field '" + name.toByteArray().toStdString() + "' not found");
}

const Value& DataSet::FieldByName(QByteArrayView name) const {
    checkActive();
    const qsizetype index = fieldIndex(name);
    if (Modified())
        return m_buffer.at(size_t(index));
    if (m_rows.empty() || m_eof)
        throw FbError("no current record");
    return m_rows[size_t(m_current)].at(index);
}

void DataSet::SetFieldValue(QByteArrayView name, Value value) {
    if (!Modified())
        throw FbError("dataset not in edit or insert mode");
    m_buffer[size_t(fieldIndex(name))] = std::move(value);
}

std::optional<qsizetype> DataSet::Locate(QByteArrayView field, const QByteArray& value) const {
    checkActive();
    const qsizetype index = fieldIndex(field);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].at(index).asText() == value)
            return qsizetype(i);
    }
    return std::nullopt;
}

void DataSet::Edit() {
    checkActive();
    if (Modified())
        return;
    if (m_rows.empty())
        throw FbError("no current record");
    const Row& row = m_rows[size_t(m_current)];
    m_buffer.assign(size_t(row.count()), Value());
    for (qsizetype i = 0; i < row.count(); ++i)
        m_buffer[size_t(i)] = row.at(i);
    m_state = State::Edit;
}

void DataSet::Append() {
    checkActive();
    if (Modified())
        Post();
    m_buffer.assign(size_t(m_names ? m_names->size() : 0), Value());
    m_state = State::Insert;
    if (OnNewRecord)
        OnNewRecord();
}

void DataSet::execute(const QByteArray& sql, const std::vector<Value>& values, const Row* old) {
    Statement statement(m_connection.attachment(), m_connection.transaction(), sql);
    const QByteArrayList& params = statement.paramNames();
    for (qsizetype i = 0; i < params.size(); ++i) {
        const QByteArray& name = params.at(i);
        if (name.size() > 4 && name.left(4).compare("OLD_", Qt::CaseInsensitive) == 0) {
            if (!old)
                throw FbError("parameter '" + name.toStdString() + "' has no old value");
            statement.setParam(int(i), old->at(fieldIndex(name.mid(4))));
        } else {
            statement.setParam(int(i), values.at(size_t(fieldIndex(name))));
        }
    }
    statement.execute();
}

std::optional<Row> DataSet::refresh(const std::vector<Value>& values) {
    if (RefreshSQL.isEmpty())
        return std::nullopt;
    Statement statement(m_connection.attachment(), m_connection.transaction(), RefreshSQL);
    const QByteArrayList& params = statement.paramNames();
    for (qsizetype i = 0; i < params.size(); ++i)
        statement.setParam(int(i), values.at(size_t(fieldIndex(params.at(i)))));
    auto cursor = statement.openCursor();
    Row fresh;
    if (!cursor->fetch(fresh))
        return std::nullopt;
    // The row keeps the dataset's column names and order, so lookups stay the same whichever statement
    // read it; a column the refresh does not select keeps the value just written.
    std::vector<Value> copied;
    copied.reserve(values.size());
    for (qsizetype i = 0; i < m_names->size(); ++i) {
        const qsizetype there = fresh.indexOf(m_names->at(i));
        copied.push_back(there >= 0 ? fresh.at(there) : values.at(size_t(i)));
    }
    return Row(m_names, std::move(copied));
}

void DataSet::Post() {
    checkActive();
    if (!Modified())
        return;
    std::vector<Value> values = m_buffer;
    if (m_state == State::Insert) {
        if (!GeneratorField.isEmpty()) {
            Value& key = values.at(size_t(fieldIndex(GeneratorField)));
            if (key.isNull())
                key = Value::fromInteger(
                    m_connection.attachment().generatorValue(m_connection.transaction(), GeneratorName));
        }
        execute(InsertSQL, values, nullptr);
    } else {
        const Row& old = m_rows[size_t(m_current)];
        if (Modify)
            Modify(old, values);
        else
            execute(ModifySQL, values, &old);
        if (Deferred) {
            Value& deferred = values.at(size_t(fieldIndex(Deferred->Name)));
            const qsizetype key = fieldIndex(Deferred->KeyField);
            if (!deferred.isLazy()) {
                if (!Modify)
                    execute(Deferred->UpdateSQL, values, &old);
            } else if (values.at(size_t(key)).asText() != old.at(key).asText()) {
                deferred = deferredValue(values.at(size_t(key))); // the untouched value, under its new key
            }
        }
    }
    std::optional<Row> fresh;
    try {
        fresh = refresh(values);
    } catch (const FbError& e) {
        // Written, but not readable back as a whole (a value the connection cannot convert): the
        // row keeps the values just written.
        if (e.isConnectionLost())
            throw;
    }
    Row row = fresh ? std::move(*fresh) : Row(m_names, values);
    if (m_state == State::Insert) {
        m_rows.push_back(std::move(row));
        m_current = RecordCount() - 1;
    } else {
        m_rows[size_t(m_current)] = std::move(row);
    }
    const bool inserted = m_state == State::Insert;
    m_state = State::Browse;
    m_buffer.clear();
    m_eof = false;
    changed();
    if (inserted)
        scrolled();
}

std::optional<Row> DataSet::ReadStored() {
    checkActive();
    if (m_rows.empty() || m_state == State::Insert)
        return std::nullopt;
    const Row& read = m_rows[size_t(m_current)];
    std::vector<Value> values;
    for (qsizetype i = 0; i < read.count(); ++i)
        values.push_back(read.at(i));
    if (Deferred) // never the value this editor holds: the one stored now
        values.at(size_t(fieldIndex(Deferred->Name))) = deferredValue(read.at(fieldIndex(Deferred->KeyField)));
    return refresh(values);
}

void DataSet::AdoptStored(const Row& stored, bool keepEdits) {
    checkActive();
    if (m_rows.empty())
        return;
    Row& read = m_rows[size_t(m_current)];
    if (keepEdits && m_state == State::Edit) {
        for (qsizetype i = 0; i < read.count() && size_t(i) < m_buffer.size(); ++i) {
            if (m_buffer[size_t(i)].sameAs(read.at(i)))
                m_buffer[size_t(i)] = stored.at(i);
        }
        read = stored;
        changed();
        return;
    }
    read = stored;
    m_buffer.clear();
    if (Modified())
        m_state = State::Browse;
    changed();
    scrolled();
}

void DataSet::ReplaceRow(qsizetype index, const Row& row) {
    checkActive();
    if (Modified() && index == m_current)
        throw FbError("row is being edited");
    m_rows.at(size_t(index)) = row;
    changed();
    if (index == m_current)
        scrolled();
}

void DataSet::Cancel() {
    if (!Modified())
        return;
    m_buffer.clear();
    m_state = State::Browse;
    scrolled();
}

void DataSet::Delete() {
    checkActive();
    if (m_state == State::Insert) {
        Cancel();
        return;
    }
    if (m_rows.empty())
        throw FbError("no current record");
    execute(DeleteSQL, {}, &m_rows[size_t(m_current)]);
    m_rows.erase(m_rows.begin() + m_current);
    m_buffer.clear();
    m_state = State::Browse;
    m_current = std::clamp<qsizetype>(m_current, 0, std::max<qsizetype>(0, RecordCount() - 1));
    m_eof = false;
    changed();
    scrolled();
}

} // namespace vestrel::fb
