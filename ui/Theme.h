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

// The brand colours, the same in both looks: the header, the logo tile, the one-time code.
inline const QColor navy{16, 35, 63};
inline const QColor gold{217, 164, 65};
inline const QColor teal{45, 140, 136};

// The desktop's standard named colours, as the designs were drawn with them.
inline const QColor green{52, 199, 89};
inline const QColor orange{255, 149, 0};
inline const QColor red{255, 59, 48};
inline const QColor gray{142, 142, 147};

// The window follows the desktop's light or dark preference, chosen before the window is built.
void setDark(bool dark);
bool isDark();
// Whether a palette is a dark one, for desktops that state no preference of their own.
bool looksDark(const QPalette &palette);

// The colours that differ between the two looks.
QColor windowBackground();
QColor cardBackground();
QColor cardBorder();
QColor text();
// Dimmed text for secondary lines.
QColor secondaryText();
// Card titles and the large counter: navy on light, a light blue of it on dark.
QColor title();
// The counts and the code: teal, lighter on dark.
QColor tealText();
// The tint of prominent buttons, the switch and the focus ring.
QColor accent();

// A colour at a fraction of its opacity.
QColor withOpacity(QColor colour, double opacity);

// The palette of the window's own surfaces in the current look, so a desktop theme cannot put light
// text on the light background or dark text on the dark one.
QPalette windowPalette();

// Text sizes are the design's, where body text is 13, scaled to the desktop's own text size, so a
// larger font setting makes every line larger in proportion.
constexpr qreal designBodySize = 13;
QFont font(qreal designSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(qreal designSize, QFont::Weight weight = QFont::Normal);

// A label with a fixed font and colour that keeps the window's own look whatever the desktop theme.
void styleLabel(QLabel *label, const QFont &font, const QColor &colour);

// A bordered button on a card.
void styleBorderedButton(QAbstractButton *button);
// A filled button tinted with `tint`, white text; dimmed while disabled.
void styleProminentButton(QAbstractButton *button, const QColor &tint);

} // namespace Theme
