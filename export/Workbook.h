#pragma once
// Writes the record list into a new spreadsheet workbook (.xlsx). Widget-free:
// the caller gathers the list's texts, widths and font into a WorkbookInput.

#include <QDate>
#include <QString>
#include <QStringList>

#include "base/Status.h"
#include <functional>
#include <vector>

namespace sf6 {

inline const QString kWorkbookFilter = QStringLiteral("EXCEL文件(*.xlsx)");
inline const QString kWorkbookSuffix = QStringLiteral("xlsx");

constexpr int kMaxSheetColumns = 53;      // A .. BA
constexpr double kFirstColumnWidth = 5;   // column A, record number
constexpr double kSecondColumnWidth = 15; // column B, time
constexpr double kWidthPerPixel = 0.12;   // list pixels -> sheet width units, columns C ..
constexpr double kHeaderRowHeight = 20;   // points
constexpr double kRecordRowHeight = 16;   // points
constexpr double kCellFontSize = 11;      // written cells; the rest keep the list's size

struct WorkbookInput {
    QStringList captions;              // one per list column; decides the column count
    std::vector<int> columnWidthsPx;   // per list column; missing entries use the list default
    QString fontName;
    double fontPointSize = 0;
    std::vector<QStringList> rows;     // row[k] = text of list column k; row[0] = record number
};

// The file appears under fileName only when complete; a failed write leaves
// any earlier file of that name as it was and no partial file behind. A link
// is followed; a device, a folder or a read-only file is refused.
Status writeWorkbook(const WorkbookInput& input, const QString& fileName);

// Rows handed over one at a time, for lists too long to hold: feed calls add
// for each row in order and returns its own failure (which costs the file).
// The sheet is written as the rows come, in the library's constant-memory
// mode: the same cells, fonts and sizes, the texts stored in the cells. The
// layout's own rows are written first.
using AddRow = std::function<void(const QStringList& row)>;
using RowFeed = std::function<Status(const AddRow& add)>;
Status writeWorkbook(const WorkbookInput& layout, const RowFeed& feed, const QString& fileName);

// The list's own layout for rows that are not in a list widget (the command
// line, the archive): its captions, default widths and font.
WorkbookInput listWorkbook(const std::vector<QStringList>& rows);

// Save-dialog rule: a name typed without an extension gets ".xlsx".
QString withXlsxExtension(const QString& name);
// The name a save dialog proposes for the rows of one sync: its date, "2026-12-09.xlsx".
QString workbookFileName(const QDate& syncDate);

} // namespace sf6
