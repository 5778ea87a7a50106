#pragma once
// 工具 → 导入数据…: the files asked for, each imported under a progress bar,
// and one summary whose details list every row that could not be imported.

#include "archive/Archive.h"
#include "import/Import.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <vector>

class QProgressDialog;
class QWidget;

namespace sf6::import {

inline const QString kImportTitle = QStringLiteral("导入数据");
inline const QString kImportFilter = QStringLiteral("工作簿 (*.xls *.xlsx);;文本 (*.tsv *.txt);;JSON (*.json)");

class TImportDialog {
public:
    // A short file is done before the bar would show.
    static constexpr std::chrono::milliseconds kProgressDelay{500};
    static constexpr int kProgressSteps = 1000;

    // importFiles does the import (ops::importFiles: the window sits below it).
    TImportDialog(Archive& archive, QWidget* parent, ImportFiles importFiles);

    // Asks for the files, imports them, shows the summary; false when the user chose none.
    bool Execute();

    QStringList Files;
    ImportBatch Results;

private:
    void importFiles();
    void showSummary();

    Archive& archive_;
    QWidget* parent_;
    ImportFiles importFiles_;
};

} // namespace sf6::import
