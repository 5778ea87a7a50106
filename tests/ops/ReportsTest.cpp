// The operations both programs call, on a real archive: which details a
// report of a record prints, when the register learns from it, when the
// archive keeps it, link and judge, and the times they stamp.
#include "base/Clock.h"
#include "ops/Links.h"
#include "ops/Reports.h"
#include "ops/Syncs.h"
#include "register/Judgement.h"
#include "sim/Records.h"

#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sf6;

namespace {

const QString kSource = QStringLiteral("test");

RelayEntry relay(const QString& serial)
{
    RelayEntry e;
    e.serial = serial;
    e.name = QStringLiteral("主变A相");
    e.model = QStringLiteral("ZMJ-100");
    e.client = QStringLiteral("220kV南湖站");
    e.alarm = Decimal::parse(QStringLiteral("0.55"));
    e.lock1 = Decimal::parse(QStringLiteral("0.50"));
    return e;
}

ops::GivenDetails given(QString ReportDetails::*field, const QString& value) { return {{{field, value}}}; }

class Operations : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto a = Archive::open(*ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite"))));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        archive = std::move(*a);
        auto s = ops::keepSync(*archive, {kSource, QStringLiteral("COM3"), 3, SyncEnd::Complete, sim::plausibleRecords(3)});
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
        ids = s->recordIds;
        ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), kSource).ok());
        start = ops::startingReportDetails(archive.get());
    }
    void TearDown() override { Clock::set({}); }

    ListRow row(int id) { return (*findRecord(*archive, id))->row(); }
    std::optional<StoredReport> latest(int id) { return *latestReport(*archive, id); }
    ops::RecordReport report(int id, const ops::GivenDetails& g = {})
    {
        auto r = ops::recordReport(archive.get(), id, row(id), start, g);
        EXPECT_TRUE(r.ok()) << r.error().toStdString();
        return r.ok() ? *r : ops::RecordReport{};
    }

    QTemporaryDir dir;
    std::shared_ptr<Archive> archive;
    std::vector<int> ids;
    ReportDetails start;
};

} // namespace

// Nobody described the relay: an unlinked record's report names none, a
// linked one's names the register's relay and its judgement; neither is kept.
TEST_F(Operations, aReportNobodyConfirmedInventsNoRelayAndIsNotKept)
{
    ASSERT_TRUE(ops::linkRecords(*archive, {ids[1]}, QStringLiteral("R1"), kSource).ok());
    const ops::RecordReport unlinked = report(ids[0]);
    for (const QString& field : {unlinked.details.relayName, unlinked.details.model, unlinked.details.serialNumber,
                                 unlinked.details.productionDate, unlinked.details.submittingUnit})
        EXPECT_TRUE(field.isEmpty()) << field.toStdString();
    EXPECT_EQ(unlinked.details.tester, defaultReportDetails({}).tester) << "the lab's fields stay";
    EXPECT_EQ(unlinked.pages.size(), 1u);
    EXPECT_FALSE(unlinked.keep);

    const ops::RecordReport linked = report(ids[1]);
    EXPECT_EQ(linked.details.relayName, QStringLiteral("主变A相"));
    EXPECT_EQ(linked.details.serialNumber, QStringLiteral("R1"));
    EXPECT_EQ(linked.details.submittingUnit, QStringLiteral("220kV南湖站"));
    EXPECT_EQ(linked.pages.size(), 2u) << "judged with its relay";
    EXPECT_FALSE(linked.keep);

    ops::ReportBatch batch;
    batch.add(unlinked);
    batch.add(linked);
    ASSERT_TRUE(batch.finish(*archive, true, kSource).ok());
    EXPECT_FALSE(latest(ids[0]));
    EXPECT_FALSE(latest(ids[1]));
}

// Details a person gave make a report that is kept, but only once the output
// is complete; printed again unchanged, it is not kept twice.
TEST_F(Operations, givenDetailsAreKeptOnceTheOutputIsCompleteAndOnlyOnce)
{
    const auto tester = given(&ReportDetails::tester, QStringLiteral("赵六"));
    ops::ReportBatch batch;
    batch.add(report(ids[0], tester));
    EXPECT_EQ(batch.waiting(), 1u);
    ASSERT_TRUE(batch.finish(*archive, false, kSource).ok());
    EXPECT_FALSE(latest(ids[0])) << "an output that failed keeps nothing";
    EXPECT_EQ(batch.waiting(), 0u);

    batch.add(report(ids[0], tester));
    const auto kept = batch.finish(*archive, true, kSource);
    ASSERT_TRUE(kept.ok()) << kept.error().toStdString();
    ASSERT_EQ(kept->size(), 1u);
    ASSERT_TRUE(latest(ids[0]));
    EXPECT_EQ(latest(ids[0])->details.tester, QStringLiteral("赵六"));
    EXPECT_TRUE(latest(ids[0])->details.relayName.isEmpty());

    const ops::RecordReport again = report(ids[0], tester);
    EXPECT_EQ(again.details, latest(ids[0])->details) << "the stored report, printed again";
    EXPECT_FALSE(again.keep);
    EXPECT_FALSE(report(ids[0]).keep) << "printed again without details";
}

// The dialog's confirmation: the register learns the relay it names, the
// record is linked and judged by it, and the report is to be kept; a
// serial number given to a sync keeps the register's texts for that relay.
TEST_F(Operations, aConfirmedReportTeachesTheRegisterLinksAndJudges)
{
    ReportDetails d = start;
    d.serialNumber = QStringLiteral("R9");
    d.relayName = QStringLiteral("新继电器");
    const ops::RecordReport made = ops::confirmedReport(archive.get(), ids[0], d, row(ids[0]), kSource);
    EXPECT_TRUE(made.problems.isEmpty()) << made.problems.join(u'\n').toStdString();
    ASSERT_TRUE(made.keep);
    EXPECT_EQ(made.keep->recordId, ids[0]);
    EXPECT_EQ(*linkedSerial(*archive, ids[0]), std::optional<QString>(QStringLiteral("R9")));
    EXPECT_EQ((*findRelay(*archive, QStringLiteral("R9")))->name, QStringLiteral("新继电器"));

    const ops::RecordReport plain = ops::confirmedReport(nullptr, ids[0], d, row(ids[0]), kSource);
    EXPECT_EQ(plain.pages.size(), 1u);
    EXPECT_FALSE(plain.keep) << "no archive, nothing to keep";

    auto synced = ops::syncedRecordReport(archive.get(), ids[2], row(ids[2]), start,
                                          given(&ReportDetails::serialNumber, QStringLiteral("R1")), kSource);
    ASSERT_TRUE(synced.ok()) << synced.error().toStdString();
    EXPECT_EQ(synced->details.relayName, QStringLiteral("主变A相")) << "not the sample relay's name";
    EXPECT_EQ((*findRelay(*archive, QStringLiteral("R1")))->name, QStringLiteral("主变A相")) << "nor taught to the register";
    EXPECT_EQ(synced->pages.size(), 2u);
    EXPECT_TRUE(synced->keep);
    EXPECT_EQ(*linkedSerial(*archive, ids[2]), std::optional<QString>(QStringLiteral("R1")));
}

// A dialog opens with the lab's fields of the last report and the record's
// own relay; the history's opens with the record's latest report.
TEST_F(Operations, aDialogStartsFromTheLastReportAndTheLinkedRelay)
{
    ReportDetails lab = start;
    lab.title = QStringLiteral("本所的标题");
    lab.relayName = QStringLiteral("别的继电器");
    ASSERT_TRUE(storeReport(*archive, ids[0], lab, kSource).ok());
    ASSERT_TRUE(ops::linkRecords(*archive, {ids[1]}, QStringLiteral("R1"), kSource).ok());

    const ops::DialogStart main = ops::dialogStart(*archive, {ids[1]}, defaultReportDetails({}), false);
    ASSERT_TRUE(main.details);
    EXPECT_EQ(main.details->title, QStringLiteral("本所的标题"));
    EXPECT_NE(main.details->relayName, QStringLiteral("别的继电器")) << "only the lab's own fields carry over";
    ASSERT_TRUE(main.linkedRelay);
    EXPECT_EQ(main.linkedRelay->serial, QStringLiteral("R1"));

    const ops::DialogStart history = ops::dialogStart(*archive, {ids[0]}, defaultReportDetails({}), true);
    ASSERT_TRUE(history.details);
    EXPECT_EQ(history.details->relayName, QStringLiteral("别的继电器"));
    EXPECT_FALSE(history.linkedRelay);
}

// A judgement is given even where it may not be kept, and says why not.
TEST_F(Operations, linkUnlinkAndJudgeSayWhatTheyDid)
{
    ASSERT_TRUE(ops::linkRecords(*archive, {ids[0], ids[1]}, QStringLiteral("R1"), kSource).ok());
    EXPECT_FALSE(ops::linkRecords(*archive, {ids[2], 999}, QStringLiteral("R1"), kSource).ok()) << "no record 999";
    EXPECT_EQ(*linkedSerial(*archive, ids[2]), std::nullopt) << "all or none";

    auto unkept = ops::judgeRecord(*archive, ids[0], false);
    ASSERT_TRUE(unkept.ok()) << unkept.error().toStdString();
    ASSERT_TRUE(unkept->judgement);
    EXPECT_EQ(unkept->notKept, QStringLiteral("判定不会存档（--no-store）。"));
    EXPECT_TRUE(judgementsOf(*archive, ids[0])->empty());
    auto kept = ops::judgeRecord(*archive, ids[0], true);
    ASSERT_TRUE(kept.ok() && kept->judgement);
    EXPECT_TRUE(kept->notKept.isEmpty());
    EXPECT_EQ(judgementsOf(*archive, ids[0])->size(), 1u);

    auto none = ops::judgeRecord(*archive, ids[2], true);
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none->judgement);
    EXPECT_FALSE(none->whyNot.isEmpty());

    EXPECT_EQ(*ops::unlinkRecords(*archive, {ids[0], ids[1], ids[2]}, kSource), 2);
}

// Every time the archive stamps and every today a report prints is the clock's.
TEST_F(Operations, timesComeFromTheOneClock)
{
    const QDateTime fixed(QDate(2031, 2, 3), QTime(10, 11, 12));
    Clock::set([fixed] { return fixed; });
    auto s = ops::keepSync(*archive, {kSource, QStringLiteral("COM4"), 1, SyncEnd::Complete, sim::plausibleRecords(1, 7)});
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const auto syncs = listSyncs(*archive);
    ASSERT_TRUE(syncs.ok());
    EXPECT_EQ(syncs->back().syncedAt, QStringLiteral("2031-02-03 10:11:12"));
    EXPECT_EQ(ops::startingReportDetails(nullptr).printDate, QLocale().toString(fixed.date(), QLocale::ShortFormat));
    auto nothing = ops::keepSync(*archive, {kSource, QStringLiteral("COM4"), 0, SyncEnd::Empty, {}});
    ASSERT_TRUE(nothing.ok());
    EXPECT_EQ(listSyncs(*archive)->size(), syncs->size()) << "a sync that brought nothing is not kept";
}
