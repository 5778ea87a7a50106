#include "view/Blanking.h"

namespace sf6 {

namespace {

// First trial-1 column of each quantity; trials 2 and 3 follow it.
constexpr std::array<int, kColumnsPerTrial> kTrial1Columns{
    11, 14, 17, 20, 23, 26,   // P20
    35, 38, 41, 44, 47, 50,   // Pt
};

void blankTrial(PanelTexts& texts, int trial)
{
    for (int column : trialColumns(trial)) {
        if (isZeroReading(texts[column]))
            texts[column].clear();
    }
}

} // namespace

bool isZeroReading(const QString& text, const QLocale& locale)
{
    if (text == QLatin1String("0.000") || text == QLatin1String("0"))
        return true;
    // Pressures are written with the user's decimal separator; their zero is a zero too.
    return text == QLatin1Char('0') + locale.decimalPoint() + QLatin1String("000");
}

std::array<int, kColumnsPerTrial> trialColumns(int trial)
{
    std::array<int, kColumnsPerTrial> columns = kTrial1Columns;
    for (int& c : columns)
        c += trial - 1;
    return columns;
}

void blankZeroReadings(PanelTexts& texts)
{
    // The count decides before the header pass may empty it (a count of "0").
    const QString count = texts[kColTestCount];

    for (int column : kHeaderColumns) {
        if (isZeroReading(texts[column]))
            texts[column].clear();
    }

    if (count == QLatin1String("0"))
        blankTrial(texts, 1);
    if (count == QLatin1String("1"))
        blankTrial(texts, 2);
    if (count == QLatin1String("1") || count == QLatin1String("2"))
        blankTrial(texts, 3);
}

} // namespace sf6
