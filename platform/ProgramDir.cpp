#include "platform/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

QString registryDirectory() {
    const QString overridden = qEnvironmentVariable("VESTREL_REGISTRY_DIR");
    if (!overridden.isEmpty())
        return withTrailingSlash(localPath(overridden));
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + u"/.config"_s;
    return withTrailingSlash(localPath(config)) + u"vestrel/"_s;
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
