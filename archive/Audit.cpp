#include "archive/Audit.h"

#include "archive/Schema.h"
#include "base/Platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QSysInfo>

namespace sf6 {

namespace {

// The schema from which the archive keeps the trail's head apart.
constexpr int kHeadSchemaVersion = 7;
const QString kColumns = QStringLiteral(
    "id, at, os_user, host, program, action, object, old_values, new_values, reason, previous_hash, hash");

// Compact JSON of any value, scalars too; a null value stays NULL in the table.
QVariant jsonText(const QJsonValue& v)
{
    if (v.isNull() || v.isUndefined())
        return QVariant(QMetaType(QMetaType::QString));
    const QByteArray inArray = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(inArray.mid(1, inArray.size() - 2));
}

QJsonValue textOrNull(const QString& s) { return s.isNull() ? QJsonValue() : QJsonValue(s); }

} // namespace

QString auditRowHash(const QString& previousHash, const AuditRow& row)
{
    // A JSON array of every field: no two different rows serialise alike, and
    // NULL values stay apart from any text.
    const QJsonArray fields{previousHash,          row.id,
                            row.at,                row.user,
                            row.host,              row.program,
                            row.action,            row.object,
                            textOrNull(row.oldValues), textOrNull(row.newValues),
                            row.reason};
    const QByteArray canonical = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(canonical, QCryptographicHash::Sha256).toHex());
}

bool writesThroughServer(const Archive& archive)
{
    return archive.location().engine == ArchiveLocation::Engine::PostgreSQL
        && archive.schemaVersion() >= schema::kServerWritesVersion;
}

Status appendAudit(const Archive& archive, const AuditEntry& entry) { return appendAudit(archive, std::vector{entry}); }

Status appendAudit(const Archive& archive, const std::vector<AuditEntry>& entries)
{
    if (entries.empty())
        return Status::success();
    const QString doing = QStringLiteral("写入审计记录");
    auto last = archive.run(QStringLiteral("SELECT id, hash FROM audit ORDER BY id DESC LIMIT 1"), {}, doing);
    if (!last)
        return last.status();
    AuditRow row;
    row.previousHash = kNoPreviousHash;
    row.id = 0;
    if (last->next()) {
        row.id = last->value(0).toInt();
        row.previousHash = last->value(1).toString();
    }
    last->finish();
    // A trail that no longer ends at the head kept apart was cut: writing on
    // would hide that.
    if (archive.schemaVersion() >= kHeadSchemaVersion) {
        auto head = archive.run(QStringLiteral("SELECT audit_id, audit_hash FROM archive_head WHERE id = 1"), {}, doing);
        if (!head)
            return head.status();
        if (!head->next() || head->value(0).toInt() != row.id || head->value(1).toString() != row.previousHash)
            return archive.failure(doing, schema::kTrailCut);
    }
    if (writesThroughServer(archive)) {
        QSqlQuery append(archive.database());
        if (!append.prepare(QStringLiteral("SELECT sf6_append_audit(?, ?, ?, ?, ?, ?, ?)")))
            return archive.failure(doing, Archive::reason(append.lastError()));
        const QString host = QSysInfo::machineHostName();
        const QString program = QCoreApplication::applicationName().isEmpty() ? QStringLiteral("sf6")
                                                                                : QCoreApplication::applicationName();
        for (const AuditEntry& entry : entries) {
            for (const QVariant& v : {Archive::text(entry.action), Archive::text(entry.object), jsonText(entry.oldValues),
                                      jsonText(entry.newValues), Archive::text(entry.reason), Archive::text(host),
                                      QVariant(program)})
                append.addBindValue(v);
            if (!append.exec())
                return archive.failure(doing, append.lastError());
        }
        return Status::success();
    }
    row.user = platform::userName();
    row.host = QSysInfo::machineHostName();
    row.program = QCoreApplication::applicationName();
    if (row.program.isEmpty())
        row.program = QStringLiteral("sf6");
    // One statement prepared for the whole batch: a batch of reports costs one
    // round trip per row on a server.
    QSqlQuery insert(archive.database());
    if (!insert.prepare(QStringLiteral("INSERT INTO audit (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(kColumns)))
        return archive.failure(doing, Archive::reason(insert.lastError()));
    for (const AuditEntry& entry : entries) {
        ++row.id;
        row.at = Archive::now();
        row.action = entry.action;
        row.object = entry.object;
        const QVariant oldValues = jsonText(entry.oldValues), newValues = jsonText(entry.newValues);
        row.oldValues = oldValues.isNull() ? QString() : oldValues.toString();
        row.newValues = newValues.isNull() ? QString() : newValues.toString();
        row.reason = entry.reason.isNull() ? QStringLiteral("") : entry.reason;
        row.hash = auditRowHash(row.previousHash, row);
        for (const QVariant& v : {QVariant(row.id), QVariant(row.at), Archive::text(row.user), Archive::text(row.host),
                                  QVariant(row.program), Archive::text(row.action), Archive::text(row.object), oldValues,
                                  newValues, QVariant(row.reason), QVariant(row.previousHash), QVariant(row.hash)})
            insert.addBindValue(v);
        if (!insert.exec())
            return archive.failure(doing, Archive::reason(insert.lastError()));
        row.previousHash = row.hash;
    }
    // The head kept apart: rows cut from the end of the trail no longer reach it.
    if (archive.schemaVersion() < kHeadSchemaVersion)
        return Status::success();
    QSqlQuery head(archive.database());
    head.prepare(QStringLiteral("UPDATE archive_head SET audit_id = ?, audit_hash = ? WHERE id = 1"));
    head.addBindValue(row.id);
    head.addBindValue(row.hash);
    if (!head.exec())
        return archive.failure(doing, Archive::reason(head.lastError()));
    if (head.numRowsAffected() != 1)
        return archive.failure(doing, QStringLiteral("存档中记下审计记录末条的行已不在"));
    return Status::success();
}

Status forEachAuditRow(const Archive& archive, const std::function<bool(const AuditRow&)>& visit)
{
    // The time as its stored text, as it was hashed: read as a local date and
    // time it could shift on a PC in another time zone.
    QString columns = kColumns;
    columns.replace(QStringLiteral("id, at,"), QStringLiteral("id, CAST(at AS TEXT),"));
    auto q = archive.run(QStringLiteral("SELECT %1 FROM audit ORDER BY id").arg(columns), {},
                         QStringLiteral("读取审计记录"));
    if (!q)
        return q.status();
    auto textAt = [&](int i) { return q->value(i).isNull() ? QString() : q->value(i).toString(); };
    while (q->next()) {
        AuditRow row;
        row.id = q->value(0).toInt();
        row.at = Archive::timestampText(q->value(1));
        row.user = textAt(2);
        row.host = textAt(3);
        row.program = textAt(4);
        row.action = textAt(5);
        row.object = textAt(6);
        row.oldValues = textAt(7);
        row.newValues = textAt(8);
        row.reason = textAt(9);
        row.previousHash = textAt(10);
        row.hash = textAt(11);
        if (!visit(row))
            return Status::success();
    }
    // Rows that stop coming part-way are no whole trail.
    if (q->lastError().isValid())
        return archive.failure(QStringLiteral("读取审计记录"), q->lastError());
    return Status::success();
}

Expected<AuditCheck> verifyAuditChain(const Archive& archive, const std::function<void(const AuditRow&)>& alsoVisit)
{
    AuditCheck check;
    QString expectedPrevious = kNoPreviousHash;
    int previousId = 0;
    auto altered = [&](int id, const QString& why) {
        check.firstAltered = id;
        check.why = why;
        return false;
    };
    const Status read = forEachAuditRow(archive, [&](const AuditRow& row) {
        // Ids are consecutive from 1: a gap is a row taken out.
        if (row.id != previousId + 1)
            return altered(previousId + 1,
                           QStringLiteral("第%1条审计记录已被删除（审计记录的编号不连续）").arg(previousId + 1));
        if (auditRowHash(expectedPrevious, row) != row.hash) {
            // A row consistent in itself but not with the one before: that
            // one was changed and given a new hash.
            const bool selfConsistent = auditRowHash(row.previousHash, row) == row.hash;
            const int id = selfConsistent && previousId > 0 ? previousId : row.id;
            return altered(id, QStringLiteral("第%1条审计记录已被改动（与审计记录链的哈希值不符）").arg(id));
        }
        expectedPrevious = row.hash;
        previousId = row.id;
        ++check.rows;
        if (alsoVisit)
            alsoVisit(row);
        return true;
    });
    if (!read)
        return read;
    if (check.firstAltered || archive.schemaVersion() < kHeadSchemaVersion)
        return check;
    auto head = archive.run(QStringLiteral("SELECT audit_id, audit_hash FROM archive_head WHERE id = 1"), {},
                            QStringLiteral("读取审计记录"));
    if (!head)
        return head.status();
    if (!head->next()) {
        altered(previousId + 1, QStringLiteral("存档中记下审计记录末条的行已被删除，无法确认审计记录是否完整"));
        return check;
    }
    const int headId = head->value(0).toInt();
    const QString headHash = head->value(1).toString();
    if (headId > previousId)
        altered(previousId + 1, QStringLiteral("第%1条及以后的审计记录已被删除（存档记下的审计记录有%2条）")
                                    .arg(previousId + 1)
                                    .arg(headId));
    else if (headId < previousId)
        altered(headId + 1, QStringLiteral("第%1条及以后的审计记录不是本程序写入的（存档记下的审计记录只有%2条）")
                                .arg(headId + 1)
                                .arg(headId));
    else if (headHash != (previousId == 0 ? kNoPreviousHash : expectedPrevious))
        altered(headId, QStringLiteral("第%1条审计记录已被改动（与存档记下的末条不符）").arg(headId));
    return check;
}

} // namespace sf6
