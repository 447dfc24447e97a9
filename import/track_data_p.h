#pragma once

// State the import's source files share; not part of the import's interface.

#include "track.h"

#include <QByteArray>
#include <QFuture>
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
    // The reading of albumPersistentIds from the iTunes library when the controller was built;
    // a map set since (a newer generation) is not replaced by it.
    QFuture<void> persistentIdsLoading;
    quint64 persistentIdsGeneration = 0;
    TrackMap scanTracks;
    qint64 nextTrackKey = 1;
    // What one scan already settled per album: the cover images it gave a file carrying a
    // picture to write, and the answers of the iTunes artwork cache. Emptied when a scan or an
    // import starts.
    QHash<QString, bool> coverExtractionTried;
    QHash<QString, QString> itunesArtwork;
};

SharedState &state();
TagLibBuilder &tagBuilder();
VideoMetadata &videoReader();

// Returns once the album persistent ids read when the controller was built are in place.
void waitForPersistentIds();
// Empties the per-album memos; every scan and import starts with fresh ones.
void resetAlbumMemos();
// Where the embedded cover of an album's files is written: the album's cleaned name with ".png"
// in the artwork folder, or the file's own name when the album name cleans to nothing.
QString coverImagePath(const QString &albumName, const QString &fileName);
// Whether a file was chosen to write an image path since the memos were emptied; changes nothing.
bool coverExtractionClaimed(const QString &imagePath);
// True the first time it is asked for an image path since the memos were emptied: only then is
// the file that carries the picture chosen to write it.
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
