#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <vector>

// The registry store's hive file: REGEDIT4 text, as the Windows registry editor exports it. Files in
// the editor's later format ("Windows Registry Editor Version 5.00", UTF-16LE) are read too; every
// rewrite writes REGEDIT4.
// Internal to the platform layer; shared by Registry.cpp and the fuzz target.
namespace vestrel::regfile {

// Windows value type numbers; other numbers are kept as read.
inline constexpr int kRegSz = 1;
inline constexpr int kRegExpandSz = 2;
inline constexpr int kRegBinary = 3;
inline constexpr int kRegDword = 4;
inline constexpr int kRegMultiSz = 7;
// "hex(N):" gives type numbers up to this.
inline constexpr int kMaxType = 0xFFFF;

struct Value {
    QByteArray name; // empty for the default value ("@")
    int type = kRegSz;
    QByteArray data; // REG_SZ without terminator; REG_DWORD 4 bytes little-endian
};

// A line of the file the reader did not understand (a comment, a damaged value, a header it cannot
// read), kept as it was so that a rewrite loses nothing. A damaged value wrapped over several lines
// is one kept text with CR LF between its lines.
struct KeptLine {
    // Index of the value the line stood before; kAfterValues for lines that must stay after every
    // value of the key, because they end it (an unreadable header and what follows it).
    qsizetype before = 0;
    QByteArray text;
};
inline constexpr qsizetype kAfterValues = -1;

struct Key {
    QByteArray path; // full path with the root, as first written: "HKEY_CURRENT_USER\Software\X"
    std::vector<Value> values;
    std::vector<KeptLine> kept;

    // Removes the value at `index`; kept lines stay beside the values they stood next to.
    void eraseValue(qsizetype index);
};

struct Hive {
    QByteArrayList preamble; // kept lines above the first key
    std::vector<Key> keys;   // in file order

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

// Reads what makes sense and keeps the rest as KeptLine: unknown lines, comments, values that are
// truncated, badly escaped or of malformed hex; the following lines are read on. Deletion entries
// ("[-key]", "\"name\"=-") remove what the lines above them made, as an import does. A file that
// starts with a UTF-16LE byte order mark is read as UTF-16LE, its text and its string data ("hex(1)",
// "hex(2)", "hex(7)") converted to cp1252.
Hive parse(const QByteArray& bytes);

// The file's text: "REGEDIT4", a blank line, kept lines above the first key, then each key with its
// values and kept lines, CR LF line ends, long hex data wrapped with a trailing backslash.
QByteArray serialize(const Hive& hive);

// Index of the named value in `key`, compared without regard to case; -1 when missing.
qsizetype findValue(const Key& key, const QByteArray& name);

// The 4 little-endian bytes a REG_DWORD holds, and back (`data` must hold 4 bytes).
QByteArray dwordData(quint32 value);
quint32 dwordValue(const QByteArray& data);

} // namespace vestrel::regfile
