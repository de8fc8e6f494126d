#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// The text of an INI file as the profile functions see it. Internal to the platform layer; shared
// by IniFile and the fuzz target.
namespace vestrel::initext {

struct Line {
    // Name: a line holding only a name, no '=': a key without a value. Reads give the default and
    // key lists skip it, but it hides later keys of the same name, and a write gives it a value.
    enum class Kind { Other, Section, Key, Name };
    QByteArray raw; // the line as in the file, without its terminator
    Kind kind = Kind::Other;
    QByteArray name; // section or key name, trimmed
    QByteArray end;  // the line's terminator as in the file; empty for a new or unterminated line
};

struct Text {
    std::vector<Line> lines;
    QByteArray newline = "\r\n"; // the file's first line end, for new lines; CR LF when it has none
};

// Splits and classifies every line; never fails. A line ends at LF, CR LF or a lone CR, as the
// profile functions read it. A section header is "[name]" (without the ']' the line is no header);
// a key line has a non-empty name before its first '='; a line of text without '=' is a Name; lines
// starting with ';' and everything else are kept as they are.
Text parse(const QByteArray& bytes);

// The lines with their own terminators; a line without one gets the file's line end.
QByteArray serialize(const Text& text);

Line classify(QByteArray raw, bool firstLine = false);

// The value of a key line: after the first '=', trimmed, without one pair of surrounding quotes.
QByteArray valueOf(const Line& line);

// Decimal or hexadecimal ("0x1F", "$1F") 32-bit integer filling the whole text.
std::optional<int> parseInteger(const QByteArray& text);

} // namespace vestrel::initext
