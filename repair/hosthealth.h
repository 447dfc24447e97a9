#pragma once

#include <QString>
#include <QStringList>

// Which web hosts the repair still asks. A host that fails kFailuresInARow times in a row (no
// answer in time, connection refused, a server error) is left alone until reset(): every later
// request to it ends at once, so a dead service costs a few time-outs per run, not one per track.
// Shared by every source and thread.
class HostHealth
{
public:
    static constexpr int kFailuresInARow = 3;

    // A request to `key` (RequestPacer::keyFor) was answered; true only for an answer that is no
    // server error.
    static void record(const QString &key, const QString &host, bool answered);
    static bool isGivenUp(const QString &key);
    // The hosts given up on since the last reset, in the order they were given up.
    static QStringList givenUp();
    // Every host is asked again (the start of a run).
    static void reset();
};
