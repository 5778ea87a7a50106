// The register in a real archive, on SQLite and PostgreSQL: versions kept,
// judgements that name the values they used, due dates, trends, reports that
// confirm into the register, and an archive of the first schema upgraded.
#include "archive/HistoryModel.h"
#include "archive/Schema.h"
#include "register/JudgedReport.h"
#include "register/RelayRegister.h"
#include "register/TrendChart.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"
#include "tests/archive/SyncedArchive.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QScatterSeries>
#include <QSqlQuery>
#include <QTemporaryDir>

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
    e.lock1 = Decimal::parse(QStringLiteral("0.50"));
    return e;
}

class Register : public archivetest::SyncedArchive {
protected:
    void SetUp() override
    {
        openWithRecords(sim::plausibleRecords(6));
    }
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

// The judgement page says where the readings came from: the instrument, or
// the file an import read them from.
TEST_P(Register, theJudgementPageSaysWhereTheReadingsCameFrom)
{
    SyncLog imported{Archive::now(), QStringLiteral("test"), QStringLiteral("old.xlsx"), 1, SyncEnd::Complete,
                     {sim::plausibleRecords(7).back()}};
    imported.fileSha256 = QString(64, u'd');
    auto s = archiveSync(*archive, imported);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    RelayEntry r;
    r.serial = QStringLiteral("R7");
    r.alarm = Decimal::parse(QStringLiteral("0.55"));
    ASSERT_TRUE(saveRelay(*archive, r, QStringLiteral("test")).ok());
    ReportDetails d = defaultReportDetails(QStringLiteral("2026-12-9"));
    d.serialNumber = QStringLiteral("R7");
    for (const auto& [record, source] : {std::pair{s->recordIds.front(), QStringLiteral("数据来源：导入 old.xlsx")},
                                         std::pair{ids[0], QStringLiteral("数据来源：仪器同步")}}) {
        MadeReport made = makeReport(*archive, record, d, (*findRecord(*archive, record))->row(), QStringLiteral("test"));
        ASSERT_EQ(made.pages.size(), 2u) << made.problems.join(u'|').toStdString();
        const PageLabel* line = made.pages[1].label(kSourceLabel);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->text, source);
        EXPECT_GT(line->box.top(), made.pages[1].label(kP20CheckLabel)->box.top()) << "below the P20 line";
        EXPECT_EQ(made.pages[0].label(kSourceLabel), nullptr) << "the record's own page stays as it was";
    }
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
    EXPECT_EQ(conclusion->box.topLeft(), QPoint(24, 998));
    EXPECT_EQ(conclusion->box.width(), 656);
    EXPECT_EQ(conclusion->box.height() % 17, 0) << "whole lines";
    EXPECT_EQ((*findRelay(*archive, QStringLiteral("R7")))->alarm, withValues.alarm) << "the dialog keeps the values";
    auto latest = latestReport(*archive, ids[3]);
    ASSERT_TRUE(latest.ok() && latest->has_value());
    EXPECT_EQ((*latest)->judgementId, judged.judgement->id);
}

// Two edits of one entry started while another writer holds the archive:
// each changes only its own field of the entry as the one before left it.
TEST_P(Register, overlappingEditsOfOneEntryBothSurvive)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("S1")), QStringLiteral("test")).ok());
    auto edit = [this](RelayTexts t, Status* outcome) {
        auto other = Archive::open(*ArchiveLocation::parse(location));
        if (!other) {
            *outcome = other.status();
            return;
        }
        auto e = editRelay(**other, QStringLiteral("S1"), t, QStringLiteral("test"));
        *outcome = !e ? e.status() : e->refused;
    };
    RelayTexts alarm, name;
    alarm.alarm = QStringLiteral("0.60");
    name.name = QStringLiteral("新名");
    Status first = Status::failure(QStringLiteral("not run")), second = first;
    {
        Archive::Write hold(*archive);   // the lock from outside
        ASSERT_TRUE(hold.begun());
        std::thread a(edit, alarm, &first);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::thread b(edit, name, &second);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));   // both waiting for the lock
        ASSERT_TRUE(hold.commit());
        a.join();
        b.join();
    }
    EXPECT_TRUE(first) << first.message().toStdString();
    EXPECT_TRUE(second) << second.message().toStdString();
    auto now = findRelay(*archive, QStringLiteral("S1"));
    ASSERT_TRUE(now.ok() && now->has_value());
    EXPECT_EQ((*now)->alarm, Decimal::parse(QStringLiteral("0.6")));
    EXPECT_EQ((*now)->name, QStringLiteral("新名"));
    EXPECT_EQ((*now)->version, 3);
}

// Judgements whose allowed error has seven decimals, of relays whose serial
// numbers JSON must escape, read back every time, and the register with them.
TEST_P(Register, judgementsOfAnyExactValueAndSerialReadBack)
{
    const QString serials[] = {QStringLiteral("R\\"), QStringLiteral("R\"1\"\\"), QStringLiteral("R\x01" "2\t3")};
    for (size_t i = 0; i < std::size(serials); ++i) {
        RelayEntry e = relay(serials[i]);
        e.upper = *Decimal::parse(QStringLiteral("0.9001"));
        e.classTenths = 25;
        ASSERT_TRUE(saveRelay(*archive, e, QStringLiteral("test")).ok());
        ASSERT_TRUE(linkRecord(*archive, ids[i], serials[i]));
        auto made = judgeRecord(*archive, ids[i]);
        ASSERT_TRUE(made.ok() && made->judgement) << (made ? made->whyNot : made.error()).toStdString();
        auto again = judgeRecord(*archive, ids[i]);
        ASSERT_TRUE(again.ok()) << again.error().toStdString();
        ASSERT_TRUE(again->judgement);
        EXPECT_EQ(again->judgement->id, made->judgement->id);
        EXPECT_EQ(again->judgement->judgement.allowed.text(), QStringLiteral("0.0250025"));
        EXPECT_EQ(again->judgement->judgement.relay.serial, serials[i]);
        EXPECT_EQ((*findRelay(*archive, serials[i]))->upper, e.upper);
    }
    auto statuses = relayStatuses(*archive, QDate(2013, 1, 1));
    ASSERT_TRUE(statuses.ok()) << statuses.error().toStdString();
    ASSERT_EQ(statuses->size(), std::size(serials));
    for (const RelayStatus& s : *statuses)
        EXPECT_FALSE(s.lastVerdict.isEmpty()) << s.entry.serial.toStdString();
}

// A test dated after today (an instrument clock set wrong) does not decide
// the due date, and the relay says which record it left out.
TEST_P(Register, aTestDatedAfterTodayIsLeftOutOfTheDueDateAndNamed)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")).ok());
    for (int id : ids)   // tested 2012-05-01 .. 2012-05-06
        ASSERT_TRUE(linkRecord(*archive, id, QStringLiteral("R1")));
    auto status = relayStatuses(*archive, QDate(2012, 5, 4));
    ASSERT_TRUE(status.ok()) << status.error().toStdString();
    const RelayStatus& s = status->front();
    EXPECT_EQ(s.lastTest, QDate(2012, 5, 4)) << "today itself counts";
    EXPECT_EQ(s.lastRecordId, ids[3]);
    EXPECT_EQ(s.nextDue, QDate(2013, 5, 4));
    ASSERT_EQ(s.skipped.size(), 2u);
    const QString note = skippedRecordsNote(s);
    for (int later : {ids[4], ids[5]})
        EXPECT_TRUE(note.contains(QStringLiteral("记录 %1 ").arg(later))) << note.toStdString();
    EXPECT_TRUE(note.contains(QStringLiteral("2012-05-06"))) << note.toStdString();
    EXPECT_TRUE(skippedRecordsNote((*relayStatuses(*archive, QDate(2012, 6, 1))).front()).isEmpty());
}

// The chart's dates span the tests with a small margin, and every point of a
// record failing on that contact is drawn in red.
TEST_P(Register, aTrendSpansItsTestsAndMarksFailingPointsInRed)
{
    RelayEntry e = relay(QStringLiteral("R1"));
    e.alarm = *Decimal::parse(QStringLiteral("-0.1"));   // far from every reading: the alarm fails
    e.lock1 = std::nullopt;
    ASSERT_TRUE(saveRelay(*archive, e, QStringLiteral("test")).ok());
    for (int i : {0, 2, 5})
        ASSERT_TRUE(linkRecord(*archive, ids[size_t(i)], QStringLiteral("R1")));
    auto t = trendOf(*archive, QStringLiteral("R1"));
    ASSERT_TRUE(t.ok()) << t.error().toStdString();
    ASSERT_EQ(t->points.size(), 3u);
    std::unique_ptr<QChart> chart(makeTrendChart(*t));
    const auto* dates = qobject_cast<QDateTimeAxis*>(chart->axes(Qt::Horizontal).front());
    ASSERT_NE(dates, nullptr);
    EXPECT_LT(dates->min(), t->points.front().when);
    EXPECT_GT(dates->min(), t->points.front().when.addDays(-1)) << "no weeks of padding";
    EXPECT_GT(dates->max(), t->points.back().when);
    EXPECT_LT(dates->max(), t->points.back().when.addDays(1));
    QScatterSeries* failing = nullptr;
    for (QAbstractSeries* s : chart->series())
        if (s->name() == kTrendFailingName)
            failing = qobject_cast<QScatterSeries*>(s);
    ASSERT_NE(failing, nullptr);
    EXPECT_EQ(failing->color(), QColor(Qt::red));
    ASSERT_EQ(failing->count(), 3) << "the alarm of each record; lock-out 1 is not judged";
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(failing->at(i).y(), double(t->points[size_t(i)].alarm->nano()) / Decimal::kScale);
}

// The sample relay of an untouched dialog never becomes anybody's relay, and
// a linked record keeps its relay (and so its verdict) unless the user agreed
// to move it.
TEST_P(Register, aConfirmedReportNeverMovesALinkOrInventsAnEntry)
{
    const ReportDetails sample = defaultReportDetails(QStringLiteral("2026-12-9"));
    const auto row = (*findRecord(*archive, ids[0]))->row();
    const ReportRelay untouched{false, false};
    MadeReport unlinked = makeReport(*archive, ids[0], sample, row, QStringLiteral("test"), untouched);
    EXPECT_TRUE(unlinked.problems.isEmpty()) << unlinked.problems.join(u'|').toStdString();
    EXPECT_FALSE(*linkedSerial(*archive, ids[0])) << "the untouched 编号 links nothing";
    EXPECT_FALSE(*findRelay(*archive, sample.serialNumber)) << "and makes no entry of the sample";

    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("HB2019-0457")), QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecord(*archive, ids[0], QStringLiteral("HB2019-0457")));
    // The dialog of a linked record opens with its relay; the relay printed is the relay judged.
    ReportDetails own = sample;
    own.serialNumber = QStringLiteral("HB2019-0457");
    MadeReport kept = makeReport(*archive, ids[0], own, row, QStringLiteral("test"), untouched);
    EXPECT_EQ(**linkedSerial(*archive, ids[0]), QStringLiteral("HB2019-0457"));
    EXPECT_TRUE(kept.judgement) << "judged by its own relay";
    EXPECT_EQ(kept.pages.size(), 2u);
    MadeReport sampleKept = makeReport(*archive, ids[0], sample, row, QStringLiteral("test"), untouched);
    EXPECT_EQ(**linkedSerial(*archive, ids[0]), QStringLiteral("HB2019-0457")) << "the sample 编号 moves nothing";
    EXPECT_FALSE(sampleKept.judgement) << "never another relay's verdict under the sample's name";

    ReportDetails other = sample;
    other.serialNumber = QStringLiteral("R9");
    makeReport(*archive, ids[0], other, row, QStringLiteral("test"), ReportRelay{true, false});
    EXPECT_EQ(**linkedSerial(*archive, ids[0]), QStringLiteral("HB2019-0457")) << "a typed 编号 moves nothing unasked";
    EXPECT_FALSE(*findRelay(*archive, QStringLiteral("R9")));
    makeReport(*archive, ids[0], other, row, QStringLiteral("test"), ReportRelay{true, true});
    EXPECT_EQ(**linkedSerial(*archive, ids[0]), QStringLiteral("R9")) << "moved when the user agreed";

    makeReport(*archive, ids[1], other, (*findRecord(*archive, ids[1]))->row(), QStringLiteral("test"), ReportRelay{true, false});
    EXPECT_EQ(**linkedSerial(*archive, ids[1]), QStringLiteral("R9")) << "a typed 编号 links an unlinked record";
}

TEST_P(Register, severalRecordsLinkAllOrNoneAndAnUndoneLinkStaysOnRecord)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")).ok());
    const Status refused = linkRecords(*archive, {ids[0], ids[1], 9999}, QStringLiteral("R1"), QStringLiteral("test"));
    EXPECT_FALSE(refused);
    EXPECT_TRUE(refused.message().contains(QStringLiteral("9999"))) << refused.message().toStdString();
    EXPECT_FALSE(*linkedSerial(*archive, ids[0])) << "none linked when one cannot be";
    ASSERT_TRUE(linkRecords(*archive, {ids[0], ids[1]}, QStringLiteral("R1"), QStringLiteral("test")));
    EXPECT_EQ(**linkedSerial(*archive, ids[0]), QStringLiteral("R1"));
    EXPECT_EQ(**linkedSerial(*archive, ids[1]), QStringLiteral("R1"));

    auto undone = unlinkRecords(*archive, {ids[0], ids[2]}, QStringLiteral("test"));
    ASSERT_TRUE(undone.ok()) << undone.error().toStdString();
    EXPECT_EQ(*undone, 1) << "only one of them was linked";
    EXPECT_FALSE(*linkedSerial(*archive, ids[0]));
    EXPECT_EQ((*judgeRecord(*archive, ids[0])).whyNot, QStringLiteral("记录 %1 没有关联继电器").arg(ids[0]));
    auto changes = linkChanges(*archive, QStringLiteral("R1"));
    ASSERT_TRUE(changes.ok());
    ASSERT_EQ(changes->size(), 3u);
    EXPECT_TRUE((*changes)[0].linked);
    EXPECT_TRUE((*changes)[1].linked);
    EXPECT_FALSE((*changes)[2].linked);
    EXPECT_EQ((*changes)[2].recordId, ids[0]);
    EXPECT_EQ((*changes)[2].source, QStringLiteral("test"));
}

// The relay a record is linked to finds it, by serial, name, model or unit,
// in any case or width; the sample relay of untouched reports finds nothing.
TEST_P(Register, theTextFilterSearchesTheLinkedRelayAndFoldsCaseAndWidth)
{
    RelayEntry e = relay(QStringLiteral("R1"));
    e.model = QStringLiteral("Ärger-Датчик abb");
    e.client = QStringLiteral("天山换流站");
    ASSERT_TRUE(saveRelay(*archive, e, QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecord(*archive, ids[2], QStringLiteral("R1")));
    for (int id : ids)   // as sync --pdf-dir leaves every record: a report of the sample relay
        ASSERT_TRUE(storeReport(*archive, id, defaultReportDetails(QStringLiteral("2026-12-9")), QStringLiteral("test")).ok());
    auto found = [&](const QString& text) {
        ArchiveFilter f;
        f.text = text;
        std::vector<int> out;
        const auto records = listRecords(*archive, f);
        EXPECT_TRUE(records.ok()) << records.error().toStdString();
        if (records.ok())
            for (const ArchivedRecord& r : *records)
                out.push_back(r.id);
        return out;
    };
    const std::vector<int> linked{ids[2]};
    for (const char* text : {"R1", "r1", "主变", "天山", "ＡＢＢ", "ÄRGER", "ДАТЧИК", "датчик"})
        EXPECT_EQ(found(QString::fromUtf8(text)), linked) << text;
    EXPECT_EQ(found(QStringLiteral("redidu")).size(), ids.size()) << "the calibrating unit is the report's own";
    EXPECT_EQ(found(QStringLiteral("1#开关")), std::vector<int>{}) << "the sample relay is nobody's";

    ASSERT_TRUE(unlinkRecords(*archive, {ids[2]}, QStringLiteral("test")).ok());
    EXPECT_TRUE(found(QStringLiteral("R1")).empty());
}

// The history's list on either engine: each record's relay and the verdict
// of its latest judgement, filtered by the relay.
TEST_P(Register, theHistoryListShowsEachRecordsRelayAndLastVerdict)
{
    ASSERT_TRUE(saveRelay(*archive, relay(QStringLiteral("R1")), QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecords(*archive, {ids[1], ids[4]}, QStringLiteral("R1")));
    const auto judged = judgeRecord(*archive, ids[4]);
    ASSERT_TRUE(judged.ok() && judged->judgement);
    HistoryModel model(*archive);
    ArchiveFilter f;
    f.text = QStringLiteral("r1");
    ASSERT_TRUE(model.setFilter(f));
    ASSERT_EQ(model.rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(model.index(row, HistoryModel::kRelayColumn).data().toString(), QStringLiteral("R1"));
        const bool judgedRow = model.recordId(row) == ids[4];
        EXPECT_EQ(model.index(row, HistoryModel::kVerdictColumn).data().toString(),
                  judgedRow ? judged->judgement->judgement.verdict() : QString());
    }
    ASSERT_TRUE(model.setFilter({}));
    EXPECT_EQ(model.rowCount(), int(ids.size())) << "unlinked records are listed too";
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

// An archive of the second schema gets the folded search texts of what it
// already holds: its old reports and relays are found as new ones are.
TEST(RegisterSchema, anUpgradedArchiveFindsItsEarlierReportsAndRelaysByFoldedText)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("v2.sqlite"));
    const QByteArray raw = sim::plausibleRecords(2).front();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v2"));
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const schema::Step& step : schema::steps()) {
            if (step.version > 2)
                continue;
            for (const QString& sql : step.statements)
                ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
        }
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (2)")));
        QString columns = QStringLiteral("id, raw, test_time, test_order, temperature_tenths, acquisition_mode, test_count, archived_at");
        QString values = QStringLiteral("?, ?, '2012-05-01 08:00:00', 201205010800, 225, 0, 3, '2026-01-02 03:04:05'");
        for (const QString& c : schema::pressureColumns()) {
            columns += QStringLiteral(", ") + c;
            values += QStringLiteral(", 0");
        }
        ASSERT_TRUE(q.prepare(QStringLiteral("INSERT INTO records (%1) VALUES (%2)").arg(columns, values)));
        q.addBindValue(1);
        q.addBindValue(raw);
        ASSERT_TRUE(q.exec());
        q.addBindValue(2);
        q.addBindValue(sim::plausibleRecords(2).back());
        ASSERT_TRUE(q.exec());
        ASSERT_TRUE(q.exec(QStringLiteral(
            "INSERT INTO reports (id, record_id, created_at, source, title, calibrating_unit, submitting_unit, test_date, "
            "print_date, relay_name, model, serial_number, production_date, tester, reviewer, approver) VALUES "
            "(1, 1, '2026-01-02 03:04:05', 'old', 'T', 'U', 'Ärger Station', 'D', 'P', 'N', 'M', 'S', 'PD', 'A', 'B', 'C')")));
        ASSERT_TRUE(q.exec(QStringLiteral(
            "INSERT INTO relay_versions (id, serial_number, version, changed_at, source, name, model, production_date, "
            "submitting_unit, range_lower, range_upper, accuracy_class, interval_months) VALUES "
            "(1, 'R2', 1, '2026-01-02 03:04:05', 'old', 'Датчик', 'M', '', '', '-0.1', '0.9', '2.5', 12)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO relays (serial_number, current_version) VALUES ('R2', 1)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO record_relays (record_id, serial_number, linked_at) "
                                          "VALUES (2, 'R2', '2026-01-02 03:04:05')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v2"));

    auto a = Archive::open(*ArchiveLocation::parse(file));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    EXPECT_EQ((*a)->schemaVersion(), schema::kCurrentVersion);
    ArchiveFilter f;
    f.text = QStringLiteral("ÄRGER");
    auto byReport = listRecords(**a, f);
    ASSERT_TRUE(byReport.ok()) << byReport.error().toStdString();
    ASSERT_EQ(byReport->size(), 1u);
    EXPECT_EQ(byReport->front().id, 1);
    f.text = QStringLiteral("ДАТЧИК");
    auto byRelay = listRecords(**a, f);
    ASSERT_EQ(byRelay->size(), 1u);
    EXPECT_EQ(byRelay->front().id, 2);
}
