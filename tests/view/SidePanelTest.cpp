#include <gtest/gtest.h>

#include <QFontInfo>

#include <set>

#include "sync/TestRecord.h"
#include "tests/sync/SyncTestData.h"
#include "view/SidePanel.h"

using namespace sf6;

namespace {

ListRow exampleRow(int testCount)
{
    QByteArray r = testdata::workedExampleRecord();
    r[kRecTestCount] = char(testCount);
    return decodeRecord(testdata::bytes(r), 1, QLocale::c());
}

QLabel* named(const SidePanel& panel, const char* name)
{
    return panel.findChild<QLabel*>(QLatin1String(name));
}

} // namespace

TEST(SidePanel, LayoutAndNames)
{
    SidePanel panel;
    EXPECT_EQ(panel.objectName(), "Panel1");
    EXPECT_EQ(panel.width(), 525);
    EXPECT_EQ(panel.font().pixelSize(), 15);
    EXPECT_TRUE(panel.Label1->font().families().contains("SimSun"));
    EXPECT_EQ(panel.Label1->pos(), QPoint(21, 13));
    EXPECT_EQ(panel.lbsj->pos(), QPoint(74, 13));
    EXPECT_EQ(panel.lbcscs->geometry(), QRect(338, 15, 151, panel.lbcscs->height()));
    EXPECT_EQ(panel.GroupBox1->geometry(), QRect(15, 67, 240, 100));
    EXPECT_EQ(panel.GroupBox1->title(), "报警回复值（MPa）");
    EXPECT_EQ(panel.GroupBox7->geometry(), QRect(15, 398, 492, 117));
    EXPECT_EQ(panel.lbP20bsz13->parentWidget(), panel.GroupBox4);
    EXPECT_EQ(panel.lbP20bsz13->pos(), QPoint(156, 67));
    EXPECT_EQ(named(panel, "lbbjz1")->pos(), QPoint(44, 27));
    EXPECT_EQ(named(panel, "lbbsz2P20_j")->pos(), QPoint(420, 83));

    std::set<QLabel*> distinct;
    for (int c = 1; c < kColumnCount; ++c)
        distinct.insert(panel.valueLabel(c));
    EXPECT_EQ(distinct.size(), 52u);
    EXPECT_EQ(distinct.count(nullptr), 0u);
    EXPECT_EQ(panel.valueLabel(53), nullptr);
}

TEST(SidePanel, LabelsShowTheirColumns)
{
    ListRow row;
    for (int c = 0; c < kColumnCount; ++c)
        row << QString("v%1").arg(c);
    SidePanel panel;
    panel.fillFrom(&row);
    const std::pair<const char*, const char*> cells[] = {
        {"lbsj", "v1"}, {"lbwd", "v2"}, {"lbcjfs", "v3"}, {"lbcscs", "v4"}, {"lbbjzP20_j", "v5"},
        {"lbbjhP20_j", "v8"}, {"lbbszP2011", "v17"}, {"lbP20bsz13", "v19"}, {"lbbjh_j", "v32"},
        {"lbbjhfz1", "v38"}, {"lbbshfz22", "v51"}, {"lbbshfz23", "v52"},
    };
    for (auto [name, text] : cells)
        EXPECT_EQ(named(panel, name)->text(), text) << name;
}

TEST(SidePanel, FillBlankAndClear)
{
    SidePanel panel;
    const ListRow three = exampleRow(3);
    panel.fillFrom(&three);
    EXPECT_EQ(panel.lbsj->text(), "2012-05-18 09:07");
    EXPECT_EQ(panel.lbwd->text(), "22.5°C");
    EXPECT_EQ(panel.lbcscs->text(), "3");
    EXPECT_EQ(panel.lbcjfs->text(), "系统采集");
    EXPECT_EQ(panel.lbbsz1P20_j->text(), "0.450");
    int zeros = 0;
    for (int c = 1; c < kColumnCount; ++c)
        zeros += panel.valueText(c) == "0.000";
    EXPECT_EQ(zeros, 46);
    // Not in a layout: the label has to grow with its text.
    EXPECT_GE(panel.lbsj->width(), panel.lbsj->fontMetrics().horizontalAdvance(panel.lbsj->text()));

    const ListRow one = exampleRow(1);
    panel.fillFrom(&one);
    EXPECT_EQ(panel.lbbjz2->text(), "");
    EXPECT_EQ(panel.lbbjz1->text(), "0.000");
    QStringList before;
    for (int c = 1; c < kColumnCount; ++c)
        before << panel.valueText(c);
    panel.fillFrom(nullptr);   // nothing selected: the texts stay
    for (int c = 1; c < kColumnCount; ++c)
        EXPECT_EQ(panel.valueText(c), before[c - 1]) << c;

    panel.clearValues();
    for (int c = 1; c < kColumnCount; ++c)
        EXPECT_EQ(panel.valueText(c), "") << c;
    EXPECT_EQ(panel.Label4->text(), "采集方式：");
}

// "Pt：" and "P20：" are Latin captions: drawn in the face the panel's values
// use, not in the serifed face that stands in for 宋体.
TEST(SidePanel, LatinCaptionsUseThePanelsSansFace)
{
    SidePanel panel;
    const QString panelFace = QFontInfo(panel.font()).family();
    int captions = 0;
    for (const QLabel* l : panel.findChildren<QLabel*>()) {
        if (l->text() != QStringLiteral("Pt：") && l->text() != QStringLiteral("P20："))
            continue;
        ++captions;
        EXPECT_EQ(QFontInfo(l->font()).family(), panelFace) << l->text().toStdString();
        EXPECT_EQ(QFontInfo(l->font()).family(), QFontInfo(panel.lbbjz1->font()).family());
    }
    EXPECT_EQ(captions, 14);
}
