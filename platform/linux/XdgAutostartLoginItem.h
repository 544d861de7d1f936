#pragma once

#include "platform/LoginItem.h"

#include <QString>

// An XDG autostart entry ($XDG_CONFIG_HOME/autostart/<name>.desktop) that starts the program at login.
class XdgAutostartLoginItem : public LoginItem
{
public:
    // `executable` is what the entry starts (quoted in the entry as needed).
    explicit XdgAutostartLoginItem(QString executable);

    void registerItem() override;
    void unregisterItem() override;
    bool isEnabled() const override;

    // Where the entry lives.
    static QString entryPath();
    // What the entry passes to the program: started at login, it stays in the background.
    static QString backgroundArgument() { return QStringLiteral("--background"); }

private:
    QString m_executable;
};
