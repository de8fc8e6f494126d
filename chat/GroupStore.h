#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace vestrel {
class IniFile;
} // namespace vestrel

namespace vestrel::chat {

// Groups of nicknames kept in "gruppi.ini" beside the program. Section "GRCREATI" lists the group
// names under keys "0".."n" with "Count" = n; each group has its own section with its members under
// "0".."m" and "count" = m. Every operation works on the caller's open IniFile.
namespace GroupStore {

inline constexpr char FileName[] = "gruppi.ini";
inline constexpr char ListSection[] = "GRCREATI";

// Whether the file can hold `name` as a group: not empty, no "]" or line break, no blanks at either end
// (the file would lose them), and not the name of the group list itself.
bool canHoldGroupName(const QByteArray& name);

// The group file: beside the program, or the user's own copy over it once the program is installed
// (see programIniFile).
IniFile openGroupFile();

// The group names in stored order; empty without a "GRCREATI" section or with a negative count.
// A missing or non-numeric "Count" raises ConversionError.
QByteArrayList LoadGroupList(const IniFile& ini);
// With no names the section goes; in a user's copy where the administrator's list would then show
// through, "Count" = -1 keeps the list empty.
void SaveGroupList(IniFile& ini, const QByteArrayList& names);
// The members of group `name` in index order, none when its last index ("count") is negative; a
// missing member key gives an empty nick. A missing or non-numeric "count" raises ConversionError.
QByteArrayList LoadGroupMembers(const IniFile& ini, const QByteArray& name);
void SaveGroup(IniFile& ini, const QByteArray& name, const QByteArrayList& members);
// Erases the group's section, drops it from `names` and saves the list.
void DeleteGroup(IniFile& ini, const QByteArray& name, QByteArrayList& names);
// Saves the group under `name` (replacing one of that name) and appends the name to `names` when new.
void CreateOrReplaceGroup(IniFile& ini, const QByteArray& name, const QByteArrayList& members, QByteArrayList& names);

} // namespace GroupStore

} // namespace vestrel::chat
