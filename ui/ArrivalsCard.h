#pragma once

#include "ui/Widgets.h"

#include <QAbstractButton>
#include <QList>

class AppModel;
class QLabel;

// One saved document in the list: its time and its name. Activating it shows the file; an entry whose
// file has gone is dimmed, says so and cannot be activated.
class ArrivalEntry : public QAbstractButton
{
    Q_OBJECT
public:
    explicit ArrivalEntry(QWidget *parent = nullptr);

    void setArrival(const QString &time, const QString &name, bool present);
    QString timeText() const { return m_time; }
    QString name() const { return m_name; }
    bool isPresent() const { return m_present; }
    QSize sizeHint() const override;

    static QString goneText() { return QStringLiteral("Taşınmış ya da silinmiş"); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_time;
    QString m_name;
    bool m_present = true;
};

// The card of the documents saved lately, newest first. It looks again whether each file is still
// there whenever the list changes and whenever the window comes to the front.
class ArrivalsCard : public Card
{
    Q_OBJECT
public:
    static constexpr int shownCount = 20;

    explicit ArrivalsCard(AppModel &model, QWidget *parent = nullptr);

    const QList<ArrivalEntry *> &entries() const { return m_entries; }

public Q_SLOTS:
    void refresh();

protected:
    bool event(QEvent *event) override;

private:
    AppModel &m_model;
    QLabel *m_empty = nullptr;
    QList<ArrivalEntry *> m_entries; // made once, so focus and Tab order survive a refresh
    QList<QString> m_paths;
};
