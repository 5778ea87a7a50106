#pragma once
// How every core library reports a failure: a returned value, never an
// exception. A failed Status carries a code, the kind of failure callers
// branch on, and one message in Chinese, ready to show to the user as it is.
// Exceptions are left for programming errors.

#include <QString>

#include <optional>
#include <utility>

namespace sf6 {

// The kinds of failure the program tells apart. Callers and tests branch on
// these, never on the sentence; sf6cli turns them into exit codes in one table.
enum class ErrorCode {
    None,                // success
    Failed,              // a failure no caller tells apart from others
    Usage,               // a command or an option used wrongly
    InvalidValue,        // a value given is refused: a date, a number, a register field
    NotFound,            // no such record, relay, standard or certificate
    Refused,             // refused by a rule: a certificate's conditions, a second approval, …
    NoAnswer,            // no calibrator answered
    NoPorts,             // the system has no serial port to try
    SyncBrokenOff,       // the sync stopped part-way
    OutputNotWritten,    // a file or standard output could not be written
    ArchiveUnavailable,  // the archive could not be opened, reached or queried
    ArchiveReadOnly,     // the archive may be read but not written
    ArchiveDamaged,      // the file is damaged or not a database; nothing is written into it
    ArchiveLocked,       // another program holds the archive
    ArchiveForeign,      // a database that is not this program's archive
    TargetNotEmpty,      // copy, backup, restore: the target already holds something
    SameArchive,         // copy: the target is the source itself
    TargetNotWritable,   // backup: its folder cannot be written (no rights, a read-only medium)
    SchemaNewer,         // copy: an archive of a newer program's schema
    SchemaOlder,         // merge: a source an older program wrote, not yet upgraded
    MergeClash,          // merge: a certificate number another certificate has
    Altered,             // verify: an audit row or a certificate is no longer as written
    NotAnExport,         // import: a file that is no export of this program
    RowsRefused,         // import: rows that give no record
    Cancelled,           // the user stopped it
    // Asks the user's word first (the window asks, sf6cli names the option):
    P20Unconfirmed,      // certify: the record's P20 disagrees with the SF6 equation
    ImportedUnconfirmed, // certify: a record's data came from an imported file
    // Signatures: refused with nothing written and no number used.
    WrongPassword,       // a key's password is not the one it was locked with
    RoleMissing,         // the person lacks the role the signature is for
    PersonRetired,       // the person is retired and signs no more
    SameSigner,          // one person would sign twice for one certificate
    NoLabKey,            // the lab has no signing key yet, or already has one
    PasswordFileUnsafe,  // --passwords: a file others may read, or not as written
};

class [[nodiscard]] Status {
public:
    using Code = ErrorCode;

    static Status success() { return Status(); }
    static Status failure(QString message) { return failure(Code::Failed, std::move(message)); }
    static Status failure(Code code, QString message)
    {
        // A failure without words would read as success; so would one without a code.
        return Status(code == Code::None ? Code::Failed : code,
                      message.isEmpty() ? QStringLiteral("未知错误") : std::move(message));
    }

    bool ok() const { return code_ == Code::None; }
    explicit operator bool() const { return ok(); }
    Code code() const { return code_; }
    const QString& message() const { return message_; }

private:
    Status() = default;
    Status(Code c, QString m) : code_(c), message_(std::move(m)) {}
    Code code_ = Code::None;
    QString message_;
};

// A value, or the reason there is none.
template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : value_(std::move(value)) {}
    Expected(Status failure)
        : error_(failure.ok() ? Status::failure(Status::Code::Failed, QString()) : std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const QString& error() const { return error_.message(); }
    Status::Code code() const { return ok() ? Status::Code::None : error_.code(); }
    Status status() const { return ok() ? Status::success() : error_; }

private:
    std::optional<T> value_;
    Status error_ = Status::success();
};

} // namespace sf6
