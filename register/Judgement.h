#pragma once
// Whether a relay passed: each contact with a nominal value, in each trial the
// record ran and in the mean, against the allowed error of the relay's class
// and range, and its switching differential against the limit. The inputs are
// the record's P20 texts as the list shows them; nothing is recomputed.

#include "register/Decimal.h"
#include "register/RelayEntry.h"
#include "sync/Columns.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace sf6 {

enum class Contact { Alarm, Lock1, Lock2 };

// How a measured error meets its limit. 简单接受: |error| <= E passes. 保护带
// (guard band w = U, the standard's expanded uncertainty): |error| <= E - U
// passes, |error| > E + U fails, and in between it cannot be decided.
struct DecisionRule {
    enum Kind { Simple, GuardBand };
    Kind kind = Simple;
    Decimal expanded;                                    // U, MPa
    Decimal coverage = Decimal::fromThousandths(2000);   // k
    bool guardBand() const { return kind == GuardBand; }
    bool operator==(const DecisionRule&) const = default;
};
inline const QString kRuleSimpleName = QStringLiteral("简单接受");
inline const QString kRuleGuardBandName = QStringLiteral("保护带");
inline const char* const kRuleSimpleKey = "simple";
inline const char* const kRuleGuardBandKey = "guard-band";
// "保护带，U=0.002MPa（k=2）" or "简单接受".
QString ruleText(const DecisionRule& rule);
// The certificate's and judgement page's sentence for a guard band:
// "判定规则：保护带，U=0.002MPa（k=2），|误差|≤E−U为合格，|误差|>E+U为不合格，其间为无法判定".
QString guardBandSentence(const DecisionRule& rule);

struct JudgementItem {
    Contact contact;
    int trial;            // 1..3; 0 is the mean
    Decimal nominal;
    Decimal action;       // P20 action value
    Decimal error;        // action - nominal
    Decimal returnValue;  // P20 return value
    Decimal differential; // return - action
    bool errorPasses;
    bool differentialPasses;
    // Within the guard band around the limit: neither passes nor fails.
    bool errorUndecided = false;
    bool differentialUndecided = false;
    bool pass() const { return errorPasses && differentialPasses; }
    bool fails() const { return (!errorPasses && !errorUndecided) || (!differentialPasses && !differentialUndecided); }
    bool undecided() const { return !pass() && !fails(); }
    // What exceeds its limit: "误差超差", "切换差超差", "误差、切换差超差";
    // "无法判定" for an item in the guard band; empty when it passes.
    QString failure() const;
};

struct Judgement {
    RelayEntry relay;     // the register entry's values it used
    Decimal allowed;      // E
    Decimal limit;        // differential limit
    std::vector<JudgementItem> items;
    DecisionRule rule;
    bool pass() const;
    // 不合格 if any item fails, else 无法判定 if any is undecided, else 合格.
    QString verdict() const;
};

inline const QString kVerdictPass = QStringLiteral("合格");
inline const QString kVerdictFail = QStringLiteral("不合格");
inline const QString kErrorExceeds = QStringLiteral("误差超差");
inline const QString kDifferentialExceeds = QStringLiteral("切换差超差");
inline const QString kBothExceed = QStringLiteral("误差、切换差超差");
inline const QString kVerdictUndecided = QStringLiteral("无法判定");

// nullopt when the relay has no nominal value (nothing to judge), or when a
// reading the rule needs is not a number.
std::optional<Judgement> judge(const ListRow& row, const RelayEntry& relay, const DecisionRule& rule = {});

const char* contactKey(Contact c);        // "alarm", "lock1", "lock2"
QString contactName(Contact c);           // "报警", "闭锁1", "闭锁2"
QString trialName(int trial);             // "第一次" ... "均值"

// {"record":N,"serial":S,"class":C,"range":[LO,HI],"allowed":E,"limit":L,"items":[...],"verdict":"合格"}
// with every number written exactly, as a JSON number in MPa.
QByteArray judgementJson(int recordId, const Judgement& j);
// Reads back what judgementJson wrote (the archive keeps judgements so).
std::optional<Judgement> judgementFromJson(const QByteArray& json);

// The report's conclusion: "结论：合格（依据DL/T 259-2012；准确度等级1.6级，量程-0.1～0.9MPa，允许误差±0.016MPa）";
// a failing one names its failing items first: "结论：不合格（闭锁2第一次、均值切换差超差；依据…）".
QString conclusionLine(const Judgement& j);

} // namespace sf6
