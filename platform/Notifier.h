#pragma once

#include <QString>

#include <functional>

// A message on the desktop that the user may act on.
struct Notification {
    QString title;
    QString body;
    QString actionText; // the one action offered
};

// Notification servers read a body as markup: the text escaped so that a file name is shown as
// written, never as markup.
inline QString notificationMarkup(const QString &plain)
{
    QString escaped = plain;
    escaped.replace(u'&', QLatin1String("&amp;"))
        .replace(u'<', QLatin1String("&lt;"))
        .replace(u'>', QLatin1String("&gt;"));
    return escaped;
}

// The desktop's notifications.
class Notifier
{
public:
    virtual ~Notifier() = default;

    // Shows the notification; `onAction` runs on the main thread if the user picks its action, which
    // may be never. Nothing is reported: a desktop without notifications simply shows nothing.
    virtual void notify(const Notification &notification, std::function<void()> onAction) = 0;
};
