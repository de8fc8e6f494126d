#include "platform/IniFile.h"

#include "platform/Cp1252.h"
#include "platform/FileLock.h"
#include "platform/ProgramDir.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// Larger files are read up to this size and never rewritten, so what lies beyond is not lost.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
constexpr QByteArrayView kUtf8Mark = "\xEF\xBB\xBF";
// A key the reader would not find again as written: empty, holding '=', read as a comment or a
// section header, or starting with the UTF-8 mark, which a reader takes for the file's encoding
// mark when the key lands on the first line. Writing it would add a new line on every write.
bool isUnreadableKey(const QByteArray& key) {
    return key.isEmpty() || key.contains('=') || key.startsWith(';') || key.startsWith('[') ||
           key.startsWith(kUtf8Mark);
}

// Line breaks inside a name or value would split the line and forge other keys or sections. The
// profile functions write them as they are: a fault we do not copy.
QByteArray singleLine(QByteArray text) {
    text.replace('\r', ' ');
    text.replace('\n', ' ');
    return text;
}

// What a reader gets back for a value written as `value`.
QByteArray readBack(const QByteArray& value) {
    return initext::valueOf(initext::Line{'=' + value, initext::Line::Kind::Key, {}, {}});
}

} // namespace

IniFile::IniFile(const QString& path)
    : m_path(path)
    , m_localPath(localPath(path)) {
    load();
}

IniFile::IniFile(const QString& path, const QString& defaultsPath)
    : IniFile(path) {
    m_defaults = std::make_unique<const IniFile>(defaultsPath);
}

IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;
IniFile::~IniFile() = default;

void IniFile::load() const {
    m_lines.clear();
    m_newline = "\r\n";
    m_unreadable = false;
    m_stamp = FileStamp::of(m_localPath);
    m_racy = m_stamp.isRecent();
    if (!m_stamp.exists)
        return;

    QFile file(m_localPath);
    if (!file.open(QIODevice::ReadOnly)) {
        m_unreadable = true;
        return;
    }
    // Reading up to the cap straight away would allocate the whole cap for every small file.
    const QByteArray data = file.read(std::min(file.size(), kMaxFileSize));
    if (!file.atEnd())
        m_unreadable = true;

    initext::Text text = initext::parse(data);
    m_lines = std::move(text.lines);
    m_newline = text.newline;
}

void IniFile::refresh() const {
    if (m_racy || FileStamp::of(m_localPath) != m_stamp)
        load();
}

void IniFile::Reload() {
    load();
}

void IniFile::save() {
    const auto fail = [this](const QString& why) {
        load(); // keep memory equal to what is on disk
        throw IniWriteError(QFile::encodeName(u"Cannot write %1: %2"_s.arg(m_path, why)).toStdString());
    };
    if (m_unreadable)
        fail(u"the existing file could not be read whole"_s);
    const QFileInfo info(m_localPath);
    if (info.exists() && !info.isWritable())
        fail(u"the file is read-only"_s);

    const QByteArray data = initext::serialize(initext::Text{m_lines, m_newline});
    QSaveFile file(m_localPath);
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    if (file.write(data) != data.size())
        fail(file.errorString());
    if (!file.commit())
        fail(file.errorString());
    m_stamp = FileStamp::of(m_localPath);
    m_racy = m_stamp.isRecent();
}

// `change` returns whether it changed anything; an unchanged file is not rewritten.
template <typename Change> void IniFile::modify(Change&& change) {
    // A user's copy may be the first file in its folder.
    if (m_defaults) {
        const QString folder = QFileInfo(m_localPath).absolutePath();
        std::error_code error;
        std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
        if (error)
            throw IniWriteError(QFile::encodeName(u"Cannot write %1: cannot create the folder %2: %3"_s.arg(
                                                      m_path, folder, QString::fromStdString(error.message())))
                                    .toStdString());
    }
    // Every write rereads the file and replaces it under a lock that our other writers honour, so a
    // change made by another process between our read and our rename is never overwritten.
    FileLock lock(m_localPath);
    if (!lock.isLocked()) {
        load();
        throw IniWriteError(QFile::encodeName(u"Cannot write %1: %2"_s.arg(m_path, lock.errorString())).toStdString());
    }
    load();
    bool changed = change();
    changed = dropKeysEqualToDefaults() || changed;
    if (!changed) {
        lock.removeIfCreated();
        return;
    }
    try {
        save();
    } catch (const IniWriteError&) {
        lock.removeIfCreated();
        throw;
    }
}

IniFile::SectionRange IniFile::firstCopy(const QByteArray& section) const {
    const qsizetype count = qsizetype(m_lines.size());
    qsizetype begin = -1;
    if (section.isEmpty()) {
        // Keys above the first header belong to the section without a name.
        begin = 0;
    } else {
        for (qsizetype i = 0; i < count && begin < 0; ++i) {
            if (m_lines[i].kind == Line::Kind::Section && cp1252::equalsIgnoreCase(m_lines[i].name, section))
                begin = i + 1;
        }
        if (begin < 0)
            return {};
    }
    qsizetype end = begin;
    while (end < count && m_lines[end].kind != Line::Kind::Section)
        ++end;
    return {true, begin, end};
}

qsizetype IniFile::findKey(const QByteArray& section, const QByteArray& key) const {
    const SectionRange range = firstCopy(section);
    for (qsizetype i = range.begin; i < range.end; ++i) {
        const Line& line = m_lines[i];
        if ((line.kind == Line::Kind::Key || line.kind == Line::Kind::Name) && cp1252::equalsIgnoreCase(line.name, key))
            return i;
    }
    return -1;
}

std::optional<QByteArray> IniFile::value(const QByteArray& section, const QByteArray& key) const {
    if (std::optional<QByteArray> own = ownValue(section, key))
        return own;
    if (m_defaults)
        return m_defaults->value(section, key);
    return std::nullopt;
}

std::optional<QByteArray> IniFile::ownValue(const QByteArray& section, const QByteArray& key) const {
    refresh();
    const qsizetype i = findKey(section.trimmed(), key.trimmed());
    if (i < 0 || m_lines[i].kind == Line::Kind::Name)
        return std::nullopt;
    return initext::valueOf(m_lines[i]);
}

QByteArray IniFile::ReadString(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const {
    return value(section, key).value_or(defaultValue);
}

int IniFile::ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const {
    const auto text = value(section, key);
    if (!text)
        return defaultValue;
    return initext::parseInteger(*text).value_or(defaultValue);
}

int IniFile::ReadIntegerStrict(const QByteArray& section, const QByteArray& key) const {
    const QByteArray text = value(section, key).value_or(QByteArray());
    const auto number = initext::parseInteger(text);
    if (!number)
        throw ConversionError("'" + text.toStdString() + "' is not a valid integer value");
    return *number;
}

bool IniFile::ReadBool(const QByteArray& section, const QByteArray& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QTime IniFile::ReadTime(const QByteArray& section, const QByteArray& key, const QTime& defaultValue) const {
    const auto text = value(section, key);
    if (!text)
        return defaultValue;
    QByteArray normalised = *text;
    normalised.replace('.', ':');
    const QByteArrayList parts = normalised.split(':');
    if (parts.size() < 2 || parts.size() > 3)
        return defaultValue;
    int fields[3] = {0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        bool ok = !part.isEmpty() && part.size() <= 2;
        for (const char c : part)
            ok = ok && c >= '0' && c <= '9';
        if (!ok)
            return defaultValue;
        fields[i] = part.toInt();
    }
    const QTime time(fields[0], fields[1], fields[2]);
    return time.isValid() ? time : defaultValue;
}

void IniFile::WriteString(const QByteArray& section, const QByteArray& key, const QByteArray& value) {
    const QByteArray cleanSection = singleLine(section).trimmed();
    const QByteArray cleanKey = singleLine(key).trimmed();
    const QByteArray cleanValue = singleLine(value);
    if (cleanSection.contains(']'))
        throw IniWriteError("Section name '" + cleanSection.toStdString() + "' cannot be stored: it holds ']'");
    if (isUnreadableKey(cleanKey))
        throw IniWriteError("Key name '" + cleanKey.toStdString() + "' cannot be stored");
    if (m_defaults && m_defaults->value(cleanSection, cleanKey) == readBack(cleanValue)) {
        // The user's copy keeps no value of its own for this key.
        modify([&] { return removeKeyLines(cleanSection, cleanKey); });
        return;
    }
    modify([&] {
        const qsizetype existing = findKey(cleanSection, cleanKey);
        if (existing >= 0) {
            Line& line = m_lines[existing];
            line.raw = line.name + '=' + cleanValue;
            line.kind = Line::Kind::Key;
            return true;
        }
        Line line{cleanKey + '=' + cleanValue, Line::Kind::Key, cleanKey, {}};
        const SectionRange range = firstCopy(cleanSection);
        if (!range.found) {
            if (!m_lines.empty() && !m_lines.back().raw.trimmed().isEmpty())
                m_lines.push_back(Line{});
            m_lines.push_back(Line{'[' + cleanSection + ']', Line::Kind::Section, cleanSection, {}});
            m_lines.push_back(std::move(line));
            return true;
        }
        // A new key follows the last key of the section's first copy, before comments that lead
        // into the next section.
        qsizetype insertAt = range.begin;
        for (qsizetype i = range.begin; i < range.end; ++i) {
            if (m_lines[i].kind == Line::Kind::Key || m_lines[i].kind == Line::Kind::Name)
                insertAt = i + 1;
        }
        // A key for the unnamed section goes first in the file: a UTF-8 mark must stay in front of it.
        if (insertAt == 0 && !m_lines.empty() && m_lines.front().raw.startsWith(kUtf8Mark)) {
            m_lines.front().raw.remove(0, kUtf8Mark.size());
            line.raw.prepend(kUtf8Mark);
        }
        m_lines.insert(m_lines.begin() + insertAt, std::move(line));
        return true;
    });
}

void IniFile::WriteInteger(const QByteArray& section, const QByteArray& key, int value) {
    WriteString(section, key, QByteArray::number(value));
}

// Removes the lines `doomed` picks within every copy of `section`, so none can resurface afterwards.
// The profile functions leave later copies behind, where a deleted key comes back on the next read:
// a fault we do not copy.
template <typename Pick> void IniFile::eraseInSection(const QByteArray& section, Pick&& doomed) {
    modify([&] {
        // Keys above the first header form the section without a name.
        bool inSection = section.isEmpty();
        return std::erase_if(m_lines, [&](const Line& line) {
                   if (line.kind == Line::Kind::Section)
                       inSection = cp1252::equalsIgnoreCase(line.name, section);
                   return inSection && doomed(line);
               }) > 0;
    });
}

void IniFile::EraseSection(const QByteArray& section) {
    // Comments above the first header are no part of the unnamed section: only its keys go.
    const QByteArray name = section.trimmed();
    eraseInSection(name, [&](const Line& line) { return !name.isEmpty() || line.kind != Line::Kind::Other; });
}

void IniFile::DeleteKey(const QByteArray& section, const QByteArray& key) {
    const QByteArray sectionName = section.trimmed();
    const QByteArray keyName = key.trimmed();
    modify([&] { return removeKeyLines(sectionName, keyName); });
}

bool IniFile::removeKeyLines(const QByteArray& section, const QByteArray& key) {
    bool inSection = section.isEmpty();
    return std::erase_if(m_lines, [&](const Line& line) {
               if (line.kind == Line::Kind::Section)
                   inSection = cp1252::equalsIgnoreCase(line.name, section);
               return inSection && (line.kind == Line::Kind::Key || line.kind == Line::Kind::Name) &&
                      cp1252::equalsIgnoreCase(line.name, key);
           }) > 0;
}

bool IniFile::dropKeysEqualToDefaults() {
    if (!m_defaults)
        return false;
    // The keys a read finds in this copy (the first line of a name in the first copy of a section)
    // whose value the defaults hold as well.
    std::vector<std::pair<QByteArray, QByteArray>> same;
    QByteArray section;
    for (qsizetype i = 0; i < qsizetype(m_lines.size()); ++i) {
        const Line& line = m_lines[i];
        if (line.kind == Line::Kind::Section)
            section = line.name;
        else if (line.kind == Line::Kind::Key && findKey(section, line.name) == i &&
                 m_defaults->value(section, line.name) == initext::valueOf(line))
            same.emplace_back(section, line.name);
    }
    if (same.empty())
        return false;
    for (const auto& [sectionName, key] : same)
        removeKeyLines(sectionName, key);
    // A header left with nothing but blank lines below it goes too.
    const auto blank = [](const Line& line) {
        return line.kind == Line::Kind::Other && line.raw.trimmed().isEmpty();
    };
    for (qsizetype i = qsizetype(m_lines.size()) - 1; i >= 0; --i) {
        if (m_lines[i].kind != Line::Kind::Section)
            continue;
        const bool emptied = std::any_of(same.begin(), same.end(), [&](const auto& entry) {
            return cp1252::equalsIgnoreCase(entry.first, m_lines[i].name);
        });
        qsizetype end = i + 1;
        while (end < qsizetype(m_lines.size()) && blank(m_lines[end]))
            ++end;
        if (emptied && (end == qsizetype(m_lines.size()) || m_lines[end].kind == Line::Kind::Section))
            m_lines.erase(m_lines.begin() + i, m_lines.begin() + end);
    }
    while (!m_lines.empty() && blank(m_lines.back()))
        m_lines.pop_back();
    return true;
}

// Every key line of the section's first copy, in file order: names that differ only in case are
// different files to the backup plan on this system, and the profile functions list repeated ones too.
QByteArrayList IniFile::ReadSection(const QByteArray& section) const {
    QByteArrayList keys = ownKeys(section);
    if (m_defaults) {
        const QByteArrayList own = keys;
        for (const QByteArray& key : m_defaults->ReadSection(section)) {
            if (std::none_of(own.begin(), own.end(),
                             [&](const QByteArray& k) { return cp1252::equalsIgnoreCase(k, key); }))
                keys.append(key);
        }
    }
    return keys;
}

QByteArrayList IniFile::ownKeys(const QByteArray& section) const {
    refresh();
    QByteArrayList keys;
    const SectionRange range = firstCopy(section.trimmed());
    for (qsizetype i = range.begin; i < range.end; ++i) {
        if (m_lines[i].kind == Line::Kind::Key)
            keys.append(m_lines[i].name);
    }
    return keys;
}

// Every header in file order, repeated ones included, as the profile functions list them.
QByteArrayList IniFile::ReadSections() const {
    QByteArrayList sections = ownSections();
    if (m_defaults) {
        const QByteArrayList own = sections;
        for (const QByteArray& section : m_defaults->ReadSections()) {
            if (std::none_of(own.begin(), own.end(),
                             [&](const QByteArray& s) { return cp1252::equalsIgnoreCase(s, section); }))
                sections.append(section);
        }
    }
    return sections;
}

QByteArrayList IniFile::ownSections() const {
    refresh();
    QByteArrayList sections;
    for (const Line& line : m_lines) {
        if (line.kind == Line::Kind::Section)
            sections.append(line.name);
    }
    return sections;
}

bool IniFile::SectionExists(const QByteArray& section) const {
    return !ReadSection(section).isEmpty();
}

bool IniFile::ValueExists(const QByteArray& section, const QByteArray& key) const {
    return value(section, key).has_value();
}

} // namespace vestrel
