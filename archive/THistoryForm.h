#pragma once
// The history window "历史记录": every archived record with its relay and
// last verdict, newest test first, filtered by test date and by the relay and
// unit texts of its reports and its linked relay. From
// a selection of records it makes reports (one details dialog, one page per
// record) and a workbook; a click shows a record in a side panel.

#include "archive/Archive.h"
#include "archive/HistoryModel.h"

#include <QDate>
#include <QLineEdit>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class TForm3;

namespace sf6 {
class SidePanel;
}

// A date filter: empty means no limit ("不限"); a date is typed as
// 2012-05-18 (or 2012-5-18) or picked from the calendar beside it.
class TDateFilter : public QLineEdit {
    Q_OBJECT
public:
    explicit TDateFilter(QWidget* parent = nullptr);
    // No limit when empty; nullopt and !valid() when the text is no date.
    std::optional<QDate> date() const;
    bool valid() const;
    void setDate(const QDate& d);   // an invalid date empties the field
    void CalendarClick();
};

class THistoryForm : public QWidget {
    Q_OBJECT
public:
    // Shares the process's connection to the archive; nullptr (and a message) when it cannot.
    static THistoryForm* open(const sf6::ArchiveLocation& location, QWidget* parent = nullptr);

    TDateFilter* dtFrom = nullptr;
    TDateFilter* dtTo = nullptr;
    QLineEdit* edText = nullptr;
    QPushButton* btnQuery = nullptr;
    QTableView* HistoryGrid = nullptr;
    sf6::HistoryModel* Model = nullptr;
    sf6::SidePanel* Panel1 = nullptr;
    QPushButton* btnReport = nullptr;
    QPushButton* btnExport = nullptr;
    QLabel* lbCount = nullptr;
    QLabel* lbSource = nullptr;   // the clicked record's 数据来源

    sf6::Archive& archive() { return *archive_; }
    // The archived records selected, in the order shown.
    std::vector<sf6::ArchivedRecord> selectedRecords() const;
    sf6::ArchiveFilter filter() const;
    // Reads the list again with the same filter, keeping the selection (links
    // and entries changed elsewhere).
    void refresh();

    // Lets the window that opened this one make every report dialog's reports
    // (starting details, judgement, keeping); without it a report is only printed.
    std::function<void(TForm3*)> onReportDialog;
    // A further command on the selection (the register adds its own); its
    // button joins the others.
    QPushButton* addCommand(const QString& caption, std::function<void(const std::vector<sf6::ArchivedRecord>&)> run);

signals:
    void reportDialogOpened(TForm3* dialog);

public slots:
    void btnQueryClick();
    void HistoryGridClick(const QModelIndex& index);
    void btnReportClick();
    void btnExportClick();

private:
    THistoryForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent);
    std::shared_ptr<sf6::Archive> archive_;
    class QHBoxLayout* buttons_ = nullptr;
};
