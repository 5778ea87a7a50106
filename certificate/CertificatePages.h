#pragma once
// The pages of a certificate: the record's report page as it always was, with
// the number above the frame, the conclusion below it and "第k页 共n页"; the
// judgement page(s); the as-found record's pages when there is one; and a
// last page with the basis, the standard, the conditions, the decision rule,
// the signers, the verification code and the end mark "以下空白".
// Every page carries the number and, until approved, "未批准".

#include "certificate/CertificateContent.h"
#include "report/ReportPage.h"

#include <vector>

namespace sf6 {

inline const QString kEndMark = QStringLiteral("以下空白");

std::vector<ReportPage> certificatePages(const CertificateContent& content, const CertificateState& state);

} // namespace sf6
