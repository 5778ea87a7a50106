// sf6cli over the operations layer: records brought in by archive import are
// certified only with --accept-imported, and the refusal writes nothing.
#include "tests/cli/CliRun.h"

using clitest::CliRun;
using clitest::sf6cli;

namespace {

class CliOps : public clitest::CliFixture {
protected:
    CliRun archiveCmd(const char* what, const QStringList& more = {}) const
    {
        return sf6cli(QStringList{QStringLiteral("archive"), QLatin1String(what), QStringLiteral("--archive"), archive} + more);
    }
    QTemporaryDir dir;
    QString archive = dir.filePath(QStringLiteral("imported.sqlite"));
};

} // namespace

TEST_F(CliOps, anImportedRecordIsCertifiedOnlyWithAcceptImported)
{
    auto* s = startSim(2);
    const QString rows = dir.filePath(QStringLiteral("rows.tsv"));
    const CliRun sync = sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"),
                                dir.filePath(QStringLiteral("synced.sqlite")), QStringLiteral("--tsv"), rows});
    ASSERT_EQ(sync.exit, 0) << sync.err.toStdString();
    const CliRun imported = sf6cli({QStringLiteral("archive"), QStringLiteral("import"), rows, QStringLiteral("--archive"), archive});
    ASSERT_EQ(imported.exit, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.startsWith(QStringLiteral("导入2条新记录"))) << imported.out.toStdString();

    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--alarm"), QStringLiteral("0.55")}).exit, 0);
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    ASSERT_EQ(archiveCmd("lab", {QStringLiteral("--name"), QStringLiteral("实验室")}).exit, 0);
    ASSERT_EQ(archiveCmd("standard", {QStringLiteral("--serial"), QStringLiteral("S1"), QStringLiteral("--valid-until"), QStringLiteral("2030-01-01")}).exit, 0);
    const QStringList certify{QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--standard"), QStringLiteral("S1"),
                              QStringLiteral("--tester"), QStringLiteral("张三"), QStringLiteral("--checker"), QStringLiteral("李四")};
    const CliRun refused = archiveCmd("certify", certify);
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(refused.err.startsWith(QStringLiteral("记录 1 的数据来自导入的文件 "))) << refused.err.toStdString();
    EXPECT_EQ(refused.err.count(QStringLiteral("--accept-imported")), 1) << refused.err.toStdString();
    EXPECT_TRUE(refused.out.isEmpty());
    const CliRun accepted = archiveCmd("certify", certify + QStringList{QStringLiteral("--accept-imported")});
    EXPECT_EQ(accepted.exit, 0) << accepted.err.toStdString();
    EXPECT_TRUE(accepted.out.startsWith(QStringLiteral("SF6-"))) << accepted.out.toStdString();
    EXPECT_TRUE(accepted.out.trimmed().endsWith(QStringLiteral("-0001"))) << "the refusal took no number";
}
