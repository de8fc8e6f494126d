#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace vestrel {

// File names on Linux are bytes, which the programs read as UTF-8. A name that is not valid UTF-8
// (a cp1252 name copied from Windows, "caf\xE9.dll") would lose its bytes in a QString: each byte of
// an invalid sequence is kept instead as the lone surrogate U+DC80 + (byte - 0x80) and turns back into
// the same byte, so decodeFileName and encodeFileName give back the name the file system holds.
QString decodeFileName(QByteArrayView native);
QByteArray encodeFileName(QStringView name);

} // namespace vestrel
