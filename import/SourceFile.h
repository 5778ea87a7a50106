#pragma once
// A file to import, opened once and read once from its start: every byte is
// hashed as the readers take it, and reading stops past a bound, so neither an
// endless stream nor a file that changes between two readings gets through.

#include "base/Status.h"

#include <QCryptographicHash>
#include <QFile>
#include <QIODevice>

namespace sf6::import {

// Far beyond any export this program writes (a JSON list of the largest
// archive is a few hundred MB); a stream that goes on is refused at it.
constexpr qint64 kMaxFileBytes = qint64(2) << 30;

class SourceFile : public QIODevice {
public:
    explicit SourceFile(const QString& path, qint64 maxBytes = kMaxFileBytes);

    // Opens for reading. Only a regular file or a FIFO is read: a device
    // (/dev/zero, a serial port) or a folder is refused before it is opened.
    Status openSource();
    // The first bytes, which tell the format; they are still to be read.
    const QByteArray& head() const { return head_; }
    // A regular file's size as it was opened; 0 for a FIFO.
    qint64 expectedSize() const { return expected_; }
    // Bytes taken from the file so far, for progress.
    qint64 bytesTaken() const { return taken_; }
    bool overBound() const { return overBound_; }
    // A read failed (errorString says why) or went past the bound.
    bool failed() const { return failed_; }
    QString boundText() const;
    // Everything not read yet, to the end (at most limit bytes in all, else a failure).
    Expected<QByteArray> readRest(qint64 limit);
    // The SHA-256 of the whole file: what the readers left is read first.
    Expected<QString> sha256();

    bool isSequential() const override { return true; }
    bool atEnd() const override { return eof_ && headPos_ >= head_.size() && QIODevice::bytesAvailable() == 0; }

protected:
    qint64 readData(char* data, qint64 max) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 readFile(char* data, qint64 max);

    QFile file_;
    qint64 maxBytes_;
    qint64 expected_ = 0;
    qint64 taken_ = 0;
    QByteArray head_;
    qsizetype headPos_ = 0;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
    bool eof_ = false;
    bool overBound_ = false;
    bool failed_ = false;
};

} // namespace sf6::import
