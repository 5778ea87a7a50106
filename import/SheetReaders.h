#pragma once
// The readers of the export formats: each hands over the first sheet a row
// at a time (row 1 holds the captions), so a long file costs the memory of
// one row. Which reader a file needs is told by its first bytes.

#include "base/Status.h"
#include "import/RowRecord.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace sf6::import {

enum class FileFormat { Xls, Xlsx, Text };
// An OLE2 compound file is an Excel 97-2003 workbook, a zip an .xlsx, anything else TSV or JSON.
FileFormat formatOf(const QByteArray& head);

struct SheetRows {
    // Returns false to stop reading.
    std::function<bool(int row, std::vector<Cell>& cells)> row;
    std::function<void(double fraction)> progress = [](double) {};
    // A workbook tells how its date numbers count before its first row.
    std::function<void(DateSystem)> dateSystem = [](DateSystem) {};
    // A row that is no row of an export as it stands (too long, cut short), with why.
    std::function<void(int row, const QString& why)> refused = [](int, const QString&) {};
};

class SourceFile;

// A failure is a file that cannot be read as this kind.
Status readTextRows(SourceFile& file, const SheetRows& sink);   // TSV or JSON as sf6cli writes them
// The whole .xlsx as read; every member is checked against its CRC first.
Status readXlsxRows(const QByteArray& workbook, const SheetRows& sink);
// An .xls as read, handed to FreeXL through a private copy.
Status readXlsRows(const QByteArray& workbook, const SheetRows& sink);

} // namespace sf6::import
