#include "certificate/ArchiveBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace sf6 {

QString defaultBackupFile(const ArchiveLocation& source, const QDateTime& at)
{
    const QString beside = source.engine == ArchiveLocation::Engine::SQLite ? source.path : ArchiveLocation::standard().path;
    return QFileInfo(beside).absoluteDir().filePath(QStringLiteral("backups/sf6archive-%1.sqlite")
                                                        .arg(at.toString(QStringLiteral("yyyyMMdd-HHmmss"))));
}

Expected<Backup> backupArchive(const Archive& source, const QString& file, const CopyOptions& options)
{
    if (QFileInfo::exists(file))
        return Status::failure(ErrorCode::TargetNotEmpty, QStringLiteral("备份文件 %1 已存在，备份不会替换已有的文件").arg(file));
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return Status::failure(ErrorCode::OutputNotWritten,
                               QStringLiteral("无法建立备份文件夹 %1").arg(QFileInfo(file).absolutePath()));
    ArchiveLocation target;
    target.engine = ArchiveLocation::Engine::SQLite;
    target.path = file;
    if (Status s = copyArchive(source, target, options); !s)
        return s;
    // Read-only on disk: the check below, and anyone after, can only read it.
    QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther);
    auto snapshot = Archive::open(target, Archive::Access::Read);
    if (!snapshot)
        return snapshot.status();
    if (Status whole = (*snapshot)->checkFile(); !whole)
        return whole;
    auto verified = verifyArchive(**snapshot);
    if (!verified)
        return verified.status();
    if (!verified->intact())
        return Status::failure(ErrorCode::Altered,
                               QStringLiteral("备份 %1 未通过核对：%2").arg(file, verified->firstProblem));
    return Backup{file, *verified};
}

} // namespace sf6
