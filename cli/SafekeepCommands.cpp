// archive copy | backup | backups | backup-settings | merge: the whole archive into an
// empty one, or into a new SQLite file that is then verified; the backups
// that happen by themselves, as the window makes them at its start; other
// archives brought into this one.
#include "base/Clock.h"
#include "certificate/ArchiveBackup.h"
#include "certificate/ArchiveMerge.h"
#include "certificate/BackupPlan.h"

#include <QDir>
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"

namespace cli {

namespace {

sf6::CopyOptions progressOnStderr()
{
    sf6::CopyOptions options;
    options.progress = [](const QString& table, qint64 rows) { err(QStringLiteral("复制%1：%2行").arg(sf6::tableTitle(table)).arg(rows)); };
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

int mergeCommand(const QCommandLineParser& p, const QStringList& arguments, sf6::Archive& archive)
{
    // --from A B C: the files after the first --from are the command's words.
    const QStringList files = p.values(QStringLiteral("from")) + arguments;
    if (p.values(QStringLiteral("from")).isEmpty() || files.contains(QString()))
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("archive merge 需要 --from 要合并的存档文件")));
    sf6::MergeOptions options;
    options.progress = [](const QString& file, const QString& step) { err(QStringLiteral("合并 %1：%2").arg(file, step)); };
    auto merged = sf6::mergeArchives(archive, files, options);
    if (!merged)
        return fail(merged.status());
    if (const sf6::Status s = writeOutput(kStdout, (merged->text() + u'\n').toUtf8()); !s)
        return fail(s);
    return kOk;
}

QString backupRunText(const sf6::BackupRun& run, const sf6::BackupSettings& settings)
{
    QString said;
    if (run.made)
        said += QStringLiteral("备份已写入 %1\n").arg(QDir::toNativeSeparators(run.file));
    else if (run.newest.isValid())
        said += QStringLiteral("不需要备份：最新的备份在 %1，间隔为%2天\n")
                    .arg(run.newest.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                    .arg(settings.interval.count());
    for (const QString& f : run.removed)
        said += QStringLiteral("已删除旧备份 %1\n").arg(QDir::toNativeSeparators(f));
    return said;
}

int autoBackupCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    if (p.isSet(QStringLiteral("to")))
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("--auto 备份到设置的备份文件夹，不能与 --to 同用")));
    const sf6::BackupSettings settings = sf6::loadBackupSettings();
    auto run = sf6::automaticBackup(archive.location(), settings, sf6::Clock::now(), progressOnStderr());
    if (!run)
        return fail(run.status());
    for (const QString& why : run->notRemoved)
        err(QStringLiteral("无法删除旧备份 %1").arg(why));
    if (const sf6::Status s = writeOutput(kStdout, backupRunText(*run, settings).toUtf8()); !s)
        return fail(s);
    return kOk;
}

int backupCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    if (p.isSet(QStringLiteral("auto")))
        return autoBackupCommand(p, archive);
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

int backupsCommand(const QCommandLineParser& p)
{
    const auto location = archiveLocation(p);
    if (!location)
        return fail(location.status());
    const QString folder = sf6::backupFolder(sf6::loadBackupSettings(), *location);
    QString out = QStringLiteral("时间\t大小（字节）\t记录\t文件\n");
    for (const sf6::BackupFile& f : sf6::listBackups(folder, location->path))
        out += QStringLiteral("%1\t%2\t%3\t%4\n")
                   .arg(f.madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                   .arg(f.size)
                   .arg(f.ours ? QString::number(f.records) : QStringLiteral("不是本程序的备份"))
                   .arg(QDir::toNativeSeparators(f.path));
    err(QStringLiteral("备份文件夹：%1").arg(QDir::toNativeSeparators(folder)));
    if (const sf6::Status s = writeOutput(kStdout, out.toUtf8()); !s)
        return fail(s);
    return kOk;
}

int backupSettingsCommand(const QCommandLineParser& p)
{
    const auto location = archiveLocation(p);
    if (!location)
        return fail(location.status());
    sf6::BackupSettings settings = sf6::loadBackupSettings();
    auto number = [&p](const char* name, int* into) {
        if (!p.isSet(QLatin1String(name)))
            return true;
        bool ok = false;
        *into = p.value(QLatin1String(name)).toInt(&ok);
        return ok;
    };
    int days = int(settings.interval.count());
    if (!number("interval-days", &days) || !number("keep", &settings.keep))
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("--interval-days 和 --keep 应为整数")));
    settings.interval = std::chrono::days(days);
    const bool changing = p.isSet(QStringLiteral("folder")) || p.isSet(QStringLiteral("interval-days")) || p.isSet(QStringLiteral("keep"));
    if (p.isSet(QStringLiteral("folder")))
        settings.folder = p.value(QStringLiteral("folder")).isEmpty() ? QString() : QDir(p.value(QStringLiteral("folder"))).absolutePath();
    if (changing)
        if (const sf6::Status s = sf6::saveBackupSettings(settings); !s)
            return fail(s);
    const QString said = QStringLiteral("备份文件夹\t%1\n间隔（天）\t%2\n保留份数\t%3\n")
                             .arg(QDir::toNativeSeparators(sf6::backupFolder(settings, *location)))
                             .arg(settings.interval.count())
                             .arg(settings.keep);
    if (const sf6::Status s = writeOutput(kStdout, said.toUtf8()); !s)
        return fail(s);
    return kOk;
}

} // namespace cli
