#pragma once
// The report-details dialog: the user fills in what the instrument does not
// store, then "确定" builds the report page of the dialog's own copy of a row
// and opens its print preview. Modeless; create it with new, it deletes itself
// when closed. Open print previews are independent of it. The history window
// opens it on several archived records at once: one report page each.

#include <QDialog>
#include <functional>
#include <optional>
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
    sf6::ListRow rowCopy() const;   // the (first) row of ListView1, all 53 texts
    std::vector<sf6::ListRow> rowCopies() const;
    // The archive numbers of the rows, where they are archived (0: not).
    const std::vector<int>& recordIds() const { return recordIds_; }
    // Fills the texts the user types from a stored report; the dates stay the
    // record's and today's.
    void setDetails(const sf6::ReportDetails& d);
    // Whether setDetails filled the dialog (else it shows its defaults).
    bool detailsGiven() const { return detailsGiven_; }
    // Whether the user typed the 编号 or picked a relay; the relay the
    // dialog opened with (defaults, a stored report, the record's relay) is not
    // a choice.
    bool serialChosen() const { return serialChosen_; }

    // Makes one record's report when it is confirmed and returns its pages. By
    // default the one page of the record; a window with an archive keeps the
    // report and adds the judgement's pages.
    using ReportMaker = std::function<std::vector<sf6::ReportPage>(const sf6::ReportDetails&, const sf6::ListRow&, int recordId)>;
    void setReportMaker(ReportMaker m) { reportMaker_ = std::move(m); }
    // Told once a confirmation's reports are all made and, for a PDF, the file
    // is saved (complete), or not (a failure, a cancel): a maker that leaves
    // its reports to be kept keeps them here, all together, or none.
    using BatchEnd = std::function<void(bool complete)>;
    void setBatchEnd(BatchEnd e) { batchEnd_ = std::move(e); }

    // The relay fields from a register entry the user picks; the button that
    // asks shows only where a register is at hand.
    struct RelayFields {
        QString name, model, serial, made, client;
    };
    using RelayPicker = std::function<std::optional<RelayFields>()>;
    void setRelayPicker(RelayPicker p);
    // The relay the record is linked to, as the dialog opens.
    void setRelayFields(const RelayFields& f);
    QPushButton* btnRelay = nullptr;   // "从台账选择"

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
    void loadRow(const sf6::ListRow& row, int recordId = 0);
    void loadRows(const std::vector<sf6::ListRow>& rows, const std::vector<int>& recordIds);
    void btnConfirmClick();
    void btnCancleClick();
    void btnPdfClick();
    void btnRelayClick();

private:
    struct RecordReport {
        int recordId = 0;
        sf6::ReportDetails details;
        std::vector<sf6::ReportPage> pages;
    };
    // Makes each row's report in turn and hands it to each (false stops);
    // several rows show a progress window with a cancel. False when stopped.
    bool forEachReport(const QString& doing, const std::function<bool(RecordReport&)>& each);
    void endBatch(bool complete) const;
    QPlainTextEdit* addField(QWidget* frame, const QString& caption, int left, int top, int width);

    void fillRelay(const RelayFields& f);
    void mmbhChange();

    QString today_;   // fixed when the dialog is created
    bool filling_ = false;   // the program, not the user, is setting texts
    bool detailsGiven_ = false;
    bool serialChosen_ = false;
    std::vector<int> recordIds_;
    ReportMaker reportMaker_;
    BatchEnd batchEnd_;
    RelayPicker relayPicker_;
};
