#include "versioninfo/CompactJson.h"

#include <algorithm>
#include <charconv>

namespace vestrel::versioninfo {

namespace {

// The longest a UTF-16 unit turns into: "\u" and four hex digits.
constexpr qsizetype kMaxBytesPerUnit = 6;

char hexDigit(unsigned value) {
    return "0123456789abcdef"[value & 0xF];
}

char* escapeUnit(char* at, char16_t unit) {
    *at++ = '\\';
    *at++ = 'u';
    *at++ = hexDigit(unit >> 12);
    *at++ = hexDigit(unit >> 8);
    *at++ = hexDigit(unit >> 4);
    *at++ = hexDigit(unit);
    return at;
}

} // namespace

void appendJsonString(QByteArray& out, QStringView text) {
    const qsizetype start = out.size();
    out.resize(start + 2 + text.size() * kMaxBytesPerUnit);
    char* at = out.data() + start;
    *at++ = '"';
    const char16_t* unit = text.utf16();
    const char16_t* const end = unit + text.size();
    while (unit != end) {
        const char16_t u = *unit++;
        if (u < 0x80) {
            if (u >= 0x20 && u != u'"' && u != u'\\') {
                *at++ = char(u);
                continue;
            }
            switch (u) {
            case u'"':
            case u'\\':
                *at++ = '\\';
                *at++ = char(u);
                break;
            case u'\b':
                *at++ = '\\';
                *at++ = 'b';
                break;
            case u'\f':
                *at++ = '\\';
                *at++ = 'f';
                break;
            case u'\n':
                *at++ = '\\';
                *at++ = 'n';
                break;
            case u'\r':
                *at++ = '\\';
                *at++ = 'r';
                break;
            case u'\t':
                *at++ = '\\';
                *at++ = 't';
                break;
            default:
                at = escapeUnit(at, u);
                break;
            }
        } else if (u < 0x800) {
            *at++ = char(0xC0 | (u >> 6));
            *at++ = char(0x80 | (u & 0x3F));
        } else if (!QChar::isSurrogate(u)) {
            *at++ = char(0xE0 | (u >> 12));
            *at++ = char(0x80 | ((u >> 6) & 0x3F));
            *at++ = char(0x80 | (u & 0x3F));
        } else if (QChar::isHighSurrogate(u) && unit != end && QChar::isLowSurrogate(*unit)) {
            const char32_t c = QChar::surrogateToUcs4(u, *unit++);
            *at++ = char(0xF0 | (c >> 18));
            *at++ = char(0x80 | ((c >> 12) & 0x3F));
            *at++ = char(0x80 | ((c >> 6) & 0x3F));
            *at++ = char(0x80 | (c & 0x3F));
        } else {
            at = escapeUnit(at, u);
        }
    }
    *at++ = '"';
    out.truncate(at - out.data());
}

void appendJsonNumber(QByteArray& out, std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr - digits);
}

bool jsonKeyLess(QStringView a, QStringView b) {
    return std::lexicographical_compare(a.utf16(), a.utf16() + a.size(), b.utf16(), b.utf16() + b.size());
}

} // namespace vestrel::versioninfo
