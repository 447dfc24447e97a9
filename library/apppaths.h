#pragma once

#include "namefit.h"
#include "track.h"

#include <QString>
#include <string>

// True when the text is not empty and every character is an ASCII decimal digit.
bool isAllDigits(const std::string &text);

// The longest a media file is taken to last; longer figures come from damaged or crafted files.
constexpr double kMaxMediaSeconds = 7 * 24 * 3600.0;
// A duration as the program keeps it: finite, at least 0 and at most kMaxMediaSeconds; anything
// else (a negative, "nan", "inf" or an absurd figure) counts as unknown, 0.
double boundedSeconds(double seconds);

// The folder an album's files go into, in the library and on the drive: the name without the
// characters of "[!/\\:*?<>|+.]" and double quotes, trimmed; "Unknown Album" when nothing is left.
// A name too long for the file system (`units`) is cut and marked (fitNameMarked).
QString albumFolderName(const QString &album, NameUnits units = NameUnits::Utf8Bytes);

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
    // "hh:mm:ss.xx" as seconds; 0 with fewer than three parts, and bounded as boundedSeconds.
    double durationToSeconds(const QString &text) const;

    // The number a name starts with ("07 Title" -> 7) when it is followed by a blank and is at
    // most 50; 0 otherwise.
    qint64 splitLeadingNumber(const QString &name) const;
    // 1 "LOCAL", 2 "MUSICBRAINZ", 3 "DISCOGS", 4 "FINGUREPRINT"; a null string for any other id.
    QString apiSourceName(qint8 source) const;
    // Audio files directly in the folder (sub-folders are not searched).
    int countAudioFiles(const QString &folder) const;

    // Per-folder album counts of the import running now: reset at its start, one count per track
    // built, read by assignTrackArtwork at its end. Process-wide and guarded by a mutex.
    void resetFolderAlbumCounts();
    void countFolderAlbumTrack(const QString &folder, qint64 albumId);
    // More than one album in the folder, or (unless skipFileCount) one album whose counted tracks
    // differ from the audio files in the folder.
    bool isMixedFolder(const QString &folder, bool skipFileCount) const;

    // The cover file for a name in the artwork cache: <data>/<artworkDir>/<sanitized name>.png; a
    // name too long for a file name is cut and marked (fitNameMarked).
    QString artworkCachePath(const QString &name) const;
    // Copies "folder.jpg" (else "folder.png") of the folder to target + ".png" unless a file is
    // there already; the path of the cover file, or "" when there is none.
    QString copyFolderArt(const QString &folder, const QString &target) const;
    // Gives the folder artwork to the tracks of single-album folders.
    TrackMap assignTrackArtwork(TrackMap tracks, bool skipFileCount) const;

    // 1 for a 32-bit program on a 64-bit host (only on Windows), else 0.
    int isWow64() const;

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
