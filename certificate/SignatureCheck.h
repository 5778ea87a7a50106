#pragma once
// What verify proves of the signatures: each against its person's
// certificate, each person's certificate against the lab's, each signature's
// audit hash against the chain, each certificate's hash against its
// signatures, and that every certificate issued or approved since the lab
// has a key carries the signatures it needs. With a trusted copy of the lab
// certificate from outside the archive, a key replaced inside it is found too.

#include "archive/Archive.h"
#include "archive/Audit.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <optional>

namespace sf6::check {

// Gathered in the pass that checks the chain (rows that hold only).
struct SignatureTrail {
    void visit(const AuditRow& row);

    QHash<int, QString> hashes;
    bool labKeySeen = false;
    QSet<QString> issuedSigned, approvedSigned;   // numbers that need signatures
    // Merged archives' trails: each carried row's original hash by its
    // original id, whether its chain had a lab key by then (by its hash),
    // and the certificates the merges placed.
    QHash<int, QSet<QString>> carriedHashes;
    QHash<QString, bool> chainKeyed;
    QSet<QString> merged;
    // Whether a certificate's signature names a row of the trail it was signed under.
    bool namesTrailRow(const QString& number, int auditId, const QString& auditHash) const;
};

struct SignatureCheck {
    int signatures = 0;
    bool labKey = false;         // the archive has one
    bool trusted = false;        // the lab certificate matched the outside copy
    QStringList findings;        // each names what does not hold
};
// trusted: the lab certificate's bytes (PEM or DER) from outside, if given.
// onlyNumber: one certificate's signatures; the lab's and the people's
// certificates are checked whole, since every signature rests on them.
Expected<SignatureCheck> checkSignatures(const Archive& archive, const SignatureTrail& trail,
                                         const std::optional<QByteArray>& trusted, const QString& onlyNumber = {});

// "实验室证书未与存档外的副本核对…" when there is a key and no outside copy was given.
QString untrustedLabText();
QString trustedLabText();

} // namespace sf6::check
