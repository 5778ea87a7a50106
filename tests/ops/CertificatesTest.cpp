// Issuing, approving and amending through the operations layer, and the
// import of several files: what waits for the user's word writes nothing,
// the word given issues, the signers cannot approve, an amendment names the
// one it replaces, and one import's totals and worst outcome.
#include "ops/Imports.h"
#include "sync/Columns.h"
#include "sync/TestRecord.h"
#include "tests/ops/CertificateOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using namespace sf6;

using opstest::CertificateOps;

// Each confirmation has its own code and costs nothing: no certificate, no
// audit row, no number; given, the certificate is issued and says so.
TEST_F(CertificateOps, whatWaitsForTheUsersWordWritesNothingUntilGiven)
{
    struct Case {
        int record;
        ErrorCode code;
        bool CertifyRequest::*accept;
    };
    const Case cases[] = {{synced[1], ErrorCode::P20Unconfirmed, &CertifyRequest::acceptP20},
                          {imported, ErrorCode::ImportedUnconfirmed, &CertifyRequest::acceptImported}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        const int audit = auditRows();
        const size_t before = certificates();
        const auto waiting = ops::issueCertificate(*archive, request(c.record), dir.filePath(QStringLiteral("w.pdf")));
        ASSERT_FALSE(waiting.ok());
        EXPECT_EQ(waiting.code(), c.code) << waiting.error().toStdString();
        EXPECT_EQ(certificates(), before);
        EXPECT_EQ(auditRows(), audit);
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("w.pdf"))));

        CertifyRequest confirmed = request(c.record);
        confirmed.*c.accept = true;
        const auto issued = ops::issueCertificate(*archive, confirmed);
        ASSERT_TRUE(issued.ok()) << issued.error().toStdString();
        EXPECT_EQ(certificates(), before + 1);
        EXPECT_GT(auditRows(), audit);
        EXPECT_EQ(issued->certificate.content.asLeft.recordId, c.record);
    }
    // An agreeing record from the instrument needs no word.
    EXPECT_TRUE(ops::issueCertificate(*archive, request(synced[0])).ok());
}

TEST_F(CertificateOps, theSignersCannotApproveAndAnotherApprovesOnce)
{
    const auto issued = ops::issueCertificate(*archive, request(synced[0]));
    ASSERT_TRUE(issued.ok()) << issued.error().toStdString();
    const QString number = issued->certificate.content.number;
    const int audit = auditRows();
    for (const QString& signer : {QStringLiteral("张三"), QStringLiteral(" 李 四 ")}) {
        const Status s = ops::approveCertificate(*archive, number, signer);
        EXPECT_EQ(s.code(), ErrorCode::Refused) << signer.toStdString();
    }
    EXPECT_TRUE(state(number).approvedBy.isEmpty());
    EXPECT_EQ(auditRows(), audit);
    ASSERT_TRUE(ops::approveCertificate(*archive, number, QStringLiteral("王五")).ok());
    EXPECT_EQ(state(number).approvedBy, QStringLiteral("王五"));
    EXPECT_EQ(ops::approveCertificate(*archive, number, QStringLiteral("赵六")).code(), ErrorCode::Refused);
}

// The replacement names the old one and why; the P20 confirmed for the old
// one holds, so amending it asks nothing again.
TEST_F(CertificateOps, anAmendmentNamesTheOneItReplaces)
{
    CertifyRequest rq = request(synced[1]);
    rq.acceptP20 = true;
    const auto old = ops::issueCertificate(*archive, rq);
    ASSERT_TRUE(old.ok()) << old.error().toStdString();
    const QString was = old->certificate.content.number;

    CertifyRequest changes;
    changes.humidity = QStringLiteral("60");
    const auto amended = ops::amendCertificate(*archive, was, QStringLiteral("湿度填错"), changes,
                                               dir.filePath(QStringLiteral("amended.pdf")));
    ASSERT_TRUE(amended.ok()) << amended.error().toStdString();
    const CertificateContent& now = amended->certificate.content;
    EXPECT_NE(now.number, was);
    EXPECT_EQ(now.supersedes, was);
    EXPECT_EQ(now.amendReason, QStringLiteral("湿度填错"));
    EXPECT_EQ(now.humidity, QStringLiteral("60"));
    ASSERT_TRUE(amended->pdf && amended->pdf->ok()) << (amended->pdf ? amended->pdf->error().toStdString() : "no PDF");
    EXPECT_GE(**amended->pdf, 1);
    EXPECT_GT(QFileInfo(dir.filePath(QStringLiteral("amended.pdf"))).size(), 0);
    EXPECT_EQ(state(was).supersededBy, now.number);
    EXPECT_EQ(ops::amendCertificate(*archive, was, QStringLiteral("再次"), {}).code(), ErrorCode::Refused);
}

namespace {

QString writeTsv(const QTemporaryDir& dir, const QString& name, const std::vector<QByteArray>& records, int badRow = -1)
{
    QByteArray out = columnCaptions().join(u'\t').toUtf8() + '\n';
    for (size_t i = 0; i < records.size(); ++i) {
        ListRow r = decodeRecord(reinterpret_cast<const unsigned char*>(records[i].constData()), int(i) + 1);
        if (int(i) == badRow)
            r[kColTemperature] = QStringLiteral("abc");
        out += r.join(u'\t').toUtf8() + '\n';
    }
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(out);
    return path;
}

} // namespace

// Totals over the files imported, the files that were not, and the worst
// outcome: a file that is no export outranks refused rows.
TEST_F(CertificateOps, importingSeveralFilesSumsThemAndKeepsTheWorst)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(4, 7);
    const QString first = writeTsv(dir, QStringLiteral("a.tsv"), {records[0], records[1]});
    const QString second = writeTsv(dir, QStringLiteral("b.tsv"), {records[1], records[2], records[3]}, 2);
    const QString noise = dir.filePath(QStringLiteral("noise.json"));
    {
        QFile f(noise);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[1, 2");
    }
    std::vector<std::pair<int, double>> seen;
    auto progress = [&seen](int file, double fraction) { seen.emplace_back(file, fraction); };

    import::ImportBatch two = ops::importFiles(*archive, {first, second}, progress);
    ASSERT_EQ(two.files.size(), 2u);
    EXPECT_EQ(two.newRecords, 3);
    EXPECT_EQ(two.alreadyArchived, 1);
    EXPECT_EQ(two.rowsRefused, 1);
    EXPECT_TRUE(two.notImported.isEmpty());
    EXPECT_EQ(two.status.code(), ErrorCode::RowsRefused);
    EXPECT_EQ(two.summary, import::importSummary(two.files));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), std::make_pair(0, 0.0)) << "each file is named before it is read";
    EXPECT_EQ(seen.back().first, 1);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "the bar only moves forward";

    import::ImportBatch again = ops::importFiles(*archive, {second, noise, first});
    EXPECT_EQ(again.status.code(), ErrorCode::NotAnExport) << "a file that is no export outranks refused rows";
    ASSERT_EQ(again.notImported.size(), 1);
    EXPECT_EQ(again.notImported[0], again.files[1].failure);
    EXPECT_EQ(again.alreadyArchived, 4);
    EXPECT_EQ(again.rowsRefused, 1);
    EXPECT_EQ(again.summary, import::importSummary({again.files[0], again.files[2]}));

}
