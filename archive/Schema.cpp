#include "archive/Schema.h"

#include "archive/Archive.h"
#include "archive/Audit.h"
#include "archive/SearchText.h"
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace sf6::schema {

const QStringList& pressureColumns()
{
    // Position k of each block of 24 (P20 first, then Pt), as the instrument sends them.
    static const QStringList columns = [] {
        const char* const quantities[] = {
            "alarm_mean", "lock1_mean", "lock2_mean", "alarm_return_mean", "lock1_return_mean", "lock2_return_mean",
            "alarm_1", "alarm_2", "alarm_3", "alarm_return_1", "alarm_return_2", "alarm_return_3",
            "lock1_1", "lock1_2", "lock1_3", "lock1_return_1", "lock1_return_2", "lock1_return_3",
            "lock2_1", "lock2_2", "lock2_3", "lock2_return_1", "lock2_return_2", "lock2_return_3",
        };
        QStringList out;
        for (const char* block : {"p20_", "pt_"})
            for (const char* q : quantities)
                out << QLatin1String(block) + QLatin1String(q);
        return out;
    }();
    return columns;
}

const QStringList& ownTables()
{
    static const QStringList tables{QStringLiteral("schema_version"), QStringLiteral("archive_lock"),
                                    QStringLiteral("records"),        QStringLiteral("syncs"),
                                    QStringLiteral("sync_records"),   QStringLiteral("reports"),
                                    QStringLiteral("relays"),         QStringLiteral("relay_versions"),
                                    QStringLiteral("record_relays"),  QStringLiteral("judgements"),
                                    QStringLiteral("link_changes"),   QStringLiteral("lab_versions"),
                                    QStringLiteral("standards"),      QStringLiteral("standard_versions"),
                                    QStringLiteral("certificates"),   QStringLiteral("certificate_approvals"),
                                    QStringLiteral("audit"),          QStringLiteral("archive_head"),
                                    QStringLiteral("certificate_numbers"), QStringLiteral("lab_keys"),
                                    QStringLiteral("person_versions"), QStringLiteral("signatures")};
    return tables;
}

namespace {

// The search texts of the reports and relay versions an earlier program stored.
Status fillSearchTexts(const Archive& archive)
{
    const QString doing = QStringLiteral("升级结构");
    struct Fill {
        int id;
        QString text;
    };
    std::vector<Fill> reports, versions;
    auto q = archive.run(QStringLiteral("SELECT id, title, calibrating_unit, submitting_unit, relay_name, model, "
                                        "serial_number FROM reports"),
                         {}, doing);
    if (!q)
        return q.status();
    while (q->next()) {
        ReportDetails d;
        d.calibratingUnit = q->value(2).toString();
        d.submittingUnit = q->value(3).toString();
        d.relayName = q->value(4).toString();
        d.model = q->value(5).toString();
        d.serialNumber = q->value(6).toString();
        reports.push_back({q->value(0).toInt(), reportSearchText(d)});
    }
    q = archive.run(QStringLiteral("SELECT id, serial_number, name, model, submitting_unit FROM relay_versions"), {},
                    doing);
    if (!q)
        return q.status();
    while (q->next())
        versions.push_back({q->value(0).toInt(), relaySearchText(q->value(1).toString(), q->value(2).toString(),
                                                                 q->value(3).toString(), q->value(4).toString())});
    for (const Fill& f : reports)
        if (auto u = archive.run(QStringLiteral("UPDATE reports SET search_text = ? WHERE id = ?"), {f.text, f.id}, doing); !u)
            return u.status();
    for (const Fill& f : versions)
        if (auto u = archive.run(QStringLiteral("UPDATE relay_versions SET search_text = ? WHERE id = ?"), {f.text, f.id},
                                 doing);
            !u)
            return u.status();
    return Status::success();
}

// A guard the archive's triggers give: its name, the statements that make
// it, and what the engine keeps of it (SQLite: the trigger's text; PostgreSQL:
// the function it runs).
struct Guard {
    QString name;
    QStringList statements;
    QString function;   // PostgreSQL only
};


// SQLite's RAISE takes a literal only; the messages hold no quote.
QString sqliteTrigger(const QString& name, const QString& when, const QString& message)
{
    return QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 %2 BEGIN SELECT RAISE(ABORT, '%3'); END").arg(name, when, message);
}

// The PostgreSQL functions the triggers run; their bodies are checked as well.
struct GuardFunction {
    QString name, body;
};
const std::vector<GuardFunction>& pgFunctions()
{
    static const std::vector<GuardFunction> functions{
        {QStringLiteral("sf6_rows_kept"),
         QStringLiteral(" BEGIN RAISE EXCEPTION '%1' USING ERRCODE = 'P0001'; END ").arg(kRowsKeptAsTheyAre)},
        {QStringLiteral("sf6_heads_kept"),
         QStringLiteral(" BEGIN RAISE EXCEPTION '%1' USING ERRCODE = 'P0001'; END ").arg(kForwardOnly)},
        // TG_ARGV[0]: the table of the entry's versions.
        {QStringLiteral("sf6_newest_version"),
         QStringLiteral(" DECLARE newest INTEGER; BEGIN "
                        "EXECUTE format('SELECT MAX(id) FROM %I WHERE serial_number = $1', TG_ARGV[0]) "
                        "INTO newest USING NEW.serial_number; "
                        "IF NEW.current_version IS DISTINCT FROM newest THEN "
                        "RAISE EXCEPTION '%1' USING ERRCODE = 'P0001'; END IF; RETURN NEW; END ")
             .arg(kNewestVersionOnly)},
        {QStringLiteral("sf6_forward_only"),
         QStringLiteral(" BEGIN IF TG_TABLE_NAME = 'archive_head' THEN "
                        "IF NEW.id <> OLD.id OR NEW.audit_id < OLD.audit_id "
                        "OR (NEW.audit_id = OLD.audit_id AND NEW.audit_hash <> OLD.audit_hash) "
                        "OR NEW.relay_versions_before_trail <> OLD.relay_versions_before_trail THEN "
                        "RAISE EXCEPTION '%1' USING ERRCODE = 'P0001'; END IF; "
                        "ELSIF NEW.year <> OLD.year OR NEW.last_sequence < OLD.last_sequence THEN "
                        "RAISE EXCEPTION '%1' USING ERRCODE = 'P0001'; END IF; RETURN NEW; END ")
             .arg(kForwardOnly)},
    };
    return functions;
}

// The tables kept as they are in an archive of that version: the people's
// keys and the signatures came with version 9.
QStringList keptTablesOf(int version)
{
    QStringList tables = keptTables();
    if (version < kSignaturesVersion)
        for (const QString& t : {QStringLiteral("lab_keys"), QStringLiteral("person_versions"), QStringLiteral("signatures")})
            tables.removeAll(t);
    return tables;
}

std::vector<Guard> guardsOf(ArchiveLocation::Engine engine, int version)
{
    std::vector<Guard> out;
    if (engine == ArchiveLocation::Engine::SQLite) {
        for (const QString& table : keptTablesOf(version))
            for (const char* event : {"UPDATE", "DELETE"}) {
                const QString name = QStringLiteral("%1_kept_%2").arg(table, QString::fromLatin1(event).toLower());
                out.push_back({name,
                               {sqliteTrigger(name, QStringLiteral("BEFORE %1 ON %2").arg(QLatin1String(event), table),
                                              kRowsKeptAsTheyAre)},
                               {}});
            }
        for (const auto& [table, versions] : {std::pair{QStringLiteral("relays"), QStringLiteral("relay_versions")},
                                              std::pair{QStringLiteral("standards"), QStringLiteral("standard_versions")}})
            for (const char* event : {"INSERT", "UPDATE"}) {
                const QString name = QStringLiteral("%1_newest_%2").arg(table, QString::fromLatin1(event).toLower());
                out.push_back({name,
                               {sqliteTrigger(name,
                                              QStringLiteral("BEFORE %1 ON %2 WHEN NEW.current_version IS NOT "
                                                             "(SELECT MAX(id) FROM %3 WHERE serial_number = NEW.serial_number)")
                                                  .arg(QLatin1String(event), table, versions),
                                              kNewestVersionOnly)},
                               {}});
            }
        const std::pair<QString, QString> forward[] = {
            {QStringLiteral("archive_head"),
             QStringLiteral("NEW.id IS NOT OLD.id OR NEW.audit_id < OLD.audit_id "
                            "OR (NEW.audit_id = OLD.audit_id AND NEW.audit_hash IS NOT OLD.audit_hash) "
                            "OR NEW.relay_versions_before_trail IS NOT OLD.relay_versions_before_trail")},
            {QStringLiteral("certificate_numbers"),
             QStringLiteral("NEW.year IS NOT OLD.year OR NEW.last_sequence < OLD.last_sequence")}};
        for (const auto& [table, back] : forward) {
            out.push_back({table + QStringLiteral("_forward_update"),
                           {sqliteTrigger(table + QStringLiteral("_forward_update"),
                                          QStringLiteral("BEFORE UPDATE ON %1 WHEN %2").arg(table, back), kForwardOnly)},
                           {}});
            out.push_back({table + QStringLiteral("_forward_delete"),
                           {sqliteTrigger(table + QStringLiteral("_forward_delete"),
                                          QStringLiteral("BEFORE DELETE ON %1").arg(table), kForwardOnly)},
                           {}});
        }
        return out;
    }
    // Per statement for the kept rows, so that TRUNCATE is refused as well.
    auto trigger = [](const QString& name, const QString& table, const QString& when, const QString& function) {
        return Guard{name,
                     {QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2").arg(name, table),
                      QStringLiteral("CREATE TRIGGER %1 %2 ON %3 %4").arg(name, when, table, function)},
                     function.section(QStringLiteral("FUNCTION "), 1).section(u'(', 0, 0)};
    };
    const QString statement = QStringLiteral("FOR EACH STATEMENT EXECUTE FUNCTION sf6_rows_kept()");
    for (const QString& table : keptTablesOf(version))
        out.push_back(trigger(table + QStringLiteral("_kept"), table, QStringLiteral("BEFORE UPDATE OR DELETE OR TRUNCATE"),
                              statement));
    out.push_back(trigger(QStringLiteral("relays_newest"), QStringLiteral("relays"), QStringLiteral("BEFORE INSERT OR UPDATE"),
                          QStringLiteral("FOR EACH ROW EXECUTE FUNCTION sf6_newest_version('relay_versions')")));
    out.push_back(trigger(QStringLiteral("standards_newest"), QStringLiteral("standards"),
                          QStringLiteral("BEFORE INSERT OR UPDATE"),
                          QStringLiteral("FOR EACH ROW EXECUTE FUNCTION sf6_newest_version('standard_versions')")));
    for (const QString& table : {QStringLiteral("archive_head"), QStringLiteral("certificate_numbers")}) {
        out.push_back(trigger(table + QStringLiteral("_kept"), table, QStringLiteral("BEFORE DELETE OR TRUNCATE"),
                              QStringLiteral("FOR EACH STATEMENT EXECUTE FUNCTION sf6_heads_kept()")));
        out.push_back(trigger(table + QStringLiteral("_forward"), table, QStringLiteral("BEFORE UPDATE"),
                              QStringLiteral("FOR EACH ROW EXECUTE FUNCTION sf6_forward_only()")));
    }
    return out;
}

// The database itself refuses changes to the rows that must stay as they
// were, so that a hand-written statement is refused too. Each install puts
// back every guard of this version; those already there stay.
Status installKeepTriggers(const Archive& archive, int version)
{
    const QString doing = QStringLiteral("升级结构");
    QStringList statements;
    // DROP ... IF EXISTS says NOTICE for each trigger not there yet: not the user's business.
    if (archive.location().engine == ArchiveLocation::Engine::PostgreSQL)
        statements << QStringLiteral("SET LOCAL client_min_messages = warning");
    if (archive.location().engine == ArchiveLocation::Engine::PostgreSQL)
        for (const GuardFunction& f : pgFunctions())
            statements << QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$%2$$")
                              .arg(f.name, f.body);
    for (const Guard& g : guardsOf(archive.location().engine, version))
        statements += g.statements;
    for (const QString& sql : statements)
        if (auto q = archive.run(sql, {}, doing); !q)
            return q.status();
    return Status::success();
}

// A certificate's number is its own: two computers' prefixes may share a
// year and sequence (SF6-2026-0001 and HD-2026-0001) once their archives are
// merged, which version 10 allows; before it the pair was unique as well.
QString certificatesTable(bool yearAndSequenceUnique)
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS certificates (\n"
                          "  id INTEGER PRIMARY KEY,\n"
                          "  number TEXT NOT NULL UNIQUE,\n"
                          "  year INTEGER NOT NULL,\n"
                          "  sequence INTEGER NOT NULL,\n"
                          "  record_id INTEGER NOT NULL REFERENCES records (id),\n"
                          "  as_found_record_id INTEGER REFERENCES records (id),\n"
                          "  serial_number TEXT NOT NULL,\n"
                          "  relay_version_id INTEGER NOT NULL REFERENCES relay_versions (id),\n"
                          "  standard_version_id INTEGER NOT NULL REFERENCES standard_versions (id),\n"
                          "  lab_version_id INTEGER NOT NULL REFERENCES lab_versions (id),\n"
                          "  judgement_id INTEGER NOT NULL REFERENCES judgements (id),\n"
                          "  as_found_judgement_id INTEGER REFERENCES judgements (id),\n"
                          "  verdict TEXT NOT NULL,\n"
                          "  tester TEXT NOT NULL,\n"
                          "  checker TEXT NOT NULL,\n"
                          "  approver TEXT NOT NULL,\n"
                          "  issued_at TIMESTAMP NOT NULL,\n"
                          "  issued_by TEXT NOT NULL,\n"
                          "  supersedes TEXT,\n"
                          "  content TEXT NOT NULL,\n"
                          "  sha256 TEXT NOT NULL")
        + (yearAndSequenceUnique ? QStringLiteral(",\n  UNIQUE (year, sequence)\n)") : QStringLiteral("\n)"));
}

// Version 10: the pair's uniqueness dropped. SQLite cannot drop a table's
// constraint, so the table is made again under its name: the rows kept aside,
// the table dropped with its triggers (the caller installs the guards again)
// and made anew, the rows put back. References to it stay as they are; the
// approvals and signatures left without their certificate for that moment are
// counted only at the commit (defer_foreign_keys), by when all are back.
Status certificatesWithoutYearUnique(const Archive& archive)
{
    const QString doing = QStringLiteral("升级结构");
    QStringList statements;
    if (archive.location().engine == ArchiveLocation::Engine::PostgreSQL) {
        statements << QStringLiteral("ALTER TABLE certificates DROP CONSTRAINT IF EXISTS certificates_year_sequence_key");
    } else {
        statements << QStringLiteral("PRAGMA defer_foreign_keys = ON")
                   << QStringLiteral("CREATE TABLE certificates_before_10 AS SELECT * FROM certificates")
                   << QStringLiteral("DROP TABLE certificates")
                   << certificatesTable(false)
                   << QStringLiteral("INSERT INTO certificates SELECT * FROM certificates_before_10")
                   << QStringLiteral("DROP TABLE certificates_before_10")
                   << QStringLiteral("CREATE INDEX IF NOT EXISTS certificates_by_record ON certificates (record_id)")
                   << QStringLiteral("CREATE INDEX IF NOT EXISTS certificates_by_supersedes ON certificates (supersedes)");
    }
    statements << QStringLiteral("CREATE INDEX IF NOT EXISTS certificates_by_year ON certificates (year, sequence)");
    for (const QString& sql : statements)
        if (auto q = archive.run(sql, {}, doing); !q)
            return q.status();
    return Status::success();
}

// Version 7's rows for an archive that had none: the trail's head where the
// trail ends now, each year's last number as the certificates show it; then
// the guards of this version.
Status fillHeads(const Archive& archive)
{
    const QString doing = QStringLiteral("升级结构");
    int lastId = 0;
    QString lastHash = kNoPreviousHash;
    {
        auto q = archive.run(QStringLiteral("SELECT id, hash FROM audit ORDER BY id DESC LIMIT 1"), {}, doing);
        if (!q)
            return q.status();
        if (q->next()) {
            lastId = q->value(0).toInt();
            lastHash = q->value(1).toString();
        }
    }
    for (const auto& [sql, values] :
         {std::pair{QStringLiteral("INSERT INTO archive_head (id, audit_id, audit_hash, relay_versions_before_trail) "
                                   "SELECT 1, ?, ?, (SELECT COALESCE(MAX(id), 0) FROM relay_versions WHERE "
                                   "NOT EXISTS (SELECT 1 FROM audit) OR changed_at < (SELECT MIN(at) FROM audit)) "
                                   "WHERE NOT EXISTS (SELECT 1 FROM archive_head)"),
                    QVariantList{lastId, lastHash}},
          std::pair{QStringLiteral("INSERT INTO certificate_numbers (year, last_sequence) "
                                   "SELECT year, MAX(sequence) FROM certificates GROUP BY year"),
                    QVariantList{}}})
        if (auto q = archive.runList(sql, values, doing); !q)
            return q.status();
    return installKeepTriggers(archive, 7);
}

// Version 8's writers on PostgreSQL. Each runs as the archive's owner with
// a fixed search path, and takes the user (session_user: the login, which
// SET ROLE does not change) and the time (the transaction's, the same the
// program read before) itself: no client gives either.
QStringList writerStatements(const QString& schemaName)
{
    const QString header = QStringLiteral("LANGUAGE plpgsql SECURITY DEFINER SET search_path = %1, pg_temp AS $$").arg(schemaName);
    const QString second = QStringLiteral("to_char(t, 'YYYY-MM-DD HH24:MI:SS')");
    QStringList out;
    // The row's hash as auditRowHash computes it: Qt's compact JSON array
    // escapes as to_json does.
    out << QStringLiteral(
               "CREATE OR REPLACE FUNCTION sf6_append_audit(p_action text, p_object text, p_old text, p_new text, "
               "p_reason text, p_host text, p_program text) RETURNS integer ")
               + header
               + QStringLiteral(
                   " DECLARE last_id integer; last_hash text; head_id integer; head_hash text; h text;"
                   " t timestamp := date_trunc('second', LOCALTIMESTAMP); who text := session_user;"
                   " BEGIN"
                   " SELECT audit_id, audit_hash INTO head_id, head_hash FROM archive_head WHERE id = 1 FOR UPDATE;"
                   " SELECT id, hash INTO last_id, last_hash FROM audit ORDER BY id DESC LIMIT 1;"
                   " IF NOT FOUND THEN last_id := 0; last_hash := repeat('0', 64); END IF;"
                   " IF head_id IS DISTINCT FROM last_id OR head_hash IS DISTINCT FROM last_hash THEN"
                   " RAISE EXCEPTION '")
               + kTrailCut
               + QStringLiteral(
                   "' USING ERRCODE = 'P0001'; END IF;"
                   " h := encode(sha256(convert_to('[' || to_json(last_hash)::text || ',' || (last_id + 1)::text"
                   " || ',' || to_json(")
               + second
               + QStringLiteral(
                   ")::text || ',' || to_json(who)::text || ',' || to_json(p_host)::text"
                   " || ',' || to_json(p_program)::text || ',' || to_json(p_action)::text || ',' || to_json(p_object)::text"
                   " || ',' || COALESCE(to_json(p_old)::text, 'null') || ',' || COALESCE(to_json(p_new)::text, 'null')"
                   " || ',' || to_json(p_reason)::text || ']', 'UTF8')), 'hex');"
                   " INSERT INTO audit (id, at, os_user, host, program, action, object, old_values, new_values, reason,"
                   " previous_hash, hash) VALUES (last_id + 1, t, who, p_host, p_program, p_action, p_object, p_old, p_new,"
                   " p_reason, last_hash, h);"
                   " UPDATE archive_head SET audit_id = last_id + 1, audit_hash = h WHERE id = 1;"
                   " RETURN last_id + 1; END $$");
    // The content the program hashed names the same time, user and number as the row.
    out << QStringLiteral(
               "CREATE OR REPLACE FUNCTION sf6_issue_certificate(p_number text, p_year integer, p_sequence integer, "
               "p_record integer, p_as_found integer, p_serial text, p_relay_version integer, p_standard_version integer, "
               "p_lab_version integer, p_judgement integer, p_as_found_judgement integer, p_verdict text, p_tester text, "
               "p_checker text, p_approver text, p_supersedes text, p_content text, p_sha256 text) RETURNS integer ")
               + header
               + QStringLiteral(
                   " DECLARE t timestamp := date_trunc('second', LOCALTIMESTAMP); who text := session_user;"
                   " c json := p_content::json; last_sequence integer; new_id integer;"
                   " BEGIN"
                   " IF c->>'issuedAt' IS DISTINCT FROM ")
               + second
               + QStringLiteral(
                   " OR c->>'issuedBy' IS DISTINCT FROM who OR c->>'number' IS DISTINCT FROM p_number"
                   " OR p_year IS DISTINCT FROM EXTRACT(YEAR FROM t)::integer"
                   " OR p_sha256 IS DISTINCT FROM encode(sha256(convert_to(p_content, 'UTF8')), 'hex') THEN"
                   " RAISE EXCEPTION '")
               + kServerGivesTime
               + QStringLiteral(
                   "' USING ERRCODE = 'P0001'; END IF;"
                   " SELECT GREATEST(COALESCE(MAX(sequence), 0), COALESCE((SELECT n.last_sequence FROM certificate_numbers n"
                   " WHERE n.year = p_year), 0)) INTO last_sequence FROM certificates WHERE year = p_year;"
                   " IF p_sequence IS DISTINCT FROM last_sequence + 1 THEN RAISE EXCEPTION '")
               + kForwardOnly
               + QStringLiteral(
                   "' USING ERRCODE = 'P0001'; END IF;"
                   " INSERT INTO certificate_numbers (year, last_sequence) VALUES (p_year, p_sequence)"
                   " ON CONFLICT (year) DO UPDATE SET last_sequence = EXCLUDED.last_sequence;"
                   " SELECT COALESCE(MAX(id), 0) + 1 INTO new_id FROM certificates;"
                   " INSERT INTO certificates (id, number, year, sequence, record_id, as_found_record_id, serial_number,"
                   " relay_version_id, standard_version_id, lab_version_id, judgement_id, as_found_judgement_id, verdict,"
                   " tester, checker, approver, issued_at, issued_by, supersedes, content, sha256) VALUES (new_id, p_number,"
                   " p_year, p_sequence, p_record, p_as_found, p_serial, p_relay_version, p_standard_version, p_lab_version,"
                   " p_judgement, p_as_found_judgement, p_verdict, p_tester, p_checker, p_approver, t, who, p_supersedes,"
                   " p_content, p_sha256);"
                   " RETURN new_id; END $$");
    // The time of the approval as the program shows it.
    out << QStringLiteral("CREATE OR REPLACE FUNCTION sf6_approve_certificate(p_certificate integer, p_approver text) "
                          "RETURNS text ")
               + header
               + QStringLiteral(" DECLARE t timestamp := date_trunc('second', LOCALTIMESTAMP); BEGIN"
                                " INSERT INTO certificate_approvals (certificate_id, approver, approved_at, approved_by)"
                                " VALUES (p_certificate, p_approver, t, session_user);"
                                " RETURN ")
               + second + QStringLiteral("; END $$");
    // A signature made in this transaction: its time is the server's.
    out << QStringLiteral("CREATE OR REPLACE FUNCTION sf6_add_signature(p_certificate integer, p_role text, p_person text, "
                          "p_person_version integer, p_fingerprint text, p_signed_at text, p_sha256 text, p_audit_id integer, "
                          "p_audit_hash text, p_signature text) RETURNS integer ")
               + header
               + QStringLiteral(" DECLARE t timestamp := date_trunc('second', LOCALTIMESTAMP); new_id integer; BEGIN"
                                " IF p_signed_at IS DISTINCT FROM ")
               + second
               + QStringLiteral(" THEN RAISE EXCEPTION '")
               + kServerGivesTime
               + QStringLiteral("' USING ERRCODE = 'P0001'; END IF;"
                                " SELECT COALESCE(MAX(id), 0) + 1 INTO new_id FROM signatures;"
                                " INSERT INTO signatures (id, certificate_id, role, person, person_version_id, fingerprint,"
                                " signed_at, content_sha256, audit_id, audit_hash, signature) VALUES (new_id, p_certificate,"
                                " p_role, p_person, p_person_version, p_fingerprint, t, p_sha256, p_audit_id, p_audit_hash,"
                                " p_signature);"
                                " RETURN new_id; END $$");
    // Only the roles granted them may call them.
    for (const QString& f : {QStringLiteral("sf6_append_audit(text, text, text, text, text, text, text)"),
                             QStringLiteral("sf6_issue_certificate(text, integer, integer, integer, integer, text, integer, "
                                            "integer, integer, integer, integer, text, text, text, text, text, text, text)"),
                             QStringLiteral("sf6_approve_certificate(integer, text)"),
                             QStringLiteral("sf6_add_signature(integer, text, text, integer, text, text, text, integer, "
                                            "text, text)")})
        out << QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC").arg(f);
    return out;
}

Status installWriters(const Archive& archive)
{
    if (archive.location().engine != ArchiveLocation::Engine::PostgreSQL)
        return Status::success();
    const QString doing = QStringLiteral("升级结构");
    auto name = archive.run(QStringLiteral("SELECT quote_ident(current_schema())"), {}, doing);
    if (!name)
        return name.status();
    if (!name->next())
        return archive.failure(doing, QStringLiteral("数据库没有当前模式"));
    const QString schemaName = name->value(0).toString();
    name->finish();
    for (const QString& sql : writerStatements(schemaName))
        if (auto q = archive.run(sql, {}, doing); !q)
            return q.status();
    return Status::success();
}

} // namespace

const QStringList& writerFunctions()
{
    static const QStringList names{QStringLiteral("sf6_append_audit"), QStringLiteral("sf6_issue_certificate"),
                                   QStringLiteral("sf6_approve_certificate"), QStringLiteral("sf6_add_signature")};
    return names;
}

Status installGuards(const Archive& archive) { return installKeepTriggers(archive, kCurrentVersion); }

QString missingGuardsText(const QStringList& missing)
{
    return QStringLiteral("存档的保护触发器缺失或已被改动：%1").arg(missing.join(QStringLiteral("、")));
}

Expected<QStringList> missingGuards(const Archive& archive)
{
    const QString doing = QStringLiteral("检查存档的保护");
    const bool sqlite = archive.location().engine == ArchiveLocation::Engine::SQLite;
    // What the engine holds: SQLite the text of each trigger, PostgreSQL
    // whether each trigger is enabled and the function it runs.
    QHash<QString, QString> held;
    auto q = sqlite ? archive.run(QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type = 'trigger'"), {}, doing)
                    : archive.run(QStringLiteral("SELECT t.tgname, p.proname FROM pg_trigger t "
                                                 "JOIN pg_class c ON c.oid = t.tgrelid JOIN pg_proc p ON p.oid = t.tgfoid "
                                                 "WHERE NOT t.tgisinternal AND t.tgenabled <> 'D' "
                                                 "AND c.relnamespace = current_schema()::regnamespace"),
                                  {}, doing);
    if (!q)
        return q.status();
    while (q->next())
        held.insert(q->value(0).toString(), q->value(1).toString());
    q->finish();
    QHash<QString, QString> bodies;
    if (!sqlite) {
        auto f = archive.run(QStringLiteral("SELECT proname, prosrc FROM pg_proc "
                                            "WHERE pronamespace = current_schema()::regnamespace AND proname LIKE 'sf6%'"),
                             {}, doing);
        if (!f)
            return f.status();
        while (f->next())
            bodies.insert(f->value(0).toString(), f->value(1).toString());
    }
    QStringList missing;
    const int version = archive.schemaVersion() > 0 ? archive.schemaVersion() : kCurrentVersion;
    for (const Guard& g : guardsOf(archive.location().engine, version)) {
        const auto found = held.constFind(g.name);
        bool whole = found != held.constEnd();
        if (whole && sqlite) {
            QString expected = g.statements.front();
            expected.remove(QStringLiteral("IF NOT EXISTS "));
            whole = found->simplified() == expected.simplified();
        } else if (whole) {
            const auto body = bodies.constFind(g.function);
            whole = *found == g.function && body != bodies.constEnd()
                 && std::any_of(pgFunctions().begin(), pgFunctions().end(), [&](const GuardFunction& f) {
                        return f.name == g.function && f.body == *body;
                    });
        }
        if (!whole)
            missing << g.name;
    }
    return missing;
}

const QStringList& keptTables()
{
    static const QStringList tables{QStringLiteral("records"),           QStringLiteral("certificates"),
                                    QStringLiteral("certificate_approvals"), QStringLiteral("audit"),
                                    QStringLiteral("lab_versions"),      QStringLiteral("standard_versions"),
                                    QStringLiteral("relay_versions"),    QStringLiteral("lab_keys"),
                                    QStringLiteral("person_versions"),   QStringLiteral("signatures")};
    return tables;
}

QStringList tablesOf(int version)
{
    static const QRegularExpression create(QStringLiteral("^CREATE TABLE IF NOT EXISTS (\\w+)"));
    QStringList out;
    for (const Step& step : steps()) {
        if (step.version > version)
            break;
        for (const QString& sql : step.statements)
            if (const auto m = create.match(sql); m.hasMatch())
                out << m.captured(1).toLower();
    }
    out.sort();
    return out;
}

const std::vector<Step>& steps()
{
    static const std::vector<Step> all = [] {
        QString pressures;
        for (const QString& c : pressureColumns())
            pressures += QStringLiteral(",\n  %1 INTEGER NOT NULL").arg(c);
        Step v1{1, {
            QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
            // One row every writer updates first: it serialises the writers on both engines.
            QStringLiteral("CREATE TABLE IF NOT EXISTS archive_lock (id INTEGER PRIMARY KEY, counter INTEGER NOT NULL)"),
            QStringLiteral("INSERT INTO archive_lock (id, counter) SELECT 1, 0 "
                           "WHERE NOT EXISTS (SELECT 1 FROM archive_lock WHERE id = 1)"),
            // raw: the record's 105 bytes as sent, its identity. test_time: the
            // record's time where it is a calendar time, else NULL; test_order
            // sorts every record, valid time or not.
            QStringLiteral("CREATE TABLE IF NOT EXISTS records (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  raw BYTEA NOT NULL UNIQUE,\n"
                           "  test_time TIMESTAMP,\n"
                           "  test_order BIGINT NOT NULL,\n"
                           "  temperature_tenths INTEGER NOT NULL,\n"
                           "  acquisition_mode INTEGER NOT NULL,\n"
                           "  test_count INTEGER NOT NULL%1,\n"
                           "  archived_at TIMESTAMP NOT NULL\n"
                           ")").arg(pressures),
            QStringLiteral("CREATE INDEX IF NOT EXISTS records_by_time ON records (test_time)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS records_by_order ON records (test_order, id)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS syncs (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  synced_at TIMESTAMP NOT NULL,\n"
                           "  program TEXT NOT NULL,\n"
                           "  port TEXT NOT NULL,\n"
                           "  record_total INTEGER NOT NULL,\n"
                           "  rows_received INTEGER NOT NULL,\n"
                           "  outcome TEXT NOT NULL,\n"
                           "  new_records INTEGER NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS sync_records (\n"
                           "  sync_id INTEGER NOT NULL REFERENCES syncs (id),\n"
                           "  position INTEGER NOT NULL,\n"
                           "  record_id INTEGER NOT NULL REFERENCES records (id),\n"
                           "  PRIMARY KEY (sync_id, position)\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS reports (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  record_id INTEGER NOT NULL REFERENCES records (id),\n"
                           "  created_at TIMESTAMP NOT NULL,\n"
                           "  source TEXT NOT NULL,\n"
                           "  title TEXT NOT NULL,\n"
                           "  calibrating_unit TEXT NOT NULL,\n"
                           "  submitting_unit TEXT NOT NULL,\n"
                           "  test_date TEXT NOT NULL,\n"
                           "  print_date TEXT NOT NULL,\n"
                           "  relay_name TEXT NOT NULL,\n"
                           "  model TEXT NOT NULL,\n"
                           "  serial_number TEXT NOT NULL,\n"
                           "  production_date TEXT NOT NULL,\n"
                           "  tester TEXT NOT NULL,\n"
                           "  reviewer TEXT NOT NULL,\n"
                           "  approver TEXT NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS reports_by_record ON reports (record_id)"),
        }};
        // Decimal values are kept as their exact texts: SQLite would round a NUMERIC.
        Step v2{2, {
            QStringLiteral("CREATE TABLE IF NOT EXISTS relays (\n"
                           "  serial_number TEXT PRIMARY KEY,\n"
                           "  current_version INTEGER NOT NULL\n"
                           ")"),
            // Every edit is a new version; earlier ones stay as they were.
            QStringLiteral("CREATE TABLE IF NOT EXISTS relay_versions (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  serial_number TEXT NOT NULL,\n"
                           "  version INTEGER NOT NULL,\n"
                           "  changed_at TIMESTAMP NOT NULL,\n"
                           "  source TEXT NOT NULL,\n"
                           "  name TEXT NOT NULL,\n"
                           "  model TEXT NOT NULL,\n"
                           "  production_date TEXT NOT NULL,\n"
                           "  submitting_unit TEXT NOT NULL,\n"
                           "  range_lower TEXT NOT NULL,\n"
                           "  range_upper TEXT NOT NULL,\n"
                           "  accuracy_class TEXT NOT NULL,\n"
                           "  alarm_nominal TEXT,\n"
                           "  lock1_nominal TEXT,\n"
                           "  lock2_nominal TEXT,\n"
                           "  differential_limit TEXT,\n"
                           "  interval_months INTEGER NOT NULL,\n"
                           "  UNIQUE (serial_number, version)\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS record_relays (\n"
                           "  record_id INTEGER PRIMARY KEY REFERENCES records (id),\n"
                           "  serial_number TEXT NOT NULL,\n"
                           "  linked_at TIMESTAMP NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS record_relays_by_serial ON record_relays (serial_number)"),
            // items: the judgement as sf6cli archive judge prints it, numbers exact.
            QStringLiteral("CREATE TABLE IF NOT EXISTS judgements (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  record_id INTEGER NOT NULL REFERENCES records (id),\n"
                           "  relay_version_id INTEGER NOT NULL REFERENCES relay_versions (id),\n"
                           "  made_at TIMESTAMP NOT NULL,\n"
                           "  verdict TEXT NOT NULL,\n"
                           "  items TEXT NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS judgements_by_record ON judgements (record_id)"),
            QStringLiteral("ALTER TABLE reports ADD COLUMN judgement_id INTEGER"),
        }};
        // search_text: written by the program with foldedForSearch, searched with LIKE.
        Step v3{3, {
            QStringLiteral("ALTER TABLE reports ADD COLUMN search_text TEXT"),
            QStringLiteral("ALTER TABLE relay_versions ADD COLUMN search_text TEXT"),
            // Every link made or undone, in order: a wrong link undone stays on record.
            QStringLiteral("CREATE TABLE IF NOT EXISTS link_changes (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  record_id INTEGER NOT NULL REFERENCES records (id),\n"
                           "  serial_number TEXT NOT NULL,\n"
                           "  linked INTEGER NOT NULL,\n"
                           "  changed_at TIMESTAMP NOT NULL,\n"
                           "  source TEXT NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS link_changes_by_serial ON link_changes (serial_number)"),
        }, fillSearchTexts};
        // rows_read of an import is record_total; rows_received the rows that gave a record.
        Step v4{4, {
            QStringLiteral("ALTER TABLE syncs ADD COLUMN file_sha256 TEXT"),
            QStringLiteral("ALTER TABLE syncs ADD COLUMN rows_refused INTEGER NOT NULL DEFAULT 0"),
        }};
        // Certificates and what they name, and the audit trail. Rows of
        // records, certificates, approvals and audit are never changed.
        Step v5{5, {
            QStringLiteral("CREATE TABLE IF NOT EXISTS lab_versions (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  version INTEGER NOT NULL UNIQUE,\n"
                           "  changed_at TIMESTAMP NOT NULL,\n"
                           "  source TEXT NOT NULL,\n"
                           "  name TEXT NOT NULL,\n"
                           "  address TEXT NOT NULL,\n"
                           "  phone TEXT NOT NULL,\n"
                           "  accreditation TEXT NOT NULL,\n"
                           "  prefix TEXT NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS standards (\n"
                           "  serial_number TEXT PRIMARY KEY,\n"
                           "  current_version INTEGER NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS standard_versions (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  serial_number TEXT NOT NULL,\n"
                           "  version INTEGER NOT NULL,\n"
                           "  changed_at TIMESTAMP NOT NULL,\n"
                           "  source TEXT NOT NULL,\n"
                           "  name TEXT NOT NULL,\n"
                           "  model TEXT NOT NULL,\n"
                           "  certificate TEXT NOT NULL,\n"
                           "  issuer TEXT NOT NULL,\n"
                           "  valid_until TEXT NOT NULL,\n"
                           "  uncertainty TEXT NOT NULL,\n"
                           "  UNIQUE (serial_number, version)\n"
                           ")"),
            // content: the certificate as issued (canonical JSON), sha256 its hash.
            // A superseded certificate is the one another names in supersedes.
            certificatesTable(true),
            QStringLiteral("CREATE INDEX IF NOT EXISTS certificates_by_record ON certificates (record_id)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS certificates_by_supersedes ON certificates (supersedes)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS certificate_approvals (\n"
                           "  certificate_id INTEGER PRIMARY KEY REFERENCES certificates (id),\n"
                           "  approver TEXT NOT NULL,\n"
                           "  approved_at TIMESTAMP NOT NULL,\n"
                           "  approved_by TEXT NOT NULL\n"
                           ")"),
            // hash: SHA-256 of previous_hash and the row's own content (auditRowHash).
            QStringLiteral("CREATE TABLE IF NOT EXISTS audit (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  at TIMESTAMP NOT NULL,\n"
                           "  os_user TEXT NOT NULL,\n"
                           "  host TEXT NOT NULL,\n"
                           "  program TEXT NOT NULL,\n"
                           "  action TEXT NOT NULL,\n"
                           "  object TEXT NOT NULL,\n"
                           "  old_values TEXT,\n"
                           "  new_values TEXT,\n"
                           "  reason TEXT NOT NULL,\n"
                           "  previous_hash TEXT NOT NULL,\n"
                           "  hash TEXT NOT NULL\n"
                           ")"),
        }};   // its guards come with version 7's
        // Decimal values as their exact texts, as in version 2.
        Step v6{6, {
            QStringLiteral("ALTER TABLE lab_versions ADD COLUMN decision_rule TEXT"),
            QStringLiteral("ALTER TABLE standard_versions ADD COLUMN expanded_uncertainty TEXT"),
            QStringLiteral("ALTER TABLE standard_versions ADD COLUMN coverage_factor TEXT"),
            QStringLiteral("ALTER TABLE judgements ADD COLUMN decision_rule TEXT"),
            QStringLiteral("ALTER TABLE judgements ADD COLUMN expanded_uncertainty TEXT"),
            QStringLiteral("ALTER TABLE judgements ADD COLUMN coverage_factor TEXT"),
        }};
        // archive_head: the last audit row's id and hash, written with every
        // row appended; the relay versions saved before there was a trail,
        // which alone may lack their audit row. certificate_numbers: the last sequence given in each year.
        Step v7{7, {
            QStringLiteral("CREATE TABLE IF NOT EXISTS archive_head (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  audit_id INTEGER NOT NULL,\n"
                           "  audit_hash TEXT NOT NULL,\n"
                           "  relay_versions_before_trail INTEGER NOT NULL DEFAULT 0\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS certificate_numbers (\n"
                           "  year INTEGER PRIMARY KEY,\n"
                           "  last_sequence INTEGER NOT NULL\n"
                           ")"),
        }, fillHeads};
        Step v8{8, {}, installWriters};
        // The lab's signing key and the people's, each change a new version
        // (the keys only encrypted), and the signatures of certificates.
        // signed: the fields signatureText joins, signed by the person's key.
        Step v9{9, {
            QStringLiteral("CREATE TABLE IF NOT EXISTS lab_keys (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  version INTEGER NOT NULL UNIQUE,\n"
                           "  changed_at TIMESTAMP NOT NULL,\n"
                           "  source TEXT NOT NULL,\n"
                           "  certificate TEXT NOT NULL,\n"
                           "  locked_key TEXT NOT NULL,\n"
                           "  fingerprint TEXT NOT NULL\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS person_versions (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  name TEXT NOT NULL,\n"
                           "  version INTEGER NOT NULL,\n"
                           "  changed_at TIMESTAMP NOT NULL,\n"
                           "  source TEXT NOT NULL,\n"
                           "  roles TEXT NOT NULL,\n"
                           "  retired INTEGER NOT NULL,\n"
                           "  certificate TEXT NOT NULL,\n"
                           "  locked_key TEXT NOT NULL,\n"
                           "  fingerprint TEXT NOT NULL,\n"
                           "  lab_key_id INTEGER NOT NULL REFERENCES lab_keys (id),\n"
                           "  UNIQUE (name, version)\n"
                           ")"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS signatures (\n"
                           "  id INTEGER PRIMARY KEY,\n"
                           "  certificate_id INTEGER NOT NULL REFERENCES certificates (id),\n"
                           "  role TEXT NOT NULL,\n"
                           "  person TEXT NOT NULL,\n"
                           "  person_version_id INTEGER NOT NULL REFERENCES person_versions (id),\n"
                           "  fingerprint TEXT NOT NULL,\n"
                           "  signed_at TIMESTAMP NOT NULL,\n"
                           "  content_sha256 TEXT NOT NULL,\n"
                           "  audit_id INTEGER NOT NULL,\n"
                           "  audit_hash TEXT NOT NULL,\n"
                           "  signature TEXT NOT NULL,\n"
                           "  UNIQUE (certificate_id, role)\n"
                           ")"),
        }, [](const Archive& archive) {
            if (Status s = installKeepTriggers(archive, kSignaturesVersion); !s)
                return s;
            return installWriters(archive);
        }};
        // Where the lab's customers check a certificate, printed in its QR code.
        // A certificate's number alone is unique, so that two computers' archives merge.
        Step v10{10, {
            QStringLiteral("ALTER TABLE lab_versions ADD COLUMN verification_address TEXT"),
        }, [](const Archive& archive) { return installKeepTriggers(archive, 10); }, certificatesWithoutYearUnique};
        return std::vector<Step>{v1, v2, v3, v4, v5, v6, v7, v8, v9, v10};
    }();
    return all;
}

} // namespace sf6::schema
