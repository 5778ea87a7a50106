// sf6cli run as a user runs it, against simulated calibrators on pseudo-terminals.
#include "tests/cli/CliRun.h"
#include "sync/Columns.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using clitest::CliRun;
using clitest::sf6cli;

class Cli : public clitest::CliFixture {
protected:
    sim::Simulator* startSim(int records) { return CliFixture::startSim(records); }
};

TEST_F(Cli, ports_listsTheGivenNamesInScanOrder)
{
    const CliRun r = sf6cli({"ports", "--port", "COM2", "--port", "COM10", "--port", "COM1"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, QStringLiteral("COM1\nCOM10\nCOM2\n"));
}

TEST_F(Cli, connect_printsPortAndKind_orSaysWhyNot)
{
    auto* s = startSim(0);
    CliRun r = sf6cli({"connect", "--port", s->portPath()});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, s->portPath() + QStringLiteral("\t串口\n"));

    s->setProbeAnswer(sim::ProbeAnswer::WrongBytes);
    r = sf6cli({"connect", "--port", s->portPath()});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("联机失败！")));

    r = sf6cli({"connect", "--port", ""});
    EXPECT_EQ(r.exit, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("没有可用的串口资源！")));

    EXPECT_EQ(sf6cli({"frobnicate"}).exit, 2);
    EXPECT_EQ(sf6cli({"connect", "--no-such-option"}).exit, 2);
}

TEST_F(Cli, sync_writesTsvAndJsonInColumnOrder)
{
    auto* s = startSim(3);
    QTemporaryDir dir;
    const QString json = dir.filePath(QStringLiteral("rows.json"));
    const CliRun r = sf6cli({"sync", "--port", s->portPath(), "--tsv", "-", "--json", json});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0].split(QLatin1Char('\t')), sf6::columnCaptions());
    const QStringList first = lines[1].split(QLatin1Char('\t'));
    ASSERT_EQ(first.size(), 53);
    EXPECT_EQ(first[0], QStringLiteral("1"));
    EXPECT_EQ(lines[3].split(QLatin1Char('\t'))[0], QStringLiteral("3"));

    QFile f(json);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray raw = f.readAll();
    const QJsonArray rows = QJsonDocument::fromJson(raw).array();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].toObject().value(QStringLiteral("时间")).toString(), first[1]);
    EXPECT_EQ(rows[0].toObject().value(QStringLiteral("Pt闭锁回2-2\"")).toString(), first[51]);
    // Keys stay in list order in the file, not sorted.
    EXPECT_LT(raw.indexOf("组数"), raw.indexOf("时间"));
    EXPECT_LT(raw.indexOf("P20均报警值"), raw.indexOf("Pt均报警值"));
}

TEST_F(Cli, sync_emptyReply_exitsOneWithTheMessageAndWritesNothing)
{
    auto* s = startSim(0);
    const CliRun r = sf6cli({"sync", "--port", s->portPath(), "--tsv", "-"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据同步完成当前共有0条记录！")));
    EXPECT_TRUE(r.out.isEmpty()) << "not even a header replaces what a reader had";
}

TEST_F(Cli, sync_writesAWorkbookAndOneReportPerRow)
{
    auto* s = startSim(2);
    QTemporaryDir dir;
    const QString xlsx = dir.filePath(QStringLiteral("rows.xlsx"));
    const QString pdfs = dir.filePath(QStringLiteral("reports"));
    const CliRun r = sf6cli({"sync", "--port", s->portPath(), "--xlsx", xlsx, "--pdf-dir", pdfs, "--title", "T"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_GT(QFileInfo(xlsx).size(), 0);
    const QStringList files = QDir(pdfs).entryList({QStringLiteral("*.pdf")}, QDir::Files);
    EXPECT_EQ(files.size(), 2);
}

TEST_F(Cli, sync_unwritableOutput_exitsFive)
{
    auto* s = startSim(1);
    const CliRun r = sf6cli({"sync", "--port", s->portPath(), "--xlsx", "/nonexistent-dir/x.xlsx"});
    EXPECT_EQ(r.exit, 5);
    EXPECT_TRUE(r.err.contains(QStringLiteral("导出失败：")));
}

} // namespace
