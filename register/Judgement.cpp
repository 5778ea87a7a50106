#include "register/Judgement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

namespace sf6 {

namespace {

constexpr int kMaxTrials = 3;
constexpr int kPressureDecimals = 3;   // as the instrument's texts and the report's table

// Where each contact's P20 readings stand in a row: trials 1..3, then the mean.
struct ContactColumns {
    Contact contact;
    std::optional<Decimal> RelayEntry::*nominal;
    std::array<int, kMaxTrials> action;
    int meanAction;
    std::array<int, kMaxTrials> returns;
    int meanReturn;
};

constexpr std::array<ContactColumns, 3> kContacts{{
    {Contact::Alarm, &RelayEntry::alarm, {11, 12, 13}, 5, {14, 15, 16}, 8},
    {Contact::Lock1, &RelayEntry::lock1, {17, 18, 19}, 6, {20, 21, 22}, 9},
    {Contact::Lock2, &RelayEntry::lock2, {23, 24, 25}, 7, {26, 27, 28}, 10},
}};

QByteArray number(Decimal d) { return d.text().toLatin1(); }

QByteArray quoted(const QString& s)
{
    const QByteArray doc = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return doc.mid(1, doc.size() - 2);
}

std::optional<Decimal> decimalOf(const QJsonValue& v)
{
    // Numbers were written exactly; read them from their text, never through a double.
    if (v.isString())
        return Decimal::parseExact(v.toString());
    return std::nullopt;
}

// One criterion against its limit under the judgement's rule, exactly.
void decide(Decimal value, Decimal limit, const DecisionRule& rule, bool& passes, bool& undecided)
{
    const Decimal size = value.abs();
    if (!rule.guardBand()) {
        passes = size <= limit;
        undecided = false;
        return;
    }
    passes = size <= limit - rule.expanded;
    undecided = !passes && size <= limit + rule.expanded;
}

void decide(JudgementItem& item, const Judgement& j)
{
    decide(item.error, j.allowed, j.rule, item.errorPasses, item.errorUndecided);
    decide(item.differential, j.limit, j.rule, item.differentialPasses, item.differentialUndecided);
}

} // namespace

const char* contactKey(Contact c)
{
    switch (c) {
    case Contact::Alarm: return "alarm";
    case Contact::Lock1: return "lock1";
    case Contact::Lock2: return "lock2";
    }
    return "?";
}

QString contactName(Contact c)
{
    switch (c) {
    case Contact::Alarm: return QStringLiteral("报警");
    case Contact::Lock1: return QStringLiteral("闭锁1");
    case Contact::Lock2: return QStringLiteral("闭锁2");
    }
    return {};
}

QString trialName(int trial)
{
    static const QString names[] = {QStringLiteral("均值"), QStringLiteral("第一次"), QStringLiteral("第二次"),
                                    QStringLiteral("第三次")};
    return trial >= 0 && trial <= kMaxTrials ? names[trial] : QString();
}

QString JudgementItem::failure() const
{
    const bool errorFails = !errorPasses && !errorUndecided;
    const bool differentialFails = !differentialPasses && !differentialUndecided;
    if (errorFails && differentialFails)
        return kBothExceed;
    if (errorFails)
        return kErrorExceeds;
    if (differentialFails)
        return kDifferentialExceeds;
    return pass() ? QString() : kVerdictUndecided;
}

bool Judgement::pass() const
{
    return std::all_of(items.begin(), items.end(), [](const JudgementItem& i) { return i.pass(); });
}

QString Judgement::verdict() const
{
    if (std::any_of(items.begin(), items.end(), [](const JudgementItem& i) { return i.fails(); }))
        return kVerdictFail;
    return pass() ? kVerdictPass : kVerdictUndecided;
}

QString ruleText(const DecisionRule& rule)
{
    if (!rule.guardBand())
        return kRuleSimpleName;
    return QStringLiteral("%1，U=%2MPa（k=%3）").arg(kRuleGuardBandName, rule.expanded.text(), rule.coverage.text());
}

QString guardBandSentence(const DecisionRule& rule)
{
    return QStringLiteral("判定规则：%1，|误差|≤E−U为合格，|误差|>E+U为不合格，其间为无法判定").arg(ruleText(rule));
}

std::optional<Judgement> judge(const ListRow& row, const RelayEntry& relay, const DecisionRule& rule)
{
    if (!relay.judgeable())
        return std::nullopt;
    Judgement j;
    j.relay = relay;
    j.allowed = relay.allowedError();
    j.limit = relay.differentialLimit();
    j.rule = rule;
    // A count of 0 ran one trial, as the instrument counts; never more than three.
    bool countOk = false;
    const int count = row.value(kColTestCount).toInt(&countOk);
    const int trials = std::clamp(countOk ? count : 1, 1, kMaxTrials);
    for (const ContactColumns& c : kContacts) {
        const std::optional<Decimal> nominal = relay.*(c.nominal);
        if (!nominal)
            continue;   // that contact is not judged
        for (int trial = 1; trial <= trials + 1; ++trial) {
            const bool mean = trial == trials + 1;
            const int actionColumn = mean ? c.meanAction : c.action[size_t(trial - 1)];
            const int returnColumn = mean ? c.meanReturn : c.returns[size_t(trial - 1)];
            const std::optional<Decimal> action = Decimal::parse(row.value(actionColumn));
            const std::optional<Decimal> ret = Decimal::parse(row.value(returnColumn));
            if (!action || !ret)
                return std::nullopt;
            JudgementItem item{c.contact, mean ? 0 : trial, *nominal, *action, *action - *nominal, *ret,
                               *ret - *action, false, false};
            decide(item, j);
            j.items.push_back(item);
        }
    }
    return j;
}

QByteArray judgementJson(int recordId, const Judgement& j)
{
    QByteArray out = "{\"record\":" + QByteArray::number(recordId) + ",\"serial\":" + quoted(j.relay.serial)
        + ",\"class\":" + j.relay.classText().toLatin1() + ",\"range\":[" + number(j.relay.lower) + ","
        + number(j.relay.upper) + "],\"allowed\":" + number(j.allowed) + ",\"limit\":" + number(j.limit)
        + ",\"items\":[";
    for (size_t i = 0; i < j.items.size(); ++i) {
        const JudgementItem& it = j.items[i];
        if (i > 0)
            out += ",";
        out += "{\"contact\":\"" + QByteArray(contactKey(it.contact)) + "\",\"trial\":"
            + (it.trial == 0 ? QByteArray("\"mean\"") : QByteArray::number(it.trial)) + ",\"nominal\":"
            + number(it.nominal) + ",\"action\":" + number(it.action) + ",\"error\":" + number(it.error)
            + ",\"return\":" + number(it.returnValue) + ",\"differential\":" + number(it.differential)
            + ",\"pass\":" + (it.pass() ? "true" : "false") + (it.undecided() ? ",\"undecided\":true" : "") + "}";
    }
    out += "],\"verdict\":" + quoted(j.verdict());
    // A simple rule's judgement reads as every judgement always has.
    if (j.rule.guardBand())
        out += ",\"rule\":\"" + QByteArray(kRuleGuardBandKey) + "\",\"expandedUncertainty\":" + number(j.rule.expanded)
            + ",\"coverageFactor\":" + number(j.rule.coverage);
    out += "}";
    return out;
}

std::optional<Judgement> judgementFromJson(const QByteArray& json)
{
    // Numbers as written, not as doubles: a parse that keeps each token's text.
    QByteArray quotedNumbers;
    quotedNumbers.reserve(json.size() * 2);
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            quotedNumbers += c;
            if (c == '\\' && i + 1 < json.size())
                quotedNumbers += json[++i];   // an escaped character, a quote or a backslash among them
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        const bool startsNumber = !inString && (c == '-' || (c >= '0' && c <= '9'));
        if (!startsNumber) {
            quotedNumbers += c;
            continue;
        }
        qsizetype end = i;
        while (end < json.size() && (json[end] == '-' || json[end] == '.' || (json[end] >= '0' && json[end] <= '9')))
            ++end;
        quotedNumbers += '"' + json.mid(i, end - i) + '"';
        i = end - 1;
    }
    const QJsonObject o = QJsonDocument::fromJson(quotedNumbers).object();
    if (o.isEmpty())
        return std::nullopt;
    Judgement j;
    j.relay.serial = o[QStringLiteral("serial")].toString();
    const auto cls = decimalOf(o[QStringLiteral("class")]);
    const QJsonArray range = o[QStringLiteral("range")].toArray();
    const auto lo = decimalOf(range.at(0)), hi = decimalOf(range.at(1));
    const auto allowed = decimalOf(o[QStringLiteral("allowed")]), limit = decimalOf(o[QStringLiteral("limit")]);
    if (!cls || !lo || !hi || !allowed || !limit)
        return std::nullopt;
    j.relay.classTenths = int(cls->nano() / (Decimal::kScale / 10));
    j.relay.lower = *lo;
    j.relay.upper = *hi;
    j.allowed = *allowed;
    j.limit = *limit;
    if (o[QStringLiteral("rule")].toString() == QLatin1String(kRuleGuardBandKey)) {
        const auto u = decimalOf(o[QStringLiteral("expandedUncertainty")]), k = decimalOf(o[QStringLiteral("coverageFactor")]);
        if (!u || !k)
            return std::nullopt;
        j.rule = {DecisionRule::GuardBand, *u, *k};
    }
    for (const QJsonValue& v : o[QStringLiteral("items")].toArray()) {
        const QJsonObject it = v.toObject();
        JudgementItem item{};
        const QString key = it[QStringLiteral("contact")].toString();
        item.contact = key == QLatin1String("lock1") ? Contact::Lock1
                     : key == QLatin1String("lock2") ? Contact::Lock2
                                                     : Contact::Alarm;
        item.trial = it[QStringLiteral("trial")].toString() == QLatin1String("mean")
                         ? 0
                         : it[QStringLiteral("trial")].toString().toInt();
        const auto nominal = decimalOf(it[QStringLiteral("nominal")]), action = decimalOf(it[QStringLiteral("action")]);
        const auto error = decimalOf(it[QStringLiteral("error")]), ret = decimalOf(it[QStringLiteral("return")]);
        const auto diff = decimalOf(it[QStringLiteral("differential")]);
        if (!nominal || !action || !error || !ret || !diff)
            return std::nullopt;
        item.nominal = *nominal;
        item.action = *action;
        item.error = *error;
        item.returnValue = *ret;
        item.differential = *diff;
        decide(item, j);
        j.items.push_back(item);
    }
    return j;
}

QString conclusionLine(const Judgement& j)
{
    // The failing items, one group a contact and criterion, its trials in table order.
    std::vector<std::pair<QString, QStringList>> groups;   // contact + criterion, trials
    std::vector<std::pair<Contact, QString>> keys;
    for (const JudgementItem& it : j.items) {
        if (it.pass())
            continue;
        const std::pair key{it.contact, it.failure()};
        const auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) {
            keys.push_back(key);
            groups.push_back({it.failure(), {trialName(it.trial)}});
        } else {
            groups[size_t(found - keys.begin())].second << trialName(it.trial);
        }
    }
    QStringList failing;
    for (size_t i = 0; i < groups.size(); ++i)
        failing << contactName(keys[i].first) + groups[i].second.join(QStringLiteral("、")) + groups[i].first;
    const QString failed = failing.isEmpty() ? QString() : failing.join(QStringLiteral("，")) + QStringLiteral("；");
    const QString rule = j.rule.guardBand() ? QStringLiteral("；判定规则：") + ruleText(j.rule) : QString();
    return QStringLiteral("结论：%1（%2依据DL/T 259-2012；准确度等级%3级，量程%4～%5MPa，允许误差±%6MPa%7）")
        .arg(j.verdict(), failed, j.relay.classText(), j.relay.lower.text(), j.relay.upper.text(),
             j.allowed.fixedText(kPressureDecimals), rule);
}

} // namespace sf6
