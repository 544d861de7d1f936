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
    // An entry written by an earlier version (without the background argument) or for a program since
    // moved is written anew; an entry the user disabled, or none, is left alone. Returns whether it
    // was rewritten.
    bool renewIfOutdated();

    // Where the entry lives.
    static QString entryPath();
    // What the entry passes to the program: started at login, it stays in the background.
    static QString backgroundArgument() { return QStringLiteral("--background"); }

private:
    QString execLine() const;

    QString m_executable;
};
