#pragma once

#include <QString>

#include <functional>

// A message on the desktop that the user may act on.
struct Notification {
    QString title;
    QString body;
    QString actionText; // the one action offered
};

// The desktop's notifications.
class Notifier
{
public:
    virtual ~Notifier() = default;

    // Shows the notification; `onAction` runs on the main thread if the user picks its action, which
    // may be never. Nothing is reported: a desktop without notifications simply shows nothing.
    virtual void notify(const Notification &notification, std::function<void()> onAction) = 0;
};
