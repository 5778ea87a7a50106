#pragma once
// Paints a report page: on a printer, in a print preview, into a PDF file or
// an image. The page is described in 96-dpi pixels from the top-left corner
// of the printable area; the painter's origin must be that corner.

#include <QString>

#include <vector>

#include "base/Status.h"

class QPainter;

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

} // namespace sf6
