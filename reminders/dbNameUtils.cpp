#include "reminders/dbNameUtils.h"

#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// The local program's "database" folder with its trailing separator, in this system's own path form
// so that the embedded engine can open the file.
QByteArray localDatabaseFolder() {
#ifdef _WIN32
    return cp1252::fromUnicode(QDir::toNativeSeparators(programDirectory()) + u"database\\"_s);
#else
    return cp1252::fromUnicode(programDirectory() + u"database/"_s);
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
    if (file.contains('\\') || file.contains('/'))
        result += file;
    else
        result += localDatabaseFolder() + file;
    return result;
}

std::unique_ptr<IniFile> OpenConfigIni() {
    return std::make_unique<IniFile>(programFile(u"config.ini"_s));
}

} // namespace vestrel
