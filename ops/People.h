#pragma once
// The lab's signing key and the people who sign: one path for 工具 → 人员
// and sf6cli archive lab / person / people. Passwords are given by the front
// end (a masked field, the terminal or a private file), never kept.

#include "certificate/People.h"

namespace sf6::ops {

Expected<LabKey> createLabKey(Archive& archive, const QString& labPassword);
// pfxPath: a .pfx/.p12 file; its own password, then the lab's that keeps it from now on.
Expected<LabKey> importLabKey(Archive& archive, const QString& pfxPath, const QString& pfxPassword,
                              const QString& labPassword);
// The lab's certificate (PEM) into a file, for the quality manager to keep
// outside the archive (archive verify --trust). An archive without a key is
// ErrorCode::NoLabKey, a file not written ErrorCode::OutputNotWritten.
Expected<LabKey> exportLabCertificate(const Archive& archive, const QString& path);

Expected<PersonVersion> savePerson(Archive& archive, const PersonChange& change);
Expected<PersonVersion> changePassword(Archive& archive, const QString& name, const QString& oldPassword,
                                       const QString& newPassword);
Expected<std::vector<PersonVersion>> listPeople(const Archive& archive);

} // namespace sf6::ops
