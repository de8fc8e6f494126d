#include "reminders/dbNameUtils.h"

#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

namespace {

// The local program's "database" folder with its trailing separator, in this system's own path form.
QString localDatabaseFolder() {
#ifdef _WIN32
    return QDir::toNativeSeparators(programDirectory()) + u"database\\"_s;
#else
    return programDirectory() + u"database/"_s;
#endif
}

// A name the embedded engine opens in this process names the file as the file system spells it
// ("/home/nicolò" is UTF-8 on Linux); a name that goes to a server stays in the connection's cp1252.
QByteArray localName(const QString& path) {
#ifdef _WIN32
    return cp1252::fromUnicode(path);
#else
    return QFile::encodeName(path);
#endif
}

} // namespace

QByteArray ComposeDatabaseName(const QByteArray& host, const QByteArray& file, int protocol) {
    QByteArray result;
    if (!host.isEmpty()) {
        switch (protocol) {
        case 1:
            result = "\\\\" + host + '\\';
            break;
        case 0:
            result = host + ':';
            break;
        case 2:
            result = host + '@';
            break;
        default:
            result = host;
            break;
        }
    }
    const bool pathGiven = file.contains('\\') || file.contains('/');
    if (host.isEmpty())
        return localName(pathGiven ? cp1252::toUnicode(file) : localDatabaseFolder() + cp1252::toUnicode(file));
    if (pathGiven)
        result += file;
    else
        result += cp1252::fromUnicode(localDatabaseFolder()) + file;
    return result;
}

std::unique_ptr<IniFile> OpenConfigIni() {
    return std::make_unique<IniFile>(programIniFile(u"config.ini"_s));
}

} // namespace vestrel::reminders
