#include "base/Platform.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace sf6::platform {

bool isTerminal(std::FILE* stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
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

} // namespace sf6::platform
