#include "localtagsearch.h"

#include "applog.h"
#include "repairfields.h"

track LocalTagSearch::search(track t)
{
    return withCachedCover(searchTags({t}).constFirst());
}

QList<track> LocalTagSearch::searchTags(QList<track> tracks)
{
    // The store fills only what a has-flag says is missing, so the flags must say the truth first;
    // and what it fills is checked again, so no placeholder ever counts as known.
    for (track &t : tracks) {
        t.fingerprintRequested = false;
        t = withHonestFlags(t);
    }
    tracks = m_db.loadRepoFolders(tracks);
    for (track &t : tracks) {
        t = withHonestTextFlags(t);
        t.score = 0;
    }
    return tracks;
}

track LocalTagSearch::withCachedCover(track t)
{
    if (!t.hasCover && t.hasAlbum) {
        const QString cover = m_artwork.find(t.albumname);
        if (!cover.isEmpty()) {
            t.cover = cover;
            t.hasCover = true;
        }
    }
    if (isComplete(t))
        writeLog(appLogFile(), QStringLiteral("Local DB- "), t.originalPath);
    return t;
}
