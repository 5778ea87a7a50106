// sf6cli's help, man page and dispatch, all read from its command table: the
// help is Chinese and UTF-8 wherever it goes, every command listed has its own
// help and its man entry, and every command that writes checks the archive first.
#include "tests/cli/CliRun.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using clitest::CliRun;
using clitest::sf6cli;

namespace {

struct RawRun {
    int exit = -1;
    QByteArray out;
};

// Standard output as bytes, with the locale a GBK system would have.
RawRun rawRun(const QStringList& args)
{
    QProcessEnvironment env = clitest::testEnvironment();
    env.insert(QStringLiteral("LANG"), QStringLiteral("zh_CN.GBK"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("zh_CN.GBK"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SF6CLI_PATH), args);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput()};
}

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(bytes);
    return !decode.hasError() && text.toUtf8() == bytes;
}

// The commands --help lists: the first word(s) of each line under 命令：.
QStringList listedCommands(const QString& help)
{
    QStringList names;
    const QString section = help.section(QStringLiteral("命令：\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    static const QRegularExpression name(QStringLiteral("^  ((?:archive )?[a-z][a-z0-9-]*)"));
    for (const QString& line : section.split(u'\n'))
        if (const auto m = name.match(line); m.hasMatch())
            names << m.captured(1);
    return names;
}

TEST(CliHelp, isChineseUtf8AndTellsEveryCommandOfTheTable)
{
    const RawRun help = rawRun({QStringLiteral("--help")});
    ASSERT_EQ(help.exit, 0);
    ASSERT_TRUE(isUtf8(help.out)) << help.out.toStdString();
    const QString text = QString::fromUtf8(help.out);
    EXPECT_TRUE(text.startsWith(QStringLiteral("用法：sf6cli 命令"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("  6  存档无法打开或写入（输出文件已写好）"))) << text.toStdString();

    const QStringList names = listedCommands(text);
    ASSERT_GE(names.size(), 26) << text.toStdString();
    for (const char* expected : {"sync", "archive unlink", "archive import", "archive verify", "help"})
        EXPECT_TRUE(names.contains(QLatin1String(expected))) << expected;

    const QString man = QString::fromUtf8(rawRun({QStringLiteral("--man-commands")}).out);
    for (const QString& name : names) {
        const RawRun one = rawRun(QStringList{QStringLiteral("help")} + name.split(u' '));
        EXPECT_EQ(one.exit, 0) << name.toStdString();
        EXPECT_TRUE(isUtf8(one.out)) << name.toStdString();
        EXPECT_TRUE(QString::fromUtf8(one.out).startsWith(QStringLiteral("用法：sf6cli ") + name)) << one.out.toStdString();
        // COMMAND --help says the same as help COMMAND.
        EXPECT_EQ(rawRun(name.split(u' ') + QStringList{QStringLiteral("--help")}).out, one.out) << name.toStdString();
        EXPECT_TRUE(man.contains(QStringLiteral(".B ") + name + u'\n') || man.contains(QStringLiteral(".BI \"%1 \"").arg(name)))
            << "no man entry for " << name.toStdString();
    }
}

TEST(CliHelp, aCommandsHelpNamesItsOptionsAsTheyAreTyped)
{
    const CliRun link = sf6cli({QStringLiteral("help"), QStringLiteral("archive"), QStringLiteral("link")});
    ASSERT_EQ(link.exit, 0);
    for (const char* option : {"--record N", "--records N", "--serial TEXT", "--archive LOCATION"})
        EXPECT_TRUE(link.out.contains(QLatin1String(option))) << option << "\n" << link.out.toStdString();
    EXPECT_TRUE(link.out.contains(QStringLiteral("（写入存档）")));
    EXPECT_FALSE(sf6cli({QStringLiteral("help"), QStringLiteral("archive"), QStringLiteral("list")}).out.contains(QStringLiteral("写入存档")));

    const CliRun unknown = sf6cli({QStringLiteral("help"), QStringLiteral("frobnicate")});
    EXPECT_EQ(unknown.exit, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("没有这个命令：frobnicate"))) << unknown.err.toStdString();
    const CliRun option = sf6cli({QStringLiteral("connect"), QStringLiteral("--no-such-option")});
    EXPECT_EQ(option.exit, 2);
    EXPECT_TRUE(option.err.contains(QStringLiteral("未知的选项：no-such-option"))) << option.err.toStdString();
    const CliRun extra = sf6cli({QStringLiteral("sync"), QStringLiteral("now")});
    EXPECT_EQ(extra.exit, 2);
    EXPECT_TRUE(extra.err.startsWith(QStringLiteral("用法：sf6cli sync"))) << extra.err.toStdString();
    EXPECT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("import")}).exit, 2) << "import needs a file";
}

// A damaged SQLite file is refused by every command that would write into it,
// before it does anything, and is left as it was; reading it still works.
TEST(CliWritingCommands, refuseADamagedArchiveBeforeTheyWrite)
{
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("archive.sqlite"));
    const QString rows = dir.filePath(QStringLiteral("rows.tsv"));
    ASSERT_EQ(sf6cli({QStringLiteral("demo"), QStringLiteral("--records"), QStringLiteral("3"), QStringLiteral("--archive"),
                      archive, QStringLiteral("--tsv"), rows}).exit,
              0);
    ASSERT_TRUE(QFile::resize(archive, QFileInfo(archive).size() - 1));
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
    const QList<QStringList> writing = {
        {QStringLiteral("unlink"), QStringLiteral("--record"), QStringLiteral("999")},
        {QStringLiteral("link"), QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--serial"), QStringLiteral("R1")},
        {QStringLiteral("relay"), QStringLiteral("--serial"), QStringLiteral("R1")},
        {QStringLiteral("judge"), QStringLiteral("--record"), QStringLiteral("1")},
        {QStringLiteral("report"), QStringLiteral("--pdf"), pdf},
        {QStringLiteral("lab"), QStringLiteral("--name"), QStringLiteral("实验室")},
        {QStringLiteral("standard"), QStringLiteral("--serial"), QStringLiteral("S1")},
        {QStringLiteral("approve"), QStringLiteral("--certificate"), QStringLiteral("X-1"), QStringLiteral("--approver"), QStringLiteral("王五")},
        {QStringLiteral("import"), rows},
    };
    for (const QStringList& command : writing) {
        const CliRun r = sf6cli(QStringList{QStringLiteral("archive")} + command + QStringList{QStringLiteral("--archive"), archive});
        EXPECT_EQ(r.exit, 6) << command.join(u' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("已损坏"))) << command.join(u' ').toStdString() << ": " << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(pdf)) << "refused before any output";
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);

    // Reading goes on where SQLite still can: the byte cut may lie in the
    // schema's text (the newest triggers stand last), and then no program can
    // read the file, which is said as damage, never as an empty archive.
    const CliRun listed = sf6cli({QStringLiteral("archive"), QStringLiteral("list"), QStringLiteral("--archive"), archive});
    if (listed.exit == 0) {
        EXPECT_EQ(listed.out.count(u'\n'), 4);
        const CliRun lab = sf6cli({QStringLiteral("archive"), QStringLiteral("lab"), QStringLiteral("--archive"), archive});
        EXPECT_EQ(lab.exit, 1) << "only shows the lab: read, not refused: " << lab.err.toStdString();
    } else {
        EXPECT_EQ(listed.exit, 6) << listed.err.toStdString();
        EXPECT_TRUE(listed.err.contains(QStringLiteral("已损坏"))) << listed.err.toStdString();
    }
}

} // namespace
