#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QString>

// The tray icon: one colour, so it reads like the panel's own symbols, light on dark panels and
// dark on light ones; a red badge while something needs the user's attention.
namespace TrayIcon {

enum class Panel { Light, Dark };

struct Look {
    Panel panel = Panel::Light;
    bool error = false;
    bool operator==(const Look &) const = default;
};

// The panel the icon most likely sits on. `currentDesktop` is XDG_CURRENT_DESKTOP: some desktops
// keep their panel dark whatever the colours of the windows; elsewhere the panel follows them.
Panel panelFor(const QPalette &palette, const QString &currentDesktop);

QColor glyphColour(Panel panel);
QColor badgeColour();

QPixmap pixmap(Look look, int size, qreal devicePixelRatio = 1.0);
QIcon icon(Look look);

} // namespace TrayIcon
