#include "ui/ArrivalsCard.h"

#include "app/AppModel.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// Today's documents by their time alone; older ones with the date in front.
QString arrivalTime(const QDateTime &savedAt)
{
    const QDateTime local = savedAt.toLocalTime();
    QString time = shortTimeText(local.time());
    if (local.date() == QDate::currentDate())
        return time;
    return QLocale().toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') + time;
}

constexpr int entryPadding = 6;

} // namespace

ArrivalEntry::ArrivalEntry(QWidget *parent)
    : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFont(Theme::font(12));
}

void ArrivalEntry::setArrival(const QString &time, const QString &name, bool present)
{
    m_time = time;
    m_name = name;
    m_present = present;
    // Painted as plain text below; the name came from the phone and is never markup.
    setText(time + QLatin1Char(' ') + name);
    setAccessibleName(present ? text() : text() + QStringLiteral(", ") + goneText());
    setEnabled(present);
    setCursor(present ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

QSize ArrivalEntry::sizeHint() const
{
    return QSize(200, fontMetrics().height() + 2 * entryPadding);
}

void ArrivalEntry::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_present && (underMouse() || isDown())) {
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::withOpacity(Theme::text(), isDown() ? 0.10 : 0.05));
        p.drawRoundedRect(QRectF(rect()), 8, 8);
    }
    if (hasFocus()) {
        p.setPen(QPen(Theme::accent(), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
    }

    const QFontMetrics metrics = fontMetrics();
    QRect area = rect().adjusted(entryPadding + 2, 0, -entryPadding - 2, 0);
    const int timeWidth = metrics.horizontalAdvance(m_time);
    p.setPen(Theme::secondaryText());
    p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, m_time);
    area.setLeft(area.left() + timeWidth + 12);

    if (!m_present) {
        const QString note = goneText();
        p.drawText(area, Qt::AlignRight | Qt::AlignVCenter, note);
        area.setRight(area.right() - metrics.horizontalAdvance(note) - 12);
    }
    p.setPen(m_present ? Theme::text() : Theme::secondaryText());
    p.drawText(
        area, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(m_name, Qt::ElideMiddle, area.width()));
}

void ArrivalEntry::keyPressEvent(QKeyEvent *event)
{
    // Space is the button's own; Enter is what a list entry answers to as well.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

ArrivalsCard::ArrivalsCard(AppModel &model, QWidget *parent)
    : Card(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("arrivalsCard"));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(4);
    layout->setContentsMargins(17, 17, 17, 17);

    auto *title = new QHBoxLayout;
    title->setSpacing(6);
    auto *symbol = new QLabel(this);
    symbol->setPixmap(
        Symbols::pixmap(Symbols::Kind::DocumentViewfinder, 16, Theme::title(), devicePixelRatioF()));
    symbol->setFixedSize(16, 16);
    title->addWidget(symbol);
    auto *heading = new QLabel(QStringLiteral("Son Gelen Evraklar"), this);
    Theme::styleLabel(heading, Theme::font(14, QFont::Bold), Theme::title());
    title->addWidget(heading);
    title->addStretch(1);
    layout->addLayout(title);
    layout->addSpacing(6);

    m_empty = new QLabel(QStringLiteral("Henüz evrak gelmedi."), this);
    m_empty->setObjectName(QStringLiteral("arrivalsEmpty"));
    Theme::styleLabel(m_empty, Theme::font(12), Theme::secondaryText());
    layout->addWidget(m_empty);

    for (int i = 0; i < shownCount; ++i) {
        auto *entry = new ArrivalEntry(this);
        entry->setObjectName(QStringLiteral("arrival%1").arg(i));
        connect(entry, &ArrivalEntry::clicked, this, [this, i] {
            if (i < m_paths.size())
                m_model.showArrival(m_paths[i]);
        });
        layout->addWidget(entry);
        m_entries.append(entry);
    }

    connect(&model, &AppModel::recentArrivalsChanged, this, &ArrivalsCard::refresh);
    refresh();
}

void ArrivalsCard::refresh()
{
    const QList<Arrival> &all = m_model.recentArrivals().all();
    m_paths.clear();
    for (int i = 0; i < m_entries.size(); ++i) {
        ArrivalEntry *entry = m_entries[i];
        if (i >= all.size()) {
            entry->hide();
            continue;
        }
        const Arrival &arrival = all[i];
        m_paths.append(arrival.path);
        entry->setArrival(
            arrivalTime(arrival.savedAt), arrival.fileName(), RecentArrivals::isPresent(arrival));
        entry->show();
    }
    m_empty->setVisible(all.isEmpty());
}

bool ArrivalsCard::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        refresh();
    return Card::event(event);
}
