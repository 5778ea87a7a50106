#include "ops/Certificates.h"

#include "certificate/CertificatePages.h"
#include "report/ReportRenderer.h"

namespace sf6::ops {

namespace {
Expected<CertificateDone> done(Expected<IssuedCertificate> issued, const Archive& archive, const QString& pdfPath)
{
    if (!issued)
        return issued.status();
    CertificateDone d{std::move(*issued), std::nullopt};
    if (!pdfPath.isEmpty())
        d.pdf = writeCertificatePdf(archive, d.certificate.content.number, pdfPath);
    return d;
}
} // namespace

Expected<CertificateDone> issueCertificate(Archive& archive, const CertifyRequest& request, const QString& pdfPath)
{
    return done(certify(archive, request), archive, pdfPath);
}

Expected<CertificateDone> amendCertificate(Archive& archive, const QString& number, const QString& reason,
                                           const CertifyRequest& changes, const QString& pdfPath)
{
    return done(amend(archive, number.trimmed(), reason, changes), archive, pdfPath);
}

Status approveCertificate(Archive& archive, const QString& number, const QString& approver, const QString& password)
{
    return approve(archive, number.trimmed(), approver.trimmed(), password);
}

Expected<int> writeCertificatePdf(const Archive& archive, const QString& number, const QString& path)
{
    auto stored = findCertificate(archive, number);
    if (!stored)
        return stored.status();
    if (!*stored)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("存档中没有编号为 %1 的证书").arg(number));
    const std::vector<ReportPage> pages = certificatePages((*stored)->content, (*stored)->state);
    if (const Status s = writeReportPdf(pages, path); !s)
        return Status::failure(ErrorCode::OutputNotWritten, s.message());
    return int(pages.size());
}

CertificateActions certificateActions()
{
    CertificateActions a;
    a.issue = [](Archive& archive, const CertifyRequest& rq) -> Expected<IssuedCertificate> {
        auto d = issueCertificate(archive, rq);
        if (!d)
            return d.status();
        return d->certificate;
    };
    a.amend = [](Archive& archive, const QString& number, const QString& reason,
                 const CertifyRequest& changes) -> Expected<IssuedCertificate> {
        auto d = amendCertificate(archive, number, reason, changes);
        if (!d)
            return d.status();
        return d->certificate;
    };
    a.approve = [](Archive& archive, const QString& number, const QString& approver, const QString& password) {
        return approveCertificate(archive, number, approver, password);
    };
    return a;
}

} // namespace sf6::ops
