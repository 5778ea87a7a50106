#include "ops/PdfCheck.h"

#include "certificate/Certificate.h"
#include "certificate/Keys.h"
#include "certificate/People.h"

#include <QFile>

namespace sf6::ops {

namespace {

// Far above any certificate's PDF; a larger file is not read into memory.
constexpr qint64 kLargestPdf = 64LL << 20;

// Sets the finding the archive gives, keeping what the file showed.
void archiveFinding(PdfCheck& check, PdfFinding finding, const QString& sentence)
{
    check.finding = finding;
    check.sentence = sentence;
}

Status compareWithArchive(PdfCheck& check, const Archive& archive)
{
    if (check.certificateNumber.isEmpty()) {
        archiveFinding(check, PdfFinding::NotInArchive, QStringLiteral("签名中没有证书编号，无法与存档核对"));
        return Status::success();
    }
    auto stored = findCertificate(archive, check.certificateNumber);
    if (!stored)
        return stored.status();
    if (!*stored) {
        archiveFinding(check, PdfFinding::NotInArchive,
                       QStringLiteral("存档中没有编号为 %1 的证书").arg(check.certificateNumber));
        return Status::success();
    }
    const StoredCertificate& c = **stored;
    const QString recomputed = contentSha256(c.content);
    if (recomputed != c.sha256)
        archiveFinding(check, PdfFinding::Altered,
                       QStringLiteral("存档中的证书 %1 已被改动：内容与其校验值不符").arg(check.certificateNumber));
    else if (check.contentSha256.compare(recomputed, Qt::CaseInsensitive) != 0)
        archiveFinding(check, PdfFinding::Altered,
                       QStringLiteral("PDF中的证书 %1 与存档中的内容不同").arg(check.certificateNumber));
    else if (!c.state.supersededBy.isEmpty())
        archiveFinding(check, PdfFinding::Superseded,
                       QStringLiteral("证书 %1 已被 %2 替代").arg(check.certificateNumber, c.state.supersededBy));
    else if (c.state.approvedAt.isEmpty())
        archiveFinding(check, PdfFinding::NotInArchive,
                       QStringLiteral("存档中的证书 %1 尚未批准").arg(check.certificateNumber));
    else
        check.sentence += QStringLiteral("；与存档中的证书内容一致，未被替代");
    return Status::success();
}

} // namespace

Expected<crypto::Cert> readCertificateFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Status::failure(ErrorCode::NotFound, QStringLiteral("无法读取实验室证书文件 %1：%2").arg(path, f.errorString()));
    auto cert = keys::readCertificate(f.read(keys::kMaxKeyFileBytes));
    if (!cert)
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("%1 不是证书文件（PEM 或 DER）").arg(path));
    return cert;
}

Expected<PdfCheck> checkCertificatePdf(const QString& file, const QString& trustFile, const Archive* archive)
{
    crypto::Cert trusted;
    bool fromArchive = false;
    if (!trustFile.isEmpty()) {
        auto read = readCertificateFile(trustFile);
        if (!read)
            return read.status();
        trusted = std::move(*read);
    } else if (archive) {
        // Else a file signed under a lab certificate of its own making would pass.
        auto lab = currentLabKey(*archive);
        if (!lab)
            return lab.status();
        if (*lab) {
            auto read = keys::readCertificate((*lab)->certificatePem);
            if (!read)
                return Status::failure(ErrorCode::Altered, QStringLiteral("存档中的实验室证书无法读取"));
            trusted = std::move(*read);
            fromArchive = true;
        }
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return Status::failure(ErrorCode::NotFound, QStringLiteral("无法读取 %1：%2").arg(file, f.errorString()));
    if (f.size() > kLargestPdf)
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("%1 太大，不是本程序的证书PDF").arg(file));
    PdfCheck check = checkPdf(f.read(kLargestPdf), trusted.get());
    if (fromArchive && check.genuine())
        check.sentence += QStringLiteral("；实验室证书取自存档，未与存档外保存的副本核对");
    if (archive && check.genuine())
        if (const Status s = compareWithArchive(check, *archive); !s)
            return s;
    return check;
}

QString pdfCheckReport(const PdfCheck& check)
{
    QString out = check.sentence + u'\n';
    if (check.signer) {
        out += QStringLiteral("签名人：%1\n").arg(check.signerName);
        out += QStringLiteral("签名人证书指纹（SHA-256）：%1\n").arg(check.signerFingerprint);
        if (!check.signingTime.isEmpty())
            out += QStringLiteral("签名时间：%1（UTC）\n").arg(check.signingTime);
    }
    if (!check.certificateNumber.isEmpty())
        out += QStringLiteral("证书编号：%1\n").arg(check.certificateNumber);
    return out;
}

} // namespace sf6::ops
