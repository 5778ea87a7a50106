#include "ops/Certificates.h"

#include "certificate/CertificatePages.h"
#include "base/Clock.h"
#include "base/SafeSave.h"
#include "certificate/PdfSignature.h"
#include "certificate/People.h"
#include "report/ReportRenderer.h"

namespace sf6::ops {

namespace {
Expected<CertificateDone> done(Expected<IssuedCertificate> issued, const Archive& archive, const QString& pdfPath)
{
    if (!issued)
        return issued.status();
    CertificateDone d{std::move(*issued), std::nullopt};
    if (!pdfPath.isEmpty())
        d.pdf = writeIssuedCertificatePdf(archive, d.certificate.content.number, pdfPath);
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

Expected<int> writeCertificatePdf(const Archive& archive, const QString& number, const QString& path,
                                  const CertificatePrintExtras& extras)
{
    auto stored = findCertificate(archive, number);
    if (!stored)
        return stored.status();
    if (!*stored)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("存档中没有编号为 %1 的证书").arg(number));
    const std::vector<ReportPage> pages = certificatePages((*stored)->content, (*stored)->state, extras);
    if (const Status s = writeReportPdf(pages, path); !s)
        return Status::failure(ErrorCode::OutputNotWritten, s.message());
    return int(pages.size());
}

Expected<int> writeSignedCertificatePdf(const Archive& archive, const QString& number, const QString& path,
                                        const PdfSigning& signing)
{
    auto stored = findCertificate(archive, number);
    if (!stored)
        return stored.status();
    if (!*stored)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("存档中没有编号为 %1 的证书").arg(number));
    const StoredCertificate& c = **stored;
    if (c.state.approvedAt.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("证书 %1 未批准，不能签名").arg(number));
    if (!c.state.supersededBy.isEmpty())
        return Status::failure(ErrorCode::Refused,
                               QStringLiteral("证书 %1 已被 %2 替代，不再签名").arg(number, c.state.supersededBy));
    if (signing.signerName != c.state.approvedBy)
        return Status::failure(ErrorCode::Refused, QStringLiteral("证书 %1 由 %2 批准，应由其本人签名")
                                                       .arg(number, c.state.approvedBy));
    const std::vector<ReportPage> pages = certificatePages(c.content, c.state, signing.extras);
    auto plain = reportPdfBytes(pages);
    if (!plain)
        return plain.status();
    auto signedPdf = signPdf(*plain, signing.key, signing.certificate, signing.chain,
                             {signing.signerName, std::chrono::system_clock::time_point(std::chrono::milliseconds(Clock::now().toMSecsSinceEpoch())),
                              QStringLiteral("批准"),
                              c.content.number, contentSha256(c.content)});
    if (!signedPdf)
        return signedPdf.status();
    if (const Status s = saveFile(path, *signedPdf); !s)
        return Status::failure(ErrorCode::OutputNotWritten, s.message());
    return int(pages.size());
}

namespace {
Expected<StoredCertificate> storedCertificate(const Archive& archive, const QString& number)
{
    auto stored = findCertificate(archive, number);
    if (!stored)
        return stored.status();
    if (!*stored)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("存档中没有编号为 %1 的证书").arg(number));
    return **stored;
}

Expected<QString> signerOf(const Archive& archive, const StoredCertificate& c)
{
    if (c.state.approvedAt.isEmpty() || !c.state.supersededBy.isEmpty())
        return QString();
    auto signing = signaturesRequired(archive);
    if (!signing)
        return signing.status();
    return *signing ? c.state.approvedBy : QString();
}
} // namespace

Expected<QString> pdfSigner(const Archive& archive, const QString& number)
{
    auto c = storedCertificate(archive, number);
    if (!c)
        return c.status();
    return signerOf(archive, *c);
}

Expected<int> writeIssuedCertificatePdf(const Archive& archive, const QString& number, const QString& path,
                                        const QString& approverPassword)
{
    auto c = storedCertificate(archive, number);
    if (!c)
        return c.status();
    auto extras = certificatePrintExtras(archive, c->id);
    if (!extras)
        return extras.status();
    auto signer = signerOf(archive, *c);
    if (!signer)
        return signer.status();
    if (signer->isEmpty())
        return writeCertificatePdf(archive, number, path, *extras);
    // The approver may have retired since: the key that approved still signs.
    auto unlocked = unlockPerson(archive, *signer, approverPassword);
    if (!unlocked)
        return unlocked.status();
    return writeSignedCertificatePdf(archive, number, path,
                                     {unlocked->key.get(), unlocked->certificate.get(), {unlocked->labCertificate.get()},
                                      unlocked->name, *extras});
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
    a.pdfSigner = pdfSigner;
    a.writePdf = [](const Archive& archive, const QString& number, const QString& path, const QString& password) {
        return writeIssuedCertificatePdf(archive, number, path, password);
    };
    return a;
}

} // namespace sf6::ops
