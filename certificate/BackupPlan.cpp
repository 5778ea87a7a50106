#include "certificate/BackupPlan.h"

#include "archive/Schema.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>

namespace sf6 {

namespace {

const QString kSettingsPath = QStringLiteral("sf6companion/backup.ini");
const QString kFolderKey = QStringLiteral("backup/folder");
const QString kIntervalKey = QStringLiteral("backup/interval_days");
const QString kKeepKey = QStringLiteral("backup/keep");
const QString kNameTimeFormat = QStringLiteral("yyyyMMdd-HHmmss");

const QRegularExpression& backupName()
{
    static const QRegularExpression re(QStringLiteral("^sf6archive-(\\d{8}-\\d{6})\\.sqlite$"));
    return re;
}

// What a backup broken off (killed, power lost) leaves beside its name: the
// copy's file written before the rename, and its journal.
const QRegularExpression& partialName()
{
    static const QRegularExpression re(QStringLiteral("^sf6archive-\\d{8}-\\d{6}\\.sqlite\\.copying-\\w{6}(-journal)?$"));
    return re;
}

// Old enough that no copy can still be writing it.
constexpr std::chrono::hours kPartialGivenUpAfter{24};

QString connectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("sf6backup-look-%1").arg(counter.fetchAndAddRelaxed(1));
}

// Read-only through SQLite: ours when it carries our application id and the
// schema's version table; its records counted.
void lookInside(BackupFile& f)
{
    const QString name = connectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(f.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            const bool ownId = q.exec(QStringLiteral("PRAGMA application_id")) && q.next()
                               && q.value(0).toLongLong() == schema::kApplicationId;
            const bool versioned = ownId && q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) && q.next()
                                   && q.value(0).toInt() >= 1;
            if (versioned && q.exec(QStringLiteral("SELECT COUNT(*) FROM records")) && q.next()) {
                f.ours = true;
                f.records = q.value(0).toLongLong();
            }
            q = QSqlQuery();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
}

// The folder made if missing and tried with a file of its own: a folder on a
// read-only medium, or one the user may not write, says so before any copy.
Status checkFolderWritable(const QString& folder)
{
    const QString shown = QDir::toNativeSeparators(folder);
    if (QFileInfo(folder).exists() && !QFileInfo(folder).isDir())
        return Status::failure(ErrorCode::TargetNotWritable, QStringLiteral("备份文件夹 %1 不是文件夹，无法在其中备份").arg(shown));
    if (!QDir().mkpath(folder))
        return Status::failure(ErrorCode::TargetNotWritable,
                               QStringLiteral("无法建立备份文件夹 %1（上级文件夹不能写入，或路径不对）").arg(shown));
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".sf6backup-probe-XXXXXX")));
    if (!probe.open())
        return Status::failure(ErrorCode::TargetNotWritable,
                               QStringLiteral("备份文件夹 %1 不能写入（没有权限或是只读介质）：%2").arg(shown, probe.errorString()));
    return Status::success();
}

} // namespace

QString backupSettingsFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(kSettingsPath);
}

BackupSettings loadBackupSettings(const QString& file)
{
    BackupSettings s;
    const QSettings stored(file, QSettings::IniFormat);
    s.folder = stored.value(kFolderKey).toString();
    bool ok = false;
    const int days = stored.value(kIntervalKey).toInt(&ok);
    if (ok && days >= 1 && days <= kMaxBackupIntervalDays)
        s.interval = std::chrono::days(days);
    const int keep = stored.value(kKeepKey).toInt(&ok);
    if (ok && keep >= 1 && keep <= kMaxBackupsKept)
        s.keep = keep;
    return s;
}

Status checkBackupSettings(const BackupSettings& s)
{
    if (s.interval.count() < 1 || s.interval.count() > kMaxBackupIntervalDays)
        return Status::failure(ErrorCode::InvalidValue,
                               QStringLiteral("备份间隔应为 1 到 %1 天").arg(kMaxBackupIntervalDays));
    if (s.keep < 1 || s.keep > kMaxBackupsKept)
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("保留的备份份数应为 1 到 %1").arg(kMaxBackupsKept));
    return Status::success();
}

Status saveBackupSettings(const BackupSettings& s, const QString& file)
{
    if (Status bad = checkBackupSettings(s); !bad)
        return bad;
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSettings stored(file, QSettings::IniFormat);
    stored.setValue(kFolderKey, s.folder);
    stored.setValue(kIntervalKey, int(s.interval.count()));
    stored.setValue(kKeepKey, s.keep);
    stored.sync();
    if (stored.status() != QSettings::NoError)
        return Status::failure(ErrorCode::OutputNotWritten,
                               QStringLiteral("无法保存备份设置到 %1").arg(QDir::toNativeSeparators(file)));
    return Status::success();
}

QString backupFolder(const BackupSettings& settings, const ArchiveLocation& source)
{
    if (!settings.folder.isEmpty())
        return QDir::cleanPath(QDir(settings.folder).absolutePath());
    return QFileInfo(defaultBackupFile(source, QDateTime())).absolutePath();
}

QString backupFileName(const QDateTime& at)
{
    return QStringLiteral("sf6archive-%1.sqlite").arg(at.toString(kNameTimeFormat));
}

std::optional<QDateTime> backupNameTime(const QString& fileName)
{
    const auto m = backupName().match(fileName);
    if (!m.hasMatch())
        return std::nullopt;
    QDateTime at = QDateTime::fromString(m.captured(1), kNameTimeFormat);
    if (!at.isValid())
        return std::nullopt;
    return at;
}

std::vector<BackupFile> listBackups(const QString& folder, const QString& except)
{
    std::vector<BackupFile> out;
    const QString skipped = except.isEmpty() ? QString() : QFileInfo(except).canonicalFilePath();
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("sf6archive-*.sqlite")}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& info : files) {
        const auto at = backupNameTime(info.fileName());
        if (!at || (!skipped.isEmpty() && info.canonicalFilePath() == skipped))
            continue;
        BackupFile f;
        f.path = info.absoluteFilePath();
        f.madeAt = *at;
        f.size = info.size();
        lookInside(f);
        out.push_back(f);
    }
    std::sort(out.begin(), out.end(), [](const BackupFile& a, const BackupFile& b) { return a.madeAt > b.madeAt; });
    return out;
}

bool backupDue(const std::vector<BackupFile>& backups, const QDateTime& now, std::chrono::days interval)
{
    const qint64 intervalSeconds = std::chrono::duration_cast<std::chrono::seconds>(interval).count();
    for (const BackupFile& f : backups)
        if (f.ours && f.madeAt <= now)
            return f.madeAt.secsTo(now) >= intervalSeconds;
    return true;
}

std::vector<BackupFile> beyondKept(const std::vector<BackupFile>& backups, int keep)
{
    std::vector<BackupFile> out;
    int kept = 0;
    for (const BackupFile& f : backups) {
        if (!f.ours)
            continue;
        if (kept < keep)
            ++kept;
        else
            out.push_back(f);
    }
    return out;
}

namespace {

void removeGivenUpPartials(const QString& folder, const QDateTime& now, BackupRun& run)
{
    const QDateTime before = now.addSecs(-std::chrono::duration_cast<std::chrono::seconds>(kPartialGivenUpAfter).count());
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("sf6archive-*.copying-*")}, QDir::Files | QDir::NoSymLinks);
    for (const QFileInfo& info : files) {
        if (!partialName().match(info.fileName()).hasMatch() || info.lastModified() >= before)
            continue;
        QFile file(info.absoluteFilePath());
        if (file.remove())
            run.removed << info.absoluteFilePath();
        else
            run.notRemoved << QStringLiteral("%1（%2）").arg(QDir::toNativeSeparators(info.absoluteFilePath()), file.errorString());
    }
}

} // namespace

Expected<BackupRun> backupIntoFolder(const ArchiveLocation& source, const BackupSettings& settings, const QDateTime& now,
                                     const CopyOptions& options)
{
    if (Status bad = checkBackupSettings(settings); !bad)
        return bad;
    const QString folder = backupFolder(settings, source);
    if (Status s = checkFolderWritable(folder); !s)
        return s;
    auto archive = Archive::open(source, Archive::Access::Read);
    if (!archive)
        return archive.status();
    BackupRun run;
    auto made = backupArchive(**archive, QDir(folder).filePath(backupFileName(now)), options);
    if (!made)
        return made.status();
    run.made = true;
    run.file = made->file;
    const QString except = source.engine == ArchiveLocation::Engine::SQLite ? source.path : QString();
    for (const BackupFile& old : beyondKept(listBackups(folder, except), settings.keep)) {
        // A backup is made read-only; Windows will not remove such a file.
        QFile::setPermissions(old.path, QFile::ReadOwner | QFile::WriteOwner);
        QFile file(old.path);
        if (file.remove())
            run.removed << old.path;
        else
            run.notRemoved << QStringLiteral("%1（%2）").arg(QDir::toNativeSeparators(old.path), file.errorString());
    }
    removeGivenUpPartials(folder, now, run);
    return run;
}

Expected<BackupRun> automaticBackup(const ArchiveLocation& source, const BackupSettings& settings, const QDateTime& now,
                                    const CopyOptions& options)
{
    const QString except = source.engine == ArchiveLocation::Engine::SQLite ? source.path : QString();
    const std::vector<BackupFile> backups = listBackups(backupFolder(settings, source), except);
    if (!backupDue(backups, now, settings.interval)) {
        BackupRun run;
        for (const BackupFile& f : backups)
            if (f.ours && f.madeAt <= now) {
                run.newest = f.madeAt;
                break;
            }
        return run;
    }
    return backupIntoFolder(source, settings, now, options);
}

} // namespace sf6
