#include "base/Platform.h"

#include <QStringDecoder>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include <vector>

namespace sf6::platform {

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

bool postgresHasTls()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

void drawTextFromOutlines()
{
#ifdef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
#endif
}

QString exceptionText(const char* what)
{
    const QByteArray bytes(what ? what : "");
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLocal8Bit(bytes) : text;
}

} // namespace sf6::platform
