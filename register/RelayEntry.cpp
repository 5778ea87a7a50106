#include "register/RelayEntry.h"

#include <array>
#include <functional>

namespace sf6 {

namespace {

constexpr std::array kClasses{10, 16, 25};
constexpr int kMinIntervalMonths = 1;
constexpr int kMaxIntervalMonths = 1200;

Status refuse(const QString& field, const QString& why)
{
    return Status::failure(ErrorCode::InvalidValue, QStringLiteral("继电器台账：「%1」%2，未保存。").arg(field, why));
}

// Number fields: how each text is read into the entry.
struct DecimalField {
    const QString* caption;
    std::optional<QString> RelayTexts::*text;
    bool optional;   // an empty text clears it
    std::optional<Decimal> RelayEntry::*maybe;   // optional fields
    Decimal RelayEntry::*value;                  // required fields
};

const std::array kDecimalFields{
    DecimalField{&kFieldLower, &RelayTexts::lower, false, nullptr, &RelayEntry::lower},
    DecimalField{&kFieldUpper, &RelayTexts::upper, false, nullptr, &RelayEntry::upper},
    DecimalField{&kFieldAlarm, &RelayTexts::alarm, true, &RelayEntry::alarm, nullptr},
    DecimalField{&kFieldLock1, &RelayTexts::lock1, true, &RelayEntry::lock1, nullptr},
    DecimalField{&kFieldLock2, &RelayTexts::lock2, true, &RelayEntry::lock2, nullptr},
    DecimalField{&kFieldDiffLimit, &RelayTexts::diffLimit, true, &RelayEntry::diffLimit, nullptr},
};

// What must hold of a whole entry, checked in this order.
struct Rule {
    const QString* caption;
    std::function<bool(const RelayEntry&)> holds;
    QString why;
};

bool insideRange(const RelayEntry& e, const std::optional<Decimal>& v)
{
    return !v || (*v >= e.lower && *v <= e.upper);
}

const std::array<Rule, 6>& rules()
{
    static const std::array<Rule, 6> all{{
        {&kFieldSerial, [](const RelayEntry& e) { return !e.serial.trimmed().isEmpty(); }, QStringLiteral("不能为空")},
        {&kFieldUpper, [](const RelayEntry& e) { return e.upper > e.lower; }, QStringLiteral("必须大于量程下限")},
        {&kFieldAlarm, [](const RelayEntry& e) { return insideRange(e, e.alarm); }, QStringLiteral("超出量程")},
        {&kFieldLock1, [](const RelayEntry& e) { return insideRange(e, e.lock1); }, QStringLiteral("超出量程")},
        {&kFieldLock2, [](const RelayEntry& e) { return insideRange(e, e.lock2); }, QStringLiteral("超出量程")},
        {&kFieldDiffLimit, [](const RelayEntry& e) { return !e.diffLimit || *e.diffLimit >= Decimal(); },
         QStringLiteral("不能为负数")},
    }};
    return all;
}

} // namespace

QString RelayEntry::classText() const { return QStringLiteral("%1.%2").arg(classTenths / 10).arg(classTenths % 10); }

Decimal RelayEntry::allowedError() const
{
    // class/100 x range in MPa: tenths/1000 x range, exact in nano-MPa while the
    // range has no more than six decimals.
    return Decimal::fromNano(classTenths * (upper - lower).nano() / 1000);
}

bool RelayEntry::sameValues(const RelayEntry& o) const
{
    return serial == o.serial && name == o.name && model == o.model && made == o.made && client == o.client
        && lower == o.lower && upper == o.upper && classTenths == o.classTenths && alarm == o.alarm
        && lock1 == o.lock1 && lock2 == o.lock2 && diffLimit == o.diffLimit && intervalMonths == o.intervalMonths;
}

Expected<RelayEntry> applyRelayTexts(const RelayEntry& base, const RelayTexts& t)
{
    RelayEntry e = base;
    for (auto [text, field] : {std::pair{&RelayTexts::serial, &RelayEntry::serial}, {&RelayTexts::name, &RelayEntry::name},
                               {&RelayTexts::model, &RelayEntry::model}, {&RelayTexts::made, &RelayEntry::made},
                               {&RelayTexts::client, &RelayEntry::client}})
        if (t.*text)
            e.*field = (t.*text)->trimmed();

    for (const DecimalField& f : kDecimalFields) {
        if (!(t.*(f.text)))
            continue;
        const QString text = (t.*(f.text))->trimmed();
        if (text.isEmpty() && f.optional) {
            e.*(f.maybe) = std::nullopt;
            continue;
        }
        const std::optional<Decimal> v = Decimal::parse(text);
        if (!v)
            return refuse(*f.caption, QStringLiteral("不是有效的数值（“%1”；最多%2位小数）").arg(text).arg(Decimal::kMaxDecimals));
        if (f.optional)
            e.*(f.maybe) = v;
        else
            e.*(f.value) = *v;
    }

    if (t.accuracyClass) {
        const std::optional<Decimal> c = Decimal::parse(*t.accuracyClass);
        const int tenths = c && c->nano() % (Decimal::kScale / 10) == 0 ? int(c->nano() / (Decimal::kScale / 10)) : -1;
        if (std::find(kClasses.begin(), kClasses.end(), tenths) == kClasses.end())
            return refuse(kFieldClass, QStringLiteral("只能是 1.0、1.6 或 2.5（“%1”）").arg(t.accuracyClass->trimmed()));
        e.classTenths = tenths;
    }
    if (t.intervalMonths) {
        bool ok = false;
        const int months = t.intervalMonths->trimmed().toInt(&ok);
        if (!ok)
            return refuse(kFieldInterval, QStringLiteral("不是整数（“%1”）").arg(t.intervalMonths->trimmed()));
        // No interval would make every relay due on the day of its test.
        if (months < kMinIntervalMonths || months > kMaxIntervalMonths)
            return refuse(kFieldInterval,
                          QStringLiteral("必须在%1到%2之间").arg(kMinIntervalMonths).arg(kMaxIntervalMonths));
        e.intervalMonths = months;
    }

    for (const Rule& r : rules())
        if (!r.holds(e))
            return refuse(*r.caption, r.why);
    return e;
}

namespace {
using TextField = std::optional<QString> RelayTexts::*;
constexpr std::array<TextField, 13> kTextFields{
    &RelayTexts::serial, &RelayTexts::name,  &RelayTexts::model, &RelayTexts::made,      &RelayTexts::client,
    &RelayTexts::lower,  &RelayTexts::upper, &RelayTexts::accuracyClass, &RelayTexts::alarm, &RelayTexts::lock1,
    &RelayTexts::lock2,  &RelayTexts::diffLimit, &RelayTexts::intervalMonths};

QString optionalText(const std::optional<Decimal>& d) { return d ? d->text() : QString(); }
} // namespace

RelayTexts textsOf(const RelayEntry& e)
{
    RelayTexts t;
    t.serial = e.serial;
    t.name = e.name;
    t.model = e.model;
    t.made = e.made;
    t.client = e.client;
    t.lower = e.lower.text();
    t.upper = e.upper.text();
    t.accuracyClass = e.classText();
    t.alarm = optionalText(e.alarm);
    t.lock1 = optionalText(e.lock1);
    t.lock2 = optionalText(e.lock2);
    t.diffLimit = optionalText(e.diffLimit);
    t.intervalMonths = QString::number(e.intervalMonths);
    return t;
}

RelayTexts changedTexts(const RelayEntry& shown, const RelayTexts& typed)
{
    const RelayTexts before = textsOf(shown);
    RelayTexts out;
    for (TextField f : kTextFields)
        if (typed.*f && (typed.*f)->trimmed() != (before.*f)->trimmed())
            out.*f = typed.*f;
    return out;
}

} // namespace sf6
