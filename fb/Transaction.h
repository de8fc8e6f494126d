#pragma once

#include "fb/Api.h"

#include <QByteArray>
#include <QByteArrayList>

namespace vestrel::fb {

class Attachment;

// A transaction on one attachment, which must outlive it. Parameters are the names a transaction
// component lists ("read_committed", "rec_version", "nowait", "concurrency", "consistency",
// "no_rec_version", "wait", "read", "write"; an "isc_tpb_" prefix is accepted). An unknown name raises
// FbError. A transaction still active when destroyed is rolled back.
class Transaction {
public:
    // The parameters the programs use: read committed, newest record version, no waiting on locks.
    static QByteArrayList defaultParams() { return {"read_committed", "rec_version", "nowait"}; }

    Transaction() = default;
    explicit Transaction(Attachment& attachment, const QByteArrayList& params = defaultParams());
    ~Transaction();
    Transaction(Transaction&&) noexcept = default;
    Transaction& operator=(Transaction&& other) noexcept;

    void start(Attachment& attachment, const QByteArrayList& params = defaultParams());
    bool isActive() const { return bool(m_handle); }

    void commit();
    // Commits and goes on in the same transaction context: open cursors stay usable.
    void commitRetaining();
    void rollback();
    void rollbackRetaining();

    Firebird::ITransaction* handle() const { return m_handle.get(); }

    // The parameter block for `params`; exposed for the services layer and tests.
    static QByteArray buildTpb(const QByteArrayList& params);

private:
    Firebird::ITransaction* checked() const;
    void rollbackQuietly() noexcept;
    detail::Ref<Firebird::ITransaction> m_handle;
};

} // namespace vestrel::fb
