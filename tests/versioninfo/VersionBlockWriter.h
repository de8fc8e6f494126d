#pragma once

// Writes version blocks node by node, as resource compilers do, with knobs for what real files
// get wrong: value lengths in bytes instead of words, node lengths too large or 0.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace vestrel::testing {

struct VersionNodeSpec {
    QString key;
    QByteArray value; // raw bytes (a text value is written by textNode)
    bool text = true;
    int valueLength = -1; // wValueLength written, -1: the right one (words for text, bytes else)
    int lengthDelta = 0;  // added to the real wLength
    bool zeroLength = false;
    std::vector<VersionNodeSpec> children;
};

inline QByteArray utf16z(const QString& s) {
    QByteArray bytes;
    for (const QChar c : s) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes + QByteArray(2, '\0');
}

inline VersionNodeSpec textNode(const QString& key, const QString& value) {
    VersionNodeSpec n;
    n.key = key;
    n.value = utf16z(value);
    n.valueLength = int(value.size() + 1);
    return n;
}

inline VersionNodeSpec binaryNode(const QString& key, const QByteArray& value) {
    VersionNodeSpec n;
    n.key = key;
    n.value = value;
    n.text = false;
    n.valueLength = int(value.size());
    return n;
}

inline VersionNodeSpec parentNode(const QString& key, std::vector<VersionNodeSpec> children) {
    VersionNodeSpec n;
    n.key = key;
    n.valueLength = 0;
    n.children = std::move(children);
    return n;
}

inline void pad4(QByteArray& out) {
    while (out.size() % 4)
        out.append('\0');
}

inline void put16(QByteArray& out, qsizetype at, std::uint16_t v) {
    out[at] = char(v & 0xFF);
    out[at + 1] = char(v >> 8);
}

// Appends `node` to `out` (which starts the block, so alignment counts from its start).
inline void writeNode(QByteArray& out, const VersionNodeSpec& node) {
    pad4(out);
    const qsizetype start = out.size();
    out.append(QByteArray(6, '\0'));
    out.append(utf16z(node.key));
    pad4(out);
    out.append(node.value);
    for (const VersionNodeSpec& child : node.children)
        writeNode(out, child);
    const qsizetype length = out.size() - start;
    put16(out, start, node.zeroLength ? 0 : std::uint16_t(length + node.lengthDelta));
    put16(out, start + 2, std::uint16_t(node.valueLength < 0 ? node.value.size() : node.valueLength));
    put16(out, start + 4, node.text ? 1 : 0);
}

inline QByteArray fixedInfo(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t flags) {
    const std::uint32_t fields[13] = {0xFEEF04BD, 0x10000, fileMS, fileLS, fileMS, fileLS, 0x3F,
                                      flags,      0x40004, 1,      0,      0,      0};
    QByteArray bytes;
    for (const std::uint32_t f : fields) {
        for (int i = 0; i < 4; ++i)
            bytes.append(char((f >> (8 * i)) & 0xFF));
    }
    return bytes;
}

inline QByteArray translationValue(std::vector<std::pair<std::uint16_t, std::uint16_t>> pairs) {
    QByteArray bytes(qsizetype(pairs.size() * 4), '\0');
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        put16(bytes, qsizetype(i * 4), pairs[i].first);
        put16(bytes, qsizetype(i * 4 + 2), pairs[i].second);
    }
    return bytes;
}

// A whole block: the root with its fixed info and the given children.
inline QByteArray versionBlock(std::vector<VersionNodeSpec> children,
                               const QByteArray& fixed = fixedInfo(0x10002, 0x30004, 0)) {
    VersionNodeSpec root = binaryNode(QStringLiteral("VS_VERSION_INFO"), fixed);
    root.children = std::move(children);
    QByteArray out;
    writeNode(out, root);
    return out;
}

// A minimal ELF file (no program, only sections) carrying `section` under `name`: the null section,
// the named one and the section-name table, in 32 or 64 bits and either byte order.
inline QByteArray elfImage(const QByteArray& section, const QByteArray& name, bool wide = true,
                           bool bigEndian = false) {
    const auto put = [&](QByteArray& out, qsizetype at, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[at + (bigEndian ? bytes - 1 - i : i)] = char((v >> (8 * i)) & 0xFF);
    };
    const int headerSize = wide ? 64 : 52;
    const int entrySize = wide ? 64 : 40;
    const QByteArray names = QByteArray(1, '\0') + name + '\0' + ".shstrtab" + '\0';
    const qsizetype dataAt = headerSize;
    const qsizetype namesAt = dataAt + section.size();
    const qsizetype tableAt = (namesAt + names.size() + 7) / 8 * 8;
    QByteArray out(tableAt + 3 * entrySize, '\0');
    out.replace(0, 4,
                "\x7F"
                "ELF");
    out[4] = char(wide ? 2 : 1);
    out[5] = char(bigEndian ? 2 : 1);
    out[6] = 1;
    out.replace(dataAt, section.size(), section);
    out.replace(namesAt, names.size(), names);
    put(out, wide ? 0x28 : 0x20, std::uint64_t(tableAt), wide ? 8 : 4);
    put(out, wide ? 0x3A : 0x2E, std::uint64_t(entrySize), 2);
    put(out, wide ? 0x3C : 0x30, 3, 2);
    put(out, wide ? 0x3E : 0x32, 2, 2);
    const auto entry = [&](int index, std::uint64_t nameAt, std::uint64_t offset, std::uint64_t size) {
        const qsizetype at = tableAt + index * entrySize;
        put(out, at, nameAt, 4);
        put(out, at + 4, 1, 4); // SHT_PROGBITS
        put(out, at + (wide ? 24 : 16), offset, wide ? 8 : 4);
        put(out, at + (wide ? 32 : 20), size, wide ? 8 : 4);
    };
    entry(1, 1, std::uint64_t(dataAt), std::uint64_t(section.size()));
    entry(2, std::uint64_t(name.size() + 2), std::uint64_t(namesAt), std::uint64_t(names.size()));
    return out;
}

} // namespace vestrel::testing
