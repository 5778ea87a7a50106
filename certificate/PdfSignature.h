#pragma once
// A signed certificate PDF: one CMS (CAdES detached) signature added to the
// PDF the program writes, by an incremental update, and the check of such a
// file. The writer reads only as much of the PDF as the update needs and
// refuses a file it does not recognise rather than write a broken one.

#include "base/Status.h"
#include "certificate/Crypto.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <vector>

namespace sf6 {

// What the signature dictionary says besides the signature itself; all of it
// lies inside the signed bytes.
struct PdfSignatureDetails {
    QString signerName;                           // /Name
    std::chrono::system_clock::time_point time;   // /M and the CMS signing time
    QString reason;                               // /Reason; empty: none
    QString certificateNumber;                    // /CertificateNumber
    QString contentSha256;                        // /ContentSha256: the certificate content's hash (hex)
};

// The PDF with a signature field on page 1 (invisible), an AcroForm with
// SigFlags 3 and a /Sig dictionary whose /ByteRange covers the whole file but
// the /Contents hex string, signed by key/certificate with the chain (the lab
// certificate, and any between) placed in the CMS. A file that already has a
// form, an update, or no classic xref table is refused (ErrorCode::Refused).
Expected<QByteArray> signPdf(const QByteArray& pdf, EVP_PKEY* key, X509* certificate,
                             const std::vector<X509*>& chain, const PdfSignatureDetails& details);

enum class PdfFinding {
    Genuine,         // signature valid, whole file covered, chain to the lab certificate
    NotSigned,       // no signature in the file
    Altered,         // a byte changed, bytes added, or the signature does not cover the whole file
    UnknownSigner,   // the signer's certificate does not chain to the lab certificate
    // What only the archive can tell (ops::checkCertificatePdf):
    NotInArchive,    // no certificate of that number, or not approved there
    Superseded,      // replaced by an amendment
};

struct PdfCheck {
    PdfFinding finding = PdfFinding::NotSigned;
    QString sentence;                   // what was found, in Chinese, for the user
    bool chainCheckedOutside = false;   // the lab certificate came from outside the file
    crypto::Cert signer;                // the signer's certificate, when the CMS could be read
    QString signerName;                 // the certificate's common name
    QString signerFingerprint;          // SHA-256 of the certificate's DER, hex
    QString signingTime;                // yyyy-MM-dd HH:mm:ss UTC
    QString certificateNumber, contentSha256;   // as the signature dictionary says
    bool genuine() const { return finding == PdfFinding::Genuine; }
};

// trusted: the lab certificate kept outside the archive; null: the one the
// file carries is used, and the sentence says the chain was not checked
// against an outside copy.
PdfCheck checkPdf(const QByteArray& pdf, X509* trusted = nullptr);

// SHA-256 of a certificate's DER, lower-case hex: the fingerprint printed
// on the last page and reported by checkPdf.
QString certificateFingerprint(X509* certificate);

} // namespace sf6
