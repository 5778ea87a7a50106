#pragma once
// Text for a console, a file or a pipe: UTF-8 everywhere, whatever the
// system's code page (GBK on a Chinese Windows PC). A Windows console shows
// UTF-8 only once told to.

#include <QByteArray>
#include <QString>

#include <optional>

namespace sf6 {

// Call once at start, before anything is written.
void useUtf8Console();

// The bytes to write for text on standard output or standard error: UTF-8.
QByteArray consoleBytes(const QString& text);

// A line typed at the terminal without showing it (a password), after the
// prompt on standard error; nullopt when standard input is no terminal or
// ends. The line ends are not part of it.
std::optional<QString> readSecretLine(const QString& prompt);

} // namespace sf6
