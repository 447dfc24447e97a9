// Repair run at scale: N library tracks in album folders of ten, each lacking its artist and album,
// which the repository cache (the rows an earlier scan of the same files left) and the album's
// cached cover supply, so every answer is local. Every file is a real mp3 of about 1 MB (32 s of
// stereo at 256 kbit/s), as a library holds. Measured, in turns, N being 1 000 by default:
//
//   - the run (ApiManager::startOptimisation to the end marker on the window's thread), with its
//     tag writes into the real mp3 files (each through a checked copy, albums written side by
//     side), against a bare loop of the same repository queries plus a bare TagLib write of the
//     same tags into each file in place, the albums handed to as many threads as the run writes
//     tags on (kTagWriteThreads), so the ratio measures the run's work and not its parallelism;
//   - the run with the tag writer replaced by nothing, against the bare loop of repository queries
//     alone: the queries the run makes (each folder's rows read once, rows updated 256 to a
//     transaction, each artist and album looked up once in it), through statements prepared once.
//
// The files are put back before every run. Each figure is the median of the runs with the fastest
// and slowest, and the peak RSS (VmHWM) of the runs.
//
//   bench_repair [tracks] [runs]   (default 1000 and 5)

#include "apimanager.h"
#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "mediagen.h"
#include "procstats.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QSqlError>
#include <QSqlQuery>
#include <QThreadPool>

#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <cstdio>

namespace {

constexpr int kPerAlbum = 10;
// The threads the run writes its tags on: a pool of two of its own (its constant is private to it).
constexpr int kTagWriteThreads = 2;

struct Library {
    QString templateFile;
    QStringList files;
    TrackMap tracks;
};

QString albumName(int album)
{
    return QStringLiteral("Album %1 of the Series").arg(album);
}

bool generate(Library &lib, const TestEnv &env, int count)
{
    lib.templateFile = env.makePath(QStringLiteral("template.mp3"));
    MediaGen::Audio media;
    media.seconds = 32.0;
    media.sampleRate = 44100;
    media.channels = 2;
    media.bitrateKbps = 256;
    media.tags.insert(QStringLiteral("title"), QStringLiteral("Song"));
    const QString error = MediaGen::makeAudio(lib.templateFile, media);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "cannot make the template file: %s\n", qPrintable(error));
        return false;
    }
    const AppPaths paths;
    QImage cover(110, 110, QImage::Format_RGB32);
    QList<track> rows;
    for (int i = 0; i < count; ++i) {
        const int album = i / kPerAlbum;
        const QString folder = env.root() + QStringLiteral("/music/Album %1").arg(album);
        const QString file
            = folder + QStringLiteral("/%1 Song %2.mp3").arg(i % kPerAlbum + 1, 2, 10, QChar('0')).arg(i);
        if (i % kPerAlbum == 0) {
            QDir().mkpath(folder);
            const QString coverPath = paths.artworkCachePath(albumName(album));
            QDir().mkpath(QFileInfo(coverPath).absolutePath());
            cover.fill(QColor::fromHsv(album * 7 % 360, 200, 200));
            cover.save(coverPath, "png");
        }
        lib.files << file;

        // What the scan of the complete files cached.
        track row = paths.clearTrack(track{});
        row.filename = QFileInfo(file).fileName();
        row.filepath = row.originalPath = file;
        row.folderLocation = folder;
        row.trackname = QStringLiteral("Song %1").arg(i);
        row.albumname = albumName(album);
        row.artistname = QStringLiteral("Artist %1").arg(album / 5);
        row.genre = QStringLiteral("Genre %1").arg(album % 20);
        row.year = qint16(1960 + album % 50);
        row.tracknumber = qint16(i % kPerAlbum + 1);
        row.bitrate = 256;
        row.duration = 32;
        row.codec = QStringLiteral("mp3");
        rows << row;

        // The library's track: the same file, its artist and album lost.
        track t = row;
        t.id = i + 1;
        t.artistname = paths.unknownArtist;
        t.albumname = paths.unknownAlbum;
        t.genre = paths.unknownGenre;
        t.cover = paths.noArtworkUrl;
        t.hasTitle = true;
        lib.tracks.insert(t.id, t);
    }
    if (!kivoDB().saveToRepoBatch(rows)) {
        std::fprintf(stderr, "cannot fill the repository: %s\n", qPrintable(kivoDB::lastError()));
        return false;
    }
    return true;
}

// Untimed: every file as it was before any run wrote its tags.
void restoreFiles(const Library &lib)
{
    for (const QString &file : lib.files) {
        QFile::remove(file);
        QFile::copy(lib.templateFile, file);
    }
}

// The repository queries the run makes, bare: each folder's rows read once, each track's row found
// and updated, 256 to a transaction in which each artist and album is looked up (and the album's
// cover set) once.
class BareQueries
{
public:
    struct Done {
        track t;
        QString album, artist, genre;
    };

    explicit BareQueries(const QSqlDatabase &db)
        : m_db(db)
        , m_folder(db)
        , m_artist(db)
        , m_album(db)
        , m_cover(db)
        , m_row(db)
        , m_update(db)
    {
        m_folder.setForwardOnly(true);
        m_folder.prepare(QStringLiteral("SELECT albumname, artistname, trackname, genre, Playlist, year, "
                                        "duration, tracknumber, bitrate FROM getTracksRepo WHERE "
                                        "folderLocation = ? ORDER BY id"));
        m_artist.prepare(
            QStringLiteral("SELECT id FROM artistsRepo WHERE name = ? ORDER BY id DESC LIMIT 1"));
        m_album.prepare(QStringLiteral(
            "SELECT id FROM albumsRepo WHERE name = ? COLLATE NOCASE ORDER BY id DESC LIMIT 1"));
        m_cover.prepare(QStringLiteral("UPDATE albumsRepo SET cover = ? WHERE id = ?"));
        m_row.prepare(QStringLiteral("SELECT id FROM TrackRepo WHERE filepath = ? AND IFNULL(Playlist, '') = "
                                     "? ORDER BY id DESC LIMIT 1"));
        m_update.prepare(QStringLiteral(
            "UPDATE TrackRepo SET filename = ?, trackname = ?, filepath = ?, codec = ?, filesize = ?, "
            "frequency = ?, bitrate = ?, source = ?, tracknumber = ?, duration = ?, artist_id = ?, "
            "album_id = ?, genre = ?, IsPodcast = ?, year = ?, isAudiobook = ?, releaseDate = ?, Playlist = "
            "?, isVideo = ?, VideoImage = ?, folderLocation = ? WHERE id = ?"));
    }

    // The tracks of one folder: its rows read, then each track's row updated. What each ends with
    // is taken from the row of its title.
    QList<Done> runFolder(const QList<track> &tracks)
    {
        QHash<QString, Done> byTitle;
        m_folder.bindValue(0, tracks.first().folderLocation);
        m_folder.exec();
        while (m_folder.next()) {
            Done row;
            row.album = m_folder.value(0).toString();
            row.artist = m_folder.value(1).toString();
            row.genre = m_folder.value(3).toString();
            byTitle.insert(m_folder.value(2).toString(), row);
        }
        m_folder.finish();

        QList<Done> done;
        for (const track &t : tracks) {
            Done d = byTitle.value(t.trackname);
            d.t = t;
            update(d);
            done << d;
        }
        return done;
    }

    // Ends the transaction the updates are in.
    void commit()
    {
        if (m_inTransaction)
            QSqlQuery(m_db).exec(QStringLiteral("COMMIT"));
        m_inTransaction = false;
        m_pending = 0;
        m_artists.clear();
        m_albums.clear();
    }

private:
    // As the run writes them: 256 rows a transaction, each artist and album looked up once in it.
    void update(const Done &d)
    {
        if (!m_inTransaction) {
            QSqlQuery begin(m_db);
            if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
                std::fprintf(stderr, "bare begin failed: %s\n", qPrintable(begin.lastError().text()));
            m_inTransaction = true;
        }
        const track &t = d.t;
        if (!m_artists.contains(d.artist))
            m_artists.insert(d.artist, firstId(m_artist, d.artist));
        const QString cover = m_paths.artworkCachePath(d.album);
        if (!m_albums.contains(d.album)) {
            m_albums.insert(d.album, firstId(m_album, d.album));
            m_cover.bindValue(0, cover);
            m_cover.bindValue(1, m_albums.value(d.album));
            m_cover.exec();
        }
        m_row.bindValue(0, t.originalPath);
        m_row.bindValue(1, QStringLiteral(""));
        m_row.exec();
        const qint64 rowId = m_row.next() ? m_row.value(0).toLongLong() : 0;
        m_row.finish();
        const QVariant values[] = {t.filename, t.trackname, t.originalPath, t.codec, qlonglong(t.filesize),
            qlonglong(t.frequency), int(t.bitrate), int(t.source), int(t.tracknumber), t.duration,
            m_artists.value(d.artist), m_albums.value(d.album), d.genre, false, int(t.year), false,
            QStringLiteral(""), QStringLiteral(""), false, cover, t.folderLocation, rowId};
        for (int i = 0; i < int(std::size(values)); ++i)
            m_update.bindValue(i, values[i]);
        if (!m_update.exec())
            std::fprintf(stderr, "bare update failed: %s\n", qPrintable(m_update.lastError().text()));
        if (++m_pending >= 256)
            commit();
    }

    static qint64 firstId(QSqlQuery &query, const QString &name)
    {
        query.bindValue(0, name);
        query.exec();
        const qint64 id = query.next() ? query.value(0).toLongLong() : 0;
        query.finish();
        return id;
    }

    const AppPaths m_paths;
    QSqlDatabase m_db;
    QSqlQuery m_folder, m_artist, m_album, m_cover, m_row, m_update;
    QHash<QString, qint64> m_artists, m_albums;
    bool m_inTransaction = false;
    int m_pending = 0;
};

// The same tags written by TagLib straight into the file.
void bareTagWrite(const track &t, const QString &album, const QString &artist, const QString &genre)
{
    TagLib::MPEG::File file(QFile::encodeName(t.filepath).constData());
    if (!file.isValid())
        return;
    TagLib::Tag *tag = file.tag();
    tag->setTitle(TagLib::String(t.trackname.toStdString(), TagLib::String::UTF8));
    tag->setArtist(TagLib::String(artist.toStdString(), TagLib::String::UTF8));
    tag->setAlbum(TagLib::String(album.toStdString(), TagLib::String::UTF8));
    tag->setGenre(TagLib::String(genre.toStdString(), TagLib::String::UTF8));
    tag->setYear(unsigned(t.year));
    tag->setTrack(unsigned(t.tracknumber));
    file.save();
}

// One run to its end marker; the number of tracks it sent back goes to `saved`.
double repairRun(ApiManager &run, const TrackMap &tracks, int *saved)
{
    QEventLoop loop;
    int count = 0;
    const QMetaObject::Connection connection
        = QObject::connect(&run, &ApiManager::updateTrackToManager, &loop, [&](const track &t) {
              if (t.id < 1)
                  loop.quit();
              else
                  ++count;
          });
    QElapsedTimer timer;
    timer.start();
    run.startOptimisation(tracks);
    loop.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    *saved = count;
    return ms;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = qMax(kPerAlbum, argc > 1 ? QByteArray(argv[1]).toInt() : 1000);
    const int runs = qMax(1, argc > 2 ? QByteArray(argv[2]).toInt() : 5);
    TestEnv env;
    Database database;
    if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure()) {
        std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(database.lastError()));
        return 1;
    }

    QElapsedTimer timer;
    timer.start();
    Library lib;
    if (!generate(lib, env, count))
        return 1;
    std::printf("generated %d tracks in %d album folders, each lacking artist and album, in %.0f ms\n",
        int(lib.tracks.size()), count / kPerAlbum, timer.nsecsElapsed() / 1e6);

    ApiManager withTags;
    ApiManager withoutTags;
    withoutTags.setTagWriter([](const track &) { return true; });
    BareQueries bare(Database::threadConnection());
    QThreadPool bareWriters;
    bareWriters.setMaxThreadCount(kTagWriteThreads);

    // The library's tracks folder by folder, as the run takes them.
    QList<QList<track>> folders;
    for (const track &t : std::as_const(lib.tracks)) {
        if (folders.isEmpty() || folders.last().first().folderLocation != t.folderLocation)
            folders.append(QList<track>());
        folders.last().append(t);
    }

    RunFigures runFull, bareFull, runQueries, bareQueries;
    int saved = 0;
    int savedWithoutTags = 0;
    for (int run = 0; run < runs; ++run) {
        restoreFiles(lib);
        measure(bareFull, [&] {
            // Each folder's tags are written while the next folders are queried, as the run does.
            for (const QList<track> &folder : std::as_const(folders)) {
                bareWriters.start([done = bare.runFolder(folder)] {
                    for (const BareQueries::Done &d : done)
                        bareTagWrite(d.t, d.album, d.artist, d.genre);
                });
            }
            bare.commit();
            bareWriters.waitForDone();
            return -1.0;
        });
        restoreFiles(lib);
        measure(runFull, [&] { return repairRun(withTags, lib.tracks, &saved); });

        measure(bareQueries, [&] {
            for (const QList<track> &folder : std::as_const(folders))
                bare.runFolder(folder);
            bare.commit();
            return -1.0;
        });
        measure(runQueries, [&] { return repairRun(withoutTags, lib.tracks, &savedWithoutTags); });
    }

    // The run's result, read back from the last file and from the repository.
    const track last = lib.tracks.last();
    TagLib::MPEG::File file(QFile::encodeName(last.filepath).constData());
    const QString artist
        = file.isValid() ? QString::fromStdString(file.tag()->artist().to8Bit(true)) : QString();

    std::printf("\n%d runs each, taking turns with their baseline; median (min-max)\n", runs);
    printFigures("run with tag writes", runFull, bareFull);
    printFigures("run, tag writes left out", runQueries, bareQueries);
    std::printf("\ntracks sent back: %d (with tags), %d (without); last file's artist tag: \"%s\"\n", saved,
        savedWithoutTags, qPrintable(artist));
    std::printf(
        "files of %lld bytes; baselines: the same repository queries bare (each folder read once, rows "
        "updated 256 to a transaction), for the first with a bare TagLib write of the same tags in "
        "place, album by album on %d threads\n",
        QFileInfo(lib.templateFile).size(), kTagWriteThreads);
    std::printf("target: within 2x of the bare loop\n");
    return 0;
}
