#include "certificate/ArchiveMerge.h"

#include "archive/Audit.h"
#include "archive/Schema.h"
#include "archive/Versions.h"
#include "certificate/ArchiveCheck.h"
#include "certificate/Certificate.h"
#include "certificate/People.h"
#include "register/RelayRegister.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QSqlRecord>

#include <algorithm>
#include <map>
#include <memory>

namespace sf6 {

namespace {

const QString kDoing = QStringLiteral("合并存档");

// A table's rows as read, columns by name.
struct Table {
    QStringList columns;
    std::vector<QVariantList> rows;
    int at(const QString& column) const { return int(columns.indexOf(column)); }
};

Expected<Table> readTable(const Archive& archive, const QString& sql, const QVariantList& values = {})
{
    auto q = archive.runList(sql, values, QStringLiteral("读取存档"));
    if (!q)
        return q.status();
    Table t;
    const QSqlRecord record = q->record();
    for (int i = 0; i < record.count(); ++i)
        t.columns << record.fieldName(i).toLower();
    while (q->next()) {
        QVariantList row;
        for (int i = 0; i < record.count(); ++i)
            row << q->value(i);
        t.rows.push_back(std::move(row));
    }
    if (q->lastError().isValid())
        return archive.failure(QStringLiteral("读取存档"), q->lastError());
    return t;
}

// A value as both engines give it back, so that rows of either compare.
QString comparable(const QVariant& v)
{
    if (v.isNull())
        return QStringLiteral("\x01");
    if (v.typeId() == QMetaType::QDateTime)
        return Archive::timestampText(v);
    return v.toString();
}

bool sameExcept(const Table& a, const QVariantList& rowA, const Table& b, const QVariantList& rowB, const QStringList& skip)
{
    for (int i = 0; i < int(a.columns.size()); ++i) {
        if (skip.contains(a.columns[i]))
            continue;
        const int j = b.at(a.columns[i]);
        if (j < 0 || comparable(rowA[i]) != comparable(rowB[j]))
            return false;
    }
    return true;
}

QString placeholders(qsizetype n)
{
    QStringList marks;
    for (qsizetype i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(u',');
}

// Rows written into the target, one prepared statement a table: a server
// would otherwise prepare and drop one for every row.
class Writer {
public:
    explicit Writer(Archive& target) : target_(target) {}
    Status insert(const QString& table, const QStringList& columns, const QVariantList& values)
    {
        auto found = prepared_.find(table);
        if (found == prepared_.end()) {
            QSqlQuery q(target_.database());
            if (!q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                               .arg(table, columns.join(u','), placeholders(columns.size()))))
                return target_.failure(QStringLiteral("写入 %1").arg(table), q.lastError());
            found = prepared_.emplace(table, std::move(q)).first;
        }
        QSqlQuery& q = found->second;
        for (int i = 0; i < int(values.size()); ++i)
            q.bindValue(i, values[i]);
        if (!q.exec())
            return target_.failure(QStringLiteral("写入 %1").arg(table), q.lastError());
        return Status::success();
    }

private:
    Archive& target_;
    std::map<QString, QSqlQuery> prepared_;
};

struct Placed {
    int id = 0, version = 0;
};

QJsonValue idOrNull(const QHash<int, int>& map, const QVariant& source)
{
    return source.isNull() ? QJsonValue() : QJsonValue(map.value(source.toInt()));
}

// One source file merged inside the target's write.
class FileMerge {
public:
    FileMerge(Archive& target, const Archive& source, const QString& file, MergeSummary& total, int& step,
              const MergeOptions& options, std::vector<MergeClash>& clashes, QHash<QByteArray, int>& records,
              QSet<QString>& carried, bool targetHadLab)
        : targetHadLab_(targetHadLab), carried_(carried), target_(target), source_(source), file_(file), name_(QFileInfo(file).fileName()), total_(total), step_(step),
          options_(options), clashes_(clashes), targetRecords_(records), writer_(target)
    {
    }

    Status run()
    {
        using Part = Status (FileMerge::*)();
        const std::pair<QString, Part> parts[] = {
            {QStringLiteral("记录"), &FileMerge::mergeRecords},
            {QStringLiteral("继电器台账"), &FileMerge::mergeRelays},
            {QStringLiteral("标准器"), &FileMerge::mergeStandards},
            {QStringLiteral("实验室信息"), &FileMerge::mergeLab},
            {QStringLiteral("判定和报告"), &FileMerge::mergeJudgements},
            {QStringLiteral("关联"), &FileMerge::mergeLinks},
            {QStringLiteral("证书"), &FileMerge::mergeCertificates},
            {QStringLiteral("签名"), &FileMerge::mergeSignatures},
            {QStringLiteral("审计记录"), &FileMerge::carryAudit},
        };
        for (const auto& [what, part] : parts) {
            if (options_.progress)
                options_.progress(file_, what);
            if (Status s = (this->*part)(); !s)
                return s;
            if (++step_ == options_.failAfterStep)
                return target_.failure(kDoing, QStringLiteral("测试中断"));
        }
        return Status::success();
    }

private:
    QString mergedSource() const { return QStringLiteral("合并：%1").arg(name_); }

    Status mergeRecords()
    {
        auto rows = readTable(source_, QStringLiteral("SELECT * FROM records ORDER BY id"));
        if (!rows)
            return rows.status();
        const int raw = rows->at(QStringLiteral("raw")), idColumn = rows->at(QStringLiteral("id"));
        auto next = target_.nextId(QStringLiteral("records"));
        if (!next)
            return next.status();
        std::vector<int> added;
        for (QVariantList& row : rows->rows) {
            const QByteArray bytes = row[raw].toByteArray();
            const int sourceId = row[idColumn].toInt();
            if (const auto found = targetRecords_.constFind(bytes); found != targetRecords_.constEnd()) {
                records_.insert(sourceId, *found);
                ++presentRecords_;
                continue;
            }
            const int id = (*next)++;
            row[idColumn] = id;
            if (Status s = writer_.insert(QStringLiteral("records"), rows->columns, row); !s)
                return s;
            targetRecords_.insert(bytes, id);
            records_.insert(sourceId, id);
            newRecords_.insert(sourceId);
            added.push_back(id);
        }
        total_.newRecords += int(added.size());
        total_.presentRecords += presentRecords_;
        return placeNewRecords(added);
    }

    // The new records came with this merge as with a sync: verify counts each
    // by the sync that brought it. One brought into the source from a file
    // stays imported from that file, so that certifying it still asks.
    Status placeNewRecords(const std::vector<int>& added)
    {
        if (added.empty())
            return Status::success();
        auto origins = readTable(source_, QStringLiteral("SELECT r.record_id, s.id, s.port, s.file_sha256 FROM sync_records r "
                                                         "JOIN syncs s ON s.id = r.sync_id ORDER BY r.record_id, "
                                                         "CASE WHEN s.file_sha256 IS NULL THEN 0 ELSE 1 END, s.id"));
        if (!origins)
            return origins.status();
        QHash<int, const QVariantList*> originOf;   // source record -> its first sync, instrument first
        for (const QVariantList& o : origins->rows)
            if (!originOf.contains(o[0].toInt()))
                originOf.insert(o[0].toInt(), &o);
        QHash<int, int> sourceOf;   // target record -> source record
        for (auto it = records_.constBegin(); it != records_.constEnd(); ++it)
            if (newRecords_.contains(it.key()))
                sourceOf.insert(*it, it.key());
        // Grouped by the import that brought them (0: the instrument), in order.
        std::map<int, std::vector<int>> groups;
        for (const int id : added) {
            const QVariantList* o = originOf.value(sourceOf.value(id));
            groups[o && !o->at(3).isNull() ? o->at(1).toInt() : 0].push_back(id);
        }
        const QString program =
            QCoreApplication::applicationName().isEmpty() ? QStringLiteral("sf6") : QCoreApplication::applicationName();
        for (const auto& [sourceSync, ids] : groups) {
            auto sync = target_.nextId(QStringLiteral("syncs"));
            if (!sync)
                return sync.status();
            QString port = mergedSource();
            QVariant sha(QMetaType(QMetaType::QString));
            if (sourceSync != 0)
                for (const QVariantList& o : origins->rows)
                    if (o[1].toInt() == sourceSync) {
                        port = o[2].toString();
                        sha = o[3];
                        break;
                    }
            const int n = int(ids.size());
            if (Status s = writer_.insert(QStringLiteral("syncs"),
                                          {QStringLiteral("id"), QStringLiteral("synced_at"), QStringLiteral("program"),
                                           QStringLiteral("port"), QStringLiteral("record_total"),
                                           QStringLiteral("rows_received"), QStringLiteral("outcome"),
                                           QStringLiteral("new_records"), QStringLiteral("file_sha256"),
                                           QStringLiteral("rows_refused")},
                                          {*sync, Archive::now(), program, port, n, n, QStringLiteral("merged"), n, sha, 0});
                !s)
                return s;
            for (int i = 0; i < n; ++i)
                if (Status s = writer_.insert(QStringLiteral("sync_records"),
                                              {QStringLiteral("sync_id"), QStringLiteral("position"), QStringLiteral("record_id")},
                                              {*sync, i + 1, ids[size_t(i)]});
                    !s)
                    return s;
            if (sourceSync == 0)
                continue;
            // An import is on the trail with its file's hash, as where it was imported.
            const QJsonObject values{{QStringLiteral("file"), port},
                                     {QStringLiteral("sha256"), sha.toString()},
                                     {QStringLiteral("sync_id"), *sync},
                                     {QStringLiteral("rows_read"), n},
                                     {QStringLiteral("rows_refused"), 0},
                                     {QStringLiteral("new_records"), n},
                                     {QStringLiteral("already_archived"), 0},
                                     {QStringLiteral("merged_from"), name_}};
            if (Status s = appendAudit(target_, {audit::kImported, QStringLiteral("file %1").arg(port), QJsonValue(), values,
                                                 mergedSource()});
                !s)
                return s;
        }
        return Status::success();
    }

    // The versions of one kind of entry: each source version the same as
    // one of the target's by its values is that one; others are added as
    // new versions, and the source's current entry ends as the current one.
    struct Kind {
        QString versions, entries, action, objectPrefix;
        QString key = QStringLiteral("serial_number");   // empty: one entry (the lab)
        QStringList notValues;   // columns that are no part of an entry's values
        std::function<QJsonObject(const Table&, const QVariantList&, int version, bool inSource)> audited;
        std::function<Status(Table&)> prepare = {};   // the source's rows before they are compared
    };

    Status mergeVersioned(const Kind& kind, QHash<int, Placed>& placed, bool keepTargetCurrent, int* newEntries,
                          int* newVersions)
    {
        const bool keyed = !kind.key.isEmpty();
        auto versions = readTable(source_, QStringLiteral("SELECT * FROM %1 ORDER BY %2id")
                                               .arg(kind.versions, keyed ? kind.key + QStringLiteral(", ") : QString()));
        if (!versions)
            return versions.status();
        if (kind.prepare)
            if (Status s = kind.prepare(*versions); !s)
                return s;
        QHash<QString, int> currentOf;
        if (!kind.entries.isEmpty()) {
            auto current = readTable(source_, QStringLiteral("SELECT serial_number, current_version FROM %1").arg(kind.entries));
            if (!current)
                return current.status();
            for (const QVariantList& r : current->rows)
                currentOf.insert(r[0].toString(), r[1].toInt());
        }
        const int id = versions->at(QStringLiteral("id"));
        const int serialColumn = keyed ? versions->at(kind.key) : -1;
        // Grouped by serial (one group for the lab), oldest first, the current one last.
        std::map<QString, std::vector<const QVariantList*>> groups;
        for (const QVariantList& r : versions->rows)
            groups[keyed ? r[serialColumn].toString() : QString()].push_back(&r);
        // Where the newest version is the current one.
        if (kind.entries.isEmpty())
            for (const auto& [key, group] : groups)
                currentOf.insert(key, group.back()->at(id).toInt());
        for (auto& [serial, group] : groups) {
            std::stable_partition(group.begin(), group.end(),
                                  [&](const QVariantList* r) { return r->at(id).toInt() != currentOf.value(serial); });
            auto held = readTable(target_, keyed ? QStringLiteral("SELECT * FROM %1 WHERE %2 = ? ORDER BY id")
                                                       .arg(kind.versions, kind.key)
                                                 : QStringLiteral("SELECT * FROM %1 ORDER BY id").arg(kind.versions),
                                  keyed ? QVariantList{serial} : QVariantList{});
            if (!held)
                return held.status();
            const bool known = !held->rows.empty();
            const int heldVersion = held->at(QStringLiteral("version")), heldId = held->at(QStringLiteral("id"));
            const QVariantList formerCurrent = known ? held->rows.back() : QVariantList{};
            bool added = false;
            auto add = [&](const Table& from, const QVariantList& row) -> Expected<Placed> {
                const int previous = held->rows.empty() ? 0 : held->rows.back()[heldVersion].toInt();
                NextVersion next;
                next.versionsTable = kind.versions;
                next.insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                  .arg(kind.versions, from.columns.join(u','), placeholders(from.columns.size()));
                next.values = [&](const VersionStamp& v) {
                    QVariantList values = row;
                    values[from.at(QStringLiteral("id"))] = v.id;
                    values[from.at(QStringLiteral("version"))] = v.version;
                    values[from.at(QStringLiteral("changed_at"))] = v.changedAt;
                    values[from.at(QStringLiteral("source"))] = mergedSource();
                    return values;
                };
                next.previousVersion = previous;
                next.entriesTable = kind.entries;
                next.serial = serial;
                next.action = kind.action;
                next.object = keyed ? kind.objectPrefix + serial : kind.objectPrefix;
                next.oldValues = held->rows.empty() ? QJsonValue()
                                                    : QJsonValue(kind.audited(*held, held->rows.back(), previous, false));
                next.newValues = [&](int version) { return kind.audited(from, row, version, &from == &*versions); };
                next.doing = kDoing;
                auto stamp = addVersion(target_, next);
                if (!stamp)
                    return stamp.status();
                if (!readFailure_)
                    return readFailure_;
                QVariantList stored = row;
                stored[from.at(QStringLiteral("id"))] = stamp->id;
                stored[from.at(QStringLiteral("version"))] = stamp->version;
                held->rows.push_back(stored);
                added = true;
                if (known && newVersions)
                    ++*newVersions;
                return Placed{stamp->id, stamp->version};
            };
            // The current one last, so that a differing current entry ends as the newest.
            for (const QVariantList* r : group) {
                std::optional<Placed> same;
                for (const QVariantList& h : held->rows)
                    if (sameExcept(*versions, *r, *held, h, kind.notValues)) {
                        same = Placed{h[heldId].toInt(), h[heldVersion].toInt()};
                        break;
                    }
                if (!same) {
                    auto p = add(*versions, *r);
                    if (!p)
                        return p.status();
                    same = *p;
                }
                placed.insert(r->at(id).toInt(), *same);
            }
            // The lab's own profile (a person's own key) stays current; a lab brought by this merge does not count.
            if (keepTargetCurrent && (targetHadLab_ || kind.key == QLatin1String("name")) && known && added)
                if (auto p = add(*held, formerCurrent); !p)
                    return p.status();
            if (!known && newEntries)
                ++*newEntries;
        }
        return Status::success();
    }

    static QString text(const Table& t, const QVariantList& r, const char* column)
    {
        return r[t.at(QLatin1String(column))].toString();
    }

    Status mergeRelays()
    {
        Kind kind{QStringLiteral("relay_versions"), QStringLiteral("relays"), audit::kRelayChanged, QStringLiteral("relay "),
                  QStringLiteral("serial_number"),
                  {QStringLiteral("id"), QStringLiteral("version"), QStringLiteral("changed_at"), QStringLiteral("source"),
                   QStringLiteral("search_text")},
                  [this](const Table& t, const QVariantList& r, int version, bool inSource) {
                      // As the register writes them, from the entry its columns give.
                      RelayEntry e = relayOf(t, r, inSource);
                      e.version = version;
                      return relayAuditValues(e);
                  }};
        return mergeVersioned(kind, relays_, false, &total_.newRelays, &total_.newRelayVersions);
    }

    // An entry as the register reads it back, from the archive that holds the row.
    RelayEntry relayOf(const Table& t, const QVariantList& r, bool inSource)
    {
        auto e = relayVersion(inSource ? source_ : static_cast<const Archive&>(target_), r[t.at(QStringLiteral("id"))].toInt());
        if (!e) {
            readFailure_ = e.status();
            return {};
        }
        return *e;
    }

    Status mergeStandards()
    {
        Kind kind{QStringLiteral("standard_versions"), QStringLiteral("standards"), audit::kStandardChanged,
                  QStringLiteral("standard "), QStringLiteral("serial_number"),
                  {QStringLiteral("id"), QStringLiteral("version"), QStringLiteral("changed_at"), QStringLiteral("source")},
                  [](const Table& t, const QVariantList& r, int version, bool) {
                      ReferenceStandard s;
                      s.serial = text(t, r, "serial_number");
                      s.name = text(t, r, "name");
                      s.model = text(t, r, "model");
                      s.certificate = text(t, r, "certificate");
                      s.issuer = text(t, r, "issuer");
                      s.validUntil = text(t, r, "valid_until");
                      s.uncertainty = text(t, r, "uncertainty");
                      s.expandedUncertainty = text(t, r, "expanded_uncertainty");
                      s.coverageFactor = text(t, r, "coverage_factor");
                      s.version = version;
                      return check::standardValues(s);
                  }};
        return mergeVersioned(kind, standards_, false, nullptr, nullptr);
    }

    Status mergeLab()
    {
        Kind kind{QStringLiteral("lab_versions"), QString(), audit::kLabChanged, QStringLiteral("lab"), QString(),
                  {QStringLiteral("id"), QStringLiteral("version"), QStringLiteral("changed_at"), QStringLiteral("source")},
                  [](const Table& t, const QVariantList& r, int version, bool) {
                      LabProfile l;
                      l.name = text(t, r, "name");
                      l.address = text(t, r, "address");
                      l.phone = text(t, r, "phone");
                      l.accreditation = text(t, r, "accreditation");
                      l.prefix = text(t, r, "prefix");
                      l.decisionRule = text(t, r, "decision_rule");
                      l.verificationAddress = text(t, r, "verification_address");
                      l.version = version;
                      return check::labValues(l);
                  }};
        return mergeVersioned(kind, labs_, true, nullptr, nullptr);
    }

    // Rows of a table that hang on records: the same row already in the
    // target (for a record it had) is that one, others are added.
    Status mergeDependent(const QString& table, const std::function<bool(QVariantList&, const Table&)>& mapIds,
                          QHash<int, int>* placed)
    {
        auto rows = readTable(source_, QStringLiteral("SELECT * FROM %1 ORDER BY id").arg(table));
        if (!rows)
            return rows.status();
        const int id = rows->at(QStringLiteral("id")), record = rows->at(QStringLiteral("record_id"));
        auto next = target_.nextId(table);
        if (!next)
            return next.status();
        for (QVariantList& row : rows->rows) {
            const int sourceId = row[id].toInt();
            const int sourceRecord = row[record].toInt();
            if (!mapIds(row, *rows))
                return target_.failure(kDoing, QStringLiteral("%1 的第%2行指向来源存档中没有的行").arg(table).arg(sourceId));
            std::optional<int> same;
            if (!newRecords_.contains(sourceRecord)) {
                auto held = readTable(target_, QStringLiteral("SELECT * FROM %1 WHERE record_id = ? ORDER BY id").arg(table),
                                      {row[record]});
                if (!held)
                    return held.status();
                for (const QVariantList& h : held->rows)
                    if (sameExcept(*rows, row, *held, h, {QStringLiteral("id")})) {
                        same = h[held->at(QStringLiteral("id"))].toInt();
                        break;
                    }
            }
            if (!same) {
                same = (*next)++;
                row[id] = *same;
                if (Status s = writer_.insert(table, rows->columns, row); !s)
                    return s;
            }
            if (placed)
                placed->insert(sourceId, *same);
        }
        return Status::success();
    }

    bool mapped(QVariant& value, const QHash<int, int>& map) const
    {
        if (value.isNull())
            return true;
        const auto found = map.constFind(value.toInt());
        if (found == map.constEnd())
            return false;
        value = *found;
        return true;
    }
    bool mappedVersion(QVariant& value, const QHash<int, Placed>& map) const
    {
        const auto found = map.constFind(value.toInt());
        if (found == map.constEnd())
            return false;
        value = found->id;
        return true;
    }

    Status mergeJudgements()
    {
        if (Status s = mergeDependent(QStringLiteral("judgements"),
                                      [this](QVariantList& r, const Table& t) {
                                          return mapped(r[t.at(QStringLiteral("record_id"))], records_)
                                              && mappedVersion(r[t.at(QStringLiteral("relay_version_id"))], relays_);
                                      },
                                      &judgements_);
            !s)
            return s;
        return mergeDependent(QStringLiteral("reports"),
                              [this](QVariantList& r, const Table& t) {
                                  return mapped(r[t.at(QStringLiteral("record_id"))], records_)
                                      && mapped(r[t.at(QStringLiteral("judgement_id"))], judgements_);
                              },
                              nullptr);
    }

    // A record new to the target brings its link and the link's history;
    // one it had keeps the target's.
    Status mergeLinks()
    {
        auto links = readTable(source_, QStringLiteral("SELECT * FROM record_relays ORDER BY record_id"));
        if (!links)
            return links.status();
        const int record = links->at(QStringLiteral("record_id"));
        for (QVariantList& row : links->rows) {
            if (!newRecords_.contains(row[record].toInt()))
                continue;
            row[record] = records_.value(row[record].toInt());
            if (Status s = writer_.insert(QStringLiteral("record_relays"), links->columns, row); !s)
                return s;
        }
        auto changes = readTable(source_, QStringLiteral("SELECT * FROM link_changes ORDER BY id"));
        if (!changes)
            return changes.status();
        auto next = target_.nextId(QStringLiteral("link_changes"));
        if (!next)
            return next.status();
        const int changed = changes->at(QStringLiteral("record_id")), id = changes->at(QStringLiteral("id"));
        for (QVariantList& row : changes->rows) {
            if (!newRecords_.contains(row[changed].toInt()))
                continue;
            row[changed] = records_.value(row[changed].toInt());
            row[id] = (*next)++;
            if (Status s = writer_.insert(QStringLiteral("link_changes"), changes->columns, row); !s)
                return s;
        }
        return Status::success();
    }

    void clash(const QString& number, const QString& why) { clashes_.push_back({number + why, file_}); }

    Status mergeCertificates()
    {
        auto rows = readTable(source_, QStringLiteral("SELECT * FROM certificates ORDER BY id"));
        if (!rows)
            return rows.status();
        auto approvals = readTable(source_, QStringLiteral("SELECT * FROM certificate_approvals"));
        if (!approvals)
            return approvals.status();
        QHash<int, const QVariantList*> approvalOf;
        for (const QVariantList& a : approvals->rows)
            approvalOf.insert(a[approvals->at(QStringLiteral("certificate_id"))].toInt(), &a);
        const Table& t = *rows;
        auto col = [&t](const char* name) { return t.at(QLatin1String(name)); };
        auto next = target_.nextId(QStringLiteral("certificates"));
        if (!next)
            return next.status();
        std::map<int, int> lastOfYear;
        for (QVariantList& row : rows->rows) {
            const QString number = row[col("number")].toString();
            const int sourceId = row[col("id")].toInt();
            auto held = target_.run(QStringLiteral("SELECT id, sha256 FROM certificates WHERE number = ?"), {number}, kDoing);
            if (!held)
                return held.status();
            int targetId = 0;
            bool inserted = false;
            if (held->next()) {
                targetId = held->value(0).toInt();
                const QString sha = held->value(1).toString();
                held->finish();
                if (sha != row[col("sha256")].toString()) {
                    clash(number, QStringLiteral("（存档中已有另一份同编号的证书）"));
                    continue;
                }
            } else {
                held->finish();
                const QVariant sourceIds[] = {row[col("record_id")], row[col("as_found_record_id")], row[col("judgement_id")],
                                              row[col("as_found_judgement_id")]};
                if (!mapped(row[col("record_id")], records_) || !mapped(row[col("as_found_record_id")], records_)
                    || !mapped(row[col("judgement_id")], judgements_)
                    || !mapped(row[col("as_found_judgement_id")], judgements_)
                    || !relays_.contains(row[col("relay_version_id")].toInt())
                    || !standards_.contains(row[col("standard_version_id")].toInt())
                    || !labs_.contains(row[col("lab_version_id")].toInt()))
                    return target_.failure(kDoing, QStringLiteral("证书 %1 指向来源存档中没有的行").arg(number));
                const Placed relay = relays_.value(row[col("relay_version_id")].toInt());
                const Placed standard = standards_.value(row[col("standard_version_id")].toInt());
                const Placed lab = labs_.value(row[col("lab_version_id")].toInt());
                row[col("relay_version_id")] = relay.id;
                row[col("standard_version_id")] = standard.id;
                row[col("lab_version_id")] = lab.id;
                targetId = (*next)++;
                row[col("id")] = targetId;
                if (Status s = writer_.insert(QStringLiteral("certificates"), t.columns, row); !s)
                    return s;
                inserted = true;
                placedCertificates_.insert(sourceId, targetId);
                ++total_.certificates;
                ++certificatesPlaced_;
                const int year = row[col("year")].toInt();
                lastOfYear[year] = std::max(lastOfYear[year], row[col("sequence")].toInt());
                // Where the content's ids of the source's rows are in this archive: verify reads them from here.
                auto version = [](const Placed& p) {
                    return QJsonObject{{QStringLiteral("id"), p.id}, {QStringLiteral("version"), p.version}};
                };
                placedIds_.insert(number, QJsonObject{
                                              {QStringLiteral("record"), idOrNull(records_, sourceIds[0])},
                                              {QStringLiteral("asFoundRecord"), idOrNull(records_, sourceIds[1])},
                                              {QStringLiteral("judgement"), idOrNull(judgements_, sourceIds[2])},
                                              {QStringLiteral("asFoundJudgement"), idOrNull(judgements_, sourceIds[3])},
                                              {QStringLiteral("relayVersion"), version(relay)},
                                              {QStringLiteral("standardVersion"), version(standard)},
                                              {QStringLiteral("labVersion"), version(lab)},
                                          });
            }
            const auto approval = approvalOf.constFind(sourceId);
            if (approval == approvalOf.constEnd())
                continue;
            QVariantList a = **approval;
            const int approver = approvals->at(QStringLiteral("approver"));
            const int at = approvals->at(QStringLiteral("approved_at"));
            if (!inserted) {
                auto had = target_.run(QStringLiteral("SELECT approver, CAST(approved_at AS TEXT) FROM certificate_approvals "
                                                      "WHERE certificate_id = ?"),
                                       {targetId}, kDoing);
                if (!had)
                    return had.status();
                if (had->next()) {
                    if (had->value(0).toString() != a[approver].toString()
                        || Archive::timestampText(had->value(1)) != Archive::timestampText(a[at]))
                        clash(number, QStringLiteral("（两处的批准不同）"));
                    continue;
                }
            }
            a[approvals->at(QStringLiteral("certificate_id"))] = targetId;
            if (Status s = writer_.insert(QStringLiteral("certificate_approvals"), approvals->columns, a); !s)
                return s;
        }
        // The year's last number moves on past the numbers brought in: none is given twice.
        for (const auto& [year, last] : lastOfYear) {
            auto q = target_.run(QStringLiteral("SELECT last_sequence FROM certificate_numbers WHERE year = ?"), {year}, kDoing);
            if (!q)
                return q.status();
            const std::optional<int> held = q->next() ? std::optional<int>(q->value(0).toInt()) : std::nullopt;
            q->finish();
            if (held && *held >= last)
                continue;
            auto w = held ? target_.run(QStringLiteral("UPDATE certificate_numbers SET last_sequence = ? WHERE year = ?"),
                                        {last, year}, kDoing)
                          : target_.run(QStringLiteral("INSERT INTO certificate_numbers (year, last_sequence) VALUES (?, ?)"),
                                        {year, last}, kDoing);
            if (!w)
                return w.status();
        }
        return Status::success();
    }

    // The lab's key comes along where this archive has none; where it has
    // one, the source must have signed under the same. People's versions
    // follow as entries do; the signatures of the certificates brought in
    // keep the source trail's row they name, which verify finds among the
    // carried rows.
    Status mergeSignatures()
    {
        auto keys = readTable(source_, QStringLiteral("SELECT * FROM lab_keys ORDER BY version"));
        if (!keys)
            return keys.status();
        auto heldKeys = readTable(target_, QStringLiteral("SELECT id, version, fingerprint FROM lab_keys ORDER BY version"));
        if (!heldKeys)
            return heldKeys.status();
        QHash<QString, int> held;
        int lastVersion = 0;
        for (const QVariantList& k : heldKeys->rows) {
            held.insert(k[2].toString(), k[0].toInt());
            lastVersion = k[1].toInt();
        }
        const bool hadKey = !held.isEmpty();
        const Table& t = *keys;
        for (const QVariantList& k : t.rows) {
            const QString fingerprint = k[t.at(QStringLiteral("fingerprint"))].toString();
            if (const auto same = held.constFind(fingerprint); same != held.constEnd()) {
                labKeys_.insert(k[t.at(QStringLiteral("id"))].toInt(), *same);
                continue;
            }
            if (hadKey)
                return Status::failure(ErrorCode::MergeClash,
                                       QStringLiteral("存档 %1 的实验室证书（指纹 %2）与本存档的不同，未合并任何内容：各台电脑应导入"
                                                      "同一个实验室密钥（archive lab --import-key）")
                                           .arg(file_, fingerprint));
            NextVersion next;
            next.versionsTable = QStringLiteral("lab_keys");
            next.insert = QStringLiteral("INSERT INTO lab_keys (%1) VALUES (%2)").arg(t.columns.join(u','), placeholders(t.columns.size()));
            next.values = [&](const VersionStamp& v) {
                QVariantList values = k;
                values[t.at(QStringLiteral("id"))] = v.id;
                values[t.at(QStringLiteral("version"))] = v.version;
                values[t.at(QStringLiteral("changed_at"))] = v.changedAt;
                values[t.at(QStringLiteral("source"))] = mergedSource();
                return values;
            };
            next.previousVersion = lastVersion;
            next.action = audit::kLabKeyChanged;
            next.object = QStringLiteral("lab key");
            next.newValues = [&](int version) {
                return QJsonObject{{QStringLiteral("version"), version},
                                   {QStringLiteral("fingerprint"), fingerprint},
                                   {QStringLiteral("how"), mergedSource()}};
            };
            next.doing = kDoing;
            auto stamp = addVersion(target_, next);
            if (!stamp)
                return stamp.status();
            lastVersion = stamp->version;
            labKeys_.insert(k[t.at(QStringLiteral("id"))].toInt(), stamp->id);
        }

        Kind people{QStringLiteral("person_versions"), QString(), audit::kPersonChanged, QStringLiteral("person "),
                    QStringLiteral("name"),
                    {QStringLiteral("id"), QStringLiteral("version"), QStringLiteral("changed_at"), QStringLiteral("source")},
                    [](const Table& t, const QVariantList& r, int version, bool) {
                        PersonVersion p;
                        p.name = text(t, r, "name");
                        p.version = version;
                        p.roles = text(t, r, "roles").split(u',', Qt::SkipEmptyParts);
                        p.retired = r[t.at(QStringLiteral("retired"))].toInt() != 0;
                        p.fingerprint = text(t, r, "fingerprint");
                        return personValues(p);
                    },
                    [this](Table& t) {
                        for (QVariantList& r : t.rows)
                            if (!mapped(r[t.at(QStringLiteral("lab_key_id"))], labKeys_))
                                return target_.failure(kDoing, QStringLiteral("人员版本指向来源存档中没有的实验室密钥"));
                        return Status::success();
                    }};
        if (Status s = mergeVersioned(people, persons_, true, nullptr, nullptr); !s)
            return s;

        auto signatures = readTable(source_, QStringLiteral("SELECT * FROM signatures ORDER BY id"));
        if (!signatures)
            return signatures.status();
        auto next = target_.nextId(QStringLiteral("signatures"));
        if (!next)
            return next.status();
        const Table& g = *signatures;
        for (QVariantList row : g.rows) {
            // Only the certificates this merge brought: a certificate already here keeps its own.
            if (!mapped(row[g.at(QStringLiteral("certificate_id"))], placedCertificates_))
                continue;
            if (!mappedVersion(row[g.at(QStringLiteral("person_version_id"))], persons_))
                return target_.failure(kDoing, QStringLiteral("签名指向来源存档中没有的人员版本"));
            row[g.at(QStringLiteral("id"))] = (*next)++;
            if (Status s = writer_.insert(QStringLiteral("signatures"), g.columns, row); !s)
                return s;
        }
        return Status::success();
    }

    // The source's trail, row by row with its own fields and hash, then the
    // row that names the file, where its chain ended and what came over.
    Status carryAudit()
    {
        std::vector<AuditEntry> entries;
        QString lastHash = kNoPreviousHash;
        const Status read = forEachAuditRow(source_, [&](const AuditRow& r) {
            lastHash = r.hash;
            // Carried by an earlier merge of this file: the trail carries on after it.
            if (carried_.contains(r.hash))
                return true;
            carried_.insert(r.hash);
            auto orNull = [](const QString& s) { return s.isNull() ? QJsonValue() : QJsonValue(s); };
            QJsonObject kept{{QStringLiteral("file"), name_},
                             {QStringLiteral("id"), r.id},
                             {QStringLiteral("at"), r.at},
                             {QStringLiteral("user"), r.user},
                             {QStringLiteral("host"), r.host},
                             {QStringLiteral("program"), r.program},
                             {QStringLiteral("action"), r.action},
                             {QStringLiteral("object"), r.object},
                             {QStringLiteral("old"), orNull(r.oldValues)},
                             {QStringLiteral("new"), orNull(r.newValues)},
                             {QStringLiteral("reason"), r.reason},
                             {QStringLiteral("previousHash"), r.previousHash},
                             {QStringLiteral("hash"), r.hash}};
            if (r.action == audit::kCertificateIssued || r.action == audit::kCertificateAmended) {
                const QString number = QJsonDocument::fromJson(r.newValues.toUtf8()).object().value(QStringLiteral("number")).toString();
                if (const auto ids = placedIds_.constFind(number); ids != placedIds_.constEnd()) {
                    kept.insert(QStringLiteral("placed"), *ids);
                    placedIds_.erase(ids);
                }
            }
            entries.push_back({audit::kMergedRow, r.object, QJsonValue(), kept, QStringLiteral("合并存档记录")});
            return true;
        });
        if (!read)
            return read;
        if (!placedIds_.isEmpty())
            return Status::failure(ErrorCode::Altered, QStringLiteral("存档 %1 中证书 %2 的出具在其审计记录中没有记录，未合并")
                                                           .arg(file_, placedIds_.keys().front()));
        total_.auditRows += int(entries.size());
        const QJsonObject counts{{QStringLiteral("file"), file_},
                                 {QStringLiteral("name"), name_},
                                 {QStringLiteral("lastHash"), lastHash},
                                 {QStringLiteral("auditRows"), int(entries.size())},
                                 {QStringLiteral("newRecords"), int(newRecords_.size())},
                                 {QStringLiteral("presentRecords"), presentRecords_},
                                 {QStringLiteral("certificates"), certificatesPlaced_}};
        entries.push_back({audit::kMerged, QStringLiteral("archive ") + name_, QJsonValue(), counts, QStringLiteral("合并存档")});
        return appendAudit(target_, entries);
    }

    const bool targetHadLab_;
    QSet<QString>& carried_;   // the original hashes of every row carried so far
    Archive& target_;
    const Archive& source_;
    const QString file_, name_;
    MergeSummary& total_;
    int& step_;
    const MergeOptions& options_;
    std::vector<MergeClash>& clashes_;
    QHash<QByteArray, int>& targetRecords_;
    Writer writer_;
    QHash<int, int> records_, judgements_;
    QSet<int> newRecords_;
    int presentRecords_ = 0;
    int certificatesPlaced_ = 0;
    QHash<int, Placed> relays_, standards_, labs_, persons_;
    QHash<int, int> labKeys_, placedCertificates_;
    QHash<QString, QJsonObject> placedIds_;
    Status readFailure_ = Status::success();
};

bool sameFile(const QString& a, const QString& b)
{
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath()
        || (QFileInfo::exists(a) && QFileInfo::exists(b) && QFileInfo(a).canonicalFilePath() == QFileInfo(b).canonicalFilePath());
}

// A source fit to merge, opened for reading; each refusal its own sentence.
Expected<std::shared_ptr<Archive>> openSource(const Archive& target, const QString& file)
{
    ArchiveLocation at;
    at.engine = ArchiveLocation::Engine::SQLite;
    at.path = file;
    if (target.location().engine == ArchiveLocation::Engine::SQLite && sameFile(file, target.location().path))
        return Status::failure(ErrorCode::SameArchive, QStringLiteral("%1 就是要合并到的存档本身，不能合并到自己").arg(file));
    const QFileInfo info(file);
    if (!info.exists() || !info.isFile() || !info.isReadable())
        return Status::failure(ErrorCode::ArchiveUnavailable, QStringLiteral("无法读取要合并的文件 %1（文件不存在或不可读）").arg(file));
    const QString notArchive = QStringLiteral("%1 不是本程序的存档，未合并").arg(file);
    int version = 0;
    {
        auto bare = Archive::openBare(at);
        if (!bare)
            return bare.status();
        auto id = (*bare)->run(QStringLiteral("PRAGMA application_id"), {}, QStringLiteral("读取存档"));
        if (!id || !id->next() || id->value(0).toLongLong() != schema::kApplicationId)
            return Status::failure(ErrorCode::ArchiveForeign, notArchive);
        id->finish();
        auto v = (*bare)->run(QStringLiteral("SELECT MAX(version) FROM schema_version"), {}, QStringLiteral("读取存档"));
        if (!v || !v->next())
            return Status::failure(ErrorCode::ArchiveForeign, notArchive);
        version = v->value(0).toInt();
    }
    if (version > schema::kCurrentVersion)
        return Status::failure(ErrorCode::SchemaNewer, QStringLiteral("存档 %1 由较新版本的程序写入（结构版本 %2，本程序为 %3），不能合并")
                                                           .arg(file)
                                                           .arg(version)
                                                           .arg(schema::kCurrentVersion));
    if (version < schema::kCurrentVersion)
        return Status::failure(ErrorCode::SchemaOlder,
                               QStringLiteral("存档 %1 由较旧版本的程序写入（结构版本 %2，本程序为 %3）：请先用本程序打开它一次，"
                                              "使它升级，再合并")
                                   .arg(file)
                                   .arg(version)
                                   .arg(schema::kCurrentVersion));
    auto source = Archive::open(at, Archive::Access::Read);
    if (!source)
        return source.status();
    return source;
}

} // namespace

QString MergeSummary::text() const
{
    return QStringLiteral("合并%1条新记录，%2条已在存档中；继电器%3只（新版本%4个）；证书%5份")
        .arg(newRecords)
        .arg(presentRecords)
        .arg(newRelays)
        .arg(newRelayVersions)
        .arg(certificates);
}

QString mergeClashText(const std::vector<MergeClash>& clashes)
{
    QStringList lines;
    for (const MergeClash& c : clashes)
        lines << QStringLiteral("%1：证书 %2").arg(c.file, c.number);
    return QStringLiteral("证书编号冲突，未合并任何内容（各台电脑应使用各自的证书编号前缀）：\n%1").arg(lines.join(u'\n'));
}

Expected<MergeSummary> mergeArchives(Archive& target, const QStringList& files, const MergeOptions& options)
{
    if (files.isEmpty())
        return Status::failure(ErrorCode::Usage, QStringLiteral("没有要合并的存档"));
    std::vector<std::shared_ptr<Archive>> sources;
    // Each source read as of one moment, the moment it was verified at.
    std::vector<std::unique_ptr<Archive::Transaction>> reads;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& file = files[i];
        for (qsizetype j = 0; j < i; ++j)
            if (sameFile(file, files[j]))
                return Status::failure(ErrorCode::Usage, QStringLiteral("%1 给出了两次，每个存档只合并一次").arg(file));
        auto source = openSource(target, file);
        if (!source)
            return source.status();
        // Held before its read begins: a refusal below ends the read before the archive.
        sources.push_back(*source);
        reads.push_back(std::make_unique<Archive::Transaction>(**source, true));
        if (!reads.back()->begun())
            return reads.back()->begun();
        // A source whose trail or certificates no longer hold would carry that over.
        auto verified = verifyArchive(**source);
        if (!verified)
            return verified.status();
        if (!verified->intact())
            return Status::failure(ErrorCode::Altered, QStringLiteral("存档 %1 未通过核对，未合并：%2").arg(file, verified->firstProblem));
    }
    Archive::Write write(target);
    if (!write.begun())
        return write.begun();
    QHash<QByteArray, int> records;
    {
        auto q = target.run(QStringLiteral("SELECT id, raw FROM records"), {}, kDoing);
        if (!q)
            return q.status();
        while (q->next())
            records.insert(q->value(1).toByteArray(), q->value(0).toInt());
    }
    auto lab = currentLab(target);
    if (!lab)
        return lab.status();
    QSet<QString> carried;
    if (Status s = forEachAuditRow(target, [&carried](const AuditRow& r) {
            if (r.action == audit::kMergedRow)
                carried.insert(QJsonDocument::fromJson(r.newValues.toUtf8()).object().value(QStringLiteral("hash")).toString());
            return true;
        });
        !s)
        return s;
    MergeSummary summary;
    std::vector<MergeClash> clashes;
    int step = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        FileMerge merge(target, *sources[i], files[qsizetype(i)], summary, step, options, clashes, records,
                        carried, lab->has_value());
        if (Status s = merge.run(); !s)
            return s;
    }
    if (!clashes.empty())
        return Status::failure(ErrorCode::MergeClash, mergeClashText(clashes));
    if (Status s = write.commit(); !s)
        return s;
    return summary;
}

} // namespace sf6
