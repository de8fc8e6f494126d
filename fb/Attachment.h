#pragma once

#include "fb/Api.h"

#include <QByteArray>
#include <QByteArrayList>

namespace vestrel::fb {

class Transaction;

// One attachment to a database. A name without a host ("/data/a.fdb", "C:\dati\a.gdb") opens through
// the embedded engine in this process; "host:path" and the other remote forms go to a server.
//
// The parameter list holds "name=value" lines as a connection component keeps them: "user_name=",
// "password=", "sql_role_name=" and "lc_ctype=" (default WIN1252, so text comes back as cp1252 bytes).
// An unknown name raises FbError before anything is sent.
class Attachment {
public:
    static constexpr int DefaultDialect = 1;

    Attachment() = default;
    ~Attachment();
    Attachment(Attachment&&) noexcept = default;
    Attachment& operator=(Attachment&& other) noexcept;

    static Attachment attach(const QByteArray& databaseName, const QByteArrayList& params,
                             int dialect = DefaultDialect);
    // Creates a new database file in the given dialect with WIN1252 as its default character set.
    static Attachment create(const QByteArray& databaseName, const QByteArrayList& params,
                             int dialect = DefaultDialect);

    // True for names that a server resolves ("host:path", "host/port:path", "\\host\path", "host@path").
    // Only one letter followed by ':' and a folder separator is a drive ("C:\dati", "d:/dati"); a one-letter
    // name before ':' otherwise is a host. A ':' after a folder separator belongs to the path.
    static bool isRemoteName(const QByteArray& databaseName);

    bool isAttached() const { return bool(m_handle); }
    int dialect() const { return m_dialect; }
    // Detaches; errors are raised. The destructor detaches quietly.
    void detach();
    // Deletes the database and ends the attachment (it must be the only one).
    void drop();

    // Runs one statement without parameters or results (DDL, simple DML) in `transaction`.
    void execute(Transaction& transaction, const QByteArray& sql);
    // The next value of a generator: gen_id(name, increment). Raises FbError for a name that is not a
    // plain identifier.
    qint64 generatorValue(Transaction& transaction, const QByteArray& generatorName, qint64 increment = 1);

    Firebird::IAttachment* handle() const { return m_handle.get(); }

private:
    void detachQuietly() noexcept;
    static Attachment open(const QByteArray& databaseName, const QByteArrayList& params, int dialect, bool create);
    detail::Ref<Firebird::IAttachment> m_handle;
    int m_dialect = DefaultDialect;
};

} // namespace vestrel::fb
