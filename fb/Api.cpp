#include "fb/Api.h"

#include "fb/LockFolder.h"

namespace vestrel::fb::detail {

Firebird::IMaster* master() {
    // The engine reads its lock folder when it first opens a database, after this.
    static Firebird::IMaster* const instance = [] {
        chooseEmbeddedLockFolder();
        return Firebird::fb_get_master_interface();
    }();
    return instance;
}

Firebird::IUtil* util() {
    return master()->getUtilInterface();
}

Firebird::IProvider* dispatcher() {
    // One dispatcher for the process; the library keeps it alive until the process ends.
    static Firebird::IProvider* const instance = master()->getDispatcher();
    return instance;
}

std::string formatStatus(const Firebird::IStatus* status) {
    char buffer[2048];
    util()->formatStatus(buffer, sizeof buffer, const_cast<Firebird::IStatus*>(status));
    std::string text(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? std::string("unknown database error") : text;
}

Status::Status()
    : m_wrapper(master()->getStatus()) {}

Status::~Status() {
    m_wrapper.dispose();
}

} // namespace vestrel::fb::detail
