#include "reminders/Scanf.h"

#include "platform/HexDigit.h"

#include <algorithm>
#include <bitset>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vestrel::reminders {

double Real48::toDouble() const {
    if (bytes[0] == 0)
        return 0.0;
    std::uint64_t fraction = 0;
    for (int i = 5; i >= 1; --i)
        fraction = (fraction << 8) | bytes[i];
    const bool negative = (fraction >> 39) & 1;
    fraction &= (std::uint64_t(1) << 39) - 1;
    const double mantissa = 1.0 + std::ldexp(double(fraction), -39);
    const double value = std::ldexp(mantissa, int(bytes[0]) - 129);
    return negative ? -value : value;
}

std::optional<Real48> Real48::fromDouble(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    Real48 result;
    if (value == 0.0)
        return result;
    const bool negative = std::signbit(value);
    int exponent = 0;
    // frexp gives a mantissa in [0.5, 1): value = m * 2^exponent = (2m) * 2^(exponent - 1).
    const double m = std::frexp(std::fabs(value), &exponent);
    double scaled = std::ldexp(2.0 * m - 1.0, 39); // the 39 fraction bits, not yet rounded
    std::uint64_t fraction = std::uint64_t(std::nearbyint(scaled));
    int biased = exponent - 1 + 129;
    if (fraction >> 39) { // rounding carried into the implicit one
        fraction = 0;
        ++biased;
    }
    if (biased <= 0)
        return result; // too small: zero
    if (biased > 255)
        return std::nullopt;
    result.bytes[0] = std::uint8_t(biased);
    if (negative)
        fraction |= std::uint64_t(1) << 39;
    for (int i = 1; i <= 5; ++i) {
        result.bytes[i] = std::uint8_t(fraction & 0xFF);
        fraction >>= 8;
    }
    return result;
}

namespace {

bool isBlank(unsigned char c) {
    return c >= 1 && c <= 32;
}

enum class Prefix { None, H, h, l, L, l8, l16, l32, l64, ll };

constexpr int NoWidth = std::numeric_limits<int>::max();

// Bit size of an integer target for a size prefix, 0 when the prefix has no integer meaning.
int integerBits(Prefix prefix) {
    switch (prefix) {
    case Prefix::H:
    case Prefix::l8:
        return 8;
    case Prefix::h:
    case Prefix::l16:
        return 16;
    case Prefix::None:
    case Prefix::l:
    case Prefix::l32:
        return 32;
    case Prefix::L:
    case Prefix::ll:
    case Prefix::l64:
        return 64;
    }
    return 0;
}

template <typename T> bool holdsPointer(const ScanTarget& target) {
    auto p = std::get_if<T*>(&target);
    return p && *p;
}

bool holdsInteger(const ScanTarget& target, int bits) {
    switch (bits) {
    case 8:
        return holdsPointer<std::int8_t>(target);
    case 16:
        return holdsPointer<std::int16_t>(target);
    case 32:
        return holdsPointer<std::int32_t>(target);
    case 64:
        return holdsPointer<std::int64_t>(target);
    }
    return false;
}

void storeInteger(const ScanTarget& target, std::uint64_t value) {
    // Conversions to the narrower types keep the low bits, which is the documented wrap.
    if (auto p = std::get_if<std::int8_t*>(&target))
        **p = static_cast<std::int8_t>(value);
    else if (auto p = std::get_if<std::int16_t*>(&target))
        **p = static_cast<std::int16_t>(value);
    else if (auto p = std::get_if<std::int32_t*>(&target))
        **p = static_cast<std::int32_t>(value);
    else if (auto p = std::get_if<std::int64_t*>(&target))
        **p = static_cast<std::int64_t>(value);
}

bool holdsText(const ScanTarget& target, Prefix prefix) {
    switch (prefix) {
    case Prefix::None: {
        auto buffer = std::get_if<CharBuffer>(&target);
        return buffer && buffer->data && buffer->size > 0;
    }
    case Prefix::l:
        return holdsPointer<QByteArray>(target);
    case Prefix::h:
        return holdsPointer<ShortString>(target);
    default:
        return false;
    }
}

void storeText(const ScanTarget& target, const char* text, std::size_t length) {
    if (auto buffer = std::get_if<CharBuffer>(&target)) {
        const std::size_t n = std::min(length, buffer->size - 1);
        std::memcpy(buffer->data, text, n);
        buffer->data[n] = '\0';
    } else if (auto value = std::get_if<QByteArray*>(&target)) {
        **value = QByteArray(text, qsizetype(length));
    } else if (auto shortString = std::get_if<ShortString*>(&target)) {
        const std::size_t n = std::min<std::size_t>(length, 255);
        (**shortString)[0] = char(n);
        std::memcpy((*shortString)->data() + 1, text, n);
    }
}

struct Directive {
    bool suppress = false;
    int width = NoWidth;
    Prefix prefix = Prefix::None;
    char conversion = 0; // lower case
    std::bitset<256> set;
};

class Scanner {
public:
    Scanner(QByteArrayView input, QByteArrayView format, std::span<const ScanTarget> targets)
        : m_begin(input.data())
        , m_in(input.data())
        , m_end(input.data() + zeroTerminatedLength(input))
        , m_fmt(format.data())
        , m_fmtEnd(format.data() + zeroTerminatedLength(format))
        , m_targets(targets) {}

    int run() {
        while (m_fmt < m_fmtEnd) {
            const unsigned char f = *m_fmt;
            if (isBlank(f)) {
                while (m_fmt < m_fmtEnd && isBlank(*m_fmt))
                    ++m_fmt;
                skipInputBlanks();
            } else if (f == '%' && m_fmtEnd - m_fmt >= 2 && m_fmt[1] == '%') {
                if (m_in == m_end || *m_in != '%')
                    break;
                ++m_in;
                m_fmt += 2;
            } else if (f == '%') {
                ++m_fmt;
                if (!directive())
                    break;
            } else {
                if (m_in == m_end || *m_in != char(f))
                    break;
                ++m_in;
                ++m_fmt;
            }
        }
        return (m_assigned == 0 && m_in == m_end) ? -1 : m_assigned;
    }

private:
    const char* m_begin;
    const char* m_in;
    const char* m_end;
    const char* m_fmt;
    const char* m_fmtEnd;
    std::span<const ScanTarget> m_targets;
    std::size_t m_nextTarget = 0;
    int m_assigned = 0;
    Directive m_d;

    static qsizetype zeroTerminatedLength(QByteArrayView text) {
        const void* zero = text.isEmpty() ? nullptr : std::memchr(text.data(), 0, std::size_t(text.size()));
        return zero ? static_cast<const char*>(zero) - text.data() : text.size();
    }

    void skipInputBlanks() {
        while (m_in < m_end && isBlank(*m_in))
            ++m_in;
    }

    bool atFormatEnd() const { return m_fmt >= m_fmtEnd; }

    // Reads the directive after '%' into m_d; false when it is invalid.
    bool parseDirective() {
        m_d.suppress = false;
        m_d.width = NoWidth;
        m_d.prefix = Prefix::None;
        if (!atFormatEnd() && *m_fmt == '*') {
            m_d.suppress = true;
            ++m_fmt;
        }
        if (!atFormatEnd() && *m_fmt >= '0' && *m_fmt <= '9') {
            long width = 0;
            while (!atFormatEnd() && *m_fmt >= '0' && *m_fmt <= '9') {
                width = std::min<long>(width * 10 + (*m_fmt - '0'), NoWidth - 1);
                ++m_fmt;
            }
            if (width == 0)
                return false;
            m_d.width = int(width);
        }
        if (!atFormatEnd()) {
            switch (*m_fmt) {
            case 'H':
                m_d.prefix = Prefix::H;
                ++m_fmt;
                break;
            case 'h':
                m_d.prefix = Prefix::h;
                ++m_fmt;
                break;
            case 'L':
                m_d.prefix = Prefix::L;
                ++m_fmt;
                break;
            case 'l':
                ++m_fmt;
                m_d.prefix = Prefix::l;
                if (consumeFormat("8"))
                    m_d.prefix = Prefix::l8;
                else if (consumeFormat("16"))
                    m_d.prefix = Prefix::l16;
                else if (consumeFormat("32"))
                    m_d.prefix = Prefix::l32;
                else if (consumeFormat("64"))
                    m_d.prefix = Prefix::l64;
                else if (consumeFormat("l"))
                    m_d.prefix = Prefix::ll;
                break;
            }
        }
        if (atFormatEnd())
            return false;
        const unsigned char letter = *m_fmt++;
        m_d.conversion = char(letter >= 'A' && letter <= 'Z' ? letter + ('a' - 'A') : letter);
        switch (m_d.conversion) {
        case 'd':
        case 'u':
        case 'i':
        case 'o':
        case 'x':
        case 'n':
            return integerBits(m_d.prefix) != 0;
        case 'p':
        case 'c':
            return m_d.prefix == Prefix::None;
        case 'e':
        case 'f':
        case 'g':
            return m_d.prefix == Prefix::None || m_d.prefix == Prefix::h || m_d.prefix == Prefix::l ||
                   m_d.prefix == Prefix::L || m_d.prefix == Prefix::H;
        case 's':
            return m_d.prefix == Prefix::None || m_d.prefix == Prefix::l || m_d.prefix == Prefix::h;
        case '[':
            return (m_d.prefix == Prefix::None || m_d.prefix == Prefix::l || m_d.prefix == Prefix::h) && parseSet();
        default:
            return false;
        }
    }

    bool consumeFormat(std::string_view text) {
        if (m_fmtEnd - m_fmt >= qsizetype(text.size()) && std::equal(text.begin(), text.end(), m_fmt)) {
            m_fmt += text.size();
            return true;
        }
        return false;
    }

    // The scan set after "[": members up to the closing ']'; false when there is none.
    bool parseSet() {
        m_d.set.reset();
        bool negate = false;
        if (!atFormatEnd() && *m_fmt == '^') {
            negate = true;
            ++m_fmt;
        }
        const char* first = m_fmt;
        while (!atFormatEnd()) {
            const unsigned char c = *m_fmt;
            if (c == ']' && m_fmt != first)
                break;
            // "x-y" is a range unless the '-' is first or is followed by the closing ']'.
            if (m_fmtEnd - m_fmt >= 3 && m_fmt[1] == '-' && m_fmt[2] != ']') {
                unsigned char low = c;
                unsigned char high = m_fmt[2];
                if (low > high)
                    std::swap(low, high);
                for (int x = low; x <= high; ++x)
                    m_d.set.set(std::size_t(x));
                m_fmt += 3;
                continue;
            }
            m_d.set.set(c);
            ++m_fmt;
        }
        if (atFormatEnd())
            return false;
        ++m_fmt; // the closing ']'
        if (negate)
            m_d.set.flip();
        m_d.set.reset(0);
        return true;
    }

    bool targetFits(const ScanTarget& target) const {
        switch (m_d.conversion) {
        case 'p':
            return holdsInteger(target, 64);
        case 'e':
        case 'f':
        case 'g':
            switch (m_d.prefix) {
            case Prefix::None:
            case Prefix::h:
                return holdsPointer<float>(target);
            case Prefix::l:
                return holdsPointer<double>(target);
            case Prefix::L:
                return holdsPointer<long double>(target);
            case Prefix::H:
                return holdsPointer<Real48>(target);
            default:
                return false;
            }
        case 's':
        case '[':
            return holdsText(target, m_d.prefix);
        case 'c':
            return holdsText(target, Prefix::None);
        default:
            return holdsInteger(target, integerBits(m_d.prefix));
        }
    }

    bool directive() {
        if (!parseDirective())
            return false;
        const ScanTarget* target = nullptr;
        if (!m_d.suppress) {
            if (m_nextTarget >= m_targets.size())
                return false;
            target = &m_targets[m_nextTarget];
            if (!targetFits(*target))
                return false;
        }
        const char c = m_d.conversion;
        if (c != 'c' && c != '[' && c != 'n')
            skipInputBlanks();
        if (m_in == m_end)
            return false;

        const char* fieldStart = m_in;
        bool ok = false;
        switch (c) {
        case 'd':
        case 'u':
            ok = scanInteger(10, target);
            break;
        case 'i':
            ok = scanInteger(0, target);
            break;
        case 'o':
            ok = scanInteger(8, target);
            break;
        case 'x':
        case 'p':
            ok = scanInteger(16, target);
            break;
        case 'e':
        case 'f':
        case 'g':
            ok = scanFloat(target);
            break;
        case 's':
            ok = scanText(target, [](unsigned char ch, const Directive&) { return ch > 32; });
            break;
        case '[':
            ok = scanText(target, [](unsigned char ch, const Directive& d) { return d.set.test(ch); });
            break;
        case 'c':
            ok = scanCharacters(target);
            break;
        case 'n':
            // It takes its target like any other directive but is never counted.
            if (target) {
                storeInteger(*target, std::uint64_t(m_in - m_begin));
                ++m_nextTarget;
            }
            return true;
        }
        if (!ok) {
            m_in = fieldStart; // a field that does not convert is not consumed
            return false;
        }
        if (target) {
            ++m_nextTarget;
            ++m_assigned;
        }
        return true;
    }

    // Reads an optional sign and returns whether it was '-'.
    bool readSign() {
        if (m_in < m_end && (*m_in == '+' || *m_in == '-'))
            return *m_in++ == '-';
        return false;
    }

    bool scanInteger(int base, const ScanTarget* target) {
        const bool negative = readSign();
        if (base == 0) {
            if (m_in < m_end && *m_in == '$') {
                ++m_in;
                base = 16;
            } else if (m_end - m_in >= 2 && m_in[0] == '0' && (m_in[1] == 'x' || m_in[1] == 'X')) {
                m_in += 2;
                base = 16;
            } else if (m_in < m_end && *m_in == '0') {
                base = 8; // the leading '0' is read as an octal digit
            } else {
                base = 10;
            }
        }
        std::uint64_t value = 0;
        int digits = 0;
        while (m_in < m_end && digits < m_d.width) {
            const int v = hexDigitValue(char(*m_in));
            if (v < 0 || v >= base)
                break;
            value = value * std::uint64_t(base) + std::uint64_t(v);
            ++m_in;
            ++digits;
        }
        if (digits == 0)
            return false;
        if (negative)
            value = 0 - value;
        if (target)
            storeInteger(*target, value);
        return true;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    // Rough decimal order of magnitude of a number text that did not fit, to tell overflow from underflow.
    static bool textIsLarge(const char* begin, const char* end) {
        long order = 0;
        const char* p = begin;
        while (p < end && *p == '0')
            ++p;
        bool sawNonZero = false;
        for (; p < end && isDigit(*p); ++p, sawNonZero = true)
            ++order;
        if (p < end && *p == '.') {
            ++p;
            if (!sawNonZero) {
                while (p < end && *p == '0') {
                    ++p;
                    --order;
                }
            }
            while (p < end && isDigit(*p))
                ++p;
        }
        if (p < end && (*p == 'e' || *p == 'E')) {
            ++p;
            bool negative = false;
            if (p < end && (*p == '+' || *p == '-'))
                negative = *p++ == '-';
            long exponent = 0;
            for (; p < end && isDigit(*p); ++p)
                exponent = std::min<long>(exponent * 10 + (*p - '0'), 100000);
            order += negative ? -exponent : exponent;
        }
        return order > 0;
    }

    template <typename T> static T parseNumber(const char* begin, const char* end, bool negative) {
        T value{};
        const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
        (void)ptr;
        if (ec == std::errc::result_out_of_range)
            value = textIsLarge(begin, end) ? std::numeric_limits<T>::infinity() : T(0);
        return negative ? -value : value;
    }

    bool scanFloat(const ScanTarget* target) {
        const bool negative = readSign();
        const int width = m_d.width;
        const char* start = m_in;
        long double special = 0;
        bool isSpecial = false;
        if (width >= 3 && m_end - m_in >= 3 && (std::memcmp(m_in, "INF", 3) == 0 || std::memcmp(m_in, "NAN", 3) == 0)) {
            special = m_in[0] == 'I' ? std::numeric_limits<long double>::infinity()
                                     : std::numeric_limits<long double>::quiet_NaN();
            isSpecial = true;
            m_in += 3;
        } else {
            int used = 0;
            int mantissaDigits = 0;
            auto room = [&] {
                return m_in < m_end && used < width;
            };
            while (room() && isDigit(*m_in)) {
                ++m_in;
                ++used;
                ++mantissaDigits;
            }
            if (room() && *m_in == '.') {
                ++m_in;
                ++used;
                while (room() && isDigit(*m_in)) {
                    ++m_in;
                    ++used;
                    ++mantissaDigits;
                }
            }
            if (mantissaDigits == 0)
                return false;
            // The exponent is taken only when at least one digit follows it within the width.
            if (room() && (*m_in == 'e' || *m_in == 'E')) {
                const char* p = m_in + 1;
                int u = used + 1;
                if (p < m_end && u < width && (*p == '+' || *p == '-')) {
                    ++p;
                    ++u;
                }
                if (p < m_end && u < width && isDigit(*p)) {
                    while (p < m_end && u < width && isDigit(*p)) {
                        ++p;
                        ++u;
                    }
                    m_in = p;
                }
            }
        }
        if (!target)
            return true;
        if (isSpecial) {
            const long double value = negative ? -special : special;
            if (auto p = std::get_if<float*>(target))
                **p = float(value);
            else if (auto p = std::get_if<double*>(target))
                **p = double(value);
            else if (auto p = std::get_if<long double*>(target))
                **p = value;
            else
                return false; // a 6-byte real holds no infinity and no NaN
            return true;
        }
        if (auto p = std::get_if<float*>(target)) {
            **p = parseNumber<float>(start, m_in, negative);
        } else if (auto p = std::get_if<double*>(target)) {
            **p = parseNumber<double>(start, m_in, negative);
        } else if (auto p = std::get_if<long double*>(target)) {
            **p = parseNumber<long double>(start, m_in, negative);
        } else if (auto p = std::get_if<Real48*>(target)) {
            const auto real = Real48::fromDouble(parseNumber<double>(start, m_in, negative));
            if (!real)
                return false;
            **p = *real;
        }
        return true;
    }

    template <typename Accept> bool scanText(const ScanTarget* target, Accept accept) {
        const char* start = m_in;
        while (m_in < m_end && m_in - start < m_d.width && accept(static_cast<unsigned char>(*m_in), m_d))
            ++m_in;
        if (m_in == start)
            return false;
        if (target)
            storeText(*target, start, std::size_t(m_in - start));
        return true;
    }

    bool scanCharacters(const ScanTarget* target) {
        const int width = m_d.width == NoWidth ? 1 : m_d.width;
        const std::size_t n = std::size_t(std::min<qsizetype>(width, m_end - m_in));
        if (target) {
            const CharBuffer& buffer = std::get<CharBuffer>(*target);
            std::memcpy(buffer.data, m_in, std::min(n, buffer.size));
        }
        m_in += n;
        return true;
    }
};

} // namespace

int ScanFormatted(QByteArrayView input, QByteArrayView format, std::span<const ScanTarget> targets) {
    return Scanner(input, format, targets).run();
}

} // namespace vestrel::reminders
