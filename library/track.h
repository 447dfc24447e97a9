#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

// One media item: a song, an audio book or podcast episode, a video, or a playlist entry. A plain
// value record passed by value through every signal, slot, container and worker result.
// Database ids and track-map keys are 64-bit so a large library never wraps. Every flag and number
// starts at zero even when a record is declared without an initialiser.
struct track {
    bool isPodcast = false;
    bool isAudiobook = false;
    bool isVideo = false;
    bool missingMediaData = false;
    bool matchesSearch = false;
    bool reservedFlag = false;
    bool fingerprintRequested = false;
    bool hasArtist = false;
    bool hasAlbum = false;
    bool hasTitle = false;
    bool hasCover = false;

    qint64 id = 0;
    qint64 artist_id = 0;
    qint64 album_id = 0;
    qint64 playlistId = 0;
    qint16 reservedShort1 = 0;  // the disc number
    qint16 source = 0;
    qint16 frequencyShort = 0;
    qint16 tracknumber = 0;
    qint16 bitrate = 0;  // kbit/s
    qint64 frequency = 0;  // Hz
    qint16 year = 0;
    double duration = 0;  // seconds
    qint64 filesize = 0;  // bytes
    qint16 channels = 0;
    qint16 quality = 0;
    qint16 reservedShort3 = 0;
    qint64 score = 0;

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
