#pragma once

// Helpers shared by the store's source files; not part of the store's interface.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <optional>

namespace kivostore {

QString noArtworkUrl();
// Whether `cover` is the album's own artwork file (its path carries the album's cleaned name).
bool coverNamesAlbum(const QString &cover, const QString &albumName);
// Folds A to Z only, as SQLite's NOCASE does.
QString asciiFolded(const QString &text);
// The id of the row the last INSERT on `query` made; nullopt (reported) when there is none.
std::optional<qint64> lastId(QSqlQuery &query, const char *what);
// Executes a prepared single-id SELECT: the id, 0 when no row, nullopt on failure.
std::optional<qint64> findId(QSqlQuery &query, const char *what);
// The cover rule for an album that already exists.
bool applyAlbumCover(QSqlQuery &query, qint64 albumId, const QString &name, const QString &cover);
bool deleteOrphansOn(QSqlDatabase db);
// Writes every album cover file that went missing again from the copy the store keeps, reading
// only those albums' cover data.
bool restoreMissingCoversOn(QSqlDatabase db);
bool isStrictlyInside(const QString &canonicalPath, const QString &canonicalFolder);

}  // namespace kivostore
