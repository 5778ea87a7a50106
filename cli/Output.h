#pragma once
// What sf6cli says and writes: messages on standard error, and outputs that
// are checked to the last byte. "-" is standard output; every other name is
// saved all or nothing (sync/SafeSave.h).

#include "base/SafeSave.h"
#include "base/Status.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace cli {

enum Exit {
    kOk = 0,
    kNoAnswer = 1,     // no calibrator answered, or no record came
    kUsage = 2,
    kNoPorts = 3,
    kBrokenOff = 4,    // the sync stopped part-way; the rows that came are written
    kWriteFailed = 5,  // an output could not be written
    kArchiveFailed = 6,
    kAltered = 7,      // archive verify: an audit row or a certificate is no longer as it was written
    kRowsRefused = 8,  // archive import: some rows gave no record; the others are in
    kP20Disagrees = 9, // archive p20: a reading's P20 does not follow from its Pt
    kP20Unchecked = 10, // archive p20: the record cannot be checked (e.g. its temperature)
};

// The exit code for a kind of failure: the one table every command's failures go through.
int exitCode(sf6::ErrorCode code);

// Says the failure on standard error; its exit code.
int fail(const sf6::Status& s);

inline const QString kStdout = QStringLiteral("-");

// A message on standard error.
void err(const QString& s);

// Control characters other than tab and line break as visible symbols (ESC as
// ␛): what a terminal is sent instead of a stored text's raw escape sequences.
QString terminalSafe(QString s);

// Writes bytes to "-" (standard output, checked and flushed; made terminalSafe
// when that is a terminal) or to a file.
sf6::Status writeOutput(const QString& target, const QByteArray& bytes);

// An output written piece by piece, for lists too long to hold: "-" is
// standard output; a file appears only at commit(), complete. Pieces are
// gathered into blocks so a row costs no system call of its own.
class StreamedOutput {
public:
    explicit StreamedOutput(QString target);
    ~StreamedOutput();
    StreamedOutput(const StreamedOutput&) = delete;
    StreamedOutput& operator=(const StreamedOutput&) = delete;

    sf6::Status open();
    void write(const QByteArray& bytes);
    // False once a write has failed: the rest would be lost as well.
    bool good() const { return failure_.ok(); }
    sf6::Status commit();

private:
    void flush();

    QString target_;
    std::unique_ptr<sf6::SafeSave> file_;
    QByteArray block_;
    sf6::Status failure_ = sf6::Status::success();
};

// Whether standard error is a terminal a person watches (progress goes there
// often), rather than a file or a pipe (progress goes there at coarse steps).
bool stderrIsTerminal();

// "已写入 N/M 页" and the like, on standard error: on a terminal on one line
// rewritten in place, elsewhere only at every tenth of the job and at its end.
class Progress {
public:
    Progress(QString format, qint64 total);   // format: "%1" done, "%2" total
    void step(qint64 done);
    void finish();

private:
    QString format_;
    qint64 total_ = 0, lastShown_ = -1;
    bool terminal_ = false, open_ = false;
};

} // namespace cli
