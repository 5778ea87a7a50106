#include "report/TForm4.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "report/ReportFaces.h"
#include "report/ReportRenderer.h"
#include "ui/MessageBox.h"

#include <QGuiApplication>
#include <QPrintPreviewWidget>
#include <QScreen>

namespace {
constexpr qreal kPreviewScreenShare = 0.85;
} // namespace

TForm4::TForm4(sf6::ReportPage page, QWidget* parent) : TForm4(std::vector<sf6::ReportPage>{std::move(page)}, parent) {}

TForm4::TForm4(std::vector<sf6::ReportPage> pages, QWidget* parent)
    : QWidget(parent),
      Pages(pages.empty() ? std::vector<sf6::ReportPage>(1) : std::move(pages)),
      QuickRep1(Pages.front()),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution))
{
    setObjectName(QStringLiteral("Form4"));
    const qreal m = sf6::kPageMarginMm;
    printer_->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(m, m, m, m),
                                        QPageLayout::Millimeter));
    printer_->setFullPage(false);   // the painter's origin is the printable area's corner
    printer_->setCopyCount(QuickRep1.copies);
    printer_->setPrintRange(QPrinter::AllPages);
    printer_->setPaperSource(QPrinter::Auto);
    printer_->setDuplex(QuickRep1.duplex ? QPrinter::DuplexLongSide : QPrinter::DuplexNone);
    if (const sf6::PageLabel* t = QuickRep1.label(QStringLiteral("QRLTitle")))
        printer_->setDocName(t->text);
}

TForm4::~TForm4()
{
    // The preview paints through our printer: it goes first.
    if (preview_) {
        preview_->disconnect(this);
        delete preview_;
    }
}

QPrintPreviewDialog* TForm4::preview()
{
    if (!preview_) {
        // Said plainly rather than drawn in whatever faces the system offers.
        if (const sf6::Status faces = sf6::ReportFaces::available(); !faces)
            ui::MessageBoxes::show(faces.message());
        // No parent: the preview outlives the dialog that asked for it.
        preview_ = new QPrintPreviewDialog(printer_.get(), nullptr);
        preview_->setWindowTitle(QStringLiteral("打印预览"));
        preview_->setAttribute(Qt::WA_DeleteOnClose);
        connect(preview_, &QPrintPreviewDialog::paintRequested, this, &TForm4::paintRequested);
        connect(preview_, &QObject::destroyed, this, &QObject::deleteLater);
        // Large enough to read a page: most of the screen, the page fitted to its width.
        if (const QScreen* s = QGuiApplication::primaryScreen()) {
            const QRect area = s->availableGeometry();
            QRect r(QPoint(), (QSizeF(area.size()) * kPreviewScreenShare).toSize());
            r.moveCenter(area.center());
            preview_->setGeometry(r);
        }
        if (auto* w = preview_->findChild<QPrintPreviewWidget*>())
            w->fitToWidth();
    }
    preview_->show();
    preview_->raise();
    return preview_;
}

void TForm4::paintRequested(QPrinter* printer)
{
    QPainter painter(printer);
    for (size_t i = 0; i < Pages.size(); ++i) {
        if (i > 0)
            printer->newPage();
        sf6::renderReportPage(Pages[i], painter, printer->resolution());
    }
}
