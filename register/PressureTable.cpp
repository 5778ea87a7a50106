#include "register/PressureTable.h"

#include "register/Sf6Gas.h"

namespace sf6 {

namespace {
constexpr int kDecimals = 3;
constexpr int kRowTop = 130;
constexpr int kCellWidth = 160;
constexpr int kTableLeft = (kFrameRight + kFrameLeft) / 2 - kCellWidth;
constexpr int kRowHeight = kLabelHeight + 6;
const QString kNoGas = QStringLiteral("无法换算");
} // namespace

std::vector<PressureTableRow> pressureTable(double p20MPa)
{
    std::vector<PressureTableRow> out;
    for (int t = kTableFirstCelsius; t <= kTableLastCelsius; t += kTableStepCelsius)
        out.push_back({t, ptFromP20(p20MPa, t)});
    return out;
}

QString pressureCell(const PressureTableRow& row)
{
    return row.pt ? QString::number(*row.pt, 'f', kDecimals) : kNoGas;
}

ReportPage pressureTablePage(double p20MPa)
{
    ReportPage page;
    page.duplex = false;
    auto label = [&page](const QString& name, QRect box, const QString& text, PageLabel::Font font = PageLabel::Arial10) {
        page.labels.push_back({name, box, font, Qt::AlignHCenter | Qt::AlignTop, text});
    };
    label(QStringLiteral("QRTitle"), QRect(kFrameLeft, 24, kFrameRight - kFrameLeft, kTitleHeight),
          QStringLiteral("SF6压力温度换算表"), PageLabel::Arial12Bold);
    label(QStringLiteral("QRSetValue"), QRect(kFrameLeft, 70, kFrameRight - kFrameLeft, kLabelHeight),
          QStringLiteral("20°C时压力P20 = %1MPa（表压）").arg(QString::number(p20MPa, 'f', kDecimals)));
    label(QStringLiteral("QRBasis"), QRect(kFrameLeft, 92, kFrameRight - kFrameLeft, kLabelHeight),
          QStringLiteral("按DL/T 259-2012附录C的SF6状态方程换算，标准大气压0.101325MPa"));
    const std::vector<PressureTableRow> rows = pressureTable(p20MPa);
    int y = kRowTop;
    label(QStringLiteral("QRHeadT"), QRect(kTableLeft, y, kCellWidth, kLabelHeight), QStringLiteral("温度（°C）"));
    label(QStringLiteral("QRHeadP"), QRect(kTableLeft + kCellWidth, y, kCellWidth, kLabelHeight),
          QStringLiteral("压力Pt（MPa）"));
    const int right = kTableLeft + 2 * kCellWidth;
    page.lines.push_back({QLine(kTableLeft, y - 3, right, y - 3)});
    for (const PressureTableRow& r : rows) {
        y += kRowHeight;
        page.lines.push_back({QLine(kTableLeft, y - 3, right, y - 3)});
        label(QStringLiteral("QRT%1").arg(r.celsius), QRect(kTableLeft, y, kCellWidth, kLabelHeight),
              QString::number(r.celsius));
        label(QStringLiteral("QRP%1").arg(r.celsius), QRect(kTableLeft + kCellWidth, y, kCellWidth, kLabelHeight),
              pressureCell(r));
    }
    y += kRowHeight;
    page.lines.push_back({QLine(kTableLeft, y - 3, right, y - 3)});
    for (const int x : {kTableLeft, kTableLeft + kCellWidth, right})
        page.lines.push_back({QLine(x, kRowTop - 3, x, y - 3)});
    return page;
}

} // namespace sf6
