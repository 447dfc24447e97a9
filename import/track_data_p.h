#pragma once

// State the import's source files share; not part of the import's interface.

#include "track.h"

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QString>

class TagLibBuilder;
class VideoMetadata;

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
// True the first time it is asked for an image path since the memos were emptied: only then is
// the media file read for its picture.
bool claimCoverExtraction(const QString &imagePath);

}  // namespace trackdata
