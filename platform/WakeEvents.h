#pragma once

#include <functional>

// The moments the computer comes back after a while away: it resumed from sleep, or the network
// became reachable again. Whatever waited meanwhile should catch up then instead of at its next turn.
class WakeEvents
{
public:
    enum class Reason { Resumed, NetworkReturned };

    virtual ~WakeEvents() = default;

    // `handler` runs on the main thread at each such moment until another one replaces it (null:
    // none). A system that cannot tell simply never calls it.
    virtual void setHandler(std::function<void(Reason)> handler) = 0;
};
