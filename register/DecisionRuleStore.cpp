#include "register/DecisionRuleStore.h"

namespace sf6 {

const char* ruleKey(DecisionRule::Kind kind) { return kind == DecisionRule::GuardBand ? kRuleGuardBandKey : kRuleSimpleKey; }

std::optional<DecisionRule::Kind> ruleKind(const QString& key)
{
    if (key == QLatin1String(kRuleSimpleKey))
        return DecisionRule::Simple;
    if (key == QLatin1String(kRuleGuardBandKey))
        return DecisionRule::GuardBand;
    return std::nullopt;
}

Expected<DecisionRule::Kind> labDecisionRule(const Archive& archive)
{
    auto q = archive.run(QStringLiteral("SELECT decision_rule FROM lab_versions ORDER BY version DESC LIMIT 1"), {},
                         QStringLiteral("读取实验室信息"));
    if (!q)
        return q.status();
    if (!q->next() || q->value(0).isNull())
        return DecisionRule::Simple;
    return ruleKind(q->value(0).toString()).value_or(DecisionRule::Simple);
}

Expected<DecisionRule> decisionRuleFor(const Archive& archive, const QString& standardSerial)
{
    auto kind = labDecisionRule(archive);
    if (!kind)
        return kind.status();
    if (*kind == DecisionRule::Simple)
        return DecisionRule{};
    const QString serial = standardSerial.trimmed();
    if (serial.isEmpty())
        return Status::failure(QStringLiteral("判定规则为保护带，需要标准器的扩展不确定度：没有指定标准器，不作判定"));
    auto q = archive.run(QStringLiteral("SELECT v.expanded_uncertainty, v.coverage_factor FROM standards s "
                                        "JOIN standard_versions v ON v.id = s.current_version WHERE s.serial_number = ?"),
                         {serial}, QStringLiteral("读取标准器"));
    if (!q)
        return q.status();
    if (!q->next())
        return Status::failure(QStringLiteral("标准器台账中没有编号为 %1 的标准器，不作判定").arg(serial));
    const std::optional<Decimal> u = Decimal::parseExact(q->value(0).toString());
    if (!u)
        return Status::failure(
            QStringLiteral("判定规则为保护带，标准器 %1 没有填写数值的扩展不确定度U，不作判定").arg(serial));
    DecisionRule rule{DecisionRule::GuardBand, *u};
    if (const std::optional<Decimal> k = Decimal::parseExact(q->value(1).toString()))
        rule.coverage = *k;
    return rule;
}

} // namespace sf6
