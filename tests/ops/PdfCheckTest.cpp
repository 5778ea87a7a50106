// An approved certificate's PDF signed by its approver and checked as the
// window and sf6cli check it: alone, against the lab certificate kept
// outside, and against the archive (content, amendment).
#include "tests/ops/CertificateOps.h"

#include "certificate/CertificatePages.h"
#include "ops/PdfCheck.h"
#include "report/ReportRenderer.h"
#include "tests/certificate/TestSigners.h"

#include <QFile>
#include <QFileInfo>

using namespace sf6;

namespace {

class SignedCertificatePdf : public opstest::CertificateOps {
protected:
    void SetUp() override
    {
        CertificateOps::SetUp();
        auto issued = ops::issueCertificate(*archive, request(synced[0]));
        ASSERT_TRUE(issued.ok()) << issued.error().toStdString();
        number = issued->certificate.content.number;
        trust = dir.filePath(QStringLiteral("lab.crt"));
        QFile f(trust);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(certtest::pem(lab.lab.get()));
    }
    ops::PdfSigning signing(const QString& signer = QStringLiteral("王五"))
    {
        return {lab.personKey.get(), lab.person.get(), {lab.lab.get()}, signer,
                {QStringLiteral("https://lab.example.cn/verify"),
                 {{QStringLiteral("批准人"), signer, QStringLiteral("2026-03-05 09:00:00"),
                   certificateFingerprint(lab.person.get())}}}};
    }
    QString pdf = dir.filePath(QStringLiteral("certificate.pdf"));
    QString number, trust;
    certtest::TestLab lab;
};

} // namespace

TEST_F(SignedCertificatePdf, OnlyAnApprovedCertificateIsSignedAndByItsApprover)
{
    EXPECT_EQ(ops::writeSignedCertificatePdf(*archive, number, pdf, signing()).code(), ErrorCode::Refused);
    EXPECT_FALSE(QFileInfo::exists(pdf));
    // Unapproved, it is printed unsigned and says so.
    ASSERT_TRUE(ops::writeCertificatePdf(*archive, number, pdf).ok());
    auto unsignedCheck = ops::checkCertificatePdf(pdf, trust, archive.get());
    ASSERT_TRUE(unsignedCheck.ok());
    EXPECT_EQ(unsignedCheck->finding, PdfFinding::NotSigned);
    EXPECT_EQ(ops::writeSignedCertificatePdf(*archive, number, pdf, signing(QString())).code(), ErrorCode::Refused)
        << "no approver to match is no approval";
    // Signed by hand before approval: genuine as a file, not as a certificate of the archive.
    {
        QFile f(pdf);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const auto stored = findCertificate(*archive, number);
        auto early = signPdf(f.readAll(), lab.personKey.get(), lab.person.get(), {lab.lab.get()},
                             {QStringLiteral("王五"), std::chrono::system_clock::now(), {}, number,
                              contentSha256((*stored)->content)});
        ASSERT_TRUE(early.ok());
        const QString earlyFile = dir.filePath(QStringLiteral("early.pdf"));
        QFile out(earlyFile);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(*early);
        out.close();
        auto check = ops::checkCertificatePdf(earlyFile, trust, archive.get());
        ASSERT_TRUE(check.ok());
        EXPECT_EQ(check->finding, PdfFinding::NotInArchive) << check->sentence.toStdString();
        EXPECT_TRUE(check->sentence.contains(QStringLiteral("尚未批准"))) << check->sentence.toStdString();
    }
    QFile::remove(pdf);

    ASSERT_TRUE(ops::approveCertificate(*archive, number, QStringLiteral("王五")).ok());
    EXPECT_EQ(ops::writeSignedCertificatePdf(*archive, number, pdf, signing(QStringLiteral("赵六"))).code(),
              ErrorCode::Refused);
    EXPECT_FALSE(QFileInfo::exists(pdf));
    auto pages = ops::writeSignedCertificatePdf(*archive, number, pdf, signing());
    ASSERT_TRUE(pages.ok()) << pages.error().toStdString();

    auto check = ops::checkCertificatePdf(pdf, trust, archive.get());
    ASSERT_TRUE(check.ok()) << check.error().toStdString();
    EXPECT_EQ(check->finding, PdfFinding::Genuine) << check->sentence.toStdString();
    EXPECT_TRUE(check->sentence.contains(QStringLiteral("与存档中的证书内容一致"))) << check->sentence.toStdString();
    EXPECT_EQ(check->certificateNumber, number);
    const QString report = ops::pdfCheckReport(*check);
    for (const QString& t : {number, QStringLiteral("王五"), certificateFingerprint(lab.person.get())})
        EXPECT_TRUE(report.contains(t)) << t.toStdString() << "\n" << report.toStdString();

    // Alone, the file's own lab certificate anchors the chain, said as such.
    auto alone = ops::checkCertificatePdf(pdf, {}, nullptr);
    ASSERT_TRUE(alone.ok());
    EXPECT_EQ(alone->finding, PdfFinding::Genuine);
    EXPECT_FALSE(alone->chainCheckedOutside);

    // With the archive and no outside copy, the archive's lab certificate
    // anchors the chain: a file signed under another lab's is not this lab's.
    ASSERT_TRUE(createLabKey(*archive, QStringLiteral("lab-pw")).ok());
    auto otherLab = ops::checkCertificatePdf(pdf, {}, archive.get());
    ASSERT_TRUE(otherLab.ok()) << otherLab.error().toStdString();
    EXPECT_EQ(otherLab->finding, PdfFinding::UnknownSigner) << otherLab->sentence.toStdString();
}

TEST_F(SignedCertificatePdf, TheArchiveTellsAnotherCertificateAndAReplacedOne)
{
    ASSERT_TRUE(ops::approveCertificate(*archive, number, QStringLiteral("王五")).ok());
    ASSERT_TRUE(ops::writeSignedCertificatePdf(*archive, number, pdf, signing()).ok());

    // Another lab's archive, where this number is another certificate or none.
    auto other = Archive::open(*ArchiveLocation::parse(dir.filePath(QStringLiteral("other.sqlite"))));
    ASSERT_TRUE(other.ok());
    auto elsewhere = ops::checkCertificatePdf(pdf, trust, other->get());
    ASSERT_TRUE(elsewhere.ok());
    EXPECT_EQ(elsewhere->finding, PdfFinding::NotInArchive) << elsewhere->sentence.toStdString();

    // Signed by the right person over other content than the archive holds for that number.
    {
        const auto stored = findCertificate(*archive, number);
        CertificateContent edited = (*stored)->content;
        edited.humidity = QStringLiteral("20");
        auto plain = reportPdfBytes(certificatePages(edited, (*stored)->state));
        ASSERT_TRUE(plain.ok());
        auto forged = signPdf(*plain, lab.personKey.get(), lab.person.get(), {lab.lab.get()},
                              {QStringLiteral("王五"), std::chrono::system_clock::now(), {}, number, contentSha256(edited)});
        ASSERT_TRUE(forged.ok());
        const QString file = dir.filePath(QStringLiteral("edited.pdf"));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(*forged);
        out.close();
        auto check = ops::checkCertificatePdf(file, trust, archive.get());
        ASSERT_TRUE(check.ok());
        EXPECT_EQ(check->finding, PdfFinding::Altered) << check->sentence.toStdString();
        EXPECT_TRUE(check->sentence.contains(QStringLiteral("与存档中的内容不同"))) << check->sentence.toStdString();
    }

    CertifyRequest changes;
    changes.humidity = QStringLiteral("60");
    ASSERT_TRUE(ops::amendCertificate(*archive, number, QStringLiteral("湿度填错"), changes).ok());
    auto replaced = ops::checkCertificatePdf(pdf, trust, archive.get());
    ASSERT_TRUE(replaced.ok());
    EXPECT_EQ(replaced->finding, PdfFinding::Superseded) << replaced->sentence.toStdString();
    EXPECT_EQ(ops::writeSignedCertificatePdf(*archive, number, dir.filePath(QStringLiteral("again.pdf")), signing()).code(),
              ErrorCode::Refused);
}

TEST_F(SignedCertificatePdf, UnreadableFilesAreFailuresNotFindings)
{
    EXPECT_EQ(ops::checkCertificatePdf(dir.filePath(QStringLiteral("none.pdf")), {}, nullptr).code(), ErrorCode::NotFound);
    ASSERT_TRUE(ops::writeCertificatePdf(*archive, number, pdf).ok());
    EXPECT_EQ(ops::checkCertificatePdf(pdf, pdf, nullptr).code(), ErrorCode::InvalidValue) << "a PDF is no certificate";
    // DER reads as well as PEM.
    const QString der = dir.filePath(QStringLiteral("lab.der"));
    {
        QFile f(der);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        unsigned char* bytes = nullptr;
        const int n = i2d_X509(lab.lab.get(), &bytes);
        f.write(reinterpret_cast<const char*>(bytes), n);
        OPENSSL_free(bytes);
    }
    auto read = ops::readCertificateFile(der);
    ASSERT_TRUE(read.ok()) << read.error().toStdString();
    EXPECT_EQ(X509_cmp(read->get(), lab.lab.get()), 0);
}
