// Outputs that never destroy what was there, syncs that always end, and
// reasons a user can act on: sf6cli against simulated calibrators, its outputs
// pointed at the kinds of target a user's shell can hand it.
#include "tests/cli/CliRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <cstring>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

using clitest::bash;
using clitest::CliRun;
using clitest::sf6cli;

namespace {

QByteArray readAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& name, const QByteArray& bytes)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class CliOutputs : public clitest::CliFixture {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QStringList sync(const sim::Simulator* s, const QStringList& outputs) const
    {
        return QStringList{QStringLiteral("sync"), QStringLiteral("--port"), s->portPath()} + outputs;
    }
    QTemporaryDir dir;
};

} // namespace

// A device or a pipe is a stream: written in place, never replaced. A folder or
// a socket is refused; a link, a read-only file: what stood at the target is
// still there afterwards, and exactly as it was.
TEST_F(CliOutputs, specialTargetsAreRefusedAndLinksWrittenThrough)
{
    auto* s = startSim(3);
    const QString plain = path("plain.tsv"), plainJson = path("plain.json");
    ASSERT_EQ(sf6cli(sync(s, {QStringLiteral("--tsv"), plain, QStringLiteral("--json"), plainJson})).exit, 0);

    // A shell's >(…) hands over /dev/fd/N, a link to a pipe; a named pipe is the same.
    for (const auto& [option, expected] : {std::pair{"--tsv", plain}, std::pair{"--json", plainJson},
                                           std::pair{"--xlsx", QString()}}) {
        SCOPED_TRACE(option);
        const QString out = path("piped.out");
        CliRun r = bash(QStringLiteral("\"$CLI\" sync --port \"$1\" $2 >(cat > \"$3\"); e=$?; wait $!; exit $e"),
                        {s->portPath(), QString::fromLatin1(option), out});
        ASSERT_EQ(r.exit, 0) << r.err.toStdString();
        if (expected.isEmpty()) {
            EXPECT_TRUE(readAll(out).startsWith("PK")) << "no workbook came through the pipe";
        } else {
            EXPECT_EQ(readAll(out), readAll(expected));
        }

        const QString fifo = path("fifo");
        QFile::remove(fifo);
        ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        r = bash(QStringLiteral("cat \"$3\" > \"$4\" & \"$CLI\" sync --port \"$1\" $2 \"$3\"; e=$?; wait; exit $e"),
                 {s->portPath(), QString::fromLatin1(option), fifo, out});
        ASSERT_EQ(r.exit, 0) << r.err.toStdString();
        if (!expected.isEmpty()) {
            EXPECT_EQ(readAll(out), readAll(expected));
        }
        EXPECT_FALSE(QFileInfo(fifo).isFile()) << "the pipe was replaced by a plain file";
    }
    QStringList devices{QStringLiteral("/dev/null")};
    if (geteuid() == 0) {   // only the administrator may make a device node
        const QString device = path("null-device");
        ASSERT_EQ(mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
        devices << device;
    }
    for (const QString& device : devices) {
        for (const char* option : {"--xlsx", "--tsv", "--json"}) {
            SCOPED_TRACE(device.toStdString() + " " + option);
            const CliRun r = sf6cli(sync(s, {QString::fromLatin1(option), device}));
            EXPECT_EQ(r.exit, 0) << r.err.toStdString();
            QFileInfo info(device);
            EXPECT_TRUE(info.exists() && !info.isFile() && !info.isSymLink()) << "replaced by a plain file";
        }
    }

    // A folder and a socket are no place for rows.
    const QString socketPath = path("socket");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(encoded.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    for (const auto& [target, reason] : {std::pair{socketPath, QStringLiteral("不是普通文件")},
                                         std::pair{dir.path(), QStringLiteral("文件夹")}}) {
        for (const char* option : {"--xlsx", "--tsv", "--json"}) {
            SCOPED_TRACE(target.toStdString() + " " + option);
            const CliRun r = sf6cli(sync(s, {QString::fromLatin1(option), target}));
            EXPECT_EQ(r.exit, 5) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(reason)) << r.err.toStdString();
        }
    }
    ::close(sock);
    EXPECT_FALSE(QFileInfo(socketPath).isFile());

    // The link stays a link; the workbook it points to is the one brought up to date.
    const QString target = path("kept.xlsx"), link = path("link.xlsx");
    writeFile(target, "old");
    ASSERT_TRUE(QFile::link(target, link));
    CliRun r = sf6cli(sync(s, {QStringLiteral("--xlsx"), link, QStringLiteral("--tsv"), link + QStringLiteral(".tsv")}));
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(readAll(target).startsWith("PK")) << "the linked workbook was not updated";

    // A write-protected file is refused, also for an administrator.
    const QString readOnly = path("ro.tsv");
    writeFile(readOnly, "keep me\n");
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    for (const char* option : {"--tsv", "--xlsx"}) {
        r = sf6cli(sync(s, {QString::fromLatin1(option), readOnly}));
        EXPECT_EQ(r.exit, 5) << option;
        EXPECT_TRUE(r.err.contains(QStringLiteral("只读"))) << r.err.toStdString();
        EXPECT_EQ(readAll(readOnly), QByteArray("keep me\n"));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).filter(QStringLiteral(".tmp")),
              QStringList()) << "temporary files left behind";
}

// A disk that fills up mid-write: the earlier file stays whole, the exit says
// so, and the message names the full disk. A private tmpfs of 64 KB, mounted
// in a namespace of its own, is the disk.
TEST_F(CliOutputs, fullDiskKeepsTheEarlierFileAndSaysTheDiskIsFull)
{
    auto* s = startSim(30);
    const QString disk = path("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    const CliRun run = bash(QStringLiteral("exec unshare -rm bash -s \"$@\" <<'EOF'\n"
                                           "set -u\n"
                                           "mount -t tmpfs -o size=64k sf6test \"$1\" || exit 90\n"
                                           "for i in $(seq 40); do echo \"good earlier row $i\"; done > \"$1/rows.tsv\"\n"
                                           "cp \"$1/rows.tsv\" \"$1/rows.xlsx\"; cp \"$1/rows.tsv\" \"$2/before\"\n"
                                           "yes filler | head -c 1000000 > \"$1/filler\" 2>/dev/null\n"
                                           "for out in tsv xlsx json; do\n"
                                           "  file=\"$1/rows.$out\"; [ $out = json ] && file=\"$1/rows.tsv\"\n"
                                           "  \"$CLI\" sync --port \"$3\" --$out \"$file\"; echo \"exit $out $?\"\n"
                                           "done\n"
                                           "cmp -s \"$1/rows.tsv\" \"$2/before\" && echo 'tsv intact'\n"
                                           "cmp -s \"$1/rows.xlsx\" \"$2/before\" && echo 'xlsx intact'\n"
                                           "echo \"temporary files: $(ls -A \"$1\" | grep -c tmp)\"\n"
                                           "EOF\n"),
                            {disk, dir.path(), s->portPath()});
    ASSERT_NE(run.exit, 90) << "could not mount a tmpfs: " << run.err.toStdString();
    for (const char* line : {"exit tsv 5", "exit xlsx 5", "exit json 5", "tsv intact", "xlsx intact", "temporary files: 0"})
        EXPECT_TRUE(run.out.contains(QString::fromLatin1(line))) << line << "\n" << run.out.toStdString();
    EXPECT_GE(run.err.count(QStringLiteral("磁盘空间不足")), 3) << run.err.toStdString();
}

// An empty sync has nothing to say about yesterday's files: they stay.
TEST_F(CliOutputs, emptySyncWritesNothingAndLeavesEarlierFiles)
{
    auto* s = startSim(0);
    const QString tsv = path("rows.tsv"), xlsx = path("rows.xlsx"), pdfs = path("reports");
    writeFile(tsv, "30 good rows\n");
    writeFile(xlsx, "an earlier workbook");
    const CliRun r = sf6cli(sync(s, {QStringLiteral("--tsv"), tsv, QStringLiteral("--xlsx"), xlsx,
                                     QStringLiteral("--pdf-dir"), pdfs}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("未写入输出文件"))) << r.err.toStdString();
    EXPECT_EQ(readAll(tsv), QByteArray("30 good rows\n"));
    EXPECT_EQ(readAll(xlsx), QByteArray("an earlier workbook"));
    EXPECT_FALSE(QFileInfo::exists(pdfs));
}

// A reader that is gone (| head) is one failed output: the workbook and the
// reports are still written, and the exit says an output failed.
TEST_F(CliOutputs, closedPipeIsAFailedOutputNotTheEnd)
{
    auto* s = startSim(4);
    const CliRun r = bash(QStringLiteral("\"$CLI\" sync --port \"$1\" --tsv - --xlsx \"$2\" --pdf-dir \"$3\" | true;"
                                         " echo \"cli ${PIPESTATUS[0]}\""),
                          {s->portPath(), path("rows.xlsx"), path("reports")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("cli 5"))) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("无法写入标准输出"))) << r.err.toStdString();
    EXPECT_TRUE(readAll(path("rows.xlsx")).startsWith("PK"));
    EXPECT_EQ(QDir(path("reports")).entryList({QStringLiteral("*.pdf")}).size(), 4);
}

TEST_F(CliOutputs, emptyNamesAreBadUsageNotTheCurrentFolder)
{
    auto* s = startSim(1);
    for (const char* option : {"--tsv", "--json", "--xlsx", "--pdf-dir"}) {
        const CliRun r = sf6cli(sync(s, {QString::fromLatin1(option), QString()}));
        EXPECT_EQ(r.exit, 2) << option;
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(option))) << r.err.toStdString();
    }
}

// A reply that announces no record and then streams stray bytes still ends,
// in about the time an empty reply takes.
TEST_F(CliOutputs, zeroRecordReplyFollowedByAStreamEnds)
{
    sim::SyncScript stream;
    stream.reply = sim::makeSyncReply({});
    stream.extra = QByteArray(60000, '\x55');   // half a minute at the line's pace
    auto* s = startSim(0, stream);
    QElapsedTimer clock;
    clock.start();
    const CliRun r = sf6cli(sync(s, {QStringLiteral("--tsv"), QStringLiteral("-")}));
    EXPECT_EQ(r.exit, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据同步完成当前共有0条记录！")));
    EXPECT_LT(clock.elapsed(), 10000);
}

// A reply cut after 108 bytes has shown one row: the exit says broken off,
// not "no records", and the row is written.
TEST_F(CliOutputs, replyCutAfterTheFirstRecordExitsBrokenOffWithItsRow)
{
    sim::SyncScript cut;
    cut.reply = sim::makeSyncReply(sim::plausibleRecords(2));
    cut.stopAfter = 108;
    auto* s = startSim(2, cut);
    const CliRun r = sf6cli(sync(s, {QStringLiteral("--tsv"), QStringLiteral("-")}));
    EXPECT_EQ(r.exit, 4) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 2) << "header and one row";
}

// Each refused port is named with its reason; a port the user may not open
// comes with the hint about the dialout group.
TEST_F(CliOutputs, connectNamesEveryRefusedPortAndWhy)
{
    auto* s = startSim(0);
    const QString notAPort = path("not-a-port");
    writeFile(notAPort, "");
    CliRun r = sf6cli({QStringLiteral("connect"), QStringLiteral("--port"), notAPort, QStringLiteral("--port"),
                       path("missing-port")});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains(notAPort + QStringLiteral("：不是串口设备"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(path("missing-port") + QStringLiteral("：串口不存在"))) << r.err.toStdString();

    // Unreadable: the administrator can open anything, so the test drops to nobody.
    const QString pty = s->portPath();
    ASSERT_TRUE(QFile::setPermissions(pty, QFile::ReadOwner | QFile::WriteOwner));
    const QString asUser = geteuid() == 0 ? QStringLiteral("setpriv --reuid=65534 --regid=65534 --clear-groups ")
                                          : QString();
    if (geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(pty, {}));
    }
    r = bash(asUser + QStringLiteral("\"$CLI\" connect --port \"$1\""), {pty});
    EXPECT_EQ(r.exit, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(pty + QStringLiteral("：没有权限打开串口"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("dialout"))) << r.err.toStdString();
}
