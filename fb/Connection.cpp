#include "fb/Connection.h"

namespace vestrel::fb {

Connection::~Connection() {
    try {
        Close();
    } catch (const FbError&) {
        // Nothing to report here; the handles are given up regardless.
    }
}

void Connection::Open() {
    if (Connected())
        return;
    m_attachment = Attachment::attach(m_databaseName, m_params, m_dialect);
}

void Connection::Close() {
    if (m_transaction.isActive()) {
        try {
            m_transaction.rollback();
        } catch (const FbError&) {
            // The detach below ends the transaction in any case.
        }
    }
    m_attachment.detach();
}

Attachment& Connection::attachment() {
    if (!Connected())
        throw FbError("database not connected");
    return m_attachment;
}

Transaction& Connection::StartTransaction() {
    m_transaction.start(attachment(), m_transactionParams);
    return m_transaction;
}

Transaction& Connection::transaction() {
    if (!m_transaction.isActive())
        StartTransaction();
    return m_transaction;
}

void Connection::Commit() {
    m_transaction.commit();
}

void Connection::CommitRetaining() {
    m_transaction.commitRetaining();
}

void Connection::Rollback() {
    m_transaction.rollback();
}

void Connection::EndTransaction() {
    switch (m_defaultAction) {
    case EndAction::Commit:
        m_transaction.commit();
        break;
    case EndAction::CommitRetaining:
        m_transaction.commitRetaining();
        break;
    case EndAction::Rollback:
        m_transaction.rollback();
        break;
    case EndAction::RollbackRetaining:
        m_transaction.rollbackRetaining();
        break;
    }
}

} // namespace vestrel::fb
