// 工具 → SF6压力换算: both directions answer as one types, a reading it cannot
// convert says why, and the table follows its P20 from -20 to +50 °C onto a page.
#include "register/PressureTable.h"
#include "register/TPressureForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

TEST(PressureForm, answersBothWaysAsOneTypes)
{
    TPressureForm form;
    form.edPt->setText(QStringLiteral("0.600"));
    EXPECT_TRUE(form.lbP20->text().isEmpty()) << "no temperature yet";
    form.edPtTemp->setText(QStringLiteral("30"));
    EXPECT_EQ(form.lbP20->text(), QStringLiteral("0.572 MPa"));
    form.edPtTemp->setText(QStringLiteral("0"));
    EXPECT_EQ(form.lbP20->text(), QStringLiteral("0.665 MPa"));
    form.edPtTemp->setText(QStringLiteral("90"));
    EXPECT_EQ(form.lbP20->text(), QStringLiteral("温度90.0°C超出SF6状态方程的适用范围（-40.0°C～80.0°C）"));
    form.edPtTemp->setText(QStringLiteral("3x"));
    EXPECT_EQ(form.lbP20->text(), QStringLiteral("请输入数值"));

    form.edP20->setText(QStringLiteral("0,65"));
    form.edP20Temp->setText(QStringLiteral("5"));
    EXPECT_EQ(form.lbPt->text(), QStringLiteral("0.603 MPa"));
}

TEST(PressureForm, theTableFollowsItsP20AndPrintsAsAPage)
{
    TPressureForm form;
    ASSERT_EQ(form.TableGrid->rowCount(), 15);
    EXPECT_EQ(form.TableGrid->item(0, 0)->text(), QStringLiteral("-20"));
    EXPECT_EQ(form.TableGrid->item(14, 0)->text(), QStringLiteral("50"));
    EXPECT_EQ(form.TableGrid->item(8, 1)->text(), QStringLiteral("0.550")) << "20 °C is the set value itself";
    form.edTableP20->setText(QStringLiteral("0.60"));
    EXPECT_EQ(form.TableGrid->item(0, 1)->text(), QStringLiteral("0.484"));
    EXPECT_TRUE(form.btnPrint->isEnabled());
    form.edTableP20->setText(QString());
    EXPECT_EQ(form.TableGrid->rowCount(), 0);
    EXPECT_FALSE(form.btnPrint->isEnabled());
    // A set value the gas cannot keep at -20 °C says so in its cell.
    form.edTableP20->setText(QStringLiteral("2.4"));
    EXPECT_EQ(form.TableGrid->item(0, 1)->text(), QStringLiteral("无法换算"));

    const sf6::ReportPage page = sf6::pressureTablePage(0.6);
    ASSERT_NE(page.label(QStringLiteral("QRP-20")), nullptr);
    EXPECT_EQ(page.label(QStringLiteral("QRP-20"))->text, QStringLiteral("0.484"));
    EXPECT_EQ(page.label(QStringLiteral("QRP50"))->text, QStringLiteral("0.687"));
}
