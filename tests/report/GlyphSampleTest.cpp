// The comparison that holds the Windows build's drawn text against the Linux
// build's: it must pass the same drawing and fail one with a stroke gone.
#include "tests/report/GlyphSample.h"

#include "report/ReportFaces.h"

#include <gtest/gtest.h>

#include <QPainter>

namespace {

// The bounding box of the dark pixels in a rectangle of the image.
QRect inkIn(const QImage& image, const QRect& area)
{
    QRect ink;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 160)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

TEST(GlyphSample, agreesWithItsOwnDrawing)
{
    ASSERT_TRUE(sf6::ReportFaces::available().ok());
    const QImage once = sf6test::drawGlyphSample();
    const sf6test::GlyphAgreement a = sf6test::compareGlyphImages(once, sf6test::drawGlyphSample());
    EXPECT_TRUE(a.agrees());
    EXPECT_GT(a.inkPixels, 2000);   // the sample is text, not a blank page
    EXPECT_EQ(a.disagreeing, 0);
}

TEST(GlyphSample, stemsMovedByAPixelAgree)
{
    ASSERT_TRUE(sf6::ReportFaces::available().ok());
    const QImage drawn = sf6test::drawGlyphSample();
    // Hinting on another system may put every stem a pixel over.
    QImage moved(drawn.size(), drawn.format());
    moved.fill(255);
    QPainter(&moved).drawImage(1, 0, drawn);
    EXPECT_TRUE(sf6test::compareGlyphImages(moved, drawn).agrees());
}

TEST(GlyphSample, aMissingStrokeInOneGlyphDisagrees)
{
    ASSERT_TRUE(sf6::ReportFaces::available().ok());
    const QImage drawn = sf6test::drawGlyphSample();
    // 警 at 12 pixels, the second cell of the first line: its lower half (the
    // 言 under 敬) erased, as a bitmap without those strokes would draw it.
    const QRect glyph = inkIn(drawn, QRect(4 + 24, 4, 24, 22));
    ASSERT_FALSE(glyph.isEmpty());
    QImage damaged = drawn;
    QPainter(&damaged).fillRect(QRect(glyph.left(), glyph.center().y(), glyph.width(), glyph.height() / 2 + 1),
                                Qt::white);

    const sf6test::GlyphAgreement a = sf6test::compareGlyphImages(damaged, drawn);
    EXPECT_FALSE(a.agrees()) << a.disagreeing << " of " << a.inkPixels << ", worst cell " << a.worstCellPercent << "%";
    EXPECT_GT(a.worstCellPercent, sf6test::GlyphAgreement::kCellTolerancePercent);
}

TEST(GlyphSample, shadesAtTheEdgesAgree)
{
    ASSERT_TRUE(sf6::ReportFaces::available().ok());
    const QImage drawn = sf6test::drawGlyphSample();
    // Every grey pixel one shade step lighter: another rasteriser's edges.
    QImage lighter = drawn;
    for (int y = 0; y < lighter.height(); ++y) {
        uchar* line = lighter.scanLine(y);
        for (int x = 0; x < lighter.width(); ++x)
            if (line[x] > 0 && line[x] < 255)
                line[x] = uchar(std::min(255, line[x] + 40));
    }
    EXPECT_TRUE(sf6test::compareGlyphImages(lighter, drawn).agrees());
}

TEST(GlyphSample, differentSizesDisagree)
{
    const QImage drawn = sf6test::drawGlyphSample();
    EXPECT_FALSE(sf6test::compareGlyphImages(drawn, drawn.copy(0, 0, drawn.width() - 1, drawn.height())).agrees());
    EXPECT_FALSE(sf6test::compareGlyphImages(drawn, QImage()).agrees());
}

} // namespace
