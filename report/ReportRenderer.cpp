#include "report/ReportRenderer.h"

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QPageLayout>
#include <QPageSize>
#include <QPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QSaveFile>

#include "report/ReportPage.h"

namespace sf6 {

namespace {

constexpr int kPdfResolution = 1200;
constexpr qreal kLinePenWidth = 2.0;
constexpr qreal kPointsPerInch = 72.0;

// Latin text in Arial (Liberation Sans has its metrics where Arial is missing),
// Chinese in the first Simplified Chinese family found. Each run of text gets a
// font of its own rather than one font with fallbacks: the print preview
// replays every run from the top of its font's ascent, which puts glyphs
// borrowed from a taller fallback font below the line.
struct LabelFonts {
    QFont latin, chinese;
};

LabelFonts labelFonts(PageLabel::Font kind, const QPaintDevice* device)
{
    const bool title = kind == PageLabel::Arial12Bold;
    // The painter is scaled to 96-dpi pixels, so the size must come out in those
    // pixels: a point size would be converted at the device's resolution and
    // then scaled once more.
    const qreal pixels = title ? kTitleFontPixels : kLabelFontPixels;
    const int deviceDpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : kReportDpi;
    auto make = [&](const QStringList& families) {
        QFont f;
        f.setFamilies(families);
        f.setStyleHint(QFont::SansSerif);
        f.setHintingPreference(QFont::PreferNoHinting);
        f.setBold(title);
        f.setPointSizeF(pixels * kPointsPerInch / deviceDpi);
        return f;
    };
    return {make({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")}),
            make({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Microsoft YaHei"), QStringLiteral("SimSun"),
                  QStringLiteral("Arial")})};
}

// The stretches of text the Latin font has no glyphs for.
QList<QTextLayout::FormatRange> chineseRuns(const QString& text, const LabelFonts& fonts)
{
    // The font file itself, not the font with its fallbacks, which has every glyph.
    const QRawFont latin = QRawFont::fromFont(fonts.latin);
    QTextCharFormat format;
    format.setFont(fonts.chinese);
    QList<QTextLayout::FormatRange> runs;
    for (qsizetype i = 0; i < text.size();) {
        char32_t c = text.at(i).unicode();
        int length = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        if (!latin.supportsCharacter(c) && !QChar::isSpace(c)) {
            if (!runs.isEmpty() && runs.last().start + runs.last().length == i)
                runs.last().length += length;
            else
                runs.append(QTextLayout::FormatRange{int(i), length, format});
        }
        i += length;
    }
    return runs;
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
    layout.setFormats(chineseRuns(text, fonts));
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

    // Lines last, so no label background can hide part of the grid.
    painter.setPen(QPen(Qt::black, kLinePenWidth));
    for (const PageLine& l : page.lines)
        painter.drawLine(l.line);
    painter.restore();
}

bool writeReportPdf(const ReportPage& page, const QString& fileName, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("无法写入文件 %1：%2").arg(QDir::toNativeSeparators(fileName), why);
        return false;
    };

    // Written beside the target and renamed at the end: a failed export leaves
    // no half-written file and keeps an older file of that name intact.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setResolution(kPdfResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(kPageMarginMm, kPageMarginMm, kPageMarginMm, kPageMarginMm),
                                         QPageLayout::Millimeter));
        if (const PageLabel* t = page.label(QStringLiteral("QRLTitle")))
            writer.setTitle(t->text);
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.cancelWriting();
            return fail(QStringLiteral("无法生成PDF"));
        }
        renderReportPage(page, painter, writer.resolution());
        painter.end();
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace sf6
