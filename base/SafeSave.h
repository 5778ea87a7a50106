#pragma once
// Every file the program writes is saved the way a careful editor saves: all
// or nothing, into a temporary file beside the real target that is renamed
// over it only when complete. What stood there before is never destroyed: a
// symbolic link is followed and its target written; a folder, a socket, a
// block device or a read-only file is refused with the reason. A character
// device or a pipe (/dev/null, a shell's >(gzip > f.gz)) is a stream, not a
// file to replace: it is written in place. It lives in the lowest
// core library so that every writer (rows, workbook, report, archive export)
// keeps the same promise.

#include "base/Status.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

namespace sf6 {

// What stands at name, links followed.
enum class TargetKind {
    Absent,        // nothing yet (or a dangling link)
    RegularFile,   // replaced all or nothing
    Stream,        // a character device or a pipe: written in place
    Folder,
    Unwritable,    // a socket, a block device: never written
};
TargetKind targetKind(const QString& name);

// Where name really leads (the last target of a chain of links), or why it
// may not be written.
Expected<QString> resolveSaveTarget(const QString& name);

// Writes bytes to name, all or nothing.
Status saveFile(const QString& name, const QByteArray& bytes);

// For writers that write a path of their own (libxlsxwriter): a fresh name
// beside the target, renamed over it by commit(); dropped unless committed.
class SaveBeside {
public:
    explicit SaveBeside(QString name) : name_(std::move(name)) {}
    ~SaveBeside();
    SaveBeside(const SaveBeside&) = delete;
    SaveBeside& operator=(const SaveBeside&) = delete;

    Expected<QString> temporaryPath();   // resolves the target first
    Status commit();

private:
    QString name_, target_, temp_;
    bool stream_ = false;   // target_ is a device or a pipe: the finished file is copied into it
    bool committed_ = false;
};

class CheckedWrites;

// For writers that want a device (the PDF writer): open, write, commit. The
// device is the temporary file beside the target; a write the system takes
// only in part is a failure, since a writer such as the PDF engine's stream
// then stops writing without a word and the file would end without its tail.
class SafeSave {
public:
    explicit SafeSave(QString name);
    ~SafeSave();
    SafeSave(const SafeSave&) = delete;
    SafeSave& operator=(const SafeSave&) = delete;

    Status open();
    QIODevice* device();
    void write(const QByteArray& bytes);
    // The file is flushed to the disk and closed, both checked, then renamed
    // over the target. On failure the temporary file is gone and the target untouched.
    Status commit();

private:
    QString why() const;
    Status fail(const QString& reason);

    QString name_;
    std::unique_ptr<SaveBeside> beside_;
    std::unique_ptr<QFile> file_;   // the temporary file, or a device or pipe written in place
    std::unique_ptr<CheckedWrites> checked_;
};

// "无法写入 NAME：reason".
QString cannotWrite(const QString& name, const QString& reason);
// The reason behind a system error text, in Chinese where it is a common one
// (a full disk, no permission, a closed pipe), with the system's own words.
QString systemReason(const QString& systemText);
QString systemReason(int errorNumber);
// Whether the disk holding folder is (nearly) full: a writer that only says
// "write failed" may have run out of room.
bool diskNearlyFull(const QString& folder);

} // namespace sf6
