#pragma once
// Issuing, amending and approving a certificate, and writing its PDF: one
// path for the certificate windows and sf6cli. What needs the user's word
// comes back as its own code (ErrorCode::P20Unconfirmed,
// ErrorCode::ImportedUnconfirmed) with nothing written: the window asks and
// tries again with the request's accept flag set, sf6cli names its option.

#include "certificate/Certificate.h"
#include "certificate/CertificateActions.h"
#include "certificate/CertificatePages.h"
#include "certificate/Crypto.h"

#include <optional>

namespace sf6::ops {

struct CertificateDone {
    IssuedCertificate certificate;
    // Only when a PDF was asked for: its page count, or why it is not written
    // (the certificate stands all the same and can be printed again).
    std::optional<Expected<int>> pdf;
};

// An empty pdfPath asks for no PDF.
Expected<CertificateDone> issueCertificate(Archive& archive, const CertifyRequest& request, const QString& pdfPath = {});
// The replacement names the old number and the reason; fields the changes
// leave empty are the old certificate's, and a P20 confirmed for it holds.
Expected<CertificateDone> amendCertificate(Archive& archive, const QString& number, const QString& reason,
                                           const CertifyRequest& changes, const QString& pdfPath = {});
// The approver's password opens their key once the lab has one (certificate/People.h);
// the request's testerPassword and checkerPassword do the same for issuing.
Status approveCertificate(Archive& archive, const QString& number, const QString& approver,
                          const QString& password = {});

// The certificate's pages as stored now (approved or replaced shows on them)
// into a PDF; returns the page count. A certificate not found is
// ErrorCode::NotFound, a file not written ErrorCode::OutputNotWritten.
// extras: the verification address for the QR code and the signers to list.
Expected<int> writeCertificatePdf(const Archive& archive, const QString& number, const QString& path,
                                  const CertificatePrintExtras& extras = {});

// Who signs a certificate's PDF and what its pages list. The key and
// certificates are borrowed: an unlocked person's (People.h's UnlockedSigner:
// key, certificate, {labCertificate}).
struct PdfSigning {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    std::vector<X509*> chain;            // the lab certificate, and any between
    QString signerName;
    CertificatePrintExtras extras;       // the signers listed, the verification address
};

// An approved certificate's PDF signed by the approver: the pages as stored
// now with the QR code and the signers, signed over the whole file. Not
// approved, or superseded: ErrorCode::Refused, nothing written (its unsigned
// PDF still says 未批准). Returns the page count.
Expected<int> writeSignedCertificatePdf(const Archive& archive, const QString& number, const QString& path,
                                        const PdfSigning& signing);

// Whether writing this certificate's PDF needs its approver's password: it
// is approved, not superseded, and the archive signs (the lab has a key).
// Then the approver's name, else empty.
Expected<QString> pdfSigner(const Archive& archive, const QString& number);
// The certificate's PDF as the customer gets it, listing the signatures
// made so far: signed by its approver (approverPassword unlocks the key)
// when pdfSigner names one, else unsigned, saying 未批准 or 已替代 on it.
Expected<int> writeIssuedCertificatePdf(const Archive& archive, const QString& number, const QString& path,
                                        const QString& approverPassword = {});

// The three, for the windows (setCertificateActions).
CertificateActions certificateActions();

} // namespace sf6::ops
