// sf6cli archive audit on SQLite and PostgreSQL: every change the command
// line made, oldest first, in TSV a row a line and in JSON with its values as
// JSON, and nothing on the trail changed by reading it.
#include "tests/archive/PgServer.h"
#include "tests/cli/CliRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using archivetest::Engine;
using clitest::CliRun;
using clitest::sf6cli;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

class CliAudit : public clitest::CliFixture, public ::testing::WithParamInterface<Engine> {
protected:
    void SetUp() override
    {
        archive = archivetest::freshLocation(GetParam(), dir);
        auto* s = startSim(2);
        ASSERT_EQ(sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"),
                          archive}).exit,
                  0);
    }
    CliRun archiveCmd(const char* what, const QStringList& more = {}) const
    {
        return sf6cli(QStringList{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive}
                      + more);
    }
    QTemporaryDir dir;
    QString archive;
};

} // namespace

TEST_P(CliAudit, listsEveryChangeOldestFirstAsTsvAndJson)
{
    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--name"),
                                   QStringLiteral("主变\tA相\n第二行"), QStringLiteral("--alarm"), QStringLiteral("0.55")})
                  .exit,
              0);
    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--alarm"),
                                   QStringLiteral("0.6")})
                  .exit,
              0);
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--serial"),
                                  QStringLiteral("R1")})
                  .exit,
              0);

    const CliRun tsv = archiveCmd("audit");
    ASSERT_EQ(tsv.exit, 0) << tsv.err.toStdString();
    const QStringList lines = tsv.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << "a header and one line per change, whatever the texts hold: " << tsv.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("编号\t时间\t用户\t计算机\t程序\t操作\t对象\t原值\t新值\t原因"));
    const QStringList first = lines[1].split(u'\t');
    ASSERT_EQ(first.size(), 10);
    EXPECT_EQ(first[0], QStringLiteral("1"));
    EXPECT_EQ(first[4], QStringLiteral("sf6cli"));
    EXPECT_EQ(first[5], QStringLiteral("继电器台账"));
    EXPECT_EQ(first[6], QStringLiteral("relay R1"));
    EXPECT_TRUE(first[7].isEmpty());
    EXPECT_TRUE(first[8].contains(QStringLiteral("\"name\":\"主变\\tA相\\n第二行\""))) << "the values as stored JSON: "
                                                                                   << first[8].toStdString();
    EXPECT_EQ(lines[3].split(u'\t')[5], QStringLiteral("关联继电器"));

    const CliRun json = archiveCmd("audit", {QStringLiteral("--json"), QStringLiteral("-")});
    ASSERT_EQ(json.exit, 0) << json.err.toStdString();
    QJsonParseError error;
    const QJsonArray rows = QJsonDocument::fromJson(json.out.toUtf8(), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out.toStdString();
    ASSERT_EQ(rows.size(), 3);
    const QJsonObject edit = rows[1].toObject();
    EXPECT_EQ(edit[QStringLiteral("编号")].toInt(), 2);
    EXPECT_EQ(edit[QStringLiteral("操作")].toString(), QStringLiteral("relay"));
    EXPECT_EQ(edit[QStringLiteral("原值")].toObject()[QStringLiteral("alarm_nominal")].toString(), QStringLiteral("0.55"));
    EXPECT_EQ(edit[QStringLiteral("新值")].toObject()[QStringLiteral("alarm_nominal")].toString(), QStringLiteral("0.6"));
    EXPECT_EQ(edit[QStringLiteral("新值")].toObject()[QStringLiteral("name")].toString(), QStringLiteral("主变\tA相\n第二行"))
        << "JSON keeps the text as it is";
    EXPECT_TRUE(rows[0].toObject()[QStringLiteral("原值")].isNull());
    EXPECT_EQ(rows[2].toObject()[QStringLiteral("对象")].toString(), QStringLiteral("record 1"));
    EXPECT_FALSE(rows[2].toObject()[QStringLiteral("时间")].toString().isEmpty());

    // An empty trail is a header alone, and an empty array.
    QTemporaryDir other;
    const QString empty = archivetest::freshLocation(GetParam(), other);
    const CliRun none = sf6cli({QStringLiteral("archive"), QStringLiteral("audit"), QStringLiteral("--archive"), empty,
                                QStringLiteral("--json"), QStringLiteral("-")});
    ASSERT_EQ(none.exit, 0) << none.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(none.out.toUtf8()).array().size(), 0);
    EXPECT_TRUE(QJsonDocument::fromJson(none.out.toUtf8()).isArray()) << none.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, CliAudit, ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         archivetest::engineName);
