#include "base/Console.h"

#include "base/Platform.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
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
#ifdef _WIN32
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
    std::fputs("\n", stderr);
    if (ended && line.empty())
        return std::nullopt;
    return QString::fromStdWString(line);
#else
    termios before{};
    const bool quiet = tcgetattr(STDIN_FILENO, &before) == 0;
    if (quiet) {
        termios hidden = before;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    std::string line;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        if (c != '\r')
            line.push_back(char(c));
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    std::fputs("\n", stderr);
    if (c == EOF && line.empty())
        return std::nullopt;
    return QString::fromStdString(line);
#endif
}

} // namespace sf6
