#pragma once

#include "artworkindex.h"
#include "kivodb.h"
#include "track.h"

// The first source of the repair run ("LOCAL"): completes a track from what the repository cache
// knows about the other files of its folder and from a cover already cached for its album. No
// network, and the answer comes inside the call.
class LocalTagSearch
{
public:
    static constexpr qint8 kSourceId = 1;

    // The track completed where the repository rows of its folder allow and given its album's
    // cached cover, its has-flags telling what is known, its score 0. Only missing values are filled.
    track search(track t);

    // The two halves of search(), for a run that reads ahead. The repository part for many tracks,
    // each folder's rows read once:
    QList<track> searchTags(QList<track> tracks);
    // and the cached cover, looked for when the track is taken, so a cover cached meanwhile counts.
    track withCachedCover(track t);

    // The cover index the search uses; the repair run's cover step shares it.
    ArtworkIndex &artwork() { return m_artwork; }

private:
    kivoDB m_db;
    ArtworkIndex m_artwork;
};
