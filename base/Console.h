#pragma once
// Text for a console, a file or a pipe: UTF-8 everywhere, whatever the
// system's code page (GBK on a Chinese Windows PC). A Windows console shows
// UTF-8 only once told to.

#include <QByteArray>
#include <QString>

namespace sf6 {

// Call once at start, before anything is written.
void useUtf8Console();

// The bytes to write for text on standard output or standard error: UTF-8.
QByteArray consoleBytes(const QString& text);

} // namespace sf6
