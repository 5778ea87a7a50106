#include "certificate/Certificate.h"

#include "archive/ArchiveChanges.h"
#include "archive/ArchiveStore.h"
#include "archive/RecordSource.h"
#include "archive/Audit.h"
#include "archive/Schema.h"
#include "archive/Versions.h"
#include "base/Platform.h"
#include "certificate/ArchiveCheck.h"
#include "certificate/CertificateRules.h"
#include "certificate/People.h"
#include "certificate/SignatureCheck.h"
#include "register/JudgedReport.h"
#include "register/DecisionRuleStore.h"
#include "register/P20Check.h"
#include "register/RelayRegister.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonDocument>
#include <QSysInfo>

namespace sf6 {

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
constexpr int kSequenceDigits = 4;

std::function<QString()>& clock()
{
    static std::function<QString()> now;
    return now;
}

// The time of an issue, approval or amendment: on a shared server the
// server's, so that one PC's clock gives no other date; else the PC's.
Expected<QString> issueTime(const Archive& archive)
{
    // The owner's writers take the server's time whatever a test's clock says.
    if (clock() && !writesThroughServer(archive))
        return clock()();
    if (archive.location().engine != ArchiveLocation::Engine::PostgreSQL)
        return Archive::now();
    auto q = archive.run(QStringLiteral("SELECT to_char(LOCALTIMESTAMP, 'YYYY-MM-DD HH24:MI:SS')"), {},
                         QStringLiteral("读取服务器时间"));
    if (!q)
        return q.status();
    if (!q->next())
        return archive.failure(QStringLiteral("读取服务器时间"), QStringLiteral("服务器没有回答"));
    return q->value(0).toString();
}

// A time before the newest issue or approval in the archive is a clock set
// back: numbers and dates would no longer follow one another.
Expected<QString> checkedTime(const Archive& archive, const QString& refusal)
{
    auto at = issueTime(archive);
    if (!at)
        return at;
    auto q = archive.run(QStringLiteral("SELECT MAX(t) FROM (SELECT MAX(issued_at) AS t FROM certificates "
                                        "UNION ALL SELECT MAX(approved_at) FROM certificate_approvals) s"),
                         {}, QStringLiteral("读取证书"));
    if (!q)
        return q.status();
    const QString newest = q->next() ? Archive::timestampText(q->value(0)) : QString();
    if (!newest.isEmpty() && *at < newest)
        return Status::failure(ErrorCode::Refused, QStringLiteral("电脑的时钟似乎不对：现在是 %1，早于存档中最近一次出具或批准证书的时间 %2，%3")
                                   .arg(*at, newest, refusal));
    return at;
}

// Who issues: on a server the login its writer records, else the PC's user.
Expected<QString> issuer(const Archive& archive)
{
    if (!writesThroughServer(archive))
        return platform::userName();
    auto q = archive.run(QStringLiteral("SELECT session_user"), {}, QStringLiteral("出具证书"));
    if (!q)
        return q.status();
    if (!q->next())
        return archive.failure(QStringLiteral("出具证书"), QStringLiteral("服务器没有回答"));
    return q->value(0).toString();
}

QString program() { return QCoreApplication::applicationName(); }

QVariant text(const QString& s) { return Archive::text(s); }
QVariant optionalText(const QString& s) { return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : text(s); }
QVariant nullInt() { return QVariant(QMetaType(QMetaType::Int)); }
QVariant optionalId(const std::optional<int>& id) { return id ? QVariant(*id) : nullInt(); }

// ---- lab profile -------------------------------------------------------

const QString kLabColumns =
    QStringLiteral("id, version, changed_at, name, address, phone, accreditation, prefix, decision_rule, verification_address");

LabProfile labOf(const QSqlQuery& q)
{
    LabProfile l;
    l.versionId = q.value(0).toInt();
    l.version = q.value(1).toInt();
    l.changedAt = Archive::timestampText(q.value(2));
    l.name = q.value(3).toString();
    l.address = q.value(4).toString();
    l.phone = q.value(5).toString();
    l.accreditation = q.value(6).toString();
    l.prefix = q.value(7).toString();
    if (!q.value(8).isNull())   // a profile saved before rules were kept: the simple rule
        l.decisionRule = q.value(8).toString();
    l.verificationAddress = q.value(9).toString();
    return l;
}

bool sameLab(const LabProfile& a, const LabProfile& b)
{
    return a.name == b.name && a.address == b.address && a.phone == b.phone && a.accreditation == b.accreditation
        && a.prefix == b.prefix && a.decisionRule == b.decisionRule && a.verificationAddress == b.verificationAddress;
}


// ---- standards ---------------------------------------------------------

const QString kStandardColumns = QStringLiteral(
    "v.id, v.serial_number, v.version, v.changed_at, v.name, v.model, v.certificate, v.issuer, v.valid_until, "
    "v.uncertainty, v.expanded_uncertainty, v.coverage_factor");

ReferenceStandard standardOf(const QSqlQuery& q)
{
    ReferenceStandard s;
    s.versionId = q.value(0).toInt();
    s.serial = q.value(1).toString();
    s.version = q.value(2).toInt();
    s.changedAt = Archive::timestampText(q.value(3));
    s.name = q.value(4).toString();
    s.model = q.value(5).toString();
    s.certificate = q.value(6).toString();
    s.issuer = q.value(7).toString();
    s.validUntil = q.value(8).toString();
    s.uncertainty = q.value(9).toString();
    s.expandedUncertainty = q.value(10).toString();
    s.coverageFactor = q.value(11).toString();
    return s;
}

bool sameStandard(const ReferenceStandard& a, const ReferenceStandard& b)
{
    return a.name == b.name && a.model == b.model && a.certificate == b.certificate && a.issuer == b.issuer
        && a.validUntil == b.validUntil && a.uncertainty == b.uncertainty
        && a.expandedUncertainty == b.expandedUncertainty && a.coverageFactor == b.coverageFactor;
}

Expected<std::vector<ReferenceStandard>> standardsWhere(const Archive& archive, const QString& where,
                                                        std::initializer_list<QVariant> values)
{
    auto q = archive.run(QStringLiteral("SELECT %1 FROM standard_versions v JOIN standards s ON s.current_version = v.id %2")
                             .arg(kStandardColumns, where),
                         values, QStringLiteral("读取标准器"));
    if (!q)
        return q.status();
    std::vector<ReferenceStandard> out;
    while (q->next())
        out.push_back(standardOf(*q));
    return out;
}

// ---- certificates ------------------------------------------------------

QString certificateObject(const QString& number) { return QStringLiteral("certificate %1").arg(number); }

QString p20RefusalText(int recordId, const P20Check& check)
{
    return QStringLiteral("记录 %1 的%2，需确认后才能出具证书").arg(recordId).arg(p20CheckLine(check));
}

struct RecordFacts {
    QByteArray raw;
    RecordFields fields;
    QString source;
    std::optional<QString> importedFrom;   // the file, for a record no instrument sync holds
};

Expected<RecordFacts> recordFacts(const Archive& archive, int recordId, const QString& role)
{
    auto r = findRecord(archive, recordId);
    if (!r)
        return r.status();
    if (!*r)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("存档中没有档案号为 %1 的%2").arg(recordId).arg(role));
    auto source = recordSource(archive, recordId);
    if (!source)
        return source.status();
    RecordFacts facts{(*r)->raw, recordFields((*r)->raw), *source ? (*source)->text() : QString(), std::nullopt};
    if (*source && (*source)->imported)
        facts.importedFrom = (*source)->file;
    return facts;
}

// The record judged with the relay's current version, the judgement kept
// inside the caller's write when these values never judged it before.
Expected<CertifiedRecord> judgedRecord(Archive& archive, int recordId, const RecordFacts& facts, const QString& serial,
                                       const QString& standardSerial)
{
    auto outcome = judgeRecordWith(archive, recordId, serial, false, standardSerial);
    if (!outcome)
        return outcome.status();
    if (!outcome->judgement)
        return Status::failure(ErrorCode::Refused, outcome->whyNot + QStringLiteral("，不能出具证书"));
    StoredJudgement j = *outcome->judgement;
    if (j.id == 0) {
        auto id = archive.nextId(QStringLiteral("judgements"));
        if (!id)
            return id.status();
        j.id = *id;
        if (Status q = insertJudgement(archive, j); !q)
            return q;
    }
    CertifiedRecord c;
    c.recordId = recordId;
    c.raw = facts.raw;
    c.source = facts.source;
    c.judgementId = j.id;
    c.verdict = j.judgement.verdict();
    c.conclusion = conclusionOf(j.judgement);
    c.rule = j.judgement.rule;
    return c;
}

// Everything of issuing inside the caller's write: the refusals first, then
// the number, so a refusal never costs one.
Expected<IssuedCertificate> issueLocked(Archive& archive, const CertifyRequest& rq, const QString& action,
                                        const QJsonValue& oldValues)
{
    auto lab = currentLab(archive);
    if (!lab)
        return lab.status();
    if (!*lab || (*lab)->name.trimmed().isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("实验室信息中没有校验单位名称，不能出具证书（工具 → 实验室信息）"));

    auto record = recordFacts(archive, rq.recordId, QStringLiteral("记录"));
    if (!record)
        return record.status();
    auto serial = linkedSerial(archive, rq.recordId);
    if (!serial)
        return serial.status();
    if (!*serial)
        return Status::failure(ErrorCode::Refused, QStringLiteral("记录 %1 没有关联继电器，不能出具证书").arg(rq.recordId));
    if (record->importedFrom && !rq.acceptImported)
        return Status::failure(ErrorCode::ImportedUnconfirmed, importedRecordText(rq.recordId, *record->importedFrom));
    if (!record->fields.testTime)
        return Status::failure(ErrorCode::Refused, QStringLiteral("记录 %1 的测试时间不是有效日期，无法核对标准器的有效期，不能出具证书")
                                   .arg(rq.recordId));
    const QString testDate = record->fields.testTime->left(kDateFormat.size());
    auto issuedAt = checkedTime(archive, QStringLiteral("不能出具证书"));
    if (!issuedAt)
        return issuedAt.status();
    // A test after today: the instrument's clock was wrong when it tested.
    if (testDate > issuedAt->left(kDateFormat.size()))
        return Status::failure(ErrorCode::Refused, QStringLiteral("记录 %1 的测试日期 %2 晚于今天（%3），仪器的时钟可能有误，不能出具证书")
                                   .arg(rq.recordId)
                                   .arg(testDate, issuedAt->left(kDateFormat.size())));

    const QString standardSerial = rq.standardSerial.trimmed();
    if (standardSerial.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("没有选择标准器，不能出具证书"));
    auto standard = findStandard(archive, standardSerial);
    if (!standard)
        return standard.status();
    if (!*standard)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("标准器台账中没有编号为 %1 的标准器，不能出具证书").arg(standardSerial));
    if ((*standard)->validUntil.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("标准器 %1 没有填写证书有效期，不能出具证书").arg(standardSerial));
    // Both are yyyy-MM-dd: as texts they order as dates.
    if ((*standard)->validUntil < testDate)
        return Status::failure(ErrorCode::Refused, standardExpiredText(standardSerial, (*standard)->validUntil, testDate));

    // The verdict rests on the instrument's P20: one that does not follow from Pt needs a person's word.
    const P20Check p20 = checkP20(ArchivedRecord{rq.recordId, {}, record->raw}.row());
    if (p20.state == P20State::Disagrees && !rq.acceptP20)
        return Status::failure(ErrorCode::P20Unconfirmed, p20RefusalText(rq.recordId, p20));

    const QString tester = rq.tester.trimmed(), checker = rq.checker.trimmed();
    if (tester.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("没有填写校验员，不能出具证书"));
    if (checker.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("没有填写核验员，不能出具证书"));
    const QString approver = rq.approver.trimmed();
    const std::pair<QString, QString> texts[] = {{QStringLiteral("校验员"), tester},
                                                 {QStringLiteral("核验员"), checker},
                                                 {QStringLiteral("批准人"), approver},
                                                 {QStringLiteral("相对湿度"), rq.humidity},
                                                 {QStringLiteral("替代原因"), rq.amendReason}};
    for (const auto& [caption, t] : texts)
        if (auto problem = invisibleCharacterProblem(caption, t))
            return Status::failure(ErrorCode::Refused, *problem + QStringLiteral("，不能出具证书"));
    // Signed: each of the two opens their own key, before any number is taken.
    std::optional<UnlockedSigner> testerSigner, checkerSigner;
    auto signing = signaturesRequired(archive);
    if (!signing)
        return signing.status();
    if (*signing) {
        if (sameSigner(tester, checker))
            return Status::failure(ErrorCode::SameSigner,
                                   QStringLiteral("核验员与校验员不能是同一人（%1），不能出具证书").arg(tester));
        if (!approver.isEmpty() && (sameSigner(approver, tester) || sameSigner(approver, checker)))
            return Status::failure(ErrorCode::SameSigner,
                                   QStringLiteral("批准人不能是校验员或核验员（%1），不能出具证书").arg(approver));
        auto t = unlockSigner(archive, tester, rq.testerPassword, roles::kTester);
        if (!t)
            return Status::failure(t.code(), t.error() + QStringLiteral("，不能出具证书"));
        auto k = unlockSigner(archive, checker, rq.checkerPassword, roles::kChecker);
        if (!k)
            return Status::failure(k.code(), k.error() + QStringLiteral("，不能出具证书"));
        testerSigner = std::move(*t);
        checkerSigner = std::move(*k);
    }
    if (sameSigner(tester, checker))
        return Status::failure(ErrorCode::Refused, QStringLiteral("核验员与校验员不能是同一人（%1），不能出具证书").arg(tester));
    if (sameSigner(approver, tester) || sameSigner(approver, checker))
        return Status::failure(ErrorCode::Refused, QStringLiteral("批准人不能是校验员或核验员（%1），不能出具证书").arg(approver));
    const QString humidity = rq.humidity.trimmed();
    if (!humidity.isEmpty() && !validHumidity(humidity))
        return Status::failure(ErrorCode::InvalidValue,
            QStringLiteral("相对湿度应是 0 到 100 之间的数（%RH），例如 55：%1，不能出具证书").arg(humidity));

    std::optional<RecordFacts> asFound;
    if (rq.asFoundRecordId) {
        const int m = *rq.asFoundRecordId;
        auto found = recordFacts(archive, m, QStringLiteral("调整前记录"));
        if (!found)
            return found.status();
        if (found->importedFrom && !rq.acceptImported)
            return Status::failure(ErrorCode::ImportedUnconfirmed, importedRecordText(m, *found->importedFrom));
        auto foundSerial = linkedSerial(archive, m);
        if (!foundSerial)
            return foundSerial.status();
        if (!*foundSerial)
            return Status::failure(ErrorCode::Refused, QStringLiteral("调整前记录 %1 没有关联继电器，应关联继电器 %2").arg(m).arg(**serial));
        if (**foundSerial != **serial)
            return Status::failure(ErrorCode::Refused, QStringLiteral("调整前记录 %1 关联的是继电器 %2，不是记录 %3 的继电器 %4")
                                       .arg(m)
                                       .arg(**foundSerial)
                                       .arg(rq.recordId)
                                       .arg(**serial));
        if (m == rq.recordId || found->fields.testOrder >= record->fields.testOrder)
            return Status::failure(ErrorCode::Refused, QStringLiteral("调整前记录 %1 的测试时间不早于记录 %2").arg(m).arg(rq.recordId));
        asFound = std::move(*found);
    }

    auto relay = findRelay(archive, **serial);
    if (!relay)
        return relay.status();
    if (!*relay)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("继电器台账中没有编号为 %1 的继电器，不能出具证书").arg(**serial));
    auto asLeft = judgedRecord(archive, rq.recordId, *record, **serial, standardSerial);
    if (!asLeft)
        return asLeft.status();
    std::optional<CertifiedRecord> asFoundJudged;
    if (asFound) {
        auto j = judgedRecord(archive, *rq.asFoundRecordId, *asFound, **serial, standardSerial);
        if (!j)
            return j.status();
        asFoundJudged = *j;
    }

    // The number: the writers' lock makes the next one safe on both engines.
    // The last number of each year is also kept apart, moving only forward,
    // so that a certificate cut out of the archive never gives its number again.
    const int year = issuedAt->left(4).toInt();
    auto next = archive.run(QStringLiteral("SELECT MAX(n) FROM (SELECT MAX(sequence) AS n FROM certificates WHERE year = ? "
                                           "UNION ALL SELECT MAX(last_sequence) FROM certificate_numbers WHERE year = ?) s"),
                            {year, year}, QStringLiteral("出具证书"));
    if (!next)
        return next.status();
    next->next();
    const int sequence = next->value(0).toInt() + 1;
    next->finish();
    // The server's writer keeps the number itself.
    const QString keep = writesThroughServer(archive) ? QString()
                       : sequence == 1 ? QStringLiteral("INSERT INTO certificate_numbers (last_sequence, year) VALUES (?, ?)")
                                       : QStringLiteral("UPDATE certificate_numbers SET last_sequence = ? WHERE year = ?");
    if (!keep.isEmpty()) {
        auto kept = archive.run(keep, {sequence, year}, QStringLiteral("出具证书"));
        if (!kept)
            return kept.status();
        if (kept->numRowsAffected() != 1
            && !archive.run(QStringLiteral("INSERT INTO certificate_numbers (last_sequence, year) VALUES (?, ?)"),
                            {sequence, year}, QStringLiteral("出具证书")))
            return archive.failure(QStringLiteral("出具证书"), QStringLiteral("无法记下证书序号"));
    }

    CertificateContent c;
    c.number = QStringLiteral("%1-%2-%3").arg((*lab)->prefix).arg(year).arg(sequence, kSequenceDigits, 10, QChar(u'0'));
    c.year = year;
    c.sequence = sequence;
    c.issuedAt = *issuedAt;
    auto issuedBy = issuer(archive);
    if (!issuedBy)
        return issuedBy.status();
    c.issuedBy = *issuedBy;
    c.host = QSysInfo::machineHostName();
    c.program = program();
    c.lab = **lab;
    c.relay = **relay;
    c.standard = **standard;
    c.details = defaultReportDetails(issuedAt->left(kDateFormat.size()));
    c.details.calibratingUnit = c.lab.name;
    fillRelayDetails(c.details, c.relay);
    c.details.testDate = testDate;
    c.details.tester = tester;
    c.details.reviewer = checker;
    c.details.approver = approver;
    c.asLeft = *asLeft;
    c.asFound = asFoundJudged;
    c.humidity = humidity;
    c.tester = tester;
    c.checker = checker;
    c.approver = approver;
    c.supersedes = rq.supersedes;
    c.amendReason = rq.amendReason;
    c.p20Accepted = p20.state == P20State::Disagrees;
    // The rule the verdict was reached by, in words; the simple rule keeps its sentence.
    if (const DecisionRule& rule = asLeft->rule; rule.guardBand())
        c.decisionRule = guardBandSentence(rule);

    IssuedCertificate out;
    out.content = c;
    out.sha256 = contentSha256(c);
    const QVariant supersedes = c.supersedes.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(c.supersedes);
    if (writesThroughServer(archive)) {
        // The server's writer gives the id, the time and the user, and refuses content naming others.
        auto q = archive.runList(
            QStringLiteral("SELECT sf6_issue_certificate(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            {c.number, year, sequence, rq.recordId, optionalId(rq.asFoundRecordId), text(c.relay.serial),
             c.relay.versionId, c.standard.versionId, c.lab.versionId, c.asLeft.judgementId,
             asFoundJudged ? QVariant(asFoundJudged->judgementId) : nullInt(), c.asLeft.verdict, text(c.tester),
             text(c.checker), text(c.approver), supersedes, QString::fromUtf8(canonicalContent(c)), out.sha256},
            QStringLiteral("出具证书"));
        if (!q)
            return q.status();
        if (!q->next())
            return archive.failure(QStringLiteral("出具证书"), QStringLiteral("服务器没有回答"));
        out.id = q->value(0).toInt();
    } else {
        auto id = archive.nextId(QStringLiteral("certificates"));
        if (!id)
            return id.status();
        out.id = *id;
        if (auto q = archive.runList(
                QStringLiteral("INSERT INTO certificates (id, number, year, sequence, record_id, as_found_record_id, "
                               "serial_number, relay_version_id, standard_version_id, lab_version_id, judgement_id, "
                               "as_found_judgement_id, verdict, tester, checker, approver, issued_at, issued_by, supersedes, "
                               "content, sha256) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {out.id, c.number, year, sequence, rq.recordId, optionalId(rq.asFoundRecordId), text(c.relay.serial),
                 c.relay.versionId, c.standard.versionId, c.lab.versionId, c.asLeft.judgementId,
                 asFoundJudged ? QVariant(asFoundJudged->judgementId) : nullInt(), c.asLeft.verdict, text(c.tester),
                 text(c.checker), text(c.approver), c.issuedAt, text(c.issuedBy), supersedes,
                 QString::fromUtf8(canonicalContent(c)), out.sha256},
                QStringLiteral("出具证书"));
            !q)
            return q.status();
    }

    QJsonObject values{{QStringLiteral("number"), c.number},
                       {QStringLiteral("sha256"), out.sha256},
                       {QStringLiteral("record"), rq.recordId},
                       {QStringLiteral("verdict"), c.asLeft.verdict},
                       {QStringLiteral("relayVersionId"), c.relay.versionId},
                       {QStringLiteral("standardVersionId"), c.standard.versionId},
                       {QStringLiteral("labVersionId"), c.lab.versionId}};
    if (rq.asFoundRecordId)
        values.insert(QStringLiteral("asFoundRecord"), *rq.asFoundRecordId);
    if (Status s = appendAudit(archive, {action, certificateObject(c.number), oldValues, values, rq.amendReason}); !s)
        return s;
    // After the certificate's audit row, so that each signature holds the hash of the row that issued it.
    for (const std::optional<UnlockedSigner>* signer : {&testerSigner, &checkerSigner})
        if (*signer)
            if (Status s = addSignature(archive, out.id, c.number, out.sha256, **signer, c.issuedAt); !s)
                return s;
    return out;
}

// The state of a certificate as derived from the rows added after it.
Expected<CertificateState> stateOf(const Archive& archive, int id, const QString& number)
{
    CertificateState s;
    auto a = archive.run(QStringLiteral("SELECT approver, approved_at FROM certificate_approvals WHERE certificate_id = ?"),
                         {id}, QStringLiteral("读取证书"));
    if (!a)
        return a.status();
    if (a->next()) {
        s.approvedBy = a->value(0).toString();
        s.approvedAt = Archive::timestampText(a->value(1));
    }
    auto by = archive.run(QStringLiteral("SELECT number FROM certificates WHERE supersedes = ? ORDER BY id"), {number},
                          QStringLiteral("读取证书"));
    if (!by)
        return by.status();
    if (by->next())
        s.supersededBy = by->value(0).toString();
    return s;
}

Expected<std::optional<StoredCertificate>> storedWhere(const Archive& archive, const QString& number)
{
    auto q = archive.run(QStringLiteral("SELECT id, content, sha256 FROM certificates WHERE number = ?"), {number},
                         QStringLiteral("读取证书"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<StoredCertificate>();
    StoredCertificate s;
    s.id = q->value(0).toInt();
    s.sha256 = q->value(2).toString();
    const QJsonDocument doc = QJsonDocument::fromJson(q->value(1).toString().toUtf8());
    auto content = contentFromJson(doc.object());
    if (!content)
        return archive.failure(QStringLiteral("读取证书"), QStringLiteral("证书 %1：%2").arg(number, content.error()), ErrorCode::ArchiveDamaged);
    s.content = *content;
    auto state = stateOf(archive, s.id, number);
    if (!state)
        return state.status();
    s.state = *state;
    return std::optional<StoredCertificate>(s);
}

QString noCertificateText(const QString& number) { return QStringLiteral("存档中没有编号为 %1 的证书").arg(number); }

// What is wrong with one certificate, empty when it holds: its content
// hashed with its records' bytes as they are now, against the hash stored
// with it and the hash its audit row recorded.
QString certificateProblem(const QString& number, const QString& contentText, const QString& storedSha,
                           const std::optional<QByteArray>& asLeftNow, const std::optional<QByteArray>& asFoundNow,
                           const std::optional<QString>& auditedSha)
{
    auto content = contentFromJson(QJsonDocument::fromJson(contentText.toUtf8()).object());
    if (!content)
        return QStringLiteral("证书 %1 的内容已被改动，无法读取").arg(number);
    if (contentSha256(*content) != storedSha)
        return QStringLiteral("证书 %1 的内容已被改动，与其校验值不符").arg(number);
    if (!auditedSha)
        return QStringLiteral("证书 %1 在审计记录中没有出具记录").arg(number);
    if (*auditedSha != storedSha)
        return QStringLiteral("证书 %1 的校验值与审计记录中出具时的不符").arg(number);
    CertificateContent now = *content;
    if (!asLeftNow)
        return QStringLiteral("证书 %1 的记录 %2 已不在存档中").arg(number).arg(content->asLeft.recordId);
    now.asLeft.raw = *asLeftNow;
    if (now.asFound) {
        if (!asFoundNow)
            return QStringLiteral("证书 %1 的调整前记录 %2 已不在存档中").arg(number).arg(content->asFound->recordId);
        now.asFound->raw = *asFoundNow;
    }
    if (contentSha256(now) != storedSha) {
        const int altered = now.asLeft.raw != content->asLeft.raw ? now.asLeft.recordId : now.asFound->recordId;
        return QStringLiteral("证书 %1 的记录 %2 已被改动，与出具时不符").arg(number).arg(altered);
    }
    return {};
}

// The columns a record is listed, filtered and sorted by must still say what
// its bytes say: a hand edit of one of them would show a certified record
// otherwise than it was certified.
Expected<QString> recordColumnsProblem(const Archive& archive, const QString& number, int recordId)
{
    const QStringList& pressures = schema::pressureColumns();
    auto q = archive.run(QStringLiteral("SELECT raw, test_time, test_order, temperature_tenths, acquisition_mode, "
                                        "test_count, %1 FROM records WHERE id = ?")
                             .arg(pressures.join(QStringLiteral(", "))),
                         {recordId}, QStringLiteral("校验存档"));
    if (!q)
        return q.status();
    if (!q->next())
        return QString();   // a missing record is named by its hash check
    const RecordFields f = recordFields(q->value(0).toByteArray());
    const QVariant time = q->value(1);
    bool same = (time.isNull() ? !f.testTime : f.testTime && Archive::timestampText(time) == *f.testTime)
                && q->value(2).toLongLong() == f.testOrder && q->value(3).toInt() == f.temperatureTenths
                && q->value(4).toInt() == f.mode && q->value(5).toInt() == f.testCount;
    for (int i = 0; same && i < int(pressures.size()); ++i)
        same = q->value(6 + i).toInt() == f.pressures[i];
    if (same)
        return QString();
    return QStringLiteral("证书 %1 的记录 %2 已被改动，与出具时不符").arg(number).arg(recordId);
}

// The certificate's records' columns against their bytes, as-left then as-found.
Expected<QString> recordsColumnsProblem(const Archive& archive, const QString& number, int asLeftId,
                                        std::optional<int> asFoundId)
{
    auto problem = recordColumnsProblem(archive, number, asLeftId);
    if (!problem || !problem->isEmpty() || !asFoundId)
        return problem;
    return recordColumnsProblem(archive, number, *asFoundId);
}

// What the check reads of each certificate: number, content, hash, its
// records' bytes as they are now and their ids.
const QString kCertificateCheckQuery =
    QStringLiteral("SELECT c.number, c.content, c.sha256, r.raw, f.raw, c.record_id, c.as_found_record_id, %1 "
                   "FROM certificates c LEFT JOIN records r ON r.id = c.record_id "
                   "LEFT JOIN records f ON f.id = c.as_found_record_id ")
        .arg(check::kCertificateColumns);

struct RecordsToCheck {
    QString number;
    int asLeftId = 0;
    std::optional<int> asFoundId;
};
RecordsToCheck recordsToCheck(const QSqlQuery& q)
{
    return {q.value(0).toString(), q.value(5).toInt(),
            q.value(6).isNull() ? std::nullopt : std::optional<int>(q.value(6).toInt())};
}

std::optional<QByteArray> optionalBytes(const QVariant& v)
{
    return v.isNull() ? std::nullopt : std::optional<QByteArray>(v.toByteArray());
}

} // namespace

void setCertificateClock(std::function<QString()> now) { clock() = std::move(now); }

Expected<QString> p20ConfirmationNeeded(const Archive& archive, int recordId)
{
    auto found = findRecord(archive, recordId);
    if (!found)
        return found.status();
    if (!*found)
        return QString();   // certify says what is wrong with it
    const P20Check check = checkP20((*found)->row());
    return check.state == P20State::Disagrees ? p20RefusalText(recordId, check) : QString();
}

QString importedRecordText(int recordId, const QString& file)
{
    return QStringLiteral("记录 %1 的数据来自导入的文件 %2，不是从校验仪同步的；确认数据无误后才能出具证书"
                          "（sf6cli 加 --accept-imported）")
        .arg(recordId)
        .arg(file);
}

QString standardExpiredText(const QString& serial, const QString& validUntil, const QString& testDate)
{
    return QStringLiteral("标准器 %1 的证书（有效期至 %2）在测试日期 %3 之前已过期，不能出具证书")
        .arg(serial, validUntil, testDate);
}

Expected<std::optional<LabProfile>> currentLab(const Archive& archive)
{
    auto q = archive.run(QStringLiteral("SELECT %1 FROM lab_versions ORDER BY version DESC LIMIT 1").arg(kLabColumns), {},
                         QStringLiteral("读取实验室信息"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<LabProfile>();
    return std::optional<LabProfile>(labOf(*q));
}

Expected<LabProfile> saveLab(Archive& archive, const LabTexts& texts)
{
    if (texts.decisionRule && !ruleKind(texts.decisionRule->trimmed()))
        return Status::failure(ErrorCode::InvalidValue,
            QStringLiteral("实验室信息：「判定规则」应为 simple（简单接受）或 guard-band（保护带）（%1），未保存。")
                .arg(*texts.decisionRule));
    if (texts.prefix && texts.prefix->trimmed().size() > kMaxPrefixLength)
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("实验室信息：「证书编号前缀」最多%1个字符（%2），未保存。")
                                   .arg(kMaxPrefixLength)
                                   .arg(texts.prefix->trimmed()));
    if (texts.prefix && !texts.prefix->trimmed().isEmpty() && !validPrefix(texts.prefix->trimmed()))
        return Status::failure(ErrorCode::InvalidValue,
            QStringLiteral("实验室信息：「证书编号前缀」只能由字母、数字和“-”组成（%1），未保存。").arg(*texts.prefix));
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto before = currentLab(archive);
    if (!before)
        return before.status();
    LabProfile lab = before->value_or(LabProfile{});
    if (texts.name)
        lab.name = texts.name->trimmed();
    if (texts.address)
        lab.address = texts.address->trimmed();
    if (texts.phone)
        lab.phone = texts.phone->trimmed();
    if (texts.accreditation)
        lab.accreditation = texts.accreditation->trimmed();
    if (texts.prefix)
        lab.prefix = texts.prefix->trimmed().isEmpty() ? kDefaultCertificatePrefix : texts.prefix->trimmed();
    if (texts.decisionRule)
        lab.decisionRule = texts.decisionRule->trimmed();
    if (texts.verificationAddress)
        lab.verificationAddress = texts.verificationAddress->trimmed();
    if (*before && sameLab(**before, lab))
        return lab;   // nothing changed: no new version
    NextVersion next;
    next.versionsTable = QStringLiteral("lab_versions");
    next.insert = QStringLiteral("INSERT INTO lab_versions (%1, source) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(kLabColumns);
    next.values = [&lab](const VersionStamp& v) {
        return QVariantList{v.id, v.version, v.changedAt, text(lab.name), text(lab.address), text(lab.phone),
                            text(lab.accreditation), text(lab.prefix), text(lab.decisionRule),
                            optionalText(lab.verificationAddress), text(program())};
    };
    next.previousVersion = *before ? (*before)->version : 0;
    next.action = audit::kLabChanged;
    next.object = QStringLiteral("lab");
    next.oldValues = *before ? QJsonValue(check::labValues(**before)) : QJsonValue();
    next.newValues = [&lab](int version) {
        LabProfile after = lab;
        after.version = version;
        return check::labValues(after);
    };
    next.doing = QStringLiteral("保存实验室信息");
    const auto stamp = addVersion(archive, next);
    if (!stamp)
        return stamp.status();
    stampEntry(lab, *stamp);
    if (Status c = write.commit(); !c)
        return c;
    return lab;
}

Expected<ReferenceStandard> saveStandard(Archive& archive, const QString& serial, const StandardTexts& texts)
{
    const QString key = serial.trimmed();
    if (key.isEmpty())
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("标准器：「编号」不能为空，未保存。"));
    if (texts.validUntil && !texts.validUntil->trimmed().isEmpty()) {
        const QString d = texts.validUntil->trimmed();
        if (!QDate::fromString(d, kDateFormat).isValid() || d.size() != kDateFormat.size())
            return Status::failure(ErrorCode::InvalidValue,
                QStringLiteral("标准器：「有效期至」应写成 yyyy-mm-dd（例如 2027-06-30）：%1，未保存。").arg(d));
    }
    // U and k are numbers the guard band computes with: positive, exact, in MPa.
    for (const auto& [given, caption] : {std::pair{&texts.expandedUncertainty, QStringLiteral("扩展不确定度U")},
                                         std::pair{&texts.coverageFactor, QStringLiteral("包含因子k")}})
        if (*given && !(*given)->trimmed().isEmpty()) {
            const std::optional<Decimal> d = Decimal::parse((*given)->trimmed());
            if (!d || d->nano() <= 0)
                return Status::failure(ErrorCode::InvalidValue,
                    QStringLiteral("标准器：「%1」应为正数（例如 0.002）：%2，未保存。").arg(caption, **given));
        }
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto before = findStandard(archive, key);
    if (!before)
        return before.status();
    ReferenceStandard s = before->value_or(ReferenceStandard{});
    s.serial = key;
    const std::pair<const std::optional<QString>*, QString*> fields[] = {
        {&texts.name, &s.name},           {&texts.model, &s.model},           {&texts.certificate, &s.certificate},
        {&texts.issuer, &s.issuer},       {&texts.validUntil, &s.validUntil}, {&texts.uncertainty, &s.uncertainty}};
    for (const auto& [given, field] : fields)
        if (*given)
            *field = (*given)->trimmed();
    if (texts.expandedUncertainty)
        s.expandedUncertainty = texts.expandedUncertainty->trimmed().isEmpty()
                                    ? QString()
                                    : Decimal::parse(texts.expandedUncertainty->trimmed())->text();
    if (texts.coverageFactor && !texts.coverageFactor->trimmed().isEmpty())
        s.coverageFactor = Decimal::parse(texts.coverageFactor->trimmed())->text();
    if (s.expandedUncertainty.isEmpty())
        s.coverageFactor.clear();
    else if (s.coverageFactor.isEmpty())
        s.coverageFactor = QStringLiteral("2");   // the usual k for about 95 %
    if (*before && sameStandard(**before, s))
        return s;
    NextVersion next;
    next.versionsTable = QStringLiteral("standard_versions");
    next.insert = QStringLiteral("INSERT INTO standard_versions (id, serial_number, version, changed_at, name, model, "
                                 "certificate, issuer, valid_until, uncertainty, source, expanded_uncertainty, coverage_factor) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    next.values = [&s](const VersionStamp& v) {
        return QVariantList{v.id, s.serial, v.version, v.changedAt, text(s.name), text(s.model), text(s.certificate),
                            text(s.issuer), text(s.validUntil), text(s.uncertainty), text(program()),
                            optionalText(s.expandedUncertainty), optionalText(s.coverageFactor)};
    };
    next.previousVersion = *before ? (*before)->version : 0;
    next.entriesTable = QStringLiteral("standards");
    next.serial = s.serial;
    next.action = audit::kStandardChanged;
    next.object = QStringLiteral("standard %1").arg(s.serial);
    next.oldValues = *before ? QJsonValue(check::standardValues(**before)) : QJsonValue();
    next.newValues = [&s](int version) {
        ReferenceStandard after = s;
        after.version = version;
        return check::standardValues(after);
    };
    next.doing = QStringLiteral("保存标准器");
    const auto stamp = addVersion(archive, next);
    if (!stamp)
        return stamp.status();
    stampEntry(s, *stamp);
    if (Status c = write.commit(); !c)
        return c;
    return s;
}

Expected<std::optional<ReferenceStandard>> findStandard(const Archive& archive, const QString& serial)
{
    auto found = standardsWhere(archive, QStringLiteral("WHERE s.serial_number = ?"), {text(serial.trimmed())});
    if (!found)
        return found.status();
    if (found->empty())
        return std::optional<ReferenceStandard>();
    return std::optional<ReferenceStandard>(found->front());
}

Expected<std::vector<ReferenceStandard>> listStandards(const Archive& archive)
{
    return standardsWhere(archive, QStringLiteral("ORDER BY v.serial_number"), {});
}

Expected<IssuedCertificate> certify(Archive& archive, const CertifyRequest& request)
{
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto issued = issueLocked(archive, request, audit::kCertificateIssued, QJsonValue());
    if (!issued)
        return issued.status();
    if (Status c = write.commit(); !c)
        return c;
    notifyRegisterChanged();   // a new verdict may show in the register
    return issued;
}

Status approve(Archive& archive, const QString& number, const QString& approver, const QString& password)
{
    const QString who = approver.trimmed();
    if (who.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("没有填写批准人，证书 %1 未批准").arg(number));
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto q = archive.run(QStringLiteral("SELECT id FROM certificates WHERE number = ?"), {number},
                         QStringLiteral("批准证书"));
    if (!q)
        return q.status();
    if (!q->next())
        return Status::failure(ErrorCode::NotFound, noCertificateText(number));
    const int id = q->value(0).toInt();
    auto state = stateOf(archive, id, number);
    if (!state)
        return state.status();
    if (!state->supersededBy.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("证书 %1 已被 %2 替代，不能批准").arg(number, state->supersededBy));
    if (!state->approvedBy.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("证书 %1 已于 %2 由 %3 批准，不能再次批准")
                                   .arg(number, state->approvedAt, state->approvedBy));
    if (auto problem = invisibleCharacterProblem(QStringLiteral("批准人"), who))
        return Status::failure(ErrorCode::Refused, *problem + QStringLiteral("，证书 %1 未批准").arg(number));
    auto stored = storedWhere(archive, number);
    if (!stored)
        return stored.status();
    const bool signerBefore =
        *stored && (sameSigner(who, (*stored)->content.tester) || sameSigner(who, (*stored)->content.checker));
    auto signing = signaturesRequired(archive);
    if (!signing)
        return signing.status();
    std::optional<UnlockedSigner> signer;
    if (*signing) {
        if (signerBefore)
            return Status::failure(ErrorCode::SameSigner,
                                   QStringLiteral("批准人不能是校验员或核验员（%1），证书 %2 未批准").arg(who, number));
        auto s = unlockSigner(archive, who, password, roles::kApprover);
        if (!s)
            return Status::failure(s.code(), s.error() + QStringLiteral("，证书 %1 未批准").arg(number));
        signer = std::move(*s);
    }
    if (signerBefore)
        return Status::failure(ErrorCode::Refused, QStringLiteral("批准人不能是校验员或核验员（%1），证书 %2 未批准").arg(who, number));
    auto at = checkedTime(archive, QStringLiteral("证书 %1 未批准").arg(number));
    if (!at)
        return at.status();
    if (writesThroughServer(archive)) {
        auto i = archive.run(QStringLiteral("SELECT sf6_approve_certificate(?, ?)"), {id, who}, QStringLiteral("批准证书"));
        if (!i)
            return i.status();
        if (!i->next())
            return archive.failure(QStringLiteral("批准证书"), QStringLiteral("服务器没有回答"));
        *at = i->value(0).toString();   // the same transaction's time, as the row has it
    } else if (auto i = archive.run(QStringLiteral("INSERT INTO certificate_approvals (certificate_id, approver, "
                                                   "approved_at, approved_by) VALUES (?, ?, ?, ?)"),
                                    {id, who, *at, text(platform::userName())}, QStringLiteral("批准证书"));
               !i)
        return i.status();
    if (Status a = appendAudit(archive, {audit::kCertificateApproved, certificateObject(number), QJsonValue(),
                                         QJsonObject{{QStringLiteral("approver"), who},
                                                     {QStringLiteral("approvedAt"), *at}},
                                         {}});
        !a)
        return a;
    if (signer && *stored)
        if (Status s = addSignature(archive, id, number, (*stored)->sha256, *signer, *at); !s)
            return s;
    return write.commit();
}

Expected<IssuedCertificate> amend(Archive& archive, const QString& number, const QString& reason,
                                  const CertifyRequest& changes)
{
    const QString why = reason.trimmed();
    if (why.isEmpty())
        return Status::failure(ErrorCode::Refused, QStringLiteral("替代证书 %1 需要说明原因").arg(number));
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto old = storedWhere(archive, number);
    if (!old)
        return old.status();
    if (!*old)
        return Status::failure(ErrorCode::NotFound, noCertificateText(number));
    if (!(*old)->state.supersededBy.isEmpty())
        return Status::failure(ErrorCode::Refused, 
            QStringLiteral("证书 %1 已被 %2 替代，不能再次替代").arg(number, (*old)->state.supersededBy));
    const CertificateContent& was = (*old)->content;
    CertifyRequest rq = changes;
    // The records by the row's columns: a merged certificate's content names its own archive's ids.
    auto records = archive.run(QStringLiteral("SELECT record_id, as_found_record_id FROM certificates WHERE id = ?"),
                               {(*old)->id}, QStringLiteral("读取证书"));
    if (!records)
        return records.status();
    if (!records->next())
        return Status::failure(ErrorCode::NotFound, noCertificateText(number));
    const int asLeftRecord = records->value(0).toInt();
    const std::optional<int> asFoundRecord =
        records->value(1).isNull() ? std::nullopt : std::optional<int>(records->value(1).toInt());
    records->finish();
    if (rq.recordId == 0)
        rq.recordId = asLeftRecord;
    if (rq.standardSerial.isEmpty())
        rq.standardSerial = was.standard.serial;
    const std::pair<QString*, const QString*> kept[] = {
        {&rq.tester, &was.tester}, {&rq.checker, &was.checker}, {&rq.approver, &was.approver}, {&rq.humidity, &was.humidity}};
    for (const auto& [field, old] : kept)
        if (field->isEmpty())
            *field = *old;
    if (!rq.asFoundRecordId && was.asFound)
        rq.asFoundRecordId = asFoundRecord;
    rq.acceptP20 = rq.acceptP20 || was.p20Accepted;   // confirmed once for this record
    rq.supersedes = number;
    rq.amendReason = why;
    auto issued = issueLocked(archive, rq, audit::kCertificateAmended,
                              QJsonObject{{QStringLiteral("number"), number}, {QStringLiteral("sha256"), (*old)->sha256}});
    if (!issued)
        return issued.status();
    if (Status c = write.commit(); !c)
        return c;
    notifyRegisterChanged();
    return issued;
}

Expected<std::vector<CertificateListing>> listCertificates(const Archive& archive)
{
    auto q = archive.run(
        QStringLiteral("SELECT c.id, c.number, c.record_id, c.as_found_record_id, c.serial_number, c.verdict, c.issued_at, "
                       "c.tester, c.checker, c.approver, a.approver, a.approved_at, c.content, "
                       "(SELECT MIN(s.number) FROM certificates s WHERE s.supersedes = c.number) "
                       "FROM certificates c LEFT JOIN certificate_approvals a ON a.certificate_id = c.id ORDER BY c.id"),
        {}, QStringLiteral("读取证书"));
    if (!q)
        return q.status();
    std::vector<CertificateListing> out;
    while (q->next()) {
        CertificateListing l;
        l.id = q->value(0).toInt();
        l.number = q->value(1).toString();
        l.recordId = q->value(2).toInt();
        if (!q->value(3).isNull())
            l.asFoundRecordId = q->value(3).toInt();
        l.relaySerial = q->value(4).toString();
        l.verdict = q->value(5).toString();
        l.issuedAt = Archive::timestampText(q->value(6));
        l.tester = q->value(7).toString();
        l.checker = q->value(8).toString();
        l.state.approvedBy = q->value(10).toString();
        l.state.approvedAt = Archive::timestampText(q->value(11));
        l.state.supersededBy = q->value(13).toString();
        // The one who approved it once approved, else the one named at issue.
        l.approver = l.state.approvedBy.isEmpty() ? q->value(9).toString() : l.state.approvedBy;
        l.approvedAt = l.state.approvedAt;
        // What the certificate says, not what its columns say: a column
        // changed by hand shows nowhere (verify names it).
        if (auto c = contentFromJson(QJsonDocument::fromJson(q->value(12).toString().toUtf8()).object())) {
            l.number = c->number;
            l.recordId = c->asLeft.recordId;
            l.asFoundRecordId = c->asFound ? std::optional<int>(c->asFound->recordId) : std::nullopt;
            l.relaySerial = c->relay.serial;
            l.verdict = c->asLeft.verdict;
            l.issuedAt = c->issuedAt;
            l.tester = c->tester;
            l.checker = c->checker;
            if (l.state.approvedBy.isEmpty())
                l.approver = c->approver;
        }
        out.push_back(l);
    }
    return out;
}

Expected<std::optional<StoredCertificate>> findCertificate(const Archive& archive, const QString& number)
{
    return storedWhere(archive, number.trimmed());
}

// The chain's rows gathered for the certificates' check and the signatures' at once.
static std::function<void(const AuditRow&)> visitingBoth(check::Trail& trail, check::SignatureTrail& signatures)
{
    return [&trail, &signatures](const AuditRow& row) {
        trail.visit(row);
        signatures.visit(row);
    };
}

// The signature check's counts into a verification; every finding named, a
// line each, after the first other problem if there was one.
template <typename Verification>
static QString takeSignatures(Verification& out, const check::SignatureCheck& found, const QString& firstProblem)
{
    out.signatures = found.signatures;
    out.labKey = found.labKey;
    out.labTrusted = found.trusted;
    QStringList problems = found.findings;
    if (!firstProblem.isEmpty())
        problems.prepend(firstProblem);
    return problems.join(u'\n');
}

// "N个签名" and whether the lab's certificate was checked against the outside copy.
static QString signaturesLines(int signatures, bool labTrusted)
{
    return QStringLiteral("%1个签名\n").arg(signatures)
         + (labTrusted ? check::trustedLabText() : check::untrustedLabText());
}

QString ArchiveVerification::summary() const
{
    if (!intact())
        return firstProblem;
    QString out = QStringLiteral("存档完整：%1条审计记录，%2份证书").arg(auditRows).arg(certificates);
    if (labKey)
        out += QStringLiteral("，") + signaturesLines(signatures, labTrusted);
    return out;
}

// One certificate as the check query reads it: its hash with its records as
// they are now, its columns against its content, the versions it used.
static Expected<QString> oneCertificateProblem(check::Checks& checks, const QSqlQuery& q, const check::Trail& trail)
{
    const QString number = q.value(0).toString();
    const auto sha = trail.issued().constFind(number);
    const QString problem = certificateProblem(number, q.value(1).toString(), q.value(2).toString(),
                                               optionalBytes(q.value(3)), optionalBytes(q.value(4)),
                                               sha == trail.issued().constEnd() ? std::nullopt
                                                                                : std::optional<QString>(*sha));
    if (!problem.isEmpty())
        return problem;
    // The hash held: the content is as issued, and can be read.
    auto content = contentFromJson(QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object());
    trail.placeMerged(number, *content);
    if (const QString columns = check::columnsProblem(number, q, *content); !columns.isEmpty())
        return columns;
    return checks.versionsProblem(number, *content);
}

Expected<ArchiveVerification> verifyArchive(const Archive& archive, const std::optional<QByteArray>& trustedLabCertificate)
{
    ArchiveVerification out;
    check::Trail trail;
    check::SignatureTrail signatureTrail;
    auto chain = verifyAuditChain(archive, visitingBoth(trail, signatureTrail));
    if (!chain)
        return chain.status();
    out.auditRows = chain->rows;
    if (chain->firstAltered)
        out.firstProblem = chain->why.isEmpty() ? QStringLiteral("审计记录 %1 已被改动").arg(*chain->firstAltered)
                                                : chain->why;
    check::Checks checks(archive, trail);
    auto q = archive.run(kCertificateCheckQuery + QStringLiteral("ORDER BY c.id"), {}, QStringLiteral("校验存档"));
    if (!q)
        return q.status();
    // Checked after this query: a second query on the connection would cut it short on PostgreSQL.
    std::vector<RecordsToCheck> columnsToCheck;
    std::vector<std::pair<QString, CertificateContent>> versionsToCheck;
    while (q->next()) {
        ++out.certificates;
        if (!out.intact())
            continue;   // counted; the first problem is named already
        const QString number = q->value(0).toString();
        const auto sha = trail.issued().constFind(number);
        out.firstProblem = certificateProblem(number, q->value(1).toString(), q->value(2).toString(),
                                              optionalBytes(q->value(3)), optionalBytes(q->value(4)),
                                              sha == trail.issued().constEnd() ? std::nullopt
                                                                               : std::optional<QString>(*sha));
        if (!out.intact())
            continue;
        auto content = contentFromJson(QJsonDocument::fromJson(q->value(1).toString().toUtf8()).object());
        trail.placeMerged(number, *content);
        out.firstProblem = check::columnsProblem(number, *q, *content);
        if (out.intact()) {
            columnsToCheck.push_back(recordsToCheck(*q));
            versionsToCheck.emplace_back(number, std::move(*content));
        }
    }
    q->finish();
    for (size_t i = 0; i < columnsToCheck.size() && out.intact(); ++i) {
        const RecordsToCheck& c = columnsToCheck[i];
        auto columns = recordsColumnsProblem(archive, c.number, c.asLeftId, c.asFoundId);
        if (!columns)
            return columns.status();
        out.firstProblem = *columns;
        if (!out.intact())
            break;
        auto versions = checks.versionsProblem(versionsToCheck[i].first, versionsToCheck[i].second);
        if (!versions)
            return versions.status();
        out.firstProblem = *versions;
    }
    if (out.intact()) {
        auto rest = checks.rest();
        if (!rest)
            return rest.status();
        out.firstProblem = *rest;
    }
    auto signatures = check::checkSignatures(archive, signatureTrail, trustedLabCertificate);
    if (!signatures)
        return signatures.status();
    out.firstProblem = takeSignatures(out, *signatures, out.firstProblem);
    return out;
}

Expected<CertificateVerification> verifyCertificate(const Archive& archive, const QString& number,
                                                    const std::optional<QByteArray>& trustedLabCertificate)
{
    check::Trail trail;
    check::SignatureTrail signatureTrail;
    auto chain = verifyAuditChain(archive, visitingBoth(trail, signatureTrail));
    if (!chain)
        return chain.status();
    auto q = archive.run(kCertificateCheckQuery + QStringLiteral("WHERE c.number = ?"), {number.trimmed()},
                         QStringLiteral("校验证书"));
    if (!q)
        return q.status();
    if (!q->next())
        return Status::failure(ErrorCode::NotFound, noCertificateText(number.trimmed()));
    const QString found = q->value(0).toString();
    const RecordsToCheck records = recordsToCheck(*q);
    CertificateVerification out;
    out.code = verificationCode(q->value(2).toString());
    check::Checks checks(archive, trail);
    auto problem = oneCertificateProblem(checks, *q, trail);
    q->finish();
    if (!problem)
        return problem.status();
    out.problem = *problem;
    if (out.problem.isEmpty()) {
        auto columns = recordsColumnsProblem(archive, found, records.asLeftId, records.asFoundId);
        if (!columns)
            return columns.status();
        out.problem = *columns;
    }
    // Its signatures too: a certificate whose content holds may still have been signed by no one.
    auto signatures = check::checkSignatures(archive, signatureTrail, trustedLabCertificate, found);
    if (!signatures)
        return signatures.status();
    out.problem = takeSignatures(out, *signatures, out.problem);
    return out;
}

QString CertificateVerification::summary() const
{
    // The code either way: it is what the customer compares with the paper.
    QString out = QStringLiteral("校验码：%1").arg(code);
    if (labKey && problem.isEmpty())
        out += u'\n' + signaturesLines(signatures, labTrusted);
    return out;
}

} // namespace sf6
