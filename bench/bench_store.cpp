// Library store at scale: adds N generated tracks the way the copy worker does (one insertTrack per
// track, and the batched insertTracks), loads them with loadLibrary, and compares both with bare
// SQLite work on the same rows in the same run: one prepared INSERT in one transaction, and a plain
// read of every column of the getTracks view.
//
//   bench_store [tracks]   (default 100000; 10 tracks per album, 5 albums per artist)

#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "procstats.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <cstdio>
#include <malloc.h>

namespace {

struct Generated {
    QList<track> tracks;
    int albums = 0;
};

Generated generate(int count)
{
    Generated g;
    const AppPaths paths;
    const QString root = kivoDB::libraryRoot();
    const QString artwork = paths.dataDir + QStringLiteral("/Artwork");
    QDir().mkpath(artwork);
    QRandomGenerator random(42);
    g.tracks.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int album = i / 10;
        const QString albumName = QStringLiteral("Album %1 of the \"Test\" Series").arg(album);
        const QString folder = root + QStringLiteral("/Album %1").arg(album);
        if (i % 10 == 0) {
            QDir().mkpath(folder);
            // A small cover per album, named after the album as the program names its artwork.
            QByteArray bytes(600, Qt::Uninitialized);
            for (char &b : bytes)
                b = char(random.bounded(256));
            QFile cover(artwork + QLatin1Char('/') + paths.sanitizeName(albumName) + QStringLiteral(".png"));
            cover.open(QIODevice::WriteOnly);
            cover.write(bytes);
            ++g.albums;
        }
        track t = paths.clearTrack(track{});
        t.filename = QStringLiteral("%1 Song number %2.mp3").arg(i % 10 + 1, 2, 10, QLatin1Char('0')).arg(i);
        t.filepath = folder + QLatin1Char('/') + t.filename;
        QFile(t.filepath).open(QIODevice::WriteOnly);
        t.originalPath = QStringLiteral("/home/user/Music/Source %1/%2").arg(album).arg(t.filename);
        t.trackname = QStringLiteral("Song number %1 (it's a title)").arg(i);
        t.albumname = albumName;
        t.artistname = QStringLiteral("Artist %1").arg(album / 5);
        t.genre = QStringLiteral("Genre %1").arg(album % 20);
        t.codec = QStringLiteral("mp3");
        t.releaseDate = QStringLiteral("01/01/%1").arg(1960 + album % 50);
        t.year = qint16(1960 + album % 50);
        t.bitrate = qint16(128 + 64 * (i % 4));
        t.frequency = 44100;
        t.duration = 180 + i % 120;
        t.filesize = 4000000 + i;
        t.tracknumber = qint16(i % 10 + 1);
        t.cover = artwork + QLatin1Char('/') + paths.sanitizeName(albumName) + QStringLiteral(".png");
        g.tracks.append(t);
    }
    return g;
}

bool openStore()
{
    Database database;
    if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure()) {
        std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(database.lastError()));
        return false;
    }
    return true;
}

// The baseline: the same rows written with one prepared statement each, in one transaction, into a
// file with the store's own tables and indexes.
double bareInsert(const QString &schemaFrom, const QString &path, const QList<track> &tracks)
{
    QStringList schema;
    {
        QSqlDatabase source = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("schema"));
        source.setDatabaseName(schemaFrom);
        source.open();
        QSqlQuery query(source);
        query.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL AND type IN ('table', "
                                  "'index') AND name NOT LIKE 'sqlite_%' ORDER BY type DESC"));
        while (query.next())
            schema << query.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema"));

    double ms = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bare"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        query.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
        for (const QString &sql : schema)
            query.exec(sql);

        QElapsedTimer timer;
        timer.start();
        query.exec(QStringLiteral("BEGIN"));
        QSqlQuery album(db), artist(db), genre(db), year(db), insert(db);
        album.prepare(
            QStringLiteral("INSERT INTO albums(id, name, artist_id, cover, coverdata, year) VALUES (?, ?, ?, "
                           "?, ?, ?)"));
        artist.prepare(QStringLiteral("INSERT INTO artists(id, name) VALUES (?, ?)"));
        genre.prepare(QStringLiteral("INSERT INTO genres(id, genre) VALUES (?, ?)"));
        year.prepare(QStringLiteral("INSERT INTO years(id, year) VALUES (?, ?)"));
        insert.prepare(QStringLiteral(
            "INSERT INTO tracks(filename, trackname, Filepath, codec, filesize, frequency, bitrate, source, "
            "tracknumber, duration, artist_id, album_id, genre_id, isPodcast, year_id, isAudiobook, "
            "ReleaseDate, "
            "playlist, isVideo, VideoImage) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
            "?)"));
        QSet<int> artists, genres, years;
        for (int i = 0; i < tracks.size(); ++i) {
            const track &t = tracks.at(i);
            const int albumId = i / 10 + 1;
            const int artistId = (i / 10) / 5 + 1;
            const int genreId = (i / 10) % 20 + 1;
            const int yearId = t.year;
            if (i % 10 == 0) {
                QFile cover(t.cover);
                cover.open(QIODevice::ReadOnly);
                album.bindValue(0, albumId);
                album.bindValue(1, t.albumname);
                album.bindValue(2, artistId);
                album.bindValue(3, t.cover);
                album.bindValue(4, QString::fromLatin1(cover.readAll().toBase64()));
                album.bindValue(5, int(t.year));
                album.exec();
            }
            if (!artists.contains(artistId)) {
                artists.insert(artistId);
                artist.bindValue(0, artistId);
                artist.bindValue(1, t.artistname);
                artist.exec();
            }
            if (!genres.contains(genreId)) {
                genres.insert(genreId);
                genre.bindValue(0, genreId);
                genre.bindValue(1, t.genre);
                genre.exec();
            }
            if (!years.contains(yearId)) {
                years.insert(yearId);
                year.bindValue(0, yearId);
                year.bindValue(1, int(t.year));
                year.exec();
            }
            const QVariant values[] = {t.filename, t.trackname, t.filepath, t.codec, qlonglong(t.filesize),
                qlonglong(t.frequency), int(t.bitrate), int(t.source), int(t.tracknumber), t.duration,
                artistId, albumId, genreId, t.isPodcast, yearId, t.isAudiobook, t.releaseDate, t.playlist,
                t.isVideo, QStringLiteral("")};
            for (int v = 0; v < 20; ++v)
                insert.bindValue(v, values[v]);
            if (!insert.exec())
                std::fprintf(stderr, "bare insert failed: %s\n", qPrintable(insert.lastError().text()));
        }
        query.exec(QStringLiteral("COMMIT"));
        ms = timer.nsecsElapsed() / 1e6;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bare"));
    return ms;
}

// The baseline read: every column of every row of the view, through the same driver.
double bareRead(int *rows)
{
    QElapsedTimer timer;
    timer.start();
    QSqlQuery query(Database::threadConnection());
    query.setForwardOnly(true);
    query.exec(QStringLiteral("SELECT * FROM getTracks"));
    const int columns = query.record().count();
    qint64 touched = 0;
    *rows = 0;
    while (query.next()) {
        for (int c = 0; c < columns; ++c)
            touched += query.value(c).isValid();
        ++*rows;
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    if (touched == 0)
        std::fprintf(stderr, "bare read saw nothing\n");
    return ms;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    TestEnv env;
    QElapsedTimer timer;

    timer.start();
    Generated g = generate(count);
    std::printf("generated %d tracks, %d albums, %d files in %.0f ms\n", int(g.tracks.size()), g.albums,
        int(g.tracks.size()) + g.albums, timer.nsecsElapsed() / 1e6);

    const QString storeFile = Database::defaultFilePath();
    const QString bareFile = env.root() + QStringLiteral("/bare.db");
    if (!openStore())
        return 1;
    kivoDB store;

    // As the copy worker does it: one insertTrack per track, each its own transaction.
    TrackMap entries;
    for (const track &t : g.tracks)
        entries.insert(entries.size() + 1, t);
    timer.restart();
    bool ok = true;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        ok = store.insertTrack(it, it->filepath) && ok;
    const double singleMs = timer.nsecsElapsed() / 1e6;
    entries = TrackMap();
    if (!ok)
        std::fprintf(stderr, "insertTrack failed: %s\n", qPrintable(kivoDB::lastError()));

    // The batched form, into a fresh file: 1000 tracks per transaction.
    Database::close();
    QFile::remove(storeFile);
    QFile::remove(storeFile + QStringLiteral("-wal"));
    QFile::remove(storeFile + QStringLiteral("-shm"));
    if (!openStore())
        return 1;
    timer.restart();
    for (int i = 0; i < g.tracks.size(); i += 1000)
        ok = store.insertTracks(g.tracks.mid(i, 1000)) && ok;
    const double batchMs = timer.nsecsElapsed() / 1e6;
    if (!ok)
        std::fprintf(stderr, "insertTracks failed: %s\n", qPrintable(kivoDB::lastError()));

    const double bareInsertMs = bareInsert(storeFile, bareFile, g.tracks);
    // The load is measured without the generated tracks still held by this program.
    g.tracks = QList<track>();
    malloc_trim(0);

    // Reads: warm both once, then take the better of two runs each.
    int rows = 0;
    bareRead(&rows);
    const double bareRead1 = bareRead(&rows);
    const double bareRead2 = bareRead(&rows);
    const double bareReadMs = qMin(bareRead1, bareRead2);

    const qint64 rssBefore = statusKb("VmRSS:");
    resetPeak();
    timer.restart();
    TrackMap library = store.loadLibrary(QSqlDatabase(), &ok);
    double loadMs = timer.nsecsElapsed() / 1e6;
    const qint64 peak = statusKb("VmHWM:");
    const qint64 rssHeld = statusKb("VmRSS:");
    const qsizetype loaded = library.size();
    bool shared = loaded > 1 && library.first().coverdata.isSharedWith(std::next(library.begin())->coverdata);
    library = TrackMap();
    timer.restart();
    library = store.loadLibrary(QSqlDatabase(), &ok);
    loadMs = qMin(loadMs, timer.nsecsElapsed() / 1e6);
    library = TrackMap();

    std::printf("\n%-44s %10s %10s %8s\n", "", "ms", "baseline", "ratio");
    std::printf("%-44s %10.0f %10.0f %7.2fx\n", "insertTrack, one transaction per track", singleMs,
        bareInsertMs, singleMs / bareInsertMs);
    std::printf("%-44s %10.0f %10.0f %7.2fx\n", "insertTracks, 1000 per transaction", batchMs, bareInsertMs,
        batchMs / bareInsertMs);
    std::printf("%-44s %10.0f %10.0f %7.2fx\n", "loadLibrary", loadMs, bareReadMs, loadMs / bareReadMs);
    std::printf("\nrows read by the bare view read: %d; tracks loaded: %lld; load ok: %s\n", rows,
        static_cast<long long>(loaded), ok ? "yes" : "no");
    std::printf(
        "load memory: VmRSS before %lld MB, peak (VmHWM) %lld MB, held by the map %lld MB, peak growth "
        "%lld MB\n",
        rssBefore / 1024, peak / 1024, rssHeld / 1024, (peak - rssBefore) / 1024);
    std::printf("tracks of one album share one cover text: %s\n", shared ? "yes" : "no");
    std::printf("targets: add <= 5x bare insert, load <= 2x bare read, load peak < 300 MB\n");
    Database::close();
    return 0;
}
