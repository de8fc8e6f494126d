#include "backup/WindowsService.h"

#ifdef _WIN32

#include <windows.h>

namespace vestrel::backup {

namespace {

// How long the manager waits for the stop to finish before it takes the service for hung; a stop
// that arrives during a backup run waits for the database being backed up.
constexpr DWORD StopWaitHintMs = 60000;

struct Service {
    const wchar_t* name = nullptr;
    std::function<int()> run;
    std::function<void()> requestStop;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    SRWLOCK lock = SRWLOCK_INIT; // the dispatcher thread and the service thread both report
    int exitCode = 0;
};

// The manager's entry points take no context; a process runs one service.
Service* g_service = nullptr;

void report(DWORD state, DWORD waitHintMs = 0) {
    AcquireSRWLockExclusive(&g_service->lock);
    SERVICE_STATUS& status = g_service->status;
    if (status.dwCurrentState != SERVICE_STOPPED) {
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = state;
        status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
        status.dwWin32ExitCode = NO_ERROR;
        status.dwServiceSpecificExitCode = 0;
        if (state == SERVICE_STOPPED && g_service->exitCode != 0) {
            status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            status.dwServiceSpecificExitCode = DWORD(g_service->exitCode);
        }
        status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : status.dwCheckPoint + 1;
        status.dwWaitHint = waitHintMs;
        SetServiceStatus(g_service->handle, &status);
    }
    ReleaseSRWLockExclusive(&g_service->lock);
}

DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        report(SERVICE_STOP_PENDING, StopWaitHintMs);
        g_service->requestStop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    g_service->handle = RegisterServiceCtrlHandlerExW(g_service->name, controlHandler, nullptr);
    if (!g_service->handle)
        return;
    report(SERVICE_RUNNING);
    g_service->exitCode = g_service->run();
    report(SERVICE_STOPPED);
}

} // namespace

std::optional<int> RunWindowsService(const wchar_t* name, std::function<int()> run, std::function<void()> requestStop) {
    Service service;
    service.name = name;
    service.run = std::move(run);
    service.requestStop = std::move(requestStop);
    g_service = &service;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(name), serviceMain}, {nullptr, nullptr}};
    // Returns once the service has stopped, or at once when no manager started the process.
    const bool dispatched = StartServiceCtrlDispatcherW(table) != 0;
    g_service = nullptr;
    if (!dispatched)
        return std::nullopt;
    return service.exitCode;
}

} // namespace vestrel::backup

#endif
