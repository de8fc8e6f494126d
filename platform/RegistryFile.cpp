#include "platform/RegistryFile.h"

#include "platform/Cp1252.h"
#include "platform/HexDigit.h"

#include <QHash>
#include <QString>

#include <optional>

namespace vestrel::regfile {

namespace {

// regedit keeps hex lines within 80 columns.
constexpr qsizetype kWrapColumn = 76;

QByteArrayList components(const QByteArray& path) {
    QByteArrayList parts = path.split('\\');
    parts.removeAll(QByteArray());
    return parts;
}

bool isChildPath(const QByteArray& candidate, const QByteArray& parent) {
    return candidate.size() > parent.size() && candidate[parent.size()] == '\\' &&
           cp1252::equalsIgnoreCase(candidate.left(parent.size()), parent);
}

QString folded(const QByteArray& name) {
    return cp1252::toUnicode(name).toCaseFolded();
}

// A quoted string starting at text[pos] == '"'; pos moves past the closing quote.
std::optional<QByteArray> readQuoted(const QByteArray& text, qsizetype& pos) {
    QByteArray out;
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\') {
            if (++i >= text.size())
                return std::nullopt;
        }
        out.append(text[i]);
    }
    return std::nullopt;
}

std::optional<QByteArray> readHexBytes(const QByteArray& text) {
    QByteArray out;
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return out;
    for (const QByteArray& token : trimmed.split(',')) {
        const QByteArray t = token.trimmed();
        if (t.size() != 2 || hexDigitValue(t[0]) < 0 || hexDigitValue(t[1]) < 0)
            return std::nullopt;
        out.append(char(hexDigitValue(t[0]) * 16 + hexDigitValue(t[1])));
    }
    return out;
}

// Up to 8 hex digits, as "dword:" data and "hex(N):" type numbers are written.
std::optional<quint32> readHexNumber(const QByteArray& text) {
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || t.size() > 8)
        return std::nullopt;
    quint32 value = 0;
    for (const char c : t) {
        const int d = hexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + quint32(d);
    }
    return value;
}

bool startsWithIgnoreCase(const QByteArray& text, const char* prefix) {
    const QByteArray p(prefix);
    return text.size() >= p.size() && cp1252::equalsIgnoreCase(text.left(p.size()), p);
}

QByteArray quoted(const QByteArray& text) {
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c);
    }
    out.append('"');
    return out;
}

void appendHex(QByteArray& out, QByteArray line, const QByteArray& data) {
    static const char digits[] = "0123456789abcdef";
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        line.append(digits[byte >> 4]);
        line.append(digits[byte & 0xF]);
        if (i + 1 < data.size()) {
            line.append(',');
            if (line.size() >= kWrapColumn) {
                out += line + "\\\r\n";
                line = "  ";
            }
        }
    }
    out += line + "\r\n";
}

} // namespace

QByteArray dwordData(quint32 value) {
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((value >> (8 * i)) & 0xFF);
    return data;
}

quint32 dwordValue(const QByteArray& data) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(data[i]);
    return value;
}

qsizetype findValue(const Key& key, const QByteArray& name) {
    for (qsizetype i = 0; i < qsizetype(key.values.size()); ++i) {
        if (cp1252::equalsIgnoreCase(key.values[i].name, name))
            return i;
    }
    return -1;
}

qsizetype Hive::find(const QByteArray& path) const {
    for (qsizetype i = 0; i < qsizetype(keys.size()); ++i) {
        if (cp1252::equalsIgnoreCase(keys[i].path, path))
            return i;
    }
    return -1;
}

bool Hive::exists(const QByteArray& path) const {
    for (const Key& key : keys) {
        if (cp1252::equalsIgnoreCase(key.path, path) || isChildPath(key.path, path))
            return true;
    }
    return false;
}

Key& Hive::obtain(const QByteArray& path) {
    const qsizetype existing = find(path);
    if (existing >= 0)
        return keys[existing];
    QByteArrayList parts = components(path);
    std::vector<bool> settled(parts.size(), false);
    for (const Key& key : keys) {
        const QByteArrayList theirs = components(key.path);
        for (qsizetype j = 0; j < parts.size() && j < theirs.size(); ++j) {
            if (!cp1252::equalsIgnoreCase(parts[j], theirs[j]))
                break;
            if (!settled[j]) {
                parts[j] = theirs[j];
                settled[j] = true;
            }
        }
    }
    keys.push_back(Key{parts.join('\\'), {}});
    return keys.back();
}

bool Hive::remove(const QByteArray& path) {
    const auto removed = std::erase_if(
        keys, [&](const Key& key) { return cp1252::equalsIgnoreCase(key.path, path) || isChildPath(key.path, path); });
    return removed > 0;
}

QByteArrayList Hive::subkeys(const QByteArray& path) const {
    QByteArrayList names;
    QHash<QString, bool> seen;
    for (const Key& key : keys) {
        if (!isChildPath(key.path, path))
            continue;
        const QByteArray rest = key.path.mid(path.size() + 1);
        const qsizetype separator = rest.indexOf('\\');
        const QByteArray name = separator < 0 ? rest : rest.left(separator);
        if (name.isEmpty() || seen.contains(folded(name)))
            continue;
        seen.insert(folded(name), true);
        names.append(name);
    }
    return names;
}

Hive parse(const QByteArray& bytes) {
    Hive hive;
    QHash<QString, qsizetype> index;
    const QByteArrayList lines = bytes.split('\n');
    qsizetype current = -1;

    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray text = lines[i].trimmed();
        if (text.isEmpty() || text.startsWith(';') || text == "REGEDIT4")
            continue;

        if (text.startsWith('[')) {
            current = -1;
            const qsizetype close = text.lastIndexOf(']');
            if (close < 0)
                continue;
            const QByteArray path = components(text.mid(1, close - 1)).join('\\');
            if (path.isEmpty() || path.startsWith('-'))
                continue; // a deletion entry or an empty name: nothing to keep
            const QString key = folded(path);
            const auto found = index.constFind(key);
            if (found != index.constEnd()) {
                current = *found;
            } else {
                current = qsizetype(hive.keys.size());
                index.insert(key, current);
                hive.keys.push_back(Key{path, {}});
            }
            continue;
        }

        if (current < 0)
            continue;

        Value value;
        qsizetype pos = 0;
        if (text.startsWith('@')) {
            pos = 1;
        } else if (text.startsWith('"')) {
            const auto name = readQuoted(text, pos);
            if (!name)
                continue;
            value.name = *name;
        } else {
            continue;
        }
        const qsizetype eq = text.indexOf('=', pos);
        if (eq < 0 || !text.mid(pos, eq - pos).trimmed().isEmpty())
            continue;
        QByteArray data = text.mid(eq + 1).trimmed();
        // Hex data goes on over lines that end in a backslash. A line that starts a key or a value
        // is never taken as a continuation, so a truncated value cannot swallow what follows.
        if (startsWithIgnoreCase(data, "hex")) {
            while (data.endsWith('\\') && i + 1 < lines.size()) {
                const QByteArray next = lines[i + 1].trimmed();
                if (next.startsWith('[') || next.startsWith('"') || next.startsWith('@'))
                    break;
                data.chop(1);
                data += next;
                ++i;
            }
        }

        if (data.startsWith('"')) {
            qsizetype end = 0;
            const auto string = readQuoted(data, end);
            if (!string || end != data.size())
                continue;
            value.type = kRegSz;
            value.data = *string;
        } else if (startsWithIgnoreCase(data, "dword:")) {
            const auto dword = readHexNumber(data.mid(6));
            if (!dword)
                continue;
            value.type = kRegDword;
            value.data = dwordData(*dword);
        } else if (startsWithIgnoreCase(data, "hex")) {
            const qsizetype colon = data.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray kind = data.left(colon).mid(3);
            if (kind.isEmpty()) {
                value.type = kRegBinary;
            } else {
                if (kind.size() < 3 || !kind.startsWith('(') || !kind.endsWith(')'))
                    continue;
                const auto number = readHexNumber(kind.mid(1, kind.size() - 2));
                if (!number || *number > 0xFFFF)
                    continue;
                value.type = int(*number);
            }
            const auto raw = readHexBytes(data.mid(colon + 1));
            if (!raw)
                continue;
            value.data = *raw;
            if ((value.type == kRegSz || value.type == kRegExpandSz) && value.data.endsWith('\0'))
                value.data.chop(1);
            if (value.type == kRegDword && value.data.size() != 4)
                continue;
        } else {
            continue; // "-" (a deletion entry) or data of no known form
        }

        Key& key = hive.keys[current];
        const qsizetype existing = findValue(key, value.name);
        if (existing >= 0) {
            key.values[existing].type = value.type;
            key.values[existing].data = value.data;
        } else {
            key.values.push_back(std::move(value));
        }
    }
    return hive;
}

QByteArray serialize(const Hive& hive) {
    QByteArray out = "REGEDIT4\r\n\r\n";
    for (const Key& key : hive.keys) {
        out += '[' + key.path + "]\r\n";
        for (const Value& value : key.values) {
            const QByteArray name = value.name.isEmpty() ? QByteArray("@") : quoted(value.name);
            const bool plainString = value.type == kRegSz && !value.data.contains('\r') && !value.data.contains('\n') &&
                                     !value.data.contains('\0');
            if (plainString) {
                out += name + '=' + quoted(value.data) + "\r\n";
            } else if (value.type == kRegDword && value.data.size() == 4) {
                out +=
                    name + "=dword:" + QByteArray::number(dwordValue(value.data), 16).rightJustified(8, '0') + "\r\n";
            } else if (value.type == kRegBinary) {
                appendHex(out, name + "=hex:", value.data);
            } else {
                // Strings that a quoted line cannot hold, and types this store does not interpret.
                QByteArray data = value.data;
                if (value.type == kRegSz || value.type == kRegExpandSz)
                    data.append('\0');
                appendHex(out, name + "=hex(" + QByteArray::number(value.type, 16) + "):", data);
            }
        }
        out += "\r\n";
    }
    return out;
}

} // namespace vestrel::regfile
