// VEBackupd: the backup scheduler service. Without arguments it runs as a foreground daemon (systemd
// starts it; SIGTERM or SIGINT stops it); --run-now runs the whole plan once for administrators.

#include "backup/BackupLog.h"
#include "backup/BackupLogging.h"
#include "backup/BackupMainD.h"
#include "backup/ConfigCheck.h"
#include "backup/JournalPriority.h"
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
constexpr int ExitBusy = 3;

int runNow(int pauseMs, bool wait) {
    BackupRunOptions options;
    options.pauseMs = pauseMs;
    options.waitForOtherRun = wait;
    const BackupRunResult result = RunBackupPlan(options);
    if (result.busy) {
        std::fprintf(stderr, "VEBackupd: another backup run is in progress; nothing was done\n");
        return ExitBusy;
    }
    std::printf("%s\n", result.summary.constData());
    return result.failed == 0 ? 0 : ExitFailure;
}

int checkConfig() {
    const PlanCheck check = CheckConfiguration();
    std::fputs(check.text.constData(), stdout);
    return check.ok ? 0 : ExitFailure;
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
    const QCommandLineOption runNowOption(u"run-now"_s, u"Run the whole backup plan once now, whatever the day and "
                                                        u"time (after a run in progress has ended), then exit; "
                                                        "the status is 1 when a backup failed."_s);
    const QCommandLineOption noWaitOption(
        u"no-wait"_s, u"With --run-now: when another run is in progress, say so and exit with status 3 "
                      "instead of waiting for it."_s);
    const QCommandLineOption checkOption(u"check-config"_s,
                                         u"Print the plan a run would carry out (each database, its route and "
                                         "backup file) and the problems of backup.ini, then exit: 0 when the "
                                         "plan can run, 1 when not. Nothing is backed up."_s);
    const QCommandLineOption pauseOption(u"pause-ms"_s, u"Pause after each backup through the server (default 5000)."_s,
                                         u"ms"_s, QString::number(vestrel::backup::ServiceBackupPauseMs));
    parser.addOption(helpOption);
    parser.addOption(runNowOption);
    parser.addOption(noWaitOption);
    parser.addOption(checkOption);
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
    if (parser.isSet(checkOption))
        return vestrel::backup::checkConfig();
    if (parser.isSet(noWaitOption) && !parser.isSet(runNowOption)) {
        std::fprintf(stderr, "VEBackupd: --no-wait goes with --run-now\n");
        return vestrel::backup::ExitUsage;
    }
    vestrel::backup::RouteMessagesToJournal();
    if (parser.isSet(runNowOption))
        return vestrel::backup::runNow(pauseMs, !parser.isSet(noWaitOption));
    return vestrel::backup::runService(pauseMs);
}
