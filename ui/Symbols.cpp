#include "ui/Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace Symbols {

namespace {

// Every symbol is drawn on a 24 x 24 grid and scaled to the size asked for.
void drawGear(QPainter &p, const QColor &c)
{
    QPainterPath teeth;
    const QPointF centre(12, 12);
    for (int i = 0; i < 8; ++i) {
        const qreal angle = i * 45.0;
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-2.2, -11, 4.4, 6), 1, 1);
        QTransform t;
        t.translate(centre.x(), centre.y());
        t.rotate(angle);
        teeth.addPath(t.map(tooth));
    }
    QPainterPath ring;
    ring.addEllipse(centre, 7.5, 7.5);
    QPainterPath hole;
    hole.addEllipse(centre, 3, 3);
    QPainterPath gear = teeth.united(ring).subtracted(hole);
    p.fillPath(gear, c);
}

void drawFolder(QPainter &p, const QColor &c)
{
    QPainterPath tab;
    tab.addRoundedRect(QRectF(2, 4, 9, 5), 1.5, 1.5);
    QPainterPath body;
    body.addRoundedRect(QRectF(2, 6.5, 20, 14), 2, 2);
    p.fillPath(tab.united(body), c);
}

void drawWifiExclamation(QPainter &p, const QColor &c)
{
    QPen pen(c, 2.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF base(9, 19);
    for (qreal r : {5.0, 10.0, 15.0})
        p.drawArc(QRectF(base.x() - r, base.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(base, 1.8, 1.8);
    p.drawRoundedRect(QRectF(19, 5, 2.6, 10), 1.3, 1.3);
    p.drawEllipse(QPointF(20.3, 19), 1.5, 1.5);
}

void drawArrowClockwise(QPainter &p, const QColor &c)
{
    QPen pen(c, 2.4, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF circle(4, 4, 16, 16);
    p.drawArc(circle, 110 * 16, 290 * 16);
    // Arrow head at the open end of the arc, pointing along the clockwise direction.
    const qreal a = qDegreesToRadians(110.0);
    const QPointF tip(12 + 8 * qCos(a), 12 - 8 * qSin(a));
    QPainterPath head;
    head.moveTo(tip + QPointF(5, 0));
    head.lineTo(tip + QPointF(-1.5, -4.5));
    head.lineTo(tip + QPointF(-1.5, 4.5));
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(head, c);
}

void drawDocumentViewfinder(QPainter &p, const QColor &c)
{
    QPen corner(c, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(corner);
    p.setBrush(Qt::NoBrush);
    const qreal lo = 2, hi = 22, arm = 5;
    p.drawPolyline(QPolygonF({{lo, lo + arm}, {lo, lo}, {lo + arm, lo}}));
    p.drawPolyline(QPolygonF({{hi - arm, lo}, {hi, lo}, {hi, lo + arm}}));
    p.drawPolyline(QPolygonF({{lo, hi - arm}, {lo, hi}, {lo + arm, hi}}));
    p.drawPolyline(QPolygonF({{hi - arm, hi}, {hi, hi}, {hi, hi - arm}}));
    p.setPen(QPen(c, 1.6));
    p.drawRoundedRect(QRectF(7, 6, 10, 12), 1.5, 1.5);
    p.drawLine(QPointF(9.5, 10), QPointF(14.5, 10));
    p.drawLine(QPointF(9.5, 13), QPointF(14.5, 13));
}

} // namespace

QPixmap pixmap(Kind kind, int size, const QColor &colour, qreal devicePixelRatio)
{
    QPixmap result(QSize(size, size) * devicePixelRatio);
    result.setDevicePixelRatio(devicePixelRatio);
    result.fill(Qt::transparent);
    QPainter p(&result);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    switch (kind) {
    case Kind::Gear:
        drawGear(p, colour);
        break;
    case Kind::Folder:
        drawFolder(p, colour);
        break;
    case Kind::WifiExclamation:
        drawWifiExclamation(p, colour);
        break;
    case Kind::ArrowClockwise:
        drawArrowClockwise(p, colour);
        break;
    case Kind::DocumentViewfinder:
        drawDocumentViewfinder(p, colour);
        break;
    }
    return result;
}

QIcon icon(Kind kind, const QColor &colour)
{
    QIcon result;
    for (int size : {16, 22, 24, 32, 48, 64})
        result.addPixmap(pixmap(kind, size, colour));
    return result;
}

} // namespace Symbols
