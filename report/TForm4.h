#pragma once
// The report page window: never shown itself, it carries the page (QuickRep1)
// and the printer, and opens the print preview from which the user prints.
// Create it with new: it deletes itself when its preview window is closed.

#include <QPointer>
#include <QPrintPreviewDialog>
#include <QWidget>
#include <memory>
#include <vector>

#include "report/ReportPage.h"

class QPrinter;


class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(sf6::ReportPage page, QWidget* parent = nullptr);
    // A report of several pages (a judgement, a batch of records), printed as one.
    explicit TForm4(std::vector<sf6::ReportPage> pages, QWidget* parent = nullptr);
    ~TForm4() override;

    const std::vector<sf6::ReportPage> Pages;
    const sf6::ReportPage& QuickRep1;   // the first page

    QPrinter& printer() { return *printer_; }

    // Opens the preview, captioned "打印预览", without waiting for it; the
    // returned window deletes itself (and this page) when closed.
    QPrintPreviewDialog* preview();
    QPrintPreviewDialog* previewDialog() const { return preview_; }

private slots:
    void paintRequested(QPrinter* printer);

private:
    std::unique_ptr<QPrinter> printer_;
    QPointer<QPrintPreviewDialog> preview_;
};
