#include "ops/People.h"

#include "base/SafeSave.h"
#include "certificate/Keys.h"

#include <QFile>

namespace sf6::ops {

Expected<LabKey> createLabKey(Archive& archive, const QString& labPassword)
{
    return sf6::createLabKey(archive, labPassword);
}

Expected<LabKey> importLabKey(Archive& archive, const QString& pfxPath, const QString& pfxPassword,
                              const QString& labPassword)
{
    QFile file(pfxPath);
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(ErrorCode::NotFound, QStringLiteral("无法读取 %1：%2").arg(pfxPath, file.errorString()));
    if (file.size() > keys::kMaxKeyFileBytes)
        return Status::failure(ErrorCode::InvalidValue,
                               QStringLiteral("%1 有 %2 字节，不是 PKCS#12（.pfx/.p12）密钥文件").arg(pfxPath).arg(file.size()));
    return sf6::importLabKey(archive, file.readAll(), pfxPassword, labPassword);
}

Expected<LabKey> exportLabCertificate(const Archive& archive, const QString& path)
{
    auto lab = currentLabKey(archive);
    if (!lab)
        return lab.status();
    if (!*lab)
        return Status::failure(ErrorCode::NoLabKey,
                               QStringLiteral("实验室还没有签名密钥：请先用 sf6cli archive lab --create-key（或 --import-key 文件.pfx）创建"));
    if (const Status s = saveFile(path, (*lab)->certificatePem); !s)
        return Status::failure(ErrorCode::OutputNotWritten, s.message());
    return **lab;
}

Expected<PersonVersion> savePerson(Archive& archive, const PersonChange& change)
{
    return sf6::savePerson(archive, change);
}

Expected<PersonVersion> changePassword(Archive& archive, const QString& name, const QString& oldPassword,
                                       const QString& newPassword)
{
    return sf6::changePassword(archive, name, oldPassword, newPassword);
}

Expected<std::vector<PersonVersion>> listPeople(const Archive& archive) { return sf6::listPeople(archive); }

} // namespace sf6::ops
