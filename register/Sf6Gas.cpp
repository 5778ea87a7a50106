#include "register/Sf6Gas.h"

#include <cmath>
#include <optional>

namespace sf6 {

namespace {

// DL/T 259-2012 Appendix C, Beattie–Bridgeman form for SF6:
//   p = R·T·d + (R·T·B − A)·d², p in 0.1 MPa absolute, d in kg/m³, T in K,
//   A = a0 − a1·d, B = b0 − b1·d.
constexpr double kR = 56.9502e-5;
constexpr double kA0 = 73.882e-5;
constexpr double kA1 = 5.132e-7;
constexpr double kB0 = 2.50695e-3;
constexpr double kB1 = 2.12283e-6;
constexpr double kEquationUnitsPerMPa = 10.0;   // the equation's pressure is in 0.1 MPa
constexpr double kZeroCelsiusK = 273.15;

// Written out in powers of d: p = c1·d + c2·d² + c3·d³.
struct Powers {
    double c1, c2, c3;
};
Powers powersAt(double kelvin)
{
    const double rt = kR * kelvin;
    return {rt, rt * kB0 - kA0, kA1 - rt * kB1};
}

// The gas branch ends where the pressure stops rising with the density (the
// first maximum of the cubic); past it the equation describes no gas.
double gasBranchEnd(double kelvin)
{
    constexpr double kNoMaximum = 1e5;   // kg/m³: far beyond any gas
    const Powers c = powersAt(kelvin);
    const double disc = 4 * c.c2 * c.c2 - 12 * c.c3 * c.c1;
    if (c.c3 <= 0 || disc < 0)
        return kNoMaximum;
    const double root = (-2 * c.c2 - std::sqrt(disc)) / (6 * c.c3);
    return root > 0 ? root : kNoMaximum;
}

constexpr int kBisections = 200;   // ends by itself once the bracket stops shrinking

} // namespace

double sf6AbsolutePressure(double d, double kelvin)
{
    const Powers c = powersAt(kelvin);
    return ((c.c3 * d + c.c2) * d + c.c1) * d / kEquationUnitsPerMPa;
}

std::optional<double> sf6Density(double absoluteMPa, double kelvin)
{
    if (!(absoluteMPa >= 0) || !(kelvin > 0))
        return std::nullopt;
    double lo = 0, hi = gasBranchEnd(kelvin);
    if (sf6AbsolutePressure(hi, kelvin) < absoluteMPa)
        return std::nullopt;
    // Bisection: the pressure rises monotonically over [0, hi], so it always converges.
    for (int i = 0; i < kBisections; ++i) {
        const double mid = lo + (hi - lo) / 2;
        if (mid <= lo || mid >= hi)
            break;
        (sf6AbsolutePressure(mid, kelvin) < absoluteMPa ? lo : hi) = mid;
    }
    return lo + (hi - lo) / 2;
}

QString celsiusText(double celsius) { return QString::number(celsius, 'f', 1) + QStringLiteral("°C"); }

Expected<double> sf6Convert(double gauge, double fromCelsius, double toCelsius)
{
    for (const double t : {fromCelsius, toCelsius})
        if (!(t >= kGasMinCelsius && t <= kGasMaxCelsius))
            return Status::failure(QStringLiteral("温度%1超出SF6状态方程的适用范围（%2～%3）")
                                       .arg(celsiusText(t), celsiusText(kGasMinCelsius), celsiusText(kGasMaxCelsius)));
    if (!(gauge >= kGasMinGaugeMPa && gauge <= kGasMaxGaugeMPa))
        return Status::failure(QStringLiteral("压力%1MPa超出SF6状态方程的适用范围（%2～%3MPa）")
                                   .arg(QString::number(gauge, 'f', 3), QString::number(kGasMinGaugeMPa, 'f', 1),
                                        QString::number(kGasMaxGaugeMPa, 'f', 0)));
    const double fromK = fromCelsius + kZeroCelsiusK, toK = toCelsius + kZeroCelsiusK;
    const std::optional<double> d = sf6Density(gauge + kStandardAtmosphereMPa, fromK);
    // At the other temperature the same density must still be gas.
    if (!d || *d > gasBranchEnd(toK))
        return Status::failure(QStringLiteral("%1MPa在%2时SF6已不是气体，无法换算")
                                   .arg(QString::number(gauge, 'f', 3), celsiusText(d ? toCelsius : fromCelsius)));
    return sf6AbsolutePressure(*d, toK) - kStandardAtmosphereMPa;
}

} // namespace sf6
