#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QTime>

#include "platform/FileStamp.h"
#include "platform/IniText.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vestrel {

// Raised where the programs convert a stored value strictly and the value is missing or not a number.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when a write cannot be stored (folder missing, disk full, no permission).
class IniWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An INI file read and written with the semantics of the Windows profile functions.
//
// Section and key names compare without regard to case and keep the case they were written with;
// blanks around the names a caller gives are ignored. Lines end at LF, CR LF or a lone CR. A line's
// key is the text before its first '='; blanks around keys and values are trimmed and a value wholly
// in single or double quotes loses them. Keys above the first header belong to the section without
// a name. A section written more than once is read and written in its first copy; erasing a section
// or deleting a key removes every copy. A missing file reads as empty. Every write goes through to
// disk at once as an atomic rewrite (temporary file and rename) that keeps comments, unknown lines
// and the file's line endings (CR LF for new files), under an advisory lock that every writer of ours
// takes around its reread and rename, so writers in several processes lose nothing.
// Names and values are cp1252 bytes. An object caches the parsed file: use one object per thread.
//
// A user's own copy over defaults (the second constructor) holds only what the user changed: a read
// takes the user's key when the copy has it, else the defaults' key; a write of the value the defaults
// hold removes the user's key instead, and every write drops the user's keys that have come to equal
// the defaults, so a default the administrator changes later reaches the user. EraseSection and
// DeleteKey remove the user's keys, and the defaults' show again. The defaults are never written; the
// copy's folder is made at the first write, the copy itself at the first write that stores something.
class IniFile {
public:
    // `path` may use "\" as separator and may double it ("dir\\gruppi.ini"); both are accepted.
    explicit IniFile(const QString& path);
    // The user's copy `path` over the file `defaultsPath`.
    IniFile(const QString& path, const QString& defaultsPath);
    IniFile(IniFile&&) noexcept;
    IniFile& operator=(IniFile&&) noexcept;
    ~IniFile();

    QString FileName() const { return m_path; }

    QByteArray ReadString(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const;
    // Missing, empty or unconvertible values give the default ("0x" hex accepted). The whole value is
    // converted, on purpose unlike GetPrivateProfileInt, which reads "12abc" as 12 and "" as 0.
    int ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const;
    // The strict reading some callers need: a missing or non-numeric value raises ConversionError.
    int ReadIntegerStrict(const QByteArray& section, const QByteArray& key) const;
    // Non-zero integer is true.
    bool ReadBool(const QByteArray& section, const QByteArray& key, bool defaultValue) const;
    // "hh:mm[:ss]" or "hh.mm[.ss]"; missing or unreadable gives the default.
    QTime ReadTime(const QByteArray& section, const QByteArray& key, const QTime& defaultValue) const;

    void WriteString(const QByteArray& section, const QByteArray& key, const QByteArray& value);
    void WriteInteger(const QByteArray& section, const QByteArray& key, int value);
    void EraseSection(const QByteArray& section);
    void DeleteKey(const QByteArray& section, const QByteArray& key);

    // Key names of a section in file order, every key line (empty when the section is missing); over
    // defaults, the user's keys and then the defaults' keys the user's copy does not have.
    QByteArrayList ReadSection(const QByteArray& section) const;
    // Section names in file order, every header; over defaults, the defaults' sections follow.
    QByteArrayList ReadSections() const;
    // A section exists when it holds at least one key; a bare header does not count.
    bool SectionExists(const QByteArray& section) const;
    bool ValueExists(const QByteArray& section, const QByteArray& key) const;

    // Rereads the file from disk, dropping nothing that was written (every write is already on disk).
    void Reload();
    // Writes are immediate; kept for callers that flush explicitly.
    void UpdateFile() {}

private:
    using Line = initext::Line;

    QString m_path;      // as the caller gave it
    QString m_localPath; // usable on this system
    // The parsed file. Reads refresh it when the file changed on disk, so a reader kept open sees what
    // other readers wrote, as the profile functions do.
    mutable std::vector<Line> m_lines;
    mutable QByteArray m_newline; // "\r\n" or "\n", as the file has it
    mutable FileStamp m_stamp;
    // The file changed too recently for its stamp to tell a later change apart: reread anyway.
    mutable bool m_racy = false;
    mutable bool m_unreadable = false;         // the file exists but could not be read whole: never rewrite it
    std::unique_ptr<const IniFile> m_defaults; // what the user's copy is over, if it is one

    // The lines of this file alone, without the defaults.
    std::optional<QByteArray> ownValue(const QByteArray& section, const QByteArray& key) const;
    QByteArrayList ownKeys(const QByteArray& section) const;
    QByteArrayList ownSections() const;
    // Over defaults: removes the key lines equal to the defaults and the headers they leave empty.
    bool dropKeysEqualToDefaults();
    bool removeKeyLines(const QByteArray& section, const QByteArray& key);

    void load() const;
    void refresh() const;
    void save();
    template <typename Change> void modify(Change&& change);
    template <typename Pick> void eraseInSection(const QByteArray& section, Pick&& doomed);
    // The lines below the first header of a section, up to the next header. A section written twice
    // is read and written in its first copy only, as the profile functions do.
    struct SectionRange {
        bool found = false;
        qsizetype begin = 0;
        qsizetype end = 0;
    };
    SectionRange firstCopy(const QByteArray& section) const;
    std::optional<QByteArray> value(const QByteArray& section, const QByteArray& key) const;
    qsizetype findKey(const QByteArray& section, const QByteArray& key) const;
};

} // namespace vestrel
