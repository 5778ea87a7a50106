#include "app/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
constexpr int kSize = 32;

QPixmap canvas()
{
    QPixmap pm(kSize, kSize);
    pm.fill(Qt::transparent);
    return pm;
}

QPixmap connectImage()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A serial plug and its socket.
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(70, 110, 180));
    p.drawRoundedRect(QRectF(3, 10, 12, 12), 2, 2);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(15, 13, 5, 2));
    p.drawRect(QRectF(15, 17, 5, 2));
    p.setBrush(QColor(60, 150, 60));
    p.drawRoundedRect(QRectF(20, 9, 9, 14), 2, 2);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawLine(QPointF(9, 22), QPointF(9, 29));
    p.drawLine(QPointF(24.5, 9), QPointF(24.5, 3));
    return pm;
}

QPixmap syncImage()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue(30, 100, 190);
    p.setPen(QPen(blue, 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QRectF r(6, 6, 20, 20);
    p.drawArc(r, 30 * 16, 150 * 16);
    p.drawArc(r, 210 * 16, 150 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    QPainterPath a;
    a.moveTo(3, 13); a.lineTo(11, 13); a.lineTo(7, 19); a.closeSubpath();   // left arrow head
    QPainterPath b;
    b.moveTo(29, 19); b.lineTo(21, 19); b.lineTo(25, 13); b.closeSubpath(); // right arrow head
    p.drawPath(a);
    p.drawPath(b);
    return pm;
}

QPixmap reportImage()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(Qt::white);
    QPainterPath page;
    page.moveTo(6, 2); page.lineTo(20, 2); page.lineTo(26, 8); page.lineTo(26, 30); page.lineTo(6, 30); page.closeSubpath();
    p.drawPath(page);
    p.setPen(QPen(QColor(120, 120, 120), 1.5));
    for (int y = 11; y <= 26; y += 4)
        p.drawLine(QPointF(10, y), QPointF(22, y));
    p.setPen(QPen(QColor(200, 40, 40), 2));
    p.drawLine(QPointF(10, 7), QPointF(17, 7));
    return pm;
}

QPixmap exportImage()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setPen(QPen(QColor(30, 110, 60), 1));
    p.setBrush(QColor(235, 245, 235));
    p.drawRect(3, 4, 26, 24);
    p.fillRect(4, 5, 25, 5, QColor(40, 140, 70));
    for (int x = 11; x < 29; x += 8)
        p.drawLine(x, 10, x, 28);
    for (int y = 16; y < 28; y += 6)
        p.drawLine(3, y, 29, y);
    return pm;
}

QPixmap historyImage()
{
    // A stack of archived records with a clock face.
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 70, 40), 1));
    for (int i = 0; i < 3; ++i) {
        p.setBrush(QColor(230 - 20 * i, 205 - 20 * i, 150 - 20 * i));
        p.drawRoundedRect(QRectF(3, 20 - 6 * i, 18, 7), 1.5, 1.5);
    }
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(250, 250, 250));
    p.drawEllipse(QRectF(17, 15, 13, 13));
    p.drawLine(QPointF(23.5, 21.5), QPointF(23.5, 17.5));
    p.drawLine(QPointF(23.5, 21.5), QPointF(26.5, 21.5));
    return pm;
}

QIcon iconOf(const QPixmap& pm)
{
    QIcon icon;
    // One image list serves both states: a disabled button shows it greyed,
    // as every toolbar does, which the style works out from the normal image.
    icon.addPixmap(pm, QIcon::Normal);
    return icon;
}
} // namespace

QList<QIcon> makeToolbarImages()
{
    return {iconOf(connectImage()), iconOf(syncImage()), iconOf(reportImage()), iconOf(exportImage()),
            iconOf(historyImage())};
}
