#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

// The few pictograms the window uses, drawn here so they look the same on every desktop theme.
namespace Symbols {

enum class Kind { Gear, Folder, WifiExclamation, ArrowClockwise, DocumentViewfinder };

// The symbol in `colour`, `size` device-independent pixels square, sharp on high-density screens.
QPixmap pixmap(Kind kind, int size, const QColor &colour, qreal devicePixelRatio = 1.0);
QIcon icon(Kind kind, const QColor &colour);

} // namespace Symbols
