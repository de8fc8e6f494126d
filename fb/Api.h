#pragma once

// Internal to fb/: access to the client library's object interface and the one place where its
// status vectors become FbError exceptions.

#include "fb/FbError.h"

#include <firebird/Interface.h>

#include <utility>

namespace vestrel::fb::detail {

Firebird::IMaster* master();
Firebird::IUtil* util();
// The provider that dispatches attachments (embedded engine or remote server by the name).
Firebird::IProvider* dispatcher();

// Formats the errors of `status` the way the client library prints them, one per line.
std::string formatStatus(const Firebird::IStatus* status);

// A status object for one call sequence; errors raise Firebird::FbException, which callFb turns into FbError.
class Status {
public:
    Status();
    ~Status();
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    Firebird::ThrowStatusWrapper* get() { return &m_wrapper; }

private:
    Firebird::ThrowStatusWrapper m_wrapper;
};

// Runs `call` and translates the library's exception into FbError with Firebird's own message.
template <typename Call> decltype(auto) callFb(Call&& call) {
    try {
        return std::forward<Call>(call)();
    } catch (const Firebird::FbException& e) {
        const intptr_t* errors = e.getStatus()->getErrors();
        const int code = (errors && errors[0] == isc_arg_gds) ? static_cast<int>(errors[1]) : 0;
        throw FbError(formatStatus(e.getStatus()), code);
    }
}

// Interfaces of the library are reference counted; this releases one when it goes out of scope.
template <typename T> class Ref {
public:
    Ref() = default;
    explicit Ref(T* p)
        : m_p(p) {}
    ~Ref() { reset(); }
    Ref(Ref&& other) noexcept
        : m_p(std::exchange(other.m_p, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    void reset(T* p = nullptr) {
        if (m_p)
            m_p->release();
        m_p = p;
    }
    // Gives up ownership without releasing (after a call such as detach() that already released it).
    T* take() { return std::exchange(m_p, nullptr); }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// Runs a call that ends the life of `handle`'s interface (detach, close, rollback). When it succeeds
// the library has already released the interface, so it is only forgotten; when it fails the
// interface is released here, since it cannot be used again, and the error goes on to the caller.
template <typename T, typename Call> void callFbReleasing(Ref<T>& handle, Call&& call) {
    try {
        callFb(std::forward<Call>(call));
    } catch (const FbError&) {
        handle.reset();
        throw;
    }
    handle.take();
}

} // namespace vestrel::fb::detail
