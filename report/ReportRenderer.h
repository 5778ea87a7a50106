#pragma once
// Paints a report page: on a printer, in a print preview, into a PDF file or
// an image. The page is described in 96-dpi pixels from the top-left corner
// of the printable area; the painter's origin must be that corner.

#include <QString>

#include <memory>
#include <vector>

#include "base/Status.h"

class QPainter;
class QPdfWriter;

namespace sf6 {

struct ReportPage;

// devicePixelsPerInch: the resolution of the painter's device (QPrinter::resolution()).
void renderReportPage(const ReportPage& page, QPainter& painter, double devicePixelsPerInch);

// Writes the page as a one-page vector PDF (A4 portrait, 10 mm margins, fonts
// embedded). On failure no partial file is left behind and an older file of
// that name stays as it was.
Status writeReportPdf(const ReportPage& page, const QString& fileName);
// Several pages in one document, in order, each face embedded once.
Status writeReportPdf(const std::vector<ReportPage>& pages, const QString& fileName);

// The same document in memory, for a writer that adds to it (a signature).
Expected<QByteArray> reportPdfBytes(const std::vector<ReportPage>& pages);

// One PDF written a page at a time, for batches too long to hold: each page
// is painted and let go. The file appears only at commit(), complete; without
// it (a failure, a cancel) nothing is left behind and an older file of that
// name stays as it was.
class ReportPdfWriter {
public:
    explicit ReportPdfWriter(QString fileName);
    ~ReportPdfWriter();
    ReportPdfWriter(const ReportPdfWriter&) = delete;
    ReportPdfWriter& operator=(const ReportPdfWriter&) = delete;

    // The first page opens the file and gives the document its title.
    Status addPage(const ReportPage& page);
    int pageCount() const { return pages_; }
    Status commit();

private:
    struct Open;
    QString fileName_;
    std::unique_ptr<Open> open_;
    int pages_ = 0;
};

} // namespace sf6
