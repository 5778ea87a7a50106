#pragma once
// The report-details dialog: the user fills in what the instrument does not
// store, then "确定" builds the report page of the dialog's own copy of a row
// and opens its print preview. Modeless; create it with new, it deletes itself
// when closed. Open print previews are independent of it.

#include <QDialog>
#include <vector>

#include "report/ReportPage.h"

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class TForm4;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    sf6::ReportDetails details() const;
    sf6::ListRow rowCopy() const;   // the one row of ListView1, all 53 texts

    QPlainTextEdit* mmBbbt = nullptr;
    QPlainTextEdit* mmjydw = nullptr;
    QPlainTextEdit* mmsjdw = nullptr;
    QPlainTextEdit* mmsjrq = nullptr;
    QPlainTextEdit* mmdyrq = nullptr;
    QPlainTextEdit* mmjdqmc = nullptr;
    QPlainTextEdit* mmxh = nullptr;
    QPlainTextEdit* mmbh = nullptr;
    QPlainTextEdit* mmscrq = nullptr;
    QPlainTextEdit* mmjy = nullptr;
    QPlainTextEdit* mmsh = nullptr;
    QPlainTextEdit* mmsp = nullptr;
    QGroupBox* GroupBox1 = nullptr;   // captionless frame around the fields
    QGroupBox* GroupBox2 = nullptr;   // "继电器信息"
    QTreeWidget* ListView1 = nullptr; // hidden: the row copy
    QPushButton* btnConfirm = nullptr;
    QPushButton* btnPdf = nullptr;
    QPushButton* btnCancle = nullptr;

signals:
    void pagePreviewed(TForm4* form);

public slots:
    void FormCreate();
    void loadRow(const sf6::ListRow& row);
    void btnConfirmClick();
    void btnCancleClick();
    void btnPdfClick();

private:
    QPlainTextEdit* addField(QWidget* frame, const QString& caption, int left, int top, int width);

    QString today_;   // fixed when the dialog is created
};
