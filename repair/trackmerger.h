#pragma once

#include "apppaths.h"
#include "track.h"

#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QString>

// Candidates proposed for library tracks, each under the id of the track it was found for (its own
// `id` equals the key). Under one key the most recently inserted comes first.
using CandidateMap = QMultiMap<qint64, track>;
// Lower-cased album text to the ids of the library tracks that album is proposed for.
using AlbumGroups = QMap<QString, QList<qint64>>;

// Scores candidates against a library track and merges the chosen one in. Merging only fills what
// is missing: a known value is never replaced, a placeholder or empty text never written, a
// has-flag never set without a real value, and the measured duration kept. A candidate is taken only
// when its score is above kMinimumScore. Ties keep the entry met first in map order.
class TrackMerger
{
public:
    // The part of every score that does not depend on the candidate, plus a little: a candidate
    // needs a strong fingerprint or an agreeing field to be taken.
    static constexpr qint64 kMinimumScore = 120;

    // The candidate's own score (the fingerprint's confidence × 100) plus a term for every field
    // both sides know and agree on: album 120, artist 60, title 210 (+10 when equal), a fixed 50,
    // duration 80 less the difference in whole seconds (never below 0), track number 60. A local
    // track without a number takes it from the first two characters of its title.
    qint64 matchScore(const track &local, const track &candidate) const;
    // Fills `target`'s missing album, artist, title, genre, year, track number and duration from
    // `source`; takes its score, its track count and its cover address when it has them. Changes
    // `target` and returns a copy.
    track mergeTrack(track &target, const track &source) const;
    // `local` merged with the best-scoring entry of `candidates` above kMinimumScore (score 0 and
    // unchanged otherwise). Every entry's score is replaced by its match score.
    track mergeBestCandidate(const track &local, CandidateMap &candidates) const;

    // The end of a folder: every local track merged with its chosen candidate. With one or two
    // tracks, each picks its album by the summed scores of its candidates; with more, albums are
    // chosen across all tracks, the album proposed for the most tracks first. Both maps are changed:
    // `locals` holds the merged tracks, `candidates` the rescored candidates of local tracks.
    TrackMap matchResults(TrackMap &locals, CandidateMap &candidates);

    // The candidates of `local` alone, rescored; `candidates` is left the same.
    CandidateMap scoreCandidatesOf(const track &local, CandidateMap &candidates) const;
    // Every candidate of a local track, rescored, in the order it came in.
    CandidateMap scoreAllCandidates(const TrackMap &locals, const CandidateMap &candidates) const;
    // The path for one or two tracks; also sets missing track numbers and the folder's file count
    // in `locals`.
    TrackMap mergeEachTrack(TrackMap &locals, const CandidateMap &candidates) const;
    // Chooses albums until every id is covered or no group is left; returns the chosen groups.
    AlbumGroups assignAlbums(AlbumGroups groups, QList<qint64> ids);
    // One choice: the largest group, recorded when it covers an id still open, then dropped.
    void assignAlbumGroups(AlbumGroups &groups, QList<qint64> &ids);
    // The key of the longest group (the first in key order on equal lengths); null when none.
    static QString largestGroupKey(const AlbumGroups &groups);
    // The best-scoring candidate of `id` on `album` above kMinimumScore; a track with id 0 and
    // null texts when there is none.
    static track bestCandidateOnAlbum(
        const CandidateMap &candidates, const QString &album, qint64 id, const track *local = nullptr);
    // Whether `candidate` may be the recording of `local` at all: lengths within
    // kLengthToleranceSeconds when both are known, and the same album when the track has one.
    static bool fits(const track &local, const track &candidate);
    // Of the scored entries in [first, last) that `accept` lets through and that are above
    // kMinimumScore, the best; none when another entry naming a different recording scores as well.
    template <class It, class Accept> static const track *choose(It first, It last, Accept accept);

private:
    static bool sameRecording(const track &a, const track &b);

    AlbumGroups albumTracks;
    AppPaths paths;
};

template <class It, class Accept> const track *TrackMerger::choose(It first, It last, Accept accept)
{
    const track *chosen = nullptr;
    bool tied = false;
    qint64 best = kMinimumScore;
    for (It it = first; it != last; ++it) {
        if (!accept(*it))
            continue;
        if (it->score > best) {
            best = it->score;
            chosen = &*it;
            tied = false;
        } else if (chosen && it->score == best && !sameRecording(*chosen, *it)) {
            tied = true;
        }
    }
    return tied ? nullptr : chosen;
}
