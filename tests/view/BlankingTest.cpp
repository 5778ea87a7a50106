#include <gtest/gtest.h>

#include "sync/TestRecord.h"
#include "tests/sync/SyncTestData.h"
#include "view/Blanking.h"

using namespace sf6;

namespace {

// The worked example (every trial reads 0.000) with the given test-count text.
PanelTexts exampleTexts(const QString& count)
{
    const ListRow row = decodeRecord(testdata::bytes(testdata::workedExampleRecord()), 1, QLocale::c());
    PanelTexts texts;
    std::copy(row.begin(), row.end(), texts.begin());
    texts[kColTestCount] = count;
    return texts;
}

// "empty", "zero" or "mixed" for the twelve labels of a trial.
std::string trialState(const PanelTexts& t, int trial)
{
    int empty = 0, zero = 0;
    for (int c : trialColumns(trial)) {
        empty += t[c].isEmpty();
        zero += t[c] == "0.000";
    }
    return empty == kColumnsPerTrial ? "empty" : zero == kColumnsPerTrial ? "zero" : "mixed";
}

} // namespace

TEST(Blanking, CountSelectsTrials)
{
    struct Case { const char* count; const char *t1, *t2, *t3; };
    for (const Case& k : {Case{"3", "zero", "zero", "zero"}, Case{"255", "zero", "zero", "zero"},
                          Case{"2", "zero", "zero", "empty"}, Case{"1", "zero", "empty", "empty"},
                          Case{"0", "empty", "zero", "zero"}}) {
        SCOPED_TRACE(k.count);
        const PanelTexts before = exampleTexts(k.count);
        PanelTexts t = before;
        blankZeroReadings(t);
        EXPECT_EQ(trialState(t, 1), k.t1);
        EXPECT_EQ(trialState(t, 2), k.t2);
        EXPECT_EQ(trialState(t, 3), k.t3);
        for (int c : {1, 2, 3, 5, 6, 7, 8, 9, 10, 29, 30, 31, 32, 33, 34})   // header and means
            EXPECT_EQ(t[c], before[c]) << c;
        EXPECT_EQ(t[kColTestCount], k.count == std::string("0") ? "" : k.count);

        PanelTexts again = t;   // a second pass changes nothing
        blankZeroReadings(again);
        EXPECT_EQ(again, t);
    }
}

TEST(Blanking, OnlyExactZeroReadingsGo)
{
    const QLocale c = QLocale::c();
    for (const char* other : {"0.0", "0.00", "00", "-0.000", " 0.000", "0,000", ""})
        EXPECT_FALSE(isZeroReading(other, c)) << other;
    // Under a comma locale the decoder writes "0,000": that is the zero reading there.
    EXPECT_TRUE(isZeroReading("0,000", QLocale(QLocale::German)));
    EXPECT_TRUE(isZeroReading("0.000", QLocale(QLocale::German)));
    EXPECT_FALSE(isZeroReading("0,00", QLocale(QLocale::German)));

    PanelTexts t = exampleTexts("1");
    t[13] = "0.012";   // P20 alarm value, trial 3
    t[12] = "0";       // P20 alarm value, trial 2
    blankZeroReadings(t);
    EXPECT_EQ(t[13], "0.012");
    EXPECT_EQ(t[12], "");
    EXPECT_EQ(t[37], "");   // Pt alarm value, trial 3

    PanelTexts z = exampleTexts("0");
    z[11] = "0.00";
    z[kColTemperature] = "0";
    blankZeroReadings(z);
    EXPECT_EQ(z[11], "0.00");
    EXPECT_EQ(z[kColTemperature], "");
}
