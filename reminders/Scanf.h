#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <variant>

namespace vestrel::reminders {

// A 6-byte real: byte 0 is the biased exponent (129 for 2^0, 0 for the value zero), bytes 1 to 5 hold the
// 39 fraction bits below the implicit leading one, least significant byte first, with the sign in the top
// bit of byte 5. It has no infinities and no NaN.
struct Real48 {
    std::array<std::uint8_t, 6> bytes{};

    double toDouble() const;
    // Rounds to the nearest value; values too small become zero. Infinities, NaN and values too large
    // to be held give std::nullopt.
    static std::optional<Real48> fromDouble(double value);
};

// A counted short string: byte 0 is the length (0 to 255), the characters follow.
using ShortString = std::array<char, 256>;

// A character buffer of `size` bytes. "%s" and "%[" store a zero-terminated text into it (at most
// size - 1 characters); "%c" stores raw characters (at most size). Longer input is consumed but cut.
struct CharBuffer {
    char* data = nullptr;
    std::size_t size = 0;
};

template <std::size_t N> CharBuffer charBuffer(char (&buffer)[N]) {
    return CharBuffer{buffer, N};
}

// One target of ScanFormatted. The directive decides which alternative it must hold:
//   integers (d u i o x n) by size prefix: "H"/"l8" int8_t, "h"/"l16" int16_t, none/"l"/"l32" int32_t,
//     "L"/"ll"/"l64" int64_t; "p" (no prefix) a pointer-sized integer, int64_t;
//   floating point (e f g): none/"h" float, "l" double, "L" long double, "H" Real48;
//   text (s [): none CharBuffer, "l" QByteArray, "h" ShortString; "c": CharBuffer.
using ScanTarget = std::variant<std::int8_t*, std::int16_t*, std::int32_t*, std::int64_t*, float*, double*,
                                long double*, Real48*, CharBuffer, ShortString*, QByteArray*>;

// A formatted-input scanner in the manner of the C library's string scanner, on cp1252 bytes.
//
// The format is walked with the input: a run of white space (codes 1 to 32) in the format matches any
// run of white space in the input, also none; "%%" matches one '%'; any other character must equal the
// next input character. A directive is '%', an optional '*' (scan, assign nothing, use no target), an
// optional width (0 is invalid), an optional size prefix and a conversion letter in either case:
// d u i o x p e f g s c [ n. Input white space is skipped before every conversion except c, [ and n;
// a conversion that meets the end of the input ends scanning. The width limits the characters read after
// the sign and after a radix prefix ("$", "0x"). Integers accumulate in 64 bits (overflow wraps), are
// negated after a '-' and are stored cut to the target's size. A conversion that finds nothing to read,
// or a value its target cannot hold (a 6-byte real), an invalid directive, an exhausted target list or
// a target of another type than the directive needs ends scanning; a field that fails is not consumed,
// and nothing is ever written outside a target. Both texts end at a zero byte, if any.
//
// Returns the number of targets assigned ("%n" and '*' directives do not count), or -1 when none was
// assigned and the input was at its end when scanning stopped.
int ScanFormatted(QByteArrayView input, QByteArrayView format, std::span<const ScanTarget> targets);

inline int ScanFormatted(QByteArrayView input, QByteArrayView format, std::initializer_list<ScanTarget> targets) {
    return ScanFormatted(input, format, std::span<const ScanTarget>(targets.begin(), targets.size()));
}

} // namespace vestrel::reminders
