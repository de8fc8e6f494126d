#pragma once

#include "fb/Attachment.h"
#include "fb/Transaction.h"

#include <QByteArray>
#include <QByteArrayList>

namespace vestrel::fb {

// The connection a data module owns: a database name and a parameter list set before opening,
// open/close, and one default transaction that its datasets share.
class Connection {
public:
    // What a default transaction does when the program ends it without saying how.
    enum class EndAction { Commit, CommitRetaining, Rollback, RollbackRetaining };

    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QByteArray DatabaseName() const { return m_databaseName; }
    void setDatabaseName(const QByteArray& name) { m_databaseName = name; }
    // "name=value" lines: "user_name=", "password=", "sql_role_name=".
    QByteArrayList Params() const { return m_params; }
    void setParams(const QByteArrayList& params) { m_params = params; }
    int SQLDialect() const { return m_dialect; }
    void setSQLDialect(int dialect) { m_dialect = dialect; }

    QByteArrayList TransactionParams() const { return m_transactionParams; }
    void setTransactionParams(const QByteArrayList& params) { m_transactionParams = params; }
    EndAction DefaultAction() const { return m_defaultAction; }
    void setDefaultAction(EndAction action) { m_defaultAction = action; }

    void Open();
    // Rolls back an active default transaction, then detaches. Closing a closed connection does nothing.
    void Close();
    bool Connected() const { return m_attachment.isAttached(); }

    // The default transaction, started when a caller first needs it.
    bool InTransaction() const { return m_transaction.isActive(); }
    Transaction& StartTransaction();
    // The default transaction, started if it is not active.
    Transaction& transaction();
    void Commit();
    void CommitRetaining();
    void Rollback();
    // Ends the default transaction with DefaultAction().
    void EndTransaction();

    Attachment& attachment();

private:
    QByteArray m_databaseName;
    QByteArrayList m_params{"user_name=sysdba", "password="};
    int m_dialect = Attachment::DefaultDialect;
    QByteArrayList m_transactionParams = Transaction::defaultParams();
    EndAction m_defaultAction = EndAction::CommitRetaining;
    Attachment m_attachment;
    Transaction m_transaction;
};

} // namespace vestrel::fb
