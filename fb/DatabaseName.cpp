#include "fb/DatabaseName.h"

namespace vestrel::fb {

DatabaseNameParts DecomposeDatabaseName(const QByteArray& name) {
    DatabaseNameParts parts;
    if (name.startsWith("\\\\")) {
        const qsizetype end = name.indexOf('\\', 2);
        if (end > 2) {
            parts.server = name.mid(2, end - 2);
            parts.protocol = DatabaseNameParts::Protocol::NamedPipe;
            parts.path = name.mid(end + 1);
            return parts;
        }
    }
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char c = name.at(i);
        if (c == '/' && i > 0) {
            // "host/port:path": a server on another port.
            qsizetype end = i + 1;
            while (end < name.size() && name.at(end) >= '0' && name.at(end) <= '9')
                ++end;
            if (end > i + 1 && end < name.size() && name.at(end) == ':') {
                parts.server = name.left(end);
                parts.protocol = DatabaseNameParts::Protocol::Tcp;
                parts.path = name.mid(end + 1);
                return parts;
            }
        }
        if (c == '/' || c == '\\')
            break;
        // A single letter before ':' is a drive.
        if ((c == ':' && i > 1) || (c == '@' && i > 0)) {
            parts.server = name.left(i);
            parts.protocol = c == ':' ? DatabaseNameParts::Protocol::Tcp : DatabaseNameParts::Protocol::Spx;
            parts.path = name.mid(i + 1);
            return parts;
        }
    }
    parts.path = name;
    return parts;
}

} // namespace vestrel::fb
