#include "base/Console.h"

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

} // namespace sf6
