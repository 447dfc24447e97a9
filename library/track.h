#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

// One media item: a song, an audio book or podcast episode, a video, or a playlist entry. A plain
// value record passed by value through every signal, slot, container and worker result.
// Database ids and track-map keys are 64-bit so a large library never wraps.
struct track {
    bool isPodcast;
    bool isAudiobook;
    bool isVideo;
    bool missingMediaData;
    bool matchesSearch;
    bool reservedFlag;
    bool fingerprintRequested;
    bool hasArtist;
    bool hasAlbum;
    bool hasTitle;
    bool hasCover;

    qint64 id;
    qint64 artist_id;
    qint64 album_id;
    qint64 playlistId;
    qint16 reservedShort1;
    qint16 source;
    qint16 frequencyShort;
    qint16 tracknumber;
    qint16 bitrate;  // kbit/s
    qint64 frequency;  // Hz
    qint16 year;
    double duration;  // seconds
    qint64 filesize;  // bytes
    qint16 channels;
    qint16 quality;
    qint16 reservedShort3;
    qint64 score;

    QString reservedText1;
    QString playlist;
    QString codec;
    QString filepath;
    QString originalPath;
    QString filename;
    QString artistname;
    QString albumname;
    QString trackname;
    QString cover;
    QString coverdata;  // Base64
    QString coverUrl;
    QString genre;
    QString comment;
    QString releaseDate;  // "MM/dd/yyyy"
    QString reservedText3;
    QString folderLocation;
};

// The system's collection of tracks, always keyed by `id`; ascending key order is processing order.
using TrackMap = QMap<qint64, track>;

Q_DECLARE_METATYPE(track)

// Quality class of a bit rate in kbit/s: 0 up to 128 (negatives included), 1 up to 255, 2 above.
qint16 bitrateClass(qint16 bitrate);

// Registers "track", "QList<track>" and the track map with the meta-type system (idempotent).
void registerTrackMetaTypes();
