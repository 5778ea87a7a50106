// Every change the register and the reports make leaves its row on the audit
// trail, in the same transaction, on both engines; writers at once leave one
// unbroken chain.
#include "archive/Audit.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"
#include "tests/archive/SyncedArchive.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

using namespace sf6;
using archivetest::Engine;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

RelayEntry relay(const QString& serial)
{
    RelayEntry e;
    e.serial = serial;
    e.name = QStringLiteral("主变A相");
    e.alarm = Decimal::parse(QStringLiteral("0.55"));
    return e;
}

QJsonObject json(const QString& text) { return QJsonDocument::fromJson(text.toUtf8()).object(); }

class AuditedChanges : public archivetest::SyncedArchive {
protected:
    void SetUp() override
    {
        openWithRecords(sim::plausibleRecords(3));
    }
    // The rows after the first `skip`, and the chain checked whole.
    std::vector<AuditRow> rows(size_t skip = 0) const
    {
        std::vector<AuditRow> out;
        EXPECT_TRUE(forEachAuditRow(*archive, [&](const AuditRow& r) {
            out.push_back(r);
            return true;
        }));
        auto check = verifyAuditChain(*archive);
        EXPECT_TRUE(check.ok() && !check->firstAltered) << (check ? check->why : check.error()).toStdString();
        out.erase(out.begin(), out.begin() + std::min(skip, out.size()));
        return out;
    }
};

} // namespace

// A new entry has nothing before it; an edit names the values before and
// after; saving the same values again changes nothing and notes nothing.
TEST_P(AuditedChanges, relayEntriesNoteTheirValuesBeforeAndAfter)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")));
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")));
    RelayTexts t;
    t.alarm = QStringLiteral("0.60");
    t.lock1 = QStringLiteral("");
    auto edited = editRelay(*archive, QStringLiteral("R1"), t, QStringLiteral("test"));
    ASSERT_TRUE(edited.ok() && edited->refused);
    RelayTexts wrong;
    wrong.upper = QStringLiteral("abc");
    ASSERT_FALSE(editRelay(*archive, QStringLiteral("R1"), wrong, QStringLiteral("test"))->refused);

    const auto r = rows();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].action, audit::kRelayChanged);
    EXPECT_EQ(r[0].object, QStringLiteral("relay R1"));
    EXPECT_TRUE(r[0].oldValues.isNull());
    EXPECT_EQ(json(r[0].newValues)[QStringLiteral("name")].toString(), QStringLiteral("主变A相"));
    EXPECT_EQ(json(r[0].newValues)[QStringLiteral("version")].toInt(), 1);
    EXPECT_TRUE(json(r[0].newValues)[QStringLiteral("lock1_nominal")].isNull());
    EXPECT_EQ(json(r[1].oldValues)[QStringLiteral("alarm_nominal")].toString(), QStringLiteral("0.55"));
    EXPECT_EQ(json(r[1].newValues)[QStringLiteral("alarm_nominal")].toString(), QStringLiteral("0.6"));
    EXPECT_EQ(json(r[1].newValues)[QStringLiteral("version")].toInt(), 2);
    EXPECT_EQ(json(r[1].oldValues)[QStringLiteral("range_upper")], json(r[1].newValues)[QStringLiteral("range_upper")]);
}

// Linking, moving a link and unlinking each say which record and which relay.
TEST_P(AuditedChanges, linksMadeMovedAndUndoneAreNoted)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")));
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R2")), QStringLiteral("test")));
    ASSERT_TRUE(linkRecords(*archive, {ids[0], ids[1]}, QStringLiteral("R1"), QStringLiteral("test")));
    ASSERT_TRUE(linkRecord(*archive, ids[0], QStringLiteral("R1"), QStringLiteral("test"))) << "already linked";
    ASSERT_TRUE(linkRecord(*archive, ids[1], QStringLiteral("R2"), QStringLiteral("test")));
    ASSERT_EQ(*unlinkRecords(*archive, {ids[0], ids[2]}, QStringLiteral("test")), 1);

    const auto r = rows(2);
    ASSERT_EQ(r.size(), 5u);
    const QString record0 = QStringLiteral("record %1").arg(ids[0]), record1 = QStringLiteral("record %1").arg(ids[1]);
    struct Expected {
        QString action, object, oldRelay, newRelay;
    } expected[] = {{audit::kLinked, record0, {}, QStringLiteral("R1")},
                    {audit::kLinked, record1, {}, QStringLiteral("R1")},
                    {audit::kUnlinked, record1, QStringLiteral("R1"), {}},
                    {audit::kLinked, record1, {}, QStringLiteral("R2")},
                    {audit::kUnlinked, record0, QStringLiteral("R1"), {}}};
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].action, expected[i].action) << i;
        EXPECT_EQ(r[i].object, expected[i].object) << i;
        EXPECT_EQ(json(r[i].oldValues)[QStringLiteral("relay")].toString(), expected[i].oldRelay) << i;
        EXPECT_EQ(json(r[i].newValues)[QStringLiteral("relay")].toString(), expected[i].newRelay) << i;
    }
}

// A report confirmed into the register notes the relay's entry, the link and
// the report itself, with its texts.
TEST_P(AuditedChanges, reportsAndWhatTheyConfirmAreNoted)
{
    ReportDetails d;
    d.serialNumber = QStringLiteral("R9");
    d.relayName = QStringLiteral("出线 3");
    d.tester = QStringLiteral("张三");
    ReportRelay how;
    how.serialChosen = true;
    ASSERT_TRUE(applyReport(*archive, ids[2], d, QStringLiteral("test"), how));
    auto stored = storeReports(*archive, {{ids[2], d, 0}, {ids[1], d, 0}}, QStringLiteral("sf6cli"));
    ASSERT_TRUE(stored.ok()) << stored.error().toStdString();

    const auto r = rows();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].action, audit::kRelayChanged);
    EXPECT_EQ(r[0].object, QStringLiteral("relay R9"));
    EXPECT_EQ(r[1].action, audit::kLinked);
    EXPECT_EQ(r[2].action, audit::kReportStored);
    EXPECT_EQ(r[2].object, QStringLiteral("report %1").arg((*stored)[0]));
    EXPECT_EQ(r[3].object, QStringLiteral("report %1").arg((*stored)[1]));
    const QJsonObject values = json(r[3].newValues);
    EXPECT_EQ(values[QStringLiteral("record_id")].toInt(), ids[1]);
    EXPECT_EQ(values[QStringLiteral("tester")].toString(), QStringLiteral("张三"));
    EXPECT_EQ(values[QStringLiteral("source")].toString(), QStringLiteral("sf6cli"));
    EXPECT_TRUE(values[QStringLiteral("judgement_id")].isNull());
}

INSTANTIATE_TEST_SUITE_P(Engines, AuditedChanges, archivetest::testedEngines(), archivetest::engineName);

// Writers at once on a shared server, each with its own connection: the
// writers' lock keeps the chain in one line, without a gap or a fork. (Under
// Wine a connection's thread cannot end cleanly; the server runs on Linux only.)
#ifndef _WIN32
class AuditedWriters : public AuditedChanges {};

TEST_P(AuditedWriters, writersAtOnceLeaveOneUnbrokenChain)
{
    constexpr int kWriters = 3, kEdits = 15;
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            auto mine = Archive::open(*ArchiveLocation::parse(location));
            if (!mine) {
                ++failures;
                return;
            }
            for (int i = 0; i < kEdits; ++i) {
                RelayEntry e = relay(QStringLiteral("W%1").arg(w));
                e.intervalMonths = i + 1;
                if (!saveRelay(**mine, e, QStringLiteral("test")))
                    ++failures;
            }
        });
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(failures, 0);
    const auto r = rows();
    ASSERT_EQ(r.size(), size_t(kWriters * kEdits));
    EXPECT_EQ(r.back().id, kWriters * kEdits);
}

INSTANTIATE_TEST_SUITE_P(Server, AuditedWriters, ::testing::Values(Engine::PostgreSQL), archivetest::engineName);
#endif
