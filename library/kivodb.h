#pragma once

#include "track.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <optional>

// The library store: every read and write of the library tables and the repository cache.
//
// Connections: an operation runs on the calling thread's own connection to the file that
// Database::open chose. A `db` argument is used only when it is a valid, open handle of the
// calling thread; an invalid one (a Database that was never opened) or another thread's means
// "this thread's connection". So one kivoDB object may be shared by several threads.
//
// Results: every operation is one transaction that is rolled back as a whole when any of its
// statements fails. Operations that change something return bool: true when the change was
// committed, false when nothing changed. Ids are 64-bit; look-ups return std::nullopt on failure,
// never 0. The reason of the last failure on the calling thread is in lastError() and in the debug
// log. Texts are stored as given, a null text as "" (so a null playlist is the plain file "").
class kivoDB : public QObject
{
    Q_OBJECT

public:
    kivoDB();
    explicit kivoDB(QObject *parent);
    ~kivoDB() override;

    // The reason the calling thread's last store operation failed.
    static QString lastError();
    // Whether it failed only because another connection held the file: trying again may succeed.
    static bool lastFailureBusy();
    // "<data folder>/Music/Corvane Zorad Urizaderi": the only folder whose files the store deletes.
    static QString libraryRoot();
    // Clears what a killed add, conversion, tag write or cover download left in the library and
    // artwork folders: files still under a temporary name whose writer no longer runs, then the
    // library folders that leaves empty. Returns how many files went.
    static int sweepLibraryFolder();

    // Look-ups used inside a track insert: find the row or add it, on `query`'s connection, within
    // the caller's transaction. Artists and albums compare names without regard to ASCII case,
    // genres exactly. An album is identified by its name alone.
    std::optional<qint64> getOrInsertGenre(QSqlQuery &query, const QString &genre);
    std::optional<qint64> getOrInsertArtist(QSqlQuery &query, const QString &name);
    std::optional<qint64> getOrInsertAlbum(
        QSqlQuery &query, const QString &name, const QString &cover, int year, qint64 artistId);
    std::optional<qint64> getOrInsertYear(QSqlQuery &query, int year);

    // Removes albums, genres, artists and years no track uses, and playlist items without a list.
    bool deleteOrphans(QSqlDatabase db = QSqlDatabase());
    // Whether the albums table holds a row (false when it cannot be read).
    bool albumCount(QSqlDatabase db = QSqlDatabase());
    // False without touching any connection when there is no library file.
    bool libraryHasAlbums();
    // The artist and album ids the store gave the track row `trackId`.
    bool trackRowIds(qint64 trackId, qint64 *artistId, qint64 *albumId);
    // Writes each album's cover image from its stored data where the file is missing.
    bool loadCovers(QSqlDatabase db = QSqlDatabase());
    // Removes a folder with its content, only inside the program's data folder and never following
    // a symbolic link (a link is removed as a link). True when the folder is gone.
    bool removeDir(const QString &path);

    // Adds the entry's track stored under `path` (the library copy), replacing the row of the same
    // path and playlist. The new row's id goes to `newId`; the entry itself is not changed.
    bool insertTrack(TrackMap::iterator entry, const QString &path, qint64 *newId = nullptr);
    // The same for a changed track stored under its own `filepath`.
    bool insertTrackSingle(track t, qint64 *newId = nullptr);
    // A changed track written over its own row, found by `id`, which it keeps: the window's rows,
    // ticks and selections go on naming it. False when nothing was written; then `gone` tells
    // whether that was because the row no longer exists (the track was removed meanwhile).
    bool updateTrack(const track &t, bool *gone = nullptr);
    // Many tracks (each under its own `filepath`) in one transaction: all are stored or none.
    bool insertTracks(const QList<track> &tracks, QList<qint64> *newIds = nullptr);
    bool deleteTrackById(QSqlDatabase db, qint64 id);
    // Removes the path's rows; a library copy (by canonical path under libraryRoot(), not a link)
    // is deleted too, and its album folder when that is left empty.
    bool deleteTrackByPath(QSqlDatabase db, const QString &path);
    // The library, keyed by track id; a fresh map each call. Rows whose file is gone are removed
    // (and their orphans), missing cover files re-made. Tracks of one album share one cover text.
    TrackMap loadLibrary(QSqlDatabase db = QSqlDatabase(), bool *ok = nullptr);
    // Stores every track of the map under its own path, in one transaction.
    bool saveValues(QSqlDatabase db, const TrackMap &tracks);

    // Held by a writer that stores rows before their files are in place (an add commits a batch,
    // then names its copies), and by the load while it takes rows whose file is missing for
    // stale: a load never drops a row whose file is on its way. Take it before any transaction.
    class PlacingFiles
    {
    public:
        PlacingFiles();
        ~PlacingFiles();
        PlacingFiles(const PlacingFiles &) = delete;
        PlacingFiles &operator=(const PlacingFiles &) = delete;
    };

    // Repository cache: a scanned track, once per original path and playlist.
    bool saveToRepo(track t);
    // saveToRepo for many tracks, in their order and in one transaction: all are stored or none.
    bool saveToRepoBatch(const QList<track> &tracks);
    // A repaired track: updates the row of the same original path and playlist (or, without a
    // path, of the same title and folder), else adds one.
    bool upsertRepoTrack(track t);
    // upsertRepoTrack for many tracks, in their order and in one transaction: all are stored or none.
    bool upsertRepoTracks(const QList<track> &tracks);
    // The track completed from what the repository rows of its folder agree on; unchanged when
    // the folder has no rows or they cannot be read. Blank or "unknown" texts count as missing.
    track loadRepoFolder(track t);
    // loadRepoFolder for many tracks, each folder's rows read once.
    QList<track> loadRepoFolders(QList<track> tracks);
    // Merges one repository row's values into `t` where `t` lacks them; returns a copy.
    track trackFromRepoRecord(track &t, QString albumName, QString artistName, QString title, QString genre,
        qint64 tracknumber, QString playlist);

public slots:
    void saveDB(TrackMap tracks);

private:
    bool insertTracksOn(const QSqlDatabase &db, const QList<track> &tracks, QList<qint64> *newIds);
};
