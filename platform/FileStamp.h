#pragma once

#include <QString>

namespace vestrel {

// What tells one content of a file from another without reading it: size, modification time and
// inode (an atomic replace gives the file a new inode). Readers that keep a parsed copy compare the
// stamp before trusting their copy.
struct FileStamp {
    bool exists = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint64 inode = 0;

    bool operator==(const FileStamp&) const = default;

    // The stamp of `path` now; a missing file gives the default stamp.
    static FileStamp of(const QString& path);

    // File systems stamp modification times with a coarse clock: a file changed within a second of
    // being read may change again without its stamp showing it, so a copy read now must be read again.
    bool isRecent() const;
};

} // namespace vestrel
