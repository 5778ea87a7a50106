// sf6cli verify-pdf as a customer and the lab run it: exit 0 for a genuine
// file, 7 naming the finding (altered, not signed, unknown signer,
// superseded), 2 for a wrong call.
#include "tests/cli/CliRun.h"
#include "tests/ops/CertificateOps.h"

#include "certificate/PdfSignature.h"
#include "tests/certificate/TestSigners.h"

#include <QFile>

using clitest::CliRun;
using clitest::sf6cli;
using namespace sf6;

namespace {

class CliVerifyPdf : public opstest::CertificateOps {
protected:
    void SetUp() override
    {
        CertificateOps::SetUp();
        auto issued = ops::issueCertificate(*archive, request(synced[0]));
        ASSERT_TRUE(issued.ok()) << issued.error().toStdString();
        number = issued->certificate.content.number;
        ASSERT_TRUE(ops::approveCertificate(*archive, number, QStringLiteral("王五")).ok());
        ASSERT_TRUE(ops::writeSignedCertificatePdf(*archive, number, pdf,
                                                   {lab.personKey.get(), lab.person.get(), {lab.lab.get()},
                                                    QStringLiteral("王五"), {}})
                        .ok());
        write(trust, certtest::pem(lab.lab.get()));
    }
    static void write(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static QByteArray read(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    CliRun verify(const QString& file, const QStringList& more = {}) const
    {
        return sf6cli(QStringList{QStringLiteral("verify-pdf"), file} + more);
    }
    QString archivePath() const { return dir.filePath(QStringLiteral("archive.sqlite")); }

    QString pdf = dir.filePath(QStringLiteral("certificate.pdf"));
    QString trust = dir.filePath(QStringLiteral("lab.crt"));
    QString number;
    certtest::TestLab lab;
};

} // namespace

TEST_F(CliVerifyPdf, GenuineFileAloneWithTrustAndWithTheArchive)
{
    const CliRun alone = verify(pdf);
    EXPECT_EQ(alone.exit, 0) << alone.err.toStdString();
    EXPECT_TRUE(alone.out.contains(QStringLiteral("未与外部保存的副本核对"))) << alone.out.toStdString();
    EXPECT_TRUE(alone.out.contains(QStringLiteral("证书编号：") + number)) << alone.out.toStdString();

    const CliRun full = verify(pdf, {QStringLiteral("--trust"), trust, QStringLiteral("--archive"), archivePath()});
    EXPECT_EQ(full.exit, 0) << full.err.toStdString();
    EXPECT_FALSE(full.out.contains(QStringLiteral("未与外部保存的副本核对"))) << full.out.toStdString();
    EXPECT_TRUE(full.out.contains(QStringLiteral("与存档中的证书内容一致"))) << full.out.toStdString();
    EXPECT_TRUE(full.out.contains(certificateFingerprint(lab.person.get()))) << full.out.toStdString();
}

TEST_F(CliVerifyPdf, EachFindingExitsSevenAndSaysWhich)
{
    const QByteArray genuine = read(pdf);
    const QString changed = dir.filePath(QStringLiteral("changed.pdf"));
    QByteArray flipped = genuine;
    flipped[genuine.size() / 2] = char(flipped[genuine.size() / 2] ^ 0x20);
    write(changed, flipped);
    CliRun r = verify(changed, {QStringLiteral("--trust"), trust});
    EXPECT_EQ(r.exit, 7);
    EXPECT_TRUE(r.err.contains(QStringLiteral("文件已被改动"))) << r.err.toStdString();

    write(changed, genuine + "%%EOF\n");
    r = verify(changed, {QStringLiteral("--trust"), trust});
    EXPECT_EQ(r.exit, 7);
    EXPECT_TRUE(r.err.contains(QStringLiteral("追加"))) << r.err.toStdString();

    ASSERT_TRUE(ops::writeCertificatePdf(*archive, number, changed).ok());
    r = verify(changed);
    EXPECT_EQ(r.exit, 7);
    EXPECT_TRUE(r.err.contains(QStringLiteral("没有签名"))) << r.err.toStdString();

    const certtest::TestLab other(QStringLiteral("另一实验室"));
    const QString otherTrust = dir.filePath(QStringLiteral("other.crt"));
    write(otherTrust, certtest::pem(other.lab.get()));
    r = verify(pdf, {QStringLiteral("--trust"), otherTrust});
    EXPECT_EQ(r.exit, 7);
    EXPECT_TRUE(r.err.contains(QStringLiteral("签名人不明"))) << r.err.toStdString();

    CertifyRequest changes;
    changes.humidity = QStringLiteral("60");
    ASSERT_TRUE(ops::amendCertificate(*archive, number, QStringLiteral("湿度填错"), changes).ok());
    r = verify(pdf, {QStringLiteral("--trust"), trust, QStringLiteral("--archive"), archivePath()});
    EXPECT_EQ(r.exit, 7);
    EXPECT_TRUE(r.err.contains(QStringLiteral("已被"))) << r.err.toStdString();
    EXPECT_EQ(verify(pdf, {QStringLiteral("--trust"), trust}).exit, 0) << "the file alone cannot know";
}

TEST_F(CliVerifyPdf, WrongCallsAreUsageOrUnreadable)
{
    EXPECT_EQ(sf6cli({QStringLiteral("verify-pdf")}).exit, 2);
    EXPECT_EQ(verify(pdf, {pdf}).exit, 2) << "one file at a time";
    EXPECT_EQ(verify(pdf, {QStringLiteral("--trust"), pdf}).exit, 2) << "a PDF is no certificate";
    const CliRun missing = verify(dir.filePath(QStringLiteral("none.pdf")));
    EXPECT_NE(missing.exit, 0);
    EXPECT_NE(missing.exit, 7) << "no file is no finding";
    EXPECT_FALSE(missing.err.isEmpty());
}
