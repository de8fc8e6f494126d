#include "platform/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

QString withTrailingSlash(QString dir) {
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

[[noreturn]] void failCopy(const QString& path, const QString& why) {
    throw ProgramFileError(QFile::encodeName(u"Cannot write %1: %2"_s.arg(path, why)).toStdString());
}

QString systemReason(int error) {
    return QString::fromStdString(std::generic_category().message(error));
}

// Makes `own` hold what `shared` holds, unless `own` appeared meanwhile: the copy is written whole
// to a temporary file, then linked under its name only if that name is still free, so a copy made
// and already changed by another of the user's programs is never replaced.
void copyUnlessPresent(const QString& shared, const QString& own) {
    QFile source(shared);
    if (!source.open(QIODevice::ReadOnly))
        failCopy(own, u"cannot read %1 to start from it: %2"_s.arg(shared, source.errorString()));
    const QByteArray data = source.readAll();
    if (source.error() != QFileDevice::NoError)
        failCopy(own, u"cannot read %1 to start from it: %2"_s.arg(shared, source.errorString()));

    QTemporaryFile copy(own + u".XXXXXX"_s);
    if (!copy.open() || copy.write(data) != data.size() || !copy.flush())
        failCopy(own, copy.errorString());
    if (::fsync(copy.handle()) != 0)
        failCopy(own, systemReason(errno));
    if (::link(QFile::encodeName(copy.fileName()).constData(), QFile::encodeName(own).constData()) != 0 &&
        errno != EEXIST)
        failCopy(own, systemReason(errno));
}

} // namespace

QString programDirectory() {
    const QString overridden = qEnvironmentVariable("VESTREL_PROGRAM_DIR");
    if (!overridden.isEmpty())
        return withTrailingSlash(localPath(overridden));
    if (QCoreApplication::instance())
        return withTrailingSlash(QCoreApplication::applicationDirPath());
    // No application object yet (early start-up, fuzzers): ask the kernel where the executable is.
    const QFileInfo exe(QFileInfo(u"/proc/self/exe"_s).symLinkTarget());
    if (!exe.filePath().isEmpty())
        return withTrailingSlash(exe.absolutePath());
    return withTrailingSlash(QDir::currentPath());
}

QString programFile(const QString& name) {
    return localPath(programDirectory() + name);
}

bool programDirectoryWritable() {
    if (qEnvironmentVariable("VESTREL_PROGRAM_DIR_READONLY") == u"1"_s)
        return false;
    // Only a folder the system refuses counts as installed; a missing one stays the place to write, so
    // the write itself reports it instead of moving the files elsewhere unseen.
    if (::access(QFile::encodeName(programDirectory()).constData(), W_OK) == 0)
        return true;
    return errno != EACCES && errno != EPERM && errno != EROFS;
}

QString userFilesDirectory() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + u"/.config"_s;
    return withTrailingSlash(localPath(config)) + u"vestrel/"_s;
}

QString programFileToRead(const QString& name) {
    if (!programDirectoryWritable()) {
        const QString own = localPath(userFilesDirectory() + name);
        if (QFileInfo::exists(own))
            return own;
    }
    return programFile(name);
}

QString programFileToWrite(const QString& name) {
    const QString shared = programFile(name);
    if (programDirectoryWritable())
        return shared;
    const QString own = localPath(userFilesDirectory() + name);
    const QFileInfo ownInfo(own);
    if (ownInfo.exists() || ownInfo.isSymLink())
        return own;
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(ownInfo.absolutePath()).toStdString(), error);
    if (error)
        failCopy(own, u"cannot create the folder %1: %2"_s.arg(ownInfo.absolutePath(),
                                                               QString::fromStdString(error.message())));
    if (QFileInfo::exists(shared))
        copyUnlessPresent(shared, own);
    return own;
}

QString registryDirectory() {
    const QString overridden = qEnvironmentVariable("VESTREL_REGISTRY_DIR");
    if (!overridden.isEmpty())
        return withTrailingSlash(localPath(overridden));
    return userFilesDirectory();
}

QString localPath(const QString& windowsStylePath) {
    QString path;
    path.reserve(windowsStylePath.size());
    for (const QChar c : windowsStylePath) {
        const QChar sep = (c == u'\\') ? QChar(u'/') : c;
        if (sep == u'/' && path.endsWith(u'/'))
            continue;
        path += sep;
    }
    return path;
}

} // namespace vestrel
