// The decision rule in a real archive, on SQLite and PostgreSQL: the lab's
// rule and a standard's U and k kept in their versions, a guard band that
// refuses without a numeric U, judgements that keep the rule they were made
// with, a certificate that prints it with the P20 line and the due date, and
// an archive of the fifth schema upgraded.
#include "archive/Schema.h"
#include "certificate/Certificate.h"
#include "certificate/CertificatePages.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"
#include "tests/archive/SyncedArchive.h"

#include <QSqlQuery>
#include <QTemporaryDir>

using namespace sf6;
using archivetest::Engine;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

QByteArray record(int day, uint16_t alarmP20 = 386)
{
    return sim::encodeRecord(sim::agreeingRecord(day, alarmP20));
}

class Rules : public archivetest::SyncedArchive {
protected:
    void SetUp() override
    {
        openWithRecords({record(1), record(2, 391)});
        ASSERT_FALSE(HasFatalFailure());
        RelayEntry r;
        r.serial = QStringLiteral("R1");
        r.alarm = Decimal::parse(QStringLiteral("0.401"));   // error -0.015: passes simply, undecided in the band
        r.intervalMonths = 18;
        ASSERT_TRUE(saveRelay(*archive, r, QStringLiteral("test")).ok());
        ASSERT_TRUE(linkRecords(*archive, ids, QStringLiteral("R1")));
        LabTexts lab;
        lab.name = QStringLiteral("华东电力试验研究院");
        ASSERT_TRUE(saveLab(*archive, lab).ok());
        StandardTexts st;
        st.validUntil = QStringLiteral("2030-06-30");
        st.uncertainty = QStringLiteral("0.05级");
        st.expandedUncertainty = QStringLiteral("0.0020");
        ASSERT_TRUE(saveStandard(*archive, QStringLiteral("S1"), st).ok());
        st.expandedUncertainty = QString();
        ASSERT_TRUE(saveStandard(*archive, QStringLiteral("S0"), st).ok());
    }
    void guardBand()
    {
        LabTexts lab;
        lab.decisionRule = QStringLiteral("guard-band");
        auto saved = saveLab(*archive, lab);
        ASSERT_TRUE(saved.ok()) << saved.error().toStdString();
        EXPECT_EQ(saved->version, 2);
    }
};

} // namespace

TEST_P(Rules, aStandardKeepsItsUAndKAndTheLabItsRuleInTheirVersions)
{
    const auto s1 = findStandard(*archive, QStringLiteral("S1"));
    ASSERT_TRUE(s1.ok() && s1->has_value());
    EXPECT_EQ((*s1)->expandedUncertainty, QStringLiteral("0.002"));
    EXPECT_EQ((*s1)->coverageFactor, QStringLiteral("2"));
    StandardTexts k;
    k.coverageFactor = QStringLiteral("1.96");
    EXPECT_EQ(saveStandard(*archive, QStringLiteral("S1"), k)->coverageFactor, QStringLiteral("1.96"));
    k.coverageFactor = QStringLiteral("0");
    const auto zero = saveStandard(*archive, QStringLiteral("S1"), k);
    ASSERT_FALSE(zero.ok());
    EXPECT_EQ(zero.error(), QStringLiteral("标准器：「包含因子k」应为正数（例如 0.002）：0，未保存。"));
    EXPECT_EQ((*findStandard(*archive, QStringLiteral("S0")))->coverageFactor, QString());

    EXPECT_EQ((*currentLab(*archive))->decisionRule, QStringLiteral("simple"));
    LabTexts wrong;
    wrong.decisionRule = QStringLiteral("strict");
    EXPECT_FALSE(saveLab(*archive, wrong).ok());
    guardBand();
    EXPECT_EQ((*currentLab(*archive))->decisionRule, QStringLiteral("guard-band"));
}

TEST_P(Rules, aGuardBandRefusesWithoutANumericUAndOldJudgementsKeepTheirRule)
{
    auto simple = judgeRecord(*archive, ids[0]);
    ASSERT_TRUE(simple.ok() && simple->judgement) << (simple ? simple->whyNot : simple.error()).toStdString();
    EXPECT_EQ(simple->judgement->judgement.verdict(), QStringLiteral("合格"));
    const int simpleId = simple->judgement->id;

    guardBand();
    auto none = judgeRecord(*archive, ids[0]);
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none->judgement);
    EXPECT_EQ(none->whyNot, QStringLiteral("判定规则为保护带，需要标准器的扩展不确定度：没有指定标准器，不作判定"));
    auto noU = judgeRecord(*archive, ids[0], true, QStringLiteral("S0"));
    EXPECT_EQ(noU->whyNot, QStringLiteral("判定规则为保护带，标准器 S0 没有填写数值的扩展不确定度U，不作判定"));

    auto banded = judgeRecord(*archive, ids[0], true, QStringLiteral("S1"));
    ASSERT_TRUE(banded.ok() && banded->judgement) << banded->whyNot.toStdString();
    EXPECT_NE(banded->judgement->id, simpleId);
    EXPECT_EQ(banded->judgement->judgement.verdict(), QStringLiteral("无法判定"));
    EXPECT_EQ(banded->judgement->judgement.rule.expanded.text(), QStringLiteral("0.002"));

    // The first judgement is as it was made; back to the simple rule, it stands again.
    auto first = findJudgement(*archive, simpleId);
    ASSERT_TRUE(first.ok() && first->has_value());
    EXPECT_EQ((*first)->judgement.verdict(), QStringLiteral("合格"));
    EXPECT_FALSE((*first)->judgement.rule.guardBand());
    LabTexts back;
    back.decisionRule = QStringLiteral("simple");
    ASSERT_TRUE(saveLab(*archive, back).ok());
    EXPECT_EQ(judgeRecord(*archive, ids[0])->judgement->id, simpleId);
    EXPECT_EQ(judgementsOf(*archive, ids[0])->size(), 2u);
}

TEST_P(Rules, aCertificatePrintsTheRuleTheP20LineAndTheNextDate)
{
    guardBand();
    CertifyRequest rq;
    rq.recordId = ids[0];
    rq.standardSerial = QStringLiteral("S1");
    rq.tester = QStringLiteral("张三");
    rq.checker = QStringLiteral("李四");
    auto c = certify(*archive, rq);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    EXPECT_EQ(c->content.asLeft.verdict, QStringLiteral("无法判定"));
    EXPECT_EQ(c->content.decisionRule, guardBandSentence(DecisionRule{DecisionRule::GuardBand, Decimal::fromThousandths(2)}));
    QStringList texts;
    for (const ReportPage& page : certificatePages(c->content, {}))
        for (const PageLabel& l : page.labels)
            texts << l.text;
    EXPECT_TRUE(texts.contains(c->content.decisionRule));
    EXPECT_TRUE(texts.contains(QStringLiteral("P20换算核查：24项一致，最大偏差0.000MPa")));
    EXPECT_TRUE(texts.contains(QStringLiteral("建议下次校准日期")));
    EXPECT_TRUE(texts.contains(QStringLiteral("2013-11-01"))) << "2012-05-01 + 18 months";
    // Read back from the archive, the certificate still checks.
    EXPECT_TRUE(verifyCertificate(*archive, c->content.number)->problem.isEmpty());

    // The record whose P20 disagrees needs the confirmation, and says it had it.
    rq.recordId = ids[1];
    const auto refused = certify(*archive, rq);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains(QStringLiteral("需确认后才能出具证书"))) << refused.error().toStdString();
    EXPECT_EQ(*p20ConfirmationNeeded(*archive, ids[1]), refused.error());
    EXPECT_TRUE(p20ConfirmationNeeded(*archive, ids[0])->isEmpty());
    rq.acceptP20 = true;
    auto accepted = certify(*archive, rq);
    ASSERT_TRUE(accepted.ok()) << accepted.error().toStdString();
    EXPECT_TRUE(accepted->content.p20Accepted);
    QStringList last;
    for (const ReportPage& page : certificatePages(accepted->content, {}))
        for (const PageLabel& l : page.labels)
            last << l.text;
    EXPECT_TRUE(last.contains(QStringLiteral(
        "P20换算核查：1项不一致（P20报警值2偏差+0.005MPa），23项一致；经确认出具"))) << last.join(u'|').toStdString();
    EXPECT_TRUE(verifyCertificate(*archive, accepted->content.number)->problem.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines, Rules, archivetest::testedEngines(), archivetest::engineName);

// An archive of the fifth schema: its judgements were made with the simple
// rule and read so, its lab profile has the simple rule, and new ones keep theirs.
TEST(RuleSchema, anArchiveOfTheFifthSchemaIsUpgradedAndItsJudgementsStaySimple)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("v5.sqlite"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v5"));
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const schema::Step& step : schema::steps()) {
            if (step.version > 5)
                continue;
            for (const QString& sql : step.statements)
                ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
        }
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (5)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO lab_versions (id, version, changed_at, source, name, address, phone, "
                                          "accreditation, prefix) VALUES (1, 1, '2026-01-02 03:04:05', 'old', 'L', '', '', '', 'SF6')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v5"));
    auto a = Archive::open(*ArchiveLocation::parse(file));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    EXPECT_EQ((*a)->schemaVersion(), schema::kCurrentVersion);
    EXPECT_EQ((*currentLab(**a))->decisionRule, QStringLiteral("simple"));
    auto s = archiveSync(**a, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 1,
                                      SyncEnd::Complete, {record(1)}});
    ASSERT_TRUE(s.ok());
    RelayEntry r;
    r.serial = QStringLiteral("R1");
    r.alarm = Decimal::parse(QStringLiteral("0.40"));
    ASSERT_TRUE(saveRelay(**a, r, QStringLiteral("test")).ok());
    ASSERT_TRUE(linkRecord(**a, s->recordIds[0], QStringLiteral("R1")));
    auto j = judgeRecord(**a, s->recordIds[0]);
    ASSERT_TRUE(j.ok() && j->judgement);
    EXPECT_EQ(j->judgement->judgement.verdict(), QStringLiteral("合格"));
}
