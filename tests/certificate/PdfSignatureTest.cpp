// The signed certificate PDF read by real readers (poppler's pdfsig, qpdf)
// and by checkPdf, then attacked: a byte flipped, bytes appended, a signer
// from another lab.
#include <gtest/gtest.h>

#include "certificate/CertificatePages.h"
#include "certificate/PdfSignature.h"
#include "report/ReportRenderer.h"
#include "tests/certificate/CertificateTestContent.h"
#include "tests/certificate/TestSigners.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <random>

using namespace sf6;

namespace {

struct ToolRun {
    int exitCode = -1;
    QString output;
};

ToolRun runTool(const char* tool, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (path.isEmpty())
        return {-1, QStringLiteral("%1 is not installed").arg(QLatin1String(tool))};
    p.start(path, args);
    if (!p.waitForFinished(60000))
        return {-1, QStringLiteral("timeout")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll())};
}

const CertificateState kApproved{QStringLiteral("王五"), QStringLiteral("2026-03-05 09:00:00"), {}};
// Within the test certificates' validity, which starts an hour ago: the chain is judged at the signing time.
const auto kSignedAt = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
QString utcText(std::chrono::system_clock::time_point t)
{
    return QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(t), Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

class SignedPdf : public ::testing::Test {
protected:
    QByteArray unsignedPdf(const CertificateContent& c = certtest::plainContent())
    {
        const QString file = dir.filePath(QStringLiteral("unsigned.pdf"));
        const Status s = writeReportPdf(certificatePages(c, kApproved), file);
        EXPECT_TRUE(s.ok()) << s.message().toStdString();
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    Expected<QByteArray> sign(const QByteArray& pdf, const certtest::TestLab& by)
    {
        const CertificateContent c = certtest::plainContent();
        return signPdf(pdf, by.personKey.get(), by.person.get(), {by.lab.get()},
                       {QStringLiteral("王五"), kSignedAt, QStringLiteral("批准"), c.number, contentSha256(c)});
    }
    QString save(const QByteArray& bytes, const QString& name = QStringLiteral("signed.pdf"))
    {
        const QString file = dir.filePath(name);
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return file;
    }
    QTemporaryDir dir;
    certtest::TestLab lab;
};

// Poppler's and qpdf's reading of the file: not run under Wine, where the tools are not.
class SignedPdfReaders : public SignedPdf {};

} // namespace

TEST_F(SignedPdfReaders, PdfsigAndQpdfReadTheSignatureAsValidOverTheWholeDocument)
{
    const QByteArray plain = unsignedPdf();
    auto signedPdf = sign(plain, lab);
    ASSERT_TRUE(signedPdf.ok()) << signedPdf.error().toStdString();
    EXPECT_TRUE(signedPdf->startsWith(plain)) << "an incremental update leaves the written bytes as they were";
    const QString file = save(*signedPdf);

    const ToolRun sig = runTool("pdfsig", {file});
    EXPECT_TRUE(sig.output.contains(QStringLiteral("Signature is Valid"))) << sig.output.toStdString();
    EXPECT_TRUE(sig.output.contains(QStringLiteral("Total document signed"))) << sig.output.toStdString();
    EXPECT_TRUE(sig.output.contains(QStringLiteral("ETSI.CAdES.detached"))) << sig.output.toStdString();
    EXPECT_TRUE(sig.output.contains(QStringLiteral("王五"))) << sig.output.toStdString();
    const ToolRun check = runTool("qpdf", {QStringLiteral("--check"), file});
    EXPECT_EQ(check.exitCode, 0) << check.output.toStdString();
    EXPECT_TRUE(check.output.contains(QStringLiteral("No syntax or stream encoding errors"))) << check.output.toStdString();

    // One byte changed: no longer valid for poppler either.
    QByteArray flipped = *signedPdf;
    flipped[flipped.size() / 3] = char(flipped[flipped.size() / 3] ^ 0x01);
    const ToolRun changed = runTool("pdfsig", {save(flipped, QStringLiteral("flipped.pdf"))});
    EXPECT_TRUE(changed.output.contains(QStringLiteral("Signature 1"), Qt::CaseInsensitive) ||
                changed.output.contains(QStringLiteral("Signature #1")))
        << changed.output.toStdString();
    EXPECT_FALSE(changed.output.contains(QStringLiteral("Signature is Valid"))) << changed.output.toStdString();
}

TEST_F(SignedPdf, CheckFindsTheSignerTimeNumberAndContentHash)
{
    auto signedPdf = sign(unsignedPdf(), lab);
    ASSERT_TRUE(signedPdf.ok()) << signedPdf.error().toStdString();
    const PdfCheck found = checkPdf(*signedPdf, lab.lab.get());
    EXPECT_EQ(found.finding, PdfFinding::Genuine) << found.sentence.toStdString();
    EXPECT_TRUE(found.chainCheckedOutside);
    EXPECT_EQ(found.signerName, QStringLiteral("王五"));
    EXPECT_EQ(found.signerFingerprint, certificateFingerprint(lab.person.get()));
    EXPECT_EQ(found.signingTime, utcText(kSignedAt));
    EXPECT_EQ(found.certificateNumber, QStringLiteral("SF6-2026-0001"));
    EXPECT_EQ(found.contentSha256, contentSha256(certtest::plainContent()));

    // Without an outside copy the file's own lab certificate anchors the chain, and the sentence says so.
    const PdfCheck untrusted = checkPdf(*signedPdf);
    EXPECT_EQ(untrusted.finding, PdfFinding::Genuine) << untrusted.sentence.toStdString();
    EXPECT_FALSE(untrusted.chainCheckedOutside);
    EXPECT_TRUE(untrusted.sentence.contains(QStringLiteral("未与外部保存的副本核对")));
}

TEST_F(SignedPdf, AnyChangedByteOrAppendedByteIsAltered)
{
    auto signedPdf = sign(unsignedPdf(), lab);
    ASSERT_TRUE(signedPdf.ok()) << signedPdf.error().toStdString();
    const qsizetype gapStart = signedPdf->indexOf("/Contents <") + 10;
    // The header, a page's content, the signature dictionary, the signature itself, its padding, the last byte.
    const QByteArray dict = "/CertificateNumber";
    for (const qsizetype at : {qsizetype(2), signedPdf->size() / 3, gapStart - 40, gapStart + 200, gapStart + 20000,
                               signedPdf->indexOf(dict) + 5, signedPdf->size() - 3}) {
        SCOPED_TRACE(at);
        QByteArray flipped = *signedPdf;
        flipped[at] = char(flipped[at] ^ 0x01);
        const PdfCheck found = checkPdf(flipped, lab.lab.get());
        EXPECT_EQ(found.finding, PdfFinding::Altered) << found.sentence.toStdString();
    }
    // A hex digit's case changes no DER byte, but it is a changed byte of the file.
    QByteArray recased = *signedPdf;
    const qsizetype letter = recased.indexOf('a', gapStart + 1);
    recased[letter] = 'A';
    EXPECT_EQ(checkPdf(recased, lab.lab.get()).finding, PdfFinding::Altered);

    const PdfCheck appended = checkPdf(*signedPdf + "\n% one more line\n", lab.lab.get());
    EXPECT_EQ(appended.finding, PdfFinding::Altered);
    EXPECT_TRUE(appended.sentence.contains(QStringLiteral("追加"))) << appended.sentence.toStdString();
    EXPECT_EQ(checkPdf(signedPdf->left(signedPdf->size() - 1), lab.lab.get()).finding, PdfFinding::Altered);
}

TEST_F(SignedPdf, UnsignedFileAndSignerOfAnotherLab)
{
    const QByteArray plain = unsignedPdf();
    EXPECT_EQ(checkPdf(plain, lab.lab.get()).finding, PdfFinding::NotSigned);

    const certtest::TestLab other(QStringLiteral("另一实验室"));
    auto byOther = sign(plain, other);
    ASSERT_TRUE(byOther.ok());
    const PdfCheck found = checkPdf(*byOther, lab.lab.get());
    EXPECT_EQ(found.finding, PdfFinding::UnknownSigner) << found.sentence.toStdString();
    // Signed well all the same: its own root vouches for it, which is all a file alone can show.
    EXPECT_EQ(checkPdf(*byOther).finding, PdfFinding::Genuine);

    // Signed before the signer's certificate was valid.
    const Expected<QByteArray> early =
        signPdf(plain, lab.personKey.get(), lab.person.get(), {lab.lab.get()},
                {QStringLiteral("王五"), kSignedAt - std::chrono::hours(2), {}, QStringLiteral("SF6-2026-0001"), {}});
    ASSERT_TRUE(early.ok());
    EXPECT_EQ(checkPdf(*early, lab.lab.get()).finding, PdfFinding::UnknownSigner);

    // A signer certificate the lab did not issue although it names the lab as issuer.
    certtest::TestLab forged;
    forged.lab = certtest::newCertificate(QStringLiteral("测试实验室"), forged.labKey.get(), nullptr, forged.labKey.get(), 1);
    auto byForged = sign(plain, forged);
    ASSERT_TRUE(byForged.ok());
    EXPECT_EQ(checkPdf(*byForged, lab.lab.get()).finding, PdfFinding::UnknownSigner);
}

TEST_F(SignedPdf, WriterRefusesWhatItDoesNotRecognise)
{
    const QByteArray plain = unsignedPdf();
    auto once = sign(plain, lab);
    ASSERT_TRUE(once.ok());
    EXPECT_EQ(sign(*once, lab).code(), ErrorCode::Refused) << "signed twice";
    EXPECT_EQ(sign(QByteArray("not a pdf"), lab).code(), ErrorCode::Refused);
    EXPECT_EQ(sign(plain.left(plain.size() / 2), lab).code(), ErrorCode::Refused) << "cut short";
    QByteArray noXref = plain;
    noXref.replace("\nxref\n", "\nxr3f\n");
    EXPECT_EQ(sign(noXref, lab).code(), ErrorCode::Refused);
    const certtest::TestLab other;
    EXPECT_EQ(signPdf(plain, other.personKey.get(), lab.person.get(), {lab.lab.get()}, {}).code(), ErrorCode::Refused)
        << "a key that is not the certificate's";
}

// A hostile or damaged file: cut anywhere or overwritten with noise, the
// check never calls it genuine and the writer never signs it wrongly.
TEST_F(SignedPdf, CutOrNoisyFilesAreNeverGenuine)
{
    const QByteArray plain = unsignedPdf();
    auto signedPdf = sign(plain, lab);
    ASSERT_TRUE(signedPdf.ok());
    constexpr int kCuts = 200;
    for (int k = 1; k < kCuts; ++k) {
        const qsizetype at = signedPdf->size() * k / kCuts;
        EXPECT_NE(checkPdf(signedPdf->left(at), lab.lab.get()).finding, PdfFinding::Genuine) << at;
        // The unsigned file cut short: refused, or (cut inside the last line only) signed whole.
        auto cut = sign(plain.left(plain.size() * k / kCuts), lab);
        if (cut.ok()) {
            EXPECT_EQ(checkPdf(*cut, lab.lab.get()).finding, PdfFinding::Genuine);
        }
    }
    // A signature dictionary nested past any stack, its byte range made to fit:
    // found wanting, not followed down.
    QByteArray deep = *signedPdf;
    const qsizetype gapEnd = deep.indexOf('>', deep.indexOf("/Contents <")) + 1;
    const QByteArray nested = " /Q " + QByteArray(1 << 20, '[') + QByteArray(1 << 20, ']');
    deep.insert(deep.indexOf(" /M ", gapEnd), nested);
    const qsizetype open = deep.indexOf("/ByteRange [") + 11;
    qsizetype end = deep.indexOf(']', open) + 1;
    QList<QByteArray> range = deep.mid(open + 1, end - open - 2).split(' ');
    ASSERT_EQ(range.size(), 4);
    while (deep[end] == ' ')
        ++end;
    const QByteArray widened = ('[' + range[0] + ' ' + range[1] + ' ' + range[2] + ' ' +
                                QByteArray::number(range[3].toLongLong() + nested.size()) + ']')
                                   .leftJustified(end - open, ' ');
    ASSERT_EQ(widened.size(), end - open);
    deep.replace(open, widened.size(), widened);
    EXPECT_NE(checkPdf(deep, lab.lab.get()).finding, PdfFinding::Genuine);

    std::mt19937 rng(26);
    for (int k = 0; k < 100; ++k) {
        QByteArray noisy = *signedPdf;
        const qsizetype at = qsizetype(rng() % uint32_t(noisy.size()));
        for (qsizetype i = at; i < std::min(noisy.size(), at + 64); ++i)
            noisy[i] = char(rng());
        if (noisy != *signedPdf) {
            EXPECT_NE(checkPdf(noisy, lab.lab.get()).finding, PdfFinding::Genuine) << at;
        }
    }
}
