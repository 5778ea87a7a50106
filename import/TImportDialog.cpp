#include "import/TImportDialog.h"

#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"

#include <QDir>
#include <QProgressDialog>

namespace sf6::import {

TImportDialog::TImportDialog(Archive& archive, QWidget* parent) : archive_(archive), parent_(parent) {}

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
    Results.clear();
    for (qsizetype i = 0; i < Files.size(); ++i) {
        const int base = kProgressSteps * int(i);
        ProgressDialog1.setLabelText(QStringLiteral("正在导入 %1").arg(QDir::toNativeSeparators(Files[i])));
        ProgressDialog1.setValue(base);
        Results.push_back(importFile(archive_, Files[i], [&ProgressDialog1, base](double fraction) {
            ProgressDialog1.setValue(base + int(fraction * kProgressSteps));
        }));
    }
    ProgressDialog1.setValue(ProgressDialog1.maximum());
}

void TImportDialog::showSummary()
{
    std::vector<FileImport> imported;
    QStringList problems, details;
    for (const FileImport& f : Results) {
        if (f.outcome == FileImport::Imported)
            imported.push_back(f);
        else
            problems << f.failure;
        details += f.refusedRows;
    }
    QString text = importSummary(imported);
    if (!problems.isEmpty())
        text += QStringLiteral("\n未导入的文件：\n") + problems.join(u'\n');
    ui::MessageBoxes::show(ui::Message{text, ui::kMessageCaption, QMessageBox::NoIcon, details.join(u'\n')}, parent_);
}

} // namespace sf6::import
