#include "tests/report/GlyphSample.h"

#include "report/ReportFaces.h"

#include <QFont>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <iterator>
#include <vector>

namespace sf6test {

namespace {
constexpr int kWidth = 640;
constexpr int kDark = 160;   // darker than this is ink (a small glyph's strokes are grey)
constexpr int kLight = 224;  // lighter than this is paper
constexpr int kCellInkFloor = 16;   // a cell with less ink is a glyph's edge, too little to judge

// As the trend chart makes its fonts.
QFont chartFont(int pixels, bool bold)
{
    QFont f;
    f.setFamilies({sf6::ReportFaces::latinFamily(), sf6::ReportFaces::chineseFamily()});
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}
} // namespace

QImage drawGlyphSample()
{
    // Each character in a cell of its own: the systems' hinting may round
    // advances differently, which would shift whole lines; a glyph's strokes
    // are what is compared.
    const QString chart = QStringLiteral("报警不合格审批闭锁校验日期P20.5MPa");
    const QString report = QStringLiteral("报警不合格审批校验结果判定");
    const int sizes[] = {12, 13, 14, 16, 18};
    constexpr int line = 26;
    const int width = 8 + int(chart.size()) * 2 * 18;
    QImage image(width, int(std::size(sizes) + 1) * line + 8, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        int y = 22;
        for (const int pixels : sizes) {
            painter.setFont(chartFont(pixels, pixels == 18));
            for (qsizetype i = 0; i < chart.size(); ++i)
                painter.drawText(4 + int(i) * 2 * pixels, y, chart.mid(i, 1));
            y += line;
        }
        // The report's own Chinese face.
        const sf6::ReportFaces& faces = sf6::ReportFaces::normal();
        painter.setFont(faces.font(faces.faceFor(U'报'), 12, &image));
        for (qsizetype i = 0; i < report.size(); ++i)
            painter.drawText(4 + int(i) * 24, y, report.mid(i, 1));
    }
    return image.convertToFormat(QImage::Format_Grayscale8);
}

GlyphAgreement compareGlyphImages(const QImage& a, const QImage& b)
{
    GlyphAgreement result;
    result.sameSize = a.size() == b.size() && !a.isNull();
    if (!result.sameSize)
        return result;
    const QImage ga = a.convertToFormat(QImage::Format_Grayscale8);
    const QImage gb = b.convertToFormat(QImage::Format_Grayscale8);
    const int w = ga.width(), h = ga.height();
    // Ink is matched by anything but paper within a pixel on the other side:
    // hinting moves a stem by a pixel, a missing stroke leaves paper.
    const auto matched = [w, h](const QImage& other, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int ox = x + dx, oy = y + dy;
                if (ox >= 0 && oy >= 0 && ox < w && oy < h && other.constScanLine(oy)[ox] <= kLight)
                    return true;
            }
        return false;
    };
    constexpr int cell = GlyphAgreement::kCell;
    const int columns = (w + cell - 1) / cell;
    const int rows = (h + cell - 1) / cell;
    std::vector<int> cellInk(size_t(columns * rows)), cellDisagreeing(size_t(columns * rows));
    for (int y = 0; y < h; ++y) {
        const uchar* la = ga.constScanLine(y);
        const uchar* lb = gb.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            const size_t c = size_t((y / cell) * columns + x / cell);
            const bool inkA = la[x] < kDark, inkB = lb[x] < kDark;
            if (!inkA && !inkB)
                continue;
            ++result.inkPixels;
            ++cellInk[c];
            if ((inkA && !matched(gb, x, y)) || (inkB && !matched(ga, x, y))) {
                ++result.disagreeing;
                ++cellDisagreeing[c];
            }
        }
    }
    for (size_t c = 0; c < cellInk.size(); ++c) {
        if (cellInk[c] >= kCellInkFloor)
            result.worstCellPercent = std::max(result.worstCellPercent, cellDisagreeing[c] * 100 / cellInk[c]);
    }
    return result;
}

} // namespace sf6test
