#include "certificate/SignatureCheck.h"

#include "archive/Schema.h"
#include "certificate/Keys.h"
#include "certificate/People.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/objects.h>

#include <map>

namespace sf6::check {

namespace {

const QString kDoing = QStringLiteral("校验签名");
const QString kCertificatePrefix = QStringLiteral("certificate ");

struct PersonCert {
    QString name, fingerprint;
    QStringList roles;
    int labKeyId = 0;
    crypto::Cert certificate;
};

struct Signed {
    QString number, sha256, tester, checker, approver;
};

} // namespace

bool SignatureTrail::namesTrailRow(const QString& number, int auditId, const QString& auditHash) const
{
    if (!merged.contains(number))
        return hashes.value(auditId) == auditHash;
    return carriedHashes.value(auditId).contains(auditHash);
}

void SignatureTrail::visit(const AuditRow& row)
{
    hashes.insert(row.id, row.hash);
    if (row.action == audit::kMerged)
        return;
    if (row.action == audit::kMergedRow) {
        const QJsonObject o = QJsonDocument::fromJson(row.newValues.toUtf8()).object();
        const QString hash = o.value(QStringLiteral("hash")).toString();
        const QString action = o.value(QStringLiteral("action")).toString();
        const QString object = o.value(QStringLiteral("object")).toString();
        carriedHashes[o.value(QStringLiteral("id")).toInt()].insert(hash);
        const bool keyed = chainKeyed.value(o.value(QStringLiteral("previousHash")).toString()) || action == audit::kLabKeyChanged;
        chainKeyed.insert(hash, keyed);
        if (!object.startsWith(kCertificatePrefix))
            return;
        const QString number = object.mid(kCertificatePrefix.size());
        if (o.contains(QStringLiteral("placed")))
            merged.insert(number);
        // Signed in its own archive once that had a key: signed here too.
        if (keyed && merged.contains(number)) {
            if (action == audit::kCertificateIssued || action == audit::kCertificateAmended)
                issuedSigned.insert(number);
            else if (action == audit::kCertificateApproved)
                approvedSigned.insert(number);
        }
        return;
    }
    if (row.action == audit::kLabKeyChanged)
        labKeySeen = true;
    if (!labKeySeen || !row.object.startsWith(kCertificatePrefix))
        return;
    const QString number = row.object.mid(kCertificatePrefix.size());
    if (row.action == audit::kCertificateIssued || row.action == audit::kCertificateAmended)
        issuedSigned.insert(number);
    else if (row.action == audit::kCertificateApproved)
        approvedSigned.insert(number);
}

QString untrustedLabText()
{
    return QStringLiteral("实验室证书未与存档外的副本核对（核对请用 archive verify --trust 实验室证书文件）");
}

QString trustedLabText() { return QStringLiteral("实验室证书与存档外的副本相符"); }

Expected<SignatureCheck> checkSignatures(const Archive& archive, const SignatureTrail& trail,
                                         const std::optional<QByteArray>& trusted, const QString& onlyNumber)
{
    const bool one = !onlyNumber.isEmpty();
    const QVariantList oneBinding = one ? QVariantList{onlyNumber} : QVariantList{};
    SignatureCheck out;
    if (archive.schemaVersion() < schema::kSignaturesVersion)
        return out;
    QStringList& findings = out.findings;

    // The lab's keys: each certificate as stored, and the newest against the outside copy.
    std::map<int, crypto::Cert> labs;
    QString newestLab;
    {
        auto q = archive.run(QStringLiteral("SELECT id, version, certificate, fingerprint FROM lab_keys ORDER BY version"), {},
                             kDoing);
        if (!q)
            return q.status();
        while (q->next()) {
            const int version = q->value(1).toInt();
            auto cert = keys::readCertificate(q->value(2).toString().toLatin1());
            if (!cert) {
                findings << QStringLiteral("实验室密钥第 %1 版的证书无法读取").arg(version);
                continue;
            }
            newestLab = keys::fingerprint(cert->get());
            if (newestLab != q->value(3).toString())
                findings << QStringLiteral("实验室密钥第 %1 版的指纹与其证书不符").arg(version);
            labs.emplace(q->value(0).toInt(), std::move(*cert));
        }
    }
    out.labKey = !labs.empty();
    if (trail.labKeySeen && labs.empty())
        findings << QStringLiteral("审计记录记有实验室密钥，存档中却没有实验室密钥");
    if (trusted) {
        auto outside = keys::readCertificate(*trusted);
        if (!outside)
            findings << QStringLiteral("--trust 给出的文件不是实验室证书：") + outside.error();
        else if (labs.empty())
            findings << QStringLiteral("存档中没有实验室密钥，无法与存档外的实验室证书核对");
        else if (keys::fingerprint(outside->get()) != newestLab)
            findings << QStringLiteral("存档中的实验室证书与存档外的副本不符（存档中指纹 %1，副本指纹 %2）")
                            .arg(newestLab, keys::fingerprint(outside->get()));
        else
            out.trusted = true;
    }

    // The people's certificates, every version: issued by the lab's key they name, saying what the row says.
    std::map<int, PersonCert> people;
    {
        auto q = archive.run(QStringLiteral("SELECT id, name, version, roles, certificate, fingerprint, lab_key_id "
                                            "FROM person_versions ORDER BY id"),
                             {}, kDoing);
        if (!q)
            return q.status();
        while (q->next()) {
            PersonCert p;
            p.name = q->value(1).toString();
            const QString which = QStringLiteral("人员 %1 第 %2 版").arg(p.name).arg(q->value(2).toInt());
            p.roles = q->value(3).toString().split(u',', Qt::SkipEmptyParts);
            p.fingerprint = q->value(5).toString();
            p.labKeyId = q->value(6).toInt();
            auto cert = keys::readCertificate(q->value(4).toString().toLatin1());
            if (!cert) {
                findings << which + QStringLiteral("的证书无法读取");
                continue;
            }
            p.certificate = std::move(*cert);
            const auto lab = labs.find(p.labKeyId);
            if (lab == labs.end() || !keys::issuedBy(p.certificate.get(), lab->second.get()))
                findings << which + QStringLiteral("的证书不是实验室密钥签发的");
            if (keys::fingerprint(p.certificate.get()) != p.fingerprint)
                findings << which + QStringLiteral("的指纹与其证书不符");
            if (keys::subjectEntries(p.certificate.get(), NID_commonName) != QStringList{p.name}
                || keys::subjectEntries(p.certificate.get(), NID_organizationalUnitName) != p.roles)
                findings << which + QStringLiteral("的姓名或角色与其证书不符");
            people.emplace(q->value(0).toInt(), std::move(p));
        }
    }

    // The certificates and who signed them.
    std::map<int, Signed> certificates;
    {
        auto q = archive.runList(QStringLiteral("SELECT c.id, c.number, c.sha256, c.tester, c.checker, a.approver "
                                                "FROM certificates c LEFT JOIN certificate_approvals a ON a.certificate_id = c.id")
                                     + (one ? QStringLiteral(" WHERE c.number = ?") : QString()),
                                 oneBinding, kDoing);
        if (!q)
            return q.status();
        while (q->next())
            certificates.emplace(q->value(0).toInt(), Signed{q->value(1).toString(), q->value(2).toString(),
                                                             q->value(3).toString(), q->value(4).toString(),
                                                             q->value(5).toString()});
    }
    std::map<int, QHash<QString, QString>> signedBy;   // certificate id -> role -> person
    auto q = archive.runList(QStringLiteral("SELECT id, certificate_id, role, person, person_version_id, fingerprint, "
                                            "signed_at, content_sha256, audit_id, audit_hash, signature FROM signatures ")
                                 + (one ? QStringLiteral("WHERE certificate_id IN (SELECT id FROM certificates WHERE number = ?) ")
                                        : QString())
                                 + QStringLiteral("ORDER BY id"),
                             oneBinding, kDoing);
    if (!q)
        return q.status();
    while (q->next()) {
        ++out.signatures;
        const int certificateId = q->value(1).toInt();
        const QString role = q->value(2).toString(), person = q->value(3).toString();
        const QString fingerprint = q->value(5).toString(), at = Archive::timestampText(q->value(6));
        const QString sha = q->value(7).toString(), auditHash = q->value(9).toString();
        const int auditId = q->value(8).toInt();
        const auto c = certificates.find(certificateId);
        if (c == certificates.end()) {
            findings << QStringLiteral("签名 %1 所属的证书不在存档中").arg(q->value(0).toInt());
            continue;
        }
        const QString which = QStringLiteral("证书 %1 的%2（%3）签名").arg(c->second.number, role, person);
        signedBy[certificateId].insert(role, person);
        if (sha != c->second.sha256) {
            findings << which + QStringLiteral("与证书内容的散列不符，证书内容在签名后被改动");
            continue;
        }
        const auto p = people.find(q->value(4).toInt());
        if (p == people.end() || !p->second.certificate) {
            findings << which + QStringLiteral("所用的人员证书不在存档中");
            continue;
        }
        if (p->second.name != person || p->second.fingerprint != fingerprint)
            findings << which + QStringLiteral("与签名人的证书不符");
        else if (!p->second.roles.contains(role))
            findings << which + QStringLiteral("：签名人的证书没有这一角色");
        else if (!keys::verify(p->second.certificate.get(),
                               signatureText(c->second.number, c->second.sha256, role, person, fingerprint, at, auditHash),
                               QByteArray::fromBase64(q->value(10).toString().toLatin1())))
            findings << which + QStringLiteral("不成立：签名、时间或所签的内容已被改动");
        else if (!trail.namesTrailRow(c->second.number, auditId, auditHash))
            findings << which + QStringLiteral("所记的审计记录 %1 与审计链不符，签名前的审计记录已被改写").arg(auditId);
    }
    q->finish();

    // Since the lab has a key: every issue signed by its tester and checker, every approval by its approver.
    for (const auto& [id, c] : certificates) {
        const QHash<QString, QString> by = signedBy.count(id) ? signedBy.at(id) : QHash<QString, QString>();
        if (trail.issuedSigned.contains(c.number)) {
            for (const auto& [role, name] : {std::pair{roles::kTester, c.tester}, std::pair{roles::kChecker, c.checker}}) {
                if (!by.contains(role))
                    findings << QStringLiteral("证书 %1 缺少%2的签名").arg(c.number, role);
                else if (by.value(role) != name)
                    findings << QStringLiteral("证书 %1 的%2是 %3，签名的却是 %4").arg(c.number, role, name, by.value(role));
            }
        }
        if (trail.approvedSigned.contains(c.number) || (!c.approver.isEmpty() && by.contains(roles::kApprover))) {
            if (c.approver.isEmpty())
                findings << QStringLiteral("证书 %1 有批准人的签名，批准记录却已不在").arg(c.number);
            else if (!by.contains(roles::kApprover))
                findings << QStringLiteral("证书 %1 的批准缺少批准人的签名").arg(c.number);
            else if (by.value(roles::kApprover) != c.approver)
                findings << QStringLiteral("证书 %1 的批准人是 %2，签名的却是 %3").arg(c.number, c.approver,
                                                                                    by.value(roles::kApprover));
        }
    }
    return out;
}

} // namespace sf6::check
