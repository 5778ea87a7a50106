#pragma once
// What the operating systems do differently, each behind one function with
// its POSIX and Windows branches side by side in Platform.cpp.

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <optional>

namespace sf6::platform {

// Whether the stream is a terminal (a console window on Windows) rather than a file or pipe.
bool isTerminal(std::FILE* stream);

// A line typed at the terminal on standard input, not echoed (a password);
// none at the end of input or when the console cannot be read.
std::optional<QString> readHiddenLine();

// The name the operating system knows the person at this PC by (the login
// name); the audit trail names who made a change with it. Empty only when the
// system cannot say.
QString userName();

// A function of the PostgreSQL client library that Qt's driver has loaded
// (libpq.so.5; libpq.dll beside the program), or null.
QFunctionPointer postgresClientFunction(const char* name);

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

// Makes what was written to the file at path durable, so that a disk which
// took the writes but cannot keep them says so now. Empty when it could; else
// the system's reason.
QString syncFile(const QString& path);

// What tells one state of a file from another without reading it: the file
// itself (device and inode; volume and index), its size, and the times of its
// last change, to the finest the system keeps. The change of the metadata
// (POSIX ctime) moves with every write and cannot be set back by a program.
// Empty when the file cannot be looked at. Opens no descriptor on POSIX: an
// SQLite file's locks belong to the process and close with any descriptor.
QString fileState(const QString& path);

// Why others than its owner could read the file (a file of passwords): empty
// when only the user running the program can. POSIX: a regular file of this
// user with no permission for group or others. Windows: a file owned by this
// user whose ACL grants reading to no one else but SYSTEM and the
// Administrators.
QString privateFileProblem(const QString& path);

} // namespace sf6::platform
