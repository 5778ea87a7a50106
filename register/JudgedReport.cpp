#include "register/JudgedReport.h"

namespace sf6 {

namespace {
constexpr int kPressureDecimals = 3;   // as the instrument's texts

QString mpa(Decimal d) { return d.fixedText(kPressureDecimals); }
QString plusMinus(Decimal d) { return QStringLiteral("±") + mpa(d); }

// The table's verdict cell says what failed; "误差、切换差超差" would not fit its column.
const QString kBothExceedCell = QStringLiteral("均超差");

QString itemVerdict(const JudgementItem& it)
{
    if (it.pass())
        return kVerdictPass;
    return it.errorPasses || it.differentialPasses ? it.failure() : kBothExceedCell;
}
} // namespace

ReportConclusion conclusionOf(const Judgement& j)
{
    ReportConclusion c;
    c.line = conclusionLine(j);
    c.rule = {
        {QStringLiteral("判定依据"), QStringLiteral("DL/T 259-2012")},
        {QStringLiteral("准确度等级"), j.relay.classText() + QStringLiteral("级")},
        {QStringLiteral("量程"), QStringLiteral("%1～%2MPa").arg(j.relay.lower.text(), j.relay.upper.text())},
        {QStringLiteral("允许误差"), plusMinus(j.allowed) + QStringLiteral("MPa")},
        {QStringLiteral("切换差限值"), plusMinus(j.limit) + QStringLiteral("MPa")},
    };
    for (const JudgementItem& it : j.items)
        c.items.push_back({contactName(it.contact), trialName(it.trial), mpa(it.nominal), mpa(it.action), mpa(it.error),
                           plusMinus(j.allowed), mpa(it.differential), plusMinus(j.limit),
                           itemVerdict(it)});
    return c;
}

void fillRelayDetails(ReportDetails& d, const RelayEntry& e)
{
    d.relayName = e.name;
    d.model = e.model;
    d.serialNumber = e.serial;
    d.productionDate = e.made;
    d.submittingUnit = e.client;
}

std::vector<ReportPage> reportPages(const ReportDetails& details, const ListRow& row,
                                    const std::optional<Judgement>& judgement)
{
    ReportPage first = buildReportPage(details, row);
    if (!judgement)
        return {first};
    const ReportConclusion c = conclusionOf(*judgement);
    addConclusion(first, c.line);
    return {first, buildJudgementPage(details, c)};
}

MadeReport makeReport(Archive& archive, int recordId, const ReportDetails& details, const ListRow& row,
                      const QString& source, const ReportRelay& how)
{
    MadeReport out = prepareReport(archive, recordId, details, row, source, how);
    const int judgementId = out.judgement ? out.judgement->id : 0;
    if (auto stored = storeReport(archive, recordId, details, source, judgementId); !stored)
        out.problems << stored.error();
    else
        out.reportId = *stored;
    return out;
}

MadeReport prepareReport(Archive& archive, int recordId, const ReportDetails& details, const ListRow& row,
                         const QString& source, const ReportRelay& how)
{
    MadeReport out;
    if (auto relay = applyReport(archive, recordId, details, source, how); !relay)
        out.problems << relay.error();
    if (const QString serial = details.serialNumber.trimmed(); !serial.isEmpty()) {
        if (auto judged = judgeRecordWith(archive, recordId, serial); !judged)
            out.problems << judged.error();
        else
            out.judgement = judged->judgement;
    }
    out.pages = reportPages(details, row, out.judgement ? std::optional<Judgement>(out.judgement->judgement) : std::nullopt);
    return out;
}

NewReport keptAs(const MadeReport& made, int recordId, const ReportDetails& details)
{
    return NewReport{recordId, details, made.judgement ? made.judgement->id : 0};
}

} // namespace sf6
