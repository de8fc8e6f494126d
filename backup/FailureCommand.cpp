#include "backup/FailureCommand.h"

#include "backup/BackupLog.h"
#include "backup/BackupLogging.h"
#include "backup/BackupSettings.h"
#include "platform/Cp1252.h"

#include <QProcess>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

void logProblem(const QByteArray& text) {
    try {
        WriteBackupLog("Warning the OnFailure command " + text, LogLevel::Warning);
    } catch (const BackupLogError& e) {
        qCWarning(lcBackup) << e.what();
    }
}

} // namespace

void RunFailureCommand(const QByteArray& summary) {
    QByteArray command;
    try {
        command = ReadOnFailure(*OpenBackupIni());
    } catch (const std::exception& e) {
        logProblem(QByteArray("cannot be read: ") + e.what());
        return;
    }
    if (command.isEmpty())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
#ifdef _WIN32
    process.start(u"cmd.exe"_s, {u"/c"_s, cp1252::toUnicode(command), cp1252::toUnicode(summary)});
#else
    process.start(u"/bin/sh"_s, {u"-c"_s, cp1252::toUnicode(command), u"sh"_s, cp1252::toUnicode(summary)});
#endif
    if (!process.waitForStarted()) {
        logProblem(cp1252::fromUnicode(u"cannot be started: "_s + process.errorString()));
        return;
    }
    process.write(summary + '\n');
    process.closeWriteChannel();
    if (!process.waitForFinished(FailureCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        logProblem("did not end within " + QByteArray::number(FailureCommandTimeoutMs / 1000) + " s and was ended");
        return;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        logProblem("failed with status " + QByteArray::number(process.exitCode()));
}

} // namespace vestrel::backup
