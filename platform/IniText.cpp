#include "platform/IniText.h"

#include "platform/HexDigit.h"

#include <limits>

namespace vestrel::initext {

Line classify(QByteArray raw, bool firstLine) {
    Line line;
    line.raw = std::move(raw);
    QByteArray text = line.raw.trimmed();
    if (firstLine && text.startsWith("\xEF\xBB\xBF"))
        text = text.mid(3).trimmed();
    const qsizetype close = text.startsWith('[') ? text.indexOf(']') : -1;
    if (close > 0) {
        line.kind = Line::Kind::Section;
        line.name = text.mid(1, close - 1).trimmed();
    } else if (text.startsWith('[')) {
        // An unclosed header names no section: the lines after it stay in the section before.
    } else if (!text.startsWith(';')) {
        // A ';' line stays a comment, and a line starting with '=' names no key, although the profile
        // functions answer a direct read of either: a commented-out setting must not come back to life.
        const qsizetype eq = text.indexOf('=');
        if (eq > 0) {
            line.name = text.left(eq).trimmed();
            if (!line.name.isEmpty())
                line.kind = Line::Kind::Key;
        } else if (eq < 0 && !text.isEmpty()) {
            line.name = text;
            line.kind = Line::Kind::Name;
        }
    }
    return line;
}

Text parse(const QByteArray& bytes) {
    Text text;
    bool newlineSeen = false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < bytes.size())
            next += (bytes[next] == '\r' && next + 1 < bytes.size() && bytes[next + 1] == '\n') ? 2 : 1;
        Line line = classify(bytes.mid(start, end - start), start == 0);
        line.end = bytes.mid(end, next - end);
        if (!newlineSeen && !line.end.isEmpty()) {
            text.newline = line.end;
            newlineSeen = true;
        }
        text.lines.push_back(std::move(line));
        start = next;
    }
    return text;
}

QByteArray serialize(const Text& text) {
    QByteArray bytes;
    for (const Line& line : text.lines) {
        bytes += line.raw;
        bytes += line.end.isEmpty() ? text.newline : line.end;
    }
    return bytes;
}

QByteArray valueOf(const Line& line) {
    const QByteArray value = line.raw.mid(line.raw.indexOf('=') + 1).trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

std::optional<int> parseInteger(const QByteArray& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    }
    if (i >= text.size())
        return std::nullopt;
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (base == 16) {
        // Hexadecimal text is a bit pattern: "0xFFFFFFFF" is -1.
        const auto bits = static_cast<qint32>(static_cast<quint32>(magnitude));
        return negative ? -bits : bits;
    }
    const qint64 value = negative ? -qint64(magnitude) : qint64(magnitude);
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(value);
}

} // namespace vestrel::initext
