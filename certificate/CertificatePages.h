#pragma once
// The pages of a certificate: the record's report page as it always was, with
// the number above the frame, the conclusion below it and "第k页 共n页"; the
// judgement page(s); the as-found record's pages when there is one; and a
// last page with the basis, the standard, the conditions, the decision rule,
// the signers, the verification code and the end mark "以下空白".
// Every page carries the number, a QR code top right and, until approved, "未批准".

#include "certificate/CertificateContent.h"
#include "report/ReportPage.h"

#include <vector>

namespace sf6 {

inline const QString kEndMark = QStringLiteral("以下空白");

// A signature made on the certificate, as the last page lists it.
struct SignerLine {
    QString role, person, time;   // 校验员/核验员/批准人, the name, yyyy-MM-dd HH:mm:ss
    QString fingerprint;          // SHA-256 of the person's certificate, hex
};

// What a signed certificate's pages carry besides its content.
struct CertificatePrintExtras {
    QString verificationAddress;      // where a customer checks a certificate; empty: none
    std::vector<SignerLine> signers;  // empty: no signatures listed
};

inline const QString kQrCodeName = QStringLiteral("QRCCode");
// The QR code's text: the number, the verification code and, when there is
// one, the address, a line each.
QString certificateQrText(const CertificateContent& content, const QString& verificationAddress = {});

std::vector<ReportPage> certificatePages(const CertificateContent& content, const CertificateState& state,
                                         const CertificatePrintExtras& extras = {});

} // namespace sf6
