#pragma once
// A report made of an archived record, the way every program makes it: the
// confirmed details update the register and link the record to its relay, the
// record is judged, and the report is kept naming the judgement it printed.
// A judged record's report is the record's page with its conclusion, and a
// second page with the items.

#include "archive/Archive.h"
#include "register/Judgement.h"
#include "register/RelayRegister.h"
#include "report/ReportPage.h"

#include <vector>

namespace sf6 {

ReportConclusion conclusionOf(const Judgement& j);

// The pages of one record's report: one page without a judgement, two with.
std::vector<ReportPage> reportPages(const ReportDetails& details, const ListRow& row,
                                    const std::optional<Judgement>& judgement);

struct MadeReport {
    int reportId = 0;
    std::optional<StoredJudgement> judgement;
    std::vector<ReportPage> pages;
    QStringList problems;   // what could not be kept (the report is made all the same)
};

// Confirms a report of an archived record: register, link, judgement, report
// row; returns the pages to print. A failure in the archive costs no page.
MadeReport makeReport(Archive& archive, int recordId, const ReportDetails& details, const ListRow& row,
                      const QString& source, const ReportRelay& how = {});

} // namespace sf6
