#include "backup/JournalPriority.h"

#include <QStringList>

#include <cstdio>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

int priority(QtMsgType type) {
    switch (type) {
    case QtFatalMsg:
        return 2;
    case QtCriticalMsg:
        return 3;
    case QtWarningMsg:
        return 4;
    case QtInfoMsg:
        return 6;
    case QtDebugMsg:
        return 7;
    }
    return 6;
}

void journalHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray lines = JournalLines(type, context.category, message);
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stderr);
    std::fflush(stderr);
}

// $JOURNAL_STREAM is "device:inode" of the stream systemd connected; a child's redirected stderr differs.
bool stderrIsJournal() {
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const QByteArrayList parts = stream.split(':');
    if (parts.size() != 2)
        return false;
    struct stat info {};
    if (::fstat(fileno(stderr), &info) != 0)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = parts[0].toULongLong(&deviceOk);
    const qulonglong inode = parts[1].toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == qulonglong(info.st_dev) && inode == qulonglong(info.st_ino);
}

} // namespace

QByteArray JournalLines(QtMsgType type, const char* category, const QString& message) {
    const QByteArray prefix =
        '<' + QByteArray::number(priority(type)) + '>' +
        (category && *category && qstrcmp(category, "default") != 0 ? QByteArray(category) + ": " : QByteArray());
    QByteArray out;
    for (const QString& line : message.split(u'\n'))
        out += prefix + line.toUtf8() + '\n';
    return out;
}

void RouteMessagesToJournal() {
    if (stderrIsJournal())
        qInstallMessageHandler(journalHandler);
}

} // namespace vestrel::backup
