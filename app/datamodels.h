#pragma once

#include "modelproperty.h"

#include <QObject>
#include <QPointer>
#include <QString>

// The objects QML shows in its lists, each field a KIVO_MODEL_PROPERTY.

class ArtistDataModel : public QObject
{
    Q_OBJECT
    KIVO_MODEL_PROPERTY(qint64, artistid, setArtistid)
    KIVO_MODEL_PROPERTY(QString, artistname, setArtistname)
    KIVO_MODEL_PROPERTY(QString, cover, setCover)
    KIVO_MODEL_PROPERTY(int, albumCount, setAlbumCount)
    KIVO_MODEL_PROPERTY(int, trackCount, setTrackCount)
public:
    using QObject::QObject;
};

class AlbumDataModel : public QObject
{
    Q_OBJECT
    KIVO_MODEL_PROPERTY(qint64, albumid, setAlbumid)
    KIVO_MODEL_PROPERTY(QString, albumname, setAlbumname)
    KIVO_MODEL_PROPERTY(QString, artistname, setArtistname)
    KIVO_MODEL_PROPERTY(QString, cover, setCover)
    KIVO_MODEL_PROPERTY(int, year, setYear)
    KIVO_MODEL_PROPERTY(int, trackCount, setTrackCount)
public:
    using QObject::QObject;
};

class TrackDataModel : public QObject
{
    Q_OBJECT
    KIVO_MODEL_PROPERTY(qint64, trackid, setTrackid)
    KIVO_MODEL_PROPERTY(QString, trackname, setTrackname)
    KIVO_MODEL_PROPERTY(QString, artistname, setArtistname)
    KIVO_MODEL_PROPERTY(QString, albumname, setAlbumname)
    KIVO_MODEL_PROPERTY(QString, genre, setGenre)
    KIVO_MODEL_PROPERTY(QString, duration, setDuration)
    KIVO_MODEL_PROPERTY(QString, cover, setCover)
    KIVO_MODEL_PROPERTY(QString, filepath, setFilepath)
    KIVO_MODEL_PROPERTY(QString, codec, setCodec)
    KIVO_MODEL_PROPERTY(QString, playlist, setPlaylist)
    KIVO_MODEL_PROPERTY(int, quality, setQuality)
    KIVO_MODEL_PROPERTY(bool, isVideo, setIsVideo)
    KIVO_MODEL_PROPERTY(bool, isPodcast, setIsPodcast)
    KIVO_MODEL_PROPERTY(bool, isAudiobook, setIsAudiobook)
    KIVO_MODEL_PROPERTY(bool, selected, setSelected)
    KIVO_MODEL_PROPERTY(QString, subtitle, setSubtitle)  // videos only: no library folder in it
    KIVO_MODEL_PROPERTY(bool, inLibrary, setInLibrary)  // a browser row the library already holds
public:
    using QObject::QObject;
};

// One playlist of the library.
class TrackList : public QObject
{
    Q_OBJECT
    KIVO_MODEL_PROPERTY(qint64, playlistid, setPlaylistid)
    KIVO_MODEL_PROPERTY(QString, name, setName)
    KIVO_MODEL_PROPERTY(QString, cover, setCover)
    KIVO_MODEL_PROPERTY(int, trackCount, setTrackCount)
    // Every entry of the playlist is ticked for the car; set through the controller.
    KIVO_MODEL_PROPERTY(bool, selected, setSelected)
public:
    using QObject::QObject;
};

// One track of the artist, album or playlist the user opened.
class DetailedDataModel : public QObject
{
    Q_OBJECT
    KIVO_MODEL_PROPERTY(qint64, trackid, setTrackid)
    KIVO_MODEL_PROPERTY(QString, trackname, setTrackname)
    KIVO_MODEL_PROPERTY(QString, subtitle, setSubtitle)
    KIVO_MODEL_PROPERTY(int, tracknumber, setTracknumber)
    KIVO_MODEL_PROPERTY(QString, duration, setDuration)
    KIVO_MODEL_PROPERTY(QString, cover, setCover)
    // The object whose tick this line shows and sets: the library's own row for a track of an
    // artist or album, a tick of the entry's own for a playlist entry.
    Q_PROPERTY(QObject *row READ row CONSTANT)
public:
    explicit DetailedDataModel(QObject *row = nullptr, QObject *parent = nullptr)
        : QObject(parent)
        , m_row(row)
    { }
    QObject *row() const { return m_row; }

private:
    QPointer<QObject> m_row;
};

// The video optimiser as the window shows it: the file in hand, how far it is, the time left.
class VideoOptimisationModel : public QObject
{
    Q_OBJECT
    KIVO_MODEL_PROPERTY(bool, running, setRunning)
    KIVO_MODEL_PROPERTY(QString, fileName, setFileName)
    KIVO_MODEL_PROPERTY(int, progress, setProgress)  // of the file in hand, 0 to 100
    KIVO_MODEL_PROPERTY(qint64, secondsLeft, setSecondsLeft)  // for the whole queue; -1 unknown
    KIVO_MODEL_PROPERTY(int, done, setDone)  // videos finished, set aside or skipped
    KIVO_MODEL_PROPERTY(int, total, setTotal)
public:
    using QObject::QObject;
};
