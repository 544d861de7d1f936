#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QAbstractButton;
class QLabel;

// The look shared by the main window and the settings sheet. Sizes other than text sizes are in
// device-independent pixels, which is what the designs call points.
namespace Theme {

inline const QColor navy{16, 35, 63};
inline const QColor gold{217, 164, 65};
inline const QColor teal{45, 140, 136};
inline const QColor windowBackground{247, 244, 237};

// The desktop's standard named colours, as the designs were drawn with them.
inline const QColor green{52, 199, 89};
inline const QColor orange{255, 149, 0};
inline const QColor red{255, 59, 48};
inline const QColor gray{142, 142, 147};

// A colour at a fraction of its opacity.
QColor withOpacity(QColor colour, double opacity);
// Dimmed text for secondary lines.
QColor secondaryText();

// A light palette for the window's own surfaces, so a dark desktop theme cannot put light text on
// the fixed light background.
QPalette lightPalette();

// Text sizes are the design's, where body text is 13, scaled to the desktop's own text size, so a
// larger font setting makes every line larger in proportion.
constexpr qreal designBodySize = 13;
QFont font(qreal designSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(qreal designSize, QFont::Weight weight = QFont::Normal);

// A label with a fixed font and colour that keeps the window's light look on dark desktop themes.
void styleLabel(QLabel *label, const QFont &font, const QColor &colour);

// A bordered button on a light surface.
void styleBorderedButton(QAbstractButton *button);
// A filled button tinted with `tint`, white text; dimmed while disabled.
void styleProminentButton(QAbstractButton *button, const QColor &tint);

} // namespace Theme
