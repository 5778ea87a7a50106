#include "ops/Reports.h"

#include "base/Clock.h"
#include "register/JudgedReport.h"

#include <QLocale>

namespace sf6::ops {

namespace {
QString ReportDetails::*const kRelayFields[] = {&ReportDetails::relayName, &ReportDetails::model,
                                                      &ReportDetails::serialNumber, &ReportDetails::productionDate,
                                                      &ReportDetails::submittingUnit};

// A report not made before: the starting details with the record's date, no
// relay nobody described, the given details over them.
ReportDetails newDetails(const ReportDetails& start, const ListRow& row, const GivenDetails& given)
{
    ReportDetails d = start;
    d.testDate = testDateOfRow(row);
    clearRelayDetails(d);
    given.applyTo(d);
    return d;
}
} // namespace

bool GivenDetails::gives(QString ReportDetails::*field) const
{
    for (const auto& f : fields)
        if (f.first == field)
            return true;
    return false;
}

void GivenDetails::applyTo(ReportDetails& d) const
{
    for (const auto& [field, value] : fields)
        d.*field = value;
}

ReportDetails startingReportDetails(const Archive* archive)
{
    ReportDetails d = defaultReportDetails(QLocale().toString(Clock::today(), QLocale::ShortFormat));
    if (archive)
        if (auto start = startingDetails(*archive, d); start)
            d = *start;
    return d;
}

void clearRelayDetails(ReportDetails& d)
{
    for (QString ReportDetails::*field : kRelayFields)
        (d.*field).clear();
}

RecordReport confirmedReport(Archive* archive, int recordId, const ReportDetails& details, const ListRow& row,
                             const QString& source, const ReportRelay& how)
{
    RecordReport out;
    out.details = details;
    if (!archive || recordId <= 0 || archive->readOnly()) {
        out.pages = {buildReportPage(details, row)};
        return out;
    }
    MadeReport made = prepareReport(*archive, recordId, details, row, source, how);
    out.pages = std::move(made.pages);
    out.problems = made.problems;
    out.keep = keptAs(made, recordId, details);
    return out;
}

Expected<RecordReport> recordReport(Archive* archiveOrNone, int recordId, const ListRow& row, const ReportDetails& start,
                                    const GivenDetails& given)
{
    RecordReport out;
    if (!archiveOrNone || recordId <= 0) {
        out.details = newDetails(start, row, given);
        out.pages = {buildReportPage(out.details, row)};
        return out;
    }
    Archive& archive = *archiveOrNone;
    auto latest = latestReport(archive, recordId);
    if (!latest)
        return latest.status();
    auto linked = linkedSerial(archive, recordId);
    if (!linked)
        return linked.status();
    std::optional<QString> serialGiven;
    for (const auto& [field, value] : given.fields)
        if (field == &ReportDetails::serialNumber && !value.trimmed().isEmpty())
            serialGiven = value.trimmed();
    // The report's relay: the one the details name, else the record's own.
    const std::optional<QString> relaySerial = serialGiven ? serialGiven : *linked;
    ReportDetails d;
    if (latest->has_value()) {
        d = (*latest)->details;
    } else {
        d = newDetails(start, row, {});
    }
    // A new report, or one for the relay the details name, takes the relay's
    // texts from the register; a stored one keeps its own.
    if (relaySerial && (serialGiven || !latest->has_value())) {
        auto entry = findRelay(archive, *relaySerial);
        if (!entry)
            return entry.status();
        if (*entry)
            fillRelayDetails(d, **entry);
    }
    given.applyTo(d);
    const bool namesRelay = relaySerial && d.serialNumber.trimmed() == *relaySerial;
    // A report reprinted exactly prints the judgement it printed; a new one
    // is judged with the entry of the relay it names, as it is now.
    std::optional<StoredJudgement> judgement;
    const bool reprint = latest->has_value() && (*latest)->details == d;
    if (reprint && (*latest)->judgementId > 0) {
        if (auto j = findJudgement(archive, (*latest)->judgementId); j && *j) {
            const QString judged = (**j).judgement.relay.serial;
            if (judged == d.serialNumber.trimmed())
                judgement = *j;
            else
                out.problems << QStringLiteral("记录 %1 的报表编号为 %2，而保存的判定是继电器 %3 的，判定未打印（可用 --serial 重新生成报表）")
                                    .arg(recordId)
                                    .arg(d.serialNumber, judged);
        } else if (!j) {
            out.problems << j.error();
        }
    } else if (!reprint && namesRelay) {
        if (auto j = judgeRecordWith(archive, recordId, *relaySerial, !archive.readOnly()); j)
            judgement = j->judgement;
        else
            out.problems << j.error();
    }
    out.details = d;
    out.pages = reportPages(d, row, judgement ? std::optional<Judgement>(judgement->judgement) : std::nullopt,
                            recordSourceText(archive, recordId));
    if (!reprint && given.any())
        out.keep = NewReport{recordId, d, judgement ? judgement->id : 0};
    return out;
}

DialogStart dialogStart(const Archive& archive, const std::vector<int>& recordIds, const ReportDetails& defaults,
                        bool fromLatestReport)
{
    DialogStart out;
    const int first = recordIds.empty() ? 0 : recordIds.front();
    if (fromLatestReport && first > 0)
        if (auto latest = latestReport(archive, first); latest && latest->has_value())
            out.details = (*latest)->details;
    if (!out.details)
        if (auto start = startingDetails(archive, defaults); start)
            out.details = *start;
    if (first > 0)
        if (auto serial = linkedSerial(archive, first); serial && *serial)
            if (auto e = findRelay(archive, **serial); e && *e)
                out.linkedRelay = **e;
    return out;
}

Expected<RecordReport> syncedRecordReport(Archive* archive, int recordId, const ListRow& row,
                                          const ReportDetails& start, const GivenDetails& given, const QString& source)
{
    if (!archive || !given.gives(&ReportDetails::serialNumber))
        return recordReport(archive, recordId, row, start, given);
    // The relay the serial names keeps the texts the register has for it
    // unless they are given too.
    ReportDetails d = newDetails(start, row, given);
    auto entry = findRelay(*archive, d.serialNumber.trimmed());
    if (!entry)
        return entry.status();
    if (*entry) {
        fillRelayDetails(d, **entry);
        given.applyTo(d);
    }
    return confirmedReport(archive, recordId, d, row, source);
}

void ReportBatch::add(const RecordReport& r)
{
    if (r.keep)
        waiting_.push_back(*r.keep);
}

Expected<std::vector<int>> ReportBatch::finish(Archive& archive, bool complete, const QString& source)
{
    std::vector<NewReport> reports;
    reports.swap(waiting_);
    if (!complete || reports.empty())
        return std::vector<int>{};
    return storeReports(archive, reports, source);
}

} // namespace sf6::ops
