// archive merge as typed: two PCs' files into a PostgreSQL archive, the
// summary on standard output, the same file again adding nothing; a clash,
// bad usage and bad files each with their exit and the archive unchanged.
#include "tests/archive/PgServer.h"
#include "tests/cli/CliRun.h"

#include <QFile>
#include <QTemporaryDir>

using archivetest::PgServer;
using clitest::CliRun;
using clitest::sf6cli;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

class CliMerge : public clitest::CliFixture {
protected:
    QTemporaryDir dir;
    CliRun cmd(const QString& archive, const char* what, QStringList more = {}) const
    {
        return sf6cli(QStringList{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive}
                      + more);
    }
    // A PC with the simulator's first n records, R1 linked to records 1-3 and, with a prefix, one certificate.
    QString pc(const char* name, int records, const char* alarm, const char* prefix = nullptr)
    {
        const QString a = dir.filePath(QString::fromLatin1(name));
        auto* s = startSim(records);
        EXPECT_EQ(sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), a}).exit, 0);
        EXPECT_EQ(cmd(a, "relay", {"--serial", "R1", "--name", "主变A相", "--alarm", alarm}).exit, 0);
        EXPECT_EQ(cmd(a, "link", {"--records", "1-3", "--serial", "R1"}).exit, 0);
        if (prefix) {
            EXPECT_EQ(cmd(a, "lab", {"--name", "华东电力试验研究院", "--prefix", prefix}).exit, 0);
            EXPECT_EQ(cmd(a, "standard", {"--serial", "S1", "--name", "校验仪", "--certificate", "JZ-1", "--issuer",
                                          "省计量院", "--valid-until", "2030-06-30", "--uncertainty", "0.05级"})
                          .exit,
                      0);
            const CliRun issued = cmd(a, "certify", {"--record", "3", "--standard", "S1", "--tester", "张三", "--checker", "李四"});
            EXPECT_EQ(issued.exit, 0) << issued.err.toStdString();
        }
        return a;
    }
    QString shown(const QString& archive) const
    {
        QString out;
        for (const char* what : {"list", "relays", "certificates", "audit"})
            out += cmd(archive, what, {QStringLiteral("--tsv"), QStringLiteral("-")}).out;
        return out;
    }
};

TEST_F(CliMerge, TwoPcsIntoTheLabsServerThenAgainThenAClash)
{
    ASSERT_TRUE(PgServer::instance().running()) << PgServer::instance().error().toStdString();
    const QString lab = PgServer::instance().newDatabase();
    const QString a = pc("pc-a.sqlite", 4, "0.55", "A");
    // Each PC under its own prefix: A-YYYY-0001 and B-YYYY-0001 share the year and sequence, not the number.
    const QString b = pc("pc-b.sqlite", 6, "0.60", "B");
    // --from A B: the files after the first --from count as well.
    const CliRun merged = cmd(lab, "merge", {QStringLiteral("--from"), a, b});
    ASSERT_EQ(merged.exit, 0) << merged.err.toStdString();
    EXPECT_EQ(merged.out, QStringLiteral("合并6条新记录，4条已在存档中；继电器1只（新版本1个）；证书2份\n"));
    EXPECT_TRUE(merged.err.contains(QStringLiteral("合并 %1：审计记录").arg(b))) << "progress on standard error";
    const CliRun verified = cmd(lab, "verify");
    EXPECT_EQ(verified.exit, 0) << verified.out.toStdString() << verified.err.toStdString();
    EXPECT_TRUE(verified.out.contains(QStringLiteral("2份证书"))) << verified.out.toStdString();
    EXPECT_TRUE(cmd(lab, "audit", {QStringLiteral("--tsv"), QStringLiteral("-")}).out.contains(QStringLiteral("合并存档")));

    const CliRun again = cmd(lab, "merge", {QStringLiteral("--from"), b});
    ASSERT_EQ(again.exit, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, QStringLiteral("合并0条新记录，6条已在存档中；继电器0只（新版本0个）；证书0份\n"));

    // Another PC under A's prefix issued A's number for other content: nothing of it or of the good file comes in.
    const QString c = pc("pc-c.sqlite", 5, "0.56", "A");
    const QString before = shown(lab);
    const CliRun clash = cmd(lab, "merge", {QStringLiteral("--from"), b, QStringLiteral("--from"), c});
    EXPECT_EQ(clash.exit, 6);
    EXPECT_TRUE(clash.err.contains(QStringLiteral("证书编号冲突"))) << clash.err.toStdString();
    EXPECT_TRUE(clash.err.contains(c)) << clash.err.toStdString();
    EXPECT_EQ(shown(lab), before);
}

TEST_F(CliMerge, BadUsageAndBadFilesChangeNothing)
{
    const QString lab = pc("lab.sqlite", 3, "0.55");
    const QString a = pc("pc-a.sqlite", 4, "0.55");
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("hello\n");
    }
    const QString before = shown(lab);
    EXPECT_EQ(cmd(lab, "merge").exit, 2) << "no --from";
    EXPECT_EQ(cmd(lab, "merge", {a}).exit, 2) << "a file without --from";
    const std::pair<QString, QString> refused[] = {
        {dir.filePath(QStringLiteral("missing.sqlite")), QStringLiteral("无法读取")},
        {text, QStringLiteral("不是本程序的存档")},
        {lab, QStringLiteral("存档本身")},
    };
    for (const auto& [file, said] : refused) {
        const CliRun r = cmd(lab, "merge", {QStringLiteral("--from"), a, file});
        EXPECT_EQ(r.exit, 6) << file.toStdString();
        EXPECT_TRUE(r.err.contains(said)) << r.err.toStdString();
    }
    EXPECT_EQ(shown(lab), before);
}

} // namespace
