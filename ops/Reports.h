#pragma once
// The report of a record, made one way for the window and sf6cli: which
// details it prints, what the register learns from it, its judgement, its
// pages, and whether the archive keeps it. The archive keeps a report only
// for details a person confirmed, and only once every page asked for is out
// (ReportBatch); nothing invents a relay for a record nobody described.

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "register/RelayRegister.h"
#include "report/ReportPage.h"

#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace sf6::ops {

// Details a person gave one field at a time (sf6cli's options): each one
// given overrides the stored or starting text.
struct GivenDetails {
    std::vector<std::pair<QString ReportDetails::*, QString>> fields;

    bool any() const { return !fields.empty(); }
    bool gives(QString ReportDetails::*field) const;
    void applyTo(ReportDetails& d) const;
};

// The relay fields of a report: name, model, serial number, production date, submitting unit.
void clearRelayDetails(ReportDetails& d);

// The details a report starts from: the dialog's defaults dated today, with
// the lab's own fields as last confirmed in the archive, if there is one.
ReportDetails startingReportDetails(const Archive* archive);

// One record's report, ready to print.
struct RecordReport {
    ReportDetails details;           // as printed
    std::vector<ReportPage> pages;
    std::optional<NewReport> keep;   // kept by ReportBatch once the output is complete
    QStringList problems;            // what could not be judged or learnt; the pages are made all the same
};

// The dialog's confirmation (or sf6cli naming the relay with --serial): the
// register learns the relay fields and the record is linked to it as `how`
// allows, the record is judged with the relay the details name, and the report
// is to be kept. Without an archive that can be written, or for a row that is
// not archived, the plain page and nothing kept.
RecordReport confirmedReport(Archive* archive, int recordId, const ReportDetails& details, const ListRow& row,
                             const QString& source, const ReportRelay& how = {});

// A record's report from what the archive holds: its latest report printed
// again exactly where it has one, else the starting details with the
// record's own relay from the register, and no relay at all for an unlinked
// record. The given details override either; a given serial number names the
// relay it is judged with, and takes that relay's texts. A report that
// differs from the latest is to be kept only when a person gave details.
// Without an archive (or for a row not archived) the starting details with
// the given ones, no relay invented, nothing kept.
Expected<RecordReport> recordReport(Archive* archive, int recordId, const ListRow& row, const ReportDetails& start,
                                    const GivenDetails& given);

// The report of a record just synced (sf6cli sync --pdf-dir): a given serial
// number is the dialog's 编号, which the register learns and the record is
// linked to and judged by (confirmedReport); else recordReport.
Expected<RecordReport> syncedRecordReport(Archive* archive, int recordId, const ListRow& row,
                                          const ReportDetails& start, const GivenDetails& given, const QString& source);

// The details a report dialog opens with: the lab's details as last
// confirmed (or the record's latest report, where asked and there is one)
// over the defaults, and the relay of the first record's link.
struct DialogStart {
    std::optional<ReportDetails> details;   // nullopt: the dialog keeps its own
    std::optional<RelayEntry> linkedRelay;
};
DialogStart dialogStart(const Archive& archive, const std::vector<int>& recordIds, const ReportDetails& defaults,
                        bool fromLatestReport);

// The reports of one confirmation or one command, kept all together, or none
// when the output failed or was cancelled.
class ReportBatch {
public:
    void add(const RecordReport& r);
    size_t waiting() const { return waiting_.size(); }
    // Keeps the waiting reports when complete; either way the batch is empty after.
    Expected<std::vector<int>> finish(Archive& archive, bool complete, const QString& source);

private:
    std::vector<NewReport> waiting_;
};

} // namespace sf6::ops
