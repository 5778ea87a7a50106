#include "cli/Output.h"

#include "base/SafeSave.h"

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <filesystem>
#include <string>
#endif

namespace cli {

namespace {
constexpr char16_t kControlPictures = 0x2400;   // ␀ to ␟: the C0 controls made visible
constexpr char16_t kDeletePicture = 0x2421;     // ␡

constexpr int kStdoutFd = 1;
constexpr int kStderrFd = 2;

bool isTerminal(int fd)
{
#ifdef Q_OS_WIN
    return _isatty(fd) != 0;
#else
    // A terminal is a character device under /dev/pts, /dev/tty* or /dev/console
    // (found through /proc: the same sources build for Windows without unistd.h).
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path device = fs::canonical("/proc/self/fd/" + std::to_string(fd), ec);
    if (ec || fs::status(device, ec).type() != fs::file_type::character)
        return false;
    const std::string name = device.string();
    return name.starts_with("/dev/pts/") || name.starts_with("/dev/tty") || name == "/dev/console";
#endif
}
} // namespace

QString terminalSafe(QString s)
{
    for (QChar& c : s) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\n')
            continue;
        if (u < 0x20)
            c = QChar(char16_t(kControlPictures + u));
        else if (u == 0x7F)
            c = QChar(kDeletePicture);
        else if (u >= 0x80 && u < 0xA0)
            c = QChar::ReplacementCharacter;
    }
    return s;
}

void err(const QString& s)
{
    const QString shown = isTerminal(kStderrFd) ? terminalSafe(s) : s;
    std::fprintf(stderr, "%s\n", shown.toLocal8Bit().constData());
    std::fflush(stderr);
}

sf6::Status writeOutput(const QString& target, const QByteArray& bytes)
{
    if (target != kStdout)
        return sf6::saveFile(target, bytes);
    // Stored texts may hold escape sequences that would drive the terminal; a
    // file or a pipe gets them exactly.
    const QByteArray shown = isTerminal(kStdoutFd) ? terminalSafe(QString::fromUtf8(bytes)).toUtf8() : bytes;
    errno = 0;
    const size_t written = std::fwrite(shown.constData(), 1, size_t(shown.size()), stdout);
    // A closed pipe or a full disk behind the redirection shows here, not later.
    if (std::fflush(stdout) != 0 || written != size_t(shown.size()) || std::ferror(stdout)) {
        const int why = errno ? errno : EIO;
        std::clearerr(stdout);
        return sf6::Status::failure(QStringLiteral("无法写入标准输出：%1").arg(sf6::systemReason(why)));
    }
    return sf6::Status::success();
}

} // namespace cli
