#pragma once
// SF6 pressure at 20 °C and at the test temperature: the gas's equation of
// state, solved for the density, in one place for the calculator, the check
// of a record's P20 and the tests. Pressures are gauge MPa, temperatures °C.

#include "base/Status.h"

#include <QString>

#include <optional>

namespace sf6 {

inline constexpr double kStandardAtmosphereMPa = 0.101325;
inline constexpr double kReferenceCelsius = 20.0;

// Where the equation is used: outside it the calculator and the check give no number.
inline constexpr double kGasMinCelsius = -40.0;
inline constexpr double kGasMaxCelsius = 80.0;
inline constexpr double kGasMinGaugeMPa = -0.1;
inline constexpr double kGasMaxGaugeMPa = 10.0;

// The equation itself: absolute pressure in MPa of SF6 of this density (kg/m³) at this temperature (K).
double sf6AbsolutePressure(double densityKgM3, double kelvin);

// The density of SF6 at an absolute pressure (MPa) and temperature (K), on the
// gas branch of the equation; nothing when no density of the gas gives it.
std::optional<double> sf6Density(double absoluteMPa, double kelvin);

// The pressure a sealed volume of SF6 shows at `toCelsius` when it shows
// `gauge` at `fromCelsius`. Refuses, in words, a temperature or pressure
// outside the range above and a state the gas cannot be in.
Expected<double> sf6Convert(double gaugeMPa, double fromCelsius, double toCelsius);
// Pt measured at the test temperature -> P20.
inline Expected<double> p20FromPt(double ptMPa, double celsius) { return sf6Convert(ptMPa, celsius, kReferenceCelsius); }
// P20 (a relay's set value) -> the Pt it acts at, at this temperature.
inline Expected<double> ptFromP20(double p20MPa, double celsius) { return sf6Convert(p20MPa, kReferenceCelsius, celsius); }

// "25.0°C" style texts of the range for messages.
QString celsiusText(double celsius);

} // namespace sf6
