#pragma once
// The 53 columns of a record row: what every reader of a row indexes by.

#include <QStringList>

namespace sf6 {

constexpr int kColumnCount = 53;       // column 0 = record number, 1..52 = sub-items
constexpr int kFirstValueColumn = 5;   // Values[0] .. Values[47] -> columns 5 .. 52
constexpr int kValueCount = 48;

constexpr int kColNumber = 0;
constexpr int kColTime = 1;
constexpr int kColTemperature = 2;
constexpr int kColMode = 3;
constexpr int kColTestCount = 4;

// One list row: exactly kColumnCount texts, index = column.
using ListRow = QStringList;

const QStringList& columnCaptions();

// The list shows its texts in the window's font; a workbook of the list carries it.
inline const QString kListFontName = QStringLiteral("MS Sans Serif");
constexpr double kListFontPointSize = 8;

constexpr int kColumn0Width = 50;
constexpr int kColumn1Width = 150;
constexpr int kValueColumnWidth = 100;   // columns 2 .. 52
int defaultColumnWidth(int column);

} // namespace sf6
