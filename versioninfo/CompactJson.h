#pragma once

#include <QByteArray>
#include <QStringView>

#include <cstdint>

namespace vestrel::versioninfo {

// Writes JSON text straight into a byte buffer, byte for byte as QJsonDocument writes it in compact
// form: for a tool that prints one small object per file, building a document for each costs more
// than reading the file. Objects are the caller's to write, with their keys in the order a JSON
// object keeps them (jsonKeyLess).
//
// A string in double quotes, in UTF-8: quote, backslash and control characters escaped ("\n", "\t",
// "\u001f"...), a UTF-16 unit that is half of no surrogate pair as "\udc00".
void appendJsonString(QByteArray& out, QStringView text);
void appendJsonNumber(QByteArray& out, std::int64_t value);
// The order of the keys of a JSON object: by UTF-16 code unit.
bool jsonKeyLess(QStringView a, QStringView b);

} // namespace vestrel::versioninfo
