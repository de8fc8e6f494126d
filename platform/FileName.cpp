#include "platform/FileName.h"

namespace vestrel {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // U+DC80..U+DCFF stand for the bytes 0x80..0xFF

// The length of the valid UTF-8 sequence at `at`, or 0 when the bytes there form none.
qsizetype utf8SequenceLength(QByteArrayView bytes, qsizetype at) {
    const auto byte = [&](qsizetype i) {
        return static_cast<unsigned char>(bytes[i]);
    };
    const unsigned char lead = byte(at);
    qsizetype length = 0;
    char32_t minimum = 0;
    char32_t code = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not valid UTF-8.
    if (code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

QString decodeFileName(QByteArrayView native) {
    QString name;
    name.reserve(native.size());
    qsizetype at = 0;
    while (at < native.size()) {
        // Runs of valid UTF-8 go through Qt's decoder at once; each invalid byte is escaped.
        qsizetype end = at;
        while (end < native.size()) {
            const qsizetype length = utf8SequenceLength(native, end);
            if (length == 0)
                break;
            end += length;
        }
        if (end > at)
            name += QString::fromUtf8(native.sliced(at, end - at));
        if (end < native.size()) {
            name += QChar(char16_t(kEscapeBase + static_cast<unsigned char>(native[end])));
            ++end;
        }
        at = end;
    }
    return name;
}

QByteArray encodeFileName(QStringView name) {
    const auto isEscape = [&](qsizetype i) {
        return name[i].unicode() >= kEscapeBase + 0x80 && name[i].unicode() <= kEscapeBase + 0xFF;
    };
    QByteArray native;
    native.reserve(name.size());
    qsizetype at = 0;
    while (at < name.size()) {
        qsizetype end = at;
        while (end < name.size() && !isEscape(end)) {
            // A real surrogate pair is one character, even when its second half lies in the escape range.
            const bool pair = name[end].isHighSurrogate() && end + 1 < name.size() && name[end + 1].isLowSurrogate();
            end += pair ? 2 : 1;
        }
        if (end > at)
            native += name.sliced(at, end - at).toUtf8();
        if (end < name.size()) {
            native += char(name[end].unicode() - kEscapeBase);
            ++end;
        }
        at = end;
    }
    return native;
}

} // namespace vestrel
