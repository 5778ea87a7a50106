#include "archive/RecordSource.h"

namespace sf6 {

QString RecordSource::text() const
{
    return imported ? QStringLiteral("导入 %1").arg(file) : QStringLiteral("仪器同步");
}

Expected<std::optional<RecordSource>> recordSource(const Archive& archive, int recordId)
{
    // The instrument's syncs first, then the earliest import.
    auto q = archive.run(QStringLiteral("SELECT s.id, s.port, s.file_sha256 FROM sync_records r "
                                        "JOIN syncs s ON s.id = r.sync_id WHERE r.record_id = ? "
                                        "ORDER BY CASE WHEN s.file_sha256 IS NULL THEN 0 ELSE 1 END, s.id LIMIT 1"),
                         {recordId}, QStringLiteral("读取记录的来源"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<RecordSource>();
    RecordSource s;
    s.syncId = q->value(0).toInt();
    s.imported = !q->value(2).isNull();
    if (s.imported) {
        s.file = q->value(1).toString();
        s.sha256 = q->value(2).toString();
    }
    return std::optional<RecordSource>(s);
}

} // namespace sf6
