#pragma once

#include <QByteArray>

namespace vestrel {

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

// Where the settings live: the server and port in "DovuziZez.ini" beside the program, the rest in the
// registry key below; each entry of one table names its place and its default.
namespace UserConfigStore {

inline constexpr char RegistryKey[] = "\\software\\Pelk Software\\Vestrel\\Chat";
inline constexpr char IniFileName[] = "DovuziZez.ini";

// Defaults first, then the INI file, then every registry value that exists. Missing files, keys
// and values, and values of the wrong type, leave the defaults without a word.
TUserConfig load();
// Writes the INI file, then the registry values (creating the key).
// A registry key that cannot be opened or written skips (and logs) the registry part; a file that cannot be
// written raises IniWriteError.
void save(const TUserConfig& config);

// One string value of the settings key read straight from the registry, as the tray menu reads "Popup"
// and the close command reads "Check": a missing key or value, or one of another type, reads as empty.
QByteArray readRegistryString(const char* name);
// Writes one string value straight into the settings key, creating the key; false (and logged) when the
// store cannot be written.
bool writeRegistryString(const char* name, const QByteArray& value);

} // namespace UserConfigStore

} // namespace vestrel
