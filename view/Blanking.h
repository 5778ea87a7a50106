#pragma once
// Which readings the side panel leaves empty: a reading of zero in a trial the
// record's test count says was not run. Works on plain texts indexed by list column.

#include <QLocale>
#include <QString>

#include <array>

#include "sync/Columns.h"

namespace sf6 {

using PanelTexts = std::array<QString, kColumnCount>;   // index = list column, 0 unused

constexpr int kTrialCount = 3;
constexpr int kColumnsPerTrial = 12;

// Header columns in the order they are checked: time, temperature, mode, test count.
constexpr std::array<int, 4> kHeaderColumns{kColTime, kColTemperature, kColMode, kColTestCount};

// Exactly "0.000" or "0"; nothing else counts as zero.
bool isZeroReading(const QString& text, const QLocale& locale = QLocale());

// The twelve columns of one trial (1..3): alarm, alarm return, lock-out 1, lock-out
// return 1, lock-out 2, lock-out return 2, each at P20 and at Pt.
std::array<int, kColumnsPerTrial> trialColumns(int trial);

// Blanks zero readings in place. Running it again on its own result changes nothing.
void blankZeroReadings(PanelTexts& texts);

} // namespace sf6
