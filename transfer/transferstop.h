#pragma once

#include <QtGlobal>

#include <atomic>

// The one stop of the transfer and conversion jobs. Raising it counts one more stop; a job
// remembers the count when it was requested, so every stop raised after that reaches it, even
// before it has started, and no stop raised earlier can reach a later job.
quint64 transferStopCount();
void raiseTransferStop();

// A job's view of the stop, plus its own stop (a full drive ends that run and no other).
class StopToken
{
public:
    explicit StopToken(quint64 stopsBefore = transferStopCount())
        : m_stopsBefore(stopsBefore)
    { }
    bool stopped() const { return m_own.load() || transferStopCount() != m_stopsBefore; }
    void raise() { m_own = true; }

private:
    quint64 m_stopsBefore;
    std::atomic_bool m_own{false};
};
