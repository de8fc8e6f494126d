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

private:
    int m_errorCode;
};

} // namespace vestrel::fb
