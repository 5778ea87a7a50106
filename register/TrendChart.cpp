#include "register/TrendChart.h"

#include "base/Clock.h"
#include "base/SafeSave.h"
#include "report/ReportFaces.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QChart>
#include <QCoreApplication>
#include <QGraphicsScene>
#include <QDateTimeAxis>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QScatterSeries>
#include <QValueAxis>

#include <chrono>

namespace sf6 {

namespace {

// The date axis spans the tests with a small margin, so the first and last points sit inside the plot.
constexpr int kDateMarginDivisor = 40;
constexpr std::chrono::hours kMinDateMargin{12};
constexpr qreal kFailingMarkerSize = 11;
const QColor kFailingColour(Qt::red);
constexpr qreal kBandAlpha = 0.15;
constexpr int kPdfResolution = 300;

struct ContactStyle {
    QString name;
    std::optional<Decimal> RelayEntry::*nominal;
    std::optional<Decimal> TrendPoint::*value;
    bool TrendPoint::*fails;
    QColor colour;
};

const std::array<ContactStyle, 3>& contacts()
{
    static const std::array<ContactStyle, 3> all{{
        {QStringLiteral("报警"), &RelayEntry::alarm, &TrendPoint::alarm, &TrendPoint::alarmFails, QColor(200, 60, 40)},
        {QStringLiteral("闭锁1"), &RelayEntry::lock1, &TrendPoint::lock1, &TrendPoint::lock1Fails, QColor(40, 90, 200)},
        {QStringLiteral("闭锁2"), &RelayEntry::lock2, &TrendPoint::lock2, &TrendPoint::lock2Fails, QColor(30, 140, 60)},
    }};
    return all;
}

double mpa(Decimal d) { return double(d.nano()) / double(Decimal::kScale); }

QFont chartFont(int pixels, bool bold = false)
{
    QFont f;
    // The report's font files, whatever the locale makes the system prefer.
    f.setFamilies({ReportFaces::latinFamily(), ReportFaces::chineseFamily()});
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// Draws the chart at the given size without a window: laid out in a scene of
// its own, as a view that is never shown would not lay it out.
void render(const TrendData& data, QPainter& painter, const QRectF& target, QSize size)
{
    QGraphicsScene scene;
    QChart* chart = makeTrendChart(data);
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    QCoreApplication::sendPostedEvents();   // the chart lays itself out in posted events
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, target, QRectF(QPointF(0, 0), size));
}

QImage render(const TrendData& data, QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    render(data, p, QRectF(QPointF(0, 0), size), size);
    return image;
}

} // namespace

QChart* makeTrendChart(const TrendData& data)
{
    auto* chart = new QChart;
    QStringList nominals;
    for (const ContactStyle& c : contacts())
        if (const auto n = data.entry.*(c.nominal))
            nominals << c.name + QStringLiteral("：") + n->text();
    QString title = QStringLiteral("继电器 %1 %2 的P20均值趋势").arg(data.entry.serial, data.entry.name);
    if (!nominals.isEmpty())
        title += QStringLiteral("<br><small>设定值（虚线）%1 MPa；色带为允许误差±%2 MPa（%3级，量程%4～%5 MPa）</small>")
                     .arg(nominals.join(QStringLiteral("、")), data.entry.allowedError().text(), data.entry.classText(),
                          data.entry.lower.text(), data.entry.upper.text());
    chart->setTitle(title);
    chart->setTitleFont(chartFont(18, true));
    chart->legend()->setFont(chartFont(13));
    chart->setAnimationOptions(QChart::NoAnimation);

    auto* x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("yyyy-MM-dd"));
    x->setTitleText(QStringLiteral("测试日期"));
    x->setLabelsFont(chartFont(12));
    x->setTitleFont(chartFont(13));
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("P20均动作值（MPa）"));
    y->setLabelFormat(QStringLiteral("%.3f"));
    y->setLabelsFont(chartFont(12));
    y->setTitleFont(chartFont(13));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);

    QDateTime first = data.points.empty() ? sf6::Clock::now() : data.points.front().when;
    QDateTime last = data.points.empty() ? first : data.points.back().when;
    const qint64 dateMargin = std::max(first.msecsTo(last) / kDateMarginDivisor,
                                   qint64(std::chrono::milliseconds(kMinDateMargin).count()));
    first = first.addMSecs(-dateMargin);
    last = last.addMSecs(dateMargin);
    const qreal x0 = qreal(first.toMSecsSinceEpoch()), x1 = qreal(last.toMSecsSinceEpoch());
    double lowest = mpa(data.entry.upper), highest = mpa(data.entry.lower);
    auto widen = [&](double v) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    };
    const double e = mpa(data.entry.allowedError());

    auto attach = [&](QAbstractSeries* s, bool inLegend) {
        chart->addSeries(s);
        s->attachAxis(x);
        s->attachAxis(y);
        for (QLegendMarker* m : chart->legend()->markers(s))
            m->setVisible(inLegend);   // the title names the nominal values and the band
    };
    for (const ContactStyle& c : contacts()) {
        const std::optional<Decimal> nominal = data.entry.*(c.nominal);
        if (nominal) {
            // The band of the allowed error, and the nominal value through it.
            auto* upper = new QLineSeries;
            auto* lower = new QLineSeries;
            upper->append(x0, mpa(*nominal) + e);
            upper->append(x1, mpa(*nominal) + e);
            lower->append(x0, mpa(*nominal) - e);
            lower->append(x1, mpa(*nominal) - e);
            auto* band = new QAreaSeries(upper, lower);
            QColor fill = c.colour;
            fill.setAlphaF(kBandAlpha);
            band->setBrush(fill);
            band->setPen(Qt::NoPen);
            attach(band, false);
            // An area series does not own its edges; the chart owns the band now.
            upper->setParent(band);
            lower->setParent(band);
            auto* line = new QLineSeries;
            line->append(x0, mpa(*nominal));
            line->append(x1, mpa(*nominal));
            line->setPen(QPen(c.colour, 1.5, Qt::DashLine));
            attach(line, false);
            widen(mpa(*nominal) - e);
            widen(mpa(*nominal) + e);
        }
        auto* values = new QLineSeries;
        values->setName(c.name + QStringLiteral(" P20均值"));
        values->setPen(QPen(c.colour, 2));
        values->setPointsVisible(true);
        for (const TrendPoint& p : data.points) {
            if (const std::optional<Decimal> v = p.*(c.value)) {
                values->append(qreal(p.when.toMSecsSinceEpoch()), mpa(*v));
                widen(mpa(*v));
            }
        }
        attach(values, true);
    }
    // Failing points over the lines, in red, whichever contact they belong to.
    auto* failing = new QScatterSeries;
    failing->setName(kTrendFailingName);
    failing->setColor(kFailingColour);
    failing->setBorderColor(kFailingColour.darker());
    failing->setMarkerSize(kFailingMarkerSize);
    for (const ContactStyle& c : contacts())
        for (const TrendPoint& p : data.points)
            if (p.*(c.fails))
                if (const std::optional<Decimal> v = p.*(c.value))
                    failing->append(qreal(p.when.toMSecsSinceEpoch()), mpa(*v));
    attach(failing, failing->count() > 0);
    x->setRange(first, last);
    const double margin = std::max(0.005, (highest - lowest) * 0.1);
    y->setRange(lowest - margin, highest + margin);
    return chart;
}

Status saveTrendPng(const TrendData& data, const QString& fileName, QSize size)
{
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    if (!render(data, size).save(&png, "PNG"))
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(fileName, QStringLiteral("无法生成图片")));
    return saveFile(fileName, png.data());
}

Status saveTrendPdf(const TrendData& data, const QString& fileName)
{
    SafeSave file(fileName);
    if (Status s = file.open(); !s)
        return s;
    {
        QPdfWriter writer(file.device());
        writer.setResolution(kPdfResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                                         QPageLayout::Millimeter));
        writer.setTitle(QStringLiteral("继电器 %1 趋势").arg(data.entry.serial));
        QPainter painter;
        if (!painter.begin(&writer))
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(fileName, QStringLiteral("无法生成PDF")));
        const QRect page = painter.viewport();
        const QSize size = kTrendImageSize.scaled(page.size(), Qt::KeepAspectRatio);
        render(data, painter, QRectF(page.topLeft(), size), kTrendImageSize);
        painter.end();
    }
    return file.commit();
}

} // namespace sf6
