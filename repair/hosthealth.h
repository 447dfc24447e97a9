#pragma once

#include <QString>
#include <QStringList>

// Which web hosts the repair still asks. A host that fails kFailuresInARow times in a row (no
// answer in time, connection refused, a server error), or that asks for a longer pause than a
// request waits for, is left alone until reset(): every later request to it ends at once, so a
// dead or resting service costs a few time-outs per run, not one per track. Shared by every source
// and thread.
class HostHealth
{
public:
    static constexpr int kFailuresInARow = 3;

    // A request to `key` (RequestPacer::keyFor) was answered; true only for an answer that is no
    // server error.
    static void record(const QString &key, const QString &host, bool answered);
    // The host is left alone at once; `why` ends the log line's reason ("asked for a pause of 60 s").
    static void giveUp(const QString &key, const QString &host, const QString &why);
    static bool isGivenUp(const QString &key);
    // The hosts given up on since the last reset, in the order they were given up.
    static QStringList givenUp();
    // Every host is asked again (the start of a run).
    static void reset();
};
