#include "kivodb.h"

#include "filecopy.h"
#include "kivodb_p.h"

#include "applog.h"
#include "apppaths.h"
#include "coverfiles.h"
#include "database.h"
#include "storesql_p.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSqlRecord>
#include <QtConcurrent>

#include <vector>

using namespace storesql;
using namespace kivostore;

namespace {

// Writes track rows within one transaction. The look-ups of genre, artist, album and year are
// remembered for the life of the transaction, where no other connection can change those rows,
// so a batch touches each of them once.
class TrackWriter
{
public:
    TrackWriter(kivoDB *store, QSqlDatabase db)
        : m_store(store)
        , m_db(db)
        , m_lookup(db)
        , m_deleteDuplicates(db)
        , m_insert(db)
    { }

    bool prepareStatements()
    {
        // The same path may be stored once per playlist; a row stored with a NULL playlist by an
        // older version is the plain file.
        return prepare(m_deleteDuplicates,
                   QStringLiteral("DELETE FROM tracks WHERE filepath = ? AND IFNULL(playlist, '') = ?"),
                   "Removing the earlier row of a track")
            && prepare(m_insert,
                QStringLiteral(
                    "INSERT INTO tracks(filename, trackname, Filepath, codec, filesize, frequency, "
                    "bitrate, source, tracknumber, duration, artist_id, album_id, genre_id, isPodcast, "
                    "year_id, isAudiobook, ReleaseDate, playlist, isVideo, VideoImage) VALUES (?, ?, ?, "
                    "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                "Adding a track");
    }

    // The row `t.id` takes `t`'s values in place; 0 when there is no such row, nullopt on failure.
    std::optional<int> update(const track &t)
    {
        static const QString sql = QStringLiteral(
            "UPDATE tracks SET filename = ?, trackname = ?, codec = ?, filesize = ?, frequency = ?, "
            "bitrate = ?, source = ?, tracknumber = ?, duration = ?, artist_id = ?, album_id = ?, "
            "genre_id = ?, isPodcast = ?, year_id = ?, isAudiobook = ?, ReleaseDate = ?, isVideo = ?, "
            "VideoImage = ? WHERE id = ?");
        QSqlQuery check(m_db);
        if (!prepare(check, QStringLiteral("SELECT 1 FROM tracks WHERE id = ?"), "Finding a track"))
            return std::nullopt;
        check.addBindValue(t.id);
        if (!exec(check, "Finding a track"))
            return std::nullopt;
        if (!check.next())
            return 0;  // removed meanwhile: nothing is made again
        const std::optional<RowIds> ids = rowIds(t);
        if (!ids)
            return std::nullopt;
        QSqlQuery query(m_db);
        if (!prepare(query, sql, "Updating a track"))
            return std::nullopt;
        const QVariant values[] = {text(t.filename), text(t.trackname), text(t.codec),
            QVariant(qlonglong(t.filesize)), QVariant(qlonglong(t.frequency)), QVariant(int(t.bitrate)),
            QVariant(int(t.source)), QVariant(int(t.tracknumber)), QVariant(boundedSeconds(t.duration)),
            QVariant(ids->artist), QVariant(ids->album), QVariant(ids->genre), QVariant(t.isPodcast),
            QVariant(ids->year), QVariant(t.isAudiobook), text(t.releaseDate), QVariant(t.isVideo),
            t.isVideo ? text(t.cover) : QVariant(QStringLiteral("")), QVariant(qlonglong(t.id))};
        for (int i = 0; i < int(std::size(values)); ++i)
            query.bindValue(i, values[i]);
        if (!exec(query, "Updating a track"))
            return std::nullopt;
        return query.numRowsAffected();
    }

    std::optional<qint64> write(const track &t, const QString &path)
    {
        const std::optional<RowIds> ids = rowIds(t);
        if (!ids)
            return std::nullopt;

        m_deleteDuplicates.bindValue(0, text(path));
        m_deleteDuplicates.bindValue(1, text(t.playlist));
        if (!exec(m_deleteDuplicates, "Removing the earlier row of a track"))
            return std::nullopt;

        const QVariant values[] = {text(t.filename), text(t.trackname), text(path), text(t.codec),
            QVariant(qlonglong(t.filesize)), QVariant(qlonglong(t.frequency)), QVariant(int(t.bitrate)),
            QVariant(int(t.source)), QVariant(int(t.tracknumber)), QVariant(boundedSeconds(t.duration)),
            QVariant(ids->artist), QVariant(ids->album), QVariant(ids->genre), QVariant(t.isPodcast),
            QVariant(ids->year), QVariant(t.isAudiobook), text(t.releaseDate), text(t.playlist),
            QVariant(t.isVideo), t.isVideo ? text(t.cover) : QVariant(QStringLiteral(""))};
        for (int i = 0; i < int(std::size(values)); ++i)
            m_insert.bindValue(i, values[i]);
        if (!exec(m_insert, "Adding a track"))
            return std::nullopt;
        return lastId(m_insert, "Adding a track");
    }

private:
    struct RowIds {
        qint64 genre, artist, album, year;
    };

    // The ids the track's texts are filed under, each made when it is new.
    std::optional<RowIds> rowIds(const track &t)
    {
        const std::optional<qint64> genreId = genre(t.genre);
        const std::optional<qint64> artistId = genreId ? artist(t.artistname) : std::nullopt;
        const std::optional<qint64> albumId
            = artistId ? album(t.albumname, t.cover, t.year, *artistId) : std::nullopt;
        const std::optional<qint64> yearId = albumId ? year(t.year) : std::nullopt;
        if (!yearId)
            return std::nullopt;
        return RowIds{*genreId, *artistId, *albumId, *yearId};
    }

    std::optional<qint64> genre(const QString &name)
    {
        const QString key = text(name).toString();
        if (const auto it = m_genres.constFind(key); it != m_genres.cend())
            return *it;
        const std::optional<qint64> id = m_store->getOrInsertGenre(m_lookup, name);
        if (id)
            m_genres.insert(key, *id);
        return id;
    }

    std::optional<qint64> artist(const QString &name)
    {
        const QString key = asciiFolded(text(name).toString());
        if (const auto it = m_artists.constFind(key); it != m_artists.cend())
            return *it;
        const std::optional<qint64> id = m_store->getOrInsertArtist(m_lookup, name);
        if (id)
            m_artists.insert(key, *id);
        return id;
    }

    std::optional<qint64> album(const QString &name, const QString &cover, int yearValue, qint64 artistId)
    {
        const QString key = asciiFolded(text(name).toString());
        std::optional<qint64> id;
        if (const auto it = m_albums.constFind(key); it != m_albums.cend()) {
            id = *it;
            // Each cover offered for an album is applied once per transaction.
            if (!m_coversApplied.contains(qMakePair(*id, cover))) {
                if (!applyAlbumCover(m_lookup, *id, name, cover))
                    return std::nullopt;
            }
        } else {
            id = m_store->getOrInsertAlbum(m_lookup, name, cover, yearValue, artistId);
            if (!id)
                return std::nullopt;
            m_albums.insert(key, *id);
        }
        m_coversApplied.insert(qMakePair(*id, cover));
        return id;
    }

    std::optional<qint64> year(int value)
    {
        if (const auto it = m_years.constFind(value); it != m_years.cend())
            return *it;
        const std::optional<qint64> id = m_store->getOrInsertYear(m_lookup, value);
        if (id)
            m_years.insert(value, *id);
        return id;
    }

    kivoDB *m_store;
    QSqlDatabase m_db;
    QSqlQuery m_lookup;
    QSqlQuery m_deleteDuplicates;
    QSqlQuery m_insert;
    QHash<QString, qint64> m_genres;
    QHash<QString, qint64> m_artists;
    QHash<QString, qint64> m_albums;
    QHash<int, qint64> m_years;
    QSet<QPair<qint64, QString>> m_coversApplied;
};

// Removes the library copy at `path` and then its album folder when that is left empty. Only a
// regular file whose canonical path lies under the library root is touched, never through a link.
bool removeLibraryCopy(const QString &path)
{
    const QString root = QFileInfo(kivoDB::libraryRoot()).canonicalFilePath();
    if (root.isEmpty() || path.isEmpty())
        return true;
    const QFileInfo info(path);
    if (info.isSymLink())
        return true;

    QString folder;
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty()) {
        if (!isStrictlyInside(canonical, root) || !QFileInfo(canonical).isFile())
            return true;
        if (!QFile::remove(canonical)) {
            reportError(QStringLiteral("Could not remove the library file %1.")
                            .arg(QDir::toNativeSeparators(canonical)));
            return false;
        }
        folder = QFileInfo(canonical).absolutePath();
    } else {
        // The file is already gone; its folder may still be left over.
        const QFileInfo parent(info.absolutePath());
        if (parent.isSymLink())
            return true;
        folder = parent.canonicalFilePath();
    }

    if (isStrictlyInside(folder, root)
        && QDir(folder).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System))
        QDir().rmdir(folder);
    return true;
}

}  // namespace

bool kivoDB::insertTrack(TrackMap::iterator entry, const QString &path, qint64 *newId)
{
    track t = entry.value();
    t.filepath = path;
    return insertTrackSingle(t, newId);
}

bool kivoDB::insertTrackSingle(track t, qint64 *newId)
{
    QList<qint64> ids;
    if (!insertTracks(QList<track>{t}, &ids))
        return false;
    if (newId)
        *newId = ids.value(0);
    return true;
}

bool kivoDB::lastFailureBusy()
{
    return storesql::lastFailureBusy();
}

bool kivoDB::updateTrack(const track &t, bool *gone)
{
    bool missing = false;
    const bool updated = t.id > 0 && inTransaction(QSqlDatabase(), true, [&](const QSqlDatabase &conn) {
        TrackWriter writer(this, conn);
        const std::optional<int> rows = writer.update(t);
        missing = rows && *rows == 0;
        return rows && *rows > 0;
    });
    if (gone)
        *gone = missing || t.id <= 0;
    return updated;
}

bool kivoDB::insertTracks(const QList<track> &tracks, QList<qint64> *newIds)
{
    return insertTracksOn(QSqlDatabase(), tracks, newIds);
}

bool kivoDB::insertTracksOn(const QSqlDatabase &db, const QList<track> &tracks, QList<qint64> *newIds)
{
    QList<qint64> ids;
    ids.reserve(tracks.size());
    const bool stored = inTransaction(db, true, [&](const QSqlDatabase &conn) {
        TrackWriter writer(this, conn);
        if (!writer.prepareStatements())
            return false;
        for (const track &t : tracks) {
            const std::optional<qint64> id = writer.write(t, t.filepath);
            if (!id)
                return false;
            ids.append(*id);
        }
        return true;
    });
    if (stored && newIds)
        *newIds = ids;
    return stored;
}

bool kivoDB::saveValues(QSqlDatabase db, const TrackMap &tracks)
{
    if (tracks.isEmpty()) {
        qDebug() << "No Values to save...." << tracks.size();
        return true;
    }
    return insertTracksOn(db, tracks.values(), nullptr);
}

void kivoDB::saveDB(TrackMap tracks)
{
    saveValues(QSqlDatabase(), tracks);
}

bool kivoDB::deleteTrackById(QSqlDatabase db, qint64 id)
{
    return inTransaction(db, true, [&](const QSqlDatabase &conn) {
        QSqlQuery query(conn);
        if (!prepare(query, QStringLiteral("DELETE FROM tracks WHERE id = ?"), "Removing a track"))
            return false;
        query.addBindValue(id);
        return exec(query, "Removing a track");
    });
}

bool kivoDB::deleteTrackByPath(QSqlDatabase db, const QString &path)
{
    const bool rowsGone = inTransaction(db, true, [&](const QSqlDatabase &conn) {
        QSqlQuery query(conn);
        if (!prepare(query, QStringLiteral("DELETE FROM tracks WHERE filepath = ?"), "Removing a track"))
            return false;
        query.addBindValue(text(path));
        return exec(query, "Removing a track");
    });
    // The file goes only once its rows are gone, so a failed delete never leaves a row without file.
    return rowsGone && removeLibraryCopy(path);
}

int kivoDB::sweepLibraryFolder()
{
    // Tag writes of builds before the one naming scheme: ".kivo-tags-XXXXXX.<suffix>". No writer
    // of that name runs any more.
    static const QRegularExpression oldTagCopy(QStringLiteral("^\\.kivo-tags-[A-Za-z0-9]{6}\\."));
    // Files of this process may belong to an add that runs now; they are kept.
    const auto stale = [](const QString &name) {
        return platform::isStaleTemporary(name, platform::OwnTemporaries::InUse)
            || oldTagCopy.match(name).hasMatch();
    };
    // Covers and thumbnails are written under the same scheme into the artwork folder.
    int removed = 0;
    const QString artwork = QFileInfo(AppPaths::dataLocation() + AppPaths().artworkDir).canonicalFilePath();
    if (!artwork.isEmpty())
        removed += platform::removeStaleTemporaries(artwork, platform::OwnTemporaries::InUse);

    const QString root = QFileInfo(libraryRoot()).canonicalFilePath();
    if (!root.isEmpty()) {
        // A folder made after the sweep began may be an add's that runs now; it is left alone.
        const QDateTime began = QDateTime::currentDateTime();
        QStringList folders;
        QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            if (info.isSymLink())
                continue;
            if (info.isDir()) {
                if (info.lastModified() < began)
                    folders.prepend(info.absoluteFilePath());
                continue;
            }
            if (stale(info.fileName()) && QFile::remove(info.absoluteFilePath()))
                ++removed;
        }
        // Deepest first; a folder that still holds anything stays.
        for (const QString &folder : std::as_const(folders))
            QDir().rmdir(folder);
    }
    if (removed > 0)
        writeLog(appLogFile(), QStringLiteral("Left-over copies removed: "), QString::number(removed));
    return removed;
}
