// The certificate as a PDF, read back with poppler as a reader or a checker
// of a paper copy would: every page numbered and counted, the facts of the
// last page legible, page 1's elements where the record's page has them.
#include <gtest/gtest.h>

#include "certificate/CertificatePages.h"
#include "report/ReportRenderer.h"
#include "tests/certificate/CertificateTestContent.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

using namespace sf6;

namespace {

QString run(const char* tool, const QStringList& args)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QString::fromLatin1(tool)), args);
    return p.waitForFinished(30000) && p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

// Whitespace is where poppler guesses it; the texts are compared without it.
QString squeezed(QString s) { return s.remove(QRegularExpression(QStringLiteral("\\s"))); }

QString pageText(const QString& pdf, int k)
{
    return run("pdftotext", {QStringLiteral("-f"), QString::number(k), QStringLiteral("-l"), QString::number(k), pdf,
                             QStringLiteral("-")});
}

int pageCount(const QString& pdf)
{
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run("pdfinfo", {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text poppler finds inside one label's box on page k.
QString textInBox(const QString& pdf, int k, const QRect& box)
{
    constexpr double kMarginPx = kPageMarginMm / 25.4 * kReportDpi;
    const QRect area = box.adjusted(-1, -1, 1, 1).translated(qRound(kMarginPx), qRound(kMarginPx));
    return run("pdftotext", {QStringLiteral("-f"), QString::number(k), QStringLiteral("-l"), QString::number(k),
                             QStringLiteral("-r"), QString::number(kReportDpi), QStringLiteral("-x"),
                             QString::number(area.x()), QStringLiteral("-y"), QString::number(area.y()),
                             QStringLiteral("-W"), QString::number(area.width()), QStringLiteral("-H"),
                             QString::number(area.height()), QStringLiteral("-raw"), pdf, QStringLiteral("-")})
        .remove(QLatin1Char('\f'))
        .trimmed();
}

class CertificatePdf : public ::testing::Test {
protected:
    QString write(const std::vector<ReportPage>& pages)
    {
        const QString file = dir.filePath(QStringLiteral("certificate.pdf"));
        const Status s = writeReportPdf(pages, file);
        EXPECT_TRUE(s.ok()) << s.message().toStdString();
        return file;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(CertificatePdf, EveryPageReadsBackWithNumberCountAndState)
{
    const CertificateContent c = certtest::adjustedContent();
    const auto pages = certificatePages(c, {});
    const QString pdf = write(pages);
    const int n = int(pages.size());
    ASSERT_EQ(pageCount(pdf), n);
    for (int k = 1; k <= n; ++k) {
        SCOPED_TRACE(k);
        const QString text = squeezed(pageText(pdf, k));
        EXPECT_TRUE(text.contains(QStringLiteral("证书编号：SF6-2026-0001"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("第%1页共%2页").arg(k).arg(n))) << text.toStdString();
        EXPECT_TRUE(text.contains(kStateUnapproved));
    }
}

TEST_F(CertificatePdf, LastPageReadsBackWithStandardConditionsRuleSignersCodeAndEndMark)
{
    const CertificateContent c = certtest::amendment();
    const CertificateState state{QStringLiteral("王五"), QStringLiteral("2026-03-05 09:00:00"), QStringLiteral("SF6-2026-0003")};
    const auto pages = certificatePages(c, state);
    const QString pdf = write(pages);
    const QString text = squeezed(pageText(pdf, int(pages.size())));
    for (const QString& t :
         {c.standard.certificate, QStringLiteral("有效期至"), c.standard.validUntil, c.standard.issuer,
          QStringLiteral("环境条件"), QStringLiteral("温度：21.5°C；相对湿度：55%RH"), kDecisionRule,
          QStringLiteral("校验员"), c.tester, QStringLiteral("核验员"), c.checker, QStringLiteral("批准人"), c.approver,
          QStringLiteral("2026-03-05"), QStringLiteral("校验码：") + verificationCode(contentSha256(c)),
          QStringLiteral("本证书替代SF6-2026-0001，原因：送检单位名称有误"), QStringLiteral("已被SF6-2026-0003替代"),
          kEndMark})
        EXPECT_TRUE(text.contains(squeezed(t))) << t.toStdString() << "\n" << text.toStdString();
    EXPECT_FALSE(text.contains(kStateUnapproved));
    EXPECT_TRUE(text.endsWith(kEndMark + QStringLiteral("第%1页共%1页").arg(pages.size())))
        << "nothing between the end mark and the footer: " << text.right(40).toStdString();
}

TEST_F(CertificatePdf, PageOneElementsStandWhereTheRecordsPageHasThem)
{
    const CertificateContent c = certtest::plainContent();
    const QString pdf = write(certificatePages(c, {}));
    const ReportPage record = buildReportPage(c.details, certtest::rowOf(c.asLeft));
    for (const QString& name : {QStringLiteral("QRLTitle"), QStringLiteral("QRLabel91"), QStringLiteral("QRLabel94"),
                               QStringLiteral("QRLabel96"), QStringLiteral("QRLabel2"), QStringLiteral("QRLabel135"),
                               QStringLiteral("QRLabel105"), QStringLiteral("QRLabel110"), QStringLiteral("QRsp")}) {
        const PageLabel* l = record.label(name);
        ASSERT_NE(l, nullptr);
        ASSERT_FALSE(l->text.isEmpty()) << name.toStdString();
        EXPECT_EQ(squeezed(textInBox(pdf, 1, l->box)), squeezed(l->text)) << name.toStdString();
    }
}

TEST_F(CertificatePdf, VeryLongLabNameAndAddressAreReadInFullWithoutTouchingTheirNeighbours)
{
    CertificateContent c = certtest::plainContent();
    c.lab.name = QStringLiteral("国网某省电力有限公司电力科学研究院高压计量与气体密度继电器校验实验室").repeated(4);
    c.lab.address = QStringLiteral("Room 1203, Building A, No. 1234 Science Avenue, High-Tech Industrial Development "
                                   "Zone, Hefei, Anhui Province, People's Republic of China; WWW.EXAMPLE-LAB.COM.CN");
    const auto pages = certificatePages(c, {});
    const QString pdf = write(pages);
    const ReportPage& last = pages.back();
    const auto name = std::find_if(last.labels.begin(), last.labels.end(),
                                   [&](const PageLabel& l) { return l.text == c.lab.name; });
    ASSERT_NE(name, last.labels.end());
    const int k = int(pages.size());
    EXPECT_EQ(squeezed(textInBox(pdf, k, name->box)), c.lab.name) << "every wrapped line inside the box";
    // The rows above and below read as they should, nothing of the name spilled into them.
    const qsizetype i = name - last.labels.begin();
    EXPECT_EQ(textInBox(pdf, k, last.labels[size_t(i - 1)].box), QStringLiteral("校验单位"));
    EXPECT_EQ(squeezed(textInBox(pdf, k, last.labels[size_t(i + 2)].box)), squeezed(c.lab.address));
    EXPECT_EQ(textInBox(pdf, k, last.labels[size_t(i + 3)].box), QStringLiteral("电话"));
}

// The number is read whole on every page: with the longest prefix a lab may
// save (wide capitals, a five-digit sequence), and with a longer one an older
// archive may hold, beside an as-found caption that must stay clear of it.
TEST_F(CertificatePdf, ALongNumberIsReadWholeOnEveryPage)
{
    for (const QString& number : {QStringLiteral("WMWMWMWMWMWMWMWM-2026-10001"),
                                  QStringLiteral("SGCC-HUBEI-EPRI-JL-WWWWWWWWWWWWWWWWWW-MMMMMMMMMMMM-2026-0001")}) {
        SCOPED_TRACE(number.toStdString());
        CertificateContent c = certtest::adjustedContent();
        c.number = number;
        const auto pages = certificatePages(c, {});
        const QString pdf = write(pages);
        for (int k = 1; k <= int(pages.size()); ++k) {
            QString text = squeezed(pageText(pdf, k));
            QString expected = QStringLiteral("证书编号：") + number;
            if (number.size() > 30) {
                // Wrapped after a hyphen, which pdftotext takes for a word broken at the line's end.
                text.remove(u'-');
                expected.remove(u'-');
            }
            EXPECT_TRUE(text.contains(expected)) << k << ": " << text.left(200).toStdString();
            const PageLabel* caption = pages[size_t(k - 1)].label(QStringLiteral("QRCCaption"));
            const PageLabel* box = pages[size_t(k - 1)].label(QStringLiteral("QRCNumber"));
            ASSERT_NE(box, nullptr);
            if (caption) {
                EXPECT_FALSE(caption->box.intersects(box->box)) << k;
            }
            EXPECT_FALSE(box->box.intersects(kTitleBox)) << k;
        }
    }
}

// The QR code as a customer's phone would read it: rendered from the PDF
// and decoded by zbarimg, on the first page and the last.
TEST_F(CertificatePdf, QrCodeOnEveryPageDecodesToTheNumberCodeAndAddress)
{
    const CertificateContent c = certtest::adjustedContent();
    const QString address = QStringLiteral("https://lab.example.cn/verify");
    const CertificatePrintExtras extras{
        address,
        {{QStringLiteral("校验员"), c.tester, QStringLiteral("2026-03-04 10:00:00"), QString(64, u'a')},
         {QStringLiteral("核验员"), c.checker, QStringLiteral("2026-03-04 11:00:00"), QString(64, u'b')},
         {QStringLiteral("批准人"), c.approver, QStringLiteral("2026-03-05 09:00:00"), QString(64, u'c')}}};
    const auto pages = certificatePages(c, {}, extras);
    const QString pdf = write(pages);
    const int n = int(pages.size());
    for (int k : {1, n}) {
        SCOPED_TRACE(k);
        const QString png = dir.filePath(QStringLiteral("page%1").arg(k));
        run("pdftoppm", {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-f"), QString::number(k),
                         QStringLiteral("-l"), QString::number(k), QStringLiteral("-singlefile"), QStringLiteral("-png"),
                         pdf, png});
        const QString decoded = run("zbarimg", {QStringLiteral("--raw"), QStringLiteral("-q"), png + QStringLiteral(".png")});
        EXPECT_TRUE(decoded.contains(c.number)) << decoded.toStdString();
        EXPECT_TRUE(decoded.contains(verificationCode(contentSha256(c)))) << decoded.toStdString();
        EXPECT_TRUE(decoded.contains(address)) << decoded.toStdString();
        EXPECT_EQ(decoded.trimmed(), certificateQrText(c, address)) << "the Chinese captions too";
    }
    // The signers on the last page, each with the fingerprint of the certificate that signed.
    const QString last = squeezed(pageText(pdf, n));
    for (const SignerLine& s : extras.signers) {
        EXPECT_TRUE(last.contains(squeezed(s.role + s.person + QStringLiteral("，") + s.time))) << last.toStdString();
        EXPECT_TRUE(last.contains(s.fingerprint)) << last.toStdString();
    }
    EXPECT_TRUE(last.contains(kStateUnapproved)) << "unapproved, however many signers are listed";
}
