#include "kivodb.h"
#include "kivodb_p.h"

#include "apppaths.h"
#include "storesql_p.h"

#include <QFileInfo>

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

const QString kRepoInsert = QStringLiteral(
    "INSERT INTO TrackRepo(filename, trackname, filepath, codec, filesize, frequency, bitrate, source, "
    "tracknumber, duration, artist_id, album_id, genre, IsPodcast, year, isAudiobook, releaseDate, Playlist, "
    "isVideo, VideoImage, folderLocation) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
    "?, ?)");

const QString kRepoUpdate = QStringLiteral(
    "UPDATE TrackRepo SET filename = ?, trackname = ?, filepath = ?, codec = ?, filesize = ?, frequency = ?, "
    "bitrate = ?, source = ?, tracknumber = ?, duration = ?, artist_id = ?, album_id = ?, genre = ?, "
    "IsPodcast = "
    "?, year = ?, isAudiobook = ?, releaseDate = ?, Playlist = ?, isVideo = ?, VideoImage = ?, "
    "folderLocation = "
    "? WHERE id = ?");

// The 21 values of a repository row. The title is stored trimmed and the folder exactly as given,
// the same forms the look-ups use.
void bindRepoValues(
    QSqlQuery &query, const track &t, qint64 artistId, qint64 albumId, const QString &videoImage)
{
    query.addBindValue(text(t.filename));
    query.addBindValue(text(t.trackname.trimmed()));
    query.addBindValue(text(t.originalPath));
    query.addBindValue(text(t.codec));
    query.addBindValue(qlonglong(t.filesize));
    query.addBindValue(qlonglong(t.frequency));
    query.addBindValue(int(t.bitrate));
    query.addBindValue(int(t.source));
    query.addBindValue(int(t.tracknumber));
    query.addBindValue(boundedSeconds(t.duration));
    query.addBindValue(artistId);
    query.addBindValue(albumId);
    query.addBindValue(text(t.genre));
    query.addBindValue(t.isPodcast);
    query.addBindValue(int(t.year));
    query.addBindValue(t.isAudiobook);
    query.addBindValue(text(t.releaseDate));
    query.addBindValue(text(t.playlist));
    query.addBindValue(t.isVideo);
    query.addBindValue(text(videoImage));
    query.addBindValue(text(t.folderLocation));
}

std::optional<qint64> repoArtist(QSqlQuery &query, const QString &name)
{
    if (!prepare(query, QStringLiteral("SELECT id FROM artistsRepo WHERE name = ? ORDER BY id DESC LIMIT 1"),
            "Looking up a cached artist"))
        return std::nullopt;
    query.addBindValue(text(name));
    const std::optional<qint64> found = findId(query, "Looking up a cached artist");
    if (!found || *found > 0)
        return found;
    if (!prepare(query, QStringLiteral("INSERT INTO artistsRepo(name) VALUES (?)"), "Caching an artist"))
        return std::nullopt;
    query.addBindValue(text(name));
    if (!exec(query, "Caching an artist"))
        return std::nullopt;
    return lastId(query, "Caching an artist");
}

// The album row of the repository cache; `newCover` is what a new row gets.
std::optional<qint64> repoAlbum(QSqlQuery &query, const track &t, qint64 artistId, const QString &newCover)
{
    if (!prepare(query,
            QStringLiteral(
                "SELECT id FROM albumsRepo WHERE name = ? COLLATE NOCASE ORDER BY id DESC LIMIT 1"),
            "Looking up a cached album"))
        return std::nullopt;
    query.addBindValue(text(t.albumname));
    const std::optional<qint64> found = findId(query, "Looking up a cached album");
    if (!found)
        return std::nullopt;
    if (*found > 0) {
        if (t.cover.contains(QLatin1String("no_artwork.png")) || !QFileInfo::exists(t.cover))
            return found;
        if (!prepare(query, QStringLiteral("UPDATE albumsRepo SET cover = ? WHERE id = ?"),
                "Updating a cached album cover"))
            return std::nullopt;
        query.addBindValue(t.albumname.startsWith(QLatin1String("Unknown")) ? noArtworkUrl() : t.cover);
        query.addBindValue(*found);
        if (!exec(query, "Updating a cached album cover"))
            return std::nullopt;
        return found;
    }
    if (!prepare(query,
            QStringLiteral("INSERT INTO albumsRepo(name, artist_id, cover, year) VALUES (?, ?, ?, ?)"),
            "Caching an album"))
        return std::nullopt;
    query.addBindValue(text(t.albumname));
    query.addBindValue(artistId);
    query.addBindValue(text(newCover));
    query.addBindValue(int(t.year));
    if (!exec(query, "Caching an album"))
        return std::nullopt;
    return lastId(query, "Caching an album");
}

// The row of the same source file and playlist: 0 when there is none.
std::optional<qint64> repoRowOfFile(QSqlQuery &query, const track &t)
{
    if (!prepare(query,
            QStringLiteral(
                "SELECT id FROM TrackRepo WHERE filepath = ? AND IFNULL(Playlist, '') = ? ORDER BY id "
                "DESC LIMIT 1"),
            "Looking up a cached track"))
        return std::nullopt;
    query.addBindValue(text(t.originalPath));
    query.addBindValue(text(t.playlist));
    return findId(query, "Looking up a cached track");
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

}  // namespace

bool kivoDB::saveToRepo(track t)
{
    // One rule for the cache, whether a scan stores a chunk or a single track comes in.
    return saveToRepoBatch({t});
}

bool kivoDB::upsertRepoTrack(track t)
{
    return inTransaction(QSqlDatabase(), true, [&](const QSqlDatabase &conn) {
        QSqlQuery query(conn);
        const std::optional<qint64> artistId = repoArtist(query, t.artistname);
        if (!artistId)
            return false;
        const std::optional<qint64> albumId = repoAlbum(query, t, *artistId, t.cover);
        if (!albumId)
            return false;

        // The file's own row first, so a repaired title updates it instead of adding another.
        std::optional<qint64> existing = qint64(0);
        if (!t.originalPath.isEmpty())
            existing = repoRowOfFile(query, t);
        if (existing && *existing == 0) {
            if (!prepare(query,
                    QStringLiteral(
                        "SELECT id FROM TrackRepo WHERE trackname = ? AND folderLocation = ? ORDER BY id "
                        "DESC LIMIT 1"),
                    "Looking up a cached track"))
                return false;
            query.addBindValue(text(t.trackname.trimmed()));
            query.addBindValue(text(t.folderLocation));
            existing = findId(query, "Looking up a cached track");
        }
        if (!existing)
            return false;

        if (!prepare(query, *existing > 0 ? kRepoUpdate : kRepoInsert, "Caching a repaired track"))
            return false;
        bindRepoValues(query, t, *artistId, *albumId, t.cover);
        if (*existing > 0)
            query.addBindValue(*existing);
        return exec(query, "Caching a repaired track");
    });
}

track kivoDB::loadRepoFolder(track t)
{
    if (t.folderLocation.trimmed().isEmpty())
        return t;
    const QSqlDatabase conn = connectionFor(QSqlDatabase());
    if (!conn.isValid())
        return t;

    std::vector<RepoRow> rows;
    {
        QSqlQuery query(conn);
        query.setForwardOnly(true);
        if (!prepare(query,
                QStringLiteral(
                    "SELECT albumname, artistname, trackname, genre, Playlist, year, duration, "
                    "tracknumber, bitrate FROM getTracksRepo WHERE folderLocation = ? ORDER BY id"),
                "Reading the cached folder"))
            return t;
        query.addBindValue(t.folderLocation);
        if (!exec(query, "Reading the cached folder"))
            return t;
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
    }

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
            trackFromRepoRecord(
                t, row.album, row.artist, row.title, row.genre, row.tracknumber, row.playlist);
        if (t.hasArtist && t.hasTitle && t.hasAlbum)
            break;
    }
    return t;
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
