// Certificates in a real archive, on SQLite and PostgreSQL: the lab profile
// and standards kept in versions, numbering by year without gaps or doubles,
// every refusal, as-found and as-left, approval, amendment, reprints that
// edits afterwards leave alone, the engine's guard, and the check that finds
// what was altered by hand.
#include "archive/Audit.h"
#include "certificate/Certificate.h"
#include "certificate/CertificatePages.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"
#include "tests/certificate/CertificateFixture.h"

#include <QJsonDocument>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <set>
#include <thread>

using namespace sf6;
using archivetest::Engine;
using certtest::Certificates;
using certtest::kStandard;

namespace {

// Every text of every page, in order.
QStringList pageTexts(const StoredCertificate& c)
{
    QStringList out;
    for (const ReportPage& page : certificatePages(c.content, c.state))
        for (const PageLabel& label : page.labels)
            out << label.text;
    return out;
}

} // namespace

TEST_P(Certificates, theLabAndTheStandardsKeepEveryVersionAndRefuseBadTextsByName)
{
    auto lab = currentLab(*archive);
    ASSERT_TRUE(lab.ok() && lab->has_value());
    EXPECT_EQ((*lab)->prefix, QStringLiteral("SF6")) << "the default prefix";
    EXPECT_EQ((*lab)->version, 1);
    LabTexts phone;
    phone.phone = QStringLiteral("021-12345678");
    auto second = saveLab(*archive, phone);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->version, 2);
    EXPECT_EQ(second->name, QStringLiteral("华东电力试验研究院")) << "a field not given keeps its value";
    EXPECT_EQ(saveLab(*archive, phone)->version, 2) << "nothing changed: no new version";
    for (const QString& bad : {QStringLiteral("SF 6"), QStringLiteral("证书"), QStringLiteral("A/B")}) {
        LabTexts t;
        t.prefix = bad;
        auto refused = saveLab(*archive, t);
        ASSERT_FALSE(refused.ok()) << bad.toStdString();
        EXPECT_TRUE(refused.error().contains(QStringLiteral("证书编号前缀"))) << refused.error().toStdString();
    }
    EXPECT_EQ((*currentLab(*archive))->version, 2) << "a refusal stores nothing";

    StandardTexts late;
    late.validUntil = QStringLiteral("2031/01/01");
    auto refused = saveStandard(*archive, kStandard, late);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains(QStringLiteral("有效期至"))) << refused.error().toStdString();
    late.validUntil = QStringLiteral("2031-02-30");
    EXPECT_FALSE(saveStandard(*archive, kStandard, late).ok()) << "not a calendar date";
    late.validUntil = QStringLiteral("2031-01-01");
    auto renewed = saveStandard(*archive, kStandard, late);
    ASSERT_TRUE(renewed.ok()) << renewed.error().toStdString();
    EXPECT_EQ(renewed->version, 2);
    EXPECT_EQ(renewed->certificate, QStringLiteral("JZ2026-0815"));
    ASSERT_TRUE(saveStandard(*archive, QStringLiteral("STD-0"), {}).ok());
    auto all = listStandards(*archive);
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all->size(), 2u);
    EXPECT_EQ((*all)[0].serial, QStringLiteral("STD-0"));
    EXPECT_EQ((*all)[1].validUntil, QStringLiteral("2031-01-01"));
}

// A clock the test sets: the PC's, which a SQLite archive takes (a server's
// archive takes the server's own time).
class CertificatesOnAPc : public Certificates {};

// <prefix>-<yyyy>-<nnnn>: by year of issue, restarting each year, the prefix
// the lab has at the time.
TEST_P(CertificatesOnAPc, numbersFollowOnWithinAYearAndRestartInTheNext)
{
    EXPECT_EQ(issue(ids[0]), QStringLiteral("SF6-2026-0001"));
    EXPECT_EQ(issue(ids[1]), QStringLiteral("SF6-2026-0002"));
    now = QStringLiteral("2027-01-01 00:00:01");
    EXPECT_EQ(issue(ids[2]), QStringLiteral("SF6-2027-0001"));
    LabTexts prefix;
    prefix.prefix = QStringLiteral("HD-JY");
    ASSERT_TRUE(saveLab(*archive, prefix).ok());
    EXPECT_EQ(issue(ids[0]), QStringLiteral("HD-JY-2027-0002"));
    now = QStringLiteral("2026-12-31 23:59:59");
    EXPECT_FALSE(certify(*archive, request(ids[1])).ok()) << "a clock set back to the year before issues nothing";
}

TEST_P(Certificates, eachRefusalSaysWhatIsMissingAndCostsNoNumber)
{
    auto refusal = [this](const CertifyRequest& rq) {
        auto c = certify(*archive, rq);
        return c ? QStringLiteral("issued %1").arg(c->content.number) : c.error();
    };
    CertifyRequest rq = request(ids[3]);
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("记录 %1 没有关联继电器").arg(ids[3])));
    rq.recordId = 999;
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("没有档案号为 999"))) << refusal(rq).toStdString();

    rq = request(ids[2]);
    rq.standardSerial = QStringLiteral("NOPE");
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("没有编号为 NOPE 的标准器")));
    StandardTexts old;
    old.validUntil = QStringLiteral("2012-05-02");
    ASSERT_TRUE(saveStandard(*archive, QStringLiteral("STD-OLD"), old).ok());
    rq.standardSerial = QStringLiteral("STD-OLD");
    EXPECT_EQ(refusal(rq), QStringLiteral("标准器 STD-OLD 的证书（有效期至 2012-05-02）在测试日期 2012-05-03 之前已过期，不能出具证书"));
    ASSERT_TRUE(saveStandard(*archive, QStringLiteral("STD-NODATE"), {}).ok());
    rq.standardSerial = QStringLiteral("STD-NODATE");
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("没有填写证书有效期")));

    rq = request(ids[2]);
    rq.tester.clear();
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("没有填写校验员")));
    rq = request(ids[2]);
    rq.checker = QStringLiteral("  ");
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("没有填写核验员")));
    rq.checker = QStringLiteral("张三");
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("核验员与校验员不能是同一人")));

    RelayEntry other;
    other.serial = QStringLiteral("R2");
    other.alarm = Decimal::parse(QStringLiteral("0.55"));
    ASSERT_TRUE(saveRelay(*archive, other, QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecord(*archive, ids[3], QStringLiteral("R2")));
    rq = request(ids[2]);
    rq.asFoundRecordId = ids[3];
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("关联的是继电器 R2"))) << refusal(rq).toStdString();
    rq = request(ids[1]);
    rq.asFoundRecordId = ids[2];
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("不早于"))) << "the as-found test comes later";
    rq.asFoundRecordId = ids[1];
    EXPECT_TRUE(refusal(rq).contains(QStringLiteral("不早于"))) << "a record is not its own as-found";

    RelayEntry blank;
    blank.serial = QStringLiteral("R9");
    ASSERT_TRUE(saveRelay(*archive, blank, QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecord(*archive, ids[4], QStringLiteral("R9")));
    EXPECT_TRUE(refusal(request(ids[4])).contains(QStringLiteral("没有设定值"))) << refusal(request(ids[4])).toStdString();

    EXPECT_EQ(issue(ids[2]), QStringLiteral("SF6-2026-0001")) << "no number was spent on a refusal";
    EXPECT_EQ(listCertificates(*archive)->size(), 1u);
}

TEST_P(Certificates, aLabWithoutANameIssuesNothing)
{
    LabTexts unnamed;
    unnamed.name = QString();
    ASSERT_TRUE(saveLab(*archive, unnamed).ok());
    auto c = certify(*archive, request(ids[0]));
    ASSERT_FALSE(c.ok());
    EXPECT_TRUE(c.error().contains(QStringLiteral("校验单位名称"))) << c.error().toStdString();
}

// Both results judged with the relay's current version; the certificate's
// verdict is the as-left's.
TEST_P(Certificates, asFoundAndAsLeftAreBothJudgedAndTheVerdictIsTheAsLefts)
{
    // The relay's second version judges both records.
    RelayTexts strict;
    strict.alarm = QStringLiteral("0.40");
    ASSERT_TRUE(editRelay(*archive, QStringLiteral("R1"), strict, QStringLiteral("test"))->refused);
    auto before = judgeRecord(*archive, ids[0], false);
    auto after = judgeRecord(*archive, ids[2], false);
    ASSERT_TRUE(before.ok() && before->judgement && after.ok() && after->judgement);

    CertifyRequest rq = request(ids[2]);
    rq.asFoundRecordId = ids[0];
    auto c = certify(*archive, rq);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    ASSERT_TRUE(c->content.asFound.has_value());
    EXPECT_EQ(c->content.asFound->recordId, ids[0]);
    EXPECT_EQ(c->content.asFound->verdict, before->judgement->judgement.verdict());
    EXPECT_EQ(c->content.asFound->conclusion.line, conclusionLine(before->judgement->judgement));
    EXPECT_EQ(c->content.asLeft.verdict, after->judgement->judgement.verdict());
    EXPECT_EQ(c->content.asFound->raw, (*findRecord(*archive, ids[0]))->raw);
    EXPECT_EQ(c->content.relay.version, 2) << "the relay's current version";
    auto kept = findJudgement(*archive, c->content.asFound->judgementId);
    ASSERT_TRUE(kept.ok() && kept->has_value()) << "both judgements are kept";
    EXPECT_EQ((*kept)->relayVersionId, c->content.relay.versionId);
    auto listed = listCertificates(*archive);
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_EQ((*listed)[0].verdict, c->content.asLeft.verdict);
    EXPECT_EQ((*listed)[0].asFoundRecordId, ids[0]);
}

TEST_P(Certificates, anApprovalIsRecordedOnceAndNeverForASupersededCertificate)
{
    const QString number = issue(ids[0]);
    EXPECT_EQ(stateText((*findCertificate(*archive, number))->state), kStateUnapproved);
    EXPECT_FALSE(approve(*archive, number, QStringLiteral(" "))) << "an approver must be named";
    ASSERT_TRUE(approve(*archive, number, QStringLiteral("王五")));
    auto approved = findCertificate(*archive, number);
    EXPECT_EQ((*approved)->state.approvedBy, QStringLiteral("王五"));
    EXPECT_FALSE((*approved)->state.approvedAt.isEmpty());
    EXPECT_EQ(stateText((*approved)->state), kStateApproved);
    const Status twice = approve(*archive, number, QStringLiteral("赵六"));
    ASSERT_FALSE(twice);
    EXPECT_TRUE(twice.message().contains(QStringLiteral("不能再次批准"))) << twice.message().toStdString();
    EXPECT_EQ(approve(*archive, QStringLiteral("SF6-2026-9999"), QStringLiteral("王五")).code(), ErrorCode::NotFound);

    const QString other = issue(ids[1]);
    ASSERT_TRUE(amend(*archive, other, QStringLiteral("湿度记错"), {}).ok());
    const Status superseded = approve(*archive, other, QStringLiteral("王五"));
    ASSERT_FALSE(superseded);
    EXPECT_EQ(superseded.code(), ErrorCode::Refused);
    EXPECT_TRUE(superseded.message().contains(QStringLiteral("已被 SF6-2026-0003 替代")));
}

TEST_P(Certificates, anAmendmentIsANewNumberThatNamesTheOldAndKeepsWhatWasNotChanged)
{
    CertifyRequest first = request(ids[2]);
    first.asFoundRecordId = ids[0];
    first.approver = QStringLiteral("王五");
    ASSERT_TRUE(certify(*archive, first).ok());
    CertifyRequest changes;
    changes.humidity = QStringLiteral("60");
    EXPECT_FALSE(amend(*archive, QStringLiteral("SF6-2026-0001"), QStringLiteral(" "), changes).ok()) << "no reason";
    auto amended = amend(*archive, QStringLiteral("SF6-2026-0001"), QStringLiteral("相对湿度记录有误"), changes);
    ASSERT_TRUE(amended.ok()) << amended.error().toStdString();
    const CertificateContent& c = amended->content;
    EXPECT_EQ(c.number, QStringLiteral("SF6-2026-0002"));
    EXPECT_EQ(c.supersedes, QStringLiteral("SF6-2026-0001"));
    EXPECT_EQ(c.amendReason, QStringLiteral("相对湿度记录有误"));
    EXPECT_EQ(c.humidity, QStringLiteral("60"));
    EXPECT_EQ(c.tester, QStringLiteral("张三"));
    EXPECT_EQ(c.checker, QStringLiteral("李四"));
    EXPECT_EQ(c.approver, QStringLiteral("王五"));
    EXPECT_EQ(c.asLeft.recordId, ids[2]);
    ASSERT_TRUE(c.asFound.has_value());
    EXPECT_EQ(c.asFound->recordId, ids[0]);

    auto old = findCertificate(*archive, QStringLiteral("SF6-2026-0001"));
    ASSERT_TRUE(old.ok() && old->has_value());
    EXPECT_EQ((*old)->state.supersededBy, QStringLiteral("SF6-2026-0002"));
    EXPECT_EQ(stateText((*old)->state), kStateSuperseded);
    EXPECT_EQ((*old)->content.humidity, QStringLiteral("55")) << "the old one stays as issued";
    auto again = amend(*archive, QStringLiteral("SF6-2026-0001"), QStringLiteral("再改"), changes);
    ASSERT_FALSE(again.ok());
    EXPECT_TRUE(again.error().contains(QStringLiteral("已被 SF6-2026-0002 替代")));

    auto listed = listCertificates(*archive);
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ(stateText((*listed)[0].state), kStateSuperseded);
    EXPECT_EQ(stateText((*listed)[1].state), kStateUnapproved);
    EXPECT_EQ((*listed)[1].relaySerial, QStringLiteral("R1"));
}

// What was issued is what is read back, whatever is edited afterwards.
TEST_P(Certificates, aReprintIsWhatWasIssuedAfterTheRelayTheStandardAndTheLabChanged)
{
    auto issued = certify(*archive, request(ids[0]));
    ASSERT_TRUE(issued.ok()) << issued.error().toStdString();
    auto printed = findCertificate(*archive, issued->content.number);
    ASSERT_TRUE(printed.ok() && printed->has_value());
    const QStringList before = pageTexts(**printed);
    RelayTexts relay;
    relay.name = QStringLiteral("改名");
    relay.alarm = QStringLiteral("0.45");
    ASSERT_TRUE(editRelay(*archive, QStringLiteral("R1"), relay, QStringLiteral("test"))->refused);
    StandardTexts standard;
    standard.certificate = QStringLiteral("JZ2027-0001");
    ASSERT_TRUE(saveStandard(*archive, kStandard, standard).ok());
    LabTexts lab;
    lab.name = QStringLiteral("新实验室");
    ASSERT_TRUE(saveLab(*archive, lab).ok());

    auto again = findCertificate(*archive, issued->content.number);
    ASSERT_TRUE(again.ok() && again->has_value()) << again.error().toStdString();
    EXPECT_EQ(canonicalContent((*again)->content), canonicalContent(issued->content));
    EXPECT_EQ((*again)->sha256, issued->sha256);
    EXPECT_EQ((*again)->content.lab.name, QStringLiteral("华东电力试验研究院"));
    EXPECT_EQ((*again)->content.standard.certificate, QStringLiteral("JZ2026-0815"));
    EXPECT_EQ((*again)->content.details.relayName, QStringLiteral("主变A相"));
    EXPECT_EQ(pageTexts(**again), before);
    EXPECT_TRUE(before.join(u'\n').contains(QStringLiteral("JZ2026-0815")));
    auto check = verifyCertificate(*archive, issued->content.number);
    ASSERT_TRUE(check.ok());
    EXPECT_TRUE(check->problem.isEmpty()) << check->problem.toStdString();
}

TEST_P(Certificates, theEngineRefusesAHandWrittenChangeOfACertificate)
{
    const QString number = issue(ids[0]);
    ASSERT_TRUE(approve(*archive, number, QStringLiteral("王五")));
    QSqlQuery q(archive->database());
    EXPECT_FALSE(q.exec(QStringLiteral("UPDATE certificates SET verdict = '合格', tester = 'x'")));
    EXPECT_FALSE(q.exec(QStringLiteral("DELETE FROM certificates")));
    EXPECT_FALSE(q.exec(QStringLiteral("UPDATE certificate_approvals SET approver = 'x'")));
    EXPECT_EQ((*findCertificate(*archive, number))->state.approvedBy, QStringLiteral("王五"));
    EXPECT_EQ(listCertificates(*archive)->size(), 1u);
}

TEST_P(Certificates, theCheckNamesAnAlteredRecordUnderACertificate)
{
    const QString number = issue(ids[2]);
    issue(ids[0]);
    auto intact = verifyArchive(*archive);
    ASSERT_TRUE(intact.ok()) << intact.error().toStdString();
    EXPECT_TRUE(intact->intact()) << intact->firstProblem.toStdString();
    EXPECT_EQ(intact->certificates, 2);
    EXPECT_EQ(intact->summary(), QStringLiteral("存档完整：%1条审计记录，2份证书").arg(intact->auditRows));
    auto code = verifyCertificate(*archive, number);
    ASSERT_TRUE(code.ok());
    EXPECT_EQ(code->code, verificationCode((*findCertificate(*archive, number))->sha256));

    // One pressure of the record changed behind the program.
    QByteArray raw = (*findRecord(*archive, ids[2]))->raw;
    raw[20] = char(raw[20] ^ 1);
    const QString bytes = (sqlite() ? QStringLiteral("X'%1'") : QStringLiteral("decode('%1', 'hex')"))
                              .arg(QString::fromLatin1(raw.toHex()));
    tamper(QStringLiteral("records"), QStringLiteral("UPDATE records SET raw = %1 WHERE id = %2").arg(bytes).arg(ids[2]));
    auto altered = verifyArchive(*archive);
    ASSERT_TRUE(altered.ok());
    EXPECT_FALSE(altered->intact());
    EXPECT_EQ(altered->firstProblem, QStringLiteral("证书 %1 的记录 %2 已被改动，与出具时不符").arg(number).arg(ids[2]));
    EXPECT_EQ(verifyCertificate(*archive, number)->problem, altered->firstProblem);
    EXPECT_EQ(verifyCertificate(*archive, number)->code, code->code) << "the code printed on the paper";
}

TEST_P(Certificates, theCheckNamesARecordWhoseListedColumnsNoLongerSayWhatItsBytesSay)
{
    const QString number = issue(ids[2]);
    // The bytes stay as certified; the temperature the history shows and sorts by is changed.
    tamper(QStringLiteral("records"),
           QStringLiteral("UPDATE records SET temperature_tenths = temperature_tenths + 10 WHERE id = %1").arg(ids[2]));
    auto altered = verifyArchive(*archive);
    ASSERT_TRUE(altered.ok());
    EXPECT_EQ(altered->firstProblem, QStringLiteral("证书 %1 的记录 %2 已被改动，与出具时不符").arg(number).arg(ids[2]));
    EXPECT_EQ(verifyCertificate(*archive, number)->problem, altered->firstProblem);
}

TEST_P(Certificates, theCheckNamesAnAlteredCertificateOrAuditRow)
{
    const QString number = issue(ids[0]);
    tamper(QStringLiteral("certificates"),
           QStringLiteral("UPDATE certificates SET content = REPLACE(content, '\"humidity\":\"55\"', '\"humidity\":\"45\"')"));
    auto content = verifyArchive(*archive);
    ASSERT_TRUE(content.ok());
    EXPECT_TRUE(content->firstProblem.contains(QStringLiteral("证书 %1 的内容已被改动").arg(number)))
        << content->firstProblem.toStdString();

    // Content and hash made to agree again: the audit row still holds the hash as issued.
    auto forged = findCertificate(*archive, number);
    ASSERT_TRUE(forged.ok() && forged->has_value());
    tamper(QStringLiteral("certificates"), QStringLiteral("UPDATE certificates SET sha256 = '%1'")
                                               .arg(contentSha256((*forged)->content)));
    EXPECT_TRUE(verifyArchive(*archive)->firstProblem.contains(QStringLiteral("审计记录")));

    // An altered audit row comes first: the chain is checked before the certificates.
    tamper(QStringLiteral("audit"), QStringLiteral("UPDATE audit SET reason = 'x' WHERE id = 1"));
    auto audit = verifyArchive(*archive);
    EXPECT_FALSE(audit->intact());
    EXPECT_TRUE(audit->firstProblem.contains(QStringLiteral("第1条审计记录"))) << audit->firstProblem.toStdString();
}

// Two writers issuing at once, each on its own connection: numbers follow on
// without a gap or a double.
TEST_P(Certificates, twoWritersAtOnceGetConsecutiveNumbers)
{
    constexpr int kEach = 8;
    std::vector<QString> numbers[2];
    Status failed[2] = {Status::success(), Status::success()};
    auto writer = [this, &numbers, &failed](int w) {
        auto own = Archive::open(*ArchiveLocation::parse(location));
        if (!own) {
            failed[w] = own.status();
            return;
        }
        for (int i = 0; i < kEach; ++i) {
            auto c = certify(**own, request(ids[w]));
            if (!c) {
                failed[w] = c.status();
                return;
            }
            numbers[w].push_back(c->content.number);
        }
    };
    // QThreads: Qt keeps the thread data of its own threads, which the
    // Windows build loses for an adopted std::thread that opened a database.
    std::unique_ptr<QThread> a(QThread::create(writer, 0)), b(QThread::create(writer, 1));
    a->start();
    b->start();
    a->wait();
    b->wait();
    ASSERT_TRUE(failed[0]) << failed[0].message().toStdString();
    ASSERT_TRUE(failed[1]) << failed[1].message().toStdString();
    std::set<QString> all(numbers[0].begin(), numbers[0].end());
    all.insert(numbers[1].begin(), numbers[1].end());
    ASSERT_EQ(all.size(), size_t(2 * kEach));
    int expected = 1;
    for (const QString& n : all)
        EXPECT_EQ(n, QStringLiteral("SF6-2026-%1").arg(expected++, 4, 10, QChar(u'0')));
}

INSTANTIATE_TEST_SUITE_P(Engines, Certificates, archivetest::testedEngines(), archivetest::engineName);
INSTANTIATE_TEST_SUITE_P(File, CertificatesOnAPc, ::testing::Values(Engine::SQLite), archivetest::engineName);

// ---- what a certificate says, without an archive --------------------------

namespace {

CertificateContent sample()
{
    CertificateContent c;
    c.number = QStringLiteral("SF6-2026-0007");
    c.year = 2026;
    c.sequence = 7;
    c.issuedAt = QStringLiteral("2026-03-01 10:00:00");
    c.lab.name = QStringLiteral("实验室 \"甲\"\\");
    c.relay.serial = QStringLiteral("R\t1");
    c.relay.alarm = Decimal::parse(QStringLiteral("0.55"));
    c.relay.diffLimit = Decimal::parseExact(QStringLiteral("0.0000005"));
    c.standard.validUntil = QStringLiteral("2030-06-30");
    c.details.title = QStringLiteral("SF6密度继电器校验报告");
    c.asLeft.recordId = 3;
    c.asLeft.raw = QByteArray::fromHex("00ff7a10");
    c.asLeft.verdict = QStringLiteral("合格");
    c.asLeft.conclusion.line = QStringLiteral("结论：合格");
    c.asLeft.conclusion.rule = {{QStringLiteral("量程"), QStringLiteral("-0.1～0.9MPa")}};
    c.asLeft.conclusion.items = {{QStringLiteral("报警"), QStringLiteral("均值"), QStringLiteral("合格")}};
    CertifiedRecord found = c.asLeft;
    found.recordId = 1;
    found.verdict = QStringLiteral("不合格");
    c.asFound = found;
    c.humidity = QStringLiteral("55");
    c.tester = QStringLiteral("张三");
    return c;
}

} // namespace

TEST(CertificateContentTest, readsBackExactlyAndHashesTheSame)
{
    const CertificateContent c = sample();
    auto back = contentFromJson(QJsonDocument::fromJson(canonicalContent(c)).object());
    ASSERT_TRUE(back.ok()) << back.error().toStdString();
    EXPECT_EQ(canonicalContent(*back), canonicalContent(c));
    EXPECT_EQ(back->relay.diffLimit, c.relay.diffLimit);
    EXPECT_FALSE(back->relay.lock1.has_value());
    EXPECT_EQ(back->asFound->verdict, QStringLiteral("不合格"));
    CertificateContent noAsFound = c;
    noAsFound.asFound.reset();
    auto single = contentFromJson(toJson(noAsFound));
    ASSERT_TRUE(single.ok());
    EXPECT_FALSE(single->asFound.has_value());
    EXPECT_NE(contentSha256(noAsFound), contentSha256(c));
}

TEST(CertificateContentTest, theHashCoversEveryFieldAndTheRawBytesAsHex)
{
    const CertificateContent c = sample();
    const QByteArray canonical = canonicalContent(c);
    EXPECT_TRUE(canonical.contains("\"raw\":\"00ff7a10\"")) << canonical.constData();
    EXPECT_FALSE(canonical.contains('\n'));
    EXPECT_TRUE(canonical.startsWith("{\"amendReason\":")) << "keys sorted";
    const QString sha = contentSha256(c);
    EXPECT_EQ(sha.size(), 64);
    EXPECT_EQ(sha, sha.toLower());
    EXPECT_EQ(verificationCode(sha).size(), 19) << "XXXX-XXXX-XXXX-XXXX";
    CertificateContent changed = c;
    changed.asLeft.raw[1] = 0x7f;
    EXPECT_NE(contentSha256(changed), sha);
    changed = c;
    changed.asFound->conclusion.items[0][2] = QStringLiteral("不合格");
    EXPECT_NE(contentSha256(changed), sha) << "the conclusions as printed are covered";
    changed = c;
    changed.standard.validUntil = QStringLiteral("2030-07-01");
    EXPECT_NE(contentSha256(changed), sha);
}

TEST(CertificateContentTest, contentWithAFieldMissingOrMisTypedIsRefused)
{
    QJsonObject o = toJson(sample());
    o.remove(QStringLiteral("checker"));
    EXPECT_FALSE(contentFromJson(o).ok());
    o = toJson(sample());
    QJsonObject left = o.value(QStringLiteral("asLeft")).toObject();
    left.insert(QStringLiteral("raw"), QStringLiteral("00FF"));
    o.insert(QStringLiteral("asLeft"), left);
    auto upper = contentFromJson(o);
    ASSERT_FALSE(upper.ok()) << "upper-case hex would hash differently";
    EXPECT_TRUE(upper.error().contains(QStringLiteral("raw")));
    o = toJson(sample());
    o.insert(QStringLiteral("year"), QStringLiteral("2026"));
    EXPECT_FALSE(contentFromJson(o).ok());
}

TEST(CertificateContentTest, theStateIsSupersededOverApprovedOverUnapproved)
{
    CertificateState s;
    EXPECT_EQ(stateText(s), QStringLiteral("未批准"));
    s.approvedBy = QStringLiteral("王五");
    EXPECT_EQ(stateText(s), QStringLiteral("已批准"));
    s.supersededBy = QStringLiteral("SF6-2026-0002");
    EXPECT_EQ(stateText(s), QStringLiteral("已替代"));
}
