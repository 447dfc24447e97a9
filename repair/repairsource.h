#pragma once

#include "track.h"
#include "trackmerger.h"

#include <functional>
#include <memory>

// A web source of the repair run (MusicBrainz, Discogs, the fingerprint look-up). The run makes each
// source on its own thread through a Factory and calls it only there; the source answers there too,
// through the reply it was given, at once or later. The run times every request out, so a source
// need not, but it must stop all work for a request when cancel() is called.
class RepairSource
{
public:
    // Source ids, as the run's log and the repository name them.
    static constexpr qint8 kMusicBrainz = 2;
    static constexpr qint8 kDiscogs = 3;
    static constexpr qint8 kFingerprint = 4;

    enum class Request {
        // Complete `item`'s tags. The fingerprint source answers with candidates instead.
        Track,
        // The tracks of `item`'s album as candidates (the follow-up of a fingerprint answer).
        Album,
        // A cover for `item`'s album. For the fingerprint source, `item.coverUrl` is the image to
        // fetch and `item.cover` the file to store it at.
        Cover,
    };

    struct Answer {
        // The track as the source completed it: with `hasCover` and `cover` when a cover file was
        // stored. The run takes only what it lacks from it.
        track item;
        // The source found the track's tags.
        bool tagUpdated = false;
        // Proposed tracks, for the fingerprint source's Track answer and for Album answers; the
        // run files them under the asked track's id.
        CandidateMap candidates;
    };

    using Reply = std::function<void(const Answer &)>;
    using Factory = std::function<std::unique_ptr<RepairSource>()>;

    virtual ~RepairSource() = default;

    // Starts one request; at most one is in flight. `reply` is called once, unless cancel() comes
    // first: then never.
    virtual void start(Request request, const track &item, Reply reply) = 0;
    // Drops the request in flight, if any.
    virtual void cancel() = 0;
    // A new run begins: answers kept from an earlier run are forgotten.
    virtual void beginRun() { }

protected:
    // Hands `answer` to `reply` and forgets it, so the request is answered exactly once.
    static void deliver(Reply &reply, const Answer &answer)
    {
        const Reply taken = std::move(reply);
        reply = nullptr;
        if (taken)
            taken(answer);
    }
};
