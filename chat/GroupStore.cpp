#include "chat/GroupStore.h"

#include "chat/ClientList.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"

using namespace Qt::StringLiterals;

namespace vestrel::chat::GroupStore {

namespace {

// Section names compare without regard to case, so group names in the list do too.
qsizetype indexOfName(const QByteArrayList& names, const QByteArray& name) {
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (sameTextIgnoringCase(names[i], name))
            return i;
    }
    return -1;
}

QByteArrayList readIndexed(const IniFile& ini, const QByteArray& section, int last) {
    QByteArrayList values;
    for (int i = 0; i <= last; ++i)
        values.append(ini.ReadString(section, QByteArray::number(i), QByteArray()));
    return values;
}

} // namespace

bool canHoldGroupName(const QByteArray& name) {
    if (name.isEmpty() || name.trimmed() != name)
        return false;
    if (name.contains(']') || name.contains('\r') || name.contains('\n'))
        return false;
    return !sameTextIgnoringCase(name, ListSection);
}

IniFile openGroupFile() {
    return programIniFile(QString::fromLatin1(FileName));
}

QByteArrayList LoadGroupList(const IniFile& ini) {
    if (!ini.SectionExists(ListSection))
        return {};
    return readIndexed(ini, ListSection, ini.ReadIntegerStrict(ListSection, "count"));
}

void SaveGroupList(IniFile& ini, const QByteArrayList& names) {
    ini.EraseSection(ListSection);
    for (int i = 0; i < names.size(); ++i) {
        ini.WriteString(ListSection, QByteArray::number(i), names[i]);
        ini.WriteInteger(ListSection, "Count", i);
    }
    if (names.isEmpty() && ini.SectionExists(ListSection))
        ini.WriteInteger(ListSection, "Count", -1);
}

QByteArrayList LoadGroupMembers(const IniFile& ini, const QByteArray& name) {
    return readIndexed(ini, name, ini.ReadIntegerStrict(name, "count"));
}

void SaveGroup(IniFile& ini, const QByteArray& name, const QByteArrayList& members) {
    ini.EraseSection(name);
    for (int i = 0; i < members.size(); ++i) {
        ini.WriteString(name, QByteArray::number(i), members[i]);
        ini.WriteInteger(name, "count", i);
    }
    ini.UpdateFile();
}

void DeleteGroup(IniFile& ini, const QByteArray& name, QByteArrayList& names) {
    ini.EraseSection(name);
    if (const qsizetype index = indexOfName(names, name); index >= 0)
        names.removeAt(index);
    SaveGroupList(ini, names);
}

void CreateOrReplaceGroup(IniFile& ini, const QByteArray& name, const QByteArrayList& members, QByteArrayList& names) {
    SaveGroup(ini, name, members);
    if (indexOfName(names, name) < 0)
        names.append(name);
    SaveGroupList(ini, names);
}

} // namespace vestrel::chat::GroupStore
