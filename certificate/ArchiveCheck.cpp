#include "certificate/ArchiveCheck.h"

#include "archive/ArchiveStore.h"
#include "archive/Schema.h"
#include "register/RelayRegister.h"

#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <map>

namespace sf6::check {

namespace {

const QString kDoing = QStringLiteral("校验存档");
const QString kCertificatePrefix = QStringLiteral("certificate ");
// The schema from which the head, the numbers and the guards of versions exist.
constexpr int kGuardedSchemaVersion = 7;

QJsonValue textOrNull(const QVariant& v) { return v.isNull() ? QJsonValue() : QJsonValue(v.toString()); }

QJsonObject objectOf(const QString& json) { return QJsonDocument::fromJson(json.toUtf8()).object(); }

QString versionKey(const QString& kind, const QString& serial, int version)
{
    return serial.isNull() ? QStringLiteral("%1 %2").arg(kind).arg(version)
                           : QStringLiteral("%1 %2 %3").arg(kind, serial).arg(version);
}

template <typename Map>
std::vector<typename Map::key_type> sortedKeys(const Map& map)
{
    std::vector<typename Map::key_type> keys(map.keyBegin(), map.keyEnd());
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace

QJsonObject labValues(const LabProfile& l)
{
    QJsonObject o{{QStringLiteral("name"), l.name},         {QStringLiteral("address"), l.address},
            {QStringLiteral("phone"), l.phone},       {QStringLiteral("accreditation"), l.accreditation},
            {QStringLiteral("prefix"), l.prefix},     {QStringLiteral("version"), l.version}};
    // Kept only where set, so that versions saved before the rule existed read as they were written.
    if (!l.decisionRule.isEmpty())
        o.insert(QStringLiteral("decisionRule"), l.decisionRule);
    if (!l.verificationAddress.isEmpty())
        o.insert(QStringLiteral("verificationAddress"), l.verificationAddress);
    return o;
}

QJsonObject standardValues(const ReferenceStandard& s)
{
    QJsonObject o{{QStringLiteral("serial"), s.serial},           {QStringLiteral("name"), s.name},
            {QStringLiteral("model"), s.model},             {QStringLiteral("certificate"), s.certificate},
            {QStringLiteral("issuer"), s.issuer},           {QStringLiteral("validUntil"), s.validUntil},
            {QStringLiteral("uncertainty"), s.uncertainty}, {QStringLiteral("version"), s.version}};
    if (!s.expandedUncertainty.isEmpty()) {
        o.insert(QStringLiteral("expandedUncertainty"), s.expandedUncertainty);
        o.insert(QStringLiteral("coverageFactor"), s.coverageFactor);
    }
    return o;
}


QString columnsProblem(const QString& number, const QSqlQuery& q, const CertificateContent& c)
{
    auto optionalId = [](const QVariant& v) { return v.isNull() ? 0 : v.toInt(); };
    const int k = kFirstColumn;
    const std::pair<QString, bool> columns[] = {
        {QStringLiteral("年份"), q.value(k).toInt() == c.year},
        {QStringLiteral("序号"), q.value(k + 1).toInt() == c.sequence},
        {QStringLiteral("继电器编号"), q.value(k + 2).toString() == c.relay.serial},
        {QStringLiteral("继电器台账版本"), q.value(k + 3).toInt() == c.relay.versionId},
        {QStringLiteral("标准器版本"), q.value(k + 4).toInt() == c.standard.versionId},
        {QStringLiteral("实验室信息版本"), q.value(k + 5).toInt() == c.lab.versionId},
        {QStringLiteral("判定"), q.value(k + 6).toInt() == c.asLeft.judgementId},
        {QStringLiteral("调整前判定"), optionalId(q.value(k + 7)) == (c.asFound ? c.asFound->judgementId : 0)},
        {QStringLiteral("结论"), q.value(k + 8).toString() == c.asLeft.verdict},
        {QStringLiteral("校验员"), q.value(k + 9).toString() == c.tester},
        {QStringLiteral("核验员"), q.value(k + 10).toString() == c.checker},
        {QStringLiteral("批准人"), q.value(k + 11).toString() == c.approver},
        {QStringLiteral("出具时间"), Archive::timestampText(q.value(k + 12)) == c.issuedAt},
        {QStringLiteral("出具人"), q.value(k + 13).toString() == c.issuedBy},
        {QStringLiteral("替代的证书"), q.value(k + 14).toString() == c.supersedes},
        {QStringLiteral("档案号"), q.value(5).toInt() == c.asLeft.recordId},
        {QStringLiteral("调整前档案号"), optionalId(q.value(6)) == (c.asFound ? c.asFound->recordId : 0)},
    };
    for (const auto& [caption, same] : columns)
        if (!same)
            return QStringLiteral("证书 %1 的「%2」一栏已被改动，与证书内容不符").arg(number, caption);
    return {};
}

void Trail::visitMerged(const AuditRow& row)
{
    const QJsonObject o = objectOf(row.newValues);
    // A block begins its archive's chain, or carries on where an earlier merge of it ended.
    auto follows = [this](const QString& previous) {
        return carriedLast_.isNull() ? previous == kNoPreviousHash || carriedSeen_.contains(previous) : previous == carriedLast_;
    };
    if (row.action == audit::kMerged) {
        if (mergedProblem_.isEmpty()
            && (!follows(o.value(QStringLiteral("lastHash")).toString())
                || (!carriedLast_.isNull() && o.value(QStringLiteral("lastHash")).toString() != carriedLast_)
                || o.value(QStringLiteral("auditRows")).toInt() != carriedRows_))
            mergedProblem_ = QStringLiteral("第%1条审计记录所记合并的审计记录与合并进来的不符").arg(row.id);
        carriedLast_ = QString();
        carriedRows_ = 0;
        return;
    }
    // The carried row as its own archive wrote it: its hash must still follow from its fields.
    AuditRow carried;
    auto textOf = [&o](const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        return v.isNull() || v.isUndefined() ? QString() : v.toString();
    };
    carried.id = o.value(QStringLiteral("id")).toInt();
    carried.at = textOf("at");
    carried.user = textOf("user");
    carried.host = textOf("host");
    carried.program = textOf("program");
    carried.action = textOf("action");
    carried.object = textOf("object");
    carried.oldValues = textOf("old");
    carried.newValues = textOf("new");
    carried.reason = textOf("reason");
    carried.previousHash = textOf("previousHash");
    carried.hash = textOf("hash");
    if (mergedProblem_.isEmpty()
        && (!follows(carried.previousHash) || auditRowHash(carried.previousHash, carried) != carried.hash))
        mergedProblem_ = QStringLiteral("第%1条审计记录（合并进来的审计记录）已被改动，与其原来的哈希值不符").arg(row.id);
    carriedLast_ = carried.hash;
    carriedSeen_.insert(carried.hash);
    ++carriedRows_;
    // Its certificates' issues and approvals count as the target's own.
    if (carried.action == audit::kCertificateIssued || carried.action == audit::kCertificateAmended
        || carried.action == audit::kCertificateApproved) {
        AuditRow as = carried;
        as.id = row.id;
        visit(as);
        const QString number = objectOf(carried.newValues).value(QStringLiteral("number")).toString();
        if (o.contains(QStringLiteral("placed")) && !placed_.contains(number) && issuedRow_.value(number) == row.id)
            placed_.insert(number, o.value(QStringLiteral("placed")).toObject());
    }
}

void Trail::placeMerged(const QString& number, CertificateContent& c) const
{
    const auto found = placed_.constFind(number);
    if (found == placed_.constEnd())
        return;
    const QJsonObject& p = *found;
    auto id = [&p](const char* key) { return p.value(QLatin1String(key)).toInt(); };
    auto version = [&p](const char* key, int& versionId, int& version) {
        const QJsonObject v = p.value(QLatin1String(key)).toObject();
        versionId = v.value(QStringLiteral("id")).toInt();
        version = v.value(QStringLiteral("version")).toInt();
    };
    c.asLeft.recordId = id("record");
    c.asLeft.judgementId = id("judgement");
    if (c.asFound) {
        c.asFound->recordId = id("asFoundRecord");
        c.asFound->judgementId = id("asFoundJudgement");
    }
    version("relayVersion", c.relay.versionId, c.relay.version);
    version("standardVersion", c.standard.versionId, c.standard.version);
    version("labVersion", c.lab.versionId, c.lab.version);
}

void Trail::visit(const AuditRow& row)
{
    if (firstAt_.isNull())
        firstAt_ = row.at;
    const QString& a = row.action;
    if (a == audit::kMergedRow || a == audit::kMerged)
        return visitMerged(row);
    if (a == audit::kCertificateIssued || a == audit::kCertificateAmended) {
        const QJsonObject o = objectOf(row.newValues);
        const QString number = o.value(QStringLiteral("number")).toString();
        if (!number.isEmpty() && !issued_.contains(number)) {
            issued_.insert(number, o.value(QStringLiteral("sha256")).toString());
            issuedRow_.insert(number, row.id);
        }
    } else if (a == audit::kCertificateApproved && row.object.startsWith(kCertificatePrefix)) {
        const QJsonObject o = objectOf(row.newValues);
        approvals_.insert(row.object.mid(kCertificatePrefix.size()),
                          {o.value(QStringLiteral("approver")).toString(), o.value(QStringLiteral("approvedAt")).toString(),
                           row.id});
    } else if (a == audit::kLabChanged) {
        QJsonObject o = objectOf(row.newValues);
        versions_.insert(versionKey(QStringLiteral("lab"), {}, o.value(QStringLiteral("version")).toInt()), o);
    } else if (a == audit::kStandardChanged || a == audit::kRelayChanged) {
        const QJsonObject o = objectOf(row.newValues);
        const QString serial = row.object.section(u' ', 1);   // "standard S", "relay R"
        versions_.insert(versionKey(row.object.section(u' ', 0, 0), serial, o.value(QStringLiteral("version")).toInt()), o);
    } else if (a == audit::kImported) {
        const QJsonObject o = objectOf(row.newValues);
        imports_.insert(o.value(QStringLiteral("sync_id")).toInt(), o.value(QStringLiteral("sha256")).toString());
    }
}

Status Checks::loadVersions()
{
    if (loaded_)
        return Status::success();
    auto labs = archive_.run(QStringLiteral("SELECT id, version, name, address, phone, accreditation, prefix, decision_rule, "
                                            "verification_address FROM lab_versions"),
                             {}, kDoing);
    if (!labs)
        return labs.status();
    while (labs->next()) {
        LabProfile l;
        l.version = labs->value(1).toInt();
        l.name = labs->value(2).toString();
        l.address = labs->value(3).toString();
        l.phone = labs->value(4).toString();
        l.accreditation = labs->value(5).toString();
        l.prefix = labs->value(6).toString();
        l.decisionRule = labs->value(7).toString();
        l.verificationAddress = labs->value(8).toString();
        labs_.insert(labs->value(0).toInt(), labValues(l));
    }
    labs->finish();
    auto standards = archive_.run(QStringLiteral("SELECT id, serial_number, version, name, model, certificate, issuer, "
                                                 "valid_until, uncertainty, expanded_uncertainty, coverage_factor FROM standard_versions"),
                                  {}, kDoing);
    if (!standards)
        return standards.status();
    while (standards->next()) {
        ReferenceStandard s;
        s.serial = standards->value(1).toString();
        s.version = standards->value(2).toInt();
        s.name = standards->value(3).toString();
        s.model = standards->value(4).toString();
        s.certificate = standards->value(5).toString();
        s.issuer = standards->value(6).toString();
        s.validUntil = standards->value(7).toString();
        s.uncertainty = standards->value(8).toString();
        s.expandedUncertainty = standards->value(9).toString();
        s.coverageFactor = standards->value(10).toString();
        standards_.insert(standards->value(0).toInt(), standardValues(s));
    }
    standards->finish();
    auto relays = archive_.run(QStringLiteral("SELECT id, serial_number, version, name, model, production_date, "
                                              "submitting_unit, range_lower, range_upper, accuracy_class, alarm_nominal, "
                                              "lock1_nominal, lock2_nominal, differential_limit, interval_months "
                                              "FROM relay_versions"),
                               {}, kDoing);
    if (!relays)
        return relays.status();
    while (relays->next()) {
        const QSqlQuery& q = *relays;
        QJsonObject o{{QStringLiteral("version"), q.value(2).toInt()},
                      {QStringLiteral("name"), q.value(3).toString()},
                      {QStringLiteral("model"), q.value(4).toString()},
                      {QStringLiteral("production_date"), q.value(5).toString()},
                      {QStringLiteral("submitting_unit"), q.value(6).toString()},
                      {QStringLiteral("range_lower"), q.value(7).toString()},
                      {QStringLiteral("range_upper"), q.value(8).toString()},
                      {QStringLiteral("accuracy_class"), q.value(9).toString()},
                      {QStringLiteral("alarm_nominal"), textOrNull(q.value(10))},
                      {QStringLiteral("lock1_nominal"), textOrNull(q.value(11))},
                      {QStringLiteral("lock2_nominal"), textOrNull(q.value(12))},
                      {QStringLiteral("differential_limit"), textOrNull(q.value(13))},
                      {QStringLiteral("interval_months"), q.value(14).toInt()}};
        relays_.insert(q.value(0).toInt(), o);
        relaySerials_.insert(q.value(0).toInt(), q.value(1).toString());
    }
    relays->finish();
    if (archive_.schemaVersion() >= kGuardedSchemaVersion) {
        auto head = archive_.run(QStringLiteral("SELECT relay_versions_before_trail FROM archive_head WHERE id = 1"), {},
                                 kDoing);
        if (!head)
            return head.status();
        if (head->next())
            relaysBeforeTrail_ = head->value(0).toInt();
    }
    loaded_ = true;
    return Status::success();
}

Expected<QString> Checks::versionsProblem(const QString& number, const CertificateContent& c)
{
    if (Status s = loadVersions(); !s)
        return s;
    struct Used {
        QString what;
        const QHash<int, QJsonObject>& table;
        int id;
        QJsonObject values;
    };
    const Used used[] = {{QStringLiteral("实验室信息"), labs_, c.lab.versionId, labValues(c.lab)},
                         {QStringLiteral("标准器"), standards_, c.standard.versionId, standardValues(c.standard)},
                         {QStringLiteral("继电器台账"), relays_, c.relay.versionId, relayAuditValues(c.relay)}};
    for (const Used& u : used) {
        const auto found = u.table.constFind(u.id);
        if (found == u.table.constEnd())
            return QStringLiteral("证书 %1 所用的%2版本已不在存档中").arg(number, u.what);
        QJsonObject stored = *found;
        // Where customers check is printed beside a certificate, never part of its content.
        if (&u.table == &labs_)
            stored.remove(QStringLiteral("verificationAddress"));
        if (stored != u.values || (&u.table == &relays_ && relaySerials_.value(u.id) != c.relay.serial))
            return QStringLiteral("证书 %1 所用的%2版本已被改动，与证书内容不符").arg(number, u.what);
    }
    return QString();
}

Expected<QString> Checks::rest()
{
    using Step = Expected<QString> (Checks::*)();
    for (const Step step : {&Checks::mergedProblem, &Checks::approvalsProblem, &Checks::numbersProblem, &Checks::versionsAgainstTrail,
                            &Checks::recordsProblem, &Checks::guardsProblem}) {
        auto problem = (this->*step)();
        if (!problem || !problem->isEmpty())
            return problem;
    }
    return QString();
}

Expected<QString> Checks::mergedProblem()
{
    if (!trail_.mergedProblem_.isEmpty())
        return trail_.mergedProblem_;
    if (trail_.carriedRows_ > 0)
        return QStringLiteral("合并进来的审计记录之后缺少记下合并的那一条审计记录");
    return QString();
}

Expected<QString> Checks::approvalsProblem()
{
    auto q = archive_.run(QStringLiteral("SELECT a.certificate_id, c.number, a.approver, CAST(a.approved_at AS TEXT) "
                                         "FROM certificate_approvals a LEFT JOIN certificates c ON c.id = a.certificate_id "
                                         "ORDER BY a.certificate_id"),
                          {}, kDoing);
    if (!q)
        return q.status();
    QSet<QString> approved;
    while (q->next()) {
        const QString number = q->value(1).toString();
        if (q->value(1).isNull())
            return QStringLiteral("批准记录所属的证书（内部编号 %1）已不在存档中").arg(q->value(0).toInt());
        const auto audited = trail_.approvals_.constFind(number);
        if (audited == trail_.approvals_.constEnd())
            return QStringLiteral("证书 %1 的批准（%2）在审计记录中没有记录").arg(number, q->value(2).toString());
        if (audited->approver != q->value(2).toString() || audited->at != Archive::timestampText(q->value(3)))
            return QStringLiteral("证书 %1 的批准已被改动，与审计记录不符").arg(number);
        approved.insert(number);
    }
    std::map<int, QString> cut;
    for (auto it = trail_.approvals_.constBegin(); it != trail_.approvals_.constEnd(); ++it)
        if (!approved.contains(it.key()))
            cut.emplace(it->row, it.key());
    if (!cut.empty())
        return QStringLiteral("证书 %1 的批准记录已被删除（第%2条审计记录记有它的批准）")
            .arg(cut.begin()->second)
            .arg(cut.begin()->first);
    return QString();
}

Expected<QString> Checks::numbersProblem()
{
    QSet<QString> numbers;
    {
        auto q = archive_.run(QStringLiteral("SELECT number FROM certificates"), {}, kDoing);
        if (!q)
            return q.status();
        while (q->next())
            numbers.insert(q->value(0).toString());
    }
    std::map<int, QString> missing;
    for (auto it = trail_.issuedRow_.constBegin(); it != trail_.issuedRow_.constEnd(); ++it)
        if (!numbers.contains(it.key()))
            missing.emplace(*it, it.key());
    if (!missing.empty())
        return QStringLiteral("证书 %1 已不在存档中（第%2条审计记录记有它的出具）")
            .arg(missing.begin()->second)
            .arg(missing.begin()->first);
    if (archive_.schemaVersion() < kGuardedSchemaVersion)
        return QString();
    auto q = archive_.run(QStringLiteral("SELECT c.year, MAX(c.sequence), MAX(n.last_sequence) FROM certificates c "
                                         "LEFT JOIN certificate_numbers n ON n.year = c.year GROUP BY c.year ORDER BY c.year"),
                          {}, kDoing);
    if (!q)
        return q.status();
    while (q->next())
        if (q->value(2).isNull() || q->value(2).toInt() < q->value(1).toInt())
            return QStringLiteral("%1年证书的末个序号的记录已被改动（证书已编到第%2号）")
                .arg(q->value(0).toInt())
                .arg(q->value(1).toInt());
    return QString();
}

Expected<QString> Checks::versionsAgainstTrail()
{
    if (Status s = loadVersions(); !s)
        return s;
    for (const int id : sortedKeys(labs_)) {
        const QJsonObject& v = labs_[id];
        const int version = v.value(QStringLiteral("version")).toInt();
        const auto audited = trail_.versions_.constFind(versionKey(QStringLiteral("lab"), {}, version));
        if (audited == trail_.versions_.constEnd())
            return QStringLiteral("实验室信息第%1版在审计记录中没有记录").arg(version);
        if (*audited != v)
            return QStringLiteral("实验室信息第%1版已被改动，与审计记录不符").arg(version);
    }
    for (const int id : sortedKeys(standards_)) {
        const QJsonObject& v = standards_[id];
        const QString serial = v.value(QStringLiteral("serial")).toString();
        const int version = v.value(QStringLiteral("version")).toInt();
        const auto audited = trail_.versions_.constFind(versionKey(QStringLiteral("standard"), serial, version));
        if (audited == trail_.versions_.constEnd())
            return QStringLiteral("标准器 %1 的第%2版在审计记录中没有记录").arg(serial).arg(version);
        if (*audited != v)
            return QStringLiteral("标准器 %1 的第%2版已被改动，与审计记录不符").arg(serial).arg(version);
    }
    for (const int id : sortedKeys(relays_)) {
        if (id <= relaysBeforeTrail_)
            continue;   // saved before the archive had a trail
        const QJsonObject& v = relays_[id];
        const QString serial = relaySerials_.value(id);
        const int version = v.value(QStringLiteral("version")).toInt();
        const auto audited = trail_.versions_.constFind(versionKey(QStringLiteral("relay"), serial, version));
        if (audited == trail_.versions_.constEnd())
            return QStringLiteral("继电器 %1 的第%2版在审计记录中没有记录").arg(serial).arg(version);
        if (*audited != v)
            return QStringLiteral("继电器 %1 的第%2版已被改动，与审计记录不符").arg(serial).arg(version);
    }
    // Each entry points at its newest version, and every entry with versions is there.
    struct Pointers {
        QString table, what;
        QHash<QString, int> newest;
    };
    Pointers pointers[] = {{QStringLiteral("relays"), QStringLiteral("继电器"), {}},
                           {QStringLiteral("standards"), QStringLiteral("标准器"), {}}};
    for (auto it = relaySerials_.constBegin(); it != relaySerials_.constEnd(); ++it)
        pointers[0].newest[*it] = std::max(pointers[0].newest.value(*it), it.key());
    for (auto it = standards_.constBegin(); it != standards_.constEnd(); ++it) {
        const QString serial = it->value(QStringLiteral("serial")).toString();
        pointers[1].newest[serial] = std::max(pointers[1].newest.value(serial), it.key());
    }
    for (Pointers& p : pointers) {
        auto q = archive_.run(QStringLiteral("SELECT serial_number, current_version FROM %1 ORDER BY serial_number").arg(p.table),
                              {}, kDoing);
        if (!q)
            return q.status();
        QSet<QString> seen;
        while (q->next()) {
            const QString serial = q->value(0).toString();
            if (p.newest.value(serial, -1) != q->value(1).toInt())
                return QStringLiteral("%1 %2 的台账没有指向它最新保存的版本").arg(p.what, serial);
            seen.insert(serial);
        }
        for (const QString& serial : sortedKeys(p.newest))
            if (!seen.contains(serial))
                return QStringLiteral("%1 %2 已从台账中被删除").arg(p.what, serial);
    }
    return QString();
}

Expected<QString> Checks::recordsProblem()
{
    // Every record's listed columns against its bytes, one pass.
    const QStringList& pressures = schema::pressureColumns();
    QSqlQuery q(archive_.database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, raw, test_time, test_order, temperature_tenths, acquisition_mode, test_count, "
                               "%1 FROM records ORDER BY id")
                    .arg(pressures.join(QStringLiteral(", ")))))
        return archive_.failure(kDoing, Archive::reason(q.lastError()));
    while (q.next()) {
        const RecordFields f = recordFields(q.value(1).toByteArray());
        const QVariant time = q.value(2);
        bool same = (time.isNull() ? !f.testTime : f.testTime && Archive::timestampText(time) == *f.testTime)
                 && q.value(3).toLongLong() == f.testOrder && q.value(4).toInt() == f.temperatureTenths
                 && q.value(5).toInt() == f.mode && q.value(6).toInt() == f.testCount;
        for (int i = 0; same && i < int(pressures.size()); ++i)
            same = q.value(7 + i).toInt() == f.pressures[i];
        if (!same)
            return QStringLiteral("记录 %1 的数据已被改动，与它的原始数据不符").arg(q.value(0).toInt());
    }
    if (q.lastError().isValid())
        return archive_.failure(kDoing, Archive::reason(q.lastError()));
    q.finish();

    // Each record came with a sync, each sync's records are there, and as many as the syncs stored.
    const std::pair<QString, QString> placed[] = {
        {QStringLiteral("SELECT s.record_id, s.sync_id FROM sync_records s LEFT JOIN records r ON r.id = s.record_id "
                        "WHERE r.id IS NULL ORDER BY s.record_id LIMIT 1"),
         QStringLiteral("记录 %1 已被删除（第%2次同步存入了它）")},
        {QStringLiteral("SELECT id, 0 FROM records EXCEPT SELECT record_id, 0 FROM sync_records ORDER BY 1 LIMIT 1"),
         QStringLiteral("记录 %1 不是由同步或导入存入的%2")},
    };
    for (const auto& [sql, text] : placed) {
        auto p = archive_.run(sql, {}, kDoing);
        if (!p)
            return p.status();
        if (p->next())
            return text.arg(p->value(0).toInt()).arg(p->value(1).toInt() == 0 ? QString() : p->value(1).toString());
    }
    auto counts = archive_.run(QStringLiteral("SELECT (SELECT COUNT(*) FROM records), "
                                              "(SELECT COALESCE(SUM(new_records), 0) FROM syncs)"),
                               {}, kDoing);
    if (!counts)
        return counts.status();
    if (counts->next() && counts->value(0).toLongLong() != counts->value(1).toLongLong())
        return QStringLiteral("存档中有%1条记录，各次同步和导入存入的是%2条：有记录被删除或被加入")
            .arg(counts->value(0).toLongLong())
            .arg(counts->value(1).toLongLong());
    counts->finish();

    // Every import since the trail began is on it, with the file's hash.
    auto imports = archive_.run(QStringLiteral("SELECT id, file_sha256, CAST(synced_at AS TEXT) FROM syncs "
                                               "WHERE file_sha256 IS NOT NULL ORDER BY id"),
                                {}, kDoing);
    if (!imports)
        return imports.status();
    while (imports->next()) {
        const int id = imports->value(0).toInt();
        if (trail_.firstAt_.isNull() || Archive::timestampText(imports->value(2)) < trail_.firstAt_)
            continue;   // before the archive had a trail
        const auto audited = trail_.imports_.constFind(id);
        if (audited == trail_.imports_.constEnd() || *audited != imports->value(1).toString())
            return QStringLiteral("第%1次同步（导入）在审计记录中没有相符的记录").arg(id);
    }
    return QString();
}

Expected<QString> Checks::guardsProblem()
{
    if (archive_.schemaVersion() < kGuardedSchemaVersion)
        return QString();
    auto missing = schema::missingGuards(archive_);
    if (!missing)
        return missing.status();
    return missing->isEmpty() ? QString() : schema::missingGuardsText(*missing);
}

} // namespace sf6::check
