#include "track_data.h"
#include "track_data_p.h"

#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "taglibbuilder.h"
#include "videometadata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

constexpr qint64 kMinimumTrackBytes = 102400;
const QString kPlaylistCover = QStringLiteral("qrc:///resources/photos/playlist.png");

// The kind lists of the library; every other named playlist is the user's own.
bool isKindList(const QString &name)
{
    return name == QLatin1String("Library") || name == QLatin1String("Books")
        || name == QLatin1String("Movies") || name == QLatin1String("Music")
        || name == QLatin1String("Podcasts");
}

bool isIgnored(const QStringList &ignored, const QString &name)
{
    for (const QString &entry : ignored) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

}  // namespace

TrackMap track_data::importItunes(QList<iTunedata> playlists, TrackMap map)
{
    trackdata::SharedState &shared = trackdata::state();
    trackdata::resetAlbumMemos();
    AppPaths paths;
    paths.resetFolderAlbumCounts();
    protectedFileList.clear();
    skipped = ScanSkips();
    stopped = false;

    const bool storeOpen = Database::storeIsOpen();
    kivoDB store;
    const QString artworkFolder = AppPaths::dataLocation() + paths.artworkDir;
    if (!QDir().mkpath(artworkFolder))
        writeLog(appLogFile(), QStringLiteral("Cannot create the artwork folder: "), artworkFolder);

    // Media files already read for their picture in this import.
    QSet<QString> askedForPicture;
    for (const iTunedata &playlist : std::as_const(playlists)) {
        if (cancelSearch)
            break;
        // A library exported in another language names its own playlists in that language; their
        // keys tell what they are.
        const QString kind = playlist.builtIn.isEmpty() ? playlist.name : playlist.builtIn;
        if (isIgnored(ignoredPlaylists, playlist.name) || isIgnored(ignoredPlaylists, kind))
            continue;
        const bool podcast = kind == QLatin1String("Podcasts");
        const bool audiobook = kind == QLatin1String("Books");
        const QString playlistName
            = (!playlist.name.isEmpty() && !isKindList(kind)) ? playlist.name : QStringLiteral("");

        for (const track &entry : playlist.tracks) {
            // A stop request ends the import before its next entry, as it ends a folder scan.
            if (cancelSearch)
                break;
            track t = paths.clearTrack(track{});
            const QFileInfo file(entry.filepath);
            t.folderLocation = file.absoluteDir().path();
            const qint64 size = file.size();
            if (size <= kMinimumTrackBytes) {
                ++(file.exists() ? skipped.tooSmall : skipped.missingEntries);
                writeLog(appLogFile(),
                    file.exists() ? QStringLiteral("iTunes entry skipped, too small to be a track: ")
                                  : QStringLiteral("iTunes entry skipped, its file is missing: "),
                    entry.filepath);
                continue;
            }
            t.filesize = size;

            QString artworkName = paths.sanitizeName(entry.albumname);
            if (artworkName.isEmpty())
                artworkName = paths.sanitizeName(entry.filename);
            const QString coverPath = artworkFolder + QLatin1Char('/') + artworkName + QStringLiteral(".png");
            t.cover = QDir::fromNativeSeparators(coverPath);
            // An album's cover comes from the first of its files that carries a picture: a file is
            // read for it only while the album has none. A name that cleans to nothing would
            // share one nameless image with every such album.
            if (!artworkName.isEmpty() && !artworkName.startsWith(QLatin1String("Unknown"))
                && !QFileInfo::exists(coverPath) && !askedForPicture.contains(entry.filepath)) {
                askedForPicture.insert(entry.filepath);
                trackdata::tagBuilder().extractCoverArt(coverPath, entry.filepath);
            }

            const QString albumKey = playlistName.isEmpty() ? entry.albumname : playlistName;
            if (QFile::exists(t.cover)) {
                t.hasCover = true;
            } else {
                applyAlbumArtwork(t, artworkName);
            }

            // Taken, then raised, as track building does: a scan after an import never repeats
            // the import's last key.
            const qint64 key = shared.nextTrackKey++;
            {
                QMutexLocker lock(&shared.mutex);
                t.album_id = assignNameId(shared.albumIds, albumKey, shared.lastAlbumId);
                t.artist_id = assignNameId(shared.artistIds, entry.artistname, shared.lastArtistId);
            }
            t.albumname = albumKey.trimmed();
            t.artistname = entry.artistname;
            t.playlist = playlistName;
            t.playlistId = playlistName.isEmpty() ? 0 : t.album_id;
            t.bitrate = entry.bitrate;
            t.quality = bitrateClass(entry.bitrate);
            if (!playlistName.isEmpty()) {
                t.cover = kPlaylistCover;
                t.hasCover = true;
            }
            t.duration = entry.duration;
            t.filename = entry.filename;
            t.genre = entry.genre;
            t.isAudiobook = audiobook;
            t.isPodcast = podcast;
            t.isVideo = entry.isVideo;
            if (playlistName.isEmpty())
                paths.countFolderAlbumTrack(t.folderLocation, t.album_id);
            if (entry.isVideo) {
                const track video = trackdata::videoReader().readVideoInfo(entry.filepath, 0);
                if (t.duration == 0.0)
                    t.duration = video.duration;
                t.cover = QDir::fromNativeSeparators(video.cover);
            }
            t.releaseDate = entry.releaseDate;
            t.trackname = entry.trackname.trimmed();
            t.frequency = entry.frequency;
            t.reservedShort1 = entry.reservedShort1;
            t.frequencyShort = entry.frequencyShort;
            t.tracknumber = entry.tracknumber;
            t.year = entry.year;
            t.matchesSearch = entry.matchesSearch;
            t.source = 1;
            t.id = key;
            t.filepath = entry.filepath;
            t.originalPath = entry.filepath;
            t.hasArtist = !entry.artistname.startsWith(QLatin1String("Unknown"));
            t.hasAlbum = !entry.albumname.startsWith(QLatin1String("Unknown"));
            t.hasTitle = !entry.trackname.startsWith(QLatin1String("Unknown"));
            t.missingMediaData = t.albumname.startsWith(QLatin1String("Unknown"))
                || t.artistname.startsWith(QLatin1String("Unknown"))
                || t.cover.contains(QLatin1String("no_artwork.png"));
            map.insert(key, t);

            // The cache keeps a playlist member apart from the album it may share a name with.
            if (t.albumname == t.playlist) {
                t.hasAlbum = false;
                t.albumname = QStringLiteral("Unknown ablum");
            }
            if (storeOpen)
                store.saveToRepo(t);
        }
    }
    stopped = cancelSearch;
    return finishCovers(map, false);
}
