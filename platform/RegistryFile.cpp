#include "platform/RegistryFile.h"

#include "platform/Cp1252.h"
#include "platform/HexDigit.h"

#include <QHash>
#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <iterator>
#include <limits>
#include <optional>

namespace vestrel::regfile {

namespace {

// regedit keeps hex lines within 80 columns.
constexpr qsizetype kWrapColumn = 76;
// Where lines kept after every value sort among the others.
constexpr qsizetype kMaxPlace = std::numeric_limits<qsizetype>::max();

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
            // "\n" and "\r" stand for line breaks; any other escaped character stands for itself.
            if (text[i] == 'n' || text[i] == 'r') {
                out.append(text[i] == 'n' ? '\n' : '\r');
                continue;
            }
        }
        out.append(text[i]);
    }
    return std::nullopt;
}

// Comma-separated bytes of one or two hex digits ("01,2,ff"); blanks may lead a byte, a comma may end
// the list, as the registry editor accepts them.
std::optional<QByteArray> readHexBytes(const QByteArray& text) {
    QByteArray out;
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return out;
    QByteArrayList tokens = trimmed.split(',');
    if (tokens.size() > 1 && tokens.back().isEmpty())
        tokens.removeLast();
    for (const QByteArray& token : tokens) {
        const QByteArray t = token.trimmed();
        if (t.isEmpty() || token.back() == ' ' || token.back() == '\t')
            return std::nullopt;
        unsigned value = 0;
        for (const char c : t) {
            const int d = hexDigitValue(c);
            if (d < 0)
                return std::nullopt;
            value = value * 16 + unsigned(d);
            if (value > 0xFF)
                return std::nullopt;
        }
        out.append(char(value));
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

// Line breaks are written as the escapes the reader knows; only names can hold them here (string data
// with line breaks is written in hex form).
QByteArray quoted(const QByteArray& text) {
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            out.append(c == '\n' ? "\\n" : "\\r");
            continue;
        }
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

constexpr char kHeader4[] = "REGEDIT4";
constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";

bool isUtf16(const QByteArray& bytes) {
    return bytes.startsWith("\xFF\xFE");
}

// UTF-16LE bytes as cp1252; characters cp1252 cannot hold become '?'.
QByteArray cp1252FromUtf16(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf16LE);
    return cp1252::fromUnicode(decoder(bytes));
}

bool holdsText(int type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The value a line (with its continuations) holds, or nothing when it holds none the reader knows.
// `wide`: string data in hex form is UTF-16LE, as in files of the editor's later format.
std::optional<Value> parseValue(const QByteArray& text, bool wide) {
    Value value;
    qsizetype pos = 0;
    if (text.startsWith('@')) {
        pos = 1;
    } else if (text.startsWith('"')) {
        const auto name = readQuoted(text, pos);
        if (!name)
            return std::nullopt;
        value.name = *name;
    } else {
        return std::nullopt;
    }
    const qsizetype eq = text.indexOf('=', pos);
    if (eq < 0 || !text.mid(pos, eq - pos).trimmed().isEmpty())
        return std::nullopt;
    const QByteArray data = text.mid(eq + 1).trimmed();

    if (data.startsWith('"')) {
        qsizetype end = 0;
        const auto string = readQuoted(data, end);
        if (!string || end != data.size())
            return std::nullopt;
        value.type = kRegSz;
        value.data = *string;
    } else if (data.startsWith("dword:")) {
        const auto dword = readHexNumber(data.mid(6));
        if (!dword)
            return std::nullopt;
        value.type = kRegDword;
        value.data = dwordData(*dword);
    } else if (data.startsWith("hex")) {
        const qsizetype colon = data.indexOf(':');
        if (colon < 0)
            return std::nullopt;
        const QByteArray kind = data.left(colon).mid(3);
        if (kind.isEmpty()) {
            value.type = kRegBinary;
        } else {
            if (kind.size() < 3 || !kind.startsWith('(') || !kind.endsWith(')'))
                return std::nullopt;
            const auto number = readHexNumber(kind.mid(1, kind.size() - 2).trimmed());
            if (!number || *number > quint32(kMaxType))
                return std::nullopt;
            value.type = int(*number);
        }
        const auto raw = readHexBytes(data.mid(colon + 1));
        if (!raw)
            return std::nullopt;
        value.data = wide && holdsText(value.type) ? cp1252FromUtf16(*raw) : *raw;
        if ((value.type == kRegSz || value.type == kRegExpandSz) && value.data.endsWith('\0'))
            value.data.chop(1);
        if (value.type == kRegDword && value.data.size() != 4)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    return value;
}

// Whether the path starts with the name of a registry root ("HKEY_CURRENT_USER\\..."), exactly as the
// registry editor requires: no blanks, no abbreviation.
bool hasRootName(const QByteArray& path) {
    static const char* const roots[] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",  "HKEY_CLASSES_ROOT",
                                        "HKEY_USERS",        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
    const QByteArray root = path.left(path.indexOf('\\'));
    return std::any_of(std::begin(roots), std::end(roots),
                       [&](const char* name) { return cp1252::equalsIgnoreCase(root, name); });
}

// What follows the "=" after a value's name ("@" or a quoted name, which may itself hold "=");
// for other lines, what follows their first "=".
QByteArray dataPart(const QByteArray& text) {
    qsizetype pos = 0;
    if (text.startsWith('@')) {
        pos = 1;
    } else if (text.startsWith('"')) {
        if (!readQuoted(text, pos))
            pos = 0;
    }
    const qsizetype eq = text.indexOf('=', pos);
    return eq < 0 ? QByteArray() : text.mid(eq + 1).trimmed();
}

// A line as it was, without the CR of its CR LF end.
QByteArray rawLine(const QByteArray& line) {
    return line.endsWith('\r') ? line.left(line.size() - 1) : line;
}

// A kept line as it was. One that ends in a backslash would take the next line for a continuation
// of its data: a blank line after it keeps whatever follows apart, as it was in the file.
void appendKept(QByteArray& out, const QByteArray& text) {
    out += text + "\r\n";
    if (text.trimmed().endsWith('\\'))
        out += "\r\n";
}

} // namespace

void Key::eraseValue(qsizetype index) {
    values.erase(values.begin() + index);
    for (KeptLine& line : kept) {
        if (line.before > index)
            --line.before;
    }
}

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
    keys.push_back(Key{parts.join('\\'), {}, {}});
    return keys.back();
}

bool Hive::remove(const QByteArray& path) {
    // The parent stays, as a key of its own when nothing else holds it up, spelled as it was.
    const qsizetype depth = components(path).size();
    QByteArray parent;
    for (const Key& key : keys) {
        if (cp1252::equalsIgnoreCase(key.path, path) || isChildPath(key.path, path)) {
            parent = components(key.path).mid(0, depth - 1).join('\\');
            break;
        }
    }
    const auto removed = std::erase_if(
        keys, [&](const Key& key) { return cp1252::equalsIgnoreCase(key.path, path) || isChildPath(key.path, path); });
    if (removed > 0 && parent.contains('\\') && !exists(parent))
        keys.push_back(Key{parent, {}, {}});
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

Hive parse(const QByteArray& input) {
    const QByteArray bytes = isUtf16(input) ? cp1252FromUtf16(input.mid(2)) : input;
    Hive hive;
    QHash<QString, qsizetype> index;
    const auto reindex = [&] {
        index.clear();
        for (qsizetype k = 0; k < qsizetype(hive.keys.size()); ++k)
            index.insert(folded(hive.keys[k].path), k);
    };
    const QByteArrayList lines = bytes.split('\n');
    bool wide = false;
    qsizetype current = -1;  // the key whose values the lines give
    qsizetype lastKey = -1;  // the key that lines after an unreadable header stay with
    bool inDeletion = false; // below a "[-key]" entry, whose lines an import ignores

    // A line the reader does not understand stays where it was.
    const auto keep = [&](const QByteArray& text) {
        if (inDeletion)
            return;
        if (current >= 0) {
            Key& key = hive.keys[current];
            key.kept.push_back(KeptLine{qsizetype(key.values.size()), text});
        } else if (lastKey >= 0) {
            hive.keys[lastKey].kept.push_back(KeptLine{kAfterValues, text});
        } else {
            hive.preamble.append(text);
        }
    };

    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray text = lines[i].trimmed();
        if (text.isEmpty() || text == kHeader4)
            continue;
        if (text == kHeader5 || (i == 0 && text == QByteArray("\xEF\xBB\xBF") + kHeader5)) {
            wide = true;
            continue;
        }

        // A '[' without its ']', or followed by a blank, starts no key: the line is kept like any other
        // the reader cannot use, and the values after it stay in the key before, as an import reads them.
        const qsizetype close = text.startsWith('[') ? text.lastIndexOf(']') : -1;
        if (close > 0 && text[1] != ' ' && text[1] != '\t') {
            const QByteArray inner = text.mid(1, close - 1);
            if (inner.startsWith('-')) {
                // A deletion entry removes the key and its subkeys as far as the file made them.
                const QByteArray path = components(inner.mid(1)).join('\\');
                if (!path.isEmpty() && hive.remove(path))
                    reindex();
                current = lastKey = -1;
                inDeletion = true;
                continue;
            }
            const QByteArray path = components(inner).join('\\');
            if (!hasRootName(path)) {
                // A key no import can open: what follows it belongs to no key, and stays after the last one.
                if (current >= 0)
                    lastKey = current;
                current = -1;
                inDeletion = false;
                keep(rawLine(lines[i]));
                continue;
            }
            inDeletion = false;
            const QString key = folded(path);
            const auto found = index.constFind(key);
            if (found != index.constEnd()) {
                current = *found;
            } else {
                current = qsizetype(hive.keys.size());
                index.insert(key, current);
                hive.keys.push_back(Key{path, {}, {}});
            }
            lastKey = current;
            continue;
        }

        QByteArray joined = text;
        QByteArray original = rawLine(lines[i]);
        const QByteArray data = dataPart(text);
        // Hex data goes on over lines that end in a backslash. A blank line, or one that starts a key
        // or a value, is never taken as a continuation, so a truncated value cannot swallow what follows.
        if (data.startsWith("hex")) {
            while (joined.endsWith('\\') && i + 1 < lines.size()) {
                const QByteArray next = lines[i + 1].trimmed();
                if (next.isEmpty() || next.startsWith('[') || next.startsWith('"') || next.startsWith('@'))
                    break;
                joined.chop(1);
                joined += next;
                original += "\r\n" + rawLine(lines[i + 1]);
                ++i;
            }
        }

        if (current < 0) {
            keep(original);
            continue;
        }
        Key& key = hive.keys[current];
        if (data == "-" && (text.startsWith('"') || text.startsWith('@'))) {
            qsizetype pos = 0;
            const auto name = text.startsWith('@') ? std::optional<QByteArray>(QByteArray()) : readQuoted(text, pos);
            if (name) {
                const qsizetype existing = findValue(key, *name);
                if (existing >= 0)
                    key.eraseValue(existing);
                continue;
            }
        }
        auto value = parseValue(joined, wide);
        if (!value) {
            keep(original);
            continue;
        }
        const qsizetype existing = findValue(key, value->name);
        if (existing >= 0) {
            key.values[existing].type = value->type;
            key.values[existing].data = value->data;
        } else {
            key.values.push_back(std::move(*value));
        }
    }
    // Kept lines in the order a rewrite puts them, so that reading the rewrite gives the same hive.
    for (Key& key : hive.keys) {
        std::stable_sort(key.kept.begin(), key.kept.end(), [](const KeptLine& a, const KeptLine& b) {
            const auto place = [](qsizetype before) {
                return before == kAfterValues ? kMaxPlace : before;
            };
            return place(a.before) < place(b.before);
        });
    }
    return hive;
}

QByteArray serialize(const Hive& hive) {
    QByteArray out = QByteArray(kHeader4) + "\r\n\r\n";
    for (const QByteArray& line : hive.preamble)
        appendKept(out, line);
    if (!hive.preamble.isEmpty())
        out += "\r\n";
    for (const Key& key : hive.keys) {
        out += '[' + key.path + "]\r\n";
        const auto keptBefore = [&](qsizetype index) {
            for (const KeptLine& line : key.kept) {
                if (line.before == index || (index == qsizetype(key.values.size()) && line.before > index))
                    appendKept(out, line.text);
            }
        };
        for (qsizetype v = 0; v < qsizetype(key.values.size()); ++v) {
            keptBefore(v);
            const Value& value = key.values[v];
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
        keptBefore(qsizetype(key.values.size()));
        keptBefore(kAfterValues);
        out += "\r\n";
    }
    return out;
}

} // namespace vestrel::regfile
