#include "archive/Versions.h"

namespace sf6 {

Expected<VersionStamp> addVersion(Archive& archive, const NextVersion& next)
{
    auto id = archive.nextId(next.versionsTable);
    if (!id)
        return id.status();
    const VersionStamp stamp{*id, next.previousVersion + 1, Archive::now()};
    if (auto q = archive.runList(next.insert, next.values(stamp), next.doing); !q)
        return q.status();
    if (!next.entriesTable.isEmpty()) {
        const QString sql = next.previousVersion == 0
            ? QStringLiteral("INSERT INTO %1 (current_version, serial_number) VALUES (?, ?)").arg(next.entriesTable)
            : QStringLiteral("UPDATE %1 SET current_version = ? WHERE serial_number = ?").arg(next.entriesTable);
        if (auto q = archive.run(sql, {stamp.id, Archive::text(next.serial)}, next.doing); !q)
            return q.status();
    }
    if (Status s = appendAudit(archive, {next.action, next.object, next.oldValues, next.newValues(stamp.version), {}}); !s)
        return s;
    return stamp;
}

} // namespace sf6
