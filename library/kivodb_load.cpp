#include "kivodb.h"

#include "kivodb_p.h"

#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "storesql_p.h"

#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

using namespace storesql;
using namespace kivostore;

namespace {

// Hands out one shared copy of equal texts, so a value repeated over many tracks is held once.
class TextPool
{
public:
    QString operator()(const QString &value)
    {
        if (value.isEmpty())
            return value;
        const auto it = m_pool.constFind(value);
        if (it != m_pool.cend())
            return *it;
        m_pool.insert(value);
        return value;
    }

private:
    QSet<QString> m_pool;
};

// The names the tracks point at, read once for the whole library: a track row carries only the
// ids of its artist, album, genre and year.
struct LoadNames {
    QHash<qint64, QString> artists;
    QHash<qint64, std::pair<QString, QString>> albums;  // name and cover
    QHash<qint64, QString> genres;
    QHash<qint64, int> years;
};

// Rows of one id range of the library, read on whatever thread the load gives it.
struct LoadPart {
    qint64 first = 0;
    qint64 last = -1;
    TrackMap tracks;
    // A row whose file is gone is stale: it is listed here and kept out of `tracks`.
    QList<qint64> stale;
    QString error;
};

// Enough rows that a part outweighs opening a connection for it.
constexpr qint64 kLoadPartRows = 8192;

// A text column read as its UTF-8 bytes; NULL reads as "".
QString readUtf8(const QVariant &value)
{
    const QString text = value.isNull() ? QString() : QString::fromUtf8(value.toByteArray());
    return text.isEmpty() ? QStringLiteral("") : text;
}

bool readLoadNames(const QSqlDatabase &conn, LoadNames &names)
{
    QSqlQuery query(conn);
    query.setForwardOnly(true);
    // Cover data is read once per album later, if at all, not here.
    const auto read = [&](const char *sql, const auto &take) {
        if (!prepare(query, QString::fromLatin1(sql), "Reading the library")
            || !exec(query, "Reading the library"))
            return false;
        while (query.next())
            take();
        if (query.lastError().isValid()) {
            reportError(QStringLiteral("Reading the library failed: %1").arg(query.lastError().text()));
            return false;
        }
        query.finish();
        return true;
    };
    return read("SELECT id, name FROM artists", [&] {
        names.artists.insert(query.value(0).toLongLong(), readText(query.value(1)));
    }) && read("SELECT id, name, cover FROM albums", [&] {
        names.albums.insert(
            query.value(0).toLongLong(), {readText(query.value(1)), readText(query.value(2))});
    }) && read("SELECT id, genre FROM genres", [&] {
        names.genres.insert(query.value(0).toLongLong(), readText(query.value(1)));
    }) && read("SELECT id, year FROM years", [&] {
        names.years.insert(query.value(0).toLongLong(), query.value(1).toInt());
    });
}

// What the library's view gives for a track row, read from the track table alone with `names`
// for what the view joins in.
void readLoadPart(const QSqlDatabase &conn, const LoadNames &names, LoadPart &part)
{
    if (!conn.isValid()) {
        part.error = QStringLiteral("The library database cannot be reached.");
        return;
    }
    QSqlQuery query(conn);
    query.setForwardOnly(true);
    // Texts come as their UTF-8 bytes and are decoded here: read as text, SQLite would convert
    // each to UTF-16 in memory of its own, under a lock all its connections share.
    if (!query.prepare(QStringLiteral(
            "SELECT id, CAST(filename AS BLOB), CAST(trackname AS BLOB), CAST(filepath AS BLOB), "
            "CAST(codec AS BLOB), filesize, frequency, bitrate, source, tracknumber, duration, "
            "CAST(VideoImage AS BLOB), artist_id, album_id, genre_id, isPodcast, isAudiobook, isVideo, "
            "CAST(ReleaseDate AS BLOB), CAST(playlist AS BLOB), year_id FROM tracks WHERE id BETWEEN ? AND "
            "?"))) {
        part.error = query.lastError().text();
        return;
    }
    query.addBindValue(part.first);
    query.addBindValue(part.last);
    if (!query.exec()) {
        part.error = query.lastError().text();
        return;
    }
    TextPool pool;
    const QString none = QStringLiteral("");
    while (query.next()) {
        const qint64 id = query.value(0).toLongLong();
        const QString filepath = readUtf8(query.value(3));
        // For a large library the file system, not the database, is the slow part of the load;
        // each part checks its own files.
        if (!QFileInfo::exists(filepath)) {
            part.stale.append(id);
            continue;
        }
        track t{};
        t.id = id;
        t.filename = readUtf8(query.value(1));
        t.trackname = readUtf8(query.value(2));
        t.filepath = filepath;
        t.codec = pool(readUtf8(query.value(4)));
        t.filesize = query.value(5).toLongLong();
        t.frequency = query.value(6).toLongLong();
        t.frequencyShort = qint16(t.frequency);
        t.bitrate = qint16(query.value(7).toInt());
        t.source = qint16(query.value(8).toInt());
        t.tracknumber = qint16(query.value(9).toInt());
        t.duration = boundedSeconds(query.value(10).toDouble());
        // A name whose row is missing reads as the view's outer join gives it: id 0 and "".
        const auto artist = names.artists.constFind(query.value(12).toLongLong());
        t.artist_id = artist == names.artists.cend() ? 0 : artist.key();
        t.artistname = artist == names.artists.cend() ? none : *artist;
        const auto album = names.albums.constFind(query.value(13).toLongLong());
        t.album_id = album == names.albums.cend() ? 0 : album.key();
        t.albumname = album == names.albums.cend() ? none : album->first;
        t.cover = album == names.albums.cend() ? none : album->second;
        t.genre = names.genres.value(query.value(14).toLongLong(), none);
        t.isPodcast = query.value(15).toBool();
        t.isAudiobook = query.value(16).toBool();
        t.isVideo = query.value(17).toBool();
        t.releaseDate = pool(readUtf8(query.value(18)));
        t.playlist = pool(readUtf8(query.value(19)));
        t.year = qint16(names.years.value(query.value(20).toLongLong()));
        if (t.isVideo)
            t.cover = readUtf8(query.value(11));
        t.playlistId = t.playlist.isEmpty() ? 0 : t.album_id;
        t.quality = bitrateClass(t.bitrate);
        part.tracks.insert(part.tracks.cend(), t.id, t);
    }
    if (query.lastError().isValid())
        part.error = query.lastError().text();
}

QMutex &placementMutex()
{
    static QMutex mutex;
    return mutex;
}

}  // namespace

kivoDB::PlacingFiles::PlacingFiles()
{
    placementMutex().lock();
}

kivoDB::PlacingFiles::~PlacingFiles()
{
    placementMutex().unlock();
}

TrackMap kivoDB::loadLibrary(QSqlDatabase db, bool *ok)
{
    if (ok)
        *ok = false;
    writeLog(appLogFile(), QStringLiteral("Fetching DB Informations"));
    // Before the transaction, as the writers that hold it take theirs after it.
    const PlacingFiles placing;
    const QSqlDatabase conn = connectionFor(db);
    if (!conn.isValid())
        return TrackMap();
    const bool writable = !Database::storeIsReadOnly();
    Transaction transaction(conn, writable);
    if (!transaction.isActive())
        return TrackMap();

    // Ids are cut into ranges read side by side, each on its own thread's connection. The
    // transaction above holds off every writer (a read-only file has none), so all of them read
    // the same library. A handle the caller gives is read alone.
    const bool ownConnections = !(db.isValid() && db.isOpen());
    std::vector<LoadPart> parts;
    {
        QSqlQuery bounds(conn);
        if (!prepare(bounds, QStringLiteral("SELECT MIN(id), MAX(id) FROM tracks"), "Reading the library")
            || !exec(bounds, "Reading the library") || !bounds.next())
            return TrackMap();
        const qint64 first = bounds.value(0).toLongLong();
        const qint64 last = bounds.value(1).toLongLong();
        const qint64 span = bounds.value(0).isNull() ? 0 : last - first + 1;
        const qint64 wanted = ownConnections ? (span + kLoadPartRows - 1) / kLoadPartRows : 1;
        const qint64 count
            = std::clamp<qint64>(wanted, 1, std::max(1, QThreadPool::globalInstance()->maxThreadCount()));
        for (qint64 i = 0; i < count; ++i) {
            LoadPart part;
            part.first = first + span * i / count;
            part.last = first + span * (i + 1) / count - 1;
            parts.push_back(std::move(part));
        }
    }
    LoadNames names;
    if (!readLoadNames(conn, names))
        return TrackMap();
    QThread *const caller = QThread::currentThread();
    const auto readInto = [&](LoadPart &part) {
        readLoadPart(QThread::currentThread() == caller ? conn : connectionFor(QSqlDatabase()), names, part);
    };
    // While the parts are read, this connection clears what no track uses and puts back missing
    // cover files: neither touches a row the parts read, and they see nothing of it before the
    // commit. The loaded tracks do not carry the albums' cover data: nothing reads it from them,
    // and it would cost more memory than the rest of the library.
    // Then it reads parts as well, so the load goes on even when the pool has no thread free.
    std::atomic<std::size_t> next{0};
    const auto readSome = [&] {
        for (std::size_t i = next++; i < parts.size(); i = next++)
            readInto(parts[i]);
    };
    QList<QFuture<void>> helpers;
    for (std::size_t i = 1; i < parts.size(); ++i)
        helpers << QtConcurrent::run(readSome);
    const bool tidied = (!writable || deleteOrphansOn(conn)) && restoreMissingCoversOn(conn);
    readSome();
    for (QFuture<void> &helper : helpers)
        helper.waitForFinished();
    if (!tidied)
        return TrackMap();

    TrackMap library;
    QList<qint64> stale;
    for (LoadPart &part : parts) {
        if (!part.error.isEmpty()) {
            reportError(QStringLiteral("Reading the library failed: %1").arg(part.error));
            return TrackMap();
        }
        library.insert(std::move(part.tracks));
        stale += part.stale;
    }
    parts.clear();

    if (writable && !stale.isEmpty()) {
        QSqlQuery remove(conn);
        if (!prepare(remove, QStringLiteral("DELETE FROM tracks WHERE id = ?"), "Removing a stale track"))
            return TrackMap();
        for (const qint64 id : std::as_const(stale)) {
            remove.bindValue(0, id);
            if (!exec(remove, "Removing a stale track"))
                return TrackMap();
        }
        remove.finish();
        // What only the stale rows used goes with them.
        if (!deleteOrphansOn(conn))
            return TrackMap();
    }
    if (!transaction.commit())
        return TrackMap();

    writeLog(appLogFile(), QStringLiteral("Load Completed"));
    if (ok)
        *ok = true;
    return library;
}
