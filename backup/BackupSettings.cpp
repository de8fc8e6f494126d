#include "backup/BackupSettings.h"

#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include "backup/backupFunction.h"
#include "platform/IniText.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <climits>

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
    const QByteArray root = backupIni.ReadString(Setup, "Path", defaultRoot);
    if (root.trimmed().isEmpty())
        throw BackupError("backup.ini [Setup] Path is empty: no backup is made at the top of the file system; "
                          "name the backup folder or remove the key for the default");
    return root;
}

bool ReadServerRoute(const IniFile& backupIni) {
    return backupIni.ReadInteger(Setup, "Compressed", DefaultCompressed) == 0;
}

bool ReadFileDefault(const IniFile& backupIni) {
    return backupIni.ReadBool(Setup, "File default", DefaultFileDefault);
}

bool ReadVerify(const IniFile& backupIni) {
    return backupIni.ReadBool(Setup, "Verify", DefaultVerify);
}

QByteArray ReadOnFailure(const IniFile& backupIni) {
    return backupIni.ReadString(Setup, "OnFailure", {}).trimmed();
}

void RequireReadable(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw BackupError("cannot read " + path.toStdString() + ": " + file.errorString().toStdString());
}

namespace {

enum class Kind { Integer, Time, Text, Any };

struct KnownKey {
    const char* section;
    const char* key; // nullptr: every key of the section
    Kind kind;
    int min = 0;
    int max = 0;
};

const KnownKey KnownKeys[] = {
    {Setup, "Freq", Kind::Integer, 0, 2},
    {Setup, "Ora", Kind::Time},
    {Setup, "Path", Kind::Text},
    {Setup, "Compressed", Kind::Integer, INT_MIN, INT_MAX},
    {Setup, "File default", Kind::Integer, INT_MIN, INT_MAX},
    {Setup, "Verify", Kind::Integer, INT_MIN, INT_MAX},
    {Setup, "OnFailure", Kind::Text},
    {Daily, "0", Kind::Integer, INT_MIN, INT_MAX},
    {Daily, "1", Kind::Integer, INT_MIN, INT_MAX},
    {Daily, "2", Kind::Integer, INT_MIN, INT_MAX},
    {Daily, "3", Kind::Integer, INT_MIN, INT_MAX},
    {Daily, "4", Kind::Integer, INT_MIN, INT_MAX},
    {Daily, "5", Kind::Integer, INT_MIN, INT_MAX},
    {Daily, "6", Kind::Integer, INT_MIN, INT_MAX},
    {Week, "Day", Kind::Integer, 0, 6},
    {Month, "Day", Kind::Integer, 0, LastDayOfMonth},
    {Database, "user", Kind::Text},
    {Database, "pwd", Kind::Text},
    {File, nullptr, Kind::Any},
};

QByteArray defaultText(const char* section, const char* key) {
    const QByteArray s(section);
    const QByteArray k(key);
    if (s == Setup && k == "Freq")
        return "0";
    if (s == Setup && k == "Ora")
        return "09.00";
    if (s == Week || s == Month)
        return "0";
    return "the default";
}

} // namespace

QByteArrayList CheckBackupIni(const IniFile& backupIni) {
    QByteArrayList problems;
    QFile file(backupIni.FileName());
    if (!file.open(QIODevice::ReadOnly))
        return problems;
    const initext::Text text = initext::parse(file.readAll());
    const QByteArray where = "backup.ini ";
    QByteArray section;
    bool known = true;
    for (const initext::Line& line : text.lines) {
        switch (line.kind) {
        case initext::Line::Kind::Section: {
            section = line.name;
            known = std::any_of(std::begin(KnownKeys), std::end(KnownKeys), [&](const KnownKey& k) {
                return section.compare(k.section, Qt::CaseInsensitive) == 0;
            });
            if (!known)
                problems.append(where + "section [" + section + "] is not used and is ignored");
            break;
        }
        case initext::Line::Kind::Name:
            problems.append(where + (section.isEmpty() ? QByteArray() : "[" + section + "] ") + "line \"" +
                            line.raw.trimmed() + "\" has no \"=\" and is ignored");
            break;
        case initext::Line::Kind::Key: {
            if (!known)
                break;
            if (section.isEmpty()) {
                problems.append(where + "line \"" + line.raw.trimmed() + "\" is outside any section and is ignored");
                break;
            }
            const auto rule = std::find_if(std::begin(KnownKeys), std::end(KnownKeys), [&](const KnownKey& k) {
                return section.compare(k.section, Qt::CaseInsensitive) == 0 &&
                       (!k.key || line.name.compare(k.key, Qt::CaseInsensitive) == 0);
            });
            if (rule == std::end(KnownKeys)) {
                problems.append(where + "[" + section + "] " + line.name + " is not a known key and is ignored");
                break;
            }
            const QByteArray value = initext::valueOf(line);
            const QByteArray named = where + "[" + section + "] " + line.name + "=" + value;
            if (rule->kind == Kind::Integer) {
                const std::optional<int> number = initext::parseInteger(value);
                if (!number)
                    problems.append(named + ": not a number, " + defaultText(rule->section, rule->key) + " is used");
                else if (*number < rule->min || *number > rule->max)
                    problems.append(named + ": outside " + QByteArray::number(rule->min) + " to " +
                                    QByteArray::number(rule->max) +
                                    (QByteArray(rule->section) == Setup ? ", no backup is ever due" : ", never due"));
            } else if (rule->kind == Kind::Time && !backupIni.ReadTime(section, line.name, QTime()).isValid()) {
                problems.append(named + ": not a time of day, 09.00 is used");
            }
            break;
        }
        case initext::Line::Kind::Other:
            break;
        }
    }
    return problems;
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
