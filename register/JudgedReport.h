#pragma once
// A report made of an archived record, the way every program makes it: the
// confirmed details update the register and link the record to its relay, the
// record is judged, and the report is kept naming the judgement it printed.
// A judged record's report is the record's page with its conclusion, and a
// second page with the items.

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "register/Judgement.h"
#include "register/RelayRegister.h"
#include "report/ReportPage.h"

#include <vector>

namespace sf6 {

ReportConclusion conclusionOf(const Judgement& j);

// The judgement page's line "P20换算核查：…", below its signatures.
inline const QString kP20CheckLabel = QStringLiteral("QRP20Check");

// The relay fields of a report (name, model, serial number, production date,
// submitting unit) as the register entry has them.
void fillRelayDetails(ReportDetails& details, const RelayEntry& entry);

// The judgement page's line "数据来源：…", below the P20 line.
inline const QString kSourceLabel = QStringLiteral("QRSource");

// The pages of one record's report: one page without a judgement, two with.
// source: where the readings came from ("仪器同步", "导入 old.xlsx"), said on
// the judgement page when given.
std::vector<ReportPage> reportPages(const ReportDetails& details, const ListRow& row,
                                    const std::optional<Judgement>& judgement, const QString& source = {});
// A record's source as reportPages takes it; empty when the archive cannot say.
QString recordSourceText(const Archive& archive, int recordId);

struct MadeReport {
    int reportId = 0;
    std::optional<StoredJudgement> judgement;
    std::vector<ReportPage> pages;
    QStringList problems;   // what could not be kept (the report is made all the same)
};

// Confirms a report of an archived record: register, link, judgement, report
// row; returns the pages to print. A failure in the archive costs no page.
// The judgement is made with the relay the details name, never another.
MadeReport makeReport(Archive& archive, int recordId, const ReportDetails& details, const ListRow& row,
                      const QString& source, const ReportRelay& how = {});
// The same without the report row, for a batch whose reports are kept
// together once its PDF is complete (storeReports with keptAs).
MadeReport prepareReport(Archive& archive, int recordId, const ReportDetails& details, const ListRow& row,
                         const QString& source, const ReportRelay& how = {});
NewReport keptAs(const MadeReport& made, int recordId, const ReportDetails& details);

} // namespace sf6
