#include "archive/ArchiveStore.h"

#include "archive/Audit.h"
#include "archive/Schema.h"
#include "archive/SearchText.h"
#include "sync/TestRecord.h"

#include <QDateTime>
#include <QJsonObject>
#include <QLocale>

namespace sf6 {

namespace {

const auto* bytes(const QByteArray& a) { return reinterpret_cast<const unsigned char*>(a.constData()); }

int be16(const unsigned char* p) { return (int(p[0]) << 8) | int(p[1]); }

int signedByte(unsigned char b) { return static_cast<signed char>(b); }

QVariant text(const QString& s) { return Archive::text(s); }

// The reports columns in ReportDetails order.
struct DetailColumn {
    const char* column;
    QString ReportDetails::*field;
};
const DetailColumn kDetailColumns[] = {
    {"title", &ReportDetails::title},
    {"calibrating_unit", &ReportDetails::calibratingUnit},
    {"submitting_unit", &ReportDetails::submittingUnit},
    {"test_date", &ReportDetails::testDate},
    {"print_date", &ReportDetails::printDate},
    {"relay_name", &ReportDetails::relayName},
    {"model", &ReportDetails::model},
    {"serial_number", &ReportDetails::serialNumber},
    {"production_date", &ReportDetails::productionDate},
    {"tester", &ReportDetails::tester},
    {"reviewer", &ReportDetails::reviewer},
    {"approver", &ReportDetails::approver},
};
constexpr int kLastYear = 9999;   // the last year an ISO date text can hold
// The lab's own fields of a report, which the next report starts from.
const DetailColumn kLabColumns[] = {
    {"title", &ReportDetails::title},
    {"calibrating_unit", &ReportDetails::calibratingUnit},
    {"tester", &ReportDetails::tester},
    {"reviewer", &ReportDetails::reviewer},
    {"approver", &ReportDetails::approver},
};

QString likePattern(const QString& text)
{
    QString escaped = foldedForSearch(text);
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("\\%")).replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

Expected<int> nextId(const Archive& archive, const QString& table) { return archive.nextId(table); }

// The first archived record whose list row, but for its number, is raw's.
Expected<std::optional<int>> sameListTexts(Archive& archive, QSqlQuery& alike, const QByteArray& raw,
                                           const RecordFields& f)
{
    alike.addBindValue(f.testOrder);
    alike.addBindValue(f.temperatureTenths);
    alike.addBindValue(f.testCount);
    if (!alike.exec())
        return archive.failure(QStringLiteral("写入"), Archive::reason(alike.lastError()));
    const QLocale c = QLocale::c();
    const ListRow texts = decodeRecord(bytes(raw), 0, c).mid(1);
    std::optional<int> found;
    while (!found && alike.next()) {
        const QByteArray other = alike.value(1).toByteArray();
        if (other.size() == kRecordSize && decodeRecord(bytes(other), 0, c).mid(1) == texts)
            found = alike.value(0).toInt();
    }
    alike.finish();
    return found;
}

} // namespace

RecordFields recordFields(const QByteArray& raw)
{
    RecordFields f;
    const unsigned char* r = bytes(raw);
    const int year = 2000 + signedByte(r[kRecYear]);
    const int month = signedByte(r[kRecMonth]), day = signedByte(r[kRecDay]);
    const int hour = signedByte(r[kRecHour]), minute = signedByte(r[kRecMinute]);
    const QDate date(year, month, day);
    const QTime time(hour, minute);
    if (date.isValid() && time.isValid())
        f.testTime = QDateTime(date, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // The list's own order of its time text, for valid and implausible times alike.
    f.testOrder = ((((qint64(year) * 100 + month) * 100 + day) * 100 + hour) * 100) + minute;
    f.temperatureTenths = be16(r + kRecTemperature);
    f.mode = r[kRecMode];
    f.testCount = r[kRecTestCount];
    for (int j = 0; j < kValueCount; ++j)
        f.pressures[j] = be16(r + kRecValues + 2 * j);
    return f;
}

QString archivedText(const SyncArchived& a) { return QStringLiteral("已存档%1条新记录").arg(a.newRecords); }

ListRow ArchivedRecord::row() const
{
    if (raw.size() != kRecordSize)
        return ListRow(kColumnCount);
    return decodeRecord(bytes(raw), id);
}

Expected<SyncArchived> archiveSync(Archive& archive, const SyncLog& log)
{
    for (const QByteArray& r : log.records)
        if (r.size() != kRecordSize)
            return Status::failure(QStringLiteral("记录长度不是%1字节，未存档").arg(kRecordSize));
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();

    auto nextRecord = nextId(archive, QStringLiteral("records"));
    auto nextSync = nextId(archive, QStringLiteral("syncs"));
    if (!nextRecord)
        return nextRecord.status();
    if (!nextSync)
        return nextSync.status();

    QSqlQuery find(archive.database());
    find.prepare(QStringLiteral("SELECT id FROM records WHERE raw = ?"));
    // Records that may show the same texts: the same time, temperature and
    // test count (records_by_order finds them); their texts decide.
    QSqlQuery alike(archive.database());
    alike.prepare(QStringLiteral("SELECT id, raw FROM records WHERE test_order = ? AND temperature_tenths = ? "
                                 "AND test_count = ? ORDER BY id"));
    QString columns = QStringLiteral("id, raw, test_time, test_order, temperature_tenths, acquisition_mode, test_count");
    for (const QString& c : schema::pressureColumns())
        columns += QStringLiteral(", ") + c;
    columns += QStringLiteral(", archived_at");
    const int valueCount = 7 + kValueCount + 1;
    QStringList marks;
    for (int i = 0; i < valueCount; ++i)
        marks << QStringLiteral("?");
    QSqlQuery insert(archive.database());
    insert.prepare(QStringLiteral("INSERT INTO records (%1) VALUES (%2)").arg(columns, marks.join(u',')));

    SyncArchived out;
    out.syncId = *nextSync;
    int id = *nextRecord;
    for (const QByteArray& raw : log.records) {
        find.addBindValue(raw);
        if (!find.exec())
            return archive.failure(QStringLiteral("写入"), Archive::reason(find.lastError()));
        if (find.next()) {
            out.recordIds.push_back(find.value(0).toInt());
            find.finish();
            continue;
        }
        find.finish();
        const RecordFields f = recordFields(raw);
        if (log.fromListTexts) {
            auto same = sameListTexts(archive, alike, raw, f);
            if (!same)
                return same.status();
            if (*same) {
                out.recordIds.push_back(**same);
                ++out.matchedByTexts;
                continue;
            }
        }
        insert.addBindValue(id);
        insert.addBindValue(raw);
        insert.addBindValue(f.testTime ? QVariant(*f.testTime) : QVariant(QMetaType(QMetaType::QString)));
        insert.addBindValue(f.testOrder);
        insert.addBindValue(f.temperatureTenths);
        insert.addBindValue(f.mode);
        insert.addBindValue(f.testCount);
        for (int p : f.pressures)
            insert.addBindValue(p);
        insert.addBindValue(text(log.when));
        if (!insert.exec())
            return archive.failure(QStringLiteral("写入"), Archive::reason(insert.lastError()));
        out.recordIds.push_back(id++);
        ++out.newRecords;
    }

    if (auto q = archive.run(QStringLiteral("INSERT INTO syncs (id, synced_at, program, port, record_total, "
                                            "rows_received, outcome, new_records, file_sha256, rows_refused) "
                                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                             {out.syncId, text(log.when), text(log.program), text(log.port), log.recordTotal,
                              int(log.records.size()),
                              QString::fromLatin1(syncEndName(log.end)), out.newRecords,
                              log.fileSha256.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : text(log.fileSha256),
                              log.rowsRefused},
                             QStringLiteral("写入"));
        !q)
        return q.status();
    // A file brought in is a change someone made: it goes on the audit trail.
    if (!log.fileSha256.isEmpty()) {
        const QJsonObject values{{QStringLiteral("file"), log.port},
                                 {QStringLiteral("sha256"), log.fileSha256},
                                 {QStringLiteral("sync_id"), out.syncId},
                                 {QStringLiteral("rows_read"), log.recordTotal},
                                 {QStringLiteral("rows_refused"), log.rowsRefused},
                                 {QStringLiteral("new_records"), out.newRecords},
                                 {QStringLiteral("already_archived"), int(log.records.size()) - out.newRecords}};
        if (Status s = appendAudit(archive, {audit::kImported, QStringLiteral("file %1").arg(log.port), QJsonValue(),
                                             values, {}});
            !s)
            return s;
    }
    QSqlQuery link(archive.database());
    link.prepare(QStringLiteral("INSERT INTO sync_records (sync_id, position, record_id) VALUES (?, ?, ?)"));
    for (size_t i = 0; i < out.recordIds.size(); ++i) {
        link.addBindValue(out.syncId);
        link.addBindValue(int(i) + 1);
        link.addBindValue(out.recordIds[i]);
        if (!link.exec())
            return archive.failure(QStringLiteral("写入"), Archive::reason(link.lastError()));
    }
    if (Status s = write.commit(); !s)
        return s;
    return out;
}

FilterClause filterClause(const ArchiveFilter& filter)
{
    QStringList where;
    FilterClause out;
    if (filter.from) {
        where << QStringLiteral("r.test_time >= ?");
        out.values << filter.from->toString(Qt::ISODate);
    }
    // Before the next day: the whole last day counts. After the last day a date
    // can be written in (9999-12-31) there is nothing to leave out.
    if (const QDate next = filter.to ? filter.to->addDays(1) : QDate(); next.isValid() && next.year() <= kLastYear) {
        where << QStringLiteral("r.test_time < ?");
        out.values << next.toString(Qt::ISODate);
    }
    if (!filter.text.isEmpty()) {
        // In the texts of the record's reports, or in the linked relay's current entry.
        where << QStringLiteral("(EXISTS (SELECT 1 FROM reports p WHERE p.record_id = r.id AND p.search_text LIKE ? ESCAPE '\\')"
                                " OR EXISTS (SELECT 1 FROM record_relays rl JOIN relays y ON y.serial_number = rl.serial_number"
                                " JOIN relay_versions v ON v.id = y.current_version"
                                " WHERE rl.record_id = r.id AND v.search_text LIKE ? ESCAPE '\\'))");
        out.values << likePattern(filter.text) << likePattern(filter.text);
    }
    if (!filter.ids.empty()) {
        QStringList marks;
        for (int id : filter.ids) {
            marks << QStringLiteral("?");
            out.values << id;
        }
        where << QStringLiteral("r.id IN (%1)").arg(marks.join(u','));
    }
    if (!where.isEmpty())
        out.sql = QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    return out;
}

namespace {
Expected<QSqlQuery> runFiltered(const Archive& archive, const QString& head, const ArchiveFilter& filter,
                                const QString& tail)
{
    const FilterClause clause = filterClause(filter);
    return archive.runList(head + clause.sql + tail, clause.values, QStringLiteral("查询"));
}
} // namespace

Status forEachRecord(const Archive& archive, const ArchiveFilter& filter,
                     const std::function<bool(const ArchivedRecord&)>& each)
{
    auto q = runFiltered(archive, QStringLiteral("SELECT r.id, r.archived_at, r.raw FROM records r"), filter,
                         QStringLiteral(" ORDER BY r.test_order DESC, r.id DESC"));
    if (!q)
        return q.status();
    while (q->next()) {
        if (!each({q->value(0).toInt(), Archive::timestampText(q->value(1)), q->value(2).toByteArray()}))
            return Status::success();
    }
    // A connection lost or a file gone bad part-way ends the rows early: that is no list.
    if (q->lastError().isValid())
        return archive.failure(QStringLiteral("查询"), Archive::reason(q->lastError()));
    return Status::success();
}

Expected<std::vector<ArchivedRecord>> listRecords(const Archive& archive, const ArchiveFilter& filter)
{
    std::vector<ArchivedRecord> out;
    if (Status s = forEachRecord(archive, filter, [&out](const ArchivedRecord& r) {
            out.push_back(r);
            return true;
        });
        !s)
        return s;
    return out;
}

Expected<int> countRecords(const Archive& archive, const ArchiveFilter& filter)
{
    auto q = runFiltered(archive, QStringLiteral("SELECT COUNT(*) FROM records r"), filter, {});
    if (!q)
        return q.status();
    q->next();
    return q->value(0).toInt();
}

namespace {
// One report row inside a write that is already open; its audit entry is
// added to trail, for the batch's rows to be appended together.
Status insertReport(Archive& archive, int id, const NewReport& r, const QString& source, std::vector<AuditEntry>& trail)
{
    QStringList columns{QStringLiteral("id"), QStringLiteral("record_id"), QStringLiteral("created_at"),
                        QStringLiteral("source"), QStringLiteral("judgement_id"), QStringLiteral("search_text")};
    QSqlQuery q(archive.database());
    for (const DetailColumn& c : kDetailColumns)
        columns << QLatin1String(c.column);
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    q.prepare(QStringLiteral("INSERT INTO reports (%1) VALUES (%2)").arg(columns.join(u','), marks.join(u',')));
    q.addBindValue(id);
    q.addBindValue(r.recordId);
    q.addBindValue(Archive::now());
    q.addBindValue(text(source));
    q.addBindValue(r.judgementId > 0 ? QVariant(r.judgementId) : QVariant(QMetaType(QMetaType::Int)));
    q.addBindValue(reportSearchText(r.details));
    for (const DetailColumn& c : kDetailColumns)
        q.addBindValue(text(r.details.*(c.field)));
    if (!q.exec())
        return archive.failure(QStringLiteral("保存报表"), Archive::reason(q.lastError()));
    QJsonObject values{{QStringLiteral("record_id"), r.recordId},
                       {QStringLiteral("judgement_id"), r.judgementId > 0 ? QJsonValue(r.judgementId) : QJsonValue()},
                       {QStringLiteral("source"), source}};
    for (const DetailColumn& c : kDetailColumns)
        values.insert(QLatin1String(c.column), r.details.*(c.field));
    trail.push_back({audit::kReportStored, QStringLiteral("report %1").arg(id), QJsonValue(), values, {}});
    return Status::success();
}
} // namespace

Expected<int> storeReport(Archive& archive, int recordId, const ReportDetails& details, const QString& source,
                          int judgementId)
{
    auto ids = storeReports(archive, {NewReport{recordId, details, judgementId}}, source);
    if (!ids)
        return ids.status();
    return ids->front();
}

Expected<std::vector<int>> storeReports(Archive& archive, const std::vector<NewReport>& reports, const QString& source)
{
    std::vector<int> out;
    if (reports.empty())
        return out;
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto first = nextId(archive, QStringLiteral("reports"));
    if (!first)
        return first.status();
    out.reserve(reports.size());
    std::vector<AuditEntry> trail;
    trail.reserve(reports.size());
    int id = *first;
    for (const NewReport& r : reports) {
        if (Status s = insertReport(archive, id, r, source, trail); !s)
            return s;   // the write rolls back: none of them is kept
        out.push_back(id++);
    }
    if (Status s = appendAudit(archive, trail); !s)
        return s;
    if (Status s = write.commit(); !s)
        return s;
    return out;
}

Expected<std::optional<StoredReport>> latestReport(const Archive& archive, int recordId)
{
    QStringList columns{QStringLiteral("id"), QStringLiteral("record_id"), QStringLiteral("created_at"),
                        QStringLiteral("source"), QStringLiteral("judgement_id")};
    for (const DetailColumn& c : kDetailColumns)
        columns << QLatin1String(c.column);
    auto q = archive.run(QStringLiteral("SELECT %1 FROM reports WHERE record_id = ? ORDER BY id DESC")
                             .arg(columns.join(u',')),
                         {recordId}, QStringLiteral("查询报表"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<StoredReport>();
    StoredReport r;
    r.id = q->value(0).toInt();
    r.recordId = q->value(1).toInt();
    r.createdAt = Archive::timestampText(q->value(2));
    r.source = q->value(3).toString();
    r.judgementId = q->value(4).toInt();
    int i = 5;
    for (const DetailColumn& c : kDetailColumns)
        r.details.*(c.field) = q->value(i++).toString();
    return std::optional<StoredReport>(r);
}

Expected<ReportDetails> startingDetails(const Archive& archive, const ReportDetails& defaults)
{
    QStringList columns;
    for (const DetailColumn& c : kLabColumns)
        columns << QLatin1String(c.column);
    auto q = archive.run(QStringLiteral("SELECT %1 FROM reports ORDER BY id DESC LIMIT 1").arg(columns.join(u',')), {},
                         QStringLiteral("查询报表"));
    if (!q)
        return q.status();
    ReportDetails d = defaults;
    if (q->next()) {
        int i = 0;
        for (const DetailColumn& c : kLabColumns)
            d.*(c.field) = q->value(i++).toString();
    }
    return d;
}

Expected<std::vector<SyncEntry>> listSyncs(const Archive& archive)
{
    auto q = archive.run(QStringLiteral("SELECT id, synced_at, program, port, outcome, record_total, rows_received, "
                                        "new_records, file_sha256, rows_refused FROM syncs ORDER BY id"),
                         {}, QStringLiteral("查询同步记录"));
    if (!q)
        return q.status();
    std::vector<SyncEntry> out;
    while (q->next())
        out.push_back({q->value(0).toInt(), Archive::timestampText(q->value(1)), q->value(2).toString(),
                       q->value(3).toString(), q->value(4).toString(), q->value(5).toInt(), q->value(6).toInt(),
                       q->value(7).toInt(), q->value(8).toString(), q->value(9).toInt()});
    return out;
}

Expected<std::optional<ArchivedRecord>> findRecord(const Archive& archive, int id)
{
    ArchiveFilter only;
    only.ids = {id};
    auto found = listRecords(archive, only);
    if (!found)
        return found.status();
    if (found->empty())
        return std::optional<ArchivedRecord>();
    return std::optional<ArchivedRecord>(found->front());
}

} // namespace sf6
