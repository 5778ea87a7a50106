#pragma once
// The texts the trend chart and the report draw at the sizes they draw them,
// rendered so that two systems' renderings can be held side by side: a
// Windows build whose font engine takes a face's embedded bitmaps draws
// 报警 as 报⺮, which shows as strokes present on one side and missing on
// the other.

#include <QImage>

namespace sf6test {

// The sample: chart labels and titles (the chart's faces at 12 to 18 pixels)
// and a report line, black on white, 8-bit grey.
QImage drawGlyphSample();

struct GlyphAgreement {
    int inkPixels = 0;     // dark in either image
    int disagreeing = 0;   // ink in one with paper all around it in the other
    int worstCellPercent = 0;   // the same share in the worst cell of about a glyph's size
    bool sameSize = false;
    // Hinting and rasterisers differ a little between systems, so edges may
    // differ by shades; a missing stroke is dark against light, and it shows
    // in the cell of its glyph however much text agrees around it.
    bool agrees() const
    {
        return sameSize && inkPixels > 0 && disagreeing * 100 <= inkPixels * kTolerancePercent
            && worstCellPercent <= kCellTolerancePercent;
    }
    static constexpr int kTolerancePercent = 3;
    static constexpr int kCellTolerancePercent = 20;
    static constexpr int kCell = 13;   // half the sample's line height: about a small glyph
};

GlyphAgreement compareGlyphImages(const QImage& a, const QImage& b);

} // namespace sf6test
