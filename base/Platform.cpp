#include "base/Platform.h"

#include <QStringDecoder>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <io.h>
#include <windows.h>
#include <aclapi.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <QDir>
#include <QFile>
#include <QLibrary>

#include <string>
#include <vector>

namespace sf6::platform {

std::optional<QString> readHiddenLine()
{
#ifdef Q_OS_WIN
    // ReadConsoleW: the console's own UTF-16, whatever the code page.
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(in, &mode))
        return std::nullopt;
    SetConsoleMode(in, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
    std::wstring line;
    wchar_t c = 0;
    DWORD n = 0;
    bool ended = false;
    while ((ended = !ReadConsoleW(in, &c, 1, &n, nullptr) || n == 0) == false && c != L'\n')
        if (c != L'\r')
            line.push_back(c);
    SetConsoleMode(in, mode);
    if (ended && line.empty())
        return std::nullopt;
    return QString::fromStdWString(line);
#else
    termios before{};
    const bool quiet = tcgetattr(STDIN_FILENO, &before) == 0;
    if (quiet) {
        termios hidden = before;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        // TCSANOW, not TCSAFLUSH: a line already waiting (a script feeding
        // the terminal) is read, not thrown away.
        tcsetattr(STDIN_FILENO, TCSANOW, &hidden);
    }
    std::string line;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        if (c != '\r')
            line.push_back(char(c));
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSANOW, &before);
    if (c == EOF && line.empty())
        return std::nullopt;
    return QString::fromStdString(line);
#endif
}

bool isTerminal(std::FILE* stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

QString userName()
{
#ifdef Q_OS_WIN
    // UNLEN + 1 is enough for any account name.
    std::vector<wchar_t> name(257);
    DWORD size = DWORD(name.size());
    if (GetUserNameW(name.data(), &size) && size > 0)
        return QString::fromWCharArray(name.data(), int(size) - 1);
    return qEnvironmentVariable("USERNAME");
#else
    // The account of the effective user id, not $USER, which anyone may set.
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? size_t(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    // A container without an entry for its user still has a number.
    return qEnvironmentVariable("USER", QString::number(geteuid()));
#endif
}

void drawTextFromOutlines()
{
#ifdef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
#endif
}

QFunctionPointer postgresClientFunction(const char* name)
{
#ifdef Q_OS_WIN
    QLibrary libpq(QStringLiteral("libpq"));
#else
    QLibrary libpq(QStringLiteral("pq"), 5);
#endif
    return libpq.resolve(name);   // the library stays loaded: the driver uses it
}

QString exceptionText(const char* what)
{
    const QByteArray bytes(what ? what : "");
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLocal8Bit(bytes) : text;
}

QString syncFile(const QString& path)
{
#ifdef Q_OS_WIN
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return QStringLiteral("Windows error %1").arg(GetLastError());
    const bool flushed = FlushFileBuffers(h);
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (flushed)
        return {};
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return QString::fromLocal8Bit(std::strerror(ENOSPC));
    return QStringLiteral("Windows error %1").arg(error);
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    return synced ? QString() : QString::fromLocal8Bit(std::strerror(error));
#endif
}

QString fileState(const QString& path)
{
#ifdef Q_OS_WIN
    // Read attributes only, sharing everything: SQLite's locks are byte
    // ranges of its own handle and stay as they are.
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO times{};
    const bool got = GetFileInformationByHandle(h, &info)
                     && GetFileInformationByHandleEx(h, FileBasicInfo, &times, sizeof times);
    CloseHandle(h);
    if (!got)
        return {};
    auto wide = [](DWORD high, DWORD low) { return (quint64(high) << 32) | low; };
    return QStringLiteral("%1:%2 %3 %4 %5")
        .arg(info.dwVolumeSerialNumber)
        .arg(wide(info.nFileIndexHigh, info.nFileIndexLow))
        .arg(wide(info.nFileSizeHigh, info.nFileSizeLow))
        .arg(times.LastWriteTime.QuadPart)
        .arg(times.ChangeTime.QuadPart);
#else
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QStringLiteral("%1:%2 %3 %4.%5 %6.%7")
        .arg(quint64(st.st_dev))
        .arg(quint64(st.st_ino))
        .arg(qint64(st.st_size))
        .arg(qint64(st.st_mtim.tv_sec))
        .arg(qint64(st.st_mtim.tv_nsec), 9, 10, QLatin1Char('0'))
        .arg(qint64(st.st_ctim.tv_sec))
        .arg(qint64(st.st_ctim.tv_nsec), 9, 10, QLatin1Char('0'));
#endif
}

QString privateFileProblem(const QString& path)
{
#ifdef Q_OS_WIN
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &sd)
        != ERROR_SUCCESS)
        return QStringLiteral("无法读取文件的权限");
    QString problem;
    HANDLE token = nullptr;
    std::vector<char> user;
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user.resize(size);
        if (!GetTokenInformation(token, TokenUser, user.data(), size, &size))
            user.clear();
        CloseHandle(token);
    }
    PSID self = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    if (!self || !EqualSid(owner, self))
        problem = QStringLiteral("文件的所有者不是当前用户");
    else if (!dacl)
        problem = QStringLiteral("文件没有访问控制列表，任何人都能读取");
    // SYSTEM and the Administrators can read every file anyway.
    BYTE systemSid[SECURITY_MAX_SID_SIZE], adminsSid[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof systemSid, adminsSize = sizeof adminsSid;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsSid, &adminsSize);
    for (DWORD i = 0; problem.isEmpty() && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &ace->SidStart;
        const bool reads = ace->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL);
        if (reads && !EqualSid(sid, self) && !EqualSid(sid, systemSid) && !EqualSid(sid, adminsSid))
            problem = QStringLiteral("文件的权限允许其他用户读取");
    }
    LocalFree(sd);
    return problem;
#else
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("不是普通文件");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("文件的所有者不是当前用户");
    if (st.st_mode & (S_IRWXG | S_IRWXO))
        return QStringLiteral("文件的权限允许其他用户读写（应为 600：chmod 600 文件）");
    return {};
#endif
}

} // namespace sf6::platform
