#include "register/RelayRegister.h"

#include "register/DecisionRuleStore.h"

#include "archive/Audit.h"
#include "archive/SearchText.h"
#include "archive/Versions.h"

#include <QJsonObject>
#include <QSqlQuery>

namespace sf6 {

namespace {

const QString kVersionColumns = QStringLiteral(
    "id, serial_number, version, changed_at, name, model, production_date, submitting_unit, range_lower, "
    "range_upper, accuracy_class, alarm_nominal, lock1_nominal, lock2_nominal, differential_limit, interval_months");

// The same columns, named through the alias v of relay_versions in a join.
QString selectedVersionColumns()
{
    QStringList cols = kVersionColumns.split(QStringLiteral(", "));
    for (QString& c : cols)
        c.prepend(QStringLiteral("v."));
    return cols.join(QStringLiteral(", "));
}

QVariant text(const QString& s) { return Archive::text(s); }
QVariant optionalText(const std::optional<Decimal>& d)
{
    return d ? QVariant(d->text()) : QVariant(QMetaType(QMetaType::QString));
}
std::optional<Decimal> optionalDecimal(const QVariant& v)
{
    return v.isNull() || v.toString().isEmpty() ? std::nullopt : Decimal::parseExact(v.toString());
}

RelayEntry entryOf(const QSqlQuery& q)
{
    RelayEntry e;
    e.versionId = q.value(0).toInt();
    e.serial = q.value(1).toString();
    e.version = q.value(2).toInt();
    e.changedAt = Archive::timestampText(q.value(3));
    e.name = q.value(4).toString();
    e.model = q.value(5).toString();
    e.made = q.value(6).toString();
    e.client = q.value(7).toString();
    e.lower = Decimal::parseExact(q.value(8).toString()).value_or(e.lower);
    e.upper = Decimal::parseExact(q.value(9).toString()).value_or(e.upper);
    if (const auto c = Decimal::parse(q.value(10).toString()))
        e.classTenths = int(c->nano() / (Decimal::kScale / 10));
    e.alarm = optionalDecimal(q.value(11));
    e.lock1 = optionalDecimal(q.value(12));
    e.lock2 = optionalDecimal(q.value(13));
    e.diffLimit = optionalDecimal(q.value(14));
    e.intervalMonths = q.value(15).toInt();
    return e;
}

Expected<std::vector<RelayEntry>> entries(const Archive& archive, const QString& where, std::initializer_list<QVariant> v)
{
    auto q = archive.run(QStringLiteral("SELECT %1 FROM relay_versions v %2").arg(selectedVersionColumns(), where), v,
                         QStringLiteral("读取继电器台账"));
    if (!q)
        return q.status();
    std::vector<RelayEntry> out;
    while (q->next())
        out.push_back(entryOf(*q));
    return out;
}

Expected<int> nextId(const Archive& archive, const QString& table) { return archive.nextId(table); }

QJsonValue optionalJson(const std::optional<Decimal>& d) { return d ? QJsonValue(d->text()) : QJsonValue(); }


QString relayObject(const QString& serial) { return QStringLiteral("relay ") + serial; }
QString recordObject(int recordId) { return QStringLiteral("record %1").arg(recordId); }

// Inside a write: the next version of the entry, the register pointing at it,
// and the change on the audit trail.
Expected<RelayEntry> insertVersion(Archive& archive, RelayEntry e, const QString& source,
                                   const std::optional<RelayEntry>& previous)
{
    NextVersion next;
    next.versionsTable = QStringLiteral("relay_versions");
    next.insert = QStringLiteral("INSERT INTO relay_versions (%1, source, search_text) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(kVersionColumns);
    next.values = [&](const VersionStamp& v) {
        return QVariantList{v.id, text(e.serial), v.version, v.changedAt, text(e.name), text(e.model), text(e.made),
                            text(e.client), e.lower.text(), e.upper.text(), e.classText(), optionalText(e.alarm),
                            optionalText(e.lock1), optionalText(e.lock2), optionalText(e.diffLimit), e.intervalMonths,
                            text(source), relaySearchText(e.serial, e.name, e.model, e.client)};
    };
    next.previousVersion = previous ? previous->version : 0;
    next.entriesTable = QStringLiteral("relays");
    next.serial = e.serial;
    next.action = audit::kRelayChanged;
    next.object = relayObject(e.serial);
    next.oldValues = previous ? QJsonValue(relayAuditValues(*previous)) : QJsonValue();
    next.newValues = [&e](int version) {
        RelayEntry after = e;
        after.version = version;
        return relayAuditValues(after);
    };
    next.doing = QStringLiteral("保存继电器台账");
    const auto stamp = addVersion(archive, next);
    if (!stamp)
        return stamp.status();
    stampEntry(e, *stamp);
    return e;
}

Expected<std::optional<RelayEntry>> findRelayLocked(const Archive& archive, const QString& serial)
{
    auto found = entries(archive,
                         QStringLiteral("JOIN relays r ON r.current_version = v.id WHERE r.serial_number = ?"),
                         {text(serial)});
    if (!found)
        return found.status();
    if (found->empty())
        return std::optional<RelayEntry>();
    return std::optional<RelayEntry>(found->front());
}

Expected<std::optional<StoredJudgement>> judgementWhere(const Archive& archive, const QString& where,
                                                        std::initializer_list<QVariant> values)
{
    auto q = archive.run(QStringLiteral("SELECT id, record_id, relay_version_id, made_at, items FROM judgements ")
                             + where + QStringLiteral(" ORDER BY id DESC"),
                         values, QStringLiteral("读取判定"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<StoredJudgement>();
    StoredJudgement s;
    s.id = q->value(0).toInt();
    s.recordId = q->value(1).toInt();
    s.relayVersionId = q->value(2).toInt();
    s.madeAt = Archive::timestampText(q->value(3));
    const auto j = judgementFromJson(q->value(4).toString().toUtf8());
    if (!j)
        return archive.failure(QStringLiteral("读取判定"), QStringLiteral("判定%1的内容无法读取").arg(s.id), ErrorCode::ArchiveDamaged);
    s.judgement = *j;
    auto version = relayVersion(archive, s.relayVersionId);
    if (!version)
        return version.status();
    s.judgement.relay = *version;   // the names and values it used, as they were then
    return std::optional<StoredJudgement>(s);
}

} // namespace

QJsonObject relayAuditValues(const RelayEntry& e)
{
    return {{QStringLiteral("version"), e.version},
            {QStringLiteral("name"), e.name},
            {QStringLiteral("model"), e.model},
            {QStringLiteral("production_date"), e.made},
            {QStringLiteral("submitting_unit"), e.client},
            {QStringLiteral("range_lower"), e.lower.text()},
            {QStringLiteral("range_upper"), e.upper.text()},
            {QStringLiteral("accuracy_class"), e.classText()},
            {QStringLiteral("alarm_nominal"), optionalJson(e.alarm)},
            {QStringLiteral("lock1_nominal"), optionalJson(e.lock1)},
            {QStringLiteral("lock2_nominal"), optionalJson(e.lock2)},
            {QStringLiteral("differential_limit"), optionalJson(e.diffLimit)},
            {QStringLiteral("interval_months"), e.intervalMonths}};
}

Expected<std::optional<RelayEntry>> findRelay(const Archive& archive, const QString& serial)
{
    return findRelayLocked(archive, serial);
}

Expected<RelayEntry> relayVersion(const Archive& archive, int versionId)
{
    auto found = entries(archive, QStringLiteral("WHERE v.id = ?"), {versionId});
    if (!found)
        return found.status();
    if (found->empty())
        return archive.failure(QStringLiteral("读取继电器台账"), QStringLiteral("没有版本%1").arg(versionId), ErrorCode::ArchiveDamaged);
    return found->front();
}

Expected<std::vector<RelayEntry>> relayHistory(const Archive& archive, const QString& serial)
{
    return entries(archive, QStringLiteral("WHERE v.serial_number = ? ORDER BY v.version"), {text(serial)});
}

Expected<std::vector<RelayEntry>> listRelays(const Archive& archive)
{
    return entries(archive, QStringLiteral("JOIN relays r ON r.current_version = v.id ORDER BY v.serial_number"), {});
}

Expected<RelayEntry> saveRelay(Archive& archive, const RelayEntry& entry, const QString& source)
{
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto current = findRelayLocked(archive, entry.serial);
    if (!current)
        return current.status();
    if (*current && (*current)->sameValues(entry))
        return **current;   // nothing changed: no new version
    auto saved = insertVersion(archive, entry, source, *current);
    if (!saved)
        return saved;
    if (Status s = write.commit(); !s)
        return s;
    notifyRegisterChanged();
    return saved;
}

Expected<RelayEdit> editRelay(Archive& archive, const QString& serial, const RelayTexts& texts, const QString& source)
{
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    // Read under the writers' lock: an edit that waited sees what the one before it stored.
    auto current = findRelayLocked(archive, serial.trimmed());
    if (!current)
        return current.status();
    RelayTexts t = texts;
    t.serial = serial;
    const auto entry = applyRelayTexts(*current ? **current : RelayEntry{}, t);
    RelayEdit out;
    if (!entry) {
        out.refused = entry.status();
        return out;
    }
    if (*current && (*current)->sameValues(*entry)) {
        out.saved = **current;   // nothing changed: no new version
        return out;
    }
    auto saved = insertVersion(archive, *entry, source, *current);
    if (!saved)
        return saved.status();
    if (Status s = write.commit(); !s)
        return s;
    notifyRegisterChanged();
    out.saved = *saved;
    return out;
}

namespace {

// Inside a write: the link of one record changed, and the change noted.
Status noteLinkChange(Archive& archive, int recordId, const QString& serial, bool linked, const QString& source)
{
    auto id = nextId(archive, QStringLiteral("link_changes"));
    if (!id)
        return id.status();
    auto q = archive.run(QStringLiteral("INSERT INTO link_changes (id, record_id, serial_number, linked, changed_at, source) "
                                        "VALUES (?, ?, ?, ?, ?, ?)"),
                         {*id, recordId, text(serial), linked ? 1 : 0, Archive::now(), text(source)},
                         QStringLiteral("关联继电器"));
    if (!q)
        return q.status();
    const QJsonValue relay = QJsonObject{{QStringLiteral("relay"), serial}};
    return linked ? appendAudit(archive, {audit::kLinked, recordObject(recordId), QJsonValue(), relay, {}})
                  : appendAudit(archive, {audit::kUnlinked, recordObject(recordId), relay, QJsonValue(), {}});
}

Expected<std::optional<QString>> linkedSerialLocked(const Archive& archive, int recordId)
{
    auto q = archive.run(QStringLiteral("SELECT serial_number FROM record_relays WHERE record_id = ?"), {recordId},
                         QStringLiteral("读取关联"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<QString>();
    return std::optional<QString>(q->value(0).toString());
}

Status recordExists(const Archive& archive, int recordId)
{
    auto record = findRecord(archive, recordId);
    if (!record)
        return record.status();
    if (!*record)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("存档中没有档案号为 %1 的记录").arg(recordId));
    return Status::success();
}

// Inside a write: the record's link to serial removed, and the change noted.
Status unlinkLocked(Archive& archive, int recordId, const QString& serial, const QString& source, const QString& doing)
{
    if (auto q = archive.run(QStringLiteral("DELETE FROM record_relays WHERE record_id = ?"), {recordId}, doing); !q)
        return q.status();
    return noteLinkChange(archive, recordId, serial, false, source);
}

// Inside a write.
Status linkLocked(Archive& archive, int recordId, const QString& serial, const QString& source)
{
    auto current = linkedSerialLocked(archive, recordId);
    if (!current)
        return current.status();
    if (*current == serial)
        return Status::success();   // linked already: nothing changes
    if (*current)
        if (Status s = unlinkLocked(archive, recordId, **current, source, QStringLiteral("关联继电器")); !s)
            return s;
    if (auto q = archive.run(QStringLiteral("INSERT INTO record_relays (record_id, serial_number, linked_at) VALUES (?, ?, ?)"),
                             {recordId, text(serial), Archive::now()}, QStringLiteral("关联继电器"));
        !q)
        return q.status();
    return noteLinkChange(archive, recordId, serial, true, source);
}

} // namespace

Status linkRecord(Archive& archive, int recordId, const QString& serial, const QString& source)
{
    return linkRecords(archive, {recordId}, serial, source);
}

Status linkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& serial, const QString& source)
{
    auto relay = findRelay(archive, serial);
    if (!relay)
        return relay.status();
    if (!*relay)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("继电器台账中没有编号为 %1 的继电器").arg(serial));
    for (int id : recordIds)
        if (Status s = recordExists(archive, id); !s)
            return s;
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    for (int id : recordIds)
        if (Status s = linkLocked(archive, id, serial, source); !s)
            return s;
    if (Status s = write.commit(); !s)
        return s;
    notifyRegisterChanged();
    return Status::success();
}

Expected<int> unlinkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& source)
{
    for (int id : recordIds)
        if (Status s = recordExists(archive, id); !s)
            return s;
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    int unlinked = 0;
    for (int id : recordIds) {
        auto current = linkedSerialLocked(archive, id);
        if (!current)
            return current.status();
        if (!*current)
            continue;
        if (Status s = unlinkLocked(archive, id, **current, source, QStringLiteral("取消关联")); !s)
            return s;
        ++unlinked;
    }
    if (Status s = write.commit(); !s)
        return s;
    if (unlinked > 0)
        notifyRegisterChanged();
    return unlinked;
}

Expected<std::vector<LinkChange>> linkChanges(const Archive& archive, const QString& serial)
{
    auto q = archive.run(QStringLiteral("SELECT record_id, serial_number, linked, changed_at, source FROM link_changes "
                                        "WHERE serial_number = ? ORDER BY id"),
                         {text(serial)}, QStringLiteral("读取关联"));
    if (!q)
        return q.status();
    std::vector<LinkChange> out;
    while (q->next())
        out.push_back({q->value(0).toInt(), q->value(1).toString(), q->value(2).toInt() != 0,
                       Archive::timestampText(q->value(3)), q->value(4).toString()});
    return out;
}

Expected<std::optional<QString>> linkedSerial(const Archive& archive, int recordId)
{
    return linkedSerialLocked(archive, recordId);
}

Expected<std::optional<RelayEntry>> applyReport(Archive& archive, int recordId, const ReportDetails& d,
                                                const QString& source, const ReportRelay& how)
{
    const QString serial = d.serialNumber.trimmed();
    if (serial.isEmpty())
        return std::optional<RelayEntry>();
    std::optional<QString> linked;
    if (recordId > 0) {
        auto l = linkedSerial(archive, recordId);
        if (!l)
            return l.status();
        linked = *l;
    }
    // A record keeps its relay unless the user agreed to move it; an unlinked
    // one takes only a relay the user named.
    if (linked ? *linked != serial && !how.moveLink : !how.serialChosen)
        return std::optional<RelayEntry>();
    RelayTexts t;
    t.name = d.relayName;
    t.model = d.model;
    t.made = d.productionDate;
    t.client = d.submittingUnit;
    auto edit = editRelay(archive, serial, t, source);
    if (!edit)
        return edit.status();
    if (!edit->refused)
        return edit->refused;
    const std::optional<RelayEntry>& saved = edit->saved;
    if (recordId > 0 && linked != serial)
        if (Status s = linkRecord(archive, recordId, serial, source); !s)
            return s;
    return std::optional<RelayEntry>(*saved);
}

Expected<std::optional<StoredJudgement>> findJudgement(const Archive& archive, int judgementId)
{
    return judgementWhere(archive, QStringLiteral("WHERE id = ?"), {judgementId});
}

Expected<std::vector<StoredJudgement>> judgementsOf(const Archive& archive, int recordId)
{
    auto ids = archive.run(QStringLiteral("SELECT id FROM judgements WHERE record_id = ? ORDER BY id"), {recordId},
                           QStringLiteral("读取判定"));
    if (!ids)
        return ids.status();
    std::vector<int> all;
    while (ids->next())
        all.push_back(ids->value(0).toInt());
    std::vector<StoredJudgement> out;
    for (int id : all) {
        auto j = findJudgement(archive, id);
        if (!j)
            return j.status();
        out.push_back(**j);
    }
    return out;
}

Status insertJudgement(const Archive& archive, const StoredJudgement& s)
{
    const DecisionRule& rule = s.judgement.rule;
    const QVariant none(QMetaType(QMetaType::QString));
    auto q = archive.run(QStringLiteral("INSERT INTO judgements (id, record_id, relay_version_id, made_at, verdict, items, "
                                        "decision_rule, expanded_uncertainty, coverage_factor) "
                                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                         {s.id, s.recordId, s.relayVersionId, s.madeAt, s.judgement.verdict(),
                          QString::fromUtf8(judgementJson(s.recordId, s.judgement)),
                          QString::fromLatin1(ruleKey(rule.kind)), rule.guardBand() ? QVariant(rule.expanded.text()) : none,
                          rule.guardBand() ? QVariant(rule.coverage.text()) : none},
                         QStringLiteral("保存判定"));
    return q ? Status::success() : q.status();
}

Expected<JudgeOutcome> judgeRecord(Archive& archive, int recordId, bool store, const QString& standardSerial)
{
    auto serial = linkedSerial(archive, recordId);
    if (!serial)
        return serial.status();
    if (*serial)
        return judgeRecordWith(archive, recordId, **serial, store, standardSerial);
    // Not linked: say whether the record is there at all.
    auto record = findRecord(archive, recordId);
    if (!record)
        return record.status();
    JudgeOutcome out;
    out.whyNot = *record ? QStringLiteral("记录 %1 没有关联继电器").arg(recordId)
                         : QStringLiteral("存档中没有档案号为 %1 的记录").arg(recordId);
    return out;
}

Expected<JudgeOutcome> judgeRecordWith(Archive& archive, int recordId, const QString& serial, bool store,
                                       const QString& standardSerial)
{
    JudgeOutcome out;
    auto record = findRecord(archive, recordId);
    if (!record)
        return record.status();
    if (!*record) {
        out.whyNot = QStringLiteral("存档中没有档案号为 %1 的记录").arg(recordId);
        return out;
    }
    auto relay = findRelay(archive, serial);
    if (!relay)
        return relay.status();
    if (!*relay) {
        out.whyNot = QStringLiteral("继电器台账中没有编号为 %1 的继电器").arg(serial);
        return out;
    }
    if (!(*relay)->judgeable()) {
        out.whyNot = QStringLiteral("继电器 %1 没有设定值，不作判定").arg(serial);
        return out;
    }
    auto rule = decisionRuleFor(archive, standardSerial);
    if (!rule) {
        out.whyNot = rule.error();
        return out;
    }
    // The same values judged before under the same rule: that judgement stands.
    // A judgement made before rules were kept was made with the simple rule.
    auto earlier = judgementWhere(
        archive,
        QStringLiteral("WHERE record_id = ? AND relay_version_id = ? AND COALESCE(decision_rule, 'simple') = ? "
                       "AND COALESCE(expanded_uncertainty, '') = ? AND COALESCE(coverage_factor, '') = ?"),
        {recordId, (*relay)->versionId, QString::fromLatin1(ruleKey(rule->kind)),
         // An empty text, never a null one: NULL would compare as unknown.
         rule->guardBand() ? rule->expanded.text() : QStringLiteral(""),
         rule->guardBand() ? rule->coverage.text() : QStringLiteral("")});
    if (!earlier)
        return earlier.status();
    if (*earlier) {
        out.judgement = *earlier;
        return out;
    }
    const std::optional<Judgement> j = judge((*record)->row(), **relay, *rule);
    if (!j) {
        out.whyNot = QStringLiteral("记录 %1 的读数无法判定").arg(recordId);
        return out;
    }
    if (!store) {
        out.judgement = StoredJudgement{0, recordId, (*relay)->versionId, Archive::now(), *j};
        return out;
    }
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto id = nextId(archive, QStringLiteral("judgements"));
    if (!id)
        return id.status();
    StoredJudgement s{*id, recordId, (*relay)->versionId, Archive::now(), *j};
    if (Status q = insertJudgement(archive, s); !q)
        return q;
    if (Status c = write.commit(); !c)
        return c;
    notifyRegisterChanged();   // a new verdict to show
    out.judgement = s;
    return out;
}

Expected<std::vector<RelayStatus>> relayStatuses(const Archive& archive, const QDate& today)
{
    auto relays = listRelays(archive);
    if (!relays)
        return relays.status();
    std::vector<RelayStatus> out;
    for (const RelayEntry& e : *relays) {
        RelayStatus s;
        s.entry = e;
        auto q = archive.run(QStringLiteral("SELECT r.id, r.test_time FROM record_relays l JOIN records r ON r.id = l.record_id "
                                            "WHERE l.serial_number = ? AND r.test_time IS NOT NULL "
                                            "ORDER BY r.test_time DESC, r.id DESC"),
                             {text(e.serial)}, QStringLiteral("读取继电器台账"));
        if (!q)
            return q.status();
        while (q->next()) {
            const QDate tested = QDate::fromString(Archive::timestampText(q->value(1)).left(10), Qt::ISODate);
            if (tested > today) {
                s.skipped.push_back({q->value(0).toInt(), tested});
                continue;
            }
            s.lastRecordId = q->value(0).toInt();
            s.lastTest = tested;
            s.nextDue = s.lastTest->addMonths(e.intervalMonths);
            s.overdue = *s.nextDue < today;
            s.dueSoon = !s.overdue && *s.nextDue <= today.addDays(kDueSoonDays);
            // The verdict as found where one was made; else what the entry says now.
            auto stored = judgementWhere(archive,
                                         QStringLiteral("WHERE record_id = ? AND relay_version_id IN "
                                                        "(SELECT id FROM relay_versions WHERE serial_number = ?)"),
                                         {s.lastRecordId, text(e.serial)});
            if (!stored)
                return stored.status();
            if (*stored) {
                s.lastVerdict = (*stored)->judgement.verdict();
            } else if (auto record = findRecord(archive, s.lastRecordId); record && *record) {
                if (const auto j = judge((*record)->row(), e))
                    s.lastVerdict = j->verdict();
            }
            break;
        }
        out.push_back(s);
    }
    return out;
}

QString skippedRecordsNote(const RelayStatus& status)
{
    QStringList records;
    for (const auto& [id, date] : status.skipped)
        records << QStringLiteral("记录 %1 的测试日期 %2").arg(id).arg(date.toString(Qt::ISODate));
    if (records.isEmpty())
        return {};
    return QStringLiteral("继电器 %1：%2 晚于今天，未用于计算到期日")
        .arg(status.entry.serial, records.join(QStringLiteral("、")));
}

QString stateText(const RelayStatus& s)
{
    if (!s.lastTest)
        return QStringLiteral("未校验");
    return s.overdue ? QStringLiteral("已过期") : s.dueSoon ? QStringLiteral("30天内到期") : QString();
}

Expected<TrendData> trendOf(const Archive& archive, const QString& serial)
{
    auto relay = findRelay(archive, serial);
    if (!relay)
        return relay.status();
    if (!*relay)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("继电器台账中没有编号为 %1 的继电器").arg(serial));
    TrendData t;
    t.entry = **relay;
    auto q = archive.run(QStringLiteral("SELECT r.id, r.test_time, r.p20_alarm_mean, r.p20_lock1_mean, r.p20_lock2_mean, r.raw "
                                        "FROM record_relays l JOIN records r ON r.id = l.record_id "
                                        "WHERE l.serial_number = ? AND r.test_time IS NOT NULL ORDER BY r.test_time, r.id"),
                         {text(serial)}, QStringLiteral("读取趋势"));
    if (!q)
        return q.status();
    while (q->next()) {
        TrendPoint p;
        p.recordId = q->value(0).toInt();
        p.when = QDateTime::fromString(Archive::timestampText(q->value(1)), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        p.alarm = Decimal::fromThousandths(q->value(2).toInt());
        p.lock1 = Decimal::fromThousandths(q->value(3).toInt());
        p.lock2 = Decimal::fromThousandths(q->value(4).toInt());
        if (const auto j = judge(ArchivedRecord{p.recordId, {}, q->value(5).toByteArray()}.row(), t.entry))
            for (const JudgementItem& item : j->items)
                if (!item.pass())
                    (item.contact == Contact::Alarm ? p.alarmFails
                     : item.contact == Contact::Lock1 ? p.lock1Fails
                                                      : p.lock2Fails) = true;
        t.points.push_back(p);
    }
    return t;
}

} // namespace sf6
