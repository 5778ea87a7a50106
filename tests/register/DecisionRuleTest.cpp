// The guard-band decision rule item by item, with exact decimals on both
// edges of the band, the record's verdict from its items, and a judgement's
// rule kept in what is stored of it.
#include "register/Decimal.h"
#include "register/JudgedReport.h"
#include "register/Judgement.h"
#include "sync/Columns.h"

#include <gtest/gtest.h>

using namespace sf6;

namespace {

Decimal d(const char* text) { return *Decimal::parse(QString::fromLatin1(text)); }

// One trial; the alarm reads `alarm` and returns 0.010 above it, the lock-outs pass.
ListRow row(const char* alarm)
{
    ListRow r(kColumnCount, QStringLiteral("0.000"));
    r[kColNumber] = QStringLiteral("1");
    r[kColTestCount] = QStringLiteral("1");
    const Decimal a = d(alarm);
    for (int c : {5, 11})
        r[c] = a.fixedText(3);
    for (int c : {8, 14})
        r[c] = (a + d("0.010")).fixedText(3);
    for (int c : {6, 7, 17, 23})
        r[c] = QStringLiteral("0.500");
    for (int c : {9, 10, 20, 26})
        r[c] = QStringLiteral("0.510");
    return r;
}

RelayEntry relay()
{
    RelayEntry e;   // range -0.1 .. 0.9, class 1.6: E = 0.016
    e.serial = QStringLiteral("R1");
    e.alarm = d("0.550");
    e.lock1 = d("0.500");
    return e;
}

const DecisionRule kGuardBand{DecisionRule::GuardBand, Decimal::fromThousandths(2), Decimal::fromThousandths(2000)};

} // namespace

TEST(DecisionRule, guardBandPassesToEMinusUFailsBeyondEPlusUAndLeavesTheBandUndecided)
{
    struct Case {
        const char* alarm;
        const char* verdict;
    };
    // E = 0.016, U = 0.002: 0.014 passes, 0.015 .. 0.018 cannot be decided, 0.019 fails; on both sides.
    for (const Case c : {Case{"0.564", "合格"}, Case{"0.565", "无法判定"}, Case{"0.568", "无法判定"},
                         Case{"0.569", "不合格"}, Case{"0.536", "合格"}, Case{"0.532", "无法判定"},
                         Case{"0.531", "不合格"}}) {
        const std::optional<Judgement> j = judge(row(c.alarm), relay(), kGuardBand);
        ASSERT_TRUE(j);
        EXPECT_EQ(j->verdict(), QString::fromUtf8(c.verdict)) << c.alarm;
    }
    // The same readings under the simple rule: everything up to E passes.
    EXPECT_EQ(judge(row("0.566"), relay())->verdict(), kVerdictPass);
    EXPECT_EQ(judge(row("0.567"), relay())->verdict(), kVerdictFail);
}

TEST(DecisionRule, theSwitchingDifferentialHasTheSameBandAndAFailOutweighsAnUndecided)
{
    RelayEntry e = relay();
    e.diffLimit = d("0.008");   // the alarm's differential of 0.010 lies in 0.006 .. 0.010
    const Judgement undecided = *judge(row("0.550"), e, kGuardBand);
    EXPECT_EQ(undecided.verdict(), kVerdictUndecided);
    EXPECT_EQ(undecided.items.front().failure(), kVerdictUndecided);
    EXPECT_TRUE(undecided.items.front().undecided());

    // A failing error beside an undecided differential: the item and the record fail.
    const Judgement failing = *judge(row("0.569"), e, kGuardBand);
    EXPECT_EQ(failing.verdict(), kVerdictFail);
    EXPECT_EQ(failing.items.front().failure(), kErrorExceeds);
    EXPECT_EQ(conclusionLine(failing),
              QStringLiteral("结论：不合格（报警第一次、均值误差超差，闭锁1第一次、均值无法判定；依据DL/T 259-2012；"
                             "准确度等级1.6级，量程-0.1～0.9MPa，允许误差±0.016MPa；判定规则：保护带，U=0.002MPa（k=2））"));

    // The judgement page's cell and rule say so.
    const ReportConclusion page = conclusionOf(undecided);
    EXPECT_EQ(page.items.front().last(), kVerdictUndecided);
    EXPECT_EQ(page.rule.back(), (std::pair{QStringLiteral("判定规则"), QStringLiteral("保护带，U=0.002MPa（k=2）")}));
}

TEST(DecisionRule, aJudgementKeepsItsRuleAndASimpleOneReadsAsBefore)
{
    const Judgement guarded = *judge(row("0.565"), relay(), kGuardBand);
    const QByteArray json = judgementJson(7, guarded);
    EXPECT_TRUE(json.contains("\"rule\":\"guard-band\",\"expandedUncertainty\":0.002,\"coverageFactor\":2")) << json.constData();
    const std::optional<Judgement> back = judgementFromJson(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->rule, guarded.rule);
    EXPECT_EQ(back->verdict(), kVerdictUndecided);
    EXPECT_EQ(judgementJson(7, *back), json);
    EXPECT_TRUE(conclusionLine(guarded).endsWith(QStringLiteral("；判定规则：保护带，U=0.002MPa（k=2））")))
        << conclusionLine(guarded).toStdString();

    const QByteArray simple = judgementJson(7, *judge(row("0.565"), relay()));
    EXPECT_FALSE(simple.contains("rule"));
    EXPECT_TRUE(simple.endsWith("\"verdict\":\"合格\"}"));
    EXPECT_EQ(judgementFromJson(simple)->rule, DecisionRule{});
    EXPECT_EQ(guardBandSentence(kGuardBand),
              QStringLiteral("判定规则：保护带，U=0.002MPa（k=2），|误差|≤E−U为合格，|误差|>E+U为不合格，其间为无法判定"));
}
