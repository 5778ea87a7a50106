#pragma once
// Certificates issued from the archive: the lab profile and the reference
// standards (each change a new version), issuing with the next number of the
// year, approval, amendment as a new certificate naming the old, reprints of
// exactly what was issued, and the check of every certificate's hash and of
// the audit chain. One procedure for the windows and sf6cli alike; every
// change is appended to the audit trail in the same transaction.

#include "archive/Archive.h"
#include "certificate/CertificateContent.h"

#include <QDate>

#include <functional>
#include <optional>
#include <vector>

namespace sf6 {

// The lab profile: the current version, none before the first save.
Expected<std::optional<LabProfile>> currentLab(const Archive& archive);
// A field not given keeps its value; the prefix defaults to "SF6".
struct LabTexts {
    std::optional<QString> name, address, phone, accreditation, prefix;
    std::optional<QString> decisionRule;   // "simple" or "guard-band"
    std::optional<QString> verificationAddress;
};
Expected<LabProfile> saveLab(Archive& archive, const LabTexts& texts);

struct StandardTexts {
    std::optional<QString> name, model, certificate, issuer, validUntil, uncertainty;
    // U in MPa (empty: none) and its coverage factor k (empty: 2).
    std::optional<QString> expandedUncertainty, coverageFactor;
};
// Creates the standard or its next version; a valid-until that is not a
// yyyy-mm-dd date is refused by name.
Expected<ReferenceStandard> saveStandard(Archive& archive, const QString& serial, const StandardTexts& texts);
Expected<std::optional<ReferenceStandard>> findStandard(const Archive& archive, const QString& serial);
Expected<std::vector<ReferenceStandard>> listStandards(const Archive& archive);   // current versions, by serial

// What the user asks for when issuing.
struct CertifyRequest {
    int recordId = 0;
    QString standardSerial;
    QString tester, checker, approver, humidity;
    // Once the lab has a signing key, the tester and the checker sign the
    // certificate with their keys, which these open (certificate/People.h).
    QString testerPassword, checkerPassword;
    std::optional<int> asFoundRecordId;
    QString supersedes, amendReason;   // set by amend
    // Issue although the record's P20 disagrees with the SF6 equation; without
    // it such a record is refused with ErrorCode::P20Unconfirmed.
    bool acceptP20 = false;
    // A record whose data came from an imported file, not from the
    // instrument, is certified only when the user confirmed it (else
    // ErrorCode::ImportedUnconfirmed).
    bool acceptImported = false;
};

struct IssuedCertificate {
    int id = 0;
    CertificateContent content;
    QString sha256;
};
// Issues a certificate, or refuses with a message that names what is missing
// (no lab name, record not linked, test dated after today, standard expired
// or unknown, checker or approver the same person as another signer however
// the name is typed, invisible characters, humidity not 0 to 100, as-found
// record wrong, the clock set back); a refusal consumes no number.
Expected<IssuedCertificate> certify(Archive& archive, const CertifyRequest& request);
// Why a record's certificate needs the user's confirmation (acceptP20): its
// P20 disagrees with the SF6 equation. Empty when it does not.
Expected<QString> p20ConfirmationNeeded(const Archive& archive, int recordId);
// "标准器 S 的证书已于 yyyy-mm-dd 过期，不能出具证书"
QString standardExpiredText(const QString& serial, const QString& validUntil);
// The time a certificate is issued at ("yyyy-MM-dd HH:mm:ss"), which gives its
// year: the archive's now unless a test sets another; an empty one restores it.
// "记录 N 的数据来自导入的文件 F，…": what asks for CertifyRequest::acceptImported.
QString importedRecordText(int recordId, const QString& file);
// "标准器 S 的证书（有效期至 yyyy-mm-dd）在测试日期 yyyy-mm-dd 之前已过期，不能出具证书"
QString standardExpiredText(const QString& serial, const QString& validUntil, const QString& testDate);
// The time a certificate is issued or approved at ("yyyy-MM-dd HH:mm:ss"),
// which gives its year: the PC's now on SQLite, the server's on PostgreSQL,
// unless a test sets another (on SQLite only: a server's writers take the
// server's time); an empty one restores it. A time before the
// newest issue or approval in the archive is refused (a clock set back).
void setCertificateClock(std::function<QString()> now);

// Records who approved and when; a second approval, a superseded certificate
// and an approver who tested or checked it are refused. Once the lab has a
// signing key the approver signs with the key the password opens.
Status approve(Archive& archive, const QString& number, const QString& approver, const QString& password = {});
// A new certificate with a new number that replaces the old; unset fields are the old one's.
Expected<IssuedCertificate> amend(Archive& archive, const QString& number, const QString& reason,
                                  const CertifyRequest& changes);

struct CertificateListing {
    int id = 0;
    QString number;
    int recordId = 0;
    std::optional<int> asFoundRecordId;
    QString relaySerial, verdict, issuedAt, tester, checker, approver, approvedAt;
    CertificateState state;
};
Expected<std::vector<CertificateListing>> listCertificates(const Archive& archive);

struct StoredCertificate {
    int id = 0;
    CertificateContent content;
    QString sha256;
    CertificateState state;
};
Expected<std::optional<StoredCertificate>> findCertificate(const Archive& archive, const QString& number);

// The whole archive checked: the audit chain and every certificate's hash
// (recomputed from its stored content and its records' raw bytes as they are
// now). "存档完整：N条审计记录，M份证书" when all hold.
// Once the lab has a key, the signatures too (certificate/SignatureCheck.h):
// every finding is named, one a line.
struct ArchiveVerification {
    int auditRows = 0, certificates = 0, signatures = 0;
    QString firstProblem;   // empty when all hold; else names the row or certificate
    // Whether the archive has a lab key, and whether it matched the trusted copy.
    bool labKey = false, labTrusted = false;
    bool intact() const { return firstProblem.isEmpty(); }
    QString summary() const;
};
// trustedLabCertificate: the lab certificate's bytes from outside the archive (--trust).
Expected<ArchiveVerification> verifyArchive(const Archive& archive,
                                            const std::optional<QByteArray>& trustedLabCertificate = std::nullopt);
// One certificate: its hash recomputed; the verification code printed on it.
struct CertificateVerification {
    QString code;           // as printed on it, XXXX-XXXX-XXXX-XXXX
    QString problem;        // empty when its content, records and signatures hold; else a finding a line
    int signatures = 0;
    bool labKey = false, labTrusted = false;
    // The code; when all holds and the lab has a key, its signatures and whether the lab's certificate was checked.
    QString summary() const;
};
Expected<CertificateVerification> verifyCertificate(const Archive& archive, const QString& number,
                                                    const std::optional<QByteArray>& trustedLabCertificate = std::nullopt);

} // namespace sf6
