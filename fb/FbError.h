#pragma once

#include <QByteArray>

#include <stdexcept>
#include <string>

namespace vestrel::fb {

// A failure reported by the database layer. The message is Firebird's own text (as the client
// library formats the status vector), or ours for misuse caught before reaching the library.
class FbError : public std::runtime_error {
public:
    explicit FbError(const std::string& message, int errorCode = 0)
        : std::runtime_error(message)
        , m_errorCode(errorCode) {}

    // The first Firebird error code of the status vector (isc_...), 0 for errors of our own.
    int errorCode() const { return m_errorCode; }

    // True when another transaction holds the row: a lock conflict of a transaction that does not
    // wait (isc_lock_conflict), an update conflict (isc_update_conflict) or a deadlock (isc_deadlock).
    bool isLockConflict() const {
        return m_errorCode == 335544345 || m_errorCode == 335544451 || m_errorCode == 335544336;
    }

    // True when the connection to the database is gone (network error, read or write failure on the
    // connection, server or database shut down): nothing more can be done on it until it is reopened.
    bool isConnectionLost() const {
        switch (m_errorCode) {
        case 335544721: // isc_network_error
        case 335544726: // isc_net_read_err
        case 335544727: // isc_net_write_err
        case 335544741: // isc_lost_db_connection
        case 335544648: // isc_conn_lost
        case 335544528: // isc_shutdown
        case 335544856: // isc_att_shutdown
            return true;
        default:
            return false;
        }
    }

private:
    int m_errorCode;
};

} // namespace vestrel::fb
