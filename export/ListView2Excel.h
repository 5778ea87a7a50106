#pragma once
// The export command's worker: the whole record list into one workbook file.

#include <QString>

class QTreeWidget;

namespace sf6 {

inline const QString kExportCaption = QStringLiteral("ListView2Excel");
inline const QString kExportFailedText = QStringLiteral("导出失败：");

// Writes every row and column of the list as it is shown now. A failure is
// reported to the user here with one message box; success is told to
// ui::SavedFiles (the status bar says where the file went).
void ListView2Excel(QTreeWidget* list, const QString& fileName);

} // namespace sf6
