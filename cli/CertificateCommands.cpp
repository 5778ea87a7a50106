// sf6cli archive lab | standard | standards | certify | approve | amend |
// certificate | certificates | verify: the certificates of the archive from
// the command line, through the same procedures as the windows.
#include "certificate/Certificate.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "certificate/People.h"
#include "cli/Passwords.h"
#include "ops/Certificates.h"

#include <QFile>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

std::optional<QString> option(const QCommandLineParser& p, const char* name)
{
    return p.isSet(QLatin1String(name)) ? std::optional<QString>(p.value(QLatin1String(name))) : std::nullopt;
}

// A positive number, 0 when the option is not one (or missing).
int numberOption(const QCommandLineParser& p, const char* name)
{
    bool ok = false;
    const int n = p.value(QLatin1String(name)).trimmed().toInt(&ok);
    return ok && n > 0 ? n : 0;
}

} // namespace

int labCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    if (labKeyOption(p))
        return labKeyCommand(p, archive);
    sf6::LabTexts t;
    t.name = option(p, "name");
    t.address = option(p, "address");
    t.phone = option(p, "phone");
    t.accreditation = option(p, "accreditation");
    t.prefix = option(p, "prefix");
    t.decisionRule = option(p, "decision-rule");
    t.verificationAddress = option(p, "verification-address");
    std::optional<sf6::LabProfile> lab;
    if (t.name || t.address || t.phone || t.accreditation || t.prefix || t.decisionRule || t.verificationAddress) {
        auto saved = sf6::saveLab(archive, t);
        if (!saved) {
            return fail(saved.status());
        }
        err(QStringLiteral("实验室信息已保存（第%1版）").arg(saved->version));
        lab = *saved;
    } else {
        auto current = sf6::currentLab(archive);
        if (!current) {
            err(current.error());
            return kArchiveFailed;
        }
        if (!*current) {
            err(QStringLiteral("存档中还没有实验室信息（用 --name 等选项填写）"));
            return kNoAnswer;
        }
        lab = **current;
    }
    std::vector<std::pair<QString, QString>> fields{
        {QStringLiteral("校验单位"), lab->name},           {QStringLiteral("地址"), lab->address},
        {QStringLiteral("电话"), lab->phone},              {QStringLiteral("授权/认可证书号"), lab->accreditation},
        {QStringLiteral("证书编号前缀"), lab->prefix},     {QStringLiteral("版本"), QString::number(lab->version)},
        {QStringLiteral("判定规则"), lab->decisionRule == QLatin1String(sf6::kRuleGuardBandKey) ? sf6::kRuleGuardBandName
                                                                                                : sf6::kRuleSimpleName}};
    // Last, and only when set: the lines before it stay where scripts read them.
    if (!lab->verificationAddress.isEmpty())
        fields.push_back({QStringLiteral("核验地址"), lab->verificationAddress});
    QByteArray text;
    QJsonObject json;
    for (const auto& [caption, value] : fields) {
        text += (caption + u'\t' + tsvField(value)).toUtf8() + '\n';
        json.insert(caption, value);
    }
    const sf6::Status s = p.isSet(QStringLiteral("json"))
        ? writeOutput(p.value(QStringLiteral("json")), QJsonDocument(json).toJson())
        : writeOutput(kStdout, text);
    if (!s) {
        err(s.message());
        return kWriteFailed;
    }
    return kOk;
}

int standardCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const QString serial = p.value(QStringLiteral("serial")).trimmed();
    if (serial.isEmpty()) {
        err(QStringLiteral("archive standard 需要 --serial 编号"));
        return kUsage;
    }
    sf6::StandardTexts t;
    t.name = option(p, "name");
    t.model = option(p, "model");
    t.certificate = option(p, "certificate");
    t.issuer = option(p, "issuer");
    t.validUntil = option(p, "valid-until");
    t.uncertainty = option(p, "uncertainty");
    t.expandedUncertainty = option(p, "expanded-uncertainty");
    t.coverageFactor = option(p, "coverage-factor");
    auto saved = sf6::saveStandard(archive, serial, t);
    if (!saved) {
        return fail(saved.status());
    }
    err(QStringLiteral("标准器 %1 已保存（第%2版）").arg(saved->serial).arg(saved->version));
    return kOk;
}

int standardsCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    const auto all = sf6::listStandards(archive);
    if (!all) {
        err(all.error());
        return kArchiveFailed;
    }
    const QStringList header{QStringLiteral("编号"),     QStringLiteral("名称"),     QStringLiteral("型号"),
                             QStringLiteral("证书编号"), QStringLiteral("发证单位"), QStringLiteral("有效期至"),
                             QStringLiteral("不确定度/准确度等级"), QStringLiteral("版本"),
                             QStringLiteral("扩展不确定度U（MPa）"), QStringLiteral("包含因子k")};
    std::vector<QStringList> rows;
    for (const sf6::ReferenceStandard& s : *all)
        rows.push_back({s.serial, s.name, s.model, s.certificate, s.issuer, s.validUntil, s.uncertainty,
                        QString::number(s.version), s.expandedUncertainty, s.coverageFactor});
    return writeTable(p, header, rows);
}

namespace {

// The certificate's pages into the PDF --pdf names. The certificate stands
// whether or not its PDF could be written: it can be printed again.
int pdfWritten(const QCommandLineParser& p, const QString& number, const sf6::Expected<int>& pages, bool justIssued)
{
    if (!pages) {
        err(pages.error());
        if (pages.code() != sf6::ErrorCode::OutputNotWritten)
            return kArchiveFailed;
        if (justIssued)
            err(QStringLiteral("证书 %1 已出具，PDF 未写入；可用 sf6cli archive certificate --number %1 --pdf FILE 重新打印")
                    .arg(number));
        return kWriteFailed;
    }
    err(QStringLiteral("证书 %1 已写入 %2（%3页）").arg(number, p.value(QStringLiteral("pdf"))).arg(*pages));
    return kOk;
}

QString pdfOption(const QCommandLineParser& p)
{
    return p.isSet(QStringLiteral("pdf")) ? p.value(QStringLiteral("pdf")) : QString();
}

// The options of certify that amend may change; a usage mistake is said here.
std::optional<sf6::CertifyRequest> certifyOptions(const QCommandLineParser& p)
{
    sf6::CertifyRequest rq;
    if (p.isSet(QStringLiteral("record"))) {
        rq.recordId = numberOption(p, "record");
        if (rq.recordId == 0) {
            err(QStringLiteral("档案号应为正整数：--record %1").arg(p.value(QStringLiteral("record"))));
            return std::nullopt;
        }
    }
    if (p.isSet(QStringLiteral("as-found"))) {
        const int m = numberOption(p, "as-found");
        if (m == 0) {
            err(QStringLiteral("档案号应为正整数：--as-found %1").arg(p.value(QStringLiteral("as-found"))));
            return std::nullopt;
        }
        rq.asFoundRecordId = m;
    }
    rq.standardSerial = p.value(QStringLiteral("standard")).trimmed();
    rq.tester = p.value(QStringLiteral("tester")).trimmed();
    rq.checker = p.value(QStringLiteral("checker")).trimmed();
    rq.approver = p.value(QStringLiteral("approver")).trimmed();
    rq.humidity = p.value(QStringLiteral("humidity")).trimmed();
    rq.acceptP20 = p.isSet(QStringLiteral("accept-p20"));
    rq.acceptImported = p.isSet(QStringLiteral("accept-imported"));
    return rq;
}

int issued(const QCommandLineParser& p, const sf6::ops::CertificateDone& d)
{
    const sf6::IssuedCertificate& c = d.certificate;
    if (const sf6::Status s = writeOutput(kStdout, c.content.number.toUtf8() + '\n'); !s) {
        err(s.message());
        return kWriteFailed;
    }
    err(QStringLiteral("证书 %1 已出具：%2").arg(c.content.number, c.content.asLeft.conclusion.line));
    return d.pdf ? pdfWritten(p, c.content.number, *d.pdf, true) : kOk;
}

// Once the lab has a key: the tester's and the checker's passwords, from
// --passwords or the terminal. False when one could not be had (said).
std::optional<int> signerPasswords(const QCommandLineParser& p, const sf6::Archive& archive, sf6::CertifyRequest& rq)
{
    auto signing = sf6::signaturesRequired(archive);
    if (!signing)
        return fail(signing.status());
    if (!*signing)
        return std::nullopt;
    const auto passwords = Passwords::from(p);
    if (!passwords)
        return fail(passwords.status());
    for (const auto& [name, password] : {std::pair{rq.tester, &rq.testerPassword}, std::pair{rq.checker, &rq.checkerPassword}}) {
        auto got = passwords->current(name);
        if (!got)
            return fail(got.status());
        *password = *got;
    }
    return std::nullopt;
}

// A refusal; one that waits for the user's word names the option that gives it.
int refused(const sf6::Status& s)
{
    if (s.code() == sf6::ErrorCode::P20Unconfirmed)
        return fail(sf6::Status::failure(s.code(), s.message() + QStringLiteral("（确认后用 --accept-p20 出具）")));
    return fail(s);
}

} // namespace

int certifyCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const auto rq = certifyOptions(p);
    if (!rq)
        return kUsage;
    if (rq->recordId == 0 || rq->standardSerial.isEmpty() || rq->tester.isEmpty() || rq->checker.isEmpty()) {
        err(QStringLiteral("archive certify 需要 --record 档案号、--standard 标准器编号、--tester 校验员 和 --checker 核验员"));
        return kUsage;
    }
    sf6::CertifyRequest signedRq = *rq;
    if (const auto failed = signerPasswords(p, archive, signedRq))
        return *failed;
    auto c = sf6::ops::issueCertificate(archive, signedRq, pdfOption(p));
    if (!c)
        return refused(c.status());
    return issued(p, *c);
}

int approveCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const QString number = p.value(QStringLiteral("certificate")).trimmed();
    const QString approver = p.value(QStringLiteral("approver")).trimmed();
    if (number.isEmpty() || approver.isEmpty()) {
        err(QStringLiteral("archive approve 需要 --certificate 证书编号 和 --approver 批准人"));
        return kUsage;
    }
    QString password;
    auto signing = sf6::signaturesRequired(archive);
    if (!signing)
        return fail(signing.status());
    if (*signing) {
        const auto passwords = Passwords::from(p);
        if (!passwords)
            return fail(passwords.status());
        auto got = passwords->current(approver);
        if (!got)
            return fail(got.status());
        password = *got;
    }
    if (const sf6::Status s = sf6::ops::approveCertificate(archive, number, approver, password); !s)
        return fail(s);
    err(QStringLiteral("证书 %1 已由 %2 批准").arg(number, approver));
    if (!p.isSet(QStringLiteral("pdf")))
        return kOk;
    return pdfWritten(p, number,
                      sf6::ops::writeIssuedCertificatePdf(archive, number, p.value(QStringLiteral("pdf")), password), false);
}

int amendCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const QString number = p.value(QStringLiteral("certificate")).trimmed();
    const QString reason = p.value(QStringLiteral("reason")).trimmed();
    if (number.isEmpty() || reason.isEmpty()) {
        err(QStringLiteral("archive amend 需要 --certificate 证书编号 和 --reason 原因"));
        return kUsage;
    }
    const auto rq = certifyOptions(p);
    if (!rq)
        return kUsage;
    // The signers are the old certificate's where not given.
    sf6::CertifyRequest signedRq = *rq;
    if (signedRq.tester.isEmpty() || signedRq.checker.isEmpty()) {
        auto old = sf6::findCertificate(archive, number);
        if (!old)
            return fail(old.status());
        if (*old) {
            if (signedRq.tester.isEmpty())
                signedRq.tester = (*old)->content.tester;
            if (signedRq.checker.isEmpty())
                signedRq.checker = (*old)->content.checker;
        }
    }
    if (const auto failed = signerPasswords(p, archive, signedRq))
        return *failed;
    auto c = sf6::ops::amendCertificate(archive, number, reason, signedRq, pdfOption(p));
    if (!c)
        return refused(c.status());
    err(QStringLiteral("本证书替代 %1，原因：%2").arg(number, reason));
    return issued(p, *c);
}

int reprintCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    const QString number = p.value(QStringLiteral("number")).trimmed();
    if (number.isEmpty() || !p.isSet(QStringLiteral("pdf"))) {
        err(QStringLiteral("archive certificate 需要 --number 证书编号 和 --pdf FILE"));
        return kUsage;
    }
    auto stored = sf6::findCertificate(archive, number);
    if (!stored) {
        err(stored.error());
        return kArchiveFailed;
    }
    if (!*stored) {
        err(QStringLiteral("存档中没有编号为 %1 的证书").arg(number));
        return kNoAnswer;
    }
    // An approved certificate's PDF is signed by its approver, with their password.
    auto signer = sf6::ops::pdfSigner(archive, number);
    if (!signer)
        return fail(signer.status());
    QString password;
    if (!signer->isEmpty()) {
        const auto passwords = Passwords::from(p);
        if (!passwords)
            return fail(passwords.status());
        auto got = passwords->current(*signer);
        if (!got)
            return fail(got.status());
        password = *got;
    }
    return pdfWritten(p, number,
                      sf6::ops::writeIssuedCertificatePdf(archive, number, p.value(QStringLiteral("pdf")), password), false);
}

int certificatesCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    const auto all = sf6::listCertificates(archive);
    if (!all) {
        err(all.error());
        return kArchiveFailed;
    }
    const QStringList header{QStringLiteral("证书编号"), QStringLiteral("档案号"),   QStringLiteral("调整前档案号"),
                             QStringLiteral("继电器编号"), QStringLiteral("结论"),   QStringLiteral("出具时间"),
                             QStringLiteral("校验员"),   QStringLiteral("核验员"),   QStringLiteral("批准人"),
                             QStringLiteral("批准时间"), QStringLiteral("状态")};
    std::vector<QStringList> rows;
    for (const sf6::CertificateListing& c : *all)
        rows.push_back({c.number, QString::number(c.recordId),
                        c.asFoundRecordId ? QString::number(*c.asFoundRecordId) : QString(), c.relaySerial, c.verdict,
                        c.issuedAt, c.tester, c.checker, c.approver, c.approvedAt, sf6::stateText(c.state)});
    return writeTable(p, header, rows);
}

int verifyCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    std::optional<QByteArray> trusted;
    if (p.isSet(QStringLiteral("trust"))) {
        QFile file(p.value(QStringLiteral("trust")));
        if (!file.open(QIODevice::ReadOnly)) {
            err(QStringLiteral("无法读取 %1：%2").arg(file.fileName(), file.errorString()));
            return kUsage;
        }
        trusted = file.readAll();
    }
    if (p.isSet(QStringLiteral("certificate"))) {
        auto one = sf6::verifyCertificate(archive, p.value(QStringLiteral("certificate")), trusted);
        if (!one) {
            return fail(one.status());
        }
        if (const sf6::Status s = writeOutput(kStdout, one->summary().toUtf8() + '\n'); !s) {
            err(s.message());
            return kWriteFailed;
        }
        if (!one->problem.isEmpty()) {
            err(one->problem);
            return kAltered;
        }
        return kOk;
    }
    // Writes skip the damage check while the file is as last found whole; here it is read in full.
    if (const sf6::Status whole = archive.checkFile(); !whole) {
        err(whole.message());
        return kArchiveFailed;
    }
    auto all = sf6::verifyArchive(archive, trusted);
    if (!all) {
        err(all.error());
        return kArchiveFailed;
    }
    if (!all->intact()) {
        err(all->firstProblem);
        return kAltered;
    }
    if (const sf6::Status s = writeOutput(kStdout, all->summary().toUtf8() + '\n'); !s) {
        err(s.message());
        return kWriteFailed;
    }
    return kOk;
}

} // namespace cli
