// Writes one key into an arbitrary INI file and checks the profile-function promises: the key
// reads back, and every other key of the file reads as before.
#include "platform/Cp1252.h"
#include "platform/IniFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace vestrel;

namespace {

// Every (section, key) pair of the file with the value a reader sees.
std::vector<std::pair<QByteArray, QByteArray>> pairs(const IniFile& ini) {
    std::vector<std::pair<QByteArray, QByteArray>> result;
    for (const QByteArray& section : ini.ReadSections()) {
        for (const QByteArray& key : ini.ReadSection(section))
            result.emplace_back(section + '\n' + key, ini.ReadString(section, key, "\x01missing"));
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir(QStringLiteral("/dev/shm/vestrel-fuzz-XXXXXX"));
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // Input: file content, then after a NUL the section, key and value separated by 0x01.
    const qsizetype split = input.indexOf('\0');
    if (split < 0)
        return 0;
    const QByteArrayList op = input.mid(split + 1).split('\x01');
    if (op.size() != 3)
        return 0;
    const QString path = dir.filePath(QStringLiteral("f.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(input.left(split));
    }

    IniFile ini(path);
    const auto before = pairs(ini);
    try {
        ini.WriteString(op[0], op[1], op[2]);
    } catch (const IniWriteError&) {
        return 0; // names the file cannot hold are refused
    }
    // The names as stored: line breaks become blanks, outer blanks go.
    const QByteArray section = QByteArray(op[0]).replace('\r', ' ').replace('\n', ' ').trimmed();
    const QByteArray key = QByteArray(op[1]).replace('\r', ' ').replace('\n', ' ').trimmed();
    if (!ini.ValueExists(section, key))
        std::abort();
    IniFile fresh(path);
    for (const auto& [name, value] : before) {
        const qsizetype cut = name.indexOf('\n');
        const QByteArray s = name.left(cut);
        const QByteArray k = name.mid(cut + 1);
        const bool written = cp1252::equalsIgnoreCase(s, section) && cp1252::equalsIgnoreCase(k, key);
        if (!written && fresh.ReadString(s, k, "\x01missing") != value)
            std::abort();
    }
    return 0;
}
