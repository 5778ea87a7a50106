#include "export/Workbook.h"
#include "base/FileReplace.h"

#include "sync/Columns.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include "base/SafeSave.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>

namespace sf6 {
namespace {

constexpr double kMinFontSize = 1;       // the spreadsheet's accepted font sizes
constexpr double kMaxFontSize = 409;
constexpr double kMaxColumnWidth = 255;  // the spreadsheet's widest column
constexpr int kMaxFontNameLength = 31;   // longer names make the file unreadable

QByteArray libraryPath(const QString& name)
{
    return narrowFileName(name);   // the library opens its file with fopen()
}

// The library's failure in the user's words. Its zip writer names a full disk
// only as a failed file operation; errno and the disk itself tell the truth.
QString libraryReason(lxw_error e, int errnoAfter, const QString& folder)
{
    const bool full = errnoAfter == ENOSPC || diskNearlyFull(folder);
    switch (e) {
    case LXW_NO_ERROR: return {};
    case LXW_ERROR_MEMORY_MALLOC_FAILED: return QStringLiteral("内存不足");
    case LXW_ERROR_CREATING_XLSX_FILE:
        return full ? systemReason(ENOSPC)
                    : QStringLiteral("无法创建文件（%1）").arg(systemReason(errnoAfter ? errnoAfter : EIO));
    case LXW_ERROR_CREATING_TMPFILE:
    case LXW_ERROR_READING_TMPFILE:
        return full ? systemReason(ENOSPC) : QStringLiteral("无法使用临时文件");
    case LXW_ERROR_ZIP_FILE_OPERATION:
    case LXW_ERROR_ZIP_PARAMETER_ERROR:
    case LXW_ERROR_ZIP_BAD_ZIP_FILE:
    case LXW_ERROR_ZIP_INTERNAL_ERROR:
    case LXW_ERROR_ZIP_FILE_ADD:
    case LXW_ERROR_ZIP_CLOSE:
        return full ? systemReason(ENOSPC) : QStringLiteral("写入工作簿数据失败");
    case LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED:
        return QStringLiteral("单元格文本过长（最多32767个字符）");
    default:
        return QStringLiteral("生成工作簿失败（%1）").arg(QString::fromUtf8(lxw_strerror(e)));
    }
}

double listFontSize(double pt)
{
    if (!std::isfinite(pt) || pt <= 0)
        return kCellFontSize;
    return std::clamp(pt, kMinFontSize, kMaxFontSize);
}

QByteArray fontName(const QString& name)
{
    QString n = name.left(kMaxFontNameLength);
    if (!n.isEmpty() && n.back().isHighSurrogate())
        n.chop(1);
    return n.toUtf8();
}

double sheetWidth(const WorkbookInput& in, int column)
{
    if (column == 0)
        return kFirstColumnWidth;
    if (column == 1)
        return kSecondColumnWidth;
    const int px = column < int(in.columnWidthsPx.size()) ? in.columnWidthsPx[std::size_t(column)]
                                                          : defaultColumnWidth(column);
    return std::clamp(px * kWidthPerPixel, 0.0, kMaxColumnWidth);
}

// Keeps the first failure: a later call must not hide why the file is unusable.
struct FirstError {
    lxw_error error = LXW_NO_ERROR;
    void operator()(lxw_error e)
    {
        if (error == LXW_NO_ERROR)
            error = e;
    }
};

// The sheet as far as its header row; rows follow one at a time.
struct Sheet {
    lxw_worksheet* ws = nullptr;
    lxw_format* cellFormat = nullptr;
    int columns = 0;
    lxw_row_t next = 1;
};

Sheet startSheet(lxw_workbook* wb, const WorkbookInput& in, FirstError& check)
{
    Sheet sheet;
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    const QByteArray font = fontName(in.fontName);

    // The whole sheet in the list's font: no call sets a workbook default font,
    // so every column carries it; cells without a format of their own show it.
    lxw_format* sheetFormat = workbook_add_format(wb);
    lxw_format* cellFormat = workbook_add_format(wb);
    if (!ws || !sheetFormat || !cellFormat) {
        check(LXW_ERROR_MEMORY_MALLOC_FAILED);
        return sheet;
    }
    if (!font.isEmpty())
        format_set_font_name(sheetFormat, font.constData());
    format_set_font_size(sheetFormat, listFontSize(in.fontPointSize));

    if (!font.isEmpty())
        format_set_font_name(cellFormat, font.constData());
    format_set_font_size(cellFormat, kCellFontSize);
    format_set_align(cellFormat, LXW_ALIGN_CENTER);
    format_set_border(cellFormat, LXW_BORDER_THIN);

    const int columns = std::min<int>(int(in.captions.size()), kMaxSheetColumns);
    for (int c = 0; c < columns; ++c)
        check(worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), sheetWidth(in, c), sheetFormat));
    check(worksheet_set_column(ws, lxw_col_t(columns), LXW_COL_MAX - 1, LXW_DEF_COL_WIDTH, sheetFormat));
    if (columns == 0)
        return sheet;

    // Rows get a height only: a row format would override the columns' font.
    check(worksheet_set_row(ws, 0, kHeaderRowHeight, nullptr));
    for (int c = 0; c < columns; ++c)
        check(worksheet_write_string(ws, 0, lxw_col_t(c), in.captions[c].toUtf8().constData(), cellFormat));
    sheet.ws = ws;
    sheet.cellFormat = cellFormat;
    sheet.columns = columns;
    return sheet;
}

void addRow(Sheet& sheet, const QStringList& row, FirstError& check)
{
    if (!sheet.ws)
        return;
    const lxw_row_t r = sheet.next++;
    check(worksheet_set_row(sheet.ws, r, kRecordRowHeight, nullptr));
    const int cells = std::min<int>(int(row.size()), sheet.columns);
    for (int k = 0; k < cells; ++k) {
        // The record number is a number; every other text stays text exactly
        // as listed, so 0.500 never turns into 0.5.
        if (k == kColNumber) {
            bool ok = false;
            const double n = QLocale::c().toDouble(row[k].trimmed(), &ok);
            if (ok && std::isfinite(n)) {
                check(worksheet_write_number(sheet.ws, r, 0, n, sheet.cellFormat));
                continue;
            }
        }
        check(worksheet_write_string(sheet.ws, r, lxw_col_t(k), row[k].toUtf8().constData(), sheet.cellFormat));
    }
}

Status writeSheet(const WorkbookInput& input, const RowFeed* feed, const QString& fileName)
{
    SaveBeside save(fileName);
    const Expected<QString> temp = save.temporaryPath();
    if (!temp)
        return temp.status();

    // The library creates the file only at close, and writes it even when a cell
    // was refused; so the file is kept only when no call failed.
    errno = 0;
    const QByteArray path = libraryPath(*temp);
    const QByteArray folder = libraryPath(QFileInfo(*temp).absolutePath());
    lxw_workbook_options options{};
    options.constant_memory = feed ? LXW_TRUE : LXW_FALSE;
    // The sheet's rows wait in a temporary file until close: on the target's own
    // disk (the system's temporary folder may be small, or refused on Windows).
    options.tmpdir = feed ? const_cast<char*>(folder.constData()) : nullptr;
    std::unique_ptr<lxw_workbook, void (*)(lxw_workbook*)> wb(
        workbook_new_opt(path.constData(), &options), lxw_workbook_free);
    if (!wb)
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(fileName, libraryReason(LXW_ERROR_MEMORY_MALLOC_FAILED, errno, {})));

    FirstError check;
    Sheet sheet = startSheet(wb.get(), input, check);
    for (const QStringList& row : input.rows)
        addRow(sheet, row, check);
    Status fed = Status::success();
    if (feed)
        fed = (*feed)([&sheet, &check](const QStringList& row) { addRow(sheet, row, check); });
    const lxw_error closed = workbook_close(wb.release());   // frees the workbook in every case
    const int errnoAfter = errno;
    check(closed);
    if (!fed)
        return fed;   // the half-written file is dropped with save
    if (check.error != LXW_NO_ERROR)
        return Status::failure(ErrorCode::OutputNotWritten, 
            cannotWrite(fileName, libraryReason(check.error, errnoAfter, QFileInfo(*temp).absolutePath())));
    return save.commit();
}

} // namespace

Status writeWorkbook(const WorkbookInput& input, const QString& fileName)
{
    return writeSheet(input, nullptr, fileName);
}

Status writeWorkbook(const WorkbookInput& layout, const RowFeed& feed, const QString& fileName)
{
    return writeSheet(layout, &feed, fileName);
}

WorkbookInput listWorkbook(const std::vector<QStringList>& rows)
{
    WorkbookInput in;
    in.captions = columnCaptions();
    for (int c = 0; c < kColumnCount; ++c)
        in.columnWidthsPx.push_back(defaultColumnWidth(c));
    in.fontName = kListFontName;
    in.fontPointSize = kListFontPointSize;
    in.rows = rows;
    return in;
}

QString workbookFileName(const QDate& syncDate)
{
    return syncDate.toString(Qt::ISODate) + QStringLiteral(".xlsx");
}

QString withXlsxExtension(const QString& name)
{
    const QFileInfo info(name);
    if (info.fileName().isEmpty() || !info.suffix().isEmpty())
        return name;
    if (name.endsWith(QLatin1Char('.')))
        return name + kWorkbookSuffix;
    return name + QLatin1Char('.') + kWorkbookSuffix;
}

} // namespace sf6
