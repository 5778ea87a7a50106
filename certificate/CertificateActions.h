#pragma once
// What the certificate windows do on 确定 (issue or amend) and 批准. The
// windows sit below the operations layer, so the program hands them its
// functions once at start (TForm1); a window used before that is a
// programming error.

#include "certificate/Certificate.h"
#include "certificate/People.h"

#include <functional>

namespace sf6 {

struct CertificateActions {
    std::function<Expected<IssuedCertificate>(Archive&, const CertifyRequest&)> issue;
    std::function<Expected<IssuedCertificate>(Archive&, const QString& number, const QString& reason,
                                              const CertifyRequest& changes)> amend;
    std::function<Status(Archive&, const QString& number, const QString& approver, const QString& password)> approve;
    // Who must sign the certificate's PDF (empty: nobody), and writing it:
    // signed with that person's password, unsigned when nobody signs.
    std::function<Expected<QString>(const Archive&, const QString& number)> pdfSigner;
    std::function<Expected<int>(const Archive&, const QString& number, const QString& path, const QString& password)> writePdf;
};

void setCertificateActions(CertificateActions actions);
const CertificateActions& certificateActions();

// What 工具 → 人员 does: the lab's key and the people who sign, the same
// operations as sf6cli archive lab / person / people.
struct PeopleActions {
    std::function<Expected<LabKey>(Archive&, const QString& labPassword)> createLabKey;
    std::function<Expected<LabKey>(Archive&, const QString& pfxPath, const QString& pfxPassword,
                                   const QString& labPassword)> importLabKey;
    std::function<Expected<LabKey>(const Archive&, const QString& path)> exportLabCertificate;
    std::function<Expected<PersonVersion>(Archive&, const PersonChange&)> savePerson;
    std::function<Expected<PersonVersion>(Archive&, const QString& name, const QString& oldPassword,
                                          const QString& newPassword)> changePassword;
    std::function<Expected<std::vector<PersonVersion>>(const Archive&)> listPeople;
};

void setPeopleActions(PeopleActions actions);
const PeopleActions& peopleActions();

} // namespace sf6
