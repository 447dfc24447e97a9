#include "kivodb.h"
#include "kivodb_p.h"

#include "apppaths.h"
#include "storesql_p.h"

#include <QFileInfo>
#include <QHash>

using namespace storesql;
using namespace kivostore;

namespace {

// Stores tracks in the repository cache, many in one transaction: scanned tracks as saveToRepo
// does, repaired ones as upsertRepoTrack does. Inside the transaction no other connection can
// change the rows, so each genre, artist, album and year is looked up once per batch and every
// statement is prepared once.
class RepoBatchWriter
{
public:
    explicit RepoBatchWriter(QSqlDatabase db)
        : m_findGenre(db)
        , m_addGenre(db)
        , m_findArtist(db)
        , m_addArtist(db)
        , m_findAlbum(db)
        , m_addAlbum(db)
        , m_setAlbumCover(db)
        , m_findYear(db)
        , m_addYear(db)
        , m_findRow(db)
        , m_addRow(db)
        , m_findRowByTitle(db)
        , m_updateRow(db)
    { }

    // The statements a repaired track needs: no genre or year rows.
    bool prepareUpsertStatements()
    {
        return prepareArtistStatements() && prepareAlbumStatements() && prepareFindRow()
            && prepare(m_findRowByTitle,
                QStringLiteral(
                    "SELECT id FROM TrackRepo WHERE trackname = ? AND folderLocation = ? ORDER BY id "
                    "DESC LIMIT 1"),
                "Looking up a cached track")
            && prepareAddRow()
            && prepare(m_updateRow,
                QStringLiteral(
                    "UPDATE TrackRepo SET filename = ?, trackname = ?, filepath = ?, codec = ?, filesize = "
                    "?, "
                    "frequency = ?, bitrate = ?, source = ?, tracknumber = ?, duration = ?, artist_id = ?, "
                    "album_id = ?, genre = ?, IsPodcast = ?, year = ?, isAudiobook = ?, releaseDate = ?, "
                    "Playlist = ?, isVideo = ?, VideoImage = ?, folderLocation = ? WHERE id = ?"),
                "Caching a repaired track");
    }

    bool prepareStatements()
    {
        return prepare(m_findGenre,
                   QStringLiteral("SELECT id FROM genres WHERE genre = ? ORDER BY id DESC LIMIT 1"),
                   "Looking up a genre")
            && prepare(m_addGenre, QStringLiteral("INSERT INTO genres(genre) VALUES (?)"), "Adding a genre")
            && prepareArtistStatements() && prepareAlbumStatements()
            && prepare(m_findYear,
                QStringLiteral("SELECT id FROM years WHERE year = ? ORDER BY id DESC LIMIT 1"),
                "Looking up a year")
            && prepare(m_addYear, QStringLiteral("INSERT INTO years(year) VALUES (?)"), "Adding a year")
            && prepareFindRow() && prepareAddRow();
    }

    bool prepareArtistStatements()
    {
        return prepare(m_findArtist,
                   QStringLiteral("SELECT id FROM artistsRepo WHERE name = ? ORDER BY id DESC LIMIT 1"),
                   "Looking up a cached artist")
            && prepare(
                m_addArtist, QStringLiteral("INSERT INTO artistsRepo(name) VALUES (?)"), "Caching an artist");
    }

    bool prepareAlbumStatements()
    {
        return prepare(m_findAlbum,
                   QStringLiteral(
                       "SELECT id FROM albumsRepo WHERE name = ? COLLATE NOCASE ORDER BY id DESC LIMIT 1"),
                   "Looking up a cached album")
            && prepare(m_addAlbum,
                QStringLiteral("INSERT INTO albumsRepo(name, artist_id, cover, year) VALUES (?, ?, ?, ?)"),
                "Caching an album")
            && prepare(m_setAlbumCover, QStringLiteral("UPDATE albumsRepo SET cover = ? WHERE id = ?"),
                "Updating a cached album cover");
    }

    bool prepareFindRow()
    {
        return prepare(m_findRow,
            QStringLiteral(
                "SELECT id FROM TrackRepo WHERE filepath = ? AND IFNULL(Playlist, '') = ? ORDER BY id "
                "DESC LIMIT 1"),
            "Looking up a cached track");
    }

    bool prepareAddRow()
    {
        return prepare(m_addRow,
            QStringLiteral(
                "INSERT INTO TrackRepo(filename, trackname, filepath, codec, filesize, frequency, "
                "bitrate, source, tracknumber, duration, artist_id, album_id, genre, IsPodcast, year, "
                "isAudiobook, releaseDate, Playlist, isVideo, VideoImage, folderLocation) VALUES (?, "
                "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            "Caching a track");
    }

    bool write(const track &t)
    {
        if (!genre(t.genre))
            return false;
        const std::optional<qint64> artistId = artist(t.artistname);
        if (!artistId)
            return false;
        const std::optional<qint64> albumId = album(t, *artistId);
        if (!albumId || !year(t.year))
            return false;

        m_findRow.bindValue(0, text(t.originalPath));
        m_findRow.bindValue(1, text(t.playlist));
        const std::optional<qint64> existing = findId(m_findRow, "Looking up a cached track");
        if (!existing)
            return false;
        if (*existing > 0)
            return true;  // the file is cached under this playlist already

        bindRow(m_addRow, t, *artistId, *albumId, t.isVideo ? t.cover : QStringLiteral(""));
        return exec(m_addRow, "Caching a track");
    }

    // A repaired track: the row of the same source file and playlist (without a source path, of
    // the same title and folder) takes its values, else a row is added. A new album takes the
    // track's cover as it is; no genre or year row is made.
    bool upsert(const track &t)
    {
        const std::optional<qint64> artistId = artist(t.artistname);
        if (!artistId)
            return false;
        const std::optional<qint64> albumId = album(t, *artistId, true);
        if (!albumId)
            return false;

        std::optional<qint64> existing = qint64(0);
        if (!t.originalPath.isEmpty()) {
            m_findRow.bindValue(0, text(t.originalPath));
            m_findRow.bindValue(1, text(t.playlist));
            existing = findId(m_findRow, "Looking up a cached track");
        }
        if (existing && *existing == 0) {
            m_findRowByTitle.bindValue(0, text(t.trackname.trimmed()));
            m_findRowByTitle.bindValue(1, text(t.folderLocation));
            existing = findId(m_findRowByTitle, "Looking up a cached track");
        }
        if (!existing)
            return false;
        if (*existing == 0) {
            bindRow(m_addRow, t, *artistId, *albumId, t.cover);
            return exec(m_addRow, "Caching a repaired track");
        }
        bindRow(m_updateRow, t, *artistId, *albumId, t.cover);
        m_updateRow.bindValue(21, *existing);
        return exec(m_updateRow, "Caching a repaired track");
    }

private:
    // The 21 values of a repository row. The title is stored trimmed and the folder exactly as
    // given, the same forms the look-ups use.
    static void bindRow(
        QSqlQuery &query, const track &t, qint64 artistId, qint64 albumId, const QString &videoImage)
    {
        const QVariant values[] = {text(t.filename), text(t.trackname.trimmed()), text(t.originalPath),
            text(t.codec), QVariant(qlonglong(t.filesize)), QVariant(qlonglong(t.frequency)),
            QVariant(int(t.bitrate)), QVariant(int(t.source)), QVariant(int(t.tracknumber)),
            QVariant(boundedSeconds(t.duration)), QVariant(artistId), QVariant(albumId), text(t.genre),
            QVariant(t.isPodcast), QVariant(int(t.year)), QVariant(t.isAudiobook), text(t.releaseDate),
            text(t.playlist), QVariant(t.isVideo), text(videoImage), text(t.folderLocation)};
        for (int i = 0; i < int(std::size(values)); ++i)
            query.bindValue(i, values[i]);
    }

    // A prepared look-up, then the insert when it found nothing.
    static std::optional<qint64> findOrAdd(
        QSqlQuery &find, QSqlQuery &add, const QVariant &value, const char *findWhat, const char *addWhat)
    {
        find.bindValue(0, value);
        const std::optional<qint64> found = findId(find, findWhat);
        if (!found || *found > 0)
            return found;
        add.bindValue(0, value);
        if (!exec(add, addWhat))
            return std::nullopt;
        return lastId(add, addWhat);
    }

    bool genre(const QString &name)
    {
        const QString key = text(name).toString();
        if (m_genres.contains(key))
            return true;
        if (!findOrAdd(m_findGenre, m_addGenre, key, "Looking up a genre", "Adding a genre"))
            return false;
        m_genres.insert(key);
        return true;
    }

    std::optional<qint64> artist(const QString &name)
    {
        const QString key = text(name).toString();
        if (const auto it = m_artists.constFind(key); it != m_artists.cend())
            return *it;
        const std::optional<qint64> id
            = findOrAdd(m_findArtist, m_addArtist, key, "Looking up a cached artist", "Caching an artist");
        if (id)
            m_artists.insert(key, *id);
        return id;
    }

    bool year(int value)
    {
        if (m_years.contains(value))
            return true;
        if (!findOrAdd(m_findYear, m_addYear, value, "Looking up a year", "Adding a year"))
            return false;
        m_years.insert(value);
        return true;
    }

    // `coverAsIs`: a new album takes the track's cover unchecked (a repaired track's cover is the
    // one the repair chose), else only when it is the album's own artwork.
    std::optional<qint64> album(const track &t, qint64 artistId, bool coverAsIs = false)
    {
        const QString key = asciiFolded(text(t.albumname).toString());
        qint64 id = 0;
        if (const auto it = m_albums.constFind(key); it != m_albums.cend()) {
            id = *it;
        } else {
            m_findAlbum.bindValue(0, text(t.albumname));
            const std::optional<qint64> found = findId(m_findAlbum, "Looking up a cached album");
            if (!found)
                return std::nullopt;
            if (*found == 0) {
                m_addAlbum.bindValue(0, text(t.albumname));
                m_addAlbum.bindValue(1, artistId);
                m_addAlbum.bindValue(
                    2, text(coverAsIs || coverNamesAlbum(t.cover, t.albumname) ? t.cover : noArtworkUrl()));
                m_addAlbum.bindValue(3, int(t.year));
                if (!exec(m_addAlbum, "Caching an album"))
                    return std::nullopt;
                const std::optional<qint64> added = lastId(m_addAlbum, "Caching an album");
                if (added)
                    m_albums.insert(key, *added);
                return added;
            }
            id = *found;
            m_albums.insert(key, id);
        }
        // An existing album takes a cover that exists. The same cover offered again in a row
        // changes nothing, so it is written once.
        if (t.cover.contains(QLatin1String("no_artwork.png")))
            return id;
        const QString newCover = t.albumname.startsWith(QLatin1String("Unknown")) ? noArtworkUrl() : t.cover;
        const auto last = m_lastCover.constFind(id);
        if (last != m_lastCover.cend() && *last == newCover)
            return id;
        if (!QFileInfo::exists(t.cover))
            return id;
        m_setAlbumCover.bindValue(0, newCover);
        m_setAlbumCover.bindValue(1, id);
        if (!exec(m_setAlbumCover, "Updating a cached album cover"))
            return std::nullopt;
        m_lastCover.insert(id, newCover);
        return id;
    }

    QSqlQuery m_findGenre, m_addGenre;
    QSqlQuery m_findArtist, m_addArtist;
    QSqlQuery m_findAlbum, m_addAlbum, m_setAlbumCover;
    QSqlQuery m_findYear, m_addYear;
    QSqlQuery m_findRow, m_addRow;
    QSqlQuery m_findRowByTitle, m_updateRow;
    QSet<QString> m_genres;
    QHash<QString, qint64> m_artists;
    QHash<QString, qint64> m_albums;
    QSet<int> m_years;
    QHash<qint64, QString> m_lastCover;
};

}  // namespace

bool kivoDB::saveToRepoBatch(const QList<track> &tracks)
{
    if (tracks.isEmpty())
        return true;
    return inTransaction(QSqlDatabase(), true, [&](const QSqlDatabase &conn) {
        RepoBatchWriter writer(conn);
        if (!writer.prepareStatements())
            return false;
        for (const track &t : tracks) {
            if (!writer.write(t))
                return false;
        }
        return true;
    });
}

bool kivoDB::upsertRepoTracks(const QList<track> &tracks)
{
    if (tracks.isEmpty())
        return true;
    return inTransaction(QSqlDatabase(), true, [&](const QSqlDatabase &conn) {
        RepoBatchWriter writer(conn);
        if (!writer.prepareUpsertStatements())
            return false;
        for (const track &t : tracks) {
            if (!writer.upsert(t))
                return false;
        }
        return true;
    });
}
