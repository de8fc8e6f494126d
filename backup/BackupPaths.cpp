#include "backup/BackupPaths.h"

#include "backup/BackupSchedule.h"
#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

qsizetype lastSeparator(const QByteArray& path, QByteArrayView separators) {
    qsizetype found = -1;
    for (char c : separators)
        found = std::max(found, path.lastIndexOf(c));
    return found;
}

QByteArray withGbkExtension(const QByteArray& fileName) {
    const qsizetype dot = fileName.lastIndexOf('.');
    return (dot < 0 ? fileName : fileName.left(dot)) + ".gbk";
}

} // namespace

QByteArray BackupTargetFolder(const QByteArray& root, int freq, QDate day) {
    const char separator = root.startsWith('/') ? '/' : '\\';
    QByteArray folder = root;
    if (folder.endsWith('\\'))
        folder.chop(1);
    return folder + separator + cp1252::fromUnicode(RotationFolderName(freq, day));
}

void CreateBackupFolder(const QByteArray& folder) {
    const QString local = LocalBackupPath(folder);
    QFileInfo existing(local);
    while (!existing.exists() && !existing.isRoot() && existing.absoluteFilePath() != existing.absolutePath())
        existing.setFile(existing.absolutePath());
    if (QFileInfo(local).isDir())
        return;
    if (!QDir().mkpath(local))
        throw std::runtime_error("cannot create the folder " + local.toStdString());
    if (!existing.isDir())
        return;
    const QFileDevice::Permissions permissions = existing.permissions();
    const QString base = existing.absoluteFilePath();
    for (QFileInfo created(QDir::cleanPath(QFileInfo(local).absoluteFilePath()));
         created.absoluteFilePath().size() > base.size(); created.setFile(created.absolutePath())) {
        QFile::setPermissions(created.absoluteFilePath(), permissions);
    }
}

QByteArray ExtractFileName(const QByteArray& path) {
    return path.mid(lastSeparator(path, "\\/:") + 1);
}

QByteArray ServerBackupFileName(const QByteArray& folder, const QByteArray& databasePath) {
    if (databasePath.contains('/'))
        return folder + '/' + withGbkExtension(databasePath.mid(databasePath.lastIndexOf('/') + 1));
    return folder + '\\' + withGbkExtension(databasePath.mid(lastSeparator(databasePath, "\\:") + 1));
}

QByteArray CopyBackupFileName(const QByteArray& folder, const QByteArray& databasePath) {
    return folder + (folder.startsWith('/') ? '/' : '\\') + ExtractFileName(databasePath);
}

QString LocalBackupPath(const QByteArray& composed) {
    return localPath(cp1252::toUnicode(composed));
}

} // namespace vestrel::backup
