#pragma once
// What the operating systems do differently, each behind one function with
// its POSIX and Windows branches side by side in Platform.cpp.

#include <QString>

#include <cstdio>

namespace sf6::platform {

// Whether the stream is a terminal (a console window on Windows) rather than a file or pipe.
bool isTerminal(std::FILE* stream);

// The name the operating system knows the person at this PC by (the login
// name); the audit trail names who made a change with it. Empty only when the
// system cannot say.
QString userName();

// Whether the PostgreSQL client library the program runs with can encrypt the
// connection (TLS). The Windows build ships a libpq made without it.
bool postgresHasTls();

// The text of an exception for the user. The program's own are UTF-8 on every
// system; a message the system wrote is in its 8-bit code page, which on
// Windows is not UTF-8 (936 on the users' PCs).
QString exceptionText(const char* what);

// Before the application object: text is drawn from the faces' outlines.
// Windows' own font engine takes a face's embedded bitmaps at small sizes, and
// those of the shipped Chinese face lack strokes (报警 drawn as 报⺮); Qt's
// FreeType engine, chosen here unless QT_QPA_PLATFORM names a platform, draws
// outlines. Nothing to do elsewhere.
void drawTextFromOutlines();

} // namespace sf6::platform
