#include "fb/ServiceManager.h"

#include "fb/XpbBuilder.h"

#include <ibase.h>

#include <array>

namespace vestrel::fb {

using namespace detail;

ServiceManager::~ServiceManager() {
    detachQuietly();
}

ServiceManager& ServiceManager::operator=(ServiceManager&& other) noexcept {
    if (this != &other) {
        detachQuietly();
        m_handle = std::move(other.m_handle);
    }
    return *this;
}

void ServiceManager::detachQuietly() noexcept {
    try {
        detach();
    } catch (const FbError&) {
        // The handle is given up regardless; a failed detach leaves nothing to undo.
    }
}

ServiceManager ServiceManager::attach(const QByteArray& host, const QByteArray& user, const QByteArray& password) {
    if (host.isEmpty())
        throw FbError("no server given for the services manager");
    XpbBuilder spb(Firebird::IXpbBuilder::SPB_ATTACH);
    spb.string(isc_spb_user_name, user);
    spb.string(isc_spb_password, password);
    const QByteArray bytes = spb.bytes();
    const QByteArray name = serviceManagerName(host);
    Status st;
    ServiceManager result;
    result.m_handle.reset(callFb([&] {
        return dispatcher()->attachServiceManager(st.get(), name.constData(), unsigned(bytes.size()),
                                                  reinterpret_cast<const unsigned char*>(bytes.constData()));
    }));
    return result;
}

QByteArray ServiceManager::serviceManagerName(const QByteArray& host) {
    // The "inet://" form goes over TCP whatever the host name looks like; its port follows a ':', where
    // a connection string puts it after a '/'.
    QByteArray server = host;
    const qsizetype slash = server.indexOf('/');
    if (slash >= 0)
        server[slash] = ':';
    QByteArray name = "inet://";
    name.append(server).append("/service_mgr");
    return name;
}

void ServiceManager::detach() {
    if (!m_handle)
        return;
    Status st;
    detail::callFbReleasing(m_handle, [&] { m_handle->detach(st.get()); });
}

void ServiceManager::startBackup(const QByteArray& database, const QByteArray& backupFile, int options) {
    if (!m_handle)
        throw FbError("services manager not attached");
    XpbBuilder spb(Firebird::IXpbBuilder::SPB_START);
    spb.tag(isc_action_svc_backup);
    spb.string(isc_spb_dbname, database);
    spb.string(isc_spb_bkp_file, backupFile);
    spb.integer(isc_spb_options, options);
    const QByteArray bytes = spb.bytes();
    Status st;
    callFb([&] {
        m_handle->start(st.get(), unsigned(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()));
    });
}

void ServiceManager::startRestore(const QByteArray& backupFile, const QByteArray& database, bool replace) {
    if (!m_handle)
        throw FbError("services manager not attached");
    XpbBuilder spb(Firebird::IXpbBuilder::SPB_START);
    spb.tag(isc_action_svc_restore);
    spb.string(isc_spb_bkp_file, backupFile);
    spb.string(isc_spb_dbname, database);
    spb.integer(isc_spb_options, replace ? isc_spb_res_replace : isc_spb_res_create);
    const QByteArray bytes = spb.bytes();
    Status st;
    callFb([&] {
        m_handle->start(st.get(), unsigned(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()));
    });
}

void ServiceManager::startValidation(const QByteArray& database) {
    if (!m_handle)
        throw FbError("services manager not attached");
    XpbBuilder spb(Firebird::IXpbBuilder::SPB_START);
    spb.tag(isc_action_svc_repair);
    spb.string(isc_spb_dbname, database);
    spb.integer(isc_spb_options, isc_spb_rpr_validate_db | isc_spb_rpr_full);
    const QByteArray bytes = spb.bytes();
    Status st;
    callFb([&] {
        m_handle->start(st.get(), unsigned(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()));
    });
}

QByteArray ServiceManager::waitForEnd() {
    if (!m_handle)
        throw FbError("services manager not attached");
    // Output that nobody reads stalls the action on the server, so read until the server says it
    // has no more: an empty answer that is not cut short.
    const unsigned char items[] = {isc_info_svc_to_eof};
    std::array<unsigned char, 16384> buffer{};
    QByteArray output;
    for (;;) {
        Status st;
        callFb([&] {
            m_handle->query(st.get(), 0, nullptr, sizeof items, items, unsigned(buffer.size()), buffer.data());
        });
        if (buffer[0] != isc_info_svc_to_eof)
            throw FbError("unexpected answer from the services manager");
        const auto length = static_cast<unsigned>(isc_portable_integer(&buffer[1], 2));
        if (length + 4 > buffer.size())
            throw FbError("malformed answer from the services manager");
        output.append(reinterpret_cast<const char*>(&buffer[3]), qsizetype(length));
        const unsigned char next = buffer[3 + length];
        if (length == 0 && next != isc_info_truncated && next != isc_info_data_not_ready)
            return output;
    }
}

} // namespace vestrel::fb
