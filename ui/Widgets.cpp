#include "ui/Widgets.h"

#include "ui/Theme.h"

#include <QGraphicsDropShadowEffect>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

QString shortTimeText(const QTime &time)
{
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression(QStringLiteral("[:.]ss?")));
    return QLocale().toString(time, format);
}

RoundedBox::RoundedBox(const QColor &fill, qreal radius, QWidget *parent)
    : QWidget(parent)
    , m_fill(fill)
    , m_radius(radius)
{
}

void RoundedBox::setFill(const QColor &fill)
{
    if (m_fill == fill)
        return;
    m_fill = fill;
    update();
}

void RoundedBox::setBorder(const QColor &colour, qreal width)
{
    m_border = colour;
    m_borderWidth = width;
    update();
}

void RoundedBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal inset = m_borderWidth / 2;
    const QRectF shape = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    p.setPen(m_borderWidth > 0 ? QPen(m_border, m_borderWidth) : QPen(Qt::NoPen));
    p.setBrush(m_fill);
    p.drawRoundedRect(shape, m_radius, m_radius);
}

Card::Card(QWidget *parent)
    : RoundedBox(Theme::cardBackground(), 18, parent)
{
    setBorder(Theme::cardBorder(), 1);
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, qRound(0.04 * 255)));
    shadow->setBlurRadius(10);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);
}

BusyIndicator::BusyIndicator(int diameter, QWidget *parent)
    : QWidget(parent)
    , m_diameter(diameter)
    , m_timer(new QTimer(this))
{
    setFixedSize(diameter, diameter);
    m_timer->setInterval(50);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

QSize BusyIndicator::sizeHint() const
{
    return {m_diameter, m_diameter};
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal width = qMax(2.0, m_diameter / 8.0);
    const QRectF ring = QRectF(rect()).adjusted(width, width, -width, -width);
    p.setPen(QPen(Theme::withOpacity(Theme::text(), 0.12), width));
    p.drawEllipse(ring);
    p.setPen(QPen(Theme::gray, width, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(ring, -m_angle * 16, 100 * 16);
}

void BusyIndicator::showEvent(QShowEvent *)
{
    m_timer->start();
}

void BusyIndicator::hideEvent(QHideEvent *)
{
    m_timer->stop();
}

ToggleSwitch::ToggleSwitch(QWidget *parent)
    : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setCheckable(true);
}

QSize ToggleSwitch::sizeHint() const
{
    return {32, 18};
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(0, 0, 32, 18).translated(0, (height() - 18) / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? Theme::accent() : Theme::withOpacity(Theme::text(), 0.18));
    p.drawRoundedRect(track, 9, 9);
    const qreal knob = 14;
    const qreal x = isChecked() ? track.right() - knob - 2 : track.left() + 2;
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        p.setPen(QPen(Theme::withOpacity(Theme::accent(), 0.5), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
    }
}

PixelImageView::PixelImageView(QWidget *parent)
    : QWidget(parent)
{
}

void PixelImageView::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void PixelImageView::paintEvent(QPaintEvent *)
{
    if (m_image.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(rect(), m_image);
}
