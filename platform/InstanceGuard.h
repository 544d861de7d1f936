#pragma once

#include "platform/PlatformError.h"

#include <QString>
#include <QStringList>

#include <functional>

// One running copy of the program per user. Two copies would both poll and acknowledge, and each
// would rotate the other's stored session away. The first start claims the user; a later start hands
// its launch to the running copy and leaves.
class InstanceGuard
{
public:
    // What a later launch brings to the running copy.
    struct Launch {
        QStringList arguments; // its command-line arguments, without the program itself
        QString activationToken; // XDG_ACTIVATION_TOKEN, so the compositor lets a window come forward
        QString startupId; // DESKTOP_STARTUP_ID, the same for X11
    };

    virtual ~InstanceGuard() = default;

    // True: this copy is the one, and each later launch reaches `onLaunch` on the main thread. False:
    // another copy runs and has taken `launch`. Throws PlatformError when neither can be done.
    virtual bool claim(const Launch &launch, std::function<void(const Launch &)> onLaunch) = 0;
    // Takes no more launches. The claim itself lasts until the process ends, so a launch meanwhile
    // waits for this copy to be gone and then starts afresh.
    virtual void stopTakingLaunches() = 0;
};
