#pragma once
// Text for a console, a file or a pipe: UTF-8 everywhere. A Windows console
// shows UTF-8 only once told to (its own code page is the ANSI one, GBK on a
// Chinese PC); POSIX terminals take the locale's bytes.

#include <QByteArray>
#include <QString>

namespace sf6 {

// Call once at start, before anything is written.
void useUtf8Console();

// The bytes to write for text on standard output or standard error.
QByteArray consoleBytes(const QString& text);

} // namespace sf6
