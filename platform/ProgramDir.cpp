#include "platform/ProgramDir.h"

#include "platform/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

QString withTrailingSlash(QString dir) {
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
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

IniFile programIniFile(const QString& name) {
    if (programDirectoryWritable())
        return IniFile(programFile(name));
    return IniFile(localPath(userFilesDirectory() + name), programFile(name));
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
