// The check of a record's P20 against the SF6 equation: which readings the
// test count makes meaningful, the 0.002 MPa tolerance on both sides of it,
// temperatures the equation does not cover, and the sync's one message.
#include "register/P20Check.h"
#include "sync/Columns.h"

#include <gtest/gtest.h>

using namespace sf6;

namespace {

// At 30.0 °C, Pt 0.405 MPa is 0.3860 MPa at 20 °C (0.386005 by the equation).
ListRow row(int count, const QString& temperature = QStringLiteral("30.0°C"))
{
    ListRow r(kColumnCount, QString());
    r[kColNumber] = QStringLiteral("1");
    r[kColTime] = QStringLiteral("2012-05-18 09:07");
    r[kColTemperature] = temperature;
    r[kColMode] = QStringLiteral("系统采集");
    r[kColTestCount] = QString::number(count);
    for (int k = 0; k < 24; ++k) {
        r[kFirstValueColumn + k] = QStringLiteral("0.386");
        r[kFirstValueColumn + 24 + k] = QStringLiteral("0.405");
    }
    return r;
}

constexpr int kP20Alarm2 = 12, kPtAlarm2 = 36;   // trial 2 of the alarm value
constexpr int kTrial3[] = {13, 16, 19, 22, 25, 28};   // P20 columns of trial 3

void zeroTrial(ListRow& r, const int (&p20Columns)[6])
{
    for (int c : p20Columns) {
        r[c] = QStringLiteral("0.000");
        r[c + 24] = QStringLiteral("0.000");
    }
}

} // namespace

TEST(P20Check, agreesWithinTwoThousandthsOnEitherSideAndNoFurther)
{
    const P20Check exact = checkP20(row(3));
    ASSERT_EQ(exact.state, P20State::Agrees) << exact.reason.toStdString();
    ASSERT_EQ(exact.items.size(), 24u);
    EXPECT_EQ(exact.items[7].caption, QStringLiteral("P20报警值2"));
    EXPECT_EQ(exact.items[7].computed.text(), QStringLiteral("0.386"));
    EXPECT_EQ(p20CheckLine(exact), QStringLiteral("P20换算核查：24项一致，最大偏差0.000MPa"));

    struct Case {
        const char* p20;
        bool agrees;
        const char* deviation;
    };
    for (const Case c : {Case{"0.388", true, "+0.002MPa"}, Case{"0.384", true, "-0.002MPa"},
                         Case{"0.389", false, "+0.003MPa"}, Case{"0.383", false, "-0.003MPa"}}) {
        ListRow r = row(3);
        r[kP20Alarm2] = QString::fromLatin1(c.p20);
        const P20Check check = checkP20(r);
        EXPECT_EQ(check.state, c.agrees ? P20State::Agrees : P20State::Disagrees) << c.p20;
        EXPECT_EQ(deviationText(check.largest()->deviation), QString::fromLatin1(c.deviation));
        EXPECT_EQ(check.largest()->caption, QStringLiteral("P20报警值2"));
    }
    ListRow off = row(3);
    off[kP20Alarm2] = QStringLiteral("0.391");
    EXPECT_EQ(checkP20(off).stateText(), kP20Disagrees);
    EXPECT_EQ(p20CheckLine(checkP20(off)), QStringLiteral("P20换算核查：1项不一致（P20报警值2偏差+0.005MPa），23项一致"));
}

TEST(P20Check, checksTheReadingsTheTestCountMakesMeaningful)
{
    // Count 1: the zero readings of trials 2 and 3 are trials not run.
    ListRow one = row(1);
    zeroTrial(one, {12, 15, 18, 21, 24, 27});
    zeroTrial(one, kTrial3);
    EXPECT_EQ(checkP20(one).items.size(), 12u);
    EXPECT_EQ(checkP20(one).state, P20State::Agrees);

    // Count 2: trial 3 only.
    ListRow two = row(2);
    zeroTrial(two, kTrial3);
    EXPECT_EQ(checkP20(two).items.size(), 18u);

    // Count 0 ran no trial: its zero readings of every trial are not checked, a reading it has is.
    ListRow none = row(0);
    zeroTrial(none, {11, 14, 17, 20, 23, 26});
    zeroTrial(none, {12, 15, 18, 21, 24, 27});
    EXPECT_EQ(checkP20(none).items.size(), 12u);

    // Count 255 ran them all; a zero P20 beside a real Pt is a fault, not a trial left out.
    ListRow all = row(255);
    all[kP20Alarm2] = QStringLiteral("0.000");
    const P20Check faulty = checkP20(all);
    EXPECT_EQ(faulty.items.size(), 24u);
    EXPECT_EQ(faulty.state, P20State::Disagrees);
    // ... while a trial not run keeps it out of the check.
    ListRow notRun = row(1);
    notRun[kP20Alarm2] = QStringLiteral("0.000");
    EXPECT_EQ(checkP20(notRun).items.size(), 23u);
    EXPECT_EQ(checkP20(notRun).state, P20State::Agrees);

    // A contact the relay lacks reads zero at Pt and P20 even in its means: nothing measured.
    ListRow noLock2 = row(3);
    zeroTrial(noLock2, {7, 10, 23, 24, 25, 26});
    for (int c : {27, 28}) {
        noLock2[c] = QStringLiteral("0.000");
        noLock2[c + 24] = QStringLiteral("0.000");
    }
    EXPECT_EQ(checkP20(noLock2).items.size(), 16u);
    EXPECT_EQ(checkP20(noLock2).state, P20State::Agrees);
}

TEST(P20Check, cannotCheckWhereTheEquationDoesNotReach)
{
    // 0.0 °C is inside: 0.418 MPa there is 0.4630 at 20 °C.
    ListRow cold = row(3, QStringLiteral("0.0°C"));
    for (int k = 0; k < 24; ++k) {
        cold[kFirstValueColumn + k] = QStringLiteral("0.463");
        cold[kFirstValueColumn + 24 + k] = QStringLiteral("0.418");
    }
    EXPECT_EQ(checkP20(cold).state, P20State::Agrees);

    const P20Check sensorFault = checkP20(row(3, QStringLiteral("6553.5°C")));
    EXPECT_EQ(sensorFault.state, P20State::Unchecked);
    EXPECT_TRUE(sensorFault.items.empty());
    EXPECT_EQ(p20CheckLine(sensorFault),
              QStringLiteral("P20换算核查：无法核查（温度6553.5°C超出SF6状态方程的适用范围（-40.0°C～80.0°C））"));

    ListRow huge = row(3);
    huge[kPtAlarm2] = QStringLiteral("12.345");
    const P20Check tooHigh = checkP20(huge);
    EXPECT_EQ(tooHigh.stateText(), kP20Unchecked);
    EXPECT_EQ(tooHigh.reason, QStringLiteral("Pt报警值2：压力12.345MPa超出SF6状态方程的适用范围（-0.1～10MPa）"));

    ListRow empty = row(0);
    for (int k = 0; k < 48; ++k)
        empty[kFirstValueColumn + k] = QStringLiteral("0.000");
    EXPECT_EQ(checkP20(empty).state, P20State::Unchecked);

    // A decimal comma is read as the list writes it under such a locale.
    ListRow comma = row(3, QStringLiteral("30,0°C"));
    comma[kP20Alarm2] = QStringLiteral("0,386");
    EXPECT_EQ(checkP20(comma).state, P20State::Agrees);
}

TEST(P20Check, aSyncSaysOnceWhichRecordsDisagree)
{
    ListRow bad = row(3);
    bad[kP20Alarm2] = QStringLiteral("0.391");
    std::vector<SyncedCheck> checks{{1, checkP20(row(3))}, {2, checkP20(row(3, QStringLiteral("6553.5°C")))},
                                    {3, checkP20(bad)}};
    EXPECT_EQ(p20SyncMessage(checks),
              QStringLiteral("第3条记录的P20换算与SF6状态方程不符（P20报警值2偏差+0.005MPa），请检查校验仪的温度测量"));

    // The worst item names the record, the count the rest; past five records a count.
    ListRow worse = bad;
    worse[kP20Alarm2 - 1] = QStringLiteral("0.380");
    std::vector<SyncedCheck> many;
    for (int n = 1; n <= 7; ++n)
        many.push_back({n, checkP20(n == 1 ? worse : bad)});
    const QStringList lines = p20SyncMessage(many).split(u'\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], QStringLiteral("第1条记录的P20换算与SF6状态方程不符（P20报警值1偏差-0.006MPa等2项），请检查校验仪的温度测量"));
    EXPECT_EQ(lines[5], QStringLiteral("另有2条记录的P20换算与SF6状态方程不符"));

    EXPECT_TRUE(p20SyncMessage({{1, checkP20(row(3))}}).isEmpty());
}
