#include "base/Console.h"

#include "base/Platform.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace sf6 {

#ifdef _WIN32

void useUtf8Console()
{
    // Only the console's own page changes; redirected output is bytes anyway.
    SetConsoleOutputCP(CP_UTF8);
}

#else

void useUtf8Console() {}

#endif

QByteArray consoleBytes(const QString& text) { return text.toUtf8(); }

std::optional<QString> readSecretLine(const QString& prompt)
{
    if (!platform::isTerminal(stdin))
        return std::nullopt;
    const QByteArray p = consoleBytes(prompt);
    std::fwrite(p.constData(), 1, size_t(p.size()), stderr);
    std::fflush(stderr);
    const std::optional<QString> line = platform::readHiddenLine();
    std::fputs("\n", stderr);
    return line;
}

} // namespace sf6
