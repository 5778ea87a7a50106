#pragma once
// 核对证书PDF: what a customer's file shows, alone or against the archive.
// One path for 工具 → 核对证书PDF… and sf6cli verify-pdf.

#include "archive/Archive.h"
#include "certificate/PdfSignature.h"

namespace sf6::ops {

// The file's signature, its chain to the lab certificate in trustFile (PEM or
// DER; empty: the archive's, or without an archive the one the file carries), and with an archive that the
// certificate is stored there with the same content, approved and not
// superseded. A file or trust file that cannot be read is a failure
// (ErrorCode::NotFound, ErrorCode::InvalidValue), a finding is not: it is in
// the result's finding and sentence.
Expected<PdfCheck> checkCertificatePdf(const QString& file, const QString& trustFile, const Archive* archive);

// The result as lines for the user: the finding's sentence, then the signer,
// the certificate's fingerprint, the signing time and the certificate number.
QString pdfCheckReport(const PdfCheck& check);

// A lab certificate from a file, PEM or DER.
Expected<crypto::Cert> readCertificateFile(const QString& path);

} // namespace sf6::ops
