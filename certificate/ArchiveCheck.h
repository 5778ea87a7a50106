#pragma once
// What the archive check looks at beyond each certificate's own hash: every
// certificate's columns against its content and the versions it used, every
// version, approval and number against the audit trail, the trail against
// the certificates it names, every record's columns against its bytes and
// its place in a sync, and the engine's guards. Each check names the first
// thing that does not hold, for the user; empty when all hold.

#include "archive/Archive.h"
#include "archive/Audit.h"
#include "certificate/CertificateContent.h"

#include <QHash>
#include <QSet>
#include <QJsonObject>
#include <QSqlQuery>

namespace sf6::check {

// The values the trail records for a version of the lab, a standard or a relay.
QJsonObject labValues(const LabProfile& lab);
QJsonObject standardValues(const ReferenceStandard& standard);
QJsonObject relayValues(const RelayEntry& relay);

// The columns a certificate's row holds besides its content, as the check
// query selects them from this position on.
constexpr int kFirstColumn = 7;
inline const QString kCertificateColumns = QStringLiteral(
    "c.year, c.sequence, c.serial_number, c.relay_version_id, c.standard_version_id, c.lab_version_id, "
    "c.judgement_id, c.as_found_judgement_id, c.verdict, c.tester, c.checker, c.approver, "
    "CAST(c.issued_at AS TEXT), c.issued_by, c.supersedes");
// "证书 N 的「结论」一栏与证书内容不符", or empty.
QString columnsProblem(const QString& number, const QSqlQuery& row, const CertificateContent& content);

// What the trail says, gathered in the one pass that checks its chain.
class Trail {
public:
    void visit(const AuditRow& row);
    // The hash each certificate's issue recorded, by number.
    const QHash<QString, QString>& issued() const { return issued_; }
    // A certificate merged from another archive names that archive's ids in
    // its content; here they become the rows the merge placed them in.
    void placeMerged(const QString& number, CertificateContent& content) const;

private:
    friend class Checks;
    struct Approval {
        QString approver, at;
        int row = 0;
    };
    QHash<QString, QString> issued_;
    QHash<QString, int> issuedRow_;
    QHash<QString, Approval> approvals_;
    QHash<QString, QJsonObject> versions_;   // "lab 3", "standard S 2", "relay R 1"
    QHash<int, QString> imports_;            // sync id -> file SHA-256
    QString firstAt_;                        // when the trail began
    // Merged archives' trails: where each certificate's rows were placed,
    // and the carried rows' own chain, which must hold as in its archive.
    QHash<QString, QJsonObject> placed_;
    QString carriedLast_;          // null before the block's first row
    int carriedRows_ = 0;
    QSet<QString> carriedSeen_;    // a later merge of the same file carries on from one of these
    QString mergedProblem_;
    void visitMerged(const AuditRow& row);
};

// The checks that need the archive, after the chain and the certificates' hashes.
class Checks {
public:
    Checks(const Archive& archive, const Trail& trail) : archive_(archive), trail_(trail) {}
    // The versions a certificate used exist and say what its content says.
    Expected<QString> versionsProblem(const QString& number, const CertificateContent& content);
    // Approvals, numbers, versions and pointers, records, guards: in that order.
    Expected<QString> rest();

private:
    Status loadVersions();
    Expected<QString> mergedProblem();
    Expected<QString> approvalsProblem();
    Expected<QString> numbersProblem();
    Expected<QString> versionsAgainstTrail();
    Expected<QString> recordsProblem();
    Expected<QString> guardsProblem();

    const Archive& archive_;
    const Trail& trail_;
    bool loaded_ = false;
    QHash<int, QJsonObject> labs_, standards_, relays_;   // by version id, as the trail records them
    QHash<int, QString> relaySerials_;
    int relaysBeforeTrail_ = 0;
};

} // namespace sf6::check
