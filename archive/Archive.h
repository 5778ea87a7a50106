#pragma once
// An open archive: one database connection, its schema made current (or
// left alone and read-only when a newer program wrote it). Every failure
// comes back as a message naming the archive and the reason; nothing already
// stored is ever overwritten.

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
    static Expected<std::unique_ptr<Archive>> open(const ArchiveLocation& location);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    const ArchiveLocation& location() const { return location_; }
    int schemaVersion() const { return version_; }
    // An archive of a newer schema is only read; this says why, for the user.
    bool readOnly() const { return !readOnlyReason_.isEmpty(); }
    const QString& readOnlyReason() const { return readOnlyReason_; }
    QSqlDatabase database() const;

    // A prepared query with its values bound, executed; on failure the message
    // names the archive, what was being done and the engine's reason.
    Expected<QSqlQuery> run(const QString& sql, std::initializer_list<QVariant> values, const QString& doing) const;
    Status failure(const QString& doing, const QString& reason) const;

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

    // The engine's own words for a failure.
    static QString reason(const QSqlError& e);
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
    Status prepareSchema();

    ArchiveLocation location_;
    QString connection_;
    int version_ = 0;
    bool creating_ = false;   // the last prepareSchema failed while creating or upgrading
    mutable bool busy_ = false;   // the last failed statement found the file locked by another program
    QString readOnlyReason_;
};

} // namespace sf6
