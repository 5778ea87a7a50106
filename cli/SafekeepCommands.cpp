// archive copy | backup: the whole archive into an empty one, or into a new
// SQLite file that is then verified.
#include "base/Clock.h"
#include "certificate/ArchiveBackup.h"
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"

namespace cli {

namespace {

sf6::CopyOptions progressOnStderr()
{
    sf6::CopyOptions options;
    options.progress = [](const QString& table, qint64 rows) { err(QStringLiteral("复制 %1：%2行").arg(table).arg(rows)); };
    return options;
}

} // namespace

int copyCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    if (!p.isSet(QStringLiteral("to")) || p.value(QStringLiteral("to")).isEmpty())
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("archive copy 需要 --to 目标存档")));
    const auto target = sf6::ArchiveLocation::parse(p.value(QStringLiteral("to")));
    if (!target)
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, target.error()));
    if (const sf6::Status s = sf6::copyArchive(archive, *target, progressOnStderr()); !s)
        return fail(s);
    if (const sf6::Status s = writeOutput(kStdout, QStringLiteral("存档已复制到 %1\n").arg(target->display()).toUtf8()); !s)
        return fail(s);
    return kOk;
}

int backupCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    const QString file = p.isSet(QStringLiteral("to")) ? p.value(QStringLiteral("to"))
                                                       : sf6::defaultBackupFile(archive.location(), sf6::Clock::now());
    if (file.isEmpty())
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("archive backup 的 --to 需要一个文件名")));
    auto backup = sf6::backupArchive(archive, file, progressOnStderr());
    if (!backup)
        return fail(backup.status());
    if (const sf6::Status s = writeOutput(kStdout, QStringLiteral("备份已写入 %1（%2）\n")
                                                       .arg(backup->file, backup->verification.summary())
                                                       .toUtf8());
        !s)
        return fail(s);
    return kOk;
}

int restoreCommand(const QCommandLineParser& p)
{
    if (!p.isSet(QStringLiteral("from")) || p.value(QStringLiteral("from")).isEmpty())
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("archive restore 需要 --from 备份文件")));
    const auto target = archiveLocation(p);
    if (!target)
        return fail(target.status());
    if (target->off())
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("--no-archive：没有可恢复到的存档")));
    auto restored = sf6::restoreArchive(p.value(QStringLiteral("from")), *target, sf6::Clock::now(), progressOnStderr());
    if (!restored)
        return fail(restored.status());
    QString said;
    if (!restored->movedAside.isEmpty())
        said += QStringLiteral("原存档已移到 %1\n").arg(restored->movedAside);
    said += QStringLiteral("已从备份 %1 恢复到 %2\n").arg(p.value(QStringLiteral("from")), target->display());
    if (const sf6::Status s = writeOutput(kStdout, said.toUtf8()); !s)
        return fail(s);
    return kOk;
}

} // namespace cli
