#include "kivodb.h"
#include "kivodb_p.h"

#include "apppaths.h"
#include "coverfiles.h"
#include "database.h"
#include "storesql_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace storesql;

namespace kivostore {

QString noArtworkUrl()
{
    return QStringLiteral("qrc:///resources/photos/no_artwork.png");
}

bool coverNamesAlbum(const QString &cover, const QString &albumName)
{
    // Artwork files are named after the album's cleaned name; an empty cleaned name names nothing.
    const QString cleaned = AppPaths().sanitizeName(albumName);
    return !cleaned.isEmpty() && cover.contains(cleaned);
}

QString asciiFolded(const QString &text)
{
    // The same folding as SQLite's NOCASE: only A to Z.
    QString folded = text;
    for (QChar &c : folded) {
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return folded;
}

std::optional<qint64> lastId(QSqlQuery &query, const char *what)
{
    const QVariant id = query.lastInsertId();
    bool ok = false;
    const qint64 value = id.toLongLong(&ok);
    if (!ok || value <= 0) {
        reportError(QStringLiteral("%1 gave no row id.").arg(QLatin1String(what)));
        return std::nullopt;
    }
    return value;
}

// Runs a prepared single-id SELECT: the found id, 0 when there is no row, nullopt on failure.
std::optional<qint64> findId(QSqlQuery &query, const char *what)
{
    if (!exec(query, what))
        return std::nullopt;
    const qint64 id = query.next() ? query.value(0).toLongLong() : 0;
    query.finish();
    return id;
}

bool applyAlbumCover(QSqlQuery &query, qint64 albumId, const QString &name, const QString &cover)
{
    if (cover.contains(QLatin1String("no_artwork.png")) || !QFileInfo::exists(cover))
        return true;
    QString newCover;
    QString data;
    if (name.startsWith(QLatin1String("Unknown"))) {
        newCover = noArtworkUrl();
        data = QStringLiteral("");
    } else if (coverNamesAlbum(cover, name)) {
        newCover = cover;
        data = fileToBase64(cover);
    } else {
        return true;
    }
    // An album that already holds this cover is not rewritten.
    if (!prepare(query,
            QStringLiteral("UPDATE albums SET cover = ?, coverdata = ? WHERE id = ? AND (cover IS NOT ? OR "
                           "coverdata IS NOT ?)"),
            "Updating an album cover"))
        return false;
    query.addBindValue(newCover);
    query.addBindValue(data);
    query.addBindValue(albumId);
    query.addBindValue(newCover);
    query.addBindValue(data);
    return exec(query, "Updating an album cover");
}

bool restoreMissingCoversOn(QSqlDatabase db)
{
    QSqlQuery covers(db);
    covers.setForwardOnly(true);
    if (!prepare(covers, QStringLiteral("SELECT id, cover FROM albums"), "Reading album covers")
        || !exec(covers, "Reading album covers"))
        return false;
    QList<QPair<qint64, QString>> missing;
    while (covers.next()) {
        const QString cover = covers.value(1).toString();
        if (!cover.isEmpty() && !cover.startsWith(QLatin1String("qrc:")) && !QFileInfo::exists(cover))
            missing.append({covers.value(0).toLongLong(), cover});
    }
    covers.finish();
    if (missing.isEmpty())
        return true;
    QSqlQuery data(db);
    if (!prepare(data, QStringLiteral("SELECT coverdata FROM albums WHERE id = ?"), "Reading a cover"))
        return false;
    for (const auto &album : std::as_const(missing)) {
        data.bindValue(0, album.first);
        if (!exec(data, "Reading a cover"))
            return false;
        if (data.next())
            saveCoverImage(album.second, data.value(0).toString());
        data.finish();
    }
    return true;
}

bool deleteOrphansOn(QSqlDatabase db)
{
    // Albums and artists are many and indexed in tracks, so each is probed; genres and years are
    // few, so one pass over tracks finds those in use.
    static const char *const statements[] = {
        "DELETE FROM `albums` WHERE NOT EXISTS (SELECT 1 FROM `tracks` WHERE `tracks`.`album_id` = "
        "`albums`.`id`)",
        "DELETE FROM `genres` WHERE `id` NOT IN (SELECT DISTINCT `genre_id` FROM `tracks`)",
        "DELETE FROM `artists` WHERE NOT EXISTS (SELECT 1 FROM `tracks` WHERE `tracks`.`artist_id` = "
        "`artists`.`id`)",
        "DELETE FROM `years` WHERE `id` NOT IN (SELECT DISTINCT `year_id` FROM `tracks`)",
        "DELETE FROM `playlist_items` WHERE `playlist_id` NOT IN (SELECT `id` FROM `playlists`)",
    };
    for (const char *sql : statements) {
        if (!execText(db, QString::fromLatin1(sql), "Removing unused library rows"))
            return false;
    }
    return true;
}

bool isStrictlyInside(const QString &canonicalPath, const QString &canonicalFolder)
{
    return !canonicalPath.isEmpty() && !canonicalFolder.isEmpty()
        && canonicalPath.startsWith(canonicalFolder + QLatin1Char('/'));
}

}  // namespace kivostore

using namespace kivostore;

kivoDB::kivoDB()
    : QObject(nullptr)
{ }

kivoDB::kivoDB(QObject *parent)
    : QObject(parent)
{ }

kivoDB::~kivoDB() = default;

QString kivoDB::lastError()
{
    return storesql::lastError();
}

QString kivoDB::libraryRoot()
{
    return AppPaths().dataDir + QStringLiteral("/Music/Corvane Zorad Urizaderi");
}

std::optional<qint64> kivoDB::getOrInsertGenre(QSqlQuery &query, const QString &genre)
{
    if (!prepare(query, QStringLiteral("SELECT id FROM genres WHERE genre = ? ORDER BY id DESC LIMIT 1"),
            "Looking up a genre"))
        return std::nullopt;
    query.addBindValue(text(genre));
    const std::optional<qint64> found = findId(query, "Looking up a genre");
    if (!found || *found > 0)
        return found;
    if (!prepare(query, QStringLiteral("INSERT INTO genres(genre) VALUES (?)"), "Adding a genre"))
        return std::nullopt;
    query.addBindValue(text(genre));
    if (!exec(query, "Adding a genre"))
        return std::nullopt;
    return lastId(query, "Adding a genre");
}

std::optional<qint64> kivoDB::getOrInsertArtist(QSqlQuery &query, const QString &name)
{
    if (!prepare(query,
            QStringLiteral("SELECT id FROM artists WHERE name = ? COLLATE NOCASE ORDER BY id DESC LIMIT 1"),
            "Looking up an artist"))
        return std::nullopt;
    query.addBindValue(text(name));
    const std::optional<qint64> found = findId(query, "Looking up an artist");
    if (!found || *found > 0)
        return found;
    if (!prepare(query, QStringLiteral("INSERT INTO artists(name) VALUES (?)"), "Adding an artist"))
        return std::nullopt;
    query.addBindValue(text(name));
    if (!exec(query, "Adding an artist"))
        return std::nullopt;
    return lastId(query, "Adding an artist");
}

std::optional<qint64> kivoDB::getOrInsertAlbum(
    QSqlQuery &query, const QString &name, const QString &cover, int year, qint64 artistId)
{
    if (!prepare(query,
            QStringLiteral("SELECT id FROM albums WHERE name = ? COLLATE NOCASE ORDER BY id DESC LIMIT 1"),
            "Looking up an album"))
        return std::nullopt;
    query.addBindValue(text(name));
    const std::optional<qint64> found = findId(query, "Looking up an album");
    if (!found)
        return std::nullopt;
    if (*found > 0) {
        if (!applyAlbumCover(query, *found, name, cover))
            return std::nullopt;
        return found;
    }

    const bool named = coverNamesAlbum(cover, name);
    if (!prepare(query,
            QStringLiteral(
                "INSERT INTO albums(name, artist_id, cover, coverdata, year) VALUES (?, ?, ?, ?, ?)"),
            "Adding an album"))
        return std::nullopt;
    query.addBindValue(text(name));
    query.addBindValue(artistId);
    query.addBindValue(named ? text(cover) : QVariant(noArtworkUrl()));
    query.addBindValue(named ? fileToBase64(cover) : QStringLiteral(""));
    query.addBindValue(year);
    if (!exec(query, "Adding an album"))
        return std::nullopt;
    return lastId(query, "Adding an album");
}

std::optional<qint64> kivoDB::getOrInsertYear(QSqlQuery &query, int year)
{
    if (!prepare(query, QStringLiteral("SELECT id FROM years WHERE year = ? ORDER BY id DESC LIMIT 1"),
            "Looking up a year"))
        return std::nullopt;
    query.addBindValue(year);
    const std::optional<qint64> found = findId(query, "Looking up a year");
    if (!found || *found > 0)
        return found;
    if (!prepare(query, QStringLiteral("INSERT INTO years(year) VALUES (?)"), "Adding a year"))
        return std::nullopt;
    query.addBindValue(year);
    if (!exec(query, "Adding a year"))
        return std::nullopt;
    return lastId(query, "Adding a year");
}

bool kivoDB::deleteOrphans(QSqlDatabase db)
{
    return inTransaction(db, true, [](const QSqlDatabase &conn) { return deleteOrphansOn(conn); });
}

bool kivoDB::albumCount(QSqlDatabase db)
{
    const QSqlDatabase conn = connectionFor(db);
    if (!conn.isValid())
        return false;
    QSqlQuery query(conn);
    if (!prepare(query, QStringLiteral("SELECT count(*) AS id FROM albums"), "Counting albums")
        || !exec(query, "Counting albums") || !query.next())
        return false;
    return query.value(0).toLongLong() > 0;
}

bool kivoDB::trackRowIds(qint64 trackId, qint64 *artistId, qint64 *albumId)
{
    const QSqlDatabase conn = connectionFor(QSqlDatabase());
    if (!conn.isValid())
        return false;
    QSqlQuery query(conn);
    if (!prepare(query, QStringLiteral("SELECT artist_id, album_id FROM tracks WHERE id = ?"),
            "Reading a track's ids"))
        return false;
    query.addBindValue(trackId);
    if (!exec(query, "Reading a track's ids") || !query.next())
        return false;
    *artistId = query.value(0).toLongLong();
    *albumId = query.value(1).toLongLong();
    return true;
}

bool kivoDB::libraryHasAlbums()
{
    const QString file = Database::storeIsOpen() ? Database::storeFilePath() : Database::defaultFilePath();
    if (!QFileInfo::exists(file) || !Database::storeIsOpen())
        return false;
    return albumCount();
}

bool kivoDB::loadCovers(QSqlDatabase db)
{
    const QSqlDatabase conn = connectionFor(db);
    return conn.isValid() && restoreMissingCoversOn(conn);
}

namespace {

bool removeTree(const QString &folder)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::NoDotAndDotDot | QDir::System | QDir::Hidden | QDir::AllDirs | QDir::Files, QDir::DirsFirst);
    for (const QFileInfo &entry : entries) {
        // A link is removed as a link: what it points to is never entered or deleted.
        const bool removed = (entry.isDir() && !entry.isSymLink()) ? removeTree(entry.absoluteFilePath())
                                                                   : QFile::remove(entry.absoluteFilePath());
        if (!removed) {
            reportError(QStringLiteral("Could not remove %1.")
                            .arg(QDir::toNativeSeparators(entry.absoluteFilePath())));
            return false;
        }
    }
    return QDir().rmdir(folder);
}

}  // namespace

bool kivoDB::removeDir(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        reportError(QStringLiteral("%1 is a link; it was not followed.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    if (!info.exists())
        return true;
    if (!info.isDir())
        return false;
    const QString dataDir = QFileInfo(AppPaths().dataDir).canonicalFilePath();
    if (!isStrictlyInside(info.canonicalFilePath(), dataDir)) {
        reportError(QStringLiteral("%1 lies outside the program's folder; it was not removed.")
                        .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return removeTree(info.canonicalFilePath());
}
