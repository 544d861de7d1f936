#include "ui/TrayIcon.h"

#include "ui/Symbols.h"

#include <QPainter>

namespace TrayIcon {

namespace {

// Desktops whose top bar is dark in light mode too.
const QStringList alwaysDarkPanels{
    QStringLiteral("gnome"), QStringLiteral("unity"), QStringLiteral("x-cinnamon"), QStringLiteral("budgie")};

} // namespace

Panel panelFor(const QPalette &palette, const QString &currentDesktop)
{
    for (const QString &desktop : currentDesktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (alwaysDarkPanels.contains(desktop))
            return Panel::Dark;
    return palette.color(QPalette::Window).lightness() < 128 ? Panel::Dark : Panel::Light;
}

QColor glyphColour(Panel panel)
{
    // The greys the common symbolic icon themes use on each kind of panel.
    return panel == Panel::Dark ? QColor(0xF6, 0xF5, 0xF4) : QColor(0x2E, 0x34, 0x36);
}

QColor badgeColour()
{
    return QColor(0xE0, 0x1B, 0x24);
}

QPixmap pixmap(Look look, int size, qreal devicePixelRatio)
{
    QPixmap result
        = Symbols::pixmap(Symbols::Kind::DocumentViewfinder, size, glyphColour(look.panel), devicePixelRatio);
    if (!look.error)
        return result;
    QPainter p(&result);
    p.setRenderHint(QPainter::Antialiasing);
    // A clear ring around the badge keeps it apart from the strokes beneath, on any panel.
    const qreal radius = size * 0.24;
    const QPointF centre(size - radius, size - radius);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(centre, radius + size * 0.07, radius + size * 0.07);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setBrush(badgeColour());
    p.drawEllipse(centre, radius, radius);
    return result;
}

QIcon icon(Look look)
{
    QIcon result;
    for (int size : {16, 22, 24, 32, 48, 64})
        result.addPixmap(pixmap(look, size));
    return result;
}

} // namespace TrayIcon
