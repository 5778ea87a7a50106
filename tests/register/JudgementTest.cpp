// The judgement's rule, item by item, on rows whose every reading is chosen:
// exact decimals, the trials a count runs, contacts without a nominal value,
// values on the limits, and the register's refusals of wrong fields.
#include "register/Decimal.h"
#include "register/JudgedReport.h"
#include "register/Judgement.h"
#include "register/RelayEntry.h"
#include "sync/Columns.h"

#include <gtest/gtest.h>

using namespace sf6;

namespace {

Decimal d(const char* text) { return *Decimal::parse(QString::fromLatin1(text)); }

// A record whose trials all read `action` and return `action + diff`, at P20;
// the means too.
ListRow row(int count, const char* action = "0.550", const char* ret = "0.560")
{
    ListRow r(kColumnCount, QStringLiteral("0.000"));
    r[kColNumber] = QStringLiteral("1");
    r[kColTime] = QStringLiteral("2012-05-18 09:07");
    r[kColTestCount] = QString::number(count);
    for (int c : {5, 6, 7, 11, 12, 13, 17, 18, 19, 23, 24, 25})
        r[c] = QString::fromLatin1(action);
    for (int c : {8, 9, 10, 14, 15, 16, 20, 21, 22, 26, 27, 28})
        r[c] = QString::fromLatin1(ret);
    return r;
}

RelayEntry relay()
{
    RelayEntry e;   // range -0.1 .. 0.9, class 1.6: E = 0.016
    e.serial = QStringLiteral("20121212");
    e.alarm = d("0.550");
    e.lock1 = d("0.550");
    e.lock2 = d("0.550");
    return e;
}

const JudgementItem* item(const Judgement& j, Contact c, int trial)
{
    for (const JudgementItem& i : j.items)
        if (i.contact == c && i.trial == trial)
            return &i;
    return nullptr;
}

} // namespace

TEST(Decimal, parsesExactlyAndWritesTheShortestText)
{
    EXPECT_EQ(d("0.550").nano(), 550000000);
    EXPECT_EQ(d("-0.1").text(), QStringLiteral("-0.1"));
    EXPECT_EQ(d("0,016").text(), QStringLiteral("0.016")) << "a decimal comma";
    EXPECT_EQ(d(".5").text(), QStringLiteral("0.5"));
    EXPECT_EQ(d("2").text(), QStringLiteral("2"));
    EXPECT_EQ(d("0.550").fixedText(3), QStringLiteral("0.550"));
    EXPECT_EQ(d("-0.000").text(), QStringLiteral("0"));
    for (const char* bad : {"", "abc", "1.2.3", "0.1234567", "1e3", "--1", "0x10", " . "})
        EXPECT_FALSE(Decimal::parse(QString::fromLatin1(bad))) << bad;
    // Class 2.5 over a range of 0.35 MPa: 0.00875 exactly, not 0.0087500000001.
    RelayEntry e;
    e.classTenths = 25;
    e.lower = d("0.25");
    e.upper = d("0.6");
    EXPECT_EQ(e.allowedError().text(), QStringLiteral("0.00875"));
}

TEST(Judgement, everyItemPassing_isPassForEveryTrialAndTheMean)
{
    const auto j = judge(row(3), relay());
    ASSERT_TRUE(j);
    EXPECT_EQ(j->allowed.text(), QStringLiteral("0.016"));
    EXPECT_EQ(j->limit.text(), QStringLiteral("0.016")) << "no limit of its own: the allowed error";
    ASSERT_EQ(j->items.size(), 12u) << "three contacts, three trials and the mean";
    EXPECT_TRUE(j->pass());
    EXPECT_EQ(j->verdict(), QStringLiteral("合格"));
    EXPECT_EQ(conclusionLine(*j),
              QStringLiteral("结论：合格（依据DL/T 259-2012；准确度等级1.6级，量程-0.1～0.9MPa，允许误差±0.016MPa）"));
}

TEST(Judgement, oneTrialOffOnOneContactFailsTheRecordAndOnlyThatItem)
{
    ListRow r = row(3);
    r[18] = QStringLiteral("0.567");   // lock-out 1, trial 2: 0.017 above the nominal
    const auto j = judge(r, relay());
    ASSERT_TRUE(j);
    EXPECT_FALSE(j->pass());
    EXPECT_EQ(j->verdict(), QStringLiteral("不合格"));
    const JudgementItem* off = item(*j, Contact::Lock1, 2);
    ASSERT_NE(off, nullptr);
    EXPECT_FALSE(off->errorPasses);
    EXPECT_EQ(off->error.text(), QStringLiteral("0.017"));
    EXPECT_EQ(std::count_if(j->items.begin(), j->items.end(), [](const JudgementItem& i) { return !i.pass(); }), 1);
    EXPECT_TRUE(conclusionLine(*j).startsWith(QStringLiteral("结论：不合格（")));
}

TEST(Judgement, aValueExactlyOnALimitPasses)
{
    // Error exactly -E and +E; a differential exactly at the limit.
    ListRow r = row(2, "0.534", "0.550");
    r[12] = QStringLiteral("0.566");
    r[15] = QStringLiteral("0.582");
    const auto j = judge(r, relay());
    ASSERT_TRUE(j);
    EXPECT_EQ(item(*j, Contact::Alarm, 1)->error.text(), QStringLiteral("-0.016"));
    EXPECT_EQ(item(*j, Contact::Alarm, 2)->error.text(), QStringLiteral("0.016"));
    EXPECT_EQ(item(*j, Contact::Alarm, 1)->differential.text(), QStringLiteral("0.016"));
    EXPECT_TRUE(j->pass());

    r[11] = QStringLiteral("0.533");   // one thousandth beyond
    EXPECT_FALSE(judge(r, relay())->pass());
}

TEST(Judgement, aDifferentialOverItsLimitFails)
{
    RelayEntry e = relay();
    e.diffLimit = d("0.010");
    const auto j = judge(row(1, "0.550", "0.561"), e);
    ASSERT_TRUE(j);
    EXPECT_EQ(j->limit.text(), QStringLiteral("0.01"));
    const JudgementItem* i = item(*j, Contact::Alarm, 1);
    EXPECT_TRUE(i->errorPasses);
    EXPECT_FALSE(i->differentialPasses);
    EXPECT_EQ(i->differential.text(), QStringLiteral("0.011"));
    EXPECT_FALSE(j->pass());
}

TEST(Judgement, theTestCountDecidesTheTrialsJudged)
{
    const std::pair<int, size_t> counts[] = {{0, 2}, {1, 2}, {2, 3}, {3, 4}, {255, 4}};
    for (auto [count, perContact] : counts) {
        const auto j = judge(row(count), relay());
        ASSERT_TRUE(j) << count;
        EXPECT_EQ(j->items.size(), 3 * perContact) << "count " << count;
        EXPECT_EQ(j->items.back().trial, 0) << "the mean comes last";
    }
    // A trial the count does not run is not judged, however bad its reading.
    ListRow r = row(1);
    r[12] = QStringLiteral("9.999");
    EXPECT_TRUE(judge(r, relay())->pass());
}

TEST(Judgement, aContactWithoutANominalValueIsNotJudged)
{
    RelayEntry e = relay();
    e.lock2.reset();
    ListRow r = row(3);
    r[23] = QStringLiteral("9.999");   // lock-out 2 far off: no matter
    const auto j = judge(r, e);
    ASSERT_TRUE(j);
    EXPECT_EQ(j->items.size(), 8u);
    EXPECT_EQ(item(*j, Contact::Lock2, 1), nullptr);
    EXPECT_TRUE(j->pass());

    e.alarm.reset();
    e.lock1.reset();
    EXPECT_FALSE(judge(r, e)) << "no nominal value at all: no judgement";
}

TEST(Judgement, jsonWritesEveryNumberExactlyAndReadsBack)
{
    ListRow r = row(1);
    r[11] = QStringLiteral("0.557");
    const auto j = judge(r, relay());
    const QByteArray json = judgementJson(7, *j);
    EXPECT_TRUE(json.startsWith(
        "{\"record\":7,\"serial\":\"20121212\",\"class\":1.6,\"range\":[-0.1,0.9],\"allowed\":0.016,\"limit\":0.016,"
        "\"items\":[{\"contact\":\"alarm\",\"trial\":1,\"nominal\":0.55,\"action\":0.557,\"error\":0.007,\"return\":0.56,"
        "\"differential\":0.003,\"pass\":true},{\"contact\":\"alarm\",\"trial\":\"mean\","))
        << json.toStdString();
    EXPECT_TRUE(json.endsWith("],\"verdict\":\"合格\"}"));
    const auto back = judgementFromJson(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(judgementJson(7, *back), json);
}

// A stored judgement reads back whole: an allowed error with more decimals
// than a user may type, and serial numbers with characters JSON escapes.
TEST(Judgement, jsonReadsBackEveryExactValueAndEverySerial)
{
    EXPECT_FALSE(Decimal::parse(QStringLiteral("0.0250025"))) << "typed: at most six decimals";
    EXPECT_EQ(Decimal::parseExact(QStringLiteral("0.000000001"))->nano(), 1);
    EXPECT_FALSE(Decimal::parseExact(QStringLiteral("0.0000000001"))) << "finer than the scale";

    RelayEntry e = relay();
    e.upper = d("0.9001");
    e.classTenths = 25;
    const QString serials[] = {QStringLiteral("S1\\"), QStringLiteral("a\"b"), QStringLiteral("c\\\"d\\"),
                               QStringLiteral("e\x01" "f\tg\nh\x1f"), QStringLiteral("\\u0041 0.5 -1"), QStringLiteral("继电器\\")};
    for (const QString& serial : serials) {
        e.serial = serial;
        const auto j = judge(row(2, "0.551", "0.561"), e);
        ASSERT_TRUE(j);
        EXPECT_EQ(j->allowed.text(), QStringLiteral("0.0250025"));
        const QByteArray json = judgementJson(3, *j);
        const auto back = judgementFromJson(json);
        ASSERT_TRUE(back) << json.toStdString();
        EXPECT_EQ(back->relay.serial, serial);
        EXPECT_EQ(back->allowed, j->allowed);
        EXPECT_EQ(back->relay.upper, e.upper);
        EXPECT_EQ(judgementJson(3, *back), json);
    }
}

// Each failing row says which criterion failed; the conclusion names the
// failing items, a contact's trials together, and E with three decimals.
TEST(Judgement, theConclusionAndEachRowSayWhatFailed)
{
    RelayEntry e = relay();   // range 0 .. 1 at class 1.0: E = 0.010
    e.lower = d("0");
    e.upper = d("1");
    e.classTenths = 10;
    ListRow r = row(1);                 // differentials of 0.010: on the limit
    r[26] = QStringLiteral("0.561");    // lock-out 2, trial 1 and the mean: differential 0.011
    r[10] = QStringLiteral("0.561");
    const auto onlyLock2 = judge(r, e);
    ASSERT_TRUE(onlyLock2);
    EXPECT_EQ(conclusionLine(*onlyLock2),
              QStringLiteral("结论：不合格（闭锁2第一次、均值切换差超差；依据DL/T 259-2012；准确度等级1.0级，量程0～1MPa，"
                             "允许误差±0.010MPa）"));

    r[11] = QStringLiteral("0.562");    // alarm, trial 1: error 0.012, differential -0.012
    r[14] = QStringLiteral("0.550");
    r[6] = QStringLiteral("0.561");     // lock-out 1 mean: error 0.011, differential 0.009
    r[9] = QStringLiteral("0.570");
    const auto j = judge(r, e);
    ASSERT_TRUE(j);
    EXPECT_TRUE(conclusionLine(*j).startsWith(
        QStringLiteral("结论：不合格（报警第一次误差、切换差超差，闭锁1均值误差超差，闭锁2第一次、均值切换差超差；依据")))
        << conclusionLine(*j).toStdString();

    const ReportConclusion c = conclusionOf(*j);
    ASSERT_EQ(c.items.size(), 6u);
    const QString verdicts[] = {QStringLiteral("均超差"), QStringLiteral("合格"), QStringLiteral("合格"),
                                QStringLiteral("误差超差"), QStringLiteral("切换差超差"), QStringLiteral("切换差超差")};
    for (size_t i = 0; i < c.items.size(); ++i)
        EXPECT_EQ(c.items[i].back(), verdicts[i]) << c.items[i].join(u' ').toStdString();
    EXPECT_EQ(c.items[0][5], QStringLiteral("±0.010")) << "the table's allowed error";
    EXPECT_TRUE(conclusionLine(*judge(row(1), e)).endsWith(QStringLiteral("允许误差±0.010MPa）")));
}

// Each wrong field is refused by name, and the entry stays as it was.
TEST(RelayEntry, wrongFieldsAreRefusedByName)
{
    struct Case {
        const char* what;
        RelayTexts texts;
        QString field;
    };
    auto with = [](auto setter) {
        RelayTexts t;
        t.serial = QStringLiteral("R1");
        setter(t);
        return t;
    };
    const Case cases[] = {
        {"class 1.5", with([](RelayTexts& t) { t.accuracyClass = QStringLiteral("1.5"); }), kFieldClass},
        {"class text", with([](RelayTexts& t) { t.accuracyClass = QStringLiteral("一级"); }), kFieldClass},
        {"upper below lower", with([](RelayTexts& t) { t.lower = QStringLiteral("0.9"); t.upper = QStringLiteral("0.1"); }), kFieldUpper},
        {"upper equal lower", with([](RelayTexts& t) { t.lower = QStringLiteral("0.5"); t.upper = QStringLiteral("0.5"); }), kFieldUpper},
        {"nominal above range", with([](RelayTexts& t) { t.alarm = QStringLiteral("0.95"); }), kFieldAlarm},
        {"nominal below range", with([](RelayTexts& t) { t.lock2 = QStringLiteral("-0.2"); }), kFieldLock2},
        {"negative interval", with([](RelayTexts& t) { t.intervalMonths = QStringLiteral("-1"); }), kFieldInterval},
        {"no interval", with([](RelayTexts& t) { t.intervalMonths = QStringLiteral("0"); }), kFieldInterval},
        {"interval not a number", with([](RelayTexts& t) { t.intervalMonths = QStringLiteral("十二"); }), kFieldInterval},
        {"unparsable nominal", with([](RelayTexts& t) { t.lock1 = QStringLiteral("0.5MPa"); }), kFieldLock1},
        {"unparsable range", with([](RelayTexts& t) { t.lower = QStringLiteral("负0.1"); }), kFieldLower},
        {"negative limit", with([](RelayTexts& t) { t.diffLimit = QStringLiteral("-0.01"); }), kFieldDiffLimit},
        {"no serial", RelayTexts{}, kFieldSerial},
    };
    for (const Case& c : cases) {
        const auto e = applyRelayTexts(RelayEntry{}, c.texts);
        ASSERT_FALSE(e.ok()) << c.what;
        EXPECT_TRUE(e.error().contains(QStringLiteral("「%1」").arg(c.field))) << c.what << ": " << e.error().toStdString();
        EXPECT_EQ(e.code(), ErrorCode::InvalidValue) << c.what;
    }
    RelayTexts good;
    good.serial = QStringLiteral("R1");
    good.accuracyClass = QStringLiteral("2.5");
    good.alarm = QStringLiteral("0.45");
    good.intervalMonths = QStringLiteral("6");
    const auto e = applyRelayTexts(RelayEntry{}, good);
    ASSERT_TRUE(e.ok()) << e.error().toStdString();
    EXPECT_EQ(e->classTenths, 25);
    EXPECT_EQ(e->intervalMonths, 6);
    RelayTexts clear;
    clear.alarm = QString();
    EXPECT_FALSE(applyRelayTexts(*e, clear)->alarm) << "an empty nominal clears it";
}

// The register window saves what the user changed in the fields, applied to
// the entry as it is by then: another's change meanwhile stays.
TEST(RelayEntry, onlyTheFieldsChangedFromTheShownEntryAreSaved)
{
    RelayEntry shown = relay();
    shown.name = QStringLiteral("主变A相");
    RelayTexts typed = textsOf(shown);
    EXPECT_TRUE(changedTexts(shown, typed).serial == std::nullopt) << "nothing changed, nothing carried";
    typed.name = QStringLiteral("新名");
    typed.lock1 = QStringLiteral(" 0.55 ");   // the same text, typed around

    RelayEntry meanwhile = shown;
    meanwhile.alarm = d("0.60");
    meanwhile.classTenths = 25;
    const RelayTexts changed = changedTexts(shown, typed);
    EXPECT_FALSE(changed.alarm);
    EXPECT_FALSE(changed.lock1);
    const auto saved = applyRelayTexts(meanwhile, changed);
    ASSERT_TRUE(saved.ok()) << saved.error().toStdString();
    EXPECT_EQ(saved->name, QStringLiteral("新名"));
    EXPECT_EQ(saved->alarm, d("0.60"));
    EXPECT_EQ(saved->classTenths, 25);

    typed.alarm = QString();   // a value cleared is a change
    EXPECT_FALSE(applyRelayTexts(meanwhile, changedTexts(shown, typed))->alarm);
}
