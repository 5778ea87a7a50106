#include "import/SheetReaders.h"

#ifdef SF6_HAVE_FREEXL
#include "base/FileReplace.h"

#include <QDir>
#include <QTemporaryFile>

#include <freexl.h>
#endif

namespace sf6::import {

#ifndef SF6_HAVE_FREEXL

Status readXlsRows(const QByteArray&, const SheetRows&)
{
    return Status::failure(QStringLiteral("这一版本的程序不能读取.xls工作簿"));
}

#else

namespace {

const QString kNotWorkbook = QStringLiteral("不是可读的.xls工作簿");

// FreeXL wants closing even when opening failed.
struct Handle {
    const void* h = nullptr;
    ~Handle() { freexl_close(h); }
};

} // namespace

Status readXlsRows(const QByteArray& workbook, const SheetRows& sink)
{
    // FreeXL reads only files by name: it gets a private copy of the bytes
    // read, so what is read is what was hashed, from a FIFO too.
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/sf6-import-XXXXXX.xls"));
    if (!copy.open() || copy.write(workbook) != workbook.size() || !copy.flush())
        return Status::failure(QStringLiteral("无法写入临时文件：%1").arg(copy.errorString()));
    copy.close();
    // FreeXL opens by an 8-bit name: on Windows a Chinese one reaches it as the short name.
    const QByteArray name = narrowExistingFileName(copy.fileName());
    if (name.isEmpty())
        return Status::failure(QStringLiteral("文件名中有本系统不能交给.xls读取器的字符，请改名后重试"));
    Handle xls;
    if (freexl_open(name.constData(), &xls.h) != FREEXL_OK
        || freexl_select_active_worksheet(xls.h, 0) != FREEXL_OK)
        return Status::failure(kNotWorkbook);
    // Date-formatted cells come as text already; a plain number in the time column needs the mode.
    unsigned mode = 0;
    if (freexl_get_info(xls.h, FREEXL_BIFF_DATEMODE, &mode) != FREEXL_OK)
        sink.dateSystem(DateSystem::Unknown);
    else
        sink.dateSystem(mode == FREEXL_BIFF_DATEMODE_1904   ? DateSystem::From1904
                        : mode == FREEXL_BIFF_DATEMODE_1900 ? DateSystem::From1900
                                                            : DateSystem::Unknown);
    unsigned rows = 0;
    unsigned short columns = 0;
    if (freexl_worksheet_dimensions(xls.h, &rows, &columns) != FREEXL_OK)
        return Status::failure(kNotWorkbook);
    std::vector<Cell> cells;
    for (unsigned r = 0; r < rows; ++r) {
        cells.assign(columns, Cell());
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue v;
            if (freexl_get_cell_value(xls.h, r, c, &v) != FREEXL_OK)
                return Status::failure(kNotWorkbook);
            switch (v.type) {
            case FREEXL_CELL_INT: cells[c] = Cell::ofNumber(v.value.int_value); break;
            case FREEXL_CELL_DOUBLE: cells[c] = Cell::ofNumber(v.value.double_value); break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME: cells[c] = Cell::ofReadText(QString::fromUtf8(v.value.text_value)); break;
            default: break;
            }
        }
        if (!sink.row(int(r) + 1, cells))
            return Status::success();
        if (r % 256 == 0)
            sink.progress(double(r) / double(rows));
    }
    return Status::success();
}

#endif

} // namespace sf6::import
