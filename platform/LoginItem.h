#pragma once

#include "platform/PlatformError.h"

// Starting the program when the user logs in.
class LoginItem
{
public:
    virtual ~LoginItem() = default;

    // Registers the program to start at login. Throws PlatformError when the system refuses.
    virtual void registerItem() = 0;
    // Removes that registration. Throws PlatformError when the system refuses.
    virtual void unregisterItem() = 0;
    // Whether the program is registered and enabled now; anything else counts as not registered.
    virtual bool isEnabled() const = 0;
};
