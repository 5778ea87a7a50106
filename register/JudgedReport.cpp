#include "register/JudgedReport.h"

#include "archive/RecordSource.h"
#include "register/P20Check.h"

#include <algorithm>

namespace sf6 {

namespace {
constexpr int kPressureDecimals = 3;   // as the instrument's texts

QString mpa(Decimal d) { return d.fixedText(kPressureDecimals); }
QString plusMinus(Decimal d) { return QStringLiteral("±") + mpa(d); }

// The table's verdict cell says what failed; "误差、切换差超差" would not fit its column.
const QString kBothExceedCell = QStringLiteral("均超差");

// A line of text below everything else on the page, across the frame.
void addLineBelow(ReportPage& page, const QString& name, const QString& text)
{
    constexpr int kGap = 6;
    int bottom = 0;
    for (const PageLabel& l : page.labels)
        bottom = std::max(bottom, l.box.y() + l.box.height());
    for (const PageLine& l : page.lines)
        bottom = std::max({bottom, l.line.y1(), l.line.y2()});
    page.labels.push_back(PageLabel{name, QRect(kRuleLeft + 3, bottom + kGap, kFrameRight - kRuleLeft - 3, kLabelHeight),
                                    PageLabel::Arial10, Qt::AlignLeft | Qt::AlignTop, printableText(text)});
}

QString itemVerdict(const JudgementItem& it)
{
    if (it.pass())
        return kVerdictPass;
    if (it.undecided())
        return kVerdictUndecided;
    return it.failure() == kBothExceed ? kBothExceedCell : it.failure();
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
    if (j.rule.guardBand())
        c.rule.push_back({QStringLiteral("判定规则"), ruleText(j.rule)});
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

QString recordSourceText(const Archive& archive, int recordId)
{
    const auto source = recordSource(archive, recordId);
    return source && *source ? (*source)->text() : QString();
}

std::vector<ReportPage> reportPages(const ReportDetails& details, const ListRow& row,
                                    const std::optional<Judgement>& judgement, const QString& source)
{
    ReportPage first = buildReportPage(details, row);
    if (!judgement)
        return {first};
    const ReportConclusion c = conclusionOf(*judgement);
    addConclusion(first, c.line);
    ReportPage second = buildJudgementPage(details, c);
    // The judgement rests on the instrument's P20: the page says whether it follows from Pt.
    addLineBelow(second, kP20CheckLabel, p20CheckLine(checkP20(row)));
    // An imported file's readings are not the instrument's: the page says which they are.
    if (!source.isEmpty())
        addLineBelow(second, kSourceLabel, QStringLiteral("数据来源：") + source);
    return {first, second};
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
    out.pages = reportPages(details, row, out.judgement ? std::optional<Judgement>(out.judgement->judgement) : std::nullopt,
                            recordSourceText(archive, recordId));
    return out;
}

NewReport keptAs(const MadeReport& made, int recordId, const ReportDetails& details)
{
    return NewReport{recordId, details, made.judgement ? made.judgement->id : 0};
}

} // namespace sf6
