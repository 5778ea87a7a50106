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
    const ArchiveLocation& from = source.location();
    if (from.engine == ArchiveLocation::Engine::SQLite
        && (QFileInfo(file).absoluteFilePath() == QFileInfo(from.path).absoluteFilePath()
            || (QFileInfo::exists(file) && QFileInfo(file).canonicalFilePath() == QFileInfo(from.path).canonicalFilePath())))
        return Status::failure(ErrorCode::SameArchive,
                               QStringLiteral("备份文件 %1 就是要备份的存档本身，请指定另一个文件").arg(file));
    if (QFileInfo::exists(file))
        return Status::failure(ErrorCode::TargetNotEmpty, QStringLiteral("备份文件 %1 已存在，备份不会替换已有的文件").arg(file));
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return Status::failure(ErrorCode::TargetNotWritable,
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

Expected<Restore> restoreArchive(const QString& backupFile, const ArchiveLocation& target, const QDateTime& at,
                                 const CopyOptions& options)
{
    ArchiveLocation from;
    from.engine = ArchiveLocation::Engine::SQLite;
    from.path = backupFile;
    if (!QFileInfo::exists(backupFile))
        return Status::failure(ErrorCode::NotFound, QStringLiteral("备份文件 %1 不存在").arg(backupFile));
    auto backup = Archive::open(from, Archive::Access::Read);
    if (!backup)
        return backup.status();
    if (Status whole = (*backup)->checkFile(); !whole)
        return whole;
    auto verified = verifyArchive(**backup);
    if (!verified)
        return verified.status();
    if (!verified->intact())
        return Status::failure(ErrorCode::Altered,
                               QStringLiteral("备份 %1 未通过核对，不能用来恢复：%2").arg(backupFile, verified->firstProblem));
    Restore restore;
    // The write-ahead log goes with its file: without it the moved archive would lack its last commits.
    const QStringList suffixes{QString(), QStringLiteral("-wal"), QStringLiteral("-shm")};
    if (target.engine == ArchiveLocation::Engine::SQLite && QFileInfo::exists(target.path)) {
        const QString aside = target.path + QStringLiteral(".before-restore-") + at.toString(QStringLiteral("yyyyMMdd-HHmmss"));
        for (const QString& s : suffixes)
            if (QFileInfo::exists(aside + s))
                return Status::failure(ErrorCode::TargetNotEmpty, QStringLiteral("%1 已存在，恢复不会替换它").arg(aside + s));
        for (const QString& s : suffixes)
            if (QFileInfo::exists(target.path + s) && !QFile::rename(target.path + s, aside + s))
                return Status::failure(ErrorCode::OutputNotWritten,
                                       QStringLiteral("无法把存档 %1 改名为 %2（也许另一个程序正在使用它）").arg(target.path + s, aside + s));
        restore.movedAside = aside;
    }
    if (Status s = copyArchive(**backup, target, options); !s) {
        if (!restore.movedAside.isEmpty())
            for (const QString& suffix : suffixes)
                if (QFileInfo::exists(restore.movedAside + suffix))
                    QFile::rename(restore.movedAside + suffix, target.path + suffix);
        return s;
    }
    return restore;
}

} // namespace sf6
