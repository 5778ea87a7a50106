#include "export/Workbook.h"

#include "sync/Columns.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>

#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

namespace sf6 {
namespace {

constexpr double kMinFontSize = 1;       // the spreadsheet's accepted font sizes
constexpr double kMaxFontSize = 409;
constexpr double kMaxColumnWidth = 255;  // the spreadsheet's widest column
constexpr int kMaxFontNameLength = 31;   // longer names make the file unreadable
constexpr int kTempNameTries = 16;

std::filesystem::path fsPath(const QString& name)
{
    return std::filesystem::path(name.toStdU16String());
}

QByteArray libraryPath(const QString& name)
{
#ifdef Q_OS_WIN
    return name.toUtf8();   // the library opens UTF-8 names through the wide API
#else
    return QFile::encodeName(name);
#endif
}

QString libraryReason(lxw_error e)
{
    return QString::fromUtf8(lxw_strerror(e));
}

// A fresh name in the target's folder, so the final rename never crosses volumes.
QString temporaryNameBeside(const QString& target)
{
    const QDir dir = QFileInfo(target).absoluteDir();
    for (int i = 0; i < kTempNameTries; ++i) {
        const QString name = dir.filePath(QStringLiteral(".~export-%1.tmp")
                                              .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(name))
            return name;
    }
    return {};   // never reuse a name someone else owns
}

// Removes the temporary file on every way out unless the rename took it.
class TempFileGuard {
public:
    explicit TempFileGuard(QString name) : name_(std::move(name)) {}
    ~TempFileGuard()
    {
        if (!released_)
            QFile::remove(name_);
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void release() { released_ = true; }

private:
    QString name_;
    bool released_ = false;
};

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

void fillSheet(lxw_workbook* wb, const WorkbookInput& in, FirstError& check)
{
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    const QByteArray font = fontName(in.fontName);

    // The whole sheet in the list's font: no call sets a workbook default font,
    // so every column carries it; cells without a format of their own show it.
    lxw_format* sheetFormat = workbook_add_format(wb);
    lxw_format* cellFormat = workbook_add_format(wb);
    if (!ws || !sheetFormat || !cellFormat) {
        check(LXW_ERROR_MEMORY_MALLOC_FAILED);
        return;
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
        return;

    // Rows get a height only: a row format would override the columns' font.
    check(worksheet_set_row(ws, 0, kHeaderRowHeight, nullptr));
    for (int c = 0; c < columns; ++c)
        check(worksheet_write_string(ws, 0, lxw_col_t(c), in.captions[c].toUtf8().constData(), cellFormat));

    const QLocale plain = QLocale::c();
    lxw_row_t r = 1;
    for (const QStringList& row : in.rows) {
        check(worksheet_set_row(ws, r, kRecordRowHeight, nullptr));
        const int cells = std::min<int>(int(row.size()), columns);
        for (int k = 0; k < cells; ++k) {
            // The record number is a number; every other text stays text exactly
            // as listed, so 0.500 never turns into 0.5.
            if (k == kColNumber) {
                bool ok = false;
                const double n = plain.toDouble(row[k].trimmed(), &ok);
                if (ok && std::isfinite(n)) {
                    check(worksheet_write_number(ws, r, 0, n, cellFormat));
                    continue;
                }
            }
            check(worksheet_write_string(ws, r, lxw_col_t(k), row[k].toUtf8().constData(), cellFormat));
        }
        ++r;
    }
}

} // namespace

WorkbookResult writeWorkbook(const WorkbookInput& input, const QString& fileName)
{
    if (fileName.isEmpty())
        return {false, QStringLiteral("no file name")};

    const QString target = QFileInfo(fileName).absoluteFilePath();
    const QString temp = temporaryNameBeside(target);
    if (temp.isEmpty())
        return {false, QStringLiteral("no free temporary file name in %1").arg(QFileInfo(target).path())};
    TempFileGuard guard(temp);

    // The library creates the file only at close, and writes it even when a cell
    // was refused; so the file is kept only when no call failed.
    std::unique_ptr<lxw_workbook, void (*)(lxw_workbook*)> wb(workbook_new(libraryPath(temp).constData()),
                                                              lxw_workbook_free);
    if (!wb)
        return {false, libraryReason(LXW_ERROR_MEMORY_MALLOC_FAILED)};

    FirstError check;
    fillSheet(wb.get(), input, check);
    const lxw_error closed = workbook_close(wb.release());   // frees the workbook in every case
    check(closed);
    if (check.error != LXW_NO_ERROR)
        return {false, libraryReason(check.error)};

    std::error_code ec;
    std::filesystem::rename(fsPath(temp), fsPath(target), ec);   // replaces an older file
    if (ec)
        return {false, QString::fromLocal8Bit(ec.message())};
    guard.release();
    return {true, {}};
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
