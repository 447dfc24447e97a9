// Library store at scale: adds N generated tracks the way the copy worker does (one insertTrack per
// track, and the batched insertTracks), loads them with loadLibrary, and compares both with bare
// SQLite work on the same rows in the same run: one prepared INSERT per row in one transaction, and
// a plain read of the columns loadLibrary reads into the same kind of map (TrackMap). Every album
// has a 110 px PNG cover of about 18 KB, as a file and as Base64 in albums.coverdata, as a scan
// leaves it. Each figure is the median of runs that take turns with their baseline, with the
// fastest and slowest run and the peak RSS (VmHWM) of the runs.
//
//   bench_store [tracks] [runs]   (default 100000 and 5; 10 tracks per album, 5 albums per artist)

#include "apppaths.h"
#include "coverfiles.h"
#include "database.h"
#include "kivodb.h"
#include "procstats.h"
#include "testenv.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kCoverVariants = 64;

// A 110 x 110 cover that compresses like a photo, written with the program's PNG setting: about
// 18 KB.
QByteArray coverPng(int seed)
{
    QRandomGenerator random(quint32(seed) + 7);
    QImage image(110, 110, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient ground(0, 0, 110, 110);
    ground.setColorAt(0, QColor::fromHsv(random.bounded(360), 150, 230));
    ground.setColorAt(1, QColor::fromHsv(random.bounded(360), 200, 60));
    painter.fillRect(image.rect(), ground);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 8; ++i) {
        const QPointF centre(random.bounded(110), random.bounded(110));
        const qreal radius = 6 + random.bounded(30);
        QColor colour
            = QColor::fromHsv(random.bounded(360), 120 + random.bounded(120), 80 + random.bounded(170), 200);
        QRadialGradient glow(centre, radius);
        glow.setColorAt(0, colour);
        colour.setAlpha(0);
        glow.setColorAt(1, colour);
        painter.setBrush(glow);
        painter.drawEllipse(centre, radius, radius);
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(7)) - 3;
            const auto channel = [n](int value) { return std::clamp(value + n, 0, 255); };
            line[x] = qRgb(channel(qRed(line[x])), channel(qGreen(line[x])), channel(qBlue(line[x])));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png", kCoverPngQuality);
    return bytes;
}

struct Generated {
    QList<track> tracks;
    int albums = 0;
    qint64 coverBytes = 0;
};

Generated generate(int count)
{
    Generated g;
    const AppPaths paths;
    const QString root = kivoDB::libraryRoot();
    const QString artwork = paths.dataDir + QStringLiteral("/Artwork");
    QDir().mkpath(artwork);
    QList<QByteArray> covers;
    for (int v = 0; v < kCoverVariants; ++v)
        covers << coverPng(v);
    g.tracks.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int album = i / 10;
        const QString albumName = QStringLiteral("Album %1 of the \"Test\" Series").arg(album);
        const QString folder = root + QStringLiteral("/Album %1").arg(album);
        const QString coverPath
            = artwork + QLatin1Char('/') + paths.sanitizeName(albumName) + QStringLiteral(".png");
        if (i % 10 == 0) {
            QDir().mkpath(folder);
            // The album's cover, named after the album as the program names its artwork.
            const QByteArray &bytes = covers.at(album % kCoverVariants);
            QFile cover(coverPath);
            cover.open(QIODevice::WriteOnly);
            cover.write(bytes);
            g.coverBytes += bytes.size();
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
        t.cover = coverPath;
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

// Closes the store and opens it again on a new, empty file.
bool freshStore(const QString &file)
{
    Database::close();
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(file + suffix);
    return openStore();
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

// The baseline load: the columns loadLibrary reads, read into the same kind of map with nothing
// else (no shared texts, no file checks, no clean-up).
TrackMap bareLoad()
{
    TrackMap map;
    QSqlQuery query(Database::threadConnection());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT id, filename, trackname, filepath, codec, filesize, frequency, bitrate, source, "
            "tracknumber, duration, VideoImage, artist_id, artistname, album_id, albumname, cover, genre, "
            "isPodcast, isAudiobook, isVideo, ReleaseDate, playlist, year FROM getTracks"))) {
        std::fprintf(stderr, "bare load failed: %s\n", qPrintable(query.lastError().text()));
        return map;
    }
    while (query.next()) {
        track t{};
        t.id = query.value(0).toLongLong();
        t.filename = query.value(1).toString();
        t.trackname = query.value(2).toString();
        t.filepath = query.value(3).toString();
        t.codec = query.value(4).toString();
        t.filesize = query.value(5).toLongLong();
        t.frequency = query.value(6).toLongLong();
        t.bitrate = qint16(query.value(7).toInt());
        t.source = qint16(query.value(8).toInt());
        t.tracknumber = qint16(query.value(9).toInt());
        t.duration = query.value(10).toDouble();
        t.artist_id = query.value(12).toLongLong();
        t.artistname = query.value(13).toString();
        t.album_id = query.value(14).toLongLong();
        t.albumname = query.value(15).toString();
        t.cover = query.value(16).toString();
        t.genre = query.value(17).toString();
        t.isPodcast = query.value(18).toBool();
        t.isAudiobook = query.value(19).toBool();
        t.isVideo = query.value(20).toBool();
        t.releaseDate = query.value(21).toString();
        t.playlist = query.value(22).toString();
        t.year = qint16(query.value(23).toInt());
        if (t.isVideo)
            t.cover = query.value(11).toString();
        // The rows come in id order, so each goes at the end.
        map.insert(map.cend(), t.id, t);
    }
    return map;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const int runs = qMax(1, argc > 2 ? QByteArray(argv[2]).toInt() : 5);
    TestEnv env;
    QElapsedTimer timer;

    timer.start();
    Generated g = generate(count);
    std::printf("generated %d tracks, %d albums, %d files in %.0f ms; covers 110 x 110 PNG, %lld bytes on "
                "average\n",
        int(g.tracks.size()), g.albums, int(g.tracks.size()) + g.albums, timer.nsecsElapsed() / 1e6,
        g.albums ? g.coverBytes / g.albums : 0);

    const QString storeFile = Database::defaultFilePath();
    const QString bareFile = env.root() + QStringLiteral("/bare.db");
    if (!openStore())
        return 1;
    kivoDB store;

    // Adding: the bare insert, then as the copy worker does it (one insertTrack per track, each its
    // own transaction), then batched (1000 tracks per transaction), each into a new file, in turns.
    RunFigures bareAdd, single, batched;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(bareFile + suffix);
        measure(bareAdd, [&] { return bareInsert(storeFile, bareFile, g.tracks); });

        if (!freshStore(storeFile))
            return 1;
        TrackMap entries;
        for (const track &t : std::as_const(g.tracks))
            entries.insert(entries.size() + 1, t);
        measure(single, [&] {
            for (auto it = entries.begin(); it != entries.end(); ++it)
                ok = store.insertTrack(it, it->filepath) && ok;
            return -1.0;
        });
        entries = TrackMap();
        if (!ok)
            std::fprintf(stderr, "insertTrack failed: %s\n", qPrintable(kivoDB::lastError()));

        if (!freshStore(storeFile))
            return 1;
        measure(batched, [&] {
            for (int i = 0; i < g.tracks.size(); i += 1000)
                ok = store.insertTracks(g.tracks.mid(i, 1000)) && ok;
            return -1.0;
        });
        if (!ok)
            std::fprintf(stderr, "insertTracks failed: %s\n", qPrintable(kivoDB::lastError()));
    }
    qint64 coverData = 0;
    {
        QSqlQuery query(Database::threadConnection());
        if (query.exec(QStringLiteral("SELECT sum(length(coverdata)) FROM albums")) && query.next())
            coverData = query.value(0).toLongLong();
    }

    // Loading, from the file the last batched run wrote, without the generated tracks still held by
    // this program. Both run once untimed first, so both read a warm file cache.
    g.tracks = QList<track>();
    trimHeap();
    bareLoad();
    store.loadLibrary(QSqlDatabase(), &ok);
    RunFigures bareLoaded, loaded;
    qsizetype bareRows = 0;
    qsizetype tracks = 0;
    qint64 rssBefore = 0;
    for (int run = 0; run < runs; ++run) {
        TrackMap library;
        measure(bareLoaded, [&] {
            library = bareLoad();
            return -1.0;
        });
        bareRows = library.size();
        library = TrackMap();
        trimHeap();
        rssBefore = statusKb("VmRSS:");
        measure(loaded, [&] {
            library = store.loadLibrary(QSqlDatabase(), &ok);
            return -1.0;
        });
        tracks = library.size();
    }

    std::printf("\n%d runs each, taking turns with their baseline; median (min-max)\n", runs);
    printFigures("insertTrack, one transaction per track", single, bareAdd);
    printFigures("insertTracks, 1000 per transaction", batched, bareAdd);
    printFigures("loadLibrary", loaded, bareLoaded);
    std::printf(
        "\nalbums.coverdata holds %lld MB of Base64; rows read by the bare load: %lld; tracks loaded: "
        "%lld; load ok: %s\n",
        coverData / (1024 * 1024), static_cast<long long>(bareRows), static_cast<long long>(tracks),
        ok ? "yes" : "no");
    std::printf("load memory: VmRSS before the load %lld MB, peak (VmHWM) %lld MB, peak growth %lld MB\n",
        rssBefore / 1024, loaded.peakMb(), loaded.peakMb() - rssBefore / 1024);
    std::printf("targets: add <= 5x bare insert, load <= 2x bare load, load peak < 300 MB\n");
    Database::close();
    return 0;
}
