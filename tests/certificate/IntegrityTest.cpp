// The ways round a certificate that the check or the engine must catch, each
// done as someone with write access to the database would do it, on SQLite
// and PostgreSQL: approvals and audit rows added by hand, certificates and
// the newest rows cut, columns and versions edited, guards dropped; and the
// rules on names, clocks, texts and numbers that are easy to get round.
#include "archive/Schema.h"
#include "certificate/CertificateRules.h"
#include "tests/certificate/CertificateFixture.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

using namespace sf6;
using archivetest::Engine;
using certtest::kStandard;

namespace {

class Integrity : public certtest::Certificates {
protected:
    QString verified()
    {
        auto v = verifyArchive(*archive);
        EXPECT_TRUE(v.ok()) << v.error().toStdString();
        return v ? v->firstProblem : QStringLiteral("verify failed");
    }
    int certificateId(const QString& number)
    {
        QSqlQuery q(archive->database());
        q.exec(QStringLiteral("SELECT id FROM certificates WHERE number = '%1'").arg(number));
        return q.next() ? q.value(0).toInt() : 0;
    }
    int lastAuditId()
    {
        QSqlQuery q(archive->database());
        q.exec(QStringLiteral("SELECT MAX(id) FROM audit"));
        return q.next() ? q.value(0).toInt() : 0;
    }
    // A row appended to the trail by hand, linked to the one before as the program would.
    void forgeAuditRow(const QString& action, const QString& object, const QJsonObject& values)
    {
        AuditRow last;
        ASSERT_TRUE(forEachAuditRow(*archive, [&](const AuditRow& r) {
            last = r;
            return true;
        }));
        AuditRow row;
        row.id = last.id + 1;
        row.at = now;
        row.user = QStringLiteral("engineer1");
        row.host = QStringLiteral("pc");
        row.program = QStringLiteral("psql");
        row.action = action;
        row.object = object;
        row.newValues = QString::fromUtf8(QJsonDocument(values).toJson(QJsonDocument::Compact));
        row.reason = QStringLiteral("");
        row.previousHash = last.hash;
        row.hash = auditRowHash(row.previousHash, row);
        QSqlQuery q(archive->database());
        q.prepare(QStringLiteral("INSERT INTO audit (id, at, os_user, host, program, action, object, old_values, new_values, "
                                 "reason, previous_hash, hash) VALUES (?, ?, ?, ?, ?, ?, ?, NULL, ?, ?, ?, ?)"));
        for (const QVariant& v : {QVariant(row.id), QVariant(row.at), QVariant(row.user), QVariant(row.host),
                                  QVariant(row.program), QVariant(row.action), QVariant(row.object),
                                  QVariant(row.newValues), QVariant(row.reason), QVariant(row.previousHash),
                                  QVariant(row.hash)})
            q.addBindValue(v);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
    void exec(const QString& sql)
    {
        QSqlQuery q(archive->database());
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << q.lastError().text().toStdString();
    }
    QString refusal(const QString& sql)
    {
        QSqlQuery q(archive->database());
        return q.exec(sql) ? QStringLiteral("done: ") + sql : Archive::reason(q.lastError());
    }
};

// A clock the test sets: the PC's, which a SQLite archive takes. A server's
// archive takes the server's own time whatever the PC says.
class IntegrityOnAPc : public Integrity {};

} // namespace

// An INSERT is all the guard allows, and all a fake approval needs: the check
// finds it without its audit row, and with a forged row the trail no longer
// ends where the archive's head says.
TEST_P(Integrity, aFakeApprovalByInsertIsNamed)
{
    const QString number = issue(ids[0]);
    ASSERT_TRUE(verified().isEmpty()) << verified().toStdString();
    exec(QStringLiteral("INSERT INTO certificate_approvals (certificate_id, approver, approved_at, approved_by) "
                        "VALUES (%1, '院长', '%2', 'x')")
             .arg(certificateId(number))
             .arg(now));
    EXPECT_EQ(verified(), QStringLiteral("证书 %1 的批准（院长）在审计记录中没有记录").arg(number));

    forgeAuditRow(audit::kCertificateApproved, QStringLiteral("certificate ") + number,
                  {{QStringLiteral("approver"), QStringLiteral("院长")}, {QStringLiteral("approvedAt"), now}});
    const int forged = lastAuditId();
    EXPECT_EQ(verified(), QStringLiteral("第%1条及以后的审计记录不是本程序写入的（存档记下的审计记录只有%2条）")
                              .arg(forged)
                              .arg(forged - 1));
}

// A certificate taken out with its approval, the rows of its issue left on
// the trail: the trail names it. An approval taken out alone is named too.
TEST_P(Integrity, aDeletedCertificateOrApprovalIsNamedByTheTrail)
{
    const QString number = issue(ids[0]);
    const QString other = issue(ids[1]);
    ASSERT_TRUE(approve(*archive, number, QStringLiteral("王五")));
    ASSERT_TRUE(approve(*archive, other, QStringLiteral("王五")));
    tamper(QStringLiteral("certificate_approvals"),
           QStringLiteral("DELETE FROM certificate_approvals WHERE certificate_id = %1").arg(certificateId(other)));
    EXPECT_TRUE(verified().startsWith(QStringLiteral("证书 %1 的批准记录已被删除").arg(other))) << verified().toStdString();

    const int id = certificateId(number);
    tamper(QStringLiteral("certificate_approvals"),
           QStringLiteral("DELETE FROM certificate_approvals WHERE certificate_id = %1").arg(id));
    if (sqlite())
        exec(QStringLiteral("PRAGMA foreign_keys = OFF"));
    tamper(QStringLiteral("certificates"), QStringLiteral("DELETE FROM certificates WHERE id = %1").arg(id));
    auto v = verifyArchive(*archive);
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v->certificates, 1);
    EXPECT_TRUE(v->firstProblem.startsWith(QStringLiteral("证书 %1 的批准记录已被删除").arg(number))
                || v->firstProblem.startsWith(QStringLiteral("证书 %1 已不在存档中").arg(number)))
        << v->firstProblem.toStdString();
}

// The newest rows cut together with what they recorded: the head kept apart
// shows the trail ends too early and nothing more is written on it; a number
// once given is not given again.
TEST_P(Integrity, cuttingTheNewestRowsIsSeenAndNoNumberComesTwice)
{
    issue(ids[0]);
    ASSERT_EQ(issue(ids[1]), QStringLiteral("SF6-2026-0002"));
    if (sqlite())
        exec(QStringLiteral("PRAGMA foreign_keys = OFF"));
    tamper(QStringLiteral("certificates"), QStringLiteral("DELETE FROM certificates WHERE number = 'SF6-2026-0002'"));
    EXPECT_EQ(issue(ids[2]), QStringLiteral("SF6-2026-0003")) << "0002 was given once already";

    const int before = lastAuditId();
    const QString fourth = issue(ids[0]);
    ASSERT_EQ(fourth, QStringLiteral("SF6-2026-0004"));
    tamper(QStringLiteral("certificates"), QStringLiteral("DELETE FROM certificates WHERE number = '%1'").arg(fourth));
    tamper(QStringLiteral("audit"), QStringLiteral("DELETE FROM audit WHERE id > %1").arg(before));
    EXPECT_EQ(verified(), QStringLiteral("第%1条及以后的审计记录已被删除（存档记下的审计记录有%2条）")
                              .arg(before + 1)
                              .arg(before + 1));
    // The head cannot be moved back, nor a year's last number lowered.
    EXPECT_EQ(refusal(QStringLiteral("UPDATE archive_head SET audit_id = %1").arg(before)), schema::kForwardOnly);
    EXPECT_EQ(refusal(QStringLiteral("UPDATE certificate_numbers SET last_sequence = 1")), schema::kForwardOnly);
    EXPECT_EQ(refusal(QStringLiteral("DELETE FROM certificate_numbers")), schema::kForwardOnly);
    EXPECT_EQ(refusal(QStringLiteral("DELETE FROM archive_head")), schema::kForwardOnly);

    auto next = certify(*archive, request(ids[2]));
    ASSERT_FALSE(next.ok()) << next->content.number.toStdString();
    EXPECT_TRUE(next.error().contains(QStringLiteral("审计记录可能被截去"))) << next.error().toStdString();
}

// The list shows what the certificate says; the check names the column.
TEST_P(Integrity, aCertificatesColumnsChangedByHandShowNowhereAndAreNamed)
{
    const QString number = issue(ids[0]);
    const QString verdict = (*listCertificates(*archive))[0].verdict;
    const QString issuedAt = (*listCertificates(*archive))[0].issuedAt;
    const QString flipped = verdict == QStringLiteral("合格") ? QStringLiteral("不合格") : QStringLiteral("合格");
    tamper(QStringLiteral("certificates"),
           QStringLiteral("UPDATE certificates SET verdict = '%1', tester = '赵六'").arg(flipped));
    auto listed = listCertificates(*archive);
    ASSERT_TRUE(listed.ok() && listed->size() == 1u);
    EXPECT_EQ((*listed)[0].verdict, verdict);
    EXPECT_EQ((*listed)[0].tester, QStringLiteral("张三"));
    EXPECT_EQ(verified(), QStringLiteral("证书 %1 的「结论」一栏已被改动，与证书内容不符").arg(number));
    EXPECT_EQ(verifyCertificate(*archive, number)->problem, verified());

    // A version that does not exist: SQLite checks no reference with its foreign keys off.
    LabTexts renamed;
    renamed.name = QStringLiteral("别的实验室");
    ASSERT_TRUE(saveLab(*archive, renamed).ok());
    if (sqlite())
        exec(QStringLiteral("PRAGMA foreign_keys = OFF"));
    const QString otherLab = sqlite() ? QStringLiteral("999") : QStringLiteral("(SELECT MAX(id) FROM lab_versions)");
    for (const auto& [column, caption] : {std::pair{QStringLiteral("issued_at = '2026-03-02 10:00:00'"), QStringLiteral("出具时间")},
                                          std::pair{QStringLiteral("lab_version_id = ") + otherLab, QStringLiteral("实验室信息版本")},
                                          std::pair{QStringLiteral("serial_number = 'R2'"), QStringLiteral("继电器编号")}}) {
        tamper(QStringLiteral("certificates"),
               QStringLiteral("UPDATE certificates SET verdict = '%1', tester = '张三', %2").arg(verdict, column));
        EXPECT_EQ(verified(), QStringLiteral("证书 %1 的「%2」一栏已被改动，与证书内容不符").arg(number, caption));
        tamper(QStringLiteral("certificates"), QStringLiteral("UPDATE certificates SET issued_at = '%1', lab_version_id = "
                                                              "(SELECT MIN(id) FROM lab_versions), serial_number = 'R1'")
                                                   .arg(issuedAt));
    }
    EXPECT_TRUE(verified().isEmpty()) << verified().toStdString();
}

// Versions are kept as they are; a new one without its audit row, or a
// pointer to anything but the newest, is refused or named.
TEST_P(Integrity, versionsAreKeptAndAStandardRevivedByHandIsNamed)
{
    issue(ids[0]);
    for (const QString& sql : {QStringLiteral("UPDATE lab_versions SET name = '别的实验室'"),
                               QStringLiteral("DELETE FROM standard_versions"),
                               QStringLiteral("UPDATE relay_versions SET alarm_nominal = '0.60'")})
        EXPECT_EQ(refusal(sql), schema::kRowsKeptAsTheyAre) << sql.toStdString();

    // An expired standard made valid again by a version of one's own.
    StandardTexts expired;
    expired.validUntil = QStringLiteral("2012-01-01");
    ASSERT_TRUE(saveStandard(*archive, QStringLiteral("STD-OLD"), expired).ok());
    EXPECT_EQ(refusal(QStringLiteral("UPDATE standards SET current_version = 1 WHERE serial_number = 'STD-OLD'")),
              schema::kNewestVersionOnly);
    exec(QStringLiteral("INSERT INTO standard_versions (id, serial_number, version, changed_at, source, name, model, "
                        "certificate, issuer, valid_until, uncertainty) SELECT MAX(id) + 1, 'STD-OLD', 2, '%1', 'x', '', "
                        "'', '', '', '2099-12-31', '' FROM standard_versions")
             .arg(now));
    exec(QStringLiteral("UPDATE standards SET current_version = (SELECT MAX(id) FROM standard_versions) "
                        "WHERE serial_number = 'STD-OLD'"));
    EXPECT_EQ(verified(), QStringLiteral("标准器 STD-OLD 的第2版在审计记录中没有记录"));
}

// Each writer looks for the guards first and writes nothing without them;
// the check names them, also when one was put back doing nothing.
TEST_P(Integrity, aDroppedGuardStopsEveryWriteAndIsNamed)
{
    const QString trigger = sqlite() ? QStringLiteral("records_kept_delete") : QStringLiteral("records_kept");
    exec(sqlite() ? QStringLiteral("DROP TRIGGER records_kept_delete")
                  : QStringLiteral("ALTER TABLE records DISABLE TRIGGER records_kept"));
    LabTexts lab;
    lab.phone = QStringLiteral("021-1");
    auto refused = saveLab(*archive, lab);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains(schema::missingGuardsText({trigger}))) << refused.error().toStdString();
    EXPECT_EQ((*currentLab(*archive))->version, 1) << "nothing written";
    EXPECT_FALSE(certify(*archive, request(ids[0])).ok());
    EXPECT_EQ(verified(), schema::missingGuardsText({trigger}));

    if (sqlite()) {
        // Back under its name, but never refusing anything.
        exec(QStringLiteral("CREATE TRIGGER records_kept_delete BEFORE DELETE ON records WHEN 0 "
                            "BEGIN SELECT RAISE(ABORT, 'x'); END"));
        EXPECT_EQ(verified(), schema::missingGuardsText({trigger}));
    } else {
        exec(QStringLiteral("ALTER TABLE records ENABLE TRIGGER records_kept"));
        exec(QStringLiteral("CREATE OR REPLACE FUNCTION sf6_rows_kept() RETURNS trigger LANGUAGE plpgsql AS "
                            "$$ BEGIN RETURN NULL; END $$"));
        EXPECT_TRUE(verified().startsWith(schema::missingGuardsText({}))) << verified().toStdString();
    }
}

// Three different people, however their names are typed; nothing unseen in a name.
TEST_P(Integrity, signersAreThreeDifferentPeopleHoweverTheNamesAreTyped)
{
    const std::pair<QString, QString> same[] = {{QStringLiteral("刘工"), QStringLiteral("刘 工")},
                                                {QStringLiteral("Liu"), QStringLiteral("liu")},
                                                {QStringLiteral("ＬＩＵ"), QStringLiteral("LIU")},
                                                {QStringLiteral("Liu Gong"), QStringLiteral("LIUGONG")}};
    for (const auto& [tester, checker] : same) {
        CertifyRequest rq = request(ids[0]);
        rq.tester = tester;
        rq.checker = checker;
        auto c = certify(*archive, rq);
        ASSERT_FALSE(c.ok()) << tester.toStdString() << " / " << checker.toStdString();
        EXPECT_TRUE(c.error().contains(QStringLiteral("核验员与校验员不能是同一人"))) << c.error().toStdString();
    }
    CertifyRequest hidden = request(ids[0]);
    hidden.checker = QStringLiteral("张三") + QChar(0x200B);
    auto c = certify(*archive, hidden);
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error(), QStringLiteral("「核验员」中有看不见的字符（U+200B），请重新输入，不能出具证书"));
    hidden = request(ids[0]);
    hidden.approver = QStringLiteral("李 四");
    c = certify(*archive, hidden);
    ASSERT_FALSE(c.ok());
    EXPECT_TRUE(c.error().contains(QStringLiteral("批准人不能是校验员或核验员"))) << c.error().toStdString();

    const QString number = issue(ids[0]);
    EXPECT_EQ(number, QStringLiteral("SF6-2026-0001")) << "no number spent on the refusals";
    for (const QString& signer : {QStringLiteral("ｚｈａｎｇ三"), QStringLiteral("张三"), QStringLiteral(" 李四 ")}) {
        const QString name = signer == QStringLiteral("ｚｈａｎｇ三") ? QStringLiteral("张 三") : signer;
        const Status s = approve(*archive, number, name);
        ASSERT_FALSE(s) << name.toStdString();
        EXPECT_TRUE(s.message().contains(QStringLiteral("批准人不能是校验员或核验员"))) << s.message().toStdString();
    }
    EXPECT_FALSE(approve(*archive, number, QStringLiteral("王五") + QChar(0x2060)));
    EXPECT_TRUE(approve(*archive, number, QStringLiteral("王五")));
}

// A clock set back never issues, approves or amends before what is there.
TEST_P(IntegrityOnAPc, aClockSetBackIsRefusedForIssueApprovalAndAmendment)
{
    now = QStringLiteral("2027-03-01 09:00:00");
    const QString number = issue(ids[0]);
    EXPECT_EQ(number, QStringLiteral("SF6-2027-0001"));
    now = QStringLiteral("2026-12-31 23:00:00");
    auto back = certify(*archive, request(ids[1]));
    ASSERT_FALSE(back.ok());
    EXPECT_TRUE(back.error().startsWith(QStringLiteral("电脑的时钟似乎不对：现在是 2026-12-31 23:00:00，早于存档中最近一次出具"
                                                       "或批准证书的时间 2027-03-01 09:00:00")))
        << back.error().toStdString();
    const Status approval = approve(*archive, number, QStringLiteral("王五"));
    ASSERT_FALSE(approval);
    EXPECT_TRUE(approval.message().contains(QStringLiteral("电脑的时钟似乎不对"))) << approval.message().toStdString();
    EXPECT_FALSE(amend(*archive, number, QStringLiteral("改"), {}).ok());
    now = QStringLiteral("2027-03-01 09:00:00");
    EXPECT_TRUE(approve(*archive, number, QStringLiteral("王五"))) << "the same second is no step back";
    EXPECT_EQ(listCertificates(*archive)->size(), 1u);
}

// On a shared server the server's clock gives the time: here a session in
// another time zone than the PC's, so the two cannot agree by chance.
#ifndef _WIN32
class IntegrityOnServer : public Integrity {};

TEST_P(IntegrityOnServer, theServersClockGivesTheTime)
{
    setCertificateClock({});
    archive.reset();
    const QString zone = QStringLiteral("&options=-c%20TimeZone%3DPacific/Kiritimati");
    auto a = Archive::open(*ArchiveLocation::parse(location + zone));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    archive = *a;
    auto c = certify(*archive, request(ids[0]));
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    const QDateTime server = QDateTime::currentDateTimeUtc().addSecs(14 * 3600);
    const QDateTime issued = QDateTime::fromString(c->content.issuedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    EXPECT_LE(std::abs(issued.secsTo(QDateTime(server.date(), server.time()))), 60) << c->content.issuedAt.toStdString();
}

// An engineer of the README's role, who may not insert a certificate,
// approval or audit row, certifies and approves through the owner's writers:
// the rows name the login and the server's time, and the writer refuses
// content naming anyone else or a number out of turn.
TEST_P(IntegrityOnServer, anEngineerCertifiesAndApprovesThroughTheOwnersWriters)
{
    const QString database = location.section(u'/', 3).section(u'?', 0, 0);
    for (QString sql : archivetest::readmeRoleStatements(QStringLiteral(SF6_README)))
        ASSERT_TRUE(archivetest::PgServer::instance().exec(database, sql.replace(QStringLiteral("sf6archive"), database)))
            << sql.toStdString();
    setCertificateClock({});
    archive.reset();
    auto a = Archive::open(*ArchiveLocation::parse(location + QStringLiteral("&user=engineer1")));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    ASSERT_FALSE((*a)->readOnly()) << (*a)->readOnlyReason().toStdString();
    archive = *a;
    const QString engineer = QStringLiteral("engineer1");
    auto c = certify(*archive, request(ids[0]));
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    EXPECT_EQ(c->content.issuedBy, engineer);
    const QString number = c->content.number;
    ASSERT_TRUE(approve(*archive, number, QStringLiteral("王五")));
    QSqlQuery q(archive->database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT c.issued_by, a.approved_by, to_char(c.issued_at, 'YYYY-MM-DD HH24:MI:SS'), "
                                      "c.content FROM certificates c JOIN certificate_approvals a ON a.certificate_id = c.id")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), engineer);
    EXPECT_EQ(q.value(1).toString(), engineer);
    EXPECT_EQ(q.value(2).toString(), c->content.issuedAt);
    const QString content = q.value(3).toString();
    q.finish();
    std::vector<QString> users;
    ASSERT_TRUE(forEachAuditRow(*archive, [&](const AuditRow& r) {
        users.push_back(r.user);
        return true;
    }));
    ASSERT_GE(users.size(), 2u);
    EXPECT_EQ(users.end()[-2], engineer) << "the issue";
    EXPECT_EQ(users.back(), engineer) << "the approval";
    EXPECT_TRUE(verified().isEmpty()) << verified().toStdString();

    // The writer called by hand, in a write never committed.
    auto byHand = [&](const QString& by, int sequence) {
        Archive::Write w(*archive);
        if (!w.begun())
            return w.begun().message();
        auto t = archive->run(QStringLiteral("SELECT to_char(LOCALTIMESTAMP, 'YYYY-MM-DD HH24:MI:SS')"), {}, QStringLiteral("test"));
        if (!t || !t->next())
            return QStringLiteral("no time");
        const QString other = number.left(number.size() - 4) + QStringLiteral("%1").arg(sequence, 4, 10, QChar(u'0'));
        QString body = content;
        body.replace(QStringLiteral("\"issuedBy\":\"engineer1\""), QStringLiteral("\"issuedBy\":\"%1\"").arg(by))
            .replace(number, other)
            .replace(c->content.issuedAt, t->value(0).toString());
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(body.toUtf8(), QCryptographicHash::Sha256).toHex());
        auto issued = archive->run(
            QStringLiteral("SELECT sf6_issue_certificate(?, year, ?, record_id, NULL, serial_number, relay_version_id, "
                           "standard_version_id, lab_version_id, judgement_id, NULL, verdict, tester, checker, approver, "
                           "NULL, ?, ?) FROM certificates WHERE number = ?"),
            {other, sequence, body, sha, number}, QStringLiteral("test"));
        return issued ? QStringLiteral("issued") : issued.error();
    };
    EXPECT_TRUE(byHand(QStringLiteral("boss"), 2).contains(schema::kServerGivesTime)) << byHand(QStringLiteral("boss"), 2).toStdString();
    EXPECT_TRUE(byHand(engineer, 3).contains(schema::kForwardOnly)) << byHand(engineer, 3).toStdString();
    EXPECT_EQ(byHand(engineer, 2), QStringLiteral("issued"));
    EXPECT_EQ(listCertificates(*archive)->size(), 1u);
}
#endif

// A test dated after the day of issue is an instrument's clock gone wrong.
TEST_P(IntegrityOnAPc, aTestDatedInTheFutureIsRefusedAndAnExpiredStandardNamesTheTestDate)
{
    std::mt19937 rng{7};
    sim::RecordFields f = sim::plausibleRecord(0, rng);
    f.year = 52;
    f.month = 3;
    f.day = 25;
    auto s = archiveSync(*archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 1,
                                           SyncEnd::Complete, {sim::encodeRecord(f)}});
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const int future = s->recordIds.front();
    ASSERT_TRUE(linkRecords(*archive, {future}, QStringLiteral("R1")));
    auto c = certify(*archive, request(future));
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error(), QStringLiteral("记录 %1 的测试日期 2052-03-25 晚于今天（2026-03-01），仪器的时钟可能有误，不能出具证书")
                             .arg(future));
    now = QStringLiteral("2053-01-01 08:00:00");
    StandardTexts valid;
    valid.validUntil = QStringLiteral("2027-06-30");
    ASSERT_TRUE(saveStandard(*archive, kStandard, valid).ok());
    c = certify(*archive, request(future));
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error(), QStringLiteral("标准器 STD-1 的证书（有效期至 2027-06-30）在测试日期 2052-03-25 之前已过期，不能出具证书"));
}

// The prefix fits the page; the humidity is a number from 0 to 100, kept as typed.
TEST_P(Integrity, thePrefixIsShortAndTheHumidityANumberAsTyped)
{
    LabTexts lab;
    lab.prefix = QStringLiteral("SGCC-HUBEI-EPRI-J");   // 17
    auto refused = saveLab(*archive, lab);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), QStringLiteral("实验室信息：「证书编号前缀」最多16个字符（SGCC-HUBEI-EPRI-J），未保存。"));
    lab.prefix = QStringLiteral("SGCC-HUBEI-EPRIJ");
    ASSERT_TRUE(saveLab(*archive, lab).ok());

    for (const QString& bad : {QStringLiteral("101"), QStringLiteral("-1"), QStringLiteral("55%"), QStringLiteral("五十五"),
                               QStringLiteral("1e2"), QStringLiteral("100.01")}) {
        CertifyRequest rq = request(ids[0]);
        rq.humidity = bad;
        auto c = certify(*archive, rq);
        ASSERT_FALSE(c.ok()) << bad.toStdString();
        EXPECT_TRUE(c.error().startsWith(QStringLiteral("相对湿度应是 0 到 100 之间的数"))) << c.error().toStdString();
    }
    CertifyRequest rq = request(ids[0]);
    rq.humidity = QStringLiteral("55.50");
    auto c = certify(*archive, rq);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    EXPECT_EQ(c->content.humidity, QStringLiteral("55.50")) << "as typed";
    EXPECT_EQ(c->content.number, QStringLiteral("SGCC-HUBEI-EPRIJ-2026-0001"));
}

// Records under no certificate are checked too: columns against bytes, a
// record taken out of its sync, one slipped in without a sync.
TEST_P(Integrity, everyRecordIsCheckedNotOnlyCertifiedOnes)
{
    ASSERT_TRUE(verified().isEmpty()) << verified().toStdString();
    tamper(QStringLiteral("records"),
           QStringLiteral("UPDATE records SET p20_alarm_mean = p20_alarm_mean + 1 WHERE id = %1").arg(ids[4]));
    EXPECT_EQ(verified(), QStringLiteral("记录 %1 的数据已被改动，与它的原始数据不符").arg(ids[4]));
    tamper(QStringLiteral("records"),
           QStringLiteral("UPDATE records SET p20_alarm_mean = p20_alarm_mean - 1 WHERE id = %1").arg(ids[4]));
    ASSERT_TRUE(verified().isEmpty()) << verified().toStdString();

    // SQLite checks no reference with its foreign keys off; the server keeps
    // the sync's reference, so there the record goes only with its sync rows.
    if (sqlite()) {
        exec(QStringLiteral("PRAGMA foreign_keys = OFF"));
        tamper(QStringLiteral("records"), QStringLiteral("DELETE FROM records WHERE id = %1").arg(ids[5]));
        EXPECT_EQ(verified(), QStringLiteral("记录 %1 已被删除（第1次同步存入了它）").arg(ids[5]));
    }
    tamper(QStringLiteral("records"), QStringList{QStringLiteral("DELETE FROM sync_records WHERE record_id = %1").arg(ids[5]),
                                                  QStringLiteral("DELETE FROM records WHERE id = %1").arg(ids[5])});
    EXPECT_EQ(verified(), QStringLiteral("存档中有5条记录，各次同步和导入存入的是6条：有记录被删除或被加入"));
}

// A record from a file is certified only when confirmed, and says so; one
// the instrument also sent is the instrument's.
TEST_P(Integrity, anImportedRecordNeedsAConfirmationAndTheCertificateSaysWhereItCameFrom)
{
    std::vector<QByteArray> fromFile = sim::plausibleRecords(2, 99);
    SyncLog imported{Archive::now(), QStringLiteral("import"), QStringLiteral("old.xlsx"), 2, SyncEnd::Complete, fromFile};
    imported.fileSha256 = QString(64, u'b');
    auto s = archiveSync(*archive, imported);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const int record = s->recordIds[0];
    ASSERT_TRUE(linkRecords(*archive, {record, s->recordIds[1]}, QStringLiteral("R1")));
    auto refused = certify(*archive, request(record));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), importedRecordText(record, QStringLiteral("old.xlsx")));
    EXPECT_TRUE(refused.error().contains(QStringLiteral("--accept-imported")));

    CertifyRequest confirmed = request(record);
    confirmed.acceptImported = true;
    auto c = certify(*archive, confirmed);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    EXPECT_EQ(c->content.asLeft.source, QStringLiteral("导入 old.xlsx"));
    EXPECT_EQ(c->content.number, QStringLiteral("SF6-2026-0001")) << "the refusal cost no number";
    EXPECT_EQ((*findCertificate(*archive, c->content.number))->content.asLeft.source, QStringLiteral("导入 old.xlsx"));

    // The same bytes later sent by the instrument.
    ASSERT_TRUE(archiveSync(*archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 1,
                                              SyncEnd::Complete, {fromFile[1]}})
                    .ok());
    auto synced = certify(*archive, request(s->recordIds[1]));
    ASSERT_TRUE(synced.ok()) << synced.error().toStdString();
    EXPECT_EQ(synced->content.asLeft.source, QStringLiteral("仪器同步"));
    EXPECT_TRUE(verified().isEmpty()) << verified().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, Integrity, archivetest::testedEngines(), archivetest::engineName);
INSTANTIATE_TEST_SUITE_P(File, IntegrityOnAPc, ::testing::Values(Engine::SQLite), archivetest::engineName);
#ifndef _WIN32
// SQLite has no clock of its own.
INSTANTIATE_TEST_SUITE_P(Server, IntegrityOnServer, ::testing::Values(Engine::PostgreSQL), archivetest::engineName);
#endif

// ---- the rules themselves ----------------------------------------------

TEST(CertificateRules, theCodeIsEightyBitsOfBase32InGroupsOfFour)
{
    // SHA-256 of the empty text, whose base32 is 4OYMIQUY7QOBJGX36TEJS35ZEQT24QPEMSNZGTFESWMRW6CSXBKQ====.
    const QString empty = QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(verificationCode(empty), QStringLiteral("4OYM-IQUY-7QOB-JGX3"));
    EXPECT_EQ(verificationCode(empty).remove(u'-').size() * 5, 80);
    QString flipped = empty;
    flipped[19] = u'0';   // a bit within the first 80
    EXPECT_NE(verificationCode(flipped), verificationCode(empty));
}

TEST(CertificateRules, namesAreComparedAsTheyReadAndInvisibleCharactersAreFound)
{
    EXPECT_TRUE(sameSigner(QStringLiteral("刘工"), QStringLiteral("刘\u3000工")));
    EXPECT_TRUE(sameSigner(QStringLiteral("LIU"), QStringLiteral("L\u200BI\u00ADU")));
    EXPECT_FALSE(sameSigner(QStringLiteral("刘工"), QStringLiteral("刘二")));
    EXPECT_FALSE(sameSigner(QString(), QStringLiteral(" "))) << "no name is nobody";
    for (const char16_t c : {u'\u200B', u'\u200D', u'\u2060', u'\uFEFF', u'\u202E', u'\u3164', u'\u0007'})
        EXPECT_TRUE(hasInvisibleCharacter(QStringLiteral("张") + QChar(c))) << int(c);
    EXPECT_FALSE(hasInvisibleCharacter(QStringLiteral("张三 Zhang·San（甲）")));
}
