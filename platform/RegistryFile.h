#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <vector>

// The registry store's hive file: REGEDIT4 text, as the Windows registry editor exports it.
// Internal to the platform layer; shared by Registry.cpp and the fuzz target.
namespace vestrel::regfile {

// Windows value type numbers; other numbers are kept as read.
inline constexpr int kRegSz = 1;
inline constexpr int kRegExpandSz = 2;
inline constexpr int kRegBinary = 3;
inline constexpr int kRegDword = 4;

struct Value {
    QByteArray name; // empty for the default value ("@")
    int type = kRegSz;
    QByteArray data; // REG_SZ without terminator; REG_DWORD 4 bytes little-endian
};

struct Key {
    QByteArray path; // full path with the root, as first written: "HKEY_CURRENT_USER\Software\X"
    std::vector<Value> values;
};

struct Hive {
    std::vector<Key> keys; // in file order

    // Index of the key, compared without regard to case; -1 when it has no section of its own.
    qsizetype find(const QByteArray& path) const;
    // Whether the key has a section or is the parent of one.
    bool exists(const QByteArray& path) const;
    // The key's section, created at the end when missing; the new section takes the case of
    // existing parents, component by component.
    Key& obtain(const QByteArray& path);
    // Removes the key and every key below it; false when there was none.
    bool remove(const QByteArray& path);
    // Names of the direct subkeys of `path`, in file order, with their first-written case.
    QByteArrayList subkeys(const QByteArray& path) const;
};

// Reads what makes sense and skips the rest: unknown lines, values that are truncated, badly
// escaped or of malformed hex are dropped; the following lines are read on.
Hive parse(const QByteArray& bytes);

// The file's text: "REGEDIT4", a blank line, then each key and its values, CR LF line ends,
// long hex data wrapped with a trailing backslash.
QByteArray serialize(const Hive& hive);

// Index of the named value in `key`, compared without regard to case; -1 when missing.
qsizetype findValue(const Key& key, const QByteArray& name);

// The 4 little-endian bytes a REG_DWORD holds, and back (`data` must hold 4 bytes).
QByteArray dwordData(quint32 value);
quint32 dwordValue(const QByteArray& data);

} // namespace vestrel::regfile
