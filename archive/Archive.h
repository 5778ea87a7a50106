#pragma once
// An open archive: one database connection, its schema made current (or
// left alone and read-only when a newer program wrote it, or when the file or
// the role may not be written). Every failure comes back as a message naming
// the archive and the reason; nothing already stored is ever overwritten.
// A process holds one connection per archive, shared by every window: SQLite
// locks belong to the process, and a second way into the same file would
// drop them.

#include "archive/ArchiveLocation.h"
#include "base/Status.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <memory>

namespace sf6 {

class Archive {
public:
    // Read: for looking only. Write: also checks an SQLite file for damage
    // before anything is written into it.
    enum class Access { Read, Write };
    // The archive this process already has open there, else a new connection.
    // A file that is not ours is refused from reads alone, and left as it was.
    static Expected<std::shared_ptr<Archive>> open(const ArchiveLocation& location, Access access = Access::Write);
    // Loads the engine's driver library now, before a serial port is used.
    // Under Wine a library loaded after a serial exchange can crash the
    // process in the loader (a thread the port left behind); elsewhere it
    // only moves the load earlier. A missing driver is reported by open.
    static void loadDriver(const ArchiveLocation& location);
    // A copy's target: a connection of its own with nothing created or
    // checked (SQLite: the file is made). The copy makes the schema itself,
    // inside its one transaction.
    static Expected<std::shared_ptr<Archive>> openBare(const ArchiveLocation& location);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    const ArchiveLocation& location() const { return location_; }
    int schemaVersion() const { return version_; }
    // An archive of a newer schema, or one that may not be written, is only
    // read; this says why, for the user.
    bool readOnly() const { return !readOnlyReason_.isEmpty(); }
    const QString& readOnlyReason() const { return readOnlyReason_; }
    QSqlDatabase database() const;

    // A prepared query with its values bound, executed; on failure the message
    // names the archive, what was being done and the engine's reason.
    Expected<QSqlQuery> run(const QString& sql, std::initializer_list<QVariant> values, const QString& doing) const;
    Expected<QSqlQuery> runList(const QString& sql, const QVariantList& values, const QString& doing) const;
    // PostgreSQL, outside a write: after the connection was lost (a server
    // restart), one new connection; why it could not be had, for the user.
    // run() does this itself; a query of one's own calls it after a failure.
    enum class Reconnect { NotLost, Done, Failed };
    Reconnect reconnect(QString* why) const;
    Status failure(const QString& doing, const QString& reason, ErrorCode code = ErrorCode::ArchiveUnavailable) const;
    // The same with the engine's reason and the kind of failure it is.
    Status failure(const QString& doing, const QSqlError& e) const;

    // One transaction that first takes the writers' lock; rolled back unless committed.
    class Write {
    public:
        explicit Write(Archive& archive);
        ~Write();
        Status begun() const { return begun_; }
        Status commit();

    private:
        Archive& archive_;
        Status begun_ = Status::success();
        bool open_ = false;
    };

    // A plain transaction, for a copy's reads and its target: no writers'
    // lock, no guards checked; a lost connection inside it is a failure.
    // PostgreSQL reads see one snapshot (readOnly: REPEATABLE READ, READ ONLY).
    class Transaction {
    public:
        Transaction(const Archive& archive, bool readOnly);
        ~Transaction();
        Status begun() const { return begun_; }
        Status commit();

    private:
        const Archive& archive_;
        Status begun_ = Status::success();
        bool open_ = false;
    };

    // SQLite: the whole file checked for damage now, whatever is known of it
    // (archive verify). The damage check before a write is skipped while the
    // file is as this program last found it whole or left it.
    Status checkFile() const;

    // What a failure means, in Chinese, followed by the engine's own words.
    static QString reason(const QSqlError& e);
    // The kind of failure: read-only, locked, damaged, or else unavailable.
    static ErrorCode code(const QSqlError& e);
    // The next free id of one of the archive's tables, inside a write (the
    // writers' lock makes it safe on both engines).
    Expected<int> nextId(const QString& table) const;
    // An empty text as a text: a null QString would be stored as NULL.
    static QVariant text(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }

    // "yyyy-MM-dd HH:mm:ss" from either engine's answer.
    static QString timestampText(const QVariant& value);
    static QString now();

private:
    explicit Archive(ArchiveLocation location, QString connection);
    static Expected<std::shared_ptr<Archive>> connect(const ArchiveLocation& location, Access access);
    Status openConnection();
    Status prepareSchema();
    Status checkWritable();
    QString prepareSession() const;   // PostgreSQL; empty, or why not
    void followOwnWrite(bool committed) const;

    ArchiveLocation location_;
    QString connection_;
    int version_ = 0;
    bool creating_ = false;   // the last prepareSchema failed while creating or upgrading
    mutable bool busy_ = false;   // the last failed statement found the file locked by another program
    bool readOnlyFile_ = false;   // SQLite: the file or its folder may not be written
    bool checked_ = false;        // SQLite: found whole by an integrity check
    // SQLite: the file's state while it is as found whole or as this program
    // wrote it since; empty once another program changed it.
    mutable QString knownState_;
    // The end of a Write's or a Transaction's own transaction.
    void rollbackOwn() const;
    Status commitOwn() const;

    mutable int writing_ = 0;     // inside a Write: a lost connection is not silently replaced
    mutable QString lostReason_;  // a reconnection that failed, said once
    QString readOnlyReason_;
};

} // namespace sf6
