#include "platform/FileStamp.h"

#include <QFile>

#include <sys/stat.h>
#include <time.h>

namespace vestrel {

namespace {

constexpr qint64 kNsPerSecond = 1000000000;
constexpr qint64 kRecentMarginNs = kNsPerSecond;

} // namespace

FileStamp FileStamp::of(const QString& path) {
    FileStamp stamp;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.size = st.st_size;
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * kNsPerSecond + st.st_mtim.tv_nsec;
    stamp.inode = st.st_ino;
    return stamp;
}

bool FileStamp::isRecent() const {
    if (!exists)
        return false;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return modifiedNs + kRecentMarginNs > qint64(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

} // namespace vestrel
