#include "cli/Output.h"

#include "base/Console.h"
#include "base/SafeSave.h"

#include <cerrno>
#include <cstdio>

namespace cli {

void err(const QString& s)
{
    std::fprintf(stderr, "%s\n", sf6::consoleBytes(s).constData());
    std::fflush(stderr);
}

sf6::Status writeOutput(const QString& target, const QByteArray& bytes)
{
    if (target != kStdout)
        return sf6::saveFile(target, bytes);
    errno = 0;
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    // A closed pipe or a full disk behind the redirection shows here, not later.
    if (std::fflush(stdout) != 0 || written != size_t(bytes.size()) || std::ferror(stdout)) {
        const int why = errno ? errno : EIO;
        std::clearerr(stdout);
        return sf6::Status::failure(QStringLiteral("无法写入标准输出：%1").arg(sf6::systemReason(why)));
    }
    return sf6::Status::success();
}

} // namespace cli
