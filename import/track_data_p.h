#pragma once

// State the import's source files share; not part of the import's interface.

#include "track.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QString>

#include <functional>

class TagLibBuilder;
class VideoMetadata;
struct tagInfo;

namespace trackdata {

// The id maps, the running track number and the scan's result map belong to the whole program,
// so ids stay stable across every scan and import of one run. The controller runs one scan at a
// time; the lock only keeps a stray second caller harmless.
struct SharedState {
    QMutex mutex;
    QMap<QString, qint64> albumIds;
    qint64 lastAlbumId = 1;
    QMap<QString, qint64> artistIds;
    qint64 lastArtistId = 1;
    QMap<QString, QString> albumPersistentIds;
    TrackMap scanTracks;
    qint64 nextTrackKey = 1;
    // What one scan or import already tried per album: the cover images it asked the media
    // files for, and the answers of the iTunes artwork cache. Emptied when a scan starts.
    QHash<QString, bool> coverExtractionTried;
    QHash<QString, QString> itunesArtwork;
};

SharedState &state();
TagLibBuilder &tagBuilder();
VideoMetadata &videoReader();

// Empties the per-album memos; every scan and import starts with fresh ones.
void resetAlbumMemos();
// Where the embedded cover of an album's files is written: the album's cleaned name with ".png"
// in the artwork folder, or the file's own name when the album name cleans to nothing.
QString coverImagePath(const QString &albumName, const QString &fileName);
// Whether an image path has been asked for since the memos were emptied; asks nothing itself.
bool coverExtractionClaimed(const QString &imagePath);
// True the first time it is asked for an image path since the memos were emptied: only then is
// the media file read for its picture.
bool claimCoverExtraction(const QString &imagePath);

// What the scan takes from the one parse that reads a file's tags, besides the tags.
struct FileExtras {
    // A DRM-protected file: its tags are not read.
    bool isProtected = false;
    // Asked once the tags are read: whether the file's embedded picture is needed.
    std::function<bool(const tagInfo &)> wantsPicture;
    // Whether the picture was asked for; `picture` is empty when the file has none.
    bool pictureTaken = false;
    QByteArray picture;
};

}  // namespace trackdata
