// The archive on both engines, SQLite files and a real PostgreSQL server:
// syncs stored once, reports kept, lists filtered, and archives that are
// broken, foreign, newer or out of reach refused with a reason and left as
// they were.
#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "archive/Schema.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"
#include "tests/archive/PgServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <thread>

using namespace sf6;
using archivetest::Engine;
using archivetest::PgServer;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

SyncLog logOf(const std::vector<QByteArray>& records, SyncEnd end = SyncEnd::Complete, int total = -1)
{
    SyncLog log;
    log.when = Archive::now();
    log.program = QStringLiteral("test");
    log.port = QStringLiteral("/dev/pts/test");
    log.recordTotal = total < 0 ? int(records.size()) : total;
    log.end = end;
    log.records = records;
    return log;
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// SQL run on a plain SQLite connection of its own, as another program would.
void sqliteExec(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        for (const QString& sql : statements)
            ASSERT_TRUE(QSqlQuery(db).exec(sql)) << sql.toStdString();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
}

qint64 applicationId(const Archive& a)
{
    auto q = a.run(QStringLiteral("PRAGMA application_id"), {}, QStringLiteral("read"));
    return q && q->next() ? q->value(0).toLongLong() : -1;
}

int count(const Archive& a, const QString& table)
{
    auto q = a.run(QStringLiteral("SELECT COUNT(*) FROM ") + table, {}, QStringLiteral("count"));
    return q && q->next() ? q->value(0).toInt() : -1;
}

class ArchiveOn : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override { location = archivetest::freshLocation(GetParam(), dir); }
    std::shared_ptr<Archive> open()
    {
        auto loc = ArchiveLocation::parse(location);
        EXPECT_TRUE(loc.ok()) << loc.error().toStdString();
        auto a = Archive::open(*loc);
        EXPECT_TRUE(a.ok()) << a.error().toStdString();
        return a ? std::move(*a) : nullptr;
    }
    Expected<std::shared_ptr<Archive>> tryOpen() const { return Archive::open(*ArchiveLocation::parse(location)); }
    QTemporaryDir dir;
    QString location;
};

} // namespace

TEST_P(ArchiveOn, aSyncIsStoredOnceAndEveryResyncIsLogged)
{
    auto a = open();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->schemaVersion(), schema::kCurrentVersion);
    const auto records = sim::plausibleRecords(12);
    auto first = archiveSync(*a, logOf(records));
    ASSERT_TRUE(first.ok()) << first.error().toStdString();
    EXPECT_EQ(first->newRecords, 12);
    ASSERT_EQ(first->recordIds.size(), 12u);
    EXPECT_EQ(archivedText(*first), QStringLiteral("已存档12条新记录"));

    // The instrument still holds them: the same sync again adds no record.
    auto again = archiveSync(*a, logOf(records));
    ASSERT_TRUE(again.ok()) << again.error().toStdString();
    EXPECT_EQ(again->newRecords, 0);
    EXPECT_EQ(again->recordIds, first->recordIds);
    EXPECT_EQ(count(*a, QStringLiteral("records")), 12);
    EXPECT_EQ(count(*a, QStringLiteral("syncs")), 2);
    EXPECT_EQ(count(*a, QStringLiteral("sync_records")), 24);

    // What comes out is what went in, byte for byte and text for text.
    auto listed = listRecords(*a, {});
    ASSERT_TRUE(listed.ok()) << listed.error().toStdString();
    ASSERT_EQ(listed->size(), 12u);
    for (const ArchivedRecord& r : *listed) {
        const auto at = std::find(first->recordIds.begin(), first->recordIds.end(), r.id) - first->recordIds.begin();
        ASSERT_LT(at, 12);
        EXPECT_EQ(r.raw, records[size_t(at)]);
        const ListRow row = r.row();
        EXPECT_EQ(row.mid(1), decodeRecord(reinterpret_cast<const unsigned char*>(records[size_t(at)].constData()), 1).mid(1));
        EXPECT_EQ(row[0], QString::number(r.id));
        EXPECT_EQ(r.archivedAt.size(), 19) << r.archivedAt.toStdString();
    }
    // Newest test first.
    for (size_t i = 1; i < listed->size(); ++i)
        EXPECT_GE((*listed)[i - 1].row()[kColTime], (*listed)[i].row()[kColTime]);

    auto syncs = listSyncs(*a);
    ASSERT_TRUE(syncs.ok());
    ASSERT_EQ(syncs->size(), 2u);
    EXPECT_EQ((*syncs)[0].newRecords, 12);
    EXPECT_EQ((*syncs)[1].newRecords, 0);
    EXPECT_EQ((*syncs)[1].outcome, QStringLiteral("complete"));
}

TEST_P(ArchiveOn, aStalledSyncKeepsTheRowsThatCame)
{
    auto a = open();
    ASSERT_TRUE(a);
    const auto records = sim::plausibleRecords(5);
    auto r = archiveSync(*a, logOf({records[0], records[1]}, SyncEnd::Stalled, 5));
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(r->newRecords, 2);
    auto syncs = listSyncs(*a);
    ASSERT_TRUE(syncs.ok());
    EXPECT_EQ((*syncs)[0].outcome, QStringLiteral("stalled"));
    EXPECT_EQ((*syncs)[0].recordTotal, 5);
    EXPECT_EQ((*syncs)[0].rowsReceived, 2);
}

TEST_P(ArchiveOn, reportsAreKeptAndTheLatestIsFound)
{
    auto a = open();
    ASSERT_TRUE(a);
    auto s = archiveSync(*a, logOf(sim::plausibleRecords(2)));
    ASSERT_TRUE(s.ok());
    const int id = s->recordIds[0];
    auto none = latestReport(*a, id);
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none->has_value());
    ReportDetails d = defaultReportDetails(QStringLiteral("2026-12-9"));
    d.relayName = QStringLiteral("2#主变继电器");
    d.submittingUnit = QStringLiteral("天山换流站");
    auto stored = storeReport(*a, id, d, QStringLiteral("test"));
    ASSERT_TRUE(stored.ok()) << stored.error().toStdString();
    d.tester = QStringLiteral("赵六");
    ASSERT_TRUE(storeReport(*a, id, d, QStringLiteral("test")).ok());
    auto latest = latestReport(*a, id);
    ASSERT_TRUE(latest.ok() && latest->has_value());
    EXPECT_EQ((*latest)->details.tester, QStringLiteral("赵六"));
    EXPECT_EQ((*latest)->details.relayName, QStringLiteral("2#主变继电器"));
    EXPECT_EQ(count(*a, QStringLiteral("reports")), 2);
}

// A batch's reports are kept in one go: one that cannot be kept (a record
// the archive does not hold) costs the whole batch.
TEST_P(ArchiveOn, aBatchOfReportsIsKeptWholeOrNotAtAll)
{
    auto a = open();
    ASSERT_TRUE(a);
    auto s = archiveSync(*a, logOf(sim::plausibleRecords(3)));
    ASSERT_TRUE(s.ok());
    ReportDetails d = defaultReportDetails(QStringLiteral("2026-12-9"));
    std::vector<NewReport> batch;
    for (int id : s->recordIds) {
        d.serialNumber = QStringLiteral("SN-%1").arg(id);
        batch.push_back({id, d, 0});
    }
    std::vector<NewReport> broken = batch;
    broken.insert(broken.begin() + 1, NewReport{s->recordIds.back() + 1000, d, 0});
    auto refused = storeReports(*a, broken, QStringLiteral("test"));
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(count(*a, QStringLiteral("reports")), 0);

    auto kept = storeReports(*a, batch, QStringLiteral("test"));
    ASSERT_TRUE(kept.ok()) << kept.error().toStdString();
    ASSERT_EQ(kept->size(), 3u);
    EXPECT_EQ(count(*a, QStringLiteral("reports")), 3);
    auto latest = latestReport(*a, s->recordIds[2]);
    ASSERT_TRUE(latest.ok() && latest->has_value());
    EXPECT_EQ((*latest)->id, (*kept)[2]);
    EXPECT_EQ((*latest)->details.serialNumber, QStringLiteral("SN-%1").arg(s->recordIds[2]));
}

// Records handed over one at a time come in the list's order, and the reader
// can stop early without a failure.
TEST_P(ArchiveOn, recordsHandedOverOneAtATimeComeInListOrderAndCanStop)
{
    auto a = open();
    ASSERT_TRUE(a);
    ASSERT_TRUE(archiveSync(*a, logOf(sim::plausibleRecords(5))).ok());
    auto listed = listRecords(*a, {});
    ASSERT_TRUE(listed.ok());
    std::vector<int> seen;
    ASSERT_TRUE(forEachRecord(*a, {}, [&seen](const ArchivedRecord& r) {
                    seen.push_back(r.id);
                    return true;
                }).ok());
    std::vector<int> ids;
    for (const ArchivedRecord& r : *listed)
        ids.push_back(r.id);
    EXPECT_EQ(seen, ids);
    seen.clear();
    ASSERT_TRUE(forEachRecord(*a, {}, [&seen](const ArchivedRecord& r) {
                    seen.push_back(r.id);
                    return seen.size() < 2;
                }).ok());
    EXPECT_EQ(seen.size(), 2u);
}

// The lab's details of the latest report, whoever made it, start the next
// one; the relay's fields never come along.
TEST_P(ArchiveOn, theNextReportStartsFromTheLabDetailsLastConfirmed)
{
    auto a = open();
    ASSERT_TRUE(a);
    auto s = archiveSync(*a, logOf(sim::plausibleRecords(2)));
    ASSERT_TRUE(s.ok());
    const ReportDetails defaults = defaultReportDetails(QStringLiteral("2026-12-9"));
    auto none = startingDetails(*a, defaults);
    ASSERT_TRUE(none.ok()) << none.error().toStdString();
    EXPECT_EQ(*none, defaults) << "the defaults while nothing was confirmed";

    ReportDetails d = defaults;
    d.title = QStringLiteral("年度校验报告");
    d.calibratingUnit = QStringLiteral("电科院");
    d.tester = QStringLiteral("赵六");
    d.reviewer = QStringLiteral("钱七");
    d.approver = QStringLiteral("孙八");
    d.relayName = QStringLiteral("2#主变继电器");
    ASSERT_TRUE(storeReport(*a, s->recordIds[1], d, QStringLiteral("test")).ok());
    auto next = startingDetails(*a, defaults);
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(next->title, d.title);
    EXPECT_EQ(next->calibratingUnit, d.calibratingUnit);
    EXPECT_EQ((QStringList{next->tester, next->reviewer, next->approver}), (QStringList{d.tester, d.reviewer, d.approver}));
    EXPECT_EQ(next->relayName, defaults.relayName);
    EXPECT_EQ(next->printDate, defaults.printDate);
}

TEST_P(ArchiveOn, filtersByTestDateAndReportTextsAndNothingElse)
{
    auto a = open();
    ASSERT_TRUE(a);
    auto records = sim::plausibleRecords(40);   // one a day from 2012-05-01
    auto s = archiveSync(*a, logOf(records));
    ASSERT_TRUE(s.ok());
    ArchiveFilter may;
    may.from = QDate(2012, 5, 10);
    may.to = QDate(2012, 5, 12);
    auto three = listRecords(*a, may);
    ASSERT_TRUE(three.ok()) << three.error().toStdString();
    ASSERT_EQ(three->size(), 3u) << "both ends count, the whole last day";
    EXPECT_TRUE((*three)[0].row()[kColTime].startsWith(QStringLiteral("2012-05-12")));
    EXPECT_TRUE((*three)[2].row()[kColTime].startsWith(QStringLiteral("2012-05-10")));
    EXPECT_EQ(*countRecords(*a, may), 3);

    ReportDetails d = defaultReportDetails(QStringLiteral("2026-12-9"));
    d.submittingUnit = QStringLiteral("天山换流站 50%_off");
    ASSERT_TRUE(storeReport(*a, s->recordIds[7], d, QStringLiteral("test")).ok());
    ArchiveFilter text;
    text.text = QStringLiteral("天山");
    auto found = listRecords(*a, text);
    ASSERT_TRUE(found.ok());
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ((*found)[0].id, s->recordIds[7]);
    text.text = QStringLiteral("50%_o");   // the wildcards of LIKE are plain text here
    EXPECT_EQ(listRecords(*a, text)->size(), 1u);
    text.text = QStringLiteral("5%f");
    EXPECT_EQ(listRecords(*a, text)->size(), 0u);

    // A hostile text finds nothing and drops nothing.
    text.text = QStringLiteral("'; DROP TABLE records; --");
    auto hostile = listRecords(*a, text);
    ASSERT_TRUE(hostile.ok()) << hostile.error().toStdString();
    EXPECT_TRUE(hostile->empty());
    EXPECT_EQ(count(*a, QStringLiteral("records")), 40);
}

// Capitals beyond ASCII and full-width letters, as Chinese input methods
// type them, find a report's texts on both engines alike.
TEST_P(ArchiveOn, theTextFilterFoldsCaseAndWidthOnEveryEngine)
{
    auto a = open();
    ASSERT_TRUE(a);
    auto s = archiveSync(*a, logOf(sim::plausibleRecords(3)));
    ASSERT_TRUE(s.ok());
    ReportDetails d = defaultReportDetails(QStringLiteral("2026-12-9"));
    d.submittingUnit = QStringLiteral("abb ärger");
    d.model = QStringLiteral("датчик-7");
    ASSERT_TRUE(storeReport(*a, s->recordIds[1], d, QStringLiteral("test")).ok());
    for (const char* text : {"ＡＢＢ", "ÄRGER", "ДАТЧИК", "Датчик－７", "abb"}) {
        ArchiveFilter f;
        f.text = QString::fromUtf8(text);
        auto found = listRecords(*a, f);
        ASSERT_TRUE(found.ok()) << found.error().toStdString();
        ASSERT_EQ(found->size(), 1u) << text;
        EXPECT_EQ(found->front().id, s->recordIds[1]);
        EXPECT_EQ(*countRecords(*a, f), 1) << text;
    }
}

// An archive a newer program wrote is only read: nothing is added, and the
// reason is said.
TEST_P(ArchiveOn, aNewerSchemaIsOpenedReadOnlyAndNeverChanged)
{
    {
        auto a = open();
        ASSERT_TRUE(a);
        ASSERT_TRUE(archiveSync(*a, logOf(sim::plausibleRecords(3))).ok());
        QSqlQuery(a->database()).exec(QStringLiteral("UPDATE schema_version SET version = 99"));
    }
    auto a = open();
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->readOnly());
    EXPECT_TRUE(a->readOnlyReason().contains(QStringLiteral("较新版本"))) << a->readOnlyReason().toStdString();
    EXPECT_EQ(listRecords(*a, {})->size(), 3u);
    auto refused = archiveSync(*a, logOf(sim::plausibleRecords(5, 77)));
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), a->readOnlyReason());
    EXPECT_FALSE(storeReport(*a, 1, {}, QStringLiteral("test")).ok());
    // Even a write that slipped past the program is refused by the engine.
    EXPECT_FALSE(QSqlQuery(a->database()).exec(QStringLiteral("DELETE FROM records")));
    EXPECT_EQ(count(*a, QStringLiteral("records")), 3);
    EXPECT_EQ(a->schemaVersion(), 99);
}

// A database that is not an archive of ours is refused and left untouched.
TEST_P(ArchiveOn, aForeignOrCorruptArchiveIsRefusedAndLeftAlone)
{
    QByteArray before;
    if (GetParam() == Engine::SQLite) {
        QFile f(location);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        before = QByteArray(4096, '\x17') + "not a database";
        f.write(before);
    } else {
        const QString db = location.section(u'/', 3).section(u'?', 0, 0);
        ASSERT_TRUE(PgServer::instance().exec(db, QStringLiteral("CREATE TABLE invoices (id INTEGER)")));
    }
    auto a = tryOpen();
    ASSERT_FALSE(a.ok());
    EXPECT_TRUE(a.error().contains(QStringLiteral("不会改动"))) << a.error().toStdString();
    if (GetParam() == Engine::SQLite) {
        QFile f(location);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before);
    }
}

TEST_P(ArchiveOn, anArchiveOutOfReachSaysWhereAndWhy)
{
    QString unreachable;
    if (GetParam() == Engine::SQLite)
        unreachable = dir.filePath(QStringLiteral("no-such-folder/archive.sqlite"));
    else   // a socket folder where no server runs
        unreachable = QStringLiteral("postgresql:///sf6?host=%1&port=5999").arg(dir.path());
    auto a = Archive::open(*ArchiveLocation::parse(unreachable));
    ASSERT_FALSE(a.ok());
    EXPECT_TRUE(a.error().startsWith(QStringLiteral("无法打开存档 "))) << a.error().toStdString();
    EXPECT_TRUE(a.error().contains(ArchiveLocation::parse(unreachable)->display())) << a.error().toStdString();
}

// Another program inside a write of a file not yet switched to WAL makes the
// switch answer "locked" at once; that is waited out, not called corrupt.
TEST(ArchiveFile, aFileLockedForAMomentIsWaitedForNotCalledCorrupt)
{
    constexpr auto kHeld = std::chrono::milliseconds(400);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
    std::atomic<bool> locked{false};
    // A QThread, as the Windows build needs for a thread that opens a database.
    std::unique_ptr<QThread> other(QThread::create([&] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            db.setDatabaseName(path);
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
            locked = true;
            std::this_thread::sleep_for(kHeld);
            EXPECT_TRUE(q.exec(QStringLiteral("ROLLBACK")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }));
    other->start();
    while (!locked)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    auto a = Archive::open(*ArchiveLocation::parse(path));
    const auto waited = std::chrono::steady_clock::now() - start;
    other->wait();
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    EXPECT_EQ((*a)->schemaVersion(), schema::kCurrentVersion);
    EXPECT_GE(waited, kHeld / 2);
}

// A database with our table names but not ours, or a table of its own beside
// ours, is refused from reads alone and left exactly as it was.
TEST_P(ArchiveOn, aDatabaseThatOnlyLooksLikeOursIsRefusedUntouched)
{
    const QStringList lookalike{QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
                                QStringLiteral("INSERT INTO schema_version VALUES (1)"),
                                QStringLiteral("CREATE TABLE reports (id INTEGER PRIMARY KEY, body TEXT)")};
    QByteArray before;
    QString db;
    if (GetParam() == Engine::SQLite) {
        sqliteExec(location, lookalike);
        before = bytesOf(location);
    } else {
        db = location.section(u'/', 3).section(u'?', 0, 0);
        for (const QString& sql : lookalike)
            ASSERT_TRUE(PgServer::instance().exec(db, sql));
    }
    auto a = tryOpen();
    ASSERT_FALSE(a.ok());
    EXPECT_EQ(a.code(), ErrorCode::ArchiveForeign) << a.error().toStdString();
    EXPECT_TRUE(a.error().contains(QStringLiteral("不是本程序的存档，程序不会改动它"))) << a.error().toStdString();
    if (GetParam() == Engine::SQLite) {
        EXPECT_EQ(bytesOf(location), before);
    } else {
        // Still its two tables and its own version.
        EXPECT_TRUE(PgServer::instance().exec(db, QStringLiteral(
            "DO $$ BEGIN IF (SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'public') <> 2 "
            "OR (SELECT version FROM schema_version) <> 1 THEN RAISE EXCEPTION 'changed'; END IF; END $$")));
    }
}

#ifndef _WIN32
// What only a server has: connections and roles (a read-only file is
// ArchiveFile.aReadOnlyFileIsReadAndNeverWritten). The tests start their
// PostgreSQL server on Linux only.
class ArchiveOnServer : public ArchiveOn {};

// A server restart ends every connection: the next use connects again, and
// nothing is lost.
TEST_P(ArchiveOnServer, aLostServerConnectionIsMadeAgainOnTheNextUse)
{
    auto a = open();
    ASSERT_TRUE(a);
    ASSERT_TRUE(archiveSync(*a, logOf(sim::plausibleRecords(3, 1))).ok());
    ASSERT_TRUE(PgServer::instance().restart()) << PgServer::instance().error().toStdString();
    auto second = archiveSync(*a, logOf(sim::plausibleRecords(4, 2)));
    ASSERT_TRUE(second.ok()) << second.error().toStdString();
    EXPECT_EQ(second->newRecords, 4);
    ASSERT_TRUE(PgServer::instance().restart());
    auto listed = listRecords(*a, {});
    ASSERT_TRUE(listed.ok()) << listed.error().toStdString();
    EXPECT_EQ(listed->size(), 7u);
}

// A role that may only read: the archive opens read-only, lists, and every
// write is refused with the reason, never the engine's bare words.
TEST_P(ArchiveOnServer, aRoleThatMayOnlyReadReadsAndIsToldItCannotWrite)
{
    {
        auto a = open();
        ASSERT_TRUE(a);
        ASSERT_TRUE(archiveSync(*a, logOf(sim::plausibleRecords(3))).ok());
    }
    const QString db = location.section(u'/', 3).section(u'?', 0, 0);
    PgServer& pg = PgServer::instance();
    pg.exec(db, QStringLiteral("CREATE ROLE reader LOGIN"));
    ASSERT_TRUE(pg.exec(db, QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader")));
    auto reader = Archive::open(*ArchiveLocation::parse(location + QStringLiteral("&user=reader")));
    ASSERT_TRUE(reader.ok()) << reader.error().toStdString();
    EXPECT_TRUE((*reader)->readOnly());
    EXPECT_TRUE((*reader)->readOnlyReason().contains(QStringLiteral("存档是只读的")));
    EXPECT_EQ(listRecords(**reader, {})->size(), 3u);
    auto refused = archiveSync(**reader, logOf(sim::plausibleRecords(2, 9)));
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains(QStringLiteral("存档是只读的"))) << refused.error().toStdString();
    // A write that slips past the program gets the engine's refusal explained.
    QSqlQuery q((*reader)->database());
    ASSERT_FALSE(q.exec(QStringLiteral("UPDATE archive_lock SET counter = 0")));
    EXPECT_TRUE(Archive::reason(q.lastError()).startsWith(QStringLiteral("数据库账户没有这项操作的权限")))
        << Archive::reason(q.lastError()).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Server, ArchiveOnServer, ::testing::Values(Engine::PostgreSQL), archivetest::engineName);
#endif

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveOn, archivetest::testedEngines(),
                         archivetest::engineName);

// PostgreSQL over TLS, on Linux and in the Windows build under Wine (there
// against the servers scripts/wine-tests.sh starts): the server's certificate
// is checked against the lab's authority, and whatever fails to check is said
// in words, with nothing sent in the clear and nothing written.
namespace {
QString withFile(const QString& name, const QString& file)
{
    return name + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(file));
}

std::shared_ptr<Archive> openTls(const QString& url)
{
    auto loc = ArchiveLocation::parse(url);
    EXPECT_TRUE(loc.ok()) << loc.error().toStdString();
    if (!loc)
        return nullptr;
    auto a = Archive::open(*loc);
    EXPECT_TRUE(a.ok()) << a.error().toStdString();
    return a ? std::move(*a) : nullptr;
}

// No table was made: the refused connection wrote nothing.
bool untouched(PgServer& pg, const QString& db)
{
    return pg.exec(db, QStringLiteral("DO $$ BEGIN IF (SELECT COUNT(*) FROM information_schema.tables "
                                      "WHERE table_schema = 'public') <> 0 THEN RAISE EXCEPTION 'written'; END IF; END $$"));
}
} // namespace

TEST(TlsOnServer, verifyFullWithTheLabsAuthorityIsEncryptedAndTheArchiveWorks)
{
    PgServer& pg = PgServer::withTls();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    // As the lab writes it: on Windows with backslashes, which libpq reads as escapes unless quoted.
    const QString url = pg.tlsLocation(pg.newDatabaseName(), QStringLiteral("sslmode=verify-full&")
                                           + withFile(QStringLiteral("sslrootcert"), QDir::toNativeSeparators(pg.caFile())));
    const auto records = sim::plausibleRecords(5);
    {
        auto a = openTls(url);
        ASSERT_TRUE(a);
        auto synced = archiveSync(*a, logOf(records));
        ASSERT_TRUE(synced.ok()) << synced.error().toStdString();
        EXPECT_EQ(synced->newRecords, 5);
        // The server's word that this very connection is encrypted.
        QSqlQuery q(a->database());
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT ssl, version FROM pg_stat_ssl WHERE pid = pg_backend_pid()")));
        ASSERT_TRUE(q.next());
        EXPECT_TRUE(q.value(0).toBool());
        EXPECT_TRUE(q.value(1).toString().startsWith(QStringLiteral("TLSv1."))) << q.value(1).toString().toStdString();
    }
    // What a later connection reads is what went in.
    auto again = openTls(url);
    ASSERT_TRUE(again);
    auto listed = listRecords(*again, {});
    ASSERT_TRUE(listed.ok()) << listed.error().toStdString();
    ASSERT_EQ(listed->size(), records.size());
    for (const ArchivedRecord& r : *listed)
        EXPECT_NE(std::find(records.begin(), records.end(), r.raw), records.end());
}

TEST(TlsOnServer, aCertificateThatDoesNotCheckOutIsRefusedInWordsAndNothingIsWritten)
{
    PgServer& pg = PgServer::withTls();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    const QString db = pg.newDatabaseName();
    const QString missing = QFileInfo(pg.caFile()).absolutePath() + QStringLiteral("/none.crt");
    const struct {
        QString url;
        const char* said;
    } cases[] = {
        // Signed by another authority: perhaps not the lab's server at all.
        {pg.tlsLocation(db, QStringLiteral("sslmode=verify-full&") + withFile(QStringLiteral("sslrootcert"), pg.wrongCaFile())),
         "数据库服务器的证书未通过验证"},
        {pg.tlsLocation(db, QStringLiteral("sslmode=verify-ca&") + withFile(QStringLiteral("sslrootcert"), pg.wrongCaFile())),
         "数据库服务器的证书未通过验证"},
        // The right authority, but the address is not the name on the certificate.
        {pg.tlsLocation(db, QStringLiteral("sslmode=verify-full&") + withFile(QStringLiteral("sslrootcert"), pg.caFile()))
             .replace(QStringLiteral("@localhost:"), QStringLiteral("@127.0.0.1:")),
         "不是签发给地址中这个主机名的"},
        {pg.tlsLocation(db, QStringLiteral("sslmode=verify-full&") + withFile(QStringLiteral("sslrootcert"), missing)),
         "找不到或无法读取 sslrootcert 所给的证书机构文件"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        auto loc = ArchiveLocation::parse(c.url);
        ASSERT_TRUE(loc.ok()) << loc.error().toStdString();
        auto a = Archive::open(*loc);
        ASSERT_FALSE(a.ok());
        EXPECT_EQ(a.code(), ErrorCode::ArchiveUnavailable);
        EXPECT_TRUE(a.error().startsWith(QStringLiteral("无法打开存档 "))) << a.error().toStdString();
        EXPECT_TRUE(a.error().contains(QString::fromUtf8(c.said))) << a.error().toStdString();
    }
    EXPECT_TRUE(untouched(pg, db));
}

// Encryption demanded of a server that has none is refused, never quietly
// dropped; the same server taken in the clear, when asked for, works.
TEST(TlsOnServer, encryptionDemandedOfAServerWithoutItIsRefused)
{
    PgServer& plain = PgServer::withTcp();
    ASSERT_TRUE(plain.running()) << plain.error().toStdString();
    const QString db = plain.newDatabaseName();
    const QString user = QStringLiteral("&user=") + plain.user();
    for (const char* demand : {"sslmode=require", "sslmode=verify-full", "requiressl=1"}) {
        SCOPED_TRACE(demand);
        auto a = Archive::open(*ArchiveLocation::parse(plain.tcpLocation(db, QLatin1String(demand) + user)));
        ASSERT_FALSE(a.ok());
        EXPECT_EQ(a.code(), ErrorCode::ArchiveUnavailable);
        EXPECT_TRUE(a.error().contains(QStringLiteral("数据库服务器不支持加密连接"))) << a.error().toStdString();
    }
    EXPECT_TRUE(untouched(plain, db));
    auto clear = openTls(plain.tcpLocation(db, QStringLiteral("sslmode=disable") + user));
    ASSERT_TRUE(clear);
    EXPECT_TRUE(archiveSync(*clear, logOf(sim::plausibleRecords(1))).ok());
}

TEST(ArchiveLocation, filesAndBothPostgresFormsAndNeverAPassword)
{
    auto file = ArchiveLocation::parse(QStringLiteral("some/archive.sqlite"));
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file->engine, ArchiveLocation::Engine::SQLite);
    EXPECT_TRUE(QDir::isAbsolutePath(file->path));

    auto tcp = ArchiveLocation::parse(QStringLiteral("postgresql://lab@db.example:5433/calibration"));
    ASSERT_TRUE(tcp.ok());
    EXPECT_EQ(tcp->user, QStringLiteral("lab"));
    EXPECT_EQ(tcp->host, QStringLiteral("db.example"));
    EXPECT_EQ(tcp->port, 5433);
    EXPECT_EQ(tcp->database, QStringLiteral("calibration"));
    EXPECT_EQ(tcp->display(), QStringLiteral("postgresql://lab@db.example:5433/calibration"));

    auto socket = ArchiveLocation::parse(QStringLiteral("postgresql:///calibration?host=/run/pg&port=5440"));
    ASSERT_TRUE(socket.ok());
    EXPECT_EQ(socket->host, QStringLiteral("/run/pg"));
    EXPECT_EQ(socket->port, 5440);

    for (const char* withPassword : {"postgresql://lab:secret@db/calibration", "postgresql:///c?password=secret",
                                     "postgresql://lab:secret@db:99999/calibration", "postgresql://lab:secret@d b/c",
                                     "postgresql://lab:secret@db/c?bogus=1", "postgresql:///c?sslpassword=secret"}) {
        auto refused = ArchiveLocation::parse(QString::fromLatin1(withPassword));
        ASSERT_FALSE(refused.ok()) << withPassword;
        EXPECT_FALSE(refused.error().contains(QStringLiteral("secret"))) << refused.error().toStdString();
    }

    // libpq's parameters pass as they stand; an unknown one is refused by name.
    auto tls = ArchiveLocation::parse(QStringLiteral(
        "postgresql://lab@db/c?sslmode=verify-full&sslrootcert=/etc/lab/ca.pem&application_name=%E6%A0%A1%E9%AA%8C"));
    ASSERT_TRUE(tls.ok()) << tls.error().toStdString();
    const std::vector<std::pair<QString, QString>> expected{{QStringLiteral("sslmode"), QStringLiteral("verify-full")},
                                                            {QStringLiteral("sslrootcert"), QStringLiteral("/etc/lab/ca.pem")},
                                                            {QStringLiteral("application_name"), QStringLiteral("校验")}};
    EXPECT_EQ(tls->parameters, expected);
    EXPECT_NE(tls->identity(), ArchiveLocation::parse(QStringLiteral("postgresql://lab@db/c"))->identity());
    auto unknown = ArchiveLocation::parse(QStringLiteral("postgresql://lab@db/c?sslmdoe=require"));
    ASSERT_FALSE(unknown.ok());
    EXPECT_TRUE(unknown.error().contains(QStringLiteral("sslmdoe"))) << unknown.error().toStdString();
    EXPECT_FALSE(ArchiveLocation::parse(QStringLiteral("postgresql://db/")).ok()) << "no database";

    // The option wins over the environment; off is off.
    qputenv(kArchiveEnvironment, "/from/env.sqlite");
    // (Absolute as the system has it: on Windows with the current drive.)
    EXPECT_EQ(ArchiveLocation::choose(std::nullopt, false)->path, QFileInfo(QStringLiteral("/from/env.sqlite")).absoluteFilePath());
    EXPECT_EQ(ArchiveLocation::choose(QStringLiteral("/opt.sqlite"), false)->path, QFileInfo(QStringLiteral("/opt.sqlite")).absoluteFilePath());
    EXPECT_TRUE(ArchiveLocation::choose(QStringLiteral("/opt.sqlite"), true)->off());
    qunsetenv(kArchiveEnvironment);
    EXPECT_TRUE(ArchiveLocation::choose(std::nullopt, false)->path.endsWith(QStringLiteral("/sf6companion/archive.sqlite")));
    // A demo's simulated records stay out of the real archive, even the one the environment names.
    qputenv(kArchiveEnvironment, "/from/env.sqlite");
    EXPECT_TRUE(ArchiveLocation::choose(std::nullopt, false, true)->path.endsWith(QStringLiteral("/sf6companion/demo.sqlite")));
    qunsetenv(kArchiveEnvironment);
}

// Every sslmode is libpq's to honour, on both systems: both builds' libpq
// encrypt, so none is refused before connecting.
TEST(ArchiveLocation, everySslmodeReachesTheClientLibraryUnchanged)
{
    for (const char* mode : {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"}) {
        SCOPED_TRACE(mode);
        const auto loc = ArchiveLocation::parse(QStringLiteral("postgresql://lab@db/c?sslmode=") + QLatin1String(mode));
        ASSERT_TRUE(loc.ok()) << loc.error().toStdString();
        const std::vector<std::pair<QString, QString>> expected{{QStringLiteral("sslmode"), QLatin1String(mode)}};
        EXPECT_EQ(loc->parameters, expected);
    }
    EXPECT_TRUE(ArchiveLocation::parse(QStringLiteral("postgresql://lab@db/c?requiressl=1")).ok());
}

// Every way into one file in this process is the same connection: closing a
// second descriptor on the file would drop the locks of the first.
TEST(ArchiveFile, oneFileHasOneConnectionInTheProcessHoweverItIsNamed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
    QStringList names{path, dir.filePath(QStringLiteral("./x/../archive.sqlite"))};
    QString firstName = path;
#ifndef _WIN32
    // Made through a folder's second name: the key must not change once the
    // file is there. (Windows' QFile::link makes shortcuts, not second names.)
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath(QStringLiteral("alias"))));
    firstName = dir.filePath(QStringLiteral("alias/archive.sqlite"));
#endif
    auto first = Archive::open(*ArchiveLocation::parse(firstName));
    ASSERT_TRUE(first.ok()) << first.error().toStdString();
#ifndef _WIN32
    ASSERT_TRUE(QFile::link(path, dir.filePath(QStringLiteral("link.sqlite"))));
    names << dir.filePath(QStringLiteral("link.sqlite"));
#endif
    for (const QString& name : names) {
        auto again = Archive::open(*ArchiveLocation::parse(name), Archive::Access::Read);
        ASSERT_TRUE(again.ok()) << again.error().toStdString();
        EXPECT_EQ(again->get(), first->get()) << name.toStdString();
    }
    const QString connection = (*first)->database().connectionName();
    first->reset();
    EXPECT_FALSE(QSqlDatabase::contains(connection)) << "the last user closes it";
}

// A file made by another program is only read, whatever mode its journal is
// in; ours carry our application id, and archives made before the id are
// still ours and get it on their next upgrade.
TEST(ArchiveFile, whoseFileItIsIsDecidedWithoutWritingToIt)
{
    QTemporaryDir dir;
    const QString foreign = dir.filePath(QStringLiteral("other.sqlite"));
    sqliteExec(foreign, {QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT)"),
                         QStringLiteral("INSERT INTO notes (body) VALUES ('keep me')"),
                         QStringLiteral("PRAGMA journal_mode = WAL")});
    const QByteArray before = bytesOf(foreign);
    ASSERT_EQ(before.mid(18, 2), QByteArray("\x02\x02", 2)) << "switched to WAL";
    for (auto access : {Archive::Access::Read, Archive::Access::Write}) {
        auto refused = Archive::open(*ArchiveLocation::parse(foreign), access);
        ASSERT_FALSE(refused.ok());
        EXPECT_TRUE(refused.error().contains(QStringLiteral("不是本程序的存档，程序不会改动它"))) << refused.error().toStdString();
        EXPECT_EQ(bytesOf(foreign), before);
    }
    // Another application's id with nothing in it yet is still another's.
    const QString claimed = dir.filePath(QStringLiteral("claimed.sqlite"));
    sqliteExec(claimed, {QStringLiteral("PRAGMA application_id = 1234")});
    EXPECT_FALSE(Archive::open(*ArchiveLocation::parse(claimed)).ok());

    const QString fresh = dir.filePath(QStringLiteral("fresh.sqlite"));
    {
        auto a = Archive::open(*ArchiveLocation::parse(fresh));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        EXPECT_EQ(applicationId(**a), schema::kApplicationId);
    }

    // Made by the program before it set an id: the first schema's tables.
    const QString older = dir.filePath(QStringLiteral("older.sqlite"));
    QStringList v1 = QStringList(schema::steps().front().statements.begin(), schema::steps().front().statements.end());
    v1 << QStringLiteral("INSERT INTO schema_version (version) VALUES (1)");
    sqliteExec(older, v1);
    auto upgraded = Archive::open(*ArchiveLocation::parse(older));
    ASSERT_TRUE(upgraded.ok()) << upgraded.error().toStdString();
    EXPECT_EQ((*upgraded)->schemaVersion(), schema::kCurrentVersion);
    EXPECT_EQ(applicationId(**upgraded), schema::kApplicationId);
    ASSERT_TRUE(archiveSync(**upgraded, logOf(sim::plausibleRecords(2))).ok());

    // The same tables with one of its own added: not ours.
    const QString extended = dir.filePath(QStringLiteral("extended.sqlite"));
    sqliteExec(extended, v1 + QStringList{QStringLiteral("CREATE TABLE invoices (id INTEGER)")});
    const QByteArray extendedBefore = bytesOf(extended);
    EXPECT_FALSE(Archive::open(*ArchiveLocation::parse(extended)).ok());
    EXPECT_EQ(bytesOf(extended), extendedBefore);
}

// A file that may not be written is opened read-only: reading works, writing
// says so, and the file stays as it was.
TEST(ArchiveFile, aReadOnlyFileIsReadAndNeverWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
    {
        auto a = Archive::open(*ArchiveLocation::parse(path));
        ASSERT_TRUE(a.ok());
        ASSERT_TRUE(archiveSync(**a, logOf(sim::plausibleRecords(3))).ok());
    }
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const QByteArray before = bytesOf(path);
    for (auto access : {Archive::Access::Read, Archive::Access::Write}) {
        auto a = Archive::open(*ArchiveLocation::parse(path), access);
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        EXPECT_TRUE((*a)->readOnly());
        EXPECT_TRUE((*a)->readOnlyReason().contains(QStringLiteral("存档是只读的"))) << (*a)->readOnlyReason().toStdString();
        auto listed = listRecords(**a, {});
        ASSERT_TRUE(listed.ok()) << listed.error().toStdString();
        EXPECT_EQ(listed->size(), 3u);
        auto refused = archiveSync(**a, logOf(sim::plausibleRecords(2, 5)));
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.code(), ErrorCode::ArchiveReadOnly) << refused.error().toStdString();
    }
    EXPECT_EQ(bytesOf(path), before);
}

// A damaged file is refused before anything is written into it; reading it
// is still allowed, to rescue what can be read.
TEST(ArchiveFile, aDamagedFileIsRefusedForWritingAndLeftAsItIs)
{
    QTemporaryDir dir;
    const QString whole = dir.filePath(QStringLiteral("archive.sqlite"));
    {
        auto a = Archive::open(*ArchiveLocation::parse(whole));
        ASSERT_TRUE(a.ok());
        ASSERT_TRUE(archiveSync(**a, logOf(sim::plausibleRecords(30))).ok());
    }
    // Cut by one byte.
    const QString cut = dir.filePath(QStringLiteral("cut.sqlite"));
    ASSERT_TRUE(QFile::copy(whole, cut));
    ASSERT_TRUE(QFile::resize(cut, QFileInfo(whole).size() - 1));
    // An index page overwritten in the middle.
    const QString scribbled = dir.filePath(QStringLiteral("scribbled.sqlite"));
    ASSERT_TRUE(QFile::copy(whole, scribbled));
    {
        QFile f(scribbled);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 pages = f.size() / 4096;
        for (qint64 page = 1; page < pages; ++page) {
            f.seek(page * 4096);
            if (f.read(1) == QByteArray("\x0a", 1)) {   // a leaf page of an index
                f.seek(page * 4096 + 1);
                f.write(QByteArray(200, '\xff'));
                break;
            }
        }
    }
    for (const QString& path : {cut, scribbled}) {
        const QByteArray before = bytesOf(path);
        auto refused = Archive::open(*ArchiveLocation::parse(path));
        ASSERT_FALSE(refused.ok()) << path.toStdString();
        EXPECT_EQ(refused.code(), ErrorCode::ArchiveDamaged) << refused.error().toStdString();
        EXPECT_EQ(bytesOf(path), before);
        EXPECT_EQ(QFileInfo(path + QStringLiteral("-wal")).size(), 0) << "nothing written beside it either";
    }
    auto read = Archive::open(*ArchiveLocation::parse(cut), Archive::Access::Read);
    ASSERT_TRUE(read.ok()) << read.error().toStdString();
    // Opened for reading first, the check still comes before the first write.
    const QByteArray before = bytesOf(cut);
    EXPECT_FALSE(archiveSync(**read, logOf(sim::plausibleRecords(2, 8))).ok());
    EXPECT_FALSE(Archive::open(*ArchiveLocation::parse(cut), Archive::Access::Write).ok());
    EXPECT_EQ(bytesOf(cut), before);
}

// What an engine says reaches the user with a Chinese sentence saying what it means.
TEST(ArchiveFile, engineFailuresComeWithWhatTheyMean)
{
    QTemporaryDir dir;
    auto a = Archive::open(*ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite"))));
    ASSERT_TRUE(a.ok());
    auto synced = archiveSync(**a, logOf(sim::plausibleRecords(1)));
    ASSERT_TRUE(synced.ok());
    ASSERT_TRUE(storeReport(**a, synced->recordIds.front(), {}, QStringLiteral("test")).ok());
    ArchiveFilter tooLong;
    tooLong.text = QString(60000, u'x');
    auto listed = listRecords(**a, tooLong);
    ASSERT_FALSE(listed.ok());
    EXPECT_TRUE(listed.error().contains(QStringLiteral("搜索文字太长（最多 50000 字节"))) << listed.error().toStdString();
    QSqlQuery q((*a)->database());
    ASSERT_FALSE(q.exec(QStringLiteral("SELECT missing FROM nowhere")));
    const QString reason = Archive::reason(q.lastError());
    EXPECT_TRUE(reason.contains(QRegularExpression(QStringLiteral("^\\p{Han}")))) << reason.toStdString();
    EXPECT_TRUE(reason.contains(QStringLiteral("nowhere"))) << "the engine's words stay for support: " << reason.toStdString();
}

// The kind of an engine's failure, by SQLite's result code (extended codes
// included) or PostgreSQL's SQLSTATE: what sf6cli's exit code and the
// windows' choices rest on.
TEST(ArchiveFile, engineFailuresHaveTheirKind)
{
    const struct {
        const char* nativeCode;
        const char* text;
        ErrorCode code;
    } cases[] = {
        {"5", "database is locked", ErrorCode::ArchiveLocked},
        {"517", "database is locked", ErrorCode::ArchiveLocked},   // SQLITE_BUSY_SNAPSHOT
        {"6", "database table is locked", ErrorCode::ArchiveLocked},
        {"8", "attempt to write a readonly database", ErrorCode::ArchiveReadOnly},
        {"42501", "permission denied for table records", ErrorCode::ArchiveReadOnly},
        {"11", "database disk image is malformed", ErrorCode::ArchiveDamaged},
        {"26", "file is not a database", ErrorCode::ArchiveDamaged},
        {"13", "database or disk is full", ErrorCode::ArchiveUnavailable},
        {"57P01", "terminating connection due to administrator command", ErrorCode::ArchiveUnavailable},
        {"", "something else", ErrorCode::ArchiveUnavailable},
    };
    for (const auto& c : cases) {
        const QSqlError e(QString(), QString::fromUtf8(c.text), QSqlError::StatementError, QString::fromLatin1(c.nativeCode));
        EXPECT_EQ(Archive::code(e), c.code) << c.nativeCode << " " << c.text;
    }
    const QSqlError trigger(QString(), schema::kRowsKeptAsTheyAre, QSqlError::StatementError, QStringLiteral("19"));
    EXPECT_EQ(Archive::code(trigger), ErrorCode::Refused);
}
