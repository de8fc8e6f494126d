#pragma once

#include <QByteArray>

namespace vestrel::fb {

// The parts of a connection string in the server's usual notation.
struct DatabaseNameParts {
    enum class Protocol { Local, Tcp, NamedPipe, Spx };
    QByteArray server; // empty for a local database
    Protocol protocol = Protocol::Local;
    QByteArray path; // the database path as the server sees it
};

// Splits a connection string: "host:path" (TCP), "host/port:path" (TCP to another port, the server
// keeping "/port"), "\\host\path" (named pipes) and "host@path" (SPX) give
// the host and the path; a bare path, also one that starts with a drive letter ("C:\data\x.gdb"), gives
// no server. A host ends at the first ':' or '@' before any folder separator.
DatabaseNameParts DecomposeDatabaseName(const QByteArray& name);

} // namespace vestrel::fb
