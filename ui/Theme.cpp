#include "ui/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QLabel>

namespace Theme {

namespace {

bool dark = false;

QColor either(QColor light, QColor darkColour)
{
    return dark ? darkColour : light;
}

} // namespace

void setDark(bool isDarkLook)
{
    dark = isDarkLook;
}

bool isDark()
{
    return dark;
}

bool looksDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QColor windowBackground()
{
    return either({247, 244, 237}, {27, 29, 33});
}

QColor cardBackground()
{
    return either(Qt::white, {38, 42, 48});
}

QColor cardBorder()
{
    return either(QColor(0, 0, 0, 18), QColor(255, 255, 255, 20));
}

QColor text()
{
    return either(Qt::black, {236, 236, 236});
}

QColor secondaryText()
{
    return either(QColor(0, 0, 0, 128), QColor(255, 255, 255, 140));
}

QColor title()
{
    return either(navy, {169, 196, 235});
}

QColor tealText()
{
    return either(teal, {79, 189, 183});
}

QColor accent()
{
    return either(navy, {52, 96, 160});
}

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

QPalette windowPalette()
{
    const QColor faint = withOpacity(text(), 0.35);
    QPalette palette;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, windowBackground());
        palette.setColor(group, QPalette::WindowText, text());
        palette.setColor(group, QPalette::Base, cardBackground());
        palette.setColor(group, QPalette::AlternateBase, windowBackground());
        palette.setColor(group, QPalette::Text, text());
        palette.setColor(group, QPalette::Button, cardBackground());
        palette.setColor(group, QPalette::ButtonText, text());
        palette.setColor(group, QPalette::Highlight, accent());
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::PlaceholderText, faint);
        palette.setColor(group, QPalette::ToolTipBase, cardBackground());
        palette.setColor(group, QPalette::ToolTipText, text());
    }
    palette.setColor(QPalette::Disabled, QPalette::Text, faint);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, faint);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, faint);
    return palette;
}

namespace {

QFont scaled(QFont f, qreal designSize)
{
    const QFont desktop = QApplication::font();
    const qreal factor = designSize / designBodySize;
    if (desktop.pointSizeF() > 0)
        f.setPointSizeF(desktop.pointSizeF() * factor);
    else
        f.setPixelSize(qMax(1, qRound(desktop.pixelSize() * factor)));
    return f;
}

} // namespace

QFont font(qreal designSize, QFont::Weight weight)
{
    QFont f = scaled(QFontDatabase::systemFont(QFontDatabase::GeneralFont), designSize);
    f.setWeight(weight);
    return f;
}

QFont monospacedFont(qreal designSize, QFont::Weight weight)
{
    QFont f = scaled(QFontDatabase::systemFont(QFontDatabase::FixedFont), designSize);
    f.setStyleHint(QFont::Monospace);
    f.setWeight(weight);
    return f;
}

void styleLabel(QLabel *label, const QFont &font, const QColor &colour)
{
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    label->setPalette(palette);
}

namespace {

QString rgba(const QColor &c)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

} // namespace

void styleBorderedButton(QAbstractButton *button)
{
    button->setFont(font(13));
    const QColor ink = text();
    button->setStyleSheet(
        QStringLiteral("QAbstractButton { background: %1; color: %2; border: 1px solid %3;"
                       " border-radius: 6px; padding: 4px 12px; }"
                       "QAbstractButton:hover { background: %4; }"
                       "QAbstractButton:pressed { background: %5; }"
                       "QAbstractButton:disabled { color: %6; }")
            .arg(rgba(dark ? QColor(52, 56, 63) : QColor(Qt::white)), rgba(ink), rgba(withOpacity(ink, 0.16)),
                rgba(withOpacity(ink, 0.04)), rgba(withOpacity(ink, 0.10)), rgba(withOpacity(ink, 0.31))));
}

void styleProminentButton(QAbstractButton *button, const QColor &tint)
{
    button->setFont(font(13, QFont::DemiBold));
    button->setStyleSheet(
        QStringLiteral("QAbstractButton { background: %1; color: white; border: none; border-radius: 6px;"
                       " padding: 5px 14px; }"
                       "QAbstractButton:pressed { background: %2; }"
                       "QAbstractButton:disabled { background: %3; color: rgba(255, 255, 255, 170); }")
            .arg(rgba(tint), rgba(tint.darker(130)), rgba(withOpacity(tint, 0.35))));
}

} // namespace Theme
