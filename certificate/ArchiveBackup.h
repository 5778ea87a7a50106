#pragma once
// A backup: the archive copied into a new SQLite file (archive/ArchiveCopy),
// the file made read-only, then opened that way and verified as a whole.

#include "archive/ArchiveCopy.h"
#include "certificate/Certificate.h"

#include <QDateTime>

namespace sf6 {

// backups/sf6archive-YYYYMMDD-HHMMSS.sqlite beside an SQLite archive; for a
// PostgreSQL one, beside the user's own archive file.
QString defaultBackupFile(const ArchiveLocation& source, const QDateTime& at);

struct Backup {
    QString file;
    ArchiveVerification verification;   // of the file, intact
};
// Never replaces a file; a backup that fails verify is reported with the
// code Altered and stays where it is, for a look.
Expected<Backup> backupArchive(const Archive& source, const QString& file, const CopyOptions& options = {});

// A verified backup copied into the target. An SQLite archive already there
// is first renamed aside with the time (never deleted), and put back if the
// copy fails; movedAside names where it went. A backup that fails verify is
// refused with the code Altered.
struct Restore {
    QString movedAside;
};
Expected<Restore> restoreArchive(const QString& backupFile, const ArchiveLocation& target, const QDateTime& at,
                                 const CopyOptions& options = {});

} // namespace sf6
