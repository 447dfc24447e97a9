#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

// Spaces the requests to one host, whichever source or thread sends them, so all clients of a
// service together keep to its limit. A request books a turn when it is made (turns follow each
// other at least the gap apart, in the order they were booked) and claims it when it is about to
// go out; the claim holds it back until the gap since the host's last request has passed, however
// late a timer fired for the one before. The gap counts from when the request really left (or its
// reply began: markSent), not from when it was handed to the network, which may first have to
// connect. A turn booked and then not used is lost, which errs on the polite side.
class RequestPacer
{
public:
    // Books the next turn for `key` and returns how many ms from now it is (0: at once).
    static qint64 reserve(const QString &key, qint64 intervalMs);
    // Records a request to `key` going out now and returns 0, or returns how many ms it must still
    // wait (and records nothing) when the last request went out less than `intervalMs` ago.
    static qint64 claim(const QString &key, qint64 intervalMs);
    // The request claimed last for `key` has left now: the gap counts from here.
    static void markSent(const QString &key);
    // The host asked not to be asked again for `ms` (a Retry-After, at most a day): no turn before
    // then. It outlasts a run, so a new run does not ask a host that is still resting either.
    static void holdOff(const QString &key, qint64 ms);
    // How many ms the host's pause still lasts (0: none).
    static qint64 heldOffMs(const QString &key);
    // The key requests to a host are paced under: its scheme, host and port.
    static QString keyFor(const QString &scheme, const QString &host, int port);
    // Forgets every booking.
    static void reset();

    // Where tests read the gaps off the pacer's own clock: called with each time (microseconds,
    // steady clock) recorded for a request to `key` going out, `claimed` when claim() lets it go,
    // not when markSent() moves it to when it really left. Called under the pacer's lock, so it
    // must not call back into the pacer.
    static std::function<void(const QString &key, qint64 us, bool claimed)> sentHook;
};
