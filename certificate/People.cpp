#include "certificate/People.h"

#include "archive/Audit.h"
#include "archive/Schema.h"
#include "archive/Versions.h"
#include "certificate/Certificate.h"
#include "certificate/CertificateRules.h"
#include "certificate/Keys.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace sf6 {

namespace roles {
const QStringList& all()
{
    static const QStringList r{kTester, kChecker, kApprover};
    return r;
}
} // namespace roles

namespace {

const QString kLabKeyColumns = QStringLiteral("id, version, changed_at, certificate, locked_key, fingerprint");
const QString kPersonColumns =
    QStringLiteral("id, name, version, changed_at, roles, retired, certificate, locked_key, fingerprint, lab_key_id");
const QString kRoleSeparator = QStringLiteral(",");

QString program()
{
    return QCoreApplication::applicationName().isEmpty() ? QStringLiteral("sf6") : QCoreApplication::applicationName();
}

LabKey labKeyOf(const QSqlQuery& q)
{
    return {q.value(0).toInt(), q.value(1).toInt(), Archive::timestampText(q.value(2)), q.value(5).toString(),
            q.value(3).toString().toLatin1(), q.value(4).toString().toLatin1()};
}

PersonVersion personOf(const QSqlQuery& q)
{
    PersonVersion p;
    p.id = q.value(0).toInt();
    p.name = q.value(1).toString();
    p.version = q.value(2).toInt();
    p.changedAt = Archive::timestampText(q.value(3));
    p.roles = q.value(4).toString().split(kRoleSeparator, Qt::SkipEmptyParts);
    p.retired = q.value(5).toInt() != 0;
    p.certificatePem = q.value(6).toString().toLatin1();
    p.lockedKey = q.value(7).toString().toLatin1();
    p.fingerprint = q.value(8).toString();
    p.labKeyId = q.value(9).toInt();
    return p;
}

bool hasPeopleTables(const Archive& archive) { return archive.schemaVersion() >= schema::kSignaturesVersion; }

Expected<std::optional<LabKey>> labKeyWhere(const Archive& archive, const QString& where, const QVariant& value)
{
    if (!hasPeopleTables(archive))
        return std::optional<LabKey>();
    auto q = value.isValid()
        ? archive.run(QStringLiteral("SELECT %1 FROM lab_keys %2").arg(kLabKeyColumns, where), {value},
                      QStringLiteral("读取实验室密钥"))
        : archive.run(QStringLiteral("SELECT %1 FROM lab_keys %2").arg(kLabKeyColumns, where), {},
                      QStringLiteral("读取实验室密钥"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<LabKey>();
    return std::optional<LabKey>(labKeyOf(*q));
}

struct UnlockedLab {
    crypto::PKey key;
    crypto::Cert certificate;
    int id = 0;
};

Status noLabKey()
{
    return Status::failure(ErrorCode::NoLabKey,
                           QStringLiteral("实验室还没有签名密钥：请先用 sf6cli archive lab --create-key（或 --import-key 文件.pfx）创建"));
}

Expected<UnlockedLab> unlockLab(const Archive& archive, const QString& password)
{
    auto lab = currentLabKey(archive);
    if (!lab)
        return lab.status();
    if (!*lab)
        return noLabKey();
    auto cert = keys::readCertificate((*lab)->certificatePem);
    if (!cert)
        return Status::failure(ErrorCode::Altered, QStringLiteral("存档中的实验室证书无法读取"));
    auto key = keys::unlockKey((*lab)->lockedKey, password, kLabPasswordName);
    if (!key)
        return key.status();
    if (!keys::keyMatches(key->get(), cert->get()))
        return Status::failure(ErrorCode::Altered, QStringLiteral("存档中的实验室私钥与实验室证书不配对"));
    return UnlockedLab{std::move(*key), std::move(*cert), (*lab)->id};
}

Expected<LabKey> storeLabKey(Archive& archive, Archive::Write& write, EVP_PKEY* key, X509* cert,
                             const QString& labPassword, const QString& how)
{
    auto locked = keys::lockKey(key, labPassword);
    if (!locked)
        return locked.status();
    LabKey lab;
    lab.certificatePem = keys::certificatePem(cert);
    lab.lockedKey = *locked;
    lab.fingerprint = keys::fingerprint(cert);
    NextVersion next;
    next.versionsTable = QStringLiteral("lab_keys");
    next.insert = QStringLiteral("INSERT INTO lab_keys (id, version, changed_at, source, certificate, locked_key, fingerprint) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?)");
    next.values = [&lab](const VersionStamp& v) {
        return QVariantList{v.id, v.version, v.changedAt, program(), QString::fromLatin1(lab.certificatePem),
                            QString::fromLatin1(lab.lockedKey), lab.fingerprint};
    };
    next.action = audit::kLabKeyChanged;
    next.object = QStringLiteral("lab key");
    next.oldValues = QJsonValue();
    next.newValues = [&lab, &how](int version) {
        return QJsonObject{{QStringLiteral("version"), version},
                           {QStringLiteral("fingerprint"), lab.fingerprint},
                           {QStringLiteral("how"), how}};
    };
    next.doing = QStringLiteral("保存实验室密钥");
    auto stamp = addVersion(archive, next);
    if (!stamp)
        return stamp.status();
    lab.id = stamp->id;
    lab.version = stamp->version;
    lab.changedAt = stamp->changedAt;
    if (Status c = write.commit(); !c)
        return c;
    return lab;
}

Status hasNoLabKeyYet(const Archive& archive)
{
    if (!hasPeopleTables(archive))
        return Status::failure(ErrorCode::ArchiveReadOnly, QStringLiteral("存档的结构版本较旧，不能保存签名密钥"));
    auto lab = currentLabKey(archive);
    if (!lab)
        return lab.status();
    if (*lab)
        return Status::failure(ErrorCode::NoLabKey,
                               QStringLiteral("实验室已有签名密钥（指纹 %1），未改动").arg((*lab)->fingerprint));
    return Status::success();
}

Expected<QString> labName(const Archive& archive)
{
    auto lab = currentLab(archive);
    if (!lab)
        return lab.status();
    return *lab && !(*lab)->name.trimmed().isEmpty() ? (*lab)->name.trimmed() : kLabPasswordName;
}

} // namespace

QJsonObject personValues(const PersonVersion& p)
{
    return QJsonObject{{QStringLiteral("name"), p.name},
                       {QStringLiteral("version"), p.version},
                       {QStringLiteral("roles"), QJsonArray::fromStringList(p.roles)},
                       {QStringLiteral("retired"), p.retired},
                       {QStringLiteral("fingerprint"), p.fingerprint}};
}

namespace {

// The person's next version (p holds its fields) with its audit row.
Expected<PersonVersion> storePerson(Archive& archive, PersonVersion p, const std::optional<PersonVersion>& before)
{
    NextVersion next;
    next.versionsTable = QStringLiteral("person_versions");
    next.insert = QStringLiteral("INSERT INTO person_versions (id, name, version, changed_at, source, roles, retired, "
                                 "certificate, locked_key, fingerprint, lab_key_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    next.values = [&p](const VersionStamp& v) {
        return QVariantList{v.id, p.name, v.version, v.changedAt, program(), p.roles.join(kRoleSeparator),
                            p.retired ? 1 : 0, QString::fromLatin1(p.certificatePem), QString::fromLatin1(p.lockedKey),
                            p.fingerprint, p.labKeyId};
    };
    next.previousVersion = before ? before->version : 0;
    next.action = audit::kPersonChanged;
    next.object = QStringLiteral("person %1").arg(p.name);
    next.oldValues = before ? QJsonValue(personValues(*before)) : QJsonValue();
    next.newValues = [&p](int version) {
        PersonVersion after = p;
        after.version = version;
        return personValues(after);
    };
    next.doing = QStringLiteral("保存人员");
    auto stamp = addVersion(archive, next);
    if (!stamp)
        return stamp.status();
    p.id = stamp->id;
    p.version = stamp->version;
    p.changedAt = stamp->changedAt;
    return p;
}

Expected<QStringList> checkedRoles(const QStringList& given)
{
    QStringList out;
    for (const QString& r : given) {
        const QString role = r.trimmed();
        if (role.isEmpty())
            continue;
        if (!roles::all().contains(role))
            return Status::failure(ErrorCode::InvalidValue, QStringLiteral("角色只能是 %1（%2），未保存")
                                                                .arg(roles::all().join(QStringLiteral("、")), role));
        if (!out.contains(role))
            out << role;
    }
    if (out.isEmpty())
        return Status::failure(ErrorCode::InvalidValue,
                               QStringLiteral("人员至少要有一个角色（%1），未保存").arg(roles::all().join(QStringLiteral("、"))));
    // Always in the same order, so that the same roles give the same certificate subject.
    std::sort(out.begin(), out.end(), [](const QString& a, const QString& b) {
        return roles::all().indexOf(a) < roles::all().indexOf(b);
    });
    return out;
}

} // namespace

Expected<std::optional<LabKey>> currentLabKey(const Archive& archive)
{
    return labKeyWhere(archive, QStringLiteral("ORDER BY version DESC LIMIT 1"), QVariant());
}

Expected<LabKey> createLabKey(Archive& archive, const QString& labPassword)
{
    if (labPassword.isEmpty())
        return Status::failure(ErrorCode::WrongPassword, QStringLiteral("没有给出实验室的密码，未创建密钥"));
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    if (Status s = hasNoLabKeyYet(archive); !s)
        return s;
    auto name = labName(archive);
    if (!name)
        return name.status();
    auto key = keys::newKey();
    if (!key)
        return key.status();
    auto cert = keys::labCertificate(key->get(), *name);
    if (!cert)
        return cert.status();
    return storeLabKey(archive, write, key->get(), cert->get(), labPassword, QStringLiteral("created"));
}

Expected<LabKey> importLabKey(Archive& archive, const QByteArray& pfx, const QString& pfxPassword,
                              const QString& labPassword)
{
    if (labPassword.isEmpty())
        return Status::failure(ErrorCode::WrongPassword, QStringLiteral("没有给出实验室的密码，未导入密钥"));
    auto imported = keys::readPkcs12(pfx, pfxPassword);
    if (!imported)
        return imported.status();
    if (const Status s = keys::canCertifyPeople(imported->certificate.get()); !s)
        return s;
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    if (Status s = hasNoLabKeyYet(archive); !s)
        return s;
    return storeLabKey(archive, write, imported->key.get(), imported->certificate.get(), labPassword,
                       QStringLiteral("imported"));
}

Expected<std::optional<PersonVersion>> findPerson(const Archive& archive, const QString& name)
{
    if (!hasPeopleTables(archive))
        return std::optional<PersonVersion>();
    auto q = archive.run(QStringLiteral("SELECT %1 FROM person_versions WHERE name = ? ORDER BY version DESC LIMIT 1")
                             .arg(kPersonColumns),
                         {name.trimmed()}, QStringLiteral("读取人员"));
    if (!q)
        return q.status();
    if (!q->next())
        return std::optional<PersonVersion>();
    return std::optional<PersonVersion>(personOf(*q));
}

Expected<std::vector<PersonVersion>> listPeople(const Archive& archive)
{
    std::vector<PersonVersion> out;
    if (!hasPeopleTables(archive))
        return out;
    auto q = archive.run(QStringLiteral("SELECT %1 FROM person_versions p WHERE version = "
                                        "(SELECT MAX(version) FROM person_versions n WHERE n.name = p.name) ORDER BY name")
                             .arg(kPersonColumns),
                         {}, QStringLiteral("读取人员"));
    if (!q)
        return q.status();
    while (q->next())
        out.push_back(personOf(*q));
    return out;
}

Expected<PersonVersion> savePerson(Archive& archive, const PersonChange& change)
{
    const QString name = change.name.trimmed();
    if (name.isEmpty())
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("人员：「姓名」不能为空，未保存"));
    if (auto problem = invisibleCharacterProblem(QStringLiteral("姓名"), name))
        return Status::failure(ErrorCode::InvalidValue, *problem + QStringLiteral("，未保存"));
    std::optional<QStringList> wanted;
    if (change.roles) {
        auto r = checkedRoles(*change.roles);
        if (!r)
            return r.status();
        wanted = *r;
    }
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    if (!hasPeopleTables(archive))
        return Status::failure(ErrorCode::ArchiveReadOnly, QStringLiteral("存档的结构版本较旧，不能保存人员"));
    auto before = findPerson(archive, name);
    if (!before)
        return before.status();
    if (*before && (*before)->retired)
        return Status::failure(ErrorCode::PersonRetired, QStringLiteral("%1已停用，不再改动").arg(name));
    if (!*before && !wanted)
        return Status::failure(ErrorCode::InvalidValue,
                               QStringLiteral("新人员 %1 需要角色（%2），未保存").arg(name, roles::all().join(QStringLiteral("、"))));
    if (!*before && change.retire)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("人员名单中没有 %1，无从停用").arg(name));
    const bool rolesChange = wanted && (!*before || (*before)->roles != *wanted);
    if (*before && !rolesChange && !change.retire && !change.newKey)
        return **before;   // nothing changed: no new version
    if ((!*before || change.newKey) && change.personPassword.isEmpty())
        return Status::failure(ErrorCode::WrongPassword, QStringLiteral("没有给出 %1 的新密码，未保存").arg(name));
    auto lab = unlockLab(archive, change.labPassword);
    if (!lab)
        return lab.status();

    PersonVersion p = before->value_or(PersonVersion{});
    p.name = name;
    if (wanted)
        p.roles = *wanted;
    p.retired = change.retire;
    if (!*before || change.newKey || rolesChange) {
        crypto::PKey key;
        crypto::Cert old;
        if (!*before || change.newKey) {
            auto made = keys::newKey();
            if (!made)
                return made.status();
            key = std::move(*made);
            auto locked = keys::lockKey(key.get(), change.personPassword);
            if (!locked)
                return locked.status();
            p.lockedKey = *locked;
        } else {
            auto read = keys::readCertificate(p.certificatePem);
            if (!read)
                return Status::failure(ErrorCode::Altered, QStringLiteral("存档中 %1 的证书无法读取").arg(name));
            old = std::move(*read);
        }
        // A new role set certifies the same public key again.
        EVP_PKEY* subject = key ? key.get() : X509_get0_pubkey(old.get());
        auto cert = keys::personCertificate(subject, name, p.roles, lab->key.get(), lab->certificate.get());
        if (!cert)
            return cert.status();
        p.certificatePem = keys::certificatePem(cert->get());
        p.fingerprint = keys::fingerprint(cert->get());
        p.labKeyId = lab->id;
    }
    auto stored = storePerson(archive, std::move(p), *before);
    if (!stored)
        return stored.status();
    if (Status c = write.commit(); !c)
        return c;
    return stored;
}

Expected<PersonVersion> changePassword(Archive& archive, const QString& name, const QString& oldPassword,
                                       const QString& newPassword)
{
    if (newPassword.isEmpty())
        return Status::failure(ErrorCode::WrongPassword, QStringLiteral("新密码不能为空，%1的密码未改").arg(name));
    Archive::Write write(archive);
    if (!write.begun())
        return write.begun();
    auto before = findPerson(archive, name);
    if (!before)
        return before.status();
    if (!*before)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("人员名单中没有 %1").arg(name.trimmed()));
    if ((*before)->retired)
        return Status::failure(ErrorCode::PersonRetired, QStringLiteral("%1已停用，不再改动").arg((*before)->name));
    auto key = keys::unlockKey((*before)->lockedKey, oldPassword, (*before)->name);
    if (!key)
        return key.status();
    auto locked = keys::lockKey(key->get(), newPassword);
    if (!locked)
        return locked.status();
    PersonVersion p = **before;
    p.lockedKey = *locked;
    auto stored = storePerson(archive, std::move(p), *before);
    if (!stored)
        return stored.status();
    if (Status c = write.commit(); !c)
        return c;
    return stored;
}

Expected<UnlockedSigner> unlockPerson(const Archive& archive, const QString& name, const QString& password)
{
    auto person = findPerson(archive, name);
    if (!person)
        return person.status();
    if (!*person)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("人员名单中没有 %1").arg(name.trimmed()));
    auto lab = labKeyWhere(archive, QStringLiteral("WHERE id = ?"), (*person)->labKeyId);
    if (!lab)
        return lab.status();
    if (!*lab)
        return Status::failure(ErrorCode::Altered, QStringLiteral("存档中没有签发 %1 证书的实验室密钥").arg((*person)->name));
    auto labCert = keys::readCertificate((*lab)->certificatePem);
    auto cert = keys::readCertificate((*person)->certificatePem);
    if (!labCert || !cert)
        return Status::failure(ErrorCode::Altered, QStringLiteral("存档中 %1 的证书无法读取").arg((*person)->name));
    auto key = keys::unlockKey((*person)->lockedKey, password, (*person)->name);
    if (!key)
        return key.status();
    if (!keys::keyMatches(key->get(), cert->get()))
        return Status::failure(ErrorCode::Altered, QStringLiteral("存档中 %1 的私钥与其证书不配对").arg((*person)->name));
    UnlockedSigner s;
    s.key = std::move(*key);
    s.certificate = std::move(*cert);
    s.labCertificate = std::move(*labCert);
    s.name = (*person)->name;
    s.fingerprint = (*person)->fingerprint;
    s.personVersionId = (*person)->id;
    return s;
}

Expected<UnlockedSigner> unlockSigner(const Archive& archive, const QString& name, const QString& password,
                                      const QString& role)
{
    auto person = findPerson(archive, name);
    if (!person)
        return person.status();
    if (!*person)
        return Status::failure(ErrorCode::NotFound, QStringLiteral("人员名单中没有 %1，不能作为%2签名").arg(name.trimmed(), role));
    if ((*person)->retired)
        return Status::failure(ErrorCode::PersonRetired, QStringLiteral("%1已停用，不能作为%2签名").arg((*person)->name, role));
    if (!(*person)->roles.contains(role))
        return Status::failure(ErrorCode::RoleMissing,
                               QStringLiteral("%1没有%2的角色，不能作为%2签名").arg((*person)->name, role));
    auto signer = unlockPerson(archive, name, password);
    if (!signer)
        return signer;
    signer->role = role;
    return signer;
}

Expected<bool> signaturesRequired(const Archive& archive)
{
    auto lab = currentLabKey(archive);
    if (!lab)
        return lab.status();
    return bool(*lab);
}

QByteArray signatureText(const QString& number, const QString& contentSha256, const QString& role,
                         const QString& person, const QString& fingerprint, const QString& signedAt,
                         const QString& auditHash)
{
    return QJsonDocument(QJsonArray{number, contentSha256, role, person, fingerprint, signedAt, auditHash})
        .toJson(QJsonDocument::Compact);
}

Status addSignature(const Archive& archive, int certificateId, const QString& number, const QString& contentSha256,
                    const UnlockedSigner& signer, const QString& at)
{
    const QString doing = QStringLiteral("签名");
    auto last = archive.run(QStringLiteral("SELECT id, hash FROM audit ORDER BY id DESC LIMIT 1"), {}, doing);
    if (!last)
        return last.status();
    int auditId = 0;
    QString auditHash(64, u'0');
    if (last->next()) {
        auditId = last->value(0).toInt();
        auditHash = last->value(1).toString();
    }
    last->finish();
    auto signature = keys::sign(signer.key.get(), signatureText(number, contentSha256, signer.role, signer.name,
                                                                signer.fingerprint, at, auditHash));
    if (!signature)
        return signature.status();
    const QString encoded = QString::fromLatin1(signature->toBase64());
    if (writesThroughServer(archive)) {
        auto q = archive.runList(QStringLiteral("SELECT sf6_add_signature(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                                 {certificateId, signer.role, signer.name, signer.personVersionId, signer.fingerprint, at,
                                  contentSha256, auditId, auditHash, encoded},
                                 doing);
        return q ? Status::success() : q.status();
    }
    auto id = archive.nextId(QStringLiteral("signatures"));
    if (!id)
        return id.status();
    auto q = archive.runList(QStringLiteral("INSERT INTO signatures (id, certificate_id, role, person, person_version_id, "
                                            "fingerprint, signed_at, content_sha256, audit_id, audit_hash, signature) "
                                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                             {*id, certificateId, signer.role, signer.name, signer.personVersionId, signer.fingerprint, at,
                              contentSha256, auditId, auditHash, encoded},
                             doing);
    return q ? Status::success() : q.status();
}

Expected<std::vector<SignatureRow>> signaturesOf(const Archive& archive, int certificateId)
{
    std::vector<SignatureRow> out;
    if (!hasPeopleTables(archive))
        return out;
    auto q = archive.run(QStringLiteral("SELECT id, certificate_id, person_version_id, audit_id, role, person, signed_at, "
                                        "fingerprint, content_sha256, audit_hash, signature FROM signatures "
                                        "WHERE certificate_id = ? ORDER BY id"),
                         {certificateId}, QStringLiteral("读取签名"));
    if (!q)
        return q.status();
    while (q->next())
        out.push_back({q->value(0).toInt(), q->value(1).toInt(), q->value(2).toInt(), q->value(3).toInt(),
                       q->value(4).toString(), q->value(5).toString(), Archive::timestampText(q->value(6)),
                       q->value(7).toString(), q->value(8).toString(), q->value(9).toString(),
                       QByteArray::fromBase64(q->value(10).toString().toLatin1())});
    return out;
}

Expected<CertificatePrintExtras> certificatePrintExtras(const Archive& archive, int certificateId)
{
    CertificatePrintExtras extras;
    auto lab = currentLab(archive);
    if (!lab)
        return lab.status();
    if (*lab)
        extras.verificationAddress = (*lab)->verificationAddress;
    auto signatures = signaturesOf(archive, certificateId);
    if (!signatures)
        return signatures.status();
    for (const SignatureRow& s : *signatures)
        extras.signers.push_back({s.role, s.person, s.signedAt, s.fingerprint});
    return extras;
}

} // namespace sf6
