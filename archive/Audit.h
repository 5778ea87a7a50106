#pragma once
// The audit trail: every change to the archive appended as one row, chained
// by SHA-256 to the row before, so that a row altered or removed by hand is
// found. Rows are only ever added; the database itself refuses UPDATE and
// DELETE on them (and on records and certificates).

#include "archive/Archive.h"
#include "base/Status.h"

#include <QJsonValue>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace sf6 {

// Actions as the trail names them.
namespace audit {
inline const QString kLabChanged = QStringLiteral("lab");
inline const QString kStandardChanged = QStringLiteral("standard");
inline const QString kRelayChanged = QStringLiteral("relay");
inline const QString kLinked = QStringLiteral("link");
inline const QString kUnlinked = QStringLiteral("unlink");
inline const QString kReportStored = QStringLiteral("report");
inline const QString kImported = QStringLiteral("import");
inline const QString kCertificateIssued = QStringLiteral("certify");
inline const QString kCertificateApproved = QStringLiteral("approve");
inline const QString kCertificateAmended = QStringLiteral("amend");
inline const QString kLabKeyChanged = QStringLiteral("lab-key");
inline const QString kPersonChanged = QStringLiteral("person");
// Another archive's row carried in by a merge, its own fields and hash in
// the new values; and the row that closes each merged file.
inline const QString kMergedRow = QStringLiteral("merge-audit");
inline const QString kMerged = QStringLiteral("merge");
} // namespace audit

struct AuditEntry {
    QString action;              // one of audit::k...
    QString object;              // what changed: "relay R1", "record 7", "certificate SF6-2026-0001"
    QJsonValue oldValues;        // null where there was nothing before
    QJsonValue newValues;
    QString reason;              // empty where none was given
};

// Appends the entry inside the caller's open Archive::Write (the writers'
// lock orders the chain on both engines). Time, OS user, host and program are
// filled in here; on a server the login and the server's time, by its writer.
// A shared server's archive of version 8 on: the trail, certificates and
// approvals are written through the owner's functions, which give the user
// (the login) and the time (the server's) themselves.
bool writesThroughServer(const Archive& archive);

Status appendAudit(const Archive& archive, const AuditEntry& entry);
// Several at once, in order, in the same way (a batch of reports).
Status appendAudit(const Archive& archive, const std::vector<AuditEntry>& entries);

// What a trail's first row follows.
inline const QString kNoPreviousHash(64, u'0');

struct AuditRow {
    int id = 0;
    QString at, user, host, program, action, object;
    QString oldValues, newValues;   // compact JSON texts as stored
    QString reason;
    QString previousHash, hash;     // lower-case hex
};

// Every row, oldest first, one at a time (an archive may hold many).
Status forEachAuditRow(const Archive& archive, const std::function<bool(const AuditRow&)>& visit);

// The hash a row must have after the row before it.
QString auditRowHash(const QString& previousHash, const AuditRow& row);

struct AuditCheck {
    int rows = 0;
    std::optional<int> firstAltered;   // the id of the first row whose hash does not hold
    QString why;                       // for the user, when one is altered
};
// The chain from the first row, and its end against the head the archive
// keeps apart (rows cut from the end are found too). Each row that holds is
// also handed to alsoVisit, so that one read serves further checks.
Expected<AuditCheck> verifyAuditChain(const Archive& archive,
                                      const std::function<void(const AuditRow&)>& alsoVisit = {});

} // namespace sf6
