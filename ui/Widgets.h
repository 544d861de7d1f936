#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QWidget>

class QTime;
class QTimer;

// The locale's short time, without seconds even where its short form has them (as the C locale does).
QString shortTimeText(const QTime &time);

// A surface filled with one colour in a rounded rectangle, optionally stroked; children are laid out
// on top of it.
class RoundedBox : public QWidget
{
    Q_OBJECT
public:
    RoundedBox(const QColor &fill, qreal radius, QWidget *parent = nullptr);

    QColor fill() const { return m_fill; }
    void setFill(const QColor &fill);
    void setBorder(const QColor &colour, qreal width);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    qreal m_radius;
    QColor m_border;
    qreal m_borderWidth = 0;
};

// The main window's card, white in the light look: padding 17, radius 18, a hairline border and a
// soft shadow.
class Card : public RoundedBox
{
    Q_OBJECT
public:
    explicit Card(QWidget *parent = nullptr);
};

// An indeterminate progress indicator: a turning arc. It only animates while it is visible.
class BusyIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit BusyIndicator(int diameter, QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_diameter;
    int m_angle = 0;
    QTimer *m_timer;
};

// An on/off switch. Clicking it only reports the click: whoever owns the value decides what it shows,
// so the switch can never disagree with the state it stands for.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget *parent = nullptr);

    bool isOn() const { return isChecked(); }
    void setOn(bool on) { setChecked(on); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Checkable only so that screen readers hear on and off; a click leaves the state to the owner.
    void nextCheckState() override { }
};

// An image stretched to the widget's size without smoothing, so every QR module stays a sharp square.
class PixelImageView : public QWidget
{
    Q_OBJECT
public:
    explicit PixelImageView(QWidget *parent = nullptr);
    void setImage(const QImage &image);
    QImage image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};
