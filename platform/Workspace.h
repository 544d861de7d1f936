#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The desktop around the program: opening things for the user, and the computer's name.
class Workspace
{
public:
    virtual ~Workspace() = default;

    // Shows a folder in the file browser or opens a link; the outcome is not reported.
    virtual void open(const QUrl &url) = 0;
    // Shows the file selected in the file manager, or else opens the folder it lies in; never opens
    // the file itself. The outcome is not reported.
    virtual void showFile(const QString &path) = 0;
    // The computer's name as the user knows it, or nothing when the system has none.
    virtual std::optional<QString> computerName() const = 0;
    // The word users know this kind of computer by ("Linux"): the program names its connection and
    // this computer with it.
    virtual QString platformName() const = 0;
};
