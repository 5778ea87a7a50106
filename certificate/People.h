#pragma once
// The lab's signing key and the people who sign certificates. The lab key,
// locked under the lab's password, issues each person's certificate (name
// and roles); each person's key is locked under their own password. Every
// change is a new version with its audit row; no one is ever deleted, and
// every version's certificate stays, so that old signatures keep their
// certificate after a new key. Signatures of certificates are rows of their
// own, each over the certificate's number and content hash, the role, the
// person and their certificate, the time and the newest audit row's hash.

#include "archive/Archive.h"
#include "certificate/CertificatePages.h"
#include "certificate/Crypto.h"

#include <QJsonObject>
#include <QStringList>

#include <optional>
#include <vector>

namespace sf6 {

namespace roles {
inline const QString kTester = QStringLiteral("校验员");
inline const QString kChecker = QStringLiteral("核验员");
inline const QString kApprover = QStringLiteral("批准人");
const QStringList& all();
} // namespace roles

// The name the lab's own password goes by (a --passwords file's line).
inline const QString kLabPasswordName = QStringLiteral("实验室");

struct LabKey {
    int id = 0, version = 0;
    QString changedAt, fingerprint;
    QByteArray certificatePem, lockedKey;
};
// The newest lab key, none before one is made or imported.
Expected<std::optional<LabKey>> currentLabKey(const Archive& archive);
// Made here, or taken from a .pfx/.p12 (its password pfxPassword); either way
// kept locked under labPassword. A lab that has a key is refused (NoLabKey).
Expected<LabKey> createLabKey(Archive& archive, const QString& labPassword);
Expected<LabKey> importLabKey(Archive& archive, const QByteArray& pfx, const QString& pfxPassword,
                              const QString& labPassword);

struct PersonVersion {
    int id = 0, version = 0;
    QString name, changedAt;
    QStringList roles;
    bool retired = false;
    QString fingerprint;
    QByteArray certificatePem, lockedKey;
    int labKeyId = 0;
};

// What a save asks for. A new person needs roles and both passwords;
// changing roles or retiring needs the lab's; newKey (a forgotten password)
// needs the lab's and the person's new one.
struct PersonChange {
    QString name;
    std::optional<QStringList> roles;
    bool retire = false;
    bool newKey = false;
    QString labPassword, personPassword;
};
Expected<PersonVersion> savePerson(Archive& archive, const PersonChange& change);
// A version's values as the audit trail records them.
QJsonObject personValues(const PersonVersion& p);
// The person's own key locked under a new password: no lab password needed.
Expected<PersonVersion> changePassword(Archive& archive, const QString& name, const QString& oldPassword,
                                       const QString& newPassword);
// Each person's newest version, by name.
Expected<std::vector<PersonVersion>> listPeople(const Archive& archive);
Expected<std::optional<PersonVersion>> findPerson(const Archive& archive, const QString& name);

// A person's key opened for signing, with their certificate and the lab's.
struct UnlockedSigner {
    crypto::PKey key;
    crypto::Cert certificate;
    crypto::Cert labCertificate;
    QString name;
    QString role;          // empty until a signature's role is chosen (unlockSigner sets it)
    QString fingerprint;   // of certificate
    int personVersionId = 0;
};
Expected<UnlockedSigner> unlockPerson(const Archive& archive, const QString& name, const QString& password);
// The same, refused unless the person holds the role and is not retired.
Expected<UnlockedSigner> unlockSigner(const Archive& archive, const QString& name, const QString& password,
                                      const QString& role);

// Whether certificates are signed in this archive: once the lab has a key.
Expected<bool> signaturesRequired(const Archive& archive);

// The text a signature is made over (compact JSON array, UTF-8).
QByteArray signatureText(const QString& number, const QString& contentSha256, const QString& role,
                         const QString& person, const QString& fingerprint, const QString& signedAt,
                         const QString& auditHash);
// Inside the caller's write: signs the certificate as the signer's role at
// time at, over the newest audit row now.
Status addSignature(const Archive& archive, int certificateId, const QString& number, const QString& contentSha256,
                    const UnlockedSigner& signer, const QString& at);

struct SignatureRow {
    int id = 0, certificateId = 0, personVersionId = 0, auditId = 0;
    QString role, person, signedAt, fingerprint, contentSha256, auditHash;
    QByteArray signature;   // DER
};
Expected<std::vector<SignatureRow>> signaturesOf(const Archive& archive, int certificateId);

// What a certificate's pages carry besides its content, for the PDF and the
// preview alike: its signers so far, and the lab's verification address as
// it stands now (a certificate printed again points where customers check today).
Expected<CertificatePrintExtras> certificatePrintExtras(const Archive& archive, int certificateId);

} // namespace sf6
