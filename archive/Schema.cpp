#include "archive/Schema.h"

#include "archive/Archive.h"
#include "archive/SearchText.h"
#include <QRegularExpression>

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
                                    QStringLiteral("audit")};
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

// The database itself refuses changes to the rows that must stay as they
// were, so that a hand-written statement is refused too.
Status installKeepTriggers(const Archive& archive)
{
    const QString doing = QStringLiteral("升级结构");
    QStringList statements;
    if (archive.location().engine == ArchiveLocation::Engine::SQLite) {
        // SQLite's RAISE takes a literal only; the message holds no quote.
        for (const QString& table : keptTables())
            for (const char* event : {"UPDATE", "DELETE"})
                statements << QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_kept_%2 BEFORE %3 ON %1 "
                                             "BEGIN SELECT RAISE(ABORT, '%4'); END")
                                  .arg(table, QString::fromLatin1(event).toLower(), QLatin1String(event),
                                       kRowsKeptAsTheyAre);
    } else {
        // Per statement, so that TRUNCATE is refused as well.
        statements << QStringLiteral("CREATE OR REPLACE FUNCTION sf6_rows_kept() RETURNS trigger LANGUAGE plpgsql AS "
                                     "$$ BEGIN RAISE EXCEPTION '%1' USING ERRCODE = 'P0001'; END $$")
                          .arg(kRowsKeptAsTheyAre);
        for (const QString& table : keptTables())
            statements << QStringLiteral("DROP TRIGGER IF EXISTS %1_kept ON %1").arg(table)
                       << QStringLiteral("CREATE TRIGGER %1_kept BEFORE UPDATE OR DELETE OR TRUNCATE ON %1 "
                                         "FOR EACH STATEMENT EXECUTE FUNCTION sf6_rows_kept()")
                              .arg(table);
    }
    for (const QString& sql : statements)
        if (auto q = archive.run(sql, {}, doing); !q)
            return q.status();
    return Status::success();
}

} // namespace

const QStringList& keptTables()
{
    static const QStringList tables{QStringLiteral("records"), QStringLiteral("certificates"),
                                    QStringLiteral("certificate_approvals"), QStringLiteral("audit")};
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
            QStringLiteral("CREATE TABLE IF NOT EXISTS certificates (\n"
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
                           "  sha256 TEXT NOT NULL,\n"
                           "  UNIQUE (year, sequence)\n"
                           ")"),
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
        }, installKeepTriggers};
        // Decimal values as their exact texts, as in version 2.
        Step v6{6, {
            QStringLiteral("ALTER TABLE lab_versions ADD COLUMN decision_rule TEXT"),
            QStringLiteral("ALTER TABLE standard_versions ADD COLUMN expanded_uncertainty TEXT"),
            QStringLiteral("ALTER TABLE standard_versions ADD COLUMN coverage_factor TEXT"),
            QStringLiteral("ALTER TABLE judgements ADD COLUMN decision_rule TEXT"),
            QStringLiteral("ALTER TABLE judgements ADD COLUMN expanded_uncertainty TEXT"),
            QStringLiteral("ALTER TABLE judgements ADD COLUMN coverage_factor TEXT"),
        }};
        return std::vector<Step>{v1, v2, v3, v4, v5, v6};
    }();
    return all;
}

} // namespace sf6::schema
