#include "backup/BackupSettings.h"

#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

using namespace backupini;

std::unique_ptr<IniFile> OpenBackupIni() {
    return std::make_unique<IniFile>(programFile(u"backup.ini"_s));
}

int ReadFreq(const IniFile& backupIni) {
    return backupIni.ReadInteger(Setup, "Freq", DefaultFreq);
}

QTime ReadOra(const IniFile& backupIni) {
    return backupIni.ReadTime(Setup, "Ora", DefaultOra);
}

QByteArray ReadBackupRoot(const IniFile& backupIni) {
#ifdef _WIN32
    const QByteArray defaultRoot =
        cp1252::fromUnicode(QDir::toNativeSeparators(programDirectory())) + "database\\backup";
#else
    const QByteArray defaultRoot = cp1252::fromUnicode(programDirectory()) + "database/backup";
#endif
    return backupIni.ReadString(Setup, "Path", defaultRoot);
}

bool ReadServerRoute(const IniFile& backupIni) {
    return backupIni.ReadInteger(Setup, "Compressed", DefaultCompressed) == 0;
}

bool ReadFileDefault(const IniFile& backupIni) {
    return backupIni.ReadBool(Setup, "File default", DefaultFileDefault);
}

ConfiguredDatabase ReadConfiguredDatabase(const IniFile& configIni, const QByteArray& section) {
    ConfiguredDatabase db;
    db.host = configIni.ReadString(section, "host", {});
    db.file = configIni.ReadString(section, "file", {});
    db.protocol = configIni.ReadInteger(section, "protocollo", 0);
    db.user = configIni.ReadString(section, "user", DefaultUser);
    db.password = configIni.ReadString(section, "pwd", DefaultPassword);
    return db;
}

} // namespace vestrel::backup
