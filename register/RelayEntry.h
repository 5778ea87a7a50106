#pragma once
// One relay of the register, identified by its serial number (编号): what is
// printed on its nameplate and what the judgement of its records needs. Texts
// a user types become an entry only through applyRelayTexts, which refuses a
// wrong field by name and changes nothing then.

#include "register/Decimal.h"
#include "base/Status.h"

#include <QString>

#include <optional>

namespace sf6 {

struct RelayEntry {
    static constexpr int kDefaultIntervalMonths = 12;

    QString serial;                  // 编号
    QString name, model, made, client;   // 继电器名称, 型号, 生产日期, 送检单位
    Decimal lower = Decimal::fromThousandths(-100);   // measuring range, MPa
    Decimal upper = Decimal::fromThousandths(900);
    int classTenths = 16;            // accuracy class 1.0, 1.6 or 2.5, in tenths
    std::optional<Decimal> alarm, lock1, lock2;   // nominal set values at 20 °C; none: not judged
    std::optional<Decimal> diffLimit;             // switching differential limit; none: the allowed error
    int intervalMonths = kDefaultIntervalMonths;

    // Where the entry came from in the archive: its version row.
    int versionId = 0;
    int version = 0;
    QString changedAt;

    QString classText() const;               // "1.6"
    // E = class / 100 x (upper - lower), exactly.
    Decimal allowedError() const;
    Decimal differentialLimit() const { return diffLimit ? *diffLimit : allowedError(); }
    bool judgeable() const { return alarm || lock1 || lock2; }
    // The values a judgement uses and the nameplate, without the archive's bookkeeping.
    bool sameValues(const RelayEntry& o) const;
};

// What a user types, field by field; a field not given keeps the entry's value.
// An empty nominal value or differential limit clears it.
struct RelayTexts {
    std::optional<QString> serial, name, model, made, client;
    std::optional<QString> lower, upper, accuracyClass, alarm, lock1, lock2, diffLimit, intervalMonths;
};

Expected<RelayEntry> applyRelayTexts(const RelayEntry& base, const RelayTexts& texts);

// Every field of the entry as the register window shows it.
RelayTexts textsOf(const RelayEntry& entry);
// Only the fields of `typed` whose text differs from the entry `shown`, so a
// save changes what the user changed and keeps what others stored meanwhile.
RelayTexts changedTexts(const RelayEntry& shown, const RelayTexts& typed);

// The field captions, as the register window and the messages name them.
inline const QString kFieldSerial = QStringLiteral("编号");
inline const QString kFieldLower = QStringLiteral("量程下限");
inline const QString kFieldUpper = QStringLiteral("量程上限");
inline const QString kFieldClass = QStringLiteral("准确度等级");
inline const QString kFieldAlarm = QStringLiteral("报警设定值");
inline const QString kFieldLock1 = QStringLiteral("闭锁1设定值");
inline const QString kFieldLock2 = QStringLiteral("闭锁2设定值");
inline const QString kFieldDiffLimit = QStringLiteral("切换差限值");
inline const QString kFieldInterval = QStringLiteral("校验周期（月）");

} // namespace sf6
