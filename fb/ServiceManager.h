#pragma once

#include "fb/Api.h"

#include <QByteArray>

namespace vestrel::fb {

// The services manager of one database server, reached over TCP: start an action (a backup), then read
// its output until it ends. The server runs the action on its own; its failure is reported by the
// reads that follow the start, not by the start itself.
class ServiceManager {
public:
    // Backup options (the isc_spb_bkp_* bits).
    static constexpr int IgnoreLimbo = 0x02;
    static constexpr int NonTransportable = 0x20;

    ServiceManager() = default;
    ~ServiceManager();
    ServiceManager(ServiceManager&&) noexcept = default;
    ServiceManager& operator=(ServiceManager&& other) noexcept;

    // Attaches to the services manager of `host` ("127.0.0.1", "srv", or "srv/3051" for a server on
    // another port) over TCP.
    static ServiceManager attach(const QByteArray& host, const QByteArray& user, const QByteArray& password);
    // The name the client library takes for the services manager of `host`: "inet://srv/service_mgr",
    // "inet://srv:3051/service_mgr" for "srv/3051".
    static QByteArray serviceManagerName(const QByteArray& host);

    bool isAttached() const { return bool(m_handle); }
    // Detaches; errors are raised. The destructor detaches quietly.
    void detach();

    // Starts a backup of `database` (a path as the server sees it) into `backupFile` (written by the
    // server) with `options`, without verbose output.
    void startBackup(const QByteArray& database, const QByteArray& backupFile, int options);
    // Starts a restore of `backupFile` into the new database `database` (both as the server sees them).
    // `replace` lets the restore overwrite an existing database of that name instead of failing.
    void startRestore(const QByteArray& backupFile, const QByteArray& database, bool replace = false);
    // Starts a full validation of `database` that changes nothing (the checks of "gfix -v -full").
    // The database must not be in use.
    void startValidation(const QByteArray& database);
    // Reads the running action's output until the action ends and returns it. A failure of the action
    // raises FbError with the server's message.
    QByteArray waitForEnd();

private:
    void detachQuietly() noexcept;
    detail::Ref<Firebird::IService> m_handle;
};

} // namespace vestrel::fb
