// The SF6 conversion and the P20 check from the command line: the calculator
// both ways and its refusals, a sync that says once which records disagree and
// keeps them all, archive p20's rows and exit codes, the guard-band rule from
// lab profile and standard to archive judge, and a certificate that needs
// --accept-p20.
#include "tests/cli/CliRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using clitest::CliRun;
using clitest::sf6cli;

namespace {

class CliMetrology : public clitest::CliFixture {
protected:
    void SetUp() override { archive = dir.filePath(QStringLiteral("archive.sqlite")); }
    // Record 1 agrees, record 2's P20报警值2 is 0.005 MPa off, record 3 has a temperature sensor fault.
    CliRun syncThree()
    {
        sim::RecordFields off = sim::agreeingRecord(2);
        off.values[7] = 391;
        sim::RecordFields fault = sim::agreeingRecord(3);
        fault.temperatureTenths = 65535;
        sim::SyncScript script;
        script.reply = sim::makeSyncReply({sim::encodeRecord(sim::agreeingRecord(1)), sim::encodeRecord(off), sim::encodeRecord(fault)});
        auto* s = startSim(3, script);
        return sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), archive,
                       QStringLiteral("--tsv"), dir.filePath(QStringLiteral("rows.tsv"))});
    }
    CliRun archiveCmd(const char* what, const QStringList& more = {}) const
    {
        return sf6cli(QStringList{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive} + more);
    }
    QTemporaryDir dir;
    QString archive;
};

} // namespace

TEST_F(CliMetrology, convertsBothWaysAndSaysWhyWhereItCannot)
{
    const CliRun toP20 = sf6cli({QStringLiteral("p20"), QStringLiteral("--pt"), QStringLiteral("0.600"), QStringLiteral("--temp"), QStringLiteral("30")});
    EXPECT_EQ(toP20.exit, 0) << toP20.err.toStdString();
    EXPECT_EQ(toP20.out, QStringLiteral("0.572\n"));
    const CliRun toPt = sf6cli({QStringLiteral("p20"), QStringLiteral("--p20"), QStringLiteral("0.65"), QStringLiteral("--temp"), QStringLiteral("5")});
    EXPECT_EQ(toPt.out, QStringLiteral("0.603\n"));
    const CliRun json = sf6cli({QStringLiteral("p20"), QStringLiteral("--pt"), QStringLiteral("0.4"), QStringLiteral("--temp"),
                                QStringLiteral("-10"), QStringLiteral("--json"), QStringLiteral("-")});
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_TRUE(json.out.contains(QStringLiteral("\"p20\":0.4682"))) << json.out.toStdString();
    EXPECT_DOUBLE_EQ(o[QStringLiteral("pt")].toDouble(), 0.4);

    const CliRun hot = sf6cli({QStringLiteral("p20"), QStringLiteral("--pt"), QStringLiteral("0.6"), QStringLiteral("--temp"), QStringLiteral("90")});
    EXPECT_EQ(hot.exit, 2);
    EXPECT_TRUE(hot.out.isEmpty());
    EXPECT_TRUE(hot.err.contains(QStringLiteral("温度90.0°C超出SF6状态方程的适用范围"))) << hot.err.toStdString();
    const CliRun liquid = sf6cli({QStringLiteral("p20"), QStringLiteral("--pt"), QStringLiteral("2"), QStringLiteral("--temp"), QStringLiteral("-40")});
    EXPECT_EQ(liquid.exit, 2);
    EXPECT_TRUE(liquid.out.isEmpty());
    EXPECT_EQ(sf6cli({QStringLiteral("p20"), QStringLiteral("--pt"), QStringLiteral("0.6"), QStringLiteral("--p20"),
                      QStringLiteral("0.6"), QStringLiteral("--temp"), QStringLiteral("20")}).exit, 2);
    EXPECT_EQ(sf6cli({QStringLiteral("p20"), QStringLiteral("--pt"), QStringLiteral("abc"), QStringLiteral("--temp"), QStringLiteral("20")}).exit, 2);
}

TEST_F(CliMetrology, aSyncSaysOnceWhichRecordsDisagreeAndKeepsThemAll)
{
    const CliRun sync = syncThree();
    EXPECT_EQ(sync.exit, 0) << sync.err.toStdString();
    EXPECT_EQ(sync.err.count(QStringLiteral("P20换算与SF6状态方程不符")), 1) << sync.err.toStdString();
    EXPECT_TRUE(sync.err.contains(
        QStringLiteral("第2条记录的P20换算与SF6状态方程不符（P20报警值2偏差+0.005MPa），请检查校验仪的温度测量")));
    EXPECT_TRUE(sync.err.contains(QStringLiteral("已存档3条新记录"))) << sync.err.toStdString();

    const CliRun good = archiveCmd("p20", {QStringLiteral("--record"), QStringLiteral("1")});
    EXPECT_EQ(good.exit, 0) << good.err.toStdString();
    const QStringList lines = good.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 25);
    EXPECT_EQ(lines[0], QStringLiteral("项目\tPt\t温度\tP20（仪器）\tP20（换算）\t偏差\t核查"));
    EXPECT_EQ(lines[8], QStringLiteral("P20报警值2\t0.405\t30.0°C\t0.386\t0.3860\t+0.0000\t一致"));
    EXPECT_TRUE(good.err.contains(QStringLiteral("P20换算核查：24项一致，最大偏差0.000MPa")));

    const QString json = dir.filePath(QStringLiteral("p20.json"));
    const CliRun off = archiveCmd("p20", {QStringLiteral("--record"), QStringLiteral("2"), QStringLiteral("--json"), json});
    EXPECT_EQ(off.exit, 9);
    QFile f(json);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(f.readAll()).array();
    ASSERT_EQ(rows.size(), 24);
    EXPECT_EQ(rows[7].toObject()[QStringLiteral("偏差")].toString(), QStringLiteral("+0.0050"));
    EXPECT_EQ(rows[7].toObject()[QStringLiteral("核查")].toString(), QStringLiteral("不一致"));

    const CliRun fault = archiveCmd("p20", {QStringLiteral("--record"), QStringLiteral("3")});
    EXPECT_EQ(fault.exit, 10);
    EXPECT_TRUE(fault.err.contains(QStringLiteral("无法核查（温度6553.5°C超出"))) << fault.err.toStdString();
    EXPECT_EQ(archiveCmd("p20", {QStringLiteral("--record"), QStringLiteral("99")}).exit, 1);
    EXPECT_EQ(archiveCmd("p20").exit, 2);
}

TEST_F(CliMetrology, aGuardBandNeedsTheStandardsUAndJudgeShowsTheRule)
{
    ASSERT_EQ(syncThree().exit, 0);
    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--alarm"),
                                   QStringLiteral("0.400"), QStringLiteral("--class"), QStringLiteral("1.6")}).exit, 0);
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    EXPECT_EQ(archiveCmd("lab", {QStringLiteral("--name"), QStringLiteral("实验室"), QStringLiteral("--decision-rule"), QStringLiteral("strict")}).exit, 2);
    const CliRun lab = archiveCmd("lab", {QStringLiteral("--name"), QStringLiteral("实验室"), QStringLiteral("--decision-rule"), QStringLiteral("guard-band")});
    EXPECT_EQ(lab.exit, 0) << lab.err.toStdString();
    EXPECT_TRUE(lab.out.contains(QStringLiteral("判定规则\t保护带")));
    EXPECT_EQ(archiveCmd("standard", {QStringLiteral("--serial"), QStringLiteral("S1"), QStringLiteral("--expanded-uncertainty"),
                                      QStringLiteral("-0.002")}).exit, 2);
    ASSERT_EQ(archiveCmd("standard", {QStringLiteral("--serial"), QStringLiteral("S0"), QStringLiteral("--uncertainty"), QStringLiteral("0.05级")}).exit, 0);
    ASSERT_EQ(archiveCmd("standard", {QStringLiteral("--serial"), QStringLiteral("S1"), QStringLiteral("--uncertainty"), QStringLiteral("0.05级"),
                                      QStringLiteral("--expanded-uncertainty"), QStringLiteral("0.002")}).exit, 0);

    // Error 0.386 - 0.400 = -0.014 = -(E - U): it passes, exactly on the band's edge.
    const CliRun none = archiveCmd("judge", {QStringLiteral("--record"), QStringLiteral("1")});
    EXPECT_EQ(none.exit, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("判定规则为保护带，需要标准器的扩展不确定度"))) << none.err.toStdString();
    const CliRun noU = archiveCmd("judge", {QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--standard"), QStringLiteral("S0")});
    EXPECT_EQ(noU.exit, 1);
    EXPECT_TRUE(noU.err.contains(QStringLiteral("标准器 S0 没有填写数值的扩展不确定度U"))) << noU.err.toStdString();
    const CliRun judged = archiveCmd("judge", {QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--standard"), QStringLiteral("S1")});
    EXPECT_EQ(judged.exit, 0) << judged.err.toStdString();
    EXPECT_TRUE(judged.out.contains(QStringLiteral("\"rule\":\"guard-band\",\"expandedUncertainty\":0.002,\"coverageFactor\":2")))
        << judged.out.toStdString();
    EXPECT_TRUE(judged.out.contains(QStringLiteral("\"verdict\":\"合格\"")));
    EXPECT_TRUE(judged.err.contains(QStringLiteral("判定规则：保护带，U=0.002MPa（k=2）")));
}

TEST_F(CliMetrology, aRecordThatDisagreesIsCertifiedOnlyWithAcceptP20)
{
    ASSERT_EQ(syncThree().exit, 0);
    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--alarm"), QStringLiteral("0.390")}).exit, 0);
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("2"), QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    ASSERT_EQ(archiveCmd("lab", {QStringLiteral("--name"), QStringLiteral("实验室")}).exit, 0);
    ASSERT_EQ(archiveCmd("standard", {QStringLiteral("--serial"), QStringLiteral("S1"), QStringLiteral("--valid-until"), QStringLiteral("2030-01-01")}).exit, 0);
    const QStringList certify{QStringLiteral("--record"), QStringLiteral("2"), QStringLiteral("--standard"), QStringLiteral("S1"),
                              QStringLiteral("--tester"), QStringLiteral("张三"), QStringLiteral("--checker"), QStringLiteral("李四")};
    const CliRun refused = archiveCmd("certify", certify);
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("（确认后用 --accept-p20 出具）"))) << refused.err.toStdString();
    EXPECT_TRUE(refused.out.isEmpty());
    const CliRun accepted = archiveCmd("certify", certify + QStringList{QStringLiteral("--accept-p20")});
    EXPECT_EQ(accepted.exit, 0) << accepted.err.toStdString();
    EXPECT_TRUE(accepted.out.startsWith(QStringLiteral("SF6-"))) << accepted.out.toStdString();
}

// A record that came from a file is certified only when the user says so,
// and the refusal names the option that says it.
TEST_F(CliMetrology, anImportedRecordIsCertifiedOnlyWithAcceptImported)
{
    ASSERT_EQ(syncThree().exit, 0);
    archive = dir.filePath(QStringLiteral("other.sqlite"));
    const CliRun imported = archiveCmd("import", {dir.filePath(QStringLiteral("rows.tsv"))});
    ASSERT_EQ(imported.exit, 0) << imported.err.toStdString();
    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--alarm"), QStringLiteral("0.390")}).exit, 0);
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    ASSERT_EQ(archiveCmd("lab", {QStringLiteral("--name"), QStringLiteral("实验室")}).exit, 0);
    ASSERT_EQ(archiveCmd("standard", {QStringLiteral("--serial"), QStringLiteral("S1"), QStringLiteral("--valid-until"), QStringLiteral("2030-01-01")}).exit, 0);
    const QStringList certify{QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--standard"), QStringLiteral("S1"),
                              QStringLiteral("--tester"), QStringLiteral("张三"), QStringLiteral("--checker"), QStringLiteral("李四")};
    const CliRun refused = archiveCmd("certify", certify);
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--accept-imported"))) << refused.err.toStdString();
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_EQ(archiveCmd("certificates").out.count(u'\n'), 1) << "nothing but the header: nothing was issued";
    const CliRun accepted = archiveCmd("certify", certify + QStringList{QStringLiteral("--accept-imported")});
    EXPECT_EQ(accepted.exit, 0) << accepted.err.toStdString();
    EXPECT_TRUE(accepted.out.startsWith(QStringLiteral("SF6-"))) << accepted.out.toStdString();
}
