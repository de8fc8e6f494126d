#include "fb/LockFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel::fb {

namespace {

// Choosing the folder is routine for every ordinary user: only failures are shown unless asked for.
Q_LOGGING_CATEGORY(lcFb, "vestrel.fb", QtWarningMsg)

constexpr mode_t kPrivateMode = 0700;

bool usableByThisUser(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(path.constData(), R_OK | W_OK | X_OK) == 0;
}

// Makes `folder` a folder of this user alone; false, with the reason logged, when it cannot be one.
bool makePrivateFolder(const QString& folder) {
    const auto refuse = [&](const QString& why) {
        qCWarning(lcFb) << "cannot keep the embedded engine's locks in" << folder << ":" << why;
        return false;
    };
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent))
        return refuse(u"cannot create "_s + parent);
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), kPrivateMode) != 0 && errno != EEXIST)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    // Another user's folder, or a link that could lead anywhere, would share our locks with them.
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return refuse(u"it is not a folder of this user"_s);
    if ((info.st_mode & 07777) != kPrivateMode && ::chmod(path.constData(), kPrivateMode) != 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    return true;
}

QString cacheFolder() {
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (QDir::isAbsolutePath(cache))
        return cache;
    return QDir::homePath() + u"/.cache"_s;
}

} // namespace

QString chooseEmbeddedLockFolder(const QString& sharedFolder) {
    if (!qEnvironmentVariableIsEmpty("FIREBIRD_LOCK") || usableByThisUser(sharedFolder))
        return {};
    QStringList candidates;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime))
        candidates << runtime + u"/firebird"_s;
    candidates << cacheFolder() + u"/firebird"_s;
    for (const QString& folder : std::as_const(candidates)) {
        const QString clean = QDir::cleanPath(folder);
        if (makePrivateFolder(clean)) {
            qputenv("FIREBIRD_LOCK", QFile::encodeName(clean));
            qCDebug(lcFb) << "the embedded engine keeps its locks in" << clean << "since" << sharedFolder
                          << "is not usable";
            return clean;
        }
    }
    qCWarning(lcFb) << "no lock folder of this user could be made; the embedded engine uses" << sharedFolder;
    return {};
}

QString chooseEmbeddedLockFolder() {
    return chooseEmbeddedLockFolder(u"/tmp/firebird"_s);
}

} // namespace vestrel::fb
