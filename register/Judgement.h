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
    bool pass() const { return errorPasses && differentialPasses; }
    // What exceeds its limit: "误差超差", "切换差超差", "误差、切换差超差"; empty when it passes.
    QString failure() const;
};

struct Judgement {
    RelayEntry relay;     // the register entry's values it used
    Decimal allowed;      // E
    Decimal limit;        // differential limit
    std::vector<JudgementItem> items;
    bool pass() const;
    QString verdict() const { return pass() ? QStringLiteral("合格") : QStringLiteral("不合格"); }
};

inline const QString kVerdictPass = QStringLiteral("合格");
inline const QString kVerdictFail = QStringLiteral("不合格");
inline const QString kErrorExceeds = QStringLiteral("误差超差");
inline const QString kDifferentialExceeds = QStringLiteral("切换差超差");
inline const QString kBothExceed = QStringLiteral("误差、切换差超差");

// nullopt when the relay has no nominal value (nothing to judge), or when a
// reading the rule needs is not a number.
std::optional<Judgement> judge(const ListRow& row, const RelayEntry& relay);

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
