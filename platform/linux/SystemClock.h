#pragma once

#include "platform/Clock.h"

class SystemClock : public Clock
{
public:
    QDateTime now() const override;
    QCoro::Task<bool> sleep(std::chrono::milliseconds duration, Cancellation &cancellation) override;
};
