// The page description: which cells a record fills, and what every page carries.
#include <gtest/gtest.h>

#include "report/ReportPage.h"
#include "tests/report/ReportTestRows.h"

using namespace sf6;
using reporttest::distinctRow;

namespace {

struct CountCase {
    const char* text;
    int trialsFilled;
    bool noted;   // the count text could not be read
};

class TrialBlocks : public ::testing::TestWithParam<CountCase> {};

int countTexts(const ReportPage& page, const char* text)
{
    return int(std::count_if(page.labels.begin(), page.labels.end(),
                             [&](const PageLabel& l) { return l.text == QString::fromUtf8(text); }));
}

} // namespace

// Where each value belongs is worked out from the column captions, not from the
// page's own tables: "均" marks a mean, the last digit the trial, "Pt" the upper
// sub-row of a pair, "回" a return value (left value column).
TEST_P(TrialBlocks, FillTheTrialsTheCountAsksForAndAlwaysTheMeans)
{
    const CountCase c = GetParam();
    const ListRow row = distinctRow(QString::fromLatin1(c.text));
    const ReportPage page = buildReportPage(defaultReportDetails(QStringLiteral("2012-5-25")), row);

    for (int col = kFirstValueColumn; col < kColumnCount; ++col) {
        const QString caption = QString(columnCaptions()[col]).remove(QLatin1Char('"'));
        const bool mean = caption.contains(QStringLiteral("均"));
        const int trial = mean ? 0 : caption.right(1).toInt();
        const PageLabel* cell = page.label(QStringLiteral("QRLabel%1").arg(100 + col));
        ASSERT_NE(cell, nullptr) << caption.toStdString();
        EXPECT_EQ(cell->text, mean || trial <= c.trialsFilled ? row[col] : QString()) << caption.toStdString();

        const int inBlock = cell->box.top() - (215 + (mean ? 3 : trial - 1) * 186);
        EXPECT_TRUE(inBlock >= 0 && inBlock < 186) << caption.toStdString();
        EXPECT_EQ((inBlock / 31) % 2 == 0, caption.startsWith(QStringLiteral("Pt"))) << caption.toStdString();
        EXPECT_EQ(cell->box.left(), caption.contains(QStringLiteral("回")) ? 288 : 560) << caption.toStdString();
    }
    EXPECT_EQ(page.notes.isEmpty(), !c.noted);

    // Static texts and all lines print whatever the count.
    EXPECT_EQ(page.lines.size(), size_t(kLineCount));
    EXPECT_EQ(countTexts(page, "Pt"), 24);
    EXPECT_EQ(countTexts(page, "P20"), 24);
    for (const char* perBlock : {"报警回复", "闭锁1回复", "闭锁2回复", "报警值", "闭锁1", "闭锁2"})
        EXPECT_EQ(countTexts(page, perBlock), 4) << perBlock;
    for (const char* once : {"第一次", "第二次", "第三次", "均值", "校验结果记录(单位:MPa)", "审批"})
        EXPECT_EQ(countTexts(page, once), 1) << once;
}

INSTANTIATE_TEST_SUITE_P(ReportCounts, TrialBlocks,
                         ::testing::Values(CountCase{"0", 1, false}, CountCase{"1", 1, false},
                                           CountCase{"2", 2, false}, CountCase{"3", 3, false},
                                           CountCase{"255", 3, false}, CountCase{"-1", 1, false},
                                           CountCase{"abc", 1, true}, CountCase{"", 1, true}),
                         [](const ::testing::TestParamInfo<CountCase>& info) {
                             std::string name = info.param.text;
                             if (!name.empty() && name[0] == '-')
                                 name.replace(0, 1, "minus");
                             return "count_" + (name.empty() ? std::string("empty") : name);
                         });

// A label must never sit on a rule: its white background would cut the grid.
TEST(ReportPage, LabelsFitBetweenTheRules)
{
    const ReportPage page = buildReportPage(ReportDetails{}, distinctRow(QStringLiteral("3")));
    EXPECT_EQ(page.labels.size(), size_t(146));
    for (const PageLabel& l : page.labels) {
        EXPECT_EQ(l.box.height(), l.name == QLatin1String("QRLTitle") ? 25 : 17) << l.name.toStdString();
        for (const PageLine& pl : page.lines) {
            // A 2-pixel pen covers one pixel either side of the line.
            const QRect stroke = QRect(pl.line.p1(), pl.line.p2()).normalized().adjusted(-1, -1, 1, 1);
            EXPECT_FALSE(stroke.intersects(l.box)) << l.name.toStdString() << " crosses the line at "
                                                   << pl.line.x1() << "," << pl.line.y1();
        }
    }
    for (const PageLine& pl : page.lines)
        EXPECT_TRUE(QRect(20, 60, 661, 931).contains(QRect(pl.line.p1(), pl.line.p2()).normalized()));
}

TEST(ReportPage, ShortRowsAndFileNames)
{
    const ListRow shortRow{QStringLiteral("1"), QStringLiteral("2012")};
    const ReportPage page = buildReportPage(ReportDetails{}, shortRow);
    EXPECT_EQ(page.label(QStringLiteral("QRLabel105"))->text, QString());
    EXPECT_EQ(testDateOfRow(shortRow), QStringLiteral("2012"));

    EXPECT_EQ(reportPdfFileName(QStringLiteral("2012-05-18"), QStringLiteral("1")), QStringLiteral("2012-05-18_1.pdf"));
    EXPECT_EQ(reportPdfFileName(QString(), QStringLiteral("..\\3")), QStringLiteral("report_..-3.pdf"));
}
