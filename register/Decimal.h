#pragma once
// Exact decimal values for the judgement: pressures, limits and errors in
// MPa, held as whole nano-MPa. The instrument's texts have three decimals and
// nominal values at most six, so every sum, difference and allowed error of
// the rule is exact and a value exactly on a limit compares as on it.

#include <QString>

#include <cstdint>
#include <optional>

namespace sf6 {

class Decimal {
public:
    static constexpr int kMaxDecimals = 6;   // what a user may type
    static constexpr int64_t kScale = 1000000000;   // nano-MPa per MPa

    constexpr Decimal() = default;
    static constexpr Decimal fromNano(int64_t n) { return Decimal(n); }
    static constexpr Decimal fromThousandths(int64_t t) { return Decimal(t * 1000000); }

    // "0.55", "-0.1", "+1", ".5", "0,550" (a decimal comma is a decimal point);
    // nullopt for anything else or more than kMaxDecimals decimals.
    static std::optional<Decimal> parse(const QString& text);
    // The same for a value the program wrote itself (an allowed error may have
    // up to nine decimals): every exact value reads back.
    static std::optional<Decimal> parseExact(const QString& text);

    constexpr int64_t nano() const { return nano_; }
    // The shortest exact text: "0.016", "-0.1", "1", "0.00875".
    QString text() const;
    // At least this many decimals, as the report prints pressures: "0.550".
    QString fixedText(int minDecimals) const;

    constexpr Decimal operator-(Decimal o) const { return Decimal(nano_ - o.nano_); }
    constexpr Decimal operator+(Decimal o) const { return Decimal(nano_ + o.nano_); }
    constexpr Decimal operator-() const { return Decimal(-nano_); }
    constexpr Decimal abs() const { return Decimal(nano_ < 0 ? -nano_ : nano_); }
    constexpr auto operator<=>(const Decimal&) const = default;

private:
    constexpr explicit Decimal(int64_t n) : nano_(n) {}
    static std::optional<Decimal> parseUpTo(const QString& text, int maxDecimals);
    int64_t nano_ = 0;
};

} // namespace sf6
