#pragma once
// What sf6cli says and writes: messages on standard error, and outputs that
// are checked to the last byte. "-" is standard output; every other name is
// saved all or nothing (sync/SafeSave.h).

#include "base/Status.h"

#include <QByteArray>
#include <QString>

namespace cli {

enum Exit {
    kOk = 0,
    kNoAnswer = 1,     // no calibrator answered, or no record came
    kUsage = 2,
    kNoPorts = 3,
    kBrokenOff = 4,    // the sync stopped part-way; the rows that came are written
    kWriteFailed = 5,  // an output could not be written
    kArchiveFailed = 6,
};

inline const QString kStdout = QStringLiteral("-");

// A message on standard error.
void err(const QString& s);

// Control characters other than tab and line break as visible symbols (ESC as
// ␛): what a terminal is sent instead of a stored text's raw escape sequences.
QString terminalSafe(QString s);

// Writes bytes to "-" (standard output, checked and flushed; made terminalSafe
// when that is a terminal) or to a file.
sf6::Status writeOutput(const QString& target, const QByteArray& bytes);

} // namespace cli
