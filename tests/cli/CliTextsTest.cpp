// What sf6cli says and where: usage mistakes named, outcomes in Chinese for
// people and stable names for programs, stored texts that cannot break a TSV
// row or drive a terminal, and nothing on standard error but its own messages.
#include "tests/cli/CliRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using clitest::bash;
using clitest::CliRun;
using clitest::sf6cli;

namespace {

class CliTexts : public clitest::CliFixture {
protected:
    QStringList archiveCmd(const char* what, const QStringList& more = {}) const
    {
        return QStringList{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive} + more;
    }
    QStringList sync(const sim::Simulator* s) const
    {
        return {QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), archive};
    }
    QTemporaryDir dir;
    QString archive = dir.filePath(QStringLiteral("archive.sqlite"));
};

// A name holding a line break, a carriage return and a colour escape.
const QString kHostileName = QStringLiteral("甲\r\n乙\u001b[31m红\u0007");

} // namespace

TEST_F(CliTexts, reversedDatesAreBadUsageNamingBoth)
{
    ASSERT_EQ(sf6cli(sync(startSim(2))).exit, 0);
    const CliRun reversed = sf6cli(archiveCmd("list", {QStringLiteral("--from"), QStringLiteral("2024-05-02"),
                                                       QStringLiteral("--to"), QStringLiteral("2024-05-01")}));
    EXPECT_EQ(reversed.exit, 2);
    EXPECT_TRUE(reversed.err.contains(QStringLiteral("2024-05-02")) && reversed.err.contains(QStringLiteral("2024-05-01")))
        << reversed.err.toStdString();
    EXPECT_TRUE(reversed.out.isEmpty());
    const CliRun oneDay = sf6cli(archiveCmd("list", {QStringLiteral("--from"), QStringLiteral("2024-05-01"),
                                                     QStringLiteral("--to"), QStringLiteral("2024-05-01")}));
    EXPECT_EQ(oneDay.exit, 0) << oneDay.err.toStdString();
}

TEST_F(CliTexts, syncOutcomesAreChineseInTsvAndStoredNamesInJson)
{
    ASSERT_EQ(sf6cli(sync(startSim(2))).exit, 0);
    sim::SyncScript cut;
    cut.reply = sim::makeSyncReply(sim::plausibleRecords(3)).left(3 + 105 + 20);   // stops inside record 2
    sf6cli(sync(startSim(0, cut)));

    const CliRun tsv = sf6cli(archiveCmd("syncs"));
    ASSERT_EQ(tsv.exit, 0) << tsv.err.toStdString();
    const QStringList lines = tsv.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << tsv.out.toStdString();
    const int column = int(lines[0].split(u'\t').indexOf(QStringLiteral("结果")));
    ASSERT_GE(column, 0);
    EXPECT_EQ(lines[1].split(u'\t').value(column), QStringLiteral("完成"));
    EXPECT_EQ(lines[2].split(u'\t').value(column), QStringLiteral("中断"));

    const CliRun json = sf6cli(archiveCmd("syncs", {QStringLiteral("--json"), QStringLiteral("-")}));
    const QJsonArray logged = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(logged.size(), 2) << json.out.toStdString();
    EXPECT_EQ(logged[0].toObject()[QStringLiteral("结果")].toString(), QStringLiteral("complete"));
    EXPECT_EQ(logged[1].toObject()[QStringLiteral("结果")].toString(), QStringLiteral("stalled"));
}

// A pipe or a file gets the stored text exactly (line breaks made spaces in
// TSV, as for records); a terminal gets its control characters as symbols.
TEST_F(CliTexts, storedTextsKeepTsvRowsWholeAndNeverDriveATerminal)
{
    ASSERT_EQ(sf6cli(sync(startSim(1))).exit, 0);
    const CliRun made = sf6cli(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--name"),
                                                    kHostileName, QStringLiteral("--range"), QStringLiteral("-0.1,0.9"),
                                                    QStringLiteral("--class"), QStringLiteral("1.6")}));
    ASSERT_EQ(made.exit, 0) << made.err.toStdString();

    const CliRun piped = sf6cli(archiveCmd("relays", {QStringLiteral("--tsv"), QStringLiteral("-")}));
    ASSERT_EQ(piped.exit, 0) << piped.err.toStdString();
    const QStringList rows = piped.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 2) << "a stored line break split the row:\n" << piped.out.toStdString();
    EXPECT_EQ(rows[1].split(u'\t').value(1), QStringLiteral("甲  乙\u001b[31m红\u0007"));
    EXPECT_EQ(QJsonDocument::fromJson(sf6cli(archiveCmd("relays", {QStringLiteral("--json"), QStringLiteral("-")})).out.toUtf8())
                  .array()[0].toObject()[QStringLiteral("继电器名称")].toString(),
              kHostileName)
        << "JSON keeps the exact text";

    // script(1) gives the command a terminal of its own and copies what it shows.
    const CliRun shown = bash(QStringLiteral("script -qec \"$CLI archive relays --archive '$1'\" /dev/null"), {archive});
    ASSERT_EQ(shown.exit, 0) << shown.err.toStdString();
    EXPECT_FALSE(shown.out.contains(QChar(0x1b))) << "raw escape sent to the terminal";
    EXPECT_FALSE(shown.out.contains(QChar(0x07)));
    EXPECT_TRUE(shown.out.contains(QStringLiteral("甲  乙␛[31m红␇"))) << shown.out.toStdString();
}

// No XDG_RUNTIME_DIR, no display: Qt's notes about them are not the user's business.
TEST_F(CliTexts, standardErrorCarriesOnlyTheProgramsOwnMessages)
{
    QProcessEnvironment env = clitest::testEnvironment();
    for (const char* variable : {"XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SF6_QT_MESSAGES"})
        env.remove(QString::fromLatin1(variable));
    ASSERT_EQ(sf6cli(sync(startSim(2)), env).exit, 0);
    for (const char* what : {"list", "syncs", "relays"}) {
        const CliRun r = sf6cli(archiveCmd(what), env);
        EXPECT_EQ(r.exit, 0) << what;
        EXPECT_EQ(r.err, QString()) << what;
    }
    const CliRun ports = sf6cli({QStringLiteral("ports"), QStringLiteral("--port"), QStringLiteral("COM9")}, env);
    EXPECT_EQ(ports.err, QString());

    env.insert(QStringLiteral("SF6_QT_MESSAGES"), QStringLiteral("1"));   // the developers' channel still works
    EXPECT_TRUE(sf6cli(archiveCmd("list"), env).err.contains(QStringLiteral("XDG_RUNTIME_DIR")));
}

// With the system's copies of the report's font files hidden: a program
// without them says which files it missed and writes no PDF in other faces;
// one with a fonts folder beside it (the Windows zip's layout) uses that.
TEST_F(CliTexts, reportFontFilesComeFromBesideTheProgramOrTheMissingOnesAreNamed)
{
    auto* s = startSim(1);
    const CliRun run = bash(QStringLiteral("exec unshare -rm bash -s \"$@\" <<'EOF'\n"
                                           "set -u\n"
                                           "mkdir -p \"$1/bin/fonts\" \"$1/none\" \"$1/beside\"\n"
                                           "cp /usr/share/fonts/truetype/liberation/LiberationSans-*.ttf "
                                           "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc \"$1/bin/fonts/\"\n"
                                           "cp \"$CLI\" \"$1/bin/sf6cli\"\n"
                                           "for d in liberation wqy; do mount -t tmpfs empty /usr/share/fonts/truetype/$d "
                                           "|| exit 90; done\n"
                                           "\"$CLI\" sync --port \"$2\" --no-archive --pdf-dir \"$1/none\"; echo \"exit none $?\"\n"
                                           "\"$1/bin/sf6cli\" sync --port \"$2\" --no-archive --pdf-dir \"$1/beside\"; "
                                           "echo \"exit beside $?\"\n"
                                           "echo \"none: $(ls \"$1/none\" | wc -l)\"\n"
                                           "pdffonts \"$1\"/beside/*.pdf | tail -n +3 | cut -d' ' -f1 | sort -u\n"
                                           "EOF\n"),
                            {dir.path(), s->portPath()});
    ASSERT_NE(run.exit, 90) << "could not hide the system's font folders: " << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("exit none 5"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("none: 0"))) << "a PDF in substitute faces";
    for (const char* file : {"LiberationSans-Regular.ttf", "LiberationSans-Bold.ttf", "wqy-zenhei.ttc"})
        EXPECT_TRUE(run.err.contains(QStringLiteral("找不到报表字体文件")) && run.err.contains(QString::fromLatin1(file)))
            << file << ": " << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("exit beside 0"))) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.endsWith(QStringLiteral("LiberationSans\nLiberationSans-Bold\nWenQuanYiZenHei\n")))
        << run.out.toStdString();
}
