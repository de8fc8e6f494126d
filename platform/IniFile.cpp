#include "platform/IniFile.h"

#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// Larger files are read up to this size and never rewritten, so what lies beyond is not lost.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
// A key the reader would not find again as written: empty, holding '=', or read as a comment or a
// section header. Writing it would add a new line on every write.
bool isUnreadableKey(const QByteArray& key) {
    return key.isEmpty() || key.contains('=') || key.startsWith(';') || key.startsWith('[');
}

// Line breaks inside a name or value would split the line and forge other keys or sections.
QByteArray singleLine(QByteArray text) {
    text.replace('\r', ' ');
    text.replace('\n', ' ');
    return text;
}

// Names repeat when a section or key is written twice: the first spelling is listed, once.
void appendFirstSpelling(QByteArrayList& names, QSet<QString>& seen, const QByteArray& name) {
    const QString folded = cp1252::toUnicode(name).toCaseFolded();
    if (!seen.contains(folded)) {
        seen.insert(folded);
        names.append(name);
    }
}

} // namespace

IniFile::IniFile(const QString& path)
    : m_path(path)
    , m_localPath(localPath(path)) {
    load();
}

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
    // Every write starts from the file as it is now, so changes made by other readers survive.
    load();
    if (change())
        save();
}

qsizetype IniFile::sectionEnd(qsizetype sectionLine) const {
    qsizetype i = sectionLine + 1;
    while (i < qsizetype(m_lines.size()) && m_lines[i].kind != Line::Kind::Section)
        ++i;
    return i;
}

qsizetype IniFile::findSection(const QByteArray& section) const {
    for (qsizetype i = 0; i < qsizetype(m_lines.size()); ++i) {
        if (m_lines[i].kind == Line::Kind::Section && cp1252::equalsIgnoreCase(m_lines[i].name, section))
            return i;
    }
    return -1;
}

// A section written twice reads as one: the first line of a key wins.
qsizetype IniFile::findKey(const QByteArray& section, const QByteArray& key) const {
    bool inSection = false;
    for (qsizetype i = 0; i < qsizetype(m_lines.size()); ++i) {
        const Line& line = m_lines[i];
        if (line.kind == Line::Kind::Section)
            inSection = cp1252::equalsIgnoreCase(line.name, section);
        else if (inSection && line.kind == Line::Kind::Key && cp1252::equalsIgnoreCase(line.name, key))
            return i;
    }
    return -1;
}

std::optional<QByteArray> IniFile::value(const QByteArray& section, const QByteArray& key) const {
    refresh();
    const qsizetype i = findKey(section, key);
    if (i < 0)
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
    modify([&] {
        const qsizetype existing = findKey(cleanSection, cleanKey);
        if (existing >= 0) {
            Line& line = m_lines[existing];
            line.raw = line.name + '=' + cleanValue;
            return true;
        }
        Line line{cleanKey + '=' + cleanValue, Line::Kind::Key, cleanKey};
        const qsizetype header = findSection(cleanSection);
        if (header < 0) {
            if (!m_lines.empty() && !m_lines.back().raw.trimmed().isEmpty())
                m_lines.push_back(Line{});
            m_lines.push_back(Line{'[' + cleanSection + ']', Line::Kind::Section, cleanSection});
            m_lines.push_back(std::move(line));
            return true;
        }
        qsizetype insertAt = header + 1;
        for (qsizetype i = header + 1; i < sectionEnd(header); ++i) {
            if (m_lines[i].kind == Line::Kind::Key)
                insertAt = i + 1;
        }
        m_lines.insert(m_lines.begin() + insertAt, std::move(line));
        return true;
    });
}

void IniFile::WriteInteger(const QByteArray& section, const QByteArray& key, int value) {
    WriteString(section, key, QByteArray::number(value));
}

// Removes the lines `doomed` picks within every copy of `section`, so none can resurface afterwards.
template <typename Pick> void IniFile::eraseInSection(const QByteArray& section, Pick&& doomed) {
    modify([&] {
        bool inSection = false;
        return std::erase_if(m_lines, [&](const Line& line) {
                   if (line.kind == Line::Kind::Section)
                       inSection = cp1252::equalsIgnoreCase(line.name, section);
                   return inSection && doomed(line);
               }) > 0;
    });
}

void IniFile::EraseSection(const QByteArray& section) {
    eraseInSection(section, [](const Line&) { return true; });
}

void IniFile::DeleteKey(const QByteArray& section, const QByteArray& key) {
    eraseInSection(section, [&](const Line& line) {
        return line.kind == Line::Kind::Key && cp1252::equalsIgnoreCase(line.name, key);
    });
}

QByteArrayList IniFile::ReadSection(const QByteArray& section) const {
    refresh();
    QByteArrayList keys;
    QSet<QString> seen;
    bool inSection = false;
    for (const Line& line : m_lines) {
        if (line.kind == Line::Kind::Section) {
            inSection = cp1252::equalsIgnoreCase(line.name, section);
        } else if (inSection && line.kind == Line::Kind::Key) {
            appendFirstSpelling(keys, seen, line.name);
        }
    }
    return keys;
}

QByteArrayList IniFile::ReadSections() const {
    refresh();
    QByteArrayList sections;
    QSet<QString> seen;
    for (const Line& line : m_lines) {
        if (line.kind == Line::Kind::Section)
            appendFirstSpelling(sections, seen, line.name);
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
