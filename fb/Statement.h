#pragma once

#include "fb/Api.h"
#include "fb/Value.h"

#include <QByteArray>
#include <QByteArrayList>

#include <memory>
#include <vector>

namespace vestrel::fb {

class Attachment;
class Transaction;
class Cursor;

// A prepared statement. Parameters are written as "?" or as ":NAME" (a name may occur several times);
// both are numbered from 0 in order of appearance. Text given to a BLOB parameter is stored as a blob;
// text for any other parameter longer than its column, or than 32 765 bytes, raises FbError.
// The attachment and the transaction must outlive the statement and its cursors.
class Statement {
public:
    Statement(Attachment& attachment, Transaction& transaction, const QByteArray& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int paramCount() const { return int(m_params.size()); }
    // Names of ":NAME" parameters in order ("" for "?").
    const QByteArrayList& paramNames() const { return m_paramNames; }

    void setParam(int index, Value value);
    // Sets every parameter of that name (without regard to case); an unknown name raises FbError.
    void setParam(QByteArrayView name, Value value);
    void clearParams();

    // True when the statement returns rows (a select).
    bool hasResultSet() const;

    // Runs a statement that returns no rows (insert, update, delete, DDL); the number of rows it touched.
    quint64 execute();
    // Opens a cursor on a select; the statement must outlive it.
    std::unique_ptr<Cursor> openCursor();

    // The statement text as sent to the server (":NAME" replaced by "?").
    const QByteArray& preparedSql() const { return m_sql; }

private:
    struct Input;
    Input buildInput();
    // Raises FbError for a text longer than its column or than a VARCHAR parameter can carry.
    void checkTextLength(unsigned index, qsizetype size, unsigned declaredType, unsigned declaredLength) const;
    Attachment& m_attachment;
    Transaction& m_transaction;
    QByteArrayList m_paramNames; // filled while m_sql is made, so it comes first
    QByteArray m_sql;
    std::vector<Value> m_params;
    detail::Ref<Firebird::IStatement> m_statement;
};

// Rows of an open select, fetched one at a time. Blob columns come as lazy text: the blob is read when
// its value is first asked for, in the cursor's transaction (which must then still be active).
class Cursor {
public:
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    const QByteArrayList& columnNames() const { return *m_names; }
    // Fetches the next row into `row`; false after the last one.
    bool fetch(Row& row);
    void close();

private:
    friend class Statement;
    struct Column {
        unsigned type;
        int subType;
        int scale;
        unsigned length;
        unsigned offset;
        unsigned nullOffset;
    };
    Cursor(Attachment& attachment, Transaction& transaction, Firebird::IResultSet* resultSet,
           Firebird::IMessageMetadata* metadata);
    struct BlobReader;
    Value decode(const Column& column) const;

    detail::Ref<Firebird::IResultSet> m_resultSet;
    std::shared_ptr<BlobReader> m_blobReader;
    std::vector<Column> m_columns;
    std::shared_ptr<QByteArrayList> m_names;
    std::vector<unsigned char> m_buffer;
};

// Splits ":NAME" parameters out of a statement: returns the text with "?" in their place and fills
// `names` in order. Quoted strings, quoted identifiers and comments are left alone.
QByteArray translateNamedParams(const QByteArray& sql, QByteArrayList& names);

} // namespace vestrel::fb
