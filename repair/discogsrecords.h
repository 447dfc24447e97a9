#pragma once

#include <QString>
#include <QtGlobal>

// Plain records of the Discogs client.

// One accepted result of a database search.
struct DiscogsSearchResult {
    QString title;  // "Artist - Release title"
    QString id;  // the release id
    QString thumb;  // the cover image address
    QString genre;  // the result's genres joined with ","
    qint16 year = 0;
};

// One tracklist entry of a release; every entry of one release carries the release's artist,
// album, genre and year.
struct DiscogsReleaseInfo {
    qint16 trackNumber = 0;
    QString title;
    qint64 duration = 0;  // whole seconds; 0 when not known
    QString artist;
    QString album;
    QString genre;
    qint16 year = 0;
};

// How well one search result fits the track asked about, from 0 (not at all) to 7.
struct DiscogsCandidate {
    QString album;
    QString artist;
    QString releaseId;
    QString coverUrl;
    qint64 level = 0;
};
