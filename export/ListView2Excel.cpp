#include "export/ListView2Excel.h"

#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "export/Workbook.h"

#include <QDir>
#include <QFontInfo>
#include <QTreeWidget>

namespace sf6 {
namespace {

double pointSize(const QWidget* w)
{
    // A font given in pixels has no point size of its own; use what is shown.
    const QFont f = w->font();
    return f.pointSizeF() > 0 ? f.pointSizeF() : QFontInfo(f).pointSizeF();
}

WorkbookInput gather(const QTreeWidget* list)
{
    WorkbookInput in;
    const int columns = list->columnCount();
    const QTreeWidgetItem* header = list->headerItem();
    for (int k = 0; k < columns; ++k) {
        in.captions << header->text(k);
        in.columnWidthsPx.push_back(list->columnWidth(k));
    }
    in.fontName = list->font().family();
    in.fontPointSize = pointSize(list);

    const int count = list->topLevelItemCount();
    in.rows.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        QStringList row;
        row.reserve(columns);
        for (int k = 0; k < columns; ++k)
            row << item->text(k);
        in.rows.push_back(std::move(row));
    }
    return in;
}

} // namespace

void ListView2Excel(QTreeWidget* list, const QString& fileName)
{
    if (!list)
        return;
    const Status r = writeWorkbook(gather(list), fileName);
    if (r) {
        ui::SavedFiles::tell(fileName);
        return;
    }
    ui::MessageBoxes::show(ui::Message{kExportFailedText + r.message(), kExportCaption, QMessageBox::Critical});
}

} // namespace sf6
