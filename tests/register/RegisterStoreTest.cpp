// The register in a real archive, on SQLite and PostgreSQL: versions kept,
// judgements that name the values they used, due dates, trends, reports that
// confirm into the register, and an archive of the first schema upgraded.
#include "archive/Schema.h"
#include "register/JudgedReport.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"

#include <QSqlQuery>
#include <QTemporaryDir>

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
    e.lock1 = Decimal::parse(QStringLiteral("0.50"));
    return e;
}

class Register : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        auto a = Archive::open(*ArchiveLocation::parse(archivetest::freshLocation(GetParam(), dir)));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        archive = std::move(*a);
        auto s = archiveSync(*archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 6,
                                               SyncEnd::Complete, sim::plausibleRecords(6)});
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
        ids = s->recordIds;
    }
    QTemporaryDir dir;
    std::unique_ptr<Archive> archive;
    std::vector<int> ids;
};

} // namespace

TEST_P(Register, everyEditIsANewVersionAndTheOldOnesStayReadable)
{
    auto first = saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test"));
    ASSERT_TRUE(first.ok()) << first.error().toStdString();
    EXPECT_EQ(first->version, 1);
    auto same = saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test"));
    EXPECT_EQ(same->version, 1) << "nothing changed: no new version";
    RelayEntry edited = relay(QStringLiteral("R1"));
    edited.classTenths = 25;
    auto second = saveRelay(*archive, edited, QStringLiteral("test"));
    EXPECT_EQ(second->version, 2);
    auto history = relayHistory(*archive, QStringLiteral("R1"));
    ASSERT_TRUE(history.ok());
    ASSERT_EQ(history->size(), 2u);
    EXPECT_EQ((*history)[0].classTenths, 16);
    EXPECT_EQ((*history)[1].classTenths, 25);
    EXPECT_EQ((*findRelay(*archive, QStringLiteral("R1")))->classTenths, 25);
    EXPECT_EQ(listRelays(*archive)->size(), 1u);
}

// A judgement names the values it used: an edit of the entry afterwards
// leaves it as it was, and the next judgement uses the new ones.
TEST_P(Register, aRelayEditedAfterAJudgementLeavesTheOldJudgementAsItWas)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecord(*archive, ids[0], QStringLiteral("R1")));
    auto before = judgeRecord(*archive, ids[0]);
    ASSERT_TRUE(before.ok() && before->judgement) << (before ? before->whyNot : before.error()).toStdString();
    EXPECT_EQ(before->judgement->judgement.relay.classTenths, 16);
    EXPECT_EQ(judgeRecord(*archive, ids[0])->judgement->id, before->judgement->id) << "the same values: the same judgement";

    RelayEntry edited = relay(QStringLiteral("R1"));
    edited.classTenths = 25;
    edited.lower = *Decimal::parse(QStringLiteral("0"));
    ASSERT_TRUE(saveRelay(*archive, edited, QStringLiteral("test")).ok());
    auto after = judgeRecord(*archive, ids[0]);
    ASSERT_TRUE(after.ok() && after->judgement);
    EXPECT_NE(after->judgement->id, before->judgement->id);
    EXPECT_EQ(after->judgement->judgement.relay.classTenths, 25);
    EXPECT_EQ(after->judgement->judgement.allowed.text(), QStringLiteral("0.0225"));

    auto old = findJudgement(*archive, before->judgement->id);
    ASSERT_TRUE(old.ok() && old->has_value());
    EXPECT_EQ((*old)->judgement.relay.classTenths, 16);
    EXPECT_EQ((*old)->judgement.relay.lower.text(), QStringLiteral("-0.1"));
    EXPECT_EQ((*old)->judgement.allowed.text(), QStringLiteral("0.016"));
    EXPECT_EQ(judgementsOf(*archive, ids[0])->size(), 2u);
}

TEST_P(Register, unlinkedOrUnjudgeableRecordsSayWhy)
{
    auto none = judgeRecord(*archive, ids[1]);
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none->judgement);
    EXPECT_TRUE(none->whyNot.contains(QStringLiteral("没有关联"))) << none->whyNot.toStdString();
    RelayEntry blank;
    blank.serial = QStringLiteral("R9");
    ASSERT_TRUE(saveRelay(*archive, blank, QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecord(*archive, ids[1], QStringLiteral("R9")));
    EXPECT_TRUE(judgeRecord(*archive, ids[1])->whyNot.contains(QStringLiteral("没有设定值")));
    EXPECT_FALSE(linkRecord(*archive, ids[1], QStringLiteral("NOPE"))) << "no such relay";
    EXPECT_FALSE(linkRecord(*archive, 999999, QStringLiteral("R9"))) << "no such record";
}

// Next due: the latest linked test plus the interval; marked overdue or due soon.
TEST_P(Register, dueDatesFollowTheLatestLinkedTest)
{
    RelayEntry yearly = relay(QStringLiteral("R1"));
    RelayEntry monthly = relay(QStringLiteral("R2"));
    monthly.intervalMonths = 1;
    ASSERT_TRUE(saveRelay(*archive, yearly, QStringLiteral("test")).ok());
    ASSERT_TRUE(saveRelay(*archive, monthly, QStringLiteral("test")).ok());
    // Records of 2012-05-01 .. 2012-05-06; the latest linked one counts.
    ASSERT_TRUE(linkRecord(*archive, ids[0], QStringLiteral("R1")));
    ASSERT_TRUE(linkRecord(*archive, ids[2], QStringLiteral("R1")));
    ASSERT_TRUE(linkRecord(*archive, ids[5], QStringLiteral("R2")));
    auto status = relayStatuses(*archive, QDate(2013, 4, 10));
    ASSERT_TRUE(status.ok()) << status.error().toStdString();
    ASSERT_EQ(status->size(), 2u);
    const RelayStatus& r1 = (*status)[0];
    EXPECT_EQ(r1.lastTest, QDate(2012, 5, 3));
    EXPECT_EQ(r1.nextDue, QDate(2013, 5, 3));
    EXPECT_TRUE(r1.dueSoon);
    EXPECT_FALSE(r1.overdue);
    EXPECT_FALSE(r1.lastVerdict.isEmpty());
    const RelayStatus& r2 = (*status)[1];
    EXPECT_EQ(r2.nextDue, QDate(2012, 6, 6));
    EXPECT_TRUE(r2.overdue);
    EXPECT_FALSE(r2.dueSoon);
    EXPECT_FALSE((*relayStatuses(*archive, QDate(2012, 5, 20)))[0].dueSoon) << "a year ahead is neither";
}

TEST_P(Register, aTrendHasTheMeansOfEveryLinkedRecordInTimeOrder)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")).ok());
    for (int i : {4, 1, 2})
        ASSERT_TRUE(linkRecord(*archive, ids[size_t(i)], QStringLiteral("R1")));
    auto t = trendOf(*archive, QStringLiteral("R1"));
    ASSERT_TRUE(t.ok()) << t.error().toStdString();
    ASSERT_EQ(t->points.size(), 3u);
    EXPECT_LT(t->points[0].when, t->points[1].when);
    EXPECT_LT(t->points[1].when, t->points[2].when);
    auto record = findRecord(*archive, t->points[0].recordId);
    ASSERT_TRUE(record.ok() && record->has_value());
    EXPECT_EQ(t->points[0].alarm->fixedText(3), (*record)->row()[5]) << "the list's own P20 mean alarm text";
}

// Confirming a report: the register learns the dialog's relay, the record is
// linked and judged, and the report names the judgement it printed.
TEST_P(Register, aConfirmedReportFeedsTheRegisterAndPrintsItsJudgement)
{
    ReportDetails d = defaultReportDetails(QStringLiteral("2026-12-9"));
    d.serialNumber = QStringLiteral("R7");
    d.relayName = QStringLiteral("母线继电器");
    d.submittingUnit = QStringLiteral("天山换流站");
    const auto record = *findRecord(*archive, ids[3]);
    MadeReport first = makeReport(*archive, ids[3], d, record->row(), QStringLiteral("test"));
    EXPECT_TRUE(first.problems.isEmpty()) << first.problems.join(u'|').toStdString();
    EXPECT_FALSE(first.judgement) << "a new entry has no nominal value yet";
    ASSERT_EQ(first.pages.size(), 1u);
    auto entry = findRelay(*archive, QStringLiteral("R7"));
    ASSERT_TRUE(entry.ok() && entry->has_value());
    EXPECT_EQ((*entry)->name, QStringLiteral("母线继电器"));
    EXPECT_EQ((*entry)->client, QStringLiteral("天山换流站"));
    EXPECT_EQ(**linkedSerial(*archive, ids[3]), QStringLiteral("R7"));

    RelayEntry withValues = **entry;
    withValues.alarm = Decimal::parse(QStringLiteral("0.55"));
    ASSERT_TRUE(saveRelay(*archive, withValues, QStringLiteral("test")).ok());
    MadeReport judged = makeReport(*archive, ids[3], d, record->row(), QStringLiteral("test"));
    ASSERT_TRUE(judged.judgement);
    ASSERT_EQ(judged.pages.size(), 2u);
    const PageLabel* conclusion = judged.pages[0].label(kConclusionLabel);
    ASSERT_NE(conclusion, nullptr);
    EXPECT_TRUE(conclusion->text.startsWith(QStringLiteral("结论：")));
    EXPECT_EQ(conclusion->box, QRect(24, 998, 656, 17));
    EXPECT_EQ((*findRelay(*archive, QStringLiteral("R7")))->alarm, withValues.alarm) << "the dialog keeps the values";
    auto latest = latestReport(*archive, ids[3]);
    ASSERT_TRUE(latest.ok() && latest->has_value());
    EXPECT_EQ((*latest)->judgementId, judged.judgement->id);
}

INSTANTIATE_TEST_SUITE_P(Engines, Register, archivetest::testedEngines(),
                         archivetest::engineName);

// An archive of the first schema, written before the register existed, opens
// upgraded with everything in it kept.
TEST(RegisterSchema, anArchiveOfTheFirstSchemaIsUpgradedKeepingItsRecords)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("v1.sqlite"));
    const QByteArray raw = sim::plausibleRecords(1).front();
    {
        // As a program of the first schema left it: one record, one report.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const QString& sql : schema::steps().front().statements)
            ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (1)")));
        QString columns = QStringLiteral("id, raw, test_time, test_order, temperature_tenths, acquisition_mode, test_count, archived_at");
        QString values = QStringLiteral("1, ?, '2012-05-01 08:00:00', 201205010800, 225, 0, 3, '2026-01-02 03:04:05'");
        for (const QString& c : schema::pressureColumns()) {
            columns += QStringLiteral(", ") + c;
            values += QStringLiteral(", 0");
        }
        ASSERT_TRUE(q.prepare(QStringLiteral("INSERT INTO records (%1) VALUES (%2)").arg(columns, values)));
        q.addBindValue(raw);
        ASSERT_TRUE(q.exec());
        ASSERT_TRUE(q.exec(QStringLiteral(
            "INSERT INTO reports (id, record_id, created_at, source, title, calibrating_unit, submitting_unit, test_date, "
            "print_date, relay_name, model, serial_number, production_date, tester, reviewer, approver) VALUES "
            "(1, 1, '2026-01-02 03:04:05', 'old', 'T', 'U', '旧单位', 'D', 'P', 'N', 'M', 'S', 'PD', 'A', 'B', 'C')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));

    auto a = Archive::open(*ArchiveLocation::parse(file));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    EXPECT_EQ((*a)->schemaVersion(), schema::kCurrentVersion);
    auto records = listRecords(**a, {});
    ASSERT_TRUE(records.ok() && records->size() == 1u);
    EXPECT_EQ(records->front().raw, raw);
    EXPECT_EQ(records->front().archivedAt, QStringLiteral("2026-01-02 03:04:05"));
    auto report = latestReport(**a, 1);
    ASSERT_TRUE(report.ok() && report->has_value());
    EXPECT_EQ((*report)->details.submittingUnit, QStringLiteral("旧单位"));
    EXPECT_EQ((*report)->judgementId, 0);
    // And the register's tables are there to use.
    ASSERT_TRUE(saveRelay(**a, relay(QStringLiteral("R1")), QStringLiteral("test")).ok());
    EXPECT_TRUE(linkRecord(**a, 1, QStringLiteral("R1")));
}
