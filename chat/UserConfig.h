#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace vestrel::chat {

// The chat client's settings, alive for the whole run. Texts are cp1252 bytes; the on/off
// settings are "1" or "0", and only exactly "1" counts as on.
struct TUserConfig {
    int Timer = 40;
    QByteArray Nick;
    QByteArray Host;
    QByteArray Check = "1";
    QByteArray Mostra = "1";
    QByteArray Notifica = "1";
    QByteArray Popup = "1";
    QByteArray Suono = "1";
    QByteArray Server;
    QByteArray Porta;
};

inline bool isOn(const QByteArray& flag) {
    return flag == "1";
}

// The characters of a typed nickname the server's client list cannot carry: "=" splits its
// "nick=key" lines, "]" breaks the group file's sections built from it, line breaks and NUL end a
// line or a record field. Each once, in the order they first appear; empty when the nick can travel.
QStringList nickForbiddenCharacters(const QString& nick);

// Where the settings live: the server and port in "DovuziZez.ini" beside the program (the user's own
// copy over it once the program is installed, see programIniFile), the rest in the registry key below; each
// entry of one table names its place and its default.
namespace UserConfigStore {

inline constexpr char RegistryKey[] = "\\software\\Pelk Software\\Vestrel\\Chat";
inline constexpr char IniFileName[] = "DovuziZez.ini";

// Defaults first, then the INI file, then every registry value that exists. Missing files, keys
// and values, and values of the wrong type, leave the defaults without a word.
TUserConfig load();

// Raised when some settings could not be stored; the text names each file or key and the reason.
class SettingsSaveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes the INI file, then the registry values (creating the key). When either part cannot be written
// the other is still saved, then SettingsSaveError is raised.
void save(const TUserConfig& config);

// One string value of the settings key read straight from the registry, as the tray menu reads "Popup"
// and the close command reads "Check": a missing key or value, or one of another type, reads as empty.
QByteArray readRegistryString(const char* name);
// Writes one string value straight into the settings key, creating the key; false (and logged) when the
// store cannot be written.
bool writeRegistryString(const char* name, const QByteArray& value);

} // namespace UserConfigStore

} // namespace vestrel::chat
