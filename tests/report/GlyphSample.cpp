#include "tests/report/GlyphSample.h"

#include "report/ReportFaces.h"

#include <QFont>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <vector>

namespace sf6test {

namespace {
constexpr int kWidth = 640;
constexpr int kDark = 96;    // darker than this is ink
constexpr int kLight = 192;  // lighter than this is paper
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
    const QString text = QStringLiteral("报警 不合格 审批 闭锁 校验日期 P20 0.550 MPa");
    const int sizes[] = {12, 13, 14, 16, 18};
    QImage image(kWidth, 6 * 26 + 8, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        int y = 22;
        for (const int pixels : sizes) {
            painter.setFont(chartFont(pixels, pixels == 18));
            painter.drawText(4, y, text);
            y += 26;
        }
        // A report line in the report's own Chinese face.
        const sf6::ReportFaces& faces = sf6::ReportFaces::normal();
        painter.setFont(faces.font(faces.faceFor(U'报'), 12, &image));
        painter.drawText(4, y, QStringLiteral("报警 不合格 审批 校验结果判定"));
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
    constexpr int cell = GlyphAgreement::kCell;
    const int columns = (ga.width() + cell - 1) / cell;
    const int rows = (ga.height() + cell - 1) / cell;
    std::vector<int> cellInk(size_t(columns * rows)), cellDisagreeing(size_t(columns * rows));
    for (int y = 0; y < ga.height(); ++y) {
        const uchar* la = ga.constScanLine(y);
        const uchar* lb = gb.constScanLine(y);
        for (int x = 0; x < ga.width(); ++x) {
            const size_t c = size_t((y / cell) * columns + x / cell);
            if (la[x] < kDark || lb[x] < kDark) {
                ++result.inkPixels;
                ++cellInk[c];
            }
            if ((la[x] < kDark && lb[x] > kLight) || (lb[x] < kDark && la[x] > kLight)) {
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
