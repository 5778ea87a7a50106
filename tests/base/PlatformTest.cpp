// The system-specific halves of saving and console output, on each system:
// putting a finished file in the target's place, a target another program holds open, UTF-8 text.
#include "base/Console.h"
#include "base/FileReplace.h"
#include "base/Platform.h"
#include "base/SafeSave.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace sf6;

namespace {

QByteArray readAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void write(const QString& name, const QByteArray& bytes)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Only what the test wrote on purpose: no temporary file may be left behind.
QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

#ifdef _WIN32
// What Excel does to an open workbook: the file is open and may not be deleted or renamed.
struct HeldOpen {
    explicit HeldOpen(const QString& name)
        : handle(CreateFileW(QDir::toNativeSeparators(name).toStdWString().c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~HeldOpen()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    HANDLE handle;
};
#endif

} // namespace

TEST(FileReplace, putsTheNewFileInPlaceOfTheOldUnderChineseNamesWithSpaces)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("校验 记录.xlsx"));
    const QString fresh = dir.filePath(QStringLiteral(".~校验 记录.tmp"));
    write(target, "old");
    write(fresh, "new contents");

    ASSERT_TRUE(replaceFile(fresh, target)) << "replacing an existing file";
    EXPECT_EQ(readAll(target), "new contents");
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("校验 记录.xlsx")});

    const QString second = dir.filePath(QStringLiteral("新 文件.pdf"));
    write(fresh, "first time");
    ASSERT_TRUE(replaceFile(fresh, second)) << "a target that does not exist yet";
    EXPECT_EQ(readAll(second), "first time");
}

TEST(FileReplace, failsWithAReasonAndKeepsTheNewFileWhenTheFolderIsGone)
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("new.tmp"));
    write(fresh, "new");
    const Status s = replaceFile(fresh, dir.filePath(QStringLiteral("missing/out.pdf")));
    ASSERT_FALSE(s);
    EXPECT_FALSE(s.message().isEmpty());
    EXPECT_EQ(readAll(fresh), "new");
}

TEST(FileReplace, aFileNobodyHoldsIsNotLocked)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("报告.pdf"));
    write(name, "x");
    EXPECT_FALSE(lockedByAnotherProgram(name));
    EXPECT_FALSE(lockedByAnotherProgram(dir.filePath(QStringLiteral("absent.pdf"))));
}

#ifdef _WIN32
TEST(FileReplace, aWorkbookOpenInAnotherProgramIsRefusedAndTheOldFileKept)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("导出 记录.xlsx"));
    write(target, "old workbook");
    {
        HeldOpen excel(target);
        ASSERT_NE(excel.handle, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(lockedByAnotherProgram(target));

        const Status direct = saveFile(target, "new workbook");
        ASSERT_FALSE(direct);
        EXPECT_TRUE(direct.message().contains(QStringLiteral("文件正被其他程序打开，请关闭后重试"))) << direct.message().toStdString();

        SaveBeside beside(target);   // the workbook writer's way
        EXPECT_FALSE(beside.temporaryPath());

        const QString fresh = dir.filePath(QStringLiteral("fresh.tmp"));
        write(fresh, "new workbook");
        const Status replaced = replaceFile(fresh, target);
        ASSERT_FALSE(replaced);
        EXPECT_EQ(replaced.message(), QStringLiteral("文件正被其他程序打开，请关闭后重试"));
        QFile::remove(fresh);
    }
    EXPECT_EQ(readAll(target), "old workbook");
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("导出 记录.xlsx")});

    // Closed again: the same save goes through.
    ASSERT_TRUE(saveFile(target, "new workbook"));
    EXPECT_EQ(readAll(target), "new workbook");
}
#endif

// sf6cli's messages reach files and pipes as UTF-8 on every system (on Windows
// not in the ANSI code page, GBK on a Chinese PC).
TEST(Console, writesChineseAsUtf8)
{
    const QString text = QStringLiteral("联机失败！串口正被其他程序占用");
    EXPECT_EQ(consoleBytes(text), text.toUtf8());
}

// libxlsxwriter opens its file with fopen(), which on Windows takes the ANSI
// code page: a workbook named in Chinese must still land under its own name.
TEST(FileReplace, aCLibraryWritesAChineseNamedFileThroughItsNarrowName)
{
    QTemporaryDir dir;
    const QString sub = dir.filePath(QStringLiteral("导出 文件夹"));
    ASSERT_TRUE(QDir().mkpath(sub));
    const QString name = sub + QStringLiteral("/.~校验 记录.xlsx-1a2b.tmp");
    FILE* f = std::fopen(narrowFileName(name).constData(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("zip", 1, 3, f), 3u);
    std::fclose(f);
    EXPECT_EQ(readAll(name), "zip");
    EXPECT_EQ(filesIn(sub), QStringList{QStringLiteral(".~校验 记录.xlsx-1a2b.tmp")});
}

// FreeXL opens a workbook by an 8-bit name, fopen()'s: a file named in Chinese
// in a folder with a space must still open through it, and asking creates nothing.
TEST(FileReplace, aCLibraryReadsAChineseNamedFileThroughItsNarrowName)
{
    QTemporaryDir dir;
    const QString sub = dir.filePath(QStringLiteral("旧的 导出"));
    ASSERT_TRUE(QDir().mkpath(sub));
    // No ANSI code page holds both Chinese and Thai: on Windows this one can only be the short name.
    for (const QString& leaf : {QStringLiteral("校验 记录.xls"), QStringLiteral("校验 ทดสอบ.xls")}) {
        const QString name = sub + u'/' + leaf;
        write(name, "BIFF");
        const QByteArray narrow = narrowExistingFileName(name);
        ASSERT_FALSE(narrow.isEmpty()) << leaf.toStdString();
        FILE* f = std::fopen(narrow.constData(), "rb");
        ASSERT_NE(f, nullptr) << leaf.toStdString();
        char read[8] = {};
        EXPECT_EQ(std::fread(read, 1, sizeof read, f), 4u);
        std::fclose(f);
        EXPECT_EQ(QByteArray(read), "BIFF") << leaf.toStdString();
    }
    const QString absent = sub + QStringLiteral("/不存在 的.xls");
    narrowExistingFileName(absent);
    EXPECT_FALSE(QFile::exists(absent));
    EXPECT_EQ(filesIn(sub), (QStringList{QStringLiteral("校验 ทดสอบ.xls"), QStringLiteral("校验 记录.xls")}));
}

// The audit trail names who changed the archive: the account logged in, as
// the system knows it, whatever the environment claims.
TEST(Platform, theUserNameIsTheLoggedInAccount)
{
    const QString name = platform::userName();
    ASSERT_FALSE(name.isEmpty());
#ifdef _WIN32
    // Windows (and Wine) set USERNAME at log-on to the same account.
    EXPECT_EQ(name.toLower(), qEnvironmentVariable("USERNAME").toLower());
#else
    QProcess id;
    id.start(QStringLiteral("id"), {QStringLiteral("-un")});
    ASSERT_TRUE(id.waitForFinished());
    EXPECT_EQ(name, QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed());
    const QByteArray before = qgetenv("USER");
    qputenv("USER", "somebody-else");
    EXPECT_EQ(platform::userName(), name) << "$USER is anyone's to set";
    qputenv("USER", before);
#endif
}

// An exception's text as the user reads it: the program's own UTF-8 on every
// system, and a system message in the ANSI code page (GBK on the users' PCs) as
// that code page reads it, not as Latin-1 or UTF-8 garbage.
TEST(Platform, exceptionTextReadsTheProgramsUtf8AndTheSystemsCodePage)
{
    EXPECT_EQ(platform::exceptionText("端口配置失败"), QStringLiteral("端口配置失败"));
    EXPECT_EQ(platform::exceptionText("bad_alloc"), QStringLiteral("bad_alloc"));
    EXPECT_EQ(platform::exceptionText(nullptr), QString());
    const char gbk[] = "\xB6\xCB\xBF\xDA";   // 端口 in GBK: not UTF-8
    EXPECT_EQ(platform::exceptionText(gbk), QString::fromLocal8Bit(gbk));
#ifdef _WIN32
    if (GetACP() == 936) {
        EXPECT_EQ(platform::exceptionText(gbk), QStringLiteral("端口"));
    }
#endif
}

// On Windows the programs choose Qt's FreeType engine, which draws outlines,
// unless the platform was named; on Linux the choice is fontconfig's, untouched.
TEST(Platform, textIsDrawnFromOutlinesUnlessThePlatformWasNamed)
{
    const QByteArray before = qgetenv("QT_QPA_PLATFORM");
    qunsetenv("QT_QPA_PLATFORM");
    platform::drawTextFromOutlines();
#ifdef _WIN32
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), QByteArray("windows:fontengine=freetype"));
#else
    EXPECT_TRUE(qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
#endif
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::drawTextFromOutlines();
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), QByteArray("offscreen"));
    if (before.isNull())
        qunsetenv("QT_QPA_PLATFORM");
    else
        qputenv("QT_QPA_PLATFORM", before);
}

// A file of passwords is taken only when no one else may read it. On
// Windows a file in the user's own folder inherits such an ACL; a folder
// for everyone's files does not (the test's temporary folder is the user's).
TEST(PrivateFile, onlyAFileItsOwnerAloneMayReadIsPrivate)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("密码"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("实验室\tx\n");
    f.close();
    ASSERT_TRUE(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    EXPECT_EQ(sf6::platform::privateFileProblem(path), QString());
#ifndef _WIN32
    for (const QFileDevice::Permissions loose : {QFileDevice::ReadOwner | QFileDevice::ReadGroup,
                                                  QFileDevice::ReadOwner | QFileDevice::ReadOther,
                                                  QFileDevice::ReadOwner | QFileDevice::WriteOther}) {
        ASSERT_TRUE(f.setPermissions(loose));
        EXPECT_FALSE(sf6::platform::privateFileProblem(path).isEmpty()) << int(loose);
    }
    EXPECT_FALSE(sf6::platform::privateFileProblem(dir.path()).isEmpty()) << "a folder is no file";
#endif
    EXPECT_FALSE(sf6::platform::privateFileProblem(dir.filePath(QStringLiteral("无此文件"))).isEmpty());
}

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

// A password typed at a terminal is read without being shown, and the
// terminal echoes again afterwards.
TEST(Platform, aHiddenLineIsNotEchoedAndTheTerminalIsGivenBack)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    const int savedStdin = dup(STDIN_FILENO);
    ASSERT_EQ(dup2(slave, STDIN_FILENO), STDIN_FILENO);
    clearerr(stdin);
    // Typed once the terminal stops echoing, as a person types after the prompt;
    // typed anyway after two seconds, when the echo check then fails.
    std::thread typist([master, slave] {
        for (int i = 0; i < 2000; ++i) {
            termios now{};
            if (tcgetattr(slave, &now) == 0 && !(now.c_lflag & ECHO))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(write(master, "密码 pw\n", 10), 10);
    });
    const std::optional<QString> line = sf6::platform::readHiddenLine();
    typist.join();
    termios after{};
    ASSERT_EQ(tcgetattr(STDIN_FILENO, &after), 0);
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    clearerr(stdin);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, QStringLiteral("密码 pw"));
    EXPECT_TRUE(after.c_lflag & ECHO) << "echo is back on";
    // Nothing of the password came back to the screen.
    fcntl(master, F_SETFL, O_NONBLOCK);
    char echoed[64];
    const ssize_t n = read(master, echoed, sizeof echoed);
    EXPECT_LE(n, 0) << std::string(echoed, size_t(std::max<ssize_t>(n, 0)));
    close(slave);
    close(master);
}
#endif
