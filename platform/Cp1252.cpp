#include "platform/Cp1252.h"

#include <array>

namespace vestrel::cp1252 {

namespace {

// Code points of bytes 0x80..0x9F. The five bytes cp1252 leaves undefined keep their own value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t toCodePoint(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F)
        return kHighControls[byte - 0x80];
    return byte;
}

// The byte for a BMP code point, or -1 when cp1252 has none.
int toByte(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c)
            return 0x80 + i;
    }
    return -1;
}

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

} // namespace

QString toUnicode(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(toCodePoint(static_cast<unsigned char>(bytes[i])));
    return text;
}

QByteArray fromUnicode(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // A surrogate pair is one character outside cp1252: one '?', not two.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        const int byte = c.isSurrogate() ? -1 : toByte(c.unicode());
        bytes.append(byte < 0 ? '?' : char(byte));
    }
    return bytes;
}

QStringList unrepresentable(const QString& text) {
    QStringList found;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        qsizetype length = 1;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            length = 2;
        if (length == 1 && !c.isSurrogate() && toByte(c.unicode()) >= 0)
            continue;
        const QString character = text.mid(i, length);
        if (!found.contains(character))
            found.append(character);
        i += length - 1;
    }
    return found;
}

bool equalsIgnoreCase(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    bool ascii = true;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if ((a[i] & 0x80) || (b[i] & 0x80)) {
            ascii = false;
            break;
        }
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    }
    if (ascii)
        return true;
    return QString::compare(toUnicode(a), toUnicode(b), Qt::CaseInsensitive) == 0;
}

} // namespace vestrel::cp1252
