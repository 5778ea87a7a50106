#include "register/Decimal.h"

namespace sf6 {

namespace {
constexpr int kScaleDigits = 9;
constexpr int64_t kMaxWhole = 1000000;   // MPa: far beyond any gauge, far inside int64 nano
} // namespace

std::optional<Decimal> Decimal::parse(const QString& input) { return parseUpTo(input, kMaxDecimals); }

std::optional<Decimal> Decimal::parseExact(const QString& input) { return parseUpTo(input, kScaleDigits); }

std::optional<Decimal> Decimal::parseUpTo(const QString& input, int maxDecimals)
{
    QString t = input.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool negative = false;
    if (t.front() == u'-' || t.front() == u'+') {
        negative = t.front() == u'-';
        t.remove(0, 1);
    }
    t.replace(u',', u'.');
    const qsizetype dot = t.indexOf(u'.');
    const QString whole = dot < 0 ? t : t.left(dot);
    const QString fraction = dot < 0 ? QString() : t.mid(dot + 1);
    if ((whole.isEmpty() && fraction.isEmpty()) || fraction.size() > maxDecimals || fraction.contains(u'.'))
        return std::nullopt;
    for (const QChar c : whole + fraction)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    int64_t units = 0;
    for (const QChar c : whole) {
        units = units * 10 + (c.unicode() - u'0');
        if (units > kMaxWhole)
            return std::nullopt;
    }
    int64_t nano = units * kScale;
    int64_t place = kScale / 10;
    for (const QChar c : fraction) {
        nano += (c.unicode() - u'0') * place;
        place /= 10;
    }
    return Decimal(negative ? -nano : nano);
}

QString Decimal::text() const
{
    const int64_t a = nano_ < 0 ? -nano_ : nano_;
    QString fraction = QString::number(a % kScale).rightJustified(kScaleDigits, u'0');
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    QString out = QString::number(a / kScale);
    if (!fraction.isEmpty())
        out += u'.' + fraction;
    return nano_ < 0 ? u'-' + out : out;
}

QString Decimal::fixedText(int minDecimals) const
{
    QString t = text();
    qsizetype dot = t.indexOf(u'.');
    if (dot < 0) {
        t += u'.';
        dot = t.size() - 1;
    }
    const qsizetype decimals = t.size() - dot - 1;
    if (decimals < minDecimals)
        t += QString(minDecimals - decimals, u'0');
    if (minDecimals == 0 && t.endsWith(u'.'))
        t.chop(1);
    return t;
}

} // namespace sf6
