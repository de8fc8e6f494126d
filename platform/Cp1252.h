#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Every byte on disk, on the wire and in the registry store is Windows-1252. Data stays as bytes
// inside the platform layer and the program rules; it becomes a QString only where a widget shows it.
namespace vestrel::cp1252 {

// Bytes to text. The five bytes cp1252 leaves undefined (0x81 0x8D 0x8F 0x90 0x9D) map to the code
// points of the same value, so every byte string survives a round trip.
QString toUnicode(const QByteArray& bytes);

// Text to bytes. Characters that cp1252 cannot hold become '?'.
QByteArray fromUnicode(const QString& text);

// The characters of `text` that cp1252 cannot hold, each once, in the order they first appear (a
// character outside the Basic Multilingual Plane counts as one). Empty when all of `text` fits.
// Text a user types is checked with this where it is typed, so that no '?' is ever stored in place
// of what the user wrote.
QStringList unrepresentable(const QString& text);

// Whether two cp1252 names are equal without regard to case ("Count" and "count", "Perché" and
// "PERCHÉ"), as Windows compares INI section, key and registry names.
bool equalsIgnoreCase(const QByteArray& a, const QByteArray& b);

} // namespace vestrel::cp1252
