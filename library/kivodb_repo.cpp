#include "kivodb.h"
#include "kivodb_p.h"

#include "apppaths.h"
#include "storesql_p.h"

#include <QFileInfo>
#include <QHash>

#include <set>
#include <vector>

using namespace storesql;
using namespace kivostore;

namespace {

// A text that says nothing: blank, or holding "unknown" in any case.
bool isMissing(const QString &value)
{
    return value.trimmed().isEmpty() || value.contains(QLatin1String("unknown"), Qt::CaseInsensitive);
}

struct RepoRow {
    QString album;
    QString artist;
    QString title;
    QString genre;
    QString playlist;
    qint64 year = 0;
    qint64 duration = 0;
    qint64 tracknumber = 0;
    qint64 bitrate = 0;
};

// The first name, in ascending order, that is not "unknown"; blank names never reach the sets.
QString firstKnown(const std::set<QString> &names)
{
    for (const QString &name : names) {
        if (!name.contains(QLatin1String("Unknown"), Qt::CaseInsensitive))
            return name;
    }
    return QString();
}

// The folder query, prepared once for all the folders one call reads.
bool prepareRepoFolder(QSqlQuery &query)
{
    query.setForwardOnly(true);
    return prepare(query,
        QStringLiteral("SELECT albumname, artistname, trackname, genre, Playlist, year, duration, "
                       "tracknumber, bitrate FROM getTracksRepo WHERE folderLocation = ? ORDER BY id"),
        "Reading the cached folder");
}

bool readRepoFolder(QSqlQuery &query, const QString &folder, std::vector<RepoRow> &rows)
{
    query.bindValue(0, folder);
    if (!exec(query, "Reading the cached folder"))
        return false;
    while (query.next()) {
        RepoRow row;
        row.album = readText(query.value(0));
        row.artist = readText(query.value(1));
        row.title = readText(query.value(2));
        row.genre = readText(query.value(3));
        row.playlist = readText(query.value(4));
        row.year = query.value(5).toLongLong();
        row.duration = qint64(boundedSeconds(query.value(6).toDouble()));
        row.tracknumber = query.value(7).toLongLong();
        row.bitrate = query.value(8).toLongLong();
        rows.push_back(row);
    }
    query.finish();
    return true;
}

track completeFromRows(kivoDB &store, track t, const std::vector<RepoRow> &rows)
{
    // What the whole folder has in common. Blank texts say nothing and are left out.
    std::set<qint64> bitrates;
    std::set<qint64> years;
    std::set<QString> albums;
    std::set<QString> genres;
    std::set<QString> artists;
    for (const RepoRow &row : rows) {
        bitrates.insert(row.bitrate);
        years.insert(row.year);
        if (!row.album.trimmed().isEmpty())
            albums.insert(row.album);
        if (!row.genre.trimmed().isEmpty())
            genres.insert(row.genre);
        if (!row.artist.trimmed().isEmpty())
            artists.insert(row.artist);
    }
    const bool oneYearAndRate = years.size() == 1 && bitrates.size() == 1;

    if (!t.hasTitle && albums.size() == 1 && oneYearAndRate
        && !t.filename.contains(QLatin1String("track"), Qt::CaseSensitive)) {
        const QFileInfo source(t.originalPath);
        QString name = source.fileName();
        name.remove(QLatin1Char('.') + source.suffix(), Qt::CaseSensitive);
        const bool titleMissing = t.trackname.trimmed().isEmpty()
            || t.trackname.contains(QLatin1String("Unknown"), Qt::CaseInsensitive);
        if (titleMissing && !name.trimmed().isEmpty()
            && !name.contains(QLatin1String("Unknown"), Qt::CaseInsensitive)
            && !name.contains(QLatin1String("track"), Qt::CaseInsensitive)) {
            t.trackname = name;
            t.hasTitle = true;
        }
    }

    if (!t.hasAlbum && genres.size() == 1 && oneYearAndRate) {
        const QString album = firstKnown(albums);
        if (!album.isEmpty()) {
            t.albumname = album;
            t.hasAlbum = true;
        }
    }

    if (!t.hasArtist && genres.size() == 1 && oneYearAndRate && albums.size() == 1) {
        const QString artist = firstKnown(artists);
        if (!artist.isEmpty() && !albums.begin()->contains(QLatin1String("Compilation"), Qt::CaseSensitive)) {
            t.artistname = artist;
            t.hasArtist = true;
        }
    }

    // Rows that describe the same piece, merged in the order they were stored.
    for (const RepoRow &row : rows) {
        const bool sameTitle = row.title == t.trackname;
        const bool byDuration = row.duration != 0 && double(row.duration) == t.duration && sameTitle;
        const bool byNumber
            = row.tracknumber != 0 && row.tracknumber == t.tracknumber && row.year == t.year && sameTitle;
        const bool byTitle
            = row.title.trimmed().size() >= 2 && t.trackname.contains(row.title, Qt::CaseInsensitive);
        const bool byAlbum = !isMissing(t.albumname) && row.album.toLower() == t.albumname.toLower()
            && row.tracknumber == t.tracknumber && sameTitle;
        if (byDuration || byNumber || byTitle || byAlbum)
            store.trackFromRepoRecord(
                t, row.album, row.artist, row.title, row.genre, row.tracknumber, row.playlist);
        if (t.hasArtist && t.hasTitle && t.hasAlbum)
            break;
    }
    return t;
}

}  // namespace

bool kivoDB::saveToRepo(track t)
{
    // One rule for the cache, whether a scan stores a chunk or a single track comes in.
    return saveToRepoBatch({t});
}

bool kivoDB::upsertRepoTrack(track t)
{
    // One rule for the cache, whether a repair saves an album or a single track.
    return upsertRepoTracks({t});
}

track kivoDB::loadRepoFolder(track t)
{
    return loadRepoFolders({t}).constFirst();
}

QList<track> kivoDB::loadRepoFolders(QList<track> tracks)
{
    const QSqlDatabase conn = connectionFor(QSqlDatabase());
    if (!conn.isValid())
        return tracks;
    QSqlQuery query(conn);
    bool prepared = false;
    // Each folder's rows are read once for all its tracks.
    QHash<QString, std::vector<RepoRow>> folders;
    for (track &t : tracks) {
        if (t.folderLocation.trimmed().isEmpty())
            continue;
        auto rows = folders.find(t.folderLocation);
        if (rows == folders.end()) {
            std::vector<RepoRow> read;
            if (!prepared && !(prepared = prepareRepoFolder(query)))
                return tracks;
            if (!readRepoFolder(query, t.folderLocation, read))
                continue;
            rows = folders.insert(t.folderLocation, std::move(read));
        }
        t = completeFromRows(*this, t, *rows);
    }
    return tracks;
}

track kivoDB::trackFromRepoRecord(track &t, QString albumName, QString artistName, QString title,
    QString genre, qint64 tracknumber, QString playlist)
{
    if (!isMissing(albumName) && !t.hasAlbum && playlist.trimmed().isEmpty()) {
        t.albumname = albumName;
        t.hasAlbum = true;
    }
    if (!isMissing(artistName) && !t.hasArtist) {
        t.artistname = artistName;
        t.hasArtist = true;
    }
    if (!isMissing(title) && !title.contains(QLatin1String("track"), Qt::CaseInsensitive) && !t.hasTitle) {
        t.trackname = title;
        t.hasTitle = true;
    }
    if (!isMissing(genre) && isMissing(t.genre))
        t.genre = genre;
    if (tracknumber != 0 && t.tracknumber == 0)
        t.tracknumber = qint16(tracknumber);
    return t;
}
