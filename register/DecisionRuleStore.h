#pragma once
// Which decision rule a judgement is made with: the lab profile's rule, and
// for a guard band the expanded uncertainty of the standard the test used.
// Read here, below the certificate layer that edits them, so that every
// judgement (report, certificate, sf6cli archive judge) takes the same rule.

#include "archive/Archive.h"
#include "register/Judgement.h"

namespace sf6 {

// The lab's rule: simple when no lab profile names one.
Expected<DecisionRule::Kind> labDecisionRule(const Archive& archive);

// The rule to judge with. A guard band needs a standard with a numeric U:
// without one it refuses and says why ("…，不作判定").
Expected<DecisionRule> decisionRuleFor(const Archive& archive, const QString& standardSerial);

// "simple" or "guard-band", and back; nullopt for another text.
const char* ruleKey(DecisionRule::Kind kind);
std::optional<DecisionRule::Kind> ruleKind(const QString& key);

} // namespace sf6
