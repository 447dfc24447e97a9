#pragma once

#include "track.h"

#include <QString>
#include <string>

// The shared path constants and default texts, with the small helpers every subsystem calls.
// Each user holds its own instance; all instances hold the same values.
class AppPaths
{
public:
    AppPaths();

    void unknownDefaults();

    // The per-user data location ($XDG_DATA_HOME), without the program's own folder.
    static QString dataLocation();

    // A copy of `t` with every flag and number 0 and every text "" except `coverUrl`.
    track clearTrack(track t) const;

    // The name without the characters of "[!/\\:*?<>|'+.()_&$%^#@~]" and double quotes, trimmed.
    QString sanitizeName(const QString &name) const;
    // "hh:mm:ss.xx" as seconds; 0 with fewer than three parts.
    double durationToSeconds(const QString &text) const;

    QString artworkDir;
    QString videoArtworkDir;
    QString downloadArtworkDir;
    QString noArtworkUrl;
    QString dataDir;
    QString spare1;
    QString discogsSearchUrl;
    QString spare2;
    QString unknown;
    QString unknownAlbum;
    QString unknownArtist;
    QString unknownCodec;
    QString unknownComment;
    QString unknownFilename;
    QString unknownGenre;
    QString unknownPath;
    QString unknownSong;
};
