#pragma once
// What the certificate windows do on 确定 (issue or amend) and 批准. The
// windows sit below the operations layer, so the program hands them its
// functions once at start (TForm1); a window used before that is a
// programming error.

#include "certificate/Certificate.h"

#include <functional>

namespace sf6 {

struct CertificateActions {
    std::function<Expected<IssuedCertificate>(Archive&, const CertifyRequest&)> issue;
    std::function<Expected<IssuedCertificate>(Archive&, const QString& number, const QString& reason,
                                              const CertifyRequest& changes)> amend;
    std::function<Status(Archive&, const QString& number, const QString& approver, const QString& password)> approve;
    // Who must sign the certificate's PDF (empty: nobody), and writing it:
    // signed with that person's password, unsigned when nobody signs.
    std::function<Expected<QString>(const Archive&, const QString& number)> pdfSigner;
    std::function<Expected<int>(const Archive&, const QString& number, const QString& path, const QString& password)> writePdf;
};

void setCertificateActions(CertificateActions actions);
const CertificateActions& certificateActions();

} // namespace sf6
