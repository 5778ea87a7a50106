#pragma once
// The table an engineer takes to the field: where a relay set at a P20 acts at
// each temperature from -20 to +50 °C, and the same as a printable page.

#include "base/Status.h"
#include "report/ReportPage.h"

#include <vector>

namespace sf6 {

inline constexpr int kTableFirstCelsius = -20;
inline constexpr int kTableLastCelsius = 50;
inline constexpr int kTableStepCelsius = 5;

struct PressureTableRow {
    int celsius = 0;
    Expected<double> pt = Status::failure(QString());
};
std::vector<PressureTableRow> pressureTable(double p20MPa);

// "0.550" or, where the gas is no gas, the reason in a word.
QString pressureCell(const PressureTableRow& row);

// One A4 page: the title, the P20 and the table, printed as every report is.
ReportPage pressureTablePage(double p20MPa);

} // namespace sf6
