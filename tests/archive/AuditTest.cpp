// The audit trail on both engines: rows chained by their hashes, a row
// altered or taken out found by the check, and the engine itself refusing to
// change or remove what must stay as it was.
#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "archive/Audit.h"
#include "archive/Schema.h"
#include "base/Platform.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QFile>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>

#include <chrono>

using namespace sf6;
using archivetest::Engine;
using archivetest::PgServer;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

SyncLog logOf(const std::vector<QByteArray>& records)
{
    SyncLog log;
    log.when = Archive::now();
    log.program = QStringLiteral("test");
    log.port = QStringLiteral("/dev/pts/test");
    log.recordTotal = int(records.size());
    log.records = records;
    return log;
}

std::vector<AuditRow> rowsOf(const Archive& a)
{
    std::vector<AuditRow> rows;
    const Status s = forEachAuditRow(a, [&](const AuditRow& r) {
        rows.push_back(r);
        return true;
    });
    EXPECT_TRUE(s) << s.message().toStdString();
    return rows;
}

Status append(Archive& a, const std::vector<AuditEntry>& entries)
{
    Archive::Write w(a);
    if (!w.begun())
        return w.begun();
    for (const AuditEntry& e : entries)
        if (Status s = appendAudit(a, e); !s)
            return s;
    return w.commit();
}

AuditEntry relayEdit(int n)
{
    return {audit::kRelayChanged, QStringLiteral("relay R%1").arg(n), QJsonObject{{QStringLiteral("name"), QStringLiteral("旧")}},
            QJsonObject{{QStringLiteral("name"), QStringLiteral("新 %1").arg(n)}}, QString()};
}

// What the program's writers add for one certificate, the register's changes
// on the way included, in one write: rows in every kept table and every
// privilege an engineer's role needs.
Status addCertificate(Archive& a, int record)
{
    Archive::Write w(a);
    if (!w.begun())
        return w.begun();
    const QString t = Archive::now();
    const std::vector<std::pair<QString, QVariantList>> steps{
        {QStringLiteral("INSERT INTO relay_versions (id, serial_number, version, changed_at, source, name, model, "
                        "production_date, submitting_unit, range_lower, range_upper, accuracy_class, interval_months) "
                        "VALUES (1, 'R1', 1, ?, 't', 'n', 'm', '', '', '-0.1', '0.9', '2.5', 12)"),
         {t}},
        {QStringLiteral("INSERT INTO relays (serial_number, current_version) VALUES ('R1', 1)"), {}},
        {QStringLiteral("UPDATE relays SET current_version = ? WHERE serial_number = ?"), {1, QStringLiteral("R1")}},
        {QStringLiteral("INSERT INTO record_relays (record_id, serial_number, linked_at) VALUES (?, 'R1', ?)"), {record, t}},
        {QStringLiteral("DELETE FROM record_relays WHERE record_id = ?"), {record}},
        {QStringLiteral("INSERT INTO link_changes (id, record_id, serial_number, linked, changed_at, source) "
                        "VALUES (1, ?, 'R1', 0, ?, 't')"),
         {record, t}},
        {QStringLiteral("INSERT INTO judgements (id, record_id, relay_version_id, made_at, verdict, items) "
                        "VALUES (1, ?, 1, ?, '合格', '[]')"),
         {record, t}},
        {QStringLiteral("INSERT INTO lab_versions (id, version, changed_at, source, name, address, phone, "
                        "accreditation, prefix) VALUES (1, 1, ?, 't', '实验室', '', '', '', 'SF6')"),
         {t}},
        {QStringLiteral("INSERT INTO standard_versions (id, serial_number, version, changed_at, source, name, model, "
                        "certificate, issuer, valid_until, uncertainty) "
                        "VALUES (1, 'S1', 1, ?, 't', 'n', 'm', 'c', 'i', '2030-01-01', 'u')"),
         {t}},
        {QStringLiteral("INSERT INTO standards (serial_number, current_version) VALUES ('S1', 1)"), {}},
        {QStringLiteral("UPDATE standards SET current_version = ? WHERE serial_number = ?"), {1, QStringLiteral("S1")}},
        {QStringLiteral("INSERT INTO certificates (id, number, year, sequence, record_id, serial_number, "
                        "relay_version_id, standard_version_id, lab_version_id, judgement_id, verdict, tester, checker, "
                        "approver, issued_at, issued_by, content, sha256) VALUES "
                        "(1, 'SF6-2026-0001', 2026, 1, ?, 'R1', 1, 1, 1, 1, '合格', 'a', 'b', '', ?, 'u', '{}', 'h')"),
         {record, t}},
        {QStringLiteral("INSERT INTO certificate_approvals (certificate_id, approver, approved_at, approved_by) "
                        "VALUES (1, 'c', ?, 'u')"),
         {t}}};
    // On a server the certificate and its approval go through the owner's
    // writers, with content naming the server's time and the login.
    const bool server = writesThroughServer(a);
    for (const auto& [sql, values] : steps) {
        if (server && sql.startsWith(QLatin1String("INSERT INTO certificate")))
            continue;
        if (auto q = a.runList(sql, values, QStringLiteral("test")); !q)
            return q.status();
    }
    if (server) {
        auto who = a.run(QStringLiteral("SELECT to_char(LOCALTIMESTAMP, 'YYYY-MM-DD HH24:MI:SS'), session_user"), {},
                         QStringLiteral("test"));
        if (!who)
            return who.status();
        who->next();
        const QString at = who->value(0).toString(), user = who->value(1).toString(), year = at.left(4);
        const QString number = QStringLiteral("SF6-%1-0001").arg(year);
        const QByteArray content = QJsonDocument(QJsonObject{{QStringLiteral("issuedAt"), at},
                                                             {QStringLiteral("issuedBy"), user},
                                                             {QStringLiteral("number"), number}})
                                       .toJson(QJsonDocument::Compact);
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        for (const auto& [sql, values] :
             {std::pair{QStringLiteral("SELECT sf6_issue_certificate(?, ?, 1, ?, NULL, 'R1', 1, 1, 1, 1, NULL, '合格', "
                                       "'a', 'b', '', NULL, ?, ?)"),
                        QVariantList{number, year.toInt(), record, QString::fromUtf8(content), sha}},
              std::pair{QStringLiteral("SELECT sf6_approve_certificate(1, 'c')"), QVariantList{}}})
            if (auto q = a.runList(sql, values, QStringLiteral("test")); !q)
                return q.status();
    }
    if (Status s = appendAudit(a, {audit::kCertificateIssued, QStringLiteral("certificate SF6-2026-0001"), QJsonValue(),
                               QJsonObject{{QStringLiteral("record"), record}}, {}});
    !s)
    return s;
    return w.commit();
}

class AuditOn : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        location = archivetest::freshLocation(GetParam(), dir);
        auto a = Archive::open(*ArchiveLocation::parse(location));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        archive = *a;
    }
    bool sqlite() const { return GetParam() == Engine::SQLite; }
    // A statement the archive's own guard would refuse, run as someone who
    // went round it.
    void tamper(const QString& table, const QString& sql)
    {
        QSqlQuery q(archive->database());
        if (sqlite()) {
            ASSERT_TRUE(q.exec(QStringLiteral("DROP TRIGGER IF EXISTS %1_kept_update").arg(table)));
            ASSERT_TRUE(q.exec(QStringLiteral("DROP TRIGGER IF EXISTS %1_kept_delete").arg(table)));
        } else {
            ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE %1 DISABLE TRIGGER %1_kept").arg(table)));
        }
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
    }
    QTemporaryDir dir;
    QString location;
    std::shared_ptr<Archive> archive;
};

} // namespace

// Each row says when, who, where and with what program, its values as
// compact JSON or NULL, and follows the row before by its hash.
TEST_P(AuditOn, rowsNameWhoAndWhereAndChainFromTheFirst)
{
    ASSERT_TRUE(append(*archive, {relayEdit(1),
                                  {audit::kLinked, QStringLiteral("record 7"), QJsonValue(),
                                   QJsonObject{{QStringLiteral("relay"), QStringLiteral("R1")}}, QString()},
                                  {audit::kImported, QStringLiteral("file 旧 数据.xlsx"), QJsonValue(), QJsonValue(12),
                                   QStringLiteral("补录")}}));
    const auto rows = rowsOf(*archive);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].id, 1);
    EXPECT_EQ(rows[0].previousHash, QString(64, u'0'));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].user, platform::userName());
        EXPECT_EQ(rows[i].host, QSysInfo::machineHostName());
        EXPECT_EQ(rows[i].program, QCoreApplication::applicationName());
        EXPECT_EQ(rows[i].hash, auditRowHash(rows[i].previousHash, rows[i]));
        EXPECT_EQ(rows[i].hash.size(), 64);
        if (i > 0) {
            EXPECT_EQ(rows[i].previousHash, rows[i - 1].hash);
        }
    }
    EXPECT_EQ(rows[0].oldValues, QStringLiteral("{\"name\":\"旧\"}"));
    EXPECT_EQ(rows[0].newValues, QStringLiteral("{\"name\":\"新 1\"}"));
    EXPECT_TRUE(rows[1].oldValues.isNull()) << "nothing before a new link";
    EXPECT_EQ(rows[2].newValues, QStringLiteral("12"));
    EXPECT_EQ(rows[2].reason, QStringLiteral("补录"));
    EXPECT_EQ(rows[2].object, QStringLiteral("file 旧 数据.xlsx"));

    auto check = verifyAuditChain(*archive);
    ASSERT_TRUE(check.ok()) << check.error().toStdString();
    EXPECT_EQ(check->rows, 3);
    EXPECT_FALSE(check->firstAltered);
}

// Rows only join with the change they belong to: a write rolled back leaves
// no audit row, and the chain goes on from the last committed one.
TEST_P(AuditOn, aRolledBackWriteLeavesNoRow)
{
    ASSERT_TRUE(append(*archive, {relayEdit(1)}));
    {
        Archive::Write w(*archive);
        ASSERT_TRUE(w.begun());
        ASSERT_TRUE(appendAudit(*archive, relayEdit(2)));
    }
    ASSERT_TRUE(append(*archive, {relayEdit(3)}));
    const auto rows = rowsOf(*archive);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].id, 2);
    EXPECT_EQ(rows[1].object, QStringLiteral("relay R3"));
    EXPECT_TRUE(verifyAuditChain(*archive)->rows == 2);
}

// Whatever was done by hand behind the program, the check names the first
// row that no longer holds, with a sentence for the user.
TEST_P(AuditOn, theCheckNamesTheFirstRowAlteredOrTakenOut)
{
    std::vector<AuditEntry> entries;
    for (int i = 1; i <= 6; ++i)
        entries.push_back(relayEdit(i));
    ASSERT_TRUE(append(*archive, entries));

    tamper(QStringLiteral("audit"), QStringLiteral("UPDATE audit SET new_values = '{\"name\":\"假\"}' WHERE id = 4"));
    auto edited = verifyAuditChain(*archive);
    ASSERT_TRUE(edited.ok());
    EXPECT_EQ(edited->firstAltered, 4);
    EXPECT_EQ(edited->rows, 3);
    EXPECT_TRUE(edited->why.contains(QStringLiteral("第4条审计记录已被改动"))) << edited->why.toStdString();

    // Changed and given a hash of its own again: the next row no longer follows it.
    AuditRow forged = rowsOf(*archive)[3];
    const QString hash = auditRowHash(forged.previousHash, forged);
    tamper(QStringLiteral("audit"), QStringLiteral("UPDATE audit SET hash = '%1' WHERE id = 4").arg(hash));
    EXPECT_EQ(verifyAuditChain(*archive)->firstAltered, 4);
    // The user changed on row 2 in a way one reading the table would miss.
    tamper(QStringLiteral("audit"), QStringLiteral("UPDATE audit SET os_user = os_user || ' ' WHERE id = 2"));
    EXPECT_EQ(verifyAuditChain(*archive)->firstAltered, 2);
}

TEST_P(AuditOn, theCheckFindsARowTakenFromTheMiddleOrTheStart)
{
    std::vector<AuditEntry> entries;
    for (int i = 1; i <= 5; ++i)
        entries.push_back(relayEdit(i));
    ASSERT_TRUE(append(*archive, entries));
    tamper(QStringLiteral("audit"), QStringLiteral("DELETE FROM audit WHERE id = 3"));
    auto middle = verifyAuditChain(*archive);
    ASSERT_TRUE(middle.ok());
    EXPECT_EQ(middle->firstAltered, 3);
    EXPECT_TRUE(middle->why.contains(QStringLiteral("第3条审计记录已被删除"))) << middle->why.toStdString();
    tamper(QStringLiteral("audit"), QStringLiteral("DELETE FROM audit WHERE id = 1"));
    EXPECT_EQ(verifyAuditChain(*archive)->firstAltered, 1);
}

// Records, certificates, approvals and the trail refuse UPDATE and DELETE
// from anyone, with a message saying why.
TEST_P(AuditOn, theEngineRefusesToChangeOrRemoveKeptRows)
{
    Archive& a = *archive;
    auto synced = archiveSync(a, logOf(sim::plausibleRecords(2)));
    ASSERT_TRUE(synced.ok()) << synced.error().toStdString();
    const int record = synced->recordIds.front();
    ASSERT_TRUE(addCertificate(a, record));
    QStringList attempts{QStringLiteral("UPDATE records SET test_count = test_count + 1"),
                         QStringLiteral("DELETE FROM records WHERE id = %1").arg(record),
                         QStringLiteral("UPDATE certificates SET verdict = '不合格'"),
                         QStringLiteral("DELETE FROM certificates"),
                         QStringLiteral("UPDATE certificate_approvals SET approver = 'x'"),
                         QStringLiteral("DELETE FROM certificate_approvals"),
                         QStringLiteral("UPDATE audit SET reason = 'x'"),
                         QStringLiteral("DELETE FROM audit")};
    if (!sqlite())
        attempts << QStringLiteral("TRUNCATE records CASCADE") << QStringLiteral("TRUNCATE certificate_approvals")
                 << QStringLiteral("TRUNCATE audit");
    for (const QString& sql : attempts) {
        auto q = a.run(sql, {}, QStringLiteral("改"));
        ASSERT_FALSE(q.ok()) << sql.toStdString();
        EXPECT_TRUE(q.error().endsWith(schema::kRowsKeptAsTheyAre)) << q.error().toStdString();
        QSqlQuery direct(a.database());
        ASSERT_FALSE(direct.exec(sql));
        EXPECT_EQ(Archive::reason(direct.lastError()), schema::kRowsKeptAsTheyAre);
    }
    for (const char* table : {"records", "certificates", "certificate_approvals", "audit"}) {
        auto q = a.run(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)), {}, QStringLiteral("数"));
        ASSERT_TRUE(q && q->next());
        EXPECT_GT(q->value(0).toInt(), 0) << table;
    }
    EXPECT_EQ(listRecords(a, {})->size(), 2u);
    EXPECT_EQ(verifyAuditChain(a)->rows, 1);
}

// An archive of the fourth schema gets the guards on its upgrade and keeps
// every row it held.
TEST_P(AuditOn, anUpgradedArchiveKeepsItsRowsAndGetsTheGuards)
{
    archive.reset();
    QTemporaryDir oldDir;
    const QString database = sqlite() ? oldDir.filePath(QStringLiteral("v4 旧.sqlite"))
                                      : PgServer::instance().newDatabaseName();
    const QString old = sqlite() ? database : PgServer::instance().location(database);
    const QByteArray raw = sim::plausibleRecords(1).front();
    QStringList statements;
    for (const schema::Step& step : schema::steps())
        if (step.version <= 4)
            statements += QStringList(step.statements.begin(), step.statements.end());
    statements << QStringLiteral("INSERT INTO schema_version (version) VALUES (4)");
    QString columns = QStringLiteral("id, raw, test_time, test_order, temperature_tenths, acquisition_mode, test_count, archived_at");
    QString values = QStringLiteral("1, %1, '2012-05-01 08:00:00', 201205010800, 225, 0, 3, '2026-01-02 03:04:05'")
                         .arg(sqlite() ? QStringLiteral("X'%1'").arg(QLatin1String(raw.toHex()))
                                       : QStringLiteral("'\\x%1'::bytea").arg(QLatin1String(raw.toHex())));
    for (const QString& c : schema::pressureColumns()) {
        columns += QStringLiteral(", ") + c;
        values += QStringLiteral(", 0");
    }
    statements << QStringLiteral("INSERT INTO records (%1) VALUES (%2)").arg(columns, values);
    if (sqlite()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v4"));
        db.setDatabaseName(database);
        ASSERT_TRUE(db.open());
        for (const QString& sql : statements)
            ASSERT_TRUE(QSqlQuery(db).exec(sql)) << sql.toStdString();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("v4"));
    } else {
        for (const QString& sql : statements)
            ASSERT_TRUE(PgServer::instance().exec(database, sql)) << sql.toStdString();
    }

    auto a = Archive::open(*ArchiveLocation::parse(old));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    EXPECT_EQ((*a)->schemaVersion(), schema::kCurrentVersion);
    auto records = listRecords(**a, {});
    ASSERT_TRUE(records.ok() && records->size() == 1u);
    EXPECT_EQ(records->front().raw, raw);
    auto refused = (*a)->run(QStringLiteral("DELETE FROM records"), {}, QStringLiteral("删除"));
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().endsWith(schema::kRowsKeptAsTheyAre)) << refused.error().toStdString();
    EXPECT_EQ(listRecords(**a, {})->size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Engines, AuditOn, archivetest::testedEngines(), archivetest::engineName);

#ifndef _WIN32

// The README's role for engineers adds and reads everything the program
// keeps, and cannot change or remove records, certificates, approvals, the
// trail or the versions even where the owner has disabled the triggers.
TEST(AuditRole, theEngineersRoleAddsAndReadsButCannotChangeKeptRowsEvenWithoutTheTriggers)
{
    QTemporaryDir dir;
    const QString location = archivetest::freshLocation(Engine::PostgreSQL, dir);
    const QString database = location.section(u'/', 3).section(u'?', 0, 0);
    PgServer& pg = PgServer::instance();
    {
        auto owner = Archive::open(*ArchiveLocation::parse(location));
        ASSERT_TRUE(owner.ok()) << owner.error().toStdString();
        ASSERT_TRUE(archiveSync(**owner, logOf(sim::plausibleRecords(2))).ok());
    }
    const QStringList statements = archivetest::readmeRoleStatements(QStringLiteral(SF6_README));
    ASSERT_GE(statements.size(), 5) << "the README's block of SQL";
    for (QString sql : statements)
        ASSERT_TRUE(pg.exec(database, sql.replace(QStringLiteral("sf6archive"), database))) << sql.toStdString();
    auto opened = Archive::open(*ArchiveLocation::parse(location + QStringLiteral("&user=engineer1")));
    ASSERT_TRUE(opened.ok()) << opened.error().toStdString();
    Archive& a = **opened;
    ASSERT_FALSE(a.readOnly()) << a.readOnlyReason().toStdString();

    // What a sync, an import, a report, the register and a certificate do.
    SyncLog imported = logOf(sim::plausibleRecords(3, 44));
    imported.fileSha256 = QString(64, u'a');
    auto synced = archiveSync(a, imported);
    ASSERT_TRUE(synced.ok()) << synced.error().toStdString();
    const int record = synced->recordIds.front();
    ASSERT_TRUE(storeReport(a, record, {}, QStringLiteral("test")).ok());
    const Status certified = addCertificate(a, record);
    ASSERT_TRUE(certified) << certified.message().toStdString();
    auto check = verifyAuditChain(a);
    ASSERT_TRUE(check.ok()) << check.error().toStdString();
    EXPECT_EQ(check->rows, 3) << "the import, the report and the certificate";

    // The trail, certificates, numbers and approvals only through the owner's
    // writers: a row of one's own making is refused by the server.
    for (const QString& sql :
         {QStringLiteral("INSERT INTO audit (id, at, os_user, host, program, action, object, reason, previous_hash, hash) "
                         "VALUES (99, LOCALTIMESTAMP, 'boss', 'h', 'p', 'a', 'o', '', 'x', 'y')"),
          QStringLiteral("INSERT INTO certificate_approvals (certificate_id, approver, approved_at, approved_by) "
                         "SELECT id, 'boss', LOCALTIMESTAMP, 'boss' FROM certificates"),
          QStringLiteral("INSERT INTO certificates (id, number, year, sequence, record_id, serial_number, "
                         "relay_version_id, standard_version_id, lab_version_id, judgement_id, verdict, tester, checker, "
                         "approver, issued_at, issued_by, content, sha256) SELECT 2, 'F-1', 2026, 9, record_id, "
                         "serial_number, relay_version_id, standard_version_id, lab_version_id, judgement_id, verdict, "
                         "tester, checker, approver, issued_at, 'boss', content, sha256 FROM certificates"),
          QStringLiteral("INSERT INTO certificate_numbers (year, last_sequence) VALUES (1999, 1)"),
          QStringLiteral("UPDATE certificate_numbers SET last_sequence = last_sequence + 1"),
          QStringLiteral("UPDATE archive_head SET audit_id = audit_id + 1")}) {
        Archive::Write w(a);
        ASSERT_TRUE(w.begun());
        auto refused = a.run(sql, {}, QStringLiteral("写"));
        ASSERT_FALSE(refused.ok()) << sql.toStdString();
        EXPECT_TRUE(refused.error().contains(QStringLiteral("数据库账户没有这项操作的权限"))) << refused.error().toStdString();
    }
    // The login is the row's user, not the PC's account, nor a role set.
    ASSERT_NE(platform::userName(), QStringLiteral("engineer1"));
    QSqlQuery setRole(a.database());
    ASSERT_TRUE(setRole.exec(QStringLiteral("SET ROLE sf6_engineers")));
    ASSERT_TRUE(append(a, {relayEdit(1)}));
    ASSERT_TRUE(setRole.exec(QStringLiteral("RESET ROLE")));
    const std::vector<AuditRow> rows = rowsOf(a);
    ASSERT_EQ(rows.size(), 4u);
    for (const AuditRow& row : rows)
        EXPECT_EQ(row.user, QStringLiteral("engineer1")) << row.action.toStdString();
    EXPECT_EQ(verifyAuditChain(a)->rows, 4);

    // The owner's triggers off: the program writes no more, and the role's
    // privileges alone still refuse every change.
    for (const QString& table : schema::keptTables())
        ASSERT_TRUE(pg.exec(database, QStringLiteral("ALTER TABLE %1 DISABLE TRIGGER %1_kept").arg(table)));
    EXPECT_FALSE(storeReport(a, record, {}, QStringLiteral("test")).ok()) << "no write without the guards";
    for (const QString& table : schema::keptTables()) {
        for (const QString& sql : {QStringLiteral("UPDATE %1 SET %2 = %2").arg(table, table == QLatin1String("certificate_approvals")
                                                                                         ? QStringLiteral("approver")
                                                                                         : QStringLiteral("id")),
                                   QStringLiteral("DELETE FROM %1").arg(table), QStringLiteral("TRUNCATE %1 CASCADE").arg(table)}) {
            auto refused = a.run(sql, {}, QStringLiteral("改"));
            ASSERT_FALSE(refused.ok()) << sql.toStdString();
            EXPECT_TRUE(refused.error().contains(QStringLiteral("数据库账户没有这项操作的权限"))) << refused.error().toStdString();
        }
    }
    EXPECT_EQ(listRecords(a, {})->size(), 5u);
    EXPECT_EQ(verifyAuditChain(a)->rows, 4);
}

// Version 7 had no writers: the owner's next opening installs them, run as
// the owner with a fixed search path and callable only by those granted them.
TEST(AuditRole, anArchiveOfVersion7GetsTheWritersWhenItsOwnerOpensIt)
{
    QTemporaryDir dir;
    const QString location = archivetest::freshLocation(Engine::PostgreSQL, dir);
    const QString database = location.section(u'/', 3).section(u'?', 0, 0);
    PgServer& pg = PgServer::instance();
    {
        auto a = Archive::open(*ArchiveLocation::parse(location));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        ASSERT_TRUE(append(**a, {relayEdit(1)}));
    }
    for (const QString& f : schema::writerFunctions())
        ASSERT_TRUE(pg.exec(database, QStringLiteral("DROP FUNCTION %1").arg(f)));
    // Nor the tables of later versions.
    QStringList later = schema::tablesOf(schema::kCurrentVersion);
    for (const QString& t : schema::tablesOf(7))
        later.removeAll(t);
    ASSERT_TRUE(pg.exec(database, QStringLiteral("DROP TABLE %1").arg(later.join(u','))));
    // Nor the columns of later versions.
    ASSERT_TRUE(pg.exec(database, QStringLiteral("ALTER TABLE lab_versions DROP COLUMN verification_address")));
    ASSERT_TRUE(pg.exec(database, QStringLiteral("UPDATE schema_version SET version = 7")));
    auto a = Archive::open(*ArchiveLocation::parse(location));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    EXPECT_EQ((*a)->schemaVersion(), schema::kCurrentVersion);
    auto q = (*a)->run(QStringLiteral("SELECT proname FROM pg_proc WHERE proname LIKE 'sf6\\_%' AND prosecdef "
                                      "AND array_to_string(proconfig, ',') LIKE 'search_path=%' "
                                      "AND NOT has_function_privilege('public', oid, 'EXECUTE') ORDER BY proname"),
                       {}, QStringLiteral("test"));
    ASSERT_TRUE(q.ok()) << q.error().toStdString();
    QStringList found;
    while (q->next())
        found << q->value(0).toString();
    QStringList expected = schema::writerFunctions();
    expected.sort();
    EXPECT_EQ(found, expected);
    ASSERT_TRUE(append(**a, {relayEdit(2)}));
    auto check = verifyAuditChain(**a);
    ASSERT_TRUE(check.ok());
    EXPECT_EQ(check->rows, 2);
    EXPECT_FALSE(check->firstAltered) << check->why.toStdString();
}
#endif
