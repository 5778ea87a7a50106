#pragma once
// The lab's and the people's signing keys: EC P-256 keys signing with
// SHA-256, X.509 certificates (the lab's self-signed, the root; each
// person's issued by it), private keys kept only as PKCS#8 encrypted under a
// password (PBES2, scrypt, AES-256-CBC). A key in clear never leaves memory.

#include "base/Status.h"
#include "certificate/Crypto.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sf6::keys {

// scrypt's cost: about 16 MiB and some tens of milliseconds per unlock, so
// that guessing a password from a copied archive is slow while a signer waits
// little.
constexpr uint64_t kScryptN = 1u << 14;
constexpr uint64_t kScryptR = 8;
constexpr uint64_t kScryptP = 1;
// Certificates the program issues hold for this long; a signature is checked
// against the certificate in force when it was made, not against today.
constexpr int kCertificateYears = 30;

// Key and certificate files are a few kilobytes; a file chosen by mistake (a
// video, a disk image) is not read whole.
constexpr qint64 kMaxKeyFileBytes = qint64(1) << 20;

// A new EC P-256 key pair.
Expected<crypto::PKey> newKey();

// The key as an encrypted PKCS#8 PEM text; an empty password is refused.
Expected<QByteArray> lockKey(EVP_PKEY* key, const QString& password);
// The key back; a wrong password is ErrorCode::WrongPassword (who names the
// key's owner in the sentence).
Expected<crypto::PKey> unlockKey(const QByteArray& lockedPem, const QString& password, const QString& who);

// The lab's root: self-signed, a CA that signs the people's certificates.
Expected<crypto::Cert> labCertificate(EVP_PKEY* labKey, const QString& labName);
// A person's certificate for their public key: CN the name, OU the roles.
Expected<crypto::Cert> personCertificate(EVP_PKEY* personKey, const QString& name, const QStringList& roles,
                                         EVP_PKEY* labKey, X509* labCert);

QByteArray certificatePem(X509* cert);
QByteArray certificateDer(X509* cert);
// PEM or DER.
Expected<crypto::Cert> readCertificate(const QByteArray& bytes);
// SHA-256 of the certificate's DER, lower-case hex.
QString fingerprint(X509* cert);
// The subject's entries of one kind (NID_commonName, NID_organizationalUnitName), in order.
QStringList subjectEntries(X509* cert, int nid);
// Whether issuer's key signed cert and cert names issuer as its issuer.
bool issuedBy(X509* cert, X509* issuer);
// Whether the key is the private half of the certificate's.
bool keyMatches(EVP_PKEY* key, X509* cert);

// A DER signature (SHA-256) over the bytes.
Expected<QByteArray> sign(EVP_PKEY* key, const QByteArray& data);
bool verify(X509* cert, const QByteArray& data, const QByteArray& signature);

// A .pfx/.p12 the lab already has: its key and certificate.
struct Imported {
    crypto::PKey key;
    crypto::Cert certificate;
};
// A wrong password is ErrorCode::WrongPassword; RC2 and 40-bit exports are read too.
Expected<Imported> readPkcs12(const QByteArray& bytes, const QString& password);
// Whether an imported lab certificate can be the people's root: a CA allowed
// to sign certificates, valid today.
Status canCertifyPeople(X509* cert);

// The last OpenSSL error, for a sentence.
QString opensslReason();

} // namespace sf6::keys
