#include "track_data.h"
#include "track_data_p.h"

#include "applog.h"
#include "apppaths.h"
#include "itunescoverart.h"
#include "taglibbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QtConcurrent>

// Covers of the tracks a scan or an iTunes import builds: embedded pictures, the iTunes artwork
// cache and, at the end, the covers later files brought and the folders' art.

using trackdata::state;

namespace trackdata {

void waitForPersistentIds()
{
    QFuture<void> loading;
    {
        QMutexLocker lock(&state().mutex);
        loading = state().persistentIdsLoading;
    }
    loading.waitForFinished();
}

}  // namespace trackdata

void track_data::setPersistentIdMap(const QMap<QString, QString> &ids)
{
    {
        QMutexLocker lock(&state().mutex);
        ++state().persistentIdsGeneration;
        state().albumPersistentIds = ids;
    }
    trackdata::resetAlbumMemos();
}

void track_data::loadItunesArtworkIds()
{
    const QString library = QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
        + QStringLiteral("/iTunes/iTunes Music Library.xml");
    if (!QFileInfo::exists(library))
        return;
    trackdata::SharedState &s = state();
    QMutexLocker lock(&s.mutex);
    const quint64 generation = ++s.persistentIdsGeneration;
    s.persistentIdsLoading = QtConcurrent::run([library, generation] {
        const QMap<QString, QString> ids = readAlbumPersistentIds(library);
        trackdata::SharedState &s = state();
        QMutexLocker lock(&s.mutex);
        if (s.persistentIdsGeneration == generation) {
            s.albumPersistentIds = ids;
            s.itunesArtwork.clear();
        }
    });
}

void track_data::coverArtForFile(track &t, QFileInfo file)
{
    coverArtFor(t, file, true);
}

void track_data::coverArtFor(track &t, const QFileInfo &file, bool askFile)
{
    const AppPaths paths;
    const QString name = paths.sanitizeName(t.albumname);
    const QString folder = AppPaths::dataLocation() + paths.artworkDir;
    if (!QDir().mkpath(folder))
        writeLog(appLogFile(), QStringLiteral("Cannot create the artwork folder: "), folder);
    const QString imagePath = trackdata::coverImagePath(t.albumname, t.filename);

    if (!t.albumname.startsWith(QLatin1String("Unknown"))) {
        // An album's cover comes from the first of its files that carries a picture: a file is
        // read for it only while the album has none.
        if (askFile)
            trackdata::tagBuilder().extractCoverArt(imagePath, file.absoluteFilePath());
        t.cover = QDir::fromNativeSeparators(imagePath);
    } else {
        t.cover = QStringLiteral("");
        t.hasCover = false;
    }

    if (!t.cover.isEmpty() && QFile::exists(t.cover)) {
        t.hasCover = true;
        return;
    }
    if (name.contains(QLatin1String("Unknown"), Qt::CaseInsensitive))
        return;

    applyAlbumArtwork(t, name);
    t.missingMediaData = true;
}

void track_data::coverArtForScan(track &t, const QFileInfo &file, AlbumCoverMemo &memo)
{
    const auto known = memo.constFind(t.albumname);
    if (known != memo.cend()) {
        t.cover = known->cover;
        t.hasCover = known->hasCover;
        t.missingMediaData = t.missingMediaData || known->missingMediaData;
        return;
    }
    // The scan has written the album's cover, if a file of it read so far carries one.
    coverArtFor(t, file, false);
    // Only a cover in place is kept: a later file of the album may still bring one. Not kept
    // either: the answer for an album whose name cleans to nothing (its image path follows the
    // file name), and iTunes artwork just written, which the album's next track finds in place as
    // its own cover.
    const bool itunesArtwork = t.hasCover && t.missingMediaData;
    if (t.hasCover && !itunesArtwork && !AppPaths().sanitizeName(t.albumname).isEmpty())
        memo.insert(t.albumname, {t.cover, t.hasCover, t.missingMediaData});
}

TrackMap track_data::finishCovers(TrackMap tracks, bool fromScan)
{
    const AppPaths paths;
    QList<qint64> coverless;
    QHash<QString, bool> inPlace;
    for (auto it = tracks.begin(); it != tracks.end(); ++it) {
        track &t = it.value();
        if (t.hasCover)
            continue;
        coverless.append(it.key());
        if (t.isVideo || !t.playlist.isEmpty() || t.albumname.startsWith(QLatin1String("Unknown"))
            || paths.sanitizeName(t.albumname).isEmpty())
            continue;
        // The cover a later file of the album brought.
        const QString image = QDir::fromNativeSeparators(paths.artworkCachePath(t.albumname));
        auto known = inPlace.constFind(image);
        if (known == inPlace.cend())
            known = inPlace.insert(image, QFileInfo::exists(image));
        if (*known) {
            t.cover = image;
            t.hasCover = true;
        }
    }
    tracks = paths.assignTrackArtwork(tracks, fromScan);
    // A track that has its cover now lacks only what its texts lack.
    for (const qint64 key : std::as_const(coverless)) {
        track &t = tracks[key];
        if (t.hasCover)
            t.missingMediaData = (fromScan && !t.hasTitle) || t.albumname.startsWith(QLatin1String("Unknown"))
                || t.artistname.startsWith(QLatin1String("Unknown"));
    }
    return tracks;
}

void track_data::applyAlbumArtwork(track &t, const QString &albumName)
{
    const QString cached = artworkForTrack(albumName);
    t.hasCover = !cached.isEmpty();
    t.cover = t.hasCover ? QDir::fromNativeSeparators(cached) : AppPaths().noArtworkUrl;
}

QString track_data::artworkForTrack(const QString &albumName)
{
    trackdata::waitForPersistentIds();
    QString persistentId;
    {
        QMutexLocker lock(&state().mutex);
        const auto found = state().albumPersistentIds.constFind(albumName);
        if (found == state().albumPersistentIds.constEnd())
            return QStringLiteral("");
        // The artwork cache is a folder walk: asked once per album and scan.
        const auto known = state().itunesArtwork.constFind(albumName);
        if (known != state().itunesArtwork.constEnd())
            return known.value();
        persistentId = found.value();
    }
    ItuneCoverArtExtracter extracter;
    const QString image = extracter.scanItunesArtwork(persistentId, albumName);
    QMutexLocker lock(&state().mutex);
    state().itunesArtwork.insert(albumName, image);
    return image;
}
