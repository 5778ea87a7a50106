#pragma once
// Backups that happen by themselves: where they go, how often, how many are
// kept; which files of the backup folder are the program's own backups (by
// their name and what is inside), whether one is due, and the removal of the
// oldest beyond the number kept. The window at its start and
// `sf6cli archive backup --auto` run the same automaticBackup().

#include "certificate/ArchiveBackup.h"

#include <QDateTime>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

namespace sf6 {

inline constexpr std::chrono::days kDefaultBackupInterval{1};
inline constexpr int kDefaultBackupsKept = 30;
inline constexpr int kMaxBackupIntervalDays = 365;
inline constexpr int kMaxBackupsKept = 1000;

struct BackupSettings {
    QString folder;   // empty: backups/ beside the archive (defaultBackupFile)
    std::chrono::days interval = kDefaultBackupInterval;
    int keep = kDefaultBackupsKept;
};

// <GenericDataLocation>/sf6companion/backup.ini: this PC's, whichever archive it uses.
QString backupSettingsFile();
// Missing or unreadable values are the defaults.
BackupSettings loadBackupSettings(const QString& file = backupSettingsFile());
// Refused with InvalidValue when out of range; OutputNotWritten when the file could not be written.
Status saveBackupSettings(const BackupSettings& settings, const QString& file = backupSettingsFile());
Status checkBackupSettings(const BackupSettings& settings);

// The folder the settings name, else backups/ beside the archive.
QString backupFolder(const BackupSettings& settings, const ArchiveLocation& source);
// sf6archive-YYYYMMDD-HHMMSS.sqlite; the time read back from such a name.
QString backupFileName(const QDateTime& at);
std::optional<QDateTime> backupNameTime(const QString& fileName);

struct BackupFile {
    QString path;
    QDateTime madeAt;      // from its name
    qint64 size = 0;
    bool ours = false;     // an archive of this program inside, not only the name
    qint64 records = -1;   // -1: not readable
};
// The files of the folder named as backups, newest first, each opened read-only
// to see what is inside. A missing folder has none. `except` (the archive in
// use, which may itself carry such a name) is never counted as a backup.
std::vector<BackupFile> listBackups(const QString& folder, const QString& except = {});

// Whether the newest of ours is older than the interval; one dated after now
// (the clock was set back) does not count.
bool backupDue(const std::vector<BackupFile>& backups, const QDateTime& now, std::chrono::days interval);
// Ours beyond the newest `keep`; never a file that is not ours.
std::vector<BackupFile> beyondKept(const std::vector<BackupFile>& backups, int keep);

struct BackupRun {
    bool made = false;        // false: none was due
    QString file;             // the backup made
    QDateTime newest;         // when none was due: the newest backup's time
    QStringList removed;      // old backups removed
    QStringList notRemoved;   // old backups that could not be removed, with the reason
};
// A backup into the folder now, then the oldest of ours beyond the number
// kept removed. Opens the archive on the calling thread (Archive::open: a
// thread of its own gets its own connection).
Expected<BackupRun> backupIntoFolder(const ArchiveLocation& source, const BackupSettings& settings, const QDateTime& now,
                                     const CopyOptions& options = {});
// The same when one is due; else nothing is opened or written.
Expected<BackupRun> automaticBackup(const ArchiveLocation& source, const BackupSettings& settings, const QDateTime& now,
                                    const CopyOptions& options = {});

} // namespace sf6
