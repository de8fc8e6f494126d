// VEBackupd: the backup scheduler service. Without arguments it runs as a foreground daemon (systemd
// starts it; SIGTERM or SIGINT stops it); --run-now runs the whole plan once for administrators.

#include "backup/BackupLog.h"
#include "backup/BackupLogging.h"
#include "backup/BackupMainD.h"
#include "fb/LockFolder.h"
#include "platform/ShutdownSignals.h"

#ifdef _WIN32
#include "backup/WindowsService.h"
#endif

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace vestrel::backup {
namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

int runNow(int pauseMs) {
    BackupRunOptions options;
    options.pauseMs = pauseMs;
    try {
        const BackupRunResult result = RunBackupPlan(options);
        std::printf("%d backed up, %d failed\n", result.backedUp, result.failed);
        return result.failed == 0 ? 0 : ExitFailure;
    } catch (const std::exception& e) {
        LogRunFailure(e.what());
        std::fprintf(stderr, "VEBackupd: %s\n", e.what());
        return ExitFailure;
    }
}

// The service thread runs the service object; this (main) thread only turns signals into a stop
// request, as the service control manager's dispatcher does on Windows.
int runService(int pauseMs) {
    SystemClock clock;
    TVEBackup service(clock);
    service.setPauseMs(pauseMs);
    int status = 0;
    std::unique_ptr<QThread> serviceThread(QThread::create([&service, &status] {
        try {
            service.ServiceExecute();
        } catch (const std::exception& e) {
            qCCritical(lcBackup) << "service failed:" << e.what();
            status = ExitFailure;
        }
    }));
    service.moveToThread(serviceThread.get());

#ifdef _WIN32
    // Started by the service control manager: its stop control is the stop request, as a signal is
    // below, and the service ends when the service thread does.
    const std::optional<int> managed = RunWindowsService(
        L"VEBackup",
        [&serviceThread, &status] {
            serviceThread->start();
            serviceThread->wait();
            return status;
        },
        [&service] { service.RequestStop(); });
    if (managed)
        return *managed;
#endif

    ShutdownSignals shutdown;
    QObject::connect(
        &shutdown, &ShutdownSignals::shutdownRequested, &service, [&service](int) { service.RequestStop(); },
        Qt::DirectConnection);
    QObject::connect(serviceThread.get(), &QThread::finished, qApp, &QCoreApplication::quit);
    serviceThread->start();
    QCoreApplication::exec();
    serviceThread->wait();
    return status;
}

} // namespace
} // namespace vestrel::backup

int main(int argc, char* argv[]) {
    vestrel::fb::chooseEmbeddedLockFolder();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"VEBackupd"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Vestrel backup scheduler. Without options it runs as the backup service in the foreground until "
        "SIGTERM or SIGINT, checking backup.ini every five minutes."_s);
    const QCommandLineOption helpOption({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption runNowOption(u"run-now"_s,
                                          u"Run the whole backup plan once now, whatever the day and time, then exit; "
                                          "the status is 1 when a backup failed."_s);
    const QCommandLineOption pauseOption(u"pause-ms"_s, u"Pause after each backup through the server (default 5000)."_s,
                                         u"ms"_s, QString::number(vestrel::backup::ServiceBackupPauseMs));
    parser.addOption(helpOption);
    parser.addOption(runNowOption);
    parser.addOption(pauseOption);

    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        const QString error = parser.errorText().isEmpty() ? u"unexpected argument"_s : parser.errorText();
        std::fprintf(stderr, "VEBackupd: %s\n%s", qPrintable(error), qPrintable(parser.helpText()));
        return vestrel::backup::ExitUsage;
    }
    if (parser.isSet(helpOption)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    bool ok = false;
    const int pauseMs = parser.value(pauseOption).toInt(&ok);
    if (!ok || pauseMs < 0) {
        std::fprintf(stderr, "VEBackupd: --pause-ms takes a number of milliseconds\n");
        return vestrel::backup::ExitUsage;
    }
    if (parser.isSet(runNowOption))
        return vestrel::backup::runNow(pauseMs);
    return vestrel::backup::runService(pauseMs);
}
