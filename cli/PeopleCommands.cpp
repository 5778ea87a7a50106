// sf6cli archive lab --create-key | --import-key | --export-certificate,
// archive person, archive people: the lab's signing key and the people who
// sign, through the same operations as 工具 → 人员.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Passwords.h"
#include "cli/RowWriters.h"
#include "ops/People.h"

#include <QRegularExpression>

namespace cli {

namespace {

std::vector<QStringList> personRows(const std::vector<sf6::PersonVersion>& people)
{
    std::vector<QStringList> rows;
    for (const sf6::PersonVersion& p : people)
        rows.push_back({p.name, p.roles.join(u','), p.retired ? QStringLiteral("已停用") : QStringLiteral("在用"),
                        QString::number(p.version), p.changedAt, p.fingerprint});
    return rows;
}

const QStringList kPersonHeader{QStringLiteral("姓名"), QStringLiteral("角色"), QStringLiteral("状态"),
                                QStringLiteral("版本"), QStringLiteral("修改时间"), QStringLiteral("证书指纹")};

} // namespace

bool labKeyOption(const QCommandLineParser& p)
{
    for (const char* o : {"create-key", "import-key", "export-certificate"})
        if (p.isSet(QLatin1String(o)))
            return true;
    return false;
}

int labKeyCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    if (p.isSet(QStringLiteral("create-key")) || p.isSet(QStringLiteral("import-key"))) {
        if (p.isSet(QStringLiteral("create-key")) && p.isSet(QStringLiteral("import-key"))) {
            err(QStringLiteral("--create-key 和 --import-key 只能选一个"));
            return kUsage;
        }
        const auto passwords = Passwords::from(p);
        if (!passwords)
            return fail(passwords.status());
        sf6::Expected<sf6::LabKey> made = sf6::Status::failure(sf6::ErrorCode::Failed, QStringLiteral("未创建"));
        if (p.isSet(QStringLiteral("import-key"))) {
            const QString file = p.value(QStringLiteral("import-key"));
            // The file's own password goes by the file's name.
            auto pfx = passwords->current(file);
            if (!pfx)
                return fail(pfx.status());
            auto lab = passwords->fresh(sf6::kLabPasswordName, false);
            if (!lab)
                return fail(lab.status());
            made = sf6::ops::importLabKey(archive, file, *pfx, *lab);
        } else {
            auto lab = passwords->fresh(sf6::kLabPasswordName, false);
            if (!lab)
                return fail(lab.status());
            made = sf6::ops::createLabKey(archive, *lab);
        }
        if (!made)
            return fail(made.status());
        err(QStringLiteral("实验室签名密钥已保存，证书指纹 %1；请用 --export-certificate 导出实验室证书，存放在存档以外")
                .arg(made->fingerprint));
    }
    if (p.isSet(QStringLiteral("export-certificate"))) {
        auto lab = sf6::ops::exportLabCertificate(archive, p.value(QStringLiteral("export-certificate")));
        if (!lab)
            return fail(lab.status());
        err(QStringLiteral("实验室证书已写入 %1，指纹 %2").arg(p.value(QStringLiteral("export-certificate")), lab->fingerprint));
    }
    return kOk;
}

int personCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const QString name = p.value(QStringLiteral("name")).trimmed();
    if (name.isEmpty()) {
        err(QStringLiteral("archive person 需要 --name 姓名"));
        return kUsage;
    }
    const bool newPassword = p.isSet(QStringLiteral("new-password"));
    const bool change = p.isSet(QStringLiteral("roles")) || p.isSet(QStringLiteral("retire")) || p.isSet(QStringLiteral("new-key"));
    if (newPassword && change) {
        err(QStringLiteral("--new-password 只改自己的密码，不能与 --roles、--retire、--new-key 同用"));
        return kUsage;
    }
    sf6::Expected<sf6::PersonVersion> saved = sf6::Status::failure(sf6::ErrorCode::Failed, QStringLiteral("未保存"));
    if (newPassword || change) {
        const auto passwords = Passwords::from(p);
        if (!passwords)
            return fail(passwords.status());
        if (newPassword) {
            auto old = passwords->current(name);
            if (!old)
                return fail(old.status());
            auto fresh = passwords->fresh(name, true);
            if (!fresh)
                return fail(fresh.status());
            saved = sf6::ops::changePassword(archive, name, *old, *fresh);
        } else {
            sf6::PersonChange c;
            c.name = name;
            if (p.isSet(QStringLiteral("roles")))
                c.roles = p.value(QStringLiteral("roles")).split(QRegularExpression(QStringLiteral("[,，、]")));
            c.retire = p.isSet(QStringLiteral("retire"));
            c.newKey = p.isSet(QStringLiteral("new-key"));
            auto before = sf6::findPerson(archive, name);
            if (!before)
                return fail(before.status());
            auto lab = passwords->current(sf6::kLabPasswordName);
            if (!lab)
                return fail(lab.status());
            c.labPassword = *lab;
            if (!*before || c.newKey) {
                auto own = passwords->fresh(name, false);
                if (!own)
                    return fail(own.status());
                c.personPassword = *own;
            }
            saved = sf6::ops::savePerson(archive, c);
        }
        if (!saved)
            return fail(saved.status());
        err(QStringLiteral("人员 %1 已保存（第%2版）").arg(saved->name).arg(saved->version));
    } else {
        auto found = sf6::findPerson(archive, name);
        if (!found)
            return fail(found.status());
        if (!*found) {
            err(QStringLiteral("人员名单中没有 %1（新人员用 --roles 添加）").arg(name));
            return kNoAnswer;
        }
        saved = **found;
    }
    return writeTable(p, kPersonHeader, personRows({*saved}));
}

int peopleCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    auto all = sf6::ops::listPeople(archive);
    if (!all)
        return fail(all.status());
    return writeTable(p, kPersonHeader, personRows(*all));
}

} // namespace cli
