#include "ui/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QLabel>

namespace Theme {

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

QColor secondaryText()
{
    return QColor(0, 0, 0, 128);
}

QPalette lightPalette()
{
    QPalette palette;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, windowBackground);
        palette.setColor(group, QPalette::WindowText, Qt::black);
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::AlternateBase, windowBackground);
        palette.setColor(group, QPalette::Text, Qt::black);
        palette.setColor(group, QPalette::Button, Qt::white);
        palette.setColor(group, QPalette::ButtonText, Qt::black);
        palette.setColor(group, QPalette::Highlight, navy);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::PlaceholderText, QColor(0, 0, 0, 90));
        palette.setColor(group, QPalette::ToolTipBase, Qt::white);
        palette.setColor(group, QPalette::ToolTipText, Qt::black);
    }
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0, 0, 0, 90));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0, 0, 0, 90));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0, 0, 0, 90));
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
    button->setStyleSheet(QStringLiteral(
        "QAbstractButton { background: white; color: black; border: 1px solid rgba(0, 0, 0, 40);"
        " border-radius: 6px; padding: 4px 12px; }"
        "QAbstractButton:hover { background: rgba(0, 0, 0, 10); }"
        "QAbstractButton:pressed { background: rgba(0, 0, 0, 25); }"
        "QAbstractButton:disabled { color: rgba(0, 0, 0, 80); }"));
}

void styleProminentButton(QAbstractButton *button, const QColor &tint)
{
    button->setFont(font(13, QFont::DemiBold));
    button->setStyleSheet(QStringLiteral(
        "QAbstractButton { background: %1; color: white; border: none; border-radius: 6px;"
        " padding: 5px 14px; }"
        "QAbstractButton:pressed { background: %2; }"
        "QAbstractButton:disabled { background: %3; color: rgba(255, 255, 255, 170); }")
                              .arg(rgba(tint), rgba(tint.darker(130)), rgba(withOpacity(tint, 0.35))));
}

} // namespace Theme
