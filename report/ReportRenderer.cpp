#include "report/ReportRenderer.h"

#include <QBuffer>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QPageLayout>
#include <QPageSize>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QRawFont>

#include "report/ReportFaces.h"
#include "report/ReportPage.h"
#include "base/SafeSave.h"

namespace sf6 {

namespace {

constexpr int kPdfResolution = 1200;
constexpr qreal kLinePenWidth = 2.0;

// Each run of text gets a face of its own rather than one font with fallbacks:
// the print preview replays every run from the top of its font's ascent, which
// puts glyphs borrowed from a taller fallback font below the line.
struct LabelFonts {
    const ReportFaces& faces;
    qreal pixels;
    QFont latin;
};

LabelFonts labelFonts(PageLabel::Font kind, const QPaintDevice* device)
{
    const bool title = kind == PageLabel::Arial12Bold;
    const ReportFaces& faces = title ? ReportFaces::bold() : ReportFaces::normal();
    const qreal pixels = title ? kTitleFontPixels : kLabelFontPixels;
    return {faces, pixels, faces.font(0, pixels, device)};
}

// Lays the text out line by line on the baselines of the Latin font, so a
// label with Chinese text keeps the same baseline as its neighbours. Wrapped
// lines that do not fit wholly in the box are left out rather than shown as a
// sliver at its lower edge.
void drawLabelText(QPainter& painter, const PageLabel& l, const LabelFonts& fonts)
{
    QString text = l.text;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);   // a line break typed into a field
    const QFontMetricsF metrics(fonts.latin, painter.device());
    QTextLayout layout(text, fonts.latin, painter.device());
    QTextOption option(l.align & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setFormats(fonts.faces.runs(text, fonts.pixels, painter.device()));
    layout.beginLayout();
    for (int k = 0;; ++k) {
        const qreal lineTop = k * metrics.lineSpacing();
        if (k > 0 && lineTop + metrics.height() > l.box.height())
            break;
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(l.box.width());
        line.setPosition(QPointF(0, lineTop + metrics.ascent() - line.ascent()));
    }
    layout.endLayout();
    layout.draw(&painter, l.box.topLeft());
}

void setUp(QPdfWriter& writer, const ReportPage& first)
{
    writer.setResolution(kPdfResolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(kPageMarginMm, kPageMarginMm, kPageMarginMm, kPageMarginMm),
                                     QPageLayout::Millimeter));
    if (const PageLabel* t = first.label(QStringLiteral("QRLTitle")))
        writer.setTitle(t->text);
}

} // namespace

void renderReportPage(const ReportPage& page, QPainter& painter, double devicePixelsPerInch)
{
    painter.save();
    const qreal scale = devicePixelsPerInch / kReportDpi;
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::Antialiasing, false);

    const LabelFonts normal = labelFonts(PageLabel::Arial10, painter.device());
    const LabelFonts title = labelFonts(PageLabel::Arial12Bold, painter.device());
    for (const PageLabel& l : page.labels) {
        painter.save();
        painter.setClipRect(l.box);   // over-long text is cut at the box's edges
        painter.fillRect(l.box, Qt::white);
        if (!l.text.isEmpty()) {
            painter.setPen(Qt::black);
            drawLabelText(painter, l, l.font == PageLabel::Arial12Bold ? title : normal);
        }
        painter.restore();
    }

    // A code's dark modules as one path, so no reader shows seams between them.
    for (const PageCode& code : page.codes) {
        if (code.modules <= 0 || code.dark.size() != size_t(code.modules) * size_t(code.modules))
            continue;
        painter.fillRect(code.box, Qt::white);
        const qreal module = qreal(std::min(code.box.width(), code.box.height())) / code.modules;
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        for (int y = 0; y < code.modules; ++y)
            for (int x = 0; x < code.modules;) {
                if (!code.dark[size_t(y * code.modules + x)]) {
                    ++x;
                    continue;
                }
                int run = x;
                while (run < code.modules && code.dark[size_t(y * code.modules + run)])
                    ++run;
                path.addRect(QRectF(code.box.x() + x * module, code.box.y() + y * module, (run - x) * module, module));
                x = run;
            }
        painter.fillPath(path, Qt::black);
    }

    // Lines last, so no label background can hide part of the grid.
    painter.setPen(QPen(Qt::black, kLinePenWidth));
    for (const PageLine& l : page.lines)
        painter.drawLine(l.line);
    painter.restore();
}

Status writeReportPdf(const ReportPage& page, const QString& fileName)
{
    return writeReportPdf(std::vector<ReportPage>{page}, fileName);
}

Status writeReportPdf(const std::vector<ReportPage>& pages, const QString& fileName)
{
    if (pages.empty())
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(fileName, QStringLiteral("没有要输出的页")));
    ReportPdfWriter pdf(fileName);
    for (const ReportPage& page : pages)
        if (Status s = pdf.addPage(page); !s)
            return s;
    return pdf.commit();
}

Expected<QByteArray> reportPdfBytes(const std::vector<ReportPage>& pages)
{
    const QString what = QStringLiteral("PDF");
    if (pages.empty())
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(what, QStringLiteral("没有要输出的页")));
    if (const Status faces = ReportFaces::available(); !faces)
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(what, faces.message()));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        setUp(writer, pages.front());
        QPainter painter;
        if (!painter.begin(&writer))
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(what, QStringLiteral("无法生成PDF")));
        for (size_t k = 0; k < pages.size(); ++k) {
            if (k > 0)
                writer.newPage();
            renderReportPage(pages[k], painter, writer.resolution());
        }
        painter.end();
    }
    return buffer.data();
}

// Written beside the target and renamed at the end: a failed export leaves no
// half-written file and keeps an older file of that name intact. One document:
// each face is embedded once, however many pages use it.
struct ReportPdfWriter::Open {
    explicit Open(const QString& fileName) : file(fileName) {}
    SafeSave file;
    std::unique_ptr<QPdfWriter> writer;
    QPainter painter;
};

ReportPdfWriter::ReportPdfWriter(QString fileName) : fileName_(std::move(fileName)) {}

ReportPdfWriter::~ReportPdfWriter()
{
    if (open_ && open_->painter.isActive())
        open_->painter.end();
}

Status ReportPdfWriter::addPage(const ReportPage& page)
{
    if (!open_) {
        // A PDF in substitute faces would not give back the text it shows.
        if (const Status faces = ReportFaces::available(); !faces)
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(fileName_, faces.message()));
        auto o = std::make_unique<Open>(fileName_);
        if (Status s = o->file.open(); !s)
            return s;
        o->writer = std::make_unique<QPdfWriter>(o->file.device());
        setUp(*o->writer, page);
        if (!o->painter.begin(o->writer.get()))
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(fileName_, QStringLiteral("无法生成PDF")));
        open_ = std::move(o);
    } else {
        open_->writer->newPage();
    }
    renderReportPage(page, open_->painter, open_->writer->resolution());
    ++pages_;
    return Status::success();
}

Status ReportPdfWriter::commit()
{
    if (!open_)
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(fileName_, QStringLiteral("没有要输出的页")));
    open_->painter.end();
    open_->writer.reset();
    const Status s = open_->file.commit();
    open_.reset();
    return s;
}

} // namespace sf6
