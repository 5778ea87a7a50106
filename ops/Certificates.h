#pragma once
// Issuing, amending and approving a certificate, and writing its PDF: one
// path for the certificate windows and sf6cli. What needs the user's word
// comes back as its own code (ErrorCode::P20Unconfirmed,
// ErrorCode::ImportedUnconfirmed) with nothing written: the window asks and
// tries again with the request's accept flag set, sf6cli names its option.

#include "certificate/Certificate.h"
#include "certificate/CertificateActions.h"

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
Expected<int> writeCertificatePdf(const Archive& archive, const QString& number, const QString& path);

// The three, for the windows (setCertificateActions).
CertificateActions certificateActions();

} // namespace sf6::ops
