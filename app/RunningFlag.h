#pragma once

#include <QObject>
#include <QPointer>

// Holds one of the model's "already running" flags for the life of a coroutine, and clears it on
// every way out, unless the model itself went away while the coroutine was suspended.
class RunningFlag
{
public:
    RunningFlag(QObject *owner, bool &flag)
        : m_owner(owner)
        , m_flag(flag)
    {
        m_flag = true;
    }
    ~RunningFlag()
    {
        if (m_owner)
            m_flag = false;
    }
    RunningFlag(const RunningFlag &) = delete;
    RunningFlag &operator=(const RunningFlag &) = delete;

private:
    QPointer<QObject> m_owner;
    bool &m_flag;
};
