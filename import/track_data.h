#pragma once

#include "ituneslibrary.h"
#include "track.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tstring.h>

#include <atomic>

namespace trackdata {
struct FileExtras;
}

// The tags and audio properties of one media file, as the import reads them.
struct tagInfo {
    TagLib::String title;
    TagLib::String artist;
    TagLib::String album;
    TagLib::String genre;
    TagLib::String comment;
    unsigned int track = 0;
    unsigned int disc = 0;
    unsigned int year = 0;
    int bitrate = 0;  // kbit/s
    int channels = 0;
    unsigned int length = 0;  // whole seconds
    unsigned int sampleRate = 0;  // Hz
};

// What a scan or an iTunes import left out, by reason; the log names each file.
struct ScanSkips {
    int tooSmall = 0;  // media files of 100 KB or less
    int unreadable = 0;  // no reader accepts them, or a video without a stream
    int protectedFiles = 0;
    int videosNotPlayed = 0;  // videos, when the car plays none
    int missingEntries = 0;  // playlist or iTunes entries whose file is not here
    int unreadableFolders = 0;
};

// Texts cross between TagLib and Qt as full Unicode.
inline QString toQString(const TagLib::String &text)
{
    return TStringToQString(text);
}
inline TagLib::String toTString(const QString &text)
{
    return QStringToTString(text);
}

// The import engine: tells media files apart, reads their tags and turns them into `track`
// records with their covers. Ids and the scan's result map are shared by every object of the
// class, so ids stay stable across all scans of one run.
class track_data
{
public:
    track_data();
    ~track_data();
    track_data(const track_data &) = delete;
    track_data &operator=(const track_data &) = delete;

    // Stop request for a running scan: written by the GUI thread, read by the scan's thread.
    std::atomic_bool cancelSearch{false};
    QStringList protectedFileList;
    QStringList ignoredPlaylists;
    // What the last scan or import left out, and whether a stop request ended it early. Written
    // by the scan's thread; read once its result has been handed over.
    ScanSkips skipped;
    bool stopped = false;

    // Whether the chosen in-car system plays video. The controller copies the system record's
    // video flag here before it calls videoSupported(); the import does not reach the record.
    bool systemVideoSupported = false;

    static bool isAudioFile(const QString &suffix);
    static bool isVideoFile(const QString &suffix);
    // A video suffix, whether or not the chosen system plays video.
    static bool isVideoSuffix(const QString &suffix);
    static bool isPlaylistFile(const QString &suffix);

    // Takes systemVideoSupported as the import's video switch and returns it.
    bool videoSupported();
    QStringList protectedFiles() const;
    void clearProtectedFiles();

    static void setPersistentIdMap(const QMap<QString, QString> &ids);
    // Reads, on a pool thread, which album the iTunes library's artwork belongs to, from the
    // library file in the music folder, so a folder scan finds iTunes artwork before any iTunes
    // import; the artwork lookup waits for it. The controller calls it when it is built.
    static void loadItunesArtworkIds();
    static qint64 assignNameId(QMap<QString, qint64> &ids, const QString &name, qint64 &counter);

    static QString fileToBase64(const QString &path);
    static void saveCoverImage(const QString &path, const QString &base64);

    // Fills `info` from the file; false (with a log line) when no reader accepts it.
    bool readFileTags(tagInfo &info, const QString &path);
    // True, and the path appended to protectedFileList, for a DRM-protected file.
    bool isProtected(const QString &path);
    // The protection test alone, touching no state: safe on any thread.
    static bool isProtectedFile(const QString &path);

    template <class TagType, class PropertiesType>
    static void readTags(tagInfo &info, const TagType *tag, const PropertiesType *properties)
    {
        copyTag(info, tag);
        copyProperties(info, properties);
    }
    static void readTags(tagInfo &info, TagLib::FileRef ref);

    // Fills `t` from the tags, gives it the key `nextTrackKey` (then raised by one), puts a copy
    // into the scan's result map, counts it per folder and album and, when a library store is
    // open, stores it in the repository cache.
    void buildTrack(qint64 &nextTrackKey, track &t, tagInfo info, const QFileInfo &file, bool fromPlaylist,
        const QString &playlistName, bool isVideo, bool isAudio);
    void applyTagInfo(track &t, tagInfo info);
    void coverArtForFile(track &t, QFileInfo file);
    QString artworkForTrack(const QString &albumName);
    // The album's cached or iTunes artwork as the track's cover, else the no-artwork image.
    void applyAlbumArtwork(track &t, const QString &albumName);

    // The scan's result map: every built track under its id.
    static TrackMap scanTrackMap();
    static void clearScanTrackMap();

    // Scans the tree below `folder` and the playlists in it; returns the tracks built, keyed in
    // the order the walk met them. Never follows a link to a folder. A stop request (cancelSearch)
    // ends the walk before its next entry; the tracks found until then are returned and cached.
    TrackMap scanFolder(const QDir &folder);
    // Turns the playlists of the iTunes library into tracks added to `map`. A stop request ends
    // it before its next entry.
    TrackMap importItunes(QList<iTunedata> playlists, TrackMap map);

private:
    // The walk of one folder scan, with its read-ahead and its repository writer.
    class FolderScan;

    // The cover a track of an album got during one scan, for the album's other tracks.
    struct AlbumCover {
        QString cover;
        bool hasCover = false;
        bool missingMediaData = false;
    };
    using AlbumCoverMemo = QHash<QString, AlbumCover>;

    // How the scan hands work to track building: the video's length and thumbnail read ahead
    // (on another thread), a list collecting repository rows to store in one go, and the covers
    // its albums got so far.
    struct BuildOptions {
        const track *video = nullptr;
        QList<track> *repoBatch = nullptr;
        AlbumCoverMemo *albumCovers = nullptr;
    };
    void buildTrackWith(qint64 &nextTrackKey, track &t, tagInfo info, const QFileInfo &file,
        bool fromPlaylist, const QString &playlistName, bool isVideo, bool isAudio,
        const BuildOptions &options);

    // readFileTags, and with `extras` also the protection test and the embedded picture from the
    // same parse. A protected file is reported in `extras` and its tags are not read (false, no
    // log line).
    static bool readFileWith(tagInfo &info, const QString &path, trackdata::FileExtras *extras);
    // readFileWith as far as TagLib (and, for raw AAC, ffprobe) reads the file.
    static bool readTagLib(tagInfo &info, const QString &path, trackdata::FileExtras *extras);

    // coverArtForFile, reading the media file for its picture only when askFile is set.
    void coverArtFor(track &t, const QFileInfo &file, bool askFile);
    // The end of a scan (fromScan) or an iTunes import: gives the tracks built before a later file
    // of their album brought its cover that cover, then runs the folder-art pass; a track that
    // thus gets a cover is no longer marked as missing data for it.
    static TrackMap finishCovers(TrackMap tracks, bool fromScan);

    // coverArtForFile for a freshly cleared track of a scan, which has written the covers of the
    // albums its files brought so far; the file is not read again. An album's cover in place is
    // remembered for its other tracks.
    void coverArtForScan(track &t, const QFileInfo &file, AlbumCoverMemo &memo);

    static void copyTag(tagInfo &info, const TagLib::Tag *tag);
    static void copyProperties(tagInfo &info, const TagLib::AudioProperties *properties);
};
