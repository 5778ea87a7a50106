#pragma once
// A row of an earlier export turned back into the 105 bytes of its record.
// Every list text is an exact text of the record's bytes, so the bytes can be
// rebuilt exactly; numbers never pass through binary floating point.

#include "base/Status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace sf6::import {

// No export holds a cell longer (its longest is a time of 16 characters); a
// reader keeps only this much of a longer one, marked, so a hostile file costs
// no more memory than a good one.
constexpr int kMaxCellChars = 256;
// How much of a text a message quotes.
constexpr int kQuotedChars = 32;

// One cell as a reader found it: a text, or a number a user typed into a workbook.
struct Cell {
    QString text;
    std::optional<double> number;
    bool overlong = false;   // text holds only the first kMaxCellChars characters
    static Cell ofText(QString t) { return {std::move(t), std::nullopt}; }
    static Cell ofNumber(double d) { return {QString(), d}; }
    // A text as read, cut to kMaxCellChars and marked when it is longer.
    static Cell ofReadText(QString t)
    {
        if (t.size() <= kMaxCellChars)
            return ofText(std::move(t));
        t.truncate(kMaxCellChars);
        return {std::move(t), std::nullopt, true};
    }
};

// A text as a message quotes it: at most kQuotedChars characters, then "…".
QString quotedText(const QString& text, bool cut = false);

// Exact counts of 10^-decimals of a decimal text ("0.5", "0,500", "1e-3").
// rounding: the nearest count (a workbook's number); otherwise a digit beyond
// the count refuses the text.
enum class Rounding { Exact, Nearest };
std::optional<qint64> decimalCounts(const QString& text, int decimals, Rounding rounding);

// A number cell's shortest round-trip decimal text: 0.1 + 0.2 gives
// "0.30000000000000004", which rounds to the count the user meant.
QString shortestText(double d);

// The header rows an export starts with, column A first: the list's
// (组数), the history's (档案号) and archive list's (档案号, 存档时间).
// Returns how many columns come before the list's 时间; a failure names
// the first caption that differs.
Expected<int> checkHeader(const QStringList& captions);

// The day a workbook's date numbers count from: 1899-12-30, or 1904-01-01 for
// a workbook saved with the 1904 date system (Excel for Mac). Unknown: the
// workbook says it in a way not understood, so its date numbers are refused
// rather than read as either.
enum class DateSystem { From1900, From1904, Unknown };

// The record of one data row, or why not: 列“温度”：“abc”不是温度.
// dates: how the file's date numbers count, for a time cell kept as a number.
Expected<QByteArray> recordFromRow(const std::vector<Cell>& cells, int leading,
                                   DateSystem dates = DateSystem::From1900);

} // namespace sf6::import
