#include "fb/Transaction.h"

#include "fb/Attachment.h"

#include <ibase.h>

namespace vestrel::fb {

using namespace detail;

Transaction::Transaction(Attachment& attachment, const QByteArrayList& params) {
    start(attachment, params);
}

Transaction::~Transaction() {
    rollbackQuietly();
}

void Transaction::rollbackQuietly() noexcept {
    if (!m_handle)
        return;
    try {
        rollback();
    } catch (const FbError&) {
        // Nothing to report here; the handle has been given up regardless.
    }
}

Transaction& Transaction::operator=(Transaction&& other) noexcept {
    if (this != &other) {
        rollbackQuietly();
        m_handle = std::move(other.m_handle);
    }
    return *this;
}

QByteArray Transaction::buildTpb(const QByteArrayList& params) {
    QByteArray tpb(1, char(isc_tpb_version3));
    for (const QByteArray& param : params) {
        QByteArray name = param.trimmed().toLower();
        if (name.isEmpty())
            continue;
        if (name.startsWith("isc_tpb_"))
            name = name.mid(8);
        static const struct {
            const char* name;
            char tag;
        } known[] = {
            {"read_committed", isc_tpb_read_committed},
            {"rec_version", isc_tpb_rec_version},
            {"no_rec_version", isc_tpb_no_rec_version},
            {"nowait", isc_tpb_nowait},
            {"wait", isc_tpb_wait},
            {"concurrency", isc_tpb_concurrency},
            {"consistency", isc_tpb_consistency},
            {"read", isc_tpb_read},
            {"write", isc_tpb_write},
        };
        bool found = false;
        for (const auto& k : known) {
            if (name == k.name) {
                tpb.append(k.tag);
                found = true;
                break;
            }
        }
        if (!found)
            throw FbError("unknown transaction parameter '" + param.toStdString() + "'");
    }
    return tpb;
}

void Transaction::start(Attachment& attachment, const QByteArrayList& params) {
    if (m_handle)
        throw FbError("transaction is already active");
    if (!attachment.isAttached())
        throw FbError("database not attached");
    const QByteArray tpb = buildTpb(params);
    Status st;
    m_handle.reset(callFb([&] {
        return attachment.handle()->startTransaction(st.get(), unsigned(tpb.size()),
                                                     reinterpret_cast<const unsigned char*>(tpb.constData()));
    }));
}

Firebird::ITransaction* Transaction::checked() const {
    if (!m_handle)
        throw FbError("transaction is not active");
    return m_handle.get();
}

void Transaction::commit() {
    Status st;
    callFb([&] { checked()->commit(st.get()); });
    m_handle.take(); // commit() released it
}

void Transaction::commitRetaining() {
    Status st;
    callFb([&] { checked()->commitRetaining(st.get()); });
}

void Transaction::rollback() {
    Status st;
    detail::callFbReleasing(m_handle, [&] { checked()->rollback(st.get()); });
}

void Transaction::rollbackRetaining() {
    Status st;
    callFb([&] { checked()->rollbackRetaining(st.get()); });
}

} // namespace vestrel::fb
