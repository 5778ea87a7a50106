#include "import/TImportDialog.h"

#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"

#include <QDir>
#include <QProgressDialog>

namespace sf6::import {

TImportDialog::TImportDialog(Archive& archive, QWidget* parent, ImportFiles importFiles)
    : archive_(archive), parent_(parent), importFiles_(std::move(importFiles))
{
}

bool TImportDialog::Execute()
{
    Files = ui::FileDialogs::openFileNames({kImportTitle, kImportFilter}, parent_);
    if (Files.isEmpty())
        return false;
    importFiles();
    showSummary();
    return true;
}

void TImportDialog::importFiles()
{
    QProgressDialog ProgressDialog1(parent_);
    ProgressDialog1.setWindowTitle(kImportTitle);
    ProgressDialog1.setCancelButton(nullptr);   // each file is stored whole or not at all
    ProgressDialog1.setWindowModality(Qt::WindowModal);
    ProgressDialog1.setMinimumDuration(int(kProgressDelay.count()));
    ProgressDialog1.setRange(0, kProgressSteps * int(Files.size()));
    int shown = -1;
    Results = importFiles_(archive_, Files, [this, &ProgressDialog1, &shown](int file, double fraction) {
        const int base = kProgressSteps * file;
        if (file != shown) {
            shown = file;
            ProgressDialog1.setLabelText(QStringLiteral("正在导入 %1").arg(QDir::toNativeSeparators(Files[file])));
            ProgressDialog1.setValue(base);
        }
        ProgressDialog1.setValue(base + int(fraction * kProgressSteps));
    });
    ProgressDialog1.setValue(ProgressDialog1.maximum());
}

void TImportDialog::showSummary()
{
    QStringList details;
    for (const FileImport& f : Results.files)
        details += f.refusedRows;
    QString text = Results.summary;
    if (!Results.notImported.isEmpty())
        text += QStringLiteral("\n未导入的文件：\n") + Results.notImported.join(u'\n');
    ui::MessageBoxes::show(ui::Message{text, ui::kMessageCaption, QMessageBox::NoIcon, details.join(u'\n')}, parent_);
}

} // namespace sf6::import
