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

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

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

int count(const Archive& a, const QString& table)
{
    auto q = a.run(QStringLiteral("SELECT COUNT(*) FROM ") + table, {}, QStringLiteral("count"));
    return q && q->next() ? q->value(0).toInt() : -1;
}

class ArchiveOn : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override { location = archivetest::freshLocation(GetParam(), dir); }
    std::unique_ptr<Archive> open()
    {
        auto loc = ArchiveLocation::parse(location);
        EXPECT_TRUE(loc.ok()) << loc.error().toStdString();
        auto a = Archive::open(*loc);
        EXPECT_TRUE(a.ok()) << a.error().toStdString();
        return a ? std::move(*a) : nullptr;
    }
    Expected<std::unique_ptr<Archive>> tryOpen() const { return Archive::open(*ArchiveLocation::parse(location)); }
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
    std::thread other([&] {
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
    });
    while (!locked)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    auto a = Archive::open(*ArchiveLocation::parse(path));
    const auto waited = std::chrono::steady_clock::now() - start;
    other.join();
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    EXPECT_EQ((*a)->schemaVersion(), schema::kCurrentVersion);
    EXPECT_GE(waited, kHeld / 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveOn, archivetest::testedEngines(),
                         archivetest::engineName);

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

    for (const char* withPassword : {"postgresql://lab:secret@db/calibration", "postgresql:///c?password=secret"}) {
        auto refused = ArchiveLocation::parse(QString::fromLatin1(withPassword));
        ASSERT_FALSE(refused.ok()) << withPassword;
        EXPECT_FALSE(refused.error().contains(QStringLiteral("secret")));
        EXPECT_TRUE(refused.error().contains(QStringLiteral("PGPASSWORD")));
    }
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
