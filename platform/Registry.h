#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace vestrel {

// Raised for a value of the wrong type, a missing value read as an integer, or a store that cannot
// be written. Callers that must not fail catch it, as the programs do with registry errors.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class RegistryHive { CurrentUser, LocalMachine };

// The Windows value types, by their numbers. A value of a type not named here (a number a .reg file
// gives as "hex(N):") keeps that number: RegistryType(N).
enum class RegistryType {
    None = 0,           // REG_NONE: bytes without a meaning
    String = 1,         // REG_SZ
    ExpandString = 2,   // REG_EXPAND_SZ: a string with %VARIABLES%
    Binary = 3,         // REG_BINARY
    DWord = 4,          // REG_DWORD, little-endian
    DWordBigEndian = 5, // REG_DWORD_BIG_ENDIAN
    MultiString = 7,    // REG_MULTI_SZ: strings, each ended by a NUL, and a NUL after the last
    QWord = 11,         // REG_QWORD, little-endian
};

struct RegistryValue {
    RegistryType type = RegistryType::String;
    // REG_SZ and REG_EXPAND_SZ: cp1252 bytes without terminator; REG_MULTI_SZ: cp1252 strings with their
    // NULs; REG_DWORD and REG_DWORD_BIG_ENDIAN: 4 bytes, REG_QWORD 8, in the type's byte order; any other
    // type: the bytes as stored.
    QByteArray data;

    static RegistryValue fromString(const QByteArray& text) { return {RegistryType::String, text}; }
    static RegistryValue fromInteger(int value);
    static RegistryValue fromBinary(const QByteArray& data) { return {RegistryType::Binary, data}; }
};

using RegistryValueList = QList<QPair<QByteArray, RegistryValue>>; // value name, value

// A typed key/value store with the behaviour of the Windows registry for what the programs use.
//
// On Linux each hive is one REGEDIT4 text file ("HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg") in
// registryDirectory(). Key paths use "\" ("\software\Pelk Software\Vestrel"; a leading "\" is
// optional); key and value names compare without regard to case and keep the case first written.
// Every change is a read-modify-write of the hive file with an atomic replace under an advisory lock
// that writers wait for in turn, so several programs writing at once lose nothing and none is refused.
// A damaged file reads as far as it makes sense; lines that cannot be understood are never fatal and
// are written back unchanged by the next change. Files exported by the registry editor in either
// format read as they would import. The process keeps the parsed hive while the file's
// size, modification time and inode stay the same, so repeated reads do not parse it again.
class Registry {
public:
    explicit Registry(RegistryHive hive = RegistryHive::CurrentUser);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    RegistryHive RootKey() const { return m_hive; }

    // Opens `key` as the current key. Without `canCreate` a missing key fails (returns false);
    // with it the key is created. Returns false too when the store cannot be written.
    bool OpenKey(const QByteArray& key, bool canCreate);
    bool OpenKeyReadOnly(const QByteArray& key) { return OpenKey(key, false); }
    void CloseKey();
    bool HasCurrentKey() const { return m_open; }
    QByteArray CurrentPath() const { return m_currentKey; }

    bool KeyExists(const QByteArray& key) const;
    bool DeleteKey(const QByteArray& key);

    // Values of the current key. Reads see the store as it is on disk at the time of the call.
    bool ValueExists(const QByteArray& name) const;
    // The value with its type and data as stored; writing it back with WriteValues keeps both.
    std::optional<RegistryValue> ReadValue(const QByteArray& name) const;
    // A REG_SZ or REG_EXPAND_SZ value (unexpanded); a missing value reads as an empty string; a value of
    // another type raises RegistryError.
    QByteArray ReadString(const QByteArray& name) const;
    // A missing value or one of another type than REG_DWORD raises RegistryError.
    int ReadInteger(const QByteArray& name) const;
    // The data of a value of any type but REG_SZ, REG_EXPAND_SZ and REG_DWORD (those raise RegistryError,
    // as a missing value does).
    QByteArray ReadBinaryData(const QByteArray& name) const;

    // Writes raise RegistryError when no key is open or the store cannot be written.
    void WriteString(const QByteArray& name, const QByteArray& value);
    void WriteInteger(const QByteArray& name, int value);
    void WriteBinaryData(const QByteArray& name, const QByteArray& data);
    // Writes all `values` into the current key in one locked read-modify-write: other programs see
    // none or all of them, and the file is rewritten once. A later entry of the same name wins.
    // Nothing is written when one of the names cannot be stored, or a type number is not one (below 0
    // or above 0xFFFF).
    void WriteValues(const RegistryValueList& values);
    bool DeleteValue(const QByteArray& name);

    // Names in the order they are stored, with their stored case.
    QByteArrayList GetValueNames() const;
    QByteArrayList GetKeyNames() const; // direct subkeys of the current key

private:
    RegistryHive m_hive;
    QByteArray m_currentKey; // relative to the hive, as the caller spelled it; empty for the root
    bool m_open = false;
};

// Path of the file that holds `hive` on this system.
QString registryHiveFile(RegistryHive hive);

} // namespace vestrel
