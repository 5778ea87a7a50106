#pragma once
// The two steps of careful saving that each system does its own way: putting
// a finished file in the target's place, and telling that another program
// holds the target open (on Windows a workbook open in Excel cannot be
// replaced; POSIX has no such lock).

#include "base/Status.h"

#include <QByteArray>
#include <QString>

namespace sf6 {

// What the user is told when another program holds the target open.
QString fileLockedText();

// Puts the finished file from in to's place in one step (the old to stays
// whole if this fails) and makes it durable first. The failure's message is
// the reason alone, for cannotWrite().
Status replaceFile(const QString& from, const QString& to);

// A name for path that a C library opening files with fopen() can use (the
// file is created empty if missing): on Windows fopen() takes the ANSI code
// page, so a Chinese or other name becomes the file's short (8.3) name there.
QByteArray narrowFileName(const QString& path);

// The same for reading a file that exists, which is never created: empty when
// no 8-bit name reaches it (on Windows a name outside the ANSI code page on a
// volume without short names).
QByteArray narrowExistingFileName(const QString& path);

// Whether another program holds path open so that it cannot be replaced.
bool lockedByAnotherProgram(const QString& path);

} // namespace sf6
