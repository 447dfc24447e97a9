#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "testenv.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <memory>

namespace {

// Every text carries quotes, apostrophes, SQL wildcards and characters beyond Latin-1.
const QString kOdd = QStringLiteral("Ünïcødé \"q\" it's 100%_x 日本語 ");

void touch(const QString &path, const QByteArray &content = QByteArray("audio"))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray pngBytes()
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

qint64 countRows(const QString &sql)
{
    QSqlQuery query(Database::threadConnection());
    if (!query.exec(sql) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

}  // namespace

class TestKivoDB : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;
    kivoDB m_store;

    QString libraryPath(const QString &relative) const
    {
        return kivoDB::libraryRoot() + QLatin1Char('/') + relative;
    }

    track makeTrack(const QString &path, const QString &album = QStringLiteral("Album"),
        const QString &artist = QStringLiteral("Artist"))
    {
        track t = AppPaths().clearTrack(track{});
        t.filepath = path;
        t.filename = QFileInfo(path).fileName();
        t.trackname = QStringLiteral("Title");
        t.albumname = album;
        t.artistname = artist;
        t.genre = QStringLiteral("Pop");
        t.codec = QStringLiteral("mp3");
        t.year = 2001;
        t.bitrate = 192;
        t.cover = AppPaths().noArtworkUrl;
        return t;
    }

private slots:
    void init()
    {
        Database::close();
        m_env = std::make_unique<TestEnv>();
        m_database = std::make_unique<Database>();
        QVERIFY(m_database->open(QStringLiteral("KivoData"), true));
        QVERIFY(m_database->initStructure());
    }

    void cleanup()
    {
        m_database.reset();
        Database::close();
        m_env.reset();
    }

    void insertAndLoadKeepEveryValue()
    {
        const QString path = libraryPath(kOdd + QStringLiteral("/") + kOdd + QStringLiteral(".mp3"));
        touch(path);
        track t = makeTrack(
            QStringLiteral("/source/x.mp3"), kOdd + QStringLiteral("album"), kOdd + QStringLiteral("artist"));
        t.filename = kOdd + QStringLiteral("file");
        t.trackname = kOdd + QStringLiteral("title");
        t.genre = kOdd + QStringLiteral("genre");
        t.releaseDate = QStringLiteral("12/31/1999");
        t.playlist = kOdd + QStringLiteral("list");
        t.codec = QString();  // stored as "", never NULL
        t.filesize = 3LL * 1024 * 1024 * 1024 + 17;
        t.frequency = 44100;
        t.duration = 215.5;
        t.tracknumber = 7;
        t.isAudiobook = true;
        t.bitrate = 320;
        TrackMap source;
        source.insert(1, t);
        qint64 id = 0;
        QVERIFY2(m_store.insertTrack(source.begin(), path, &id), qPrintable(kivoDB::lastError()));
        QVERIFY(id > 0);
        QCOMPARE(source.first().filepath, QStringLiteral("/source/x.mp3"));  // the entry is not changed
        QCOMPARE(countRows(QStringLiteral("SELECT count(*) FROM tracks WHERE codec = ''")), 1);
        QCOMPARE(countRows(QStringLiteral("SELECT count(*) FROM tracks WHERE VideoImage = ''")), 1);

        bool ok = false;
        const TrackMap library = m_store.loadLibrary(QSqlDatabase(), &ok);
        QVERIFY(ok);
        QCOMPARE(library.size(), 1);
        const track loaded = library.value(id);
        QCOMPARE(loaded.id, id);
        QCOMPARE(loaded.filepath, path);
        QCOMPARE(loaded.filename, t.filename);
        QCOMPARE(loaded.trackname, t.trackname);
        QCOMPARE(loaded.albumname, t.albumname);
        QCOMPARE(loaded.artistname, t.artistname);
        QCOMPARE(loaded.genre, t.genre);
        QCOMPARE(loaded.releaseDate, t.releaseDate);
        QCOMPARE(loaded.playlist, t.playlist);
        QCOMPARE(loaded.codec, QStringLiteral(""));
        QCOMPARE(loaded.filesize, t.filesize);
        QCOMPARE(loaded.frequency, qint64(44100));
        QCOMPARE(loaded.duration, 215.5);
        QCOMPARE(loaded.tracknumber, qint16(7));
        QCOMPARE(loaded.year, qint16(2001));
        QVERIFY(loaded.isAudiobook);
        QCOMPARE(loaded.quality, qint16(2));
        QCOMPARE(loaded.playlistId, loaded.album_id);
        QCOMPARE(loaded.cover, AppPaths().noArtworkUrl);

        // A video keeps its own thumbnail as cover.
        const QString video = libraryPath(QStringLiteral("Videos/clip.mp4"));
        touch(video);
        track v = makeTrack(video);
        v.isVideo = true;
        v.cover = QStringLiteral("/thumbs/clip's.png");
        QVERIFY(m_store.insertTrackSingle(v, &id));
        QCOMPARE(m_store.loadLibrary().value(id).cover, v.cover);
    }

    void duplicatesArePerPathAndPlaylist()
    {
        const QString path = libraryPath(QStringLiteral("Album/it's.mp3"));
        touch(path);
        track t = makeTrack(path);
        t.playlist = QString();  // a null playlist is the plain file, like ""
        qint64 first = 0, second = 0, third = 0;
        QVERIFY(m_store.insertTrackSingle(t, &first));
        t.playlist = QStringLiteral("");
        t.trackname = QStringLiteral("Changed");
        QVERIFY(m_store.insertTrackSingle(t, &second));
        QVERIFY(second > first);
        QCOMPARE(countRows(QStringLiteral("SELECT count(*) FROM tracks")), 1);
        t.playlist = QStringLiteral("Road trip");
        QVERIFY(m_store.insertTrackSingle(t, &third));
        QCOMPARE(countRows(QStringLiteral("SELECT count(*) FROM tracks")), 2);
        const TrackMap library = m_store.loadLibrary();
        QCOMPARE(library.keys(), QList<qint64>({second, third}));
        QCOMPARE(library.value(second).trackname, QStringLiteral("Changed"));

        // A row an older version stored with a NULL playlist is still the plain file's row.
        QSqlQuery query(Database::threadConnection());
        QVERIFY(query.exec(QStringLiteral("UPDATE tracks SET playlist = NULL WHERE id = %1").arg(second)));
        t.playlist = QString();
        QVERIFY(m_store.insertTrackSingle(t));
        QCOMPARE(countRows(QStringLiteral("SELECT count(*) FROM tracks")), 2);
    }

    void lookUpsFindNamesExactlyOrWithoutCase()
    {
        const QString root = libraryPath(QStringLiteral("L/"));
        auto add
            = [&](const QString &file, const QString &album, const QString &artist, const QString &genre) {
                  track t = makeTrack(root + file, album, artist);
                  t.genre = genre;
                  QVERIFY2(m_store.insertTrackSingle(t), qPrintable(kivoDB::lastError()));
              };
        add("1.mp3", "Rock'n'Roll", "ABBA", "Rock");
        add("2.mp3", "rock'n'roll", "abba", "rock");
        add("3.mp3", "100% Pure", "100% Pure", "Pop");
        add("4.mp3", "100%", "100%", "Pop");
        add("5.mp3", "Shared", "First", "Pop");
        add("6.mp3", "Shared", "Second", "Pop");
        QCOMPARE(countRows("SELECT count(*) FROM artists WHERE name IN ('ABBA', 'abba')"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM genres WHERE genre IN ('Rock', 'rock')"), 2);
        QCOMPARE(countRows("SELECT count(*) FROM albums WHERE name LIKE 'rock''n''roll'"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM artists WHERE name LIKE '100%'"), 2);
        QCOMPARE(countRows("SELECT count(*) FROM albums WHERE name LIKE '100%'"), 2);
        QCOMPARE(countRows("SELECT count(*) FROM albums WHERE name = 'Shared'"), 1);
        QCOMPARE(countRows("SELECT artist_id FROM albums WHERE name = 'Shared'"),
            countRows("SELECT id FROM artists WHERE name = 'First'"));
    }

    void albumCoversAreStoredOnceAndShared()
    {
        const QString artwork = AppPaths().dataDir + QStringLiteral("/Artwork/");
        const QString coverFile = artwork + QStringLiteral("Blue Album.png");
        touch(coverFile, pngBytes());
        track a = makeTrack(libraryPath(QStringLiteral("Blue/a.mp3")), QStringLiteral("Blue Album"));
        a.cover = coverFile;
        track b = a;
        b.filepath = libraryPath(QStringLiteral("Blue/b.mp3"));
        track other = makeTrack(libraryPath(QStringLiteral("Red/c.mp3")), QStringLiteral("Red Album"));
        other.cover = coverFile;  // not named after this album
        track unknown = makeTrack(libraryPath(QStringLiteral("U/d.mp3")), QStringLiteral("Unknown Album"));
        for (const track &t : {a, b, other, unknown})
            touch(t.filepath);
        QVERIFY(m_store.insertTracks({a, b, other, unknown}));

        QSqlQuery query(Database::threadConnection());
        QVERIFY(query.exec("SELECT cover, coverdata FROM albums WHERE name = 'Blue Album'") && query.next());
        QCOMPARE(query.value(0).toString(), coverFile);
        QCOMPARE(QByteArray::fromBase64(query.value(1).toString().toLatin1()), pngBytes());
        QVERIFY(query.exec("SELECT cover, coverdata FROM albums WHERE name = 'Red Album'") && query.next());
        QCOMPARE(query.value(0).toString(), AppPaths().noArtworkUrl);
        QCOMPARE(query.value(1).toString(), QStringLiteral(""));
        query.finish();

        // An existing "Unknown" album offered a real cover goes back to no artwork.
        unknown.cover = coverFile;
        QVERIFY(m_store.insertTrackSingle(unknown));
        QCOMPARE(
            countRows("SELECT count(*) FROM albums WHERE name = 'Unknown Album' AND coverdata = '' AND cover "
                      "LIKE '%no_artwork.png'"),
            1);

        // The tracks of one album hold one shared copy of its cover data.
        QVERIFY(QFile::remove(coverFile));
        const TrackMap library = m_store.loadLibrary();
        QCOMPARE(library.size(), 4);
        QList<track> blue;
        for (const track &t : library) {
            if (t.albumname == QLatin1String("Blue Album"))
                blue << t;
        }
        QCOMPARE(blue.size(), 2);
        QVERIFY(!blue[0].coverdata.isEmpty());
        QVERIFY(blue[0].coverdata.isSharedWith(blue[1].coverdata));
        // The missing cover file was made again from the stored data.
        QVERIFY(QFileInfo::exists(coverFile));
        QVERIFY(!QImage(coverFile).isNull());
    }

    void loadIsFreshAndDropsStaleRows()
    {
        const QString keep = libraryPath(QStringLiteral("A/keep.mp3"));
        const QString gone = libraryPath(QStringLiteral("B/gone.mp3"));
        touch(keep);
        touch(gone);
        QVERIFY(m_store.insertTracks({makeTrack(keep, "A", "Keeper"), makeTrack(gone, "B", "Goner")}));
        QCOMPARE(m_store.loadLibrary().size(), 2);
        QVERIFY(m_store.libraryHasAlbums());

        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), keep));
        QCOMPARE(m_store.loadLibrary().size(), 1);  // removed tracks do not come back

        QVERIFY(QFile::remove(gone));
        QVERIFY(m_store.loadLibrary().isEmpty());
        QCOMPARE(countRows("SELECT count(*) FROM tracks"), 0);
        for (const char *table : {"albums", "artists", "genres", "years"})
            QCOMPARE(countRows(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))), 0);
        QVERIFY(!m_store.libraryHasAlbums());
    }

    void orphansGoSharedRowsStay()
    {
        const QString one = libraryPath(QStringLiteral("A/1.mp3"));
        const QString two = libraryPath(QStringLiteral("A/2.mp3"));
        const QString three = libraryPath(QStringLiteral("C/3.mp3"));
        QVERIFY(m_store.insertTracks(
            {makeTrack(one, "A", "Shared"), makeTrack(two, "A", "Shared"), makeTrack(three, "C", "Alone")}));
        qint64 id = 0;
        {
            QSqlQuery query(Database::threadConnection());
            QVERIFY(query.exec("SELECT id FROM tracks WHERE filepath LIKE '%3.mp3'") && query.next());
            id = query.value(0).toLongLong();
        }
        QVERIFY(m_store.deleteTrackById(QSqlDatabase(), id));
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), one));
        QVERIFY(m_store.deleteOrphans());
        QCOMPARE(countRows("SELECT count(*) FROM albums"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM artists WHERE name = 'Shared'"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM artists"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM genres"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM years"), 1);
    }

    void deleteByPathOnlyTouchesLibraryCopies()
    {
        // A library copy that is the last file of its album folder: file and folder go.
        const QString last = libraryPath(QStringLiteral("Solo/last.mp3"));
        touch(last);
        QVERIFY(m_store.insertTrackSingle(makeTrack(last)));
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), last));
        QVERIFY(!QFileInfo::exists(last));
        QVERIFY(!QFileInfo::exists(QFileInfo(last).absolutePath()));
        QVERIFY(QFileInfo::exists(kivoDB::libraryRoot()));

        // A folder that still holds anything, even a hidden file, stays with its content.
        const QString song = libraryPath(QStringLiteral("Kept/song.mp3"));
        const QString hidden = libraryPath(QStringLiteral("Kept/.folder.jpg"));
        touch(song);
        touch(hidden);
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), song));
        QVERIFY(!QFileInfo::exists(song));
        QVERIFY(QFileInfo::exists(hidden));

        // A file outside the library: only its rows go.
        const QString outside = m_env->makePath(QStringLiteral("home/Music/own.mp3"));
        touch(outside);
        QVERIFY(m_store.insertTrackSingle(makeTrack(outside)));
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), outside));
        QCOMPARE(countRows("SELECT count(*) FROM tracks"), 0);
        QVERIFY(QFileInfo::exists(outside));

        // A link inside the library to a user's file, and a library folder that is a link to the
        // user's folder: neither the link nor the user's file is removed.
        const QString link = libraryPath(QStringLiteral("Links/own.mp3"));
        QDir().mkpath(QFileInfo(link).absolutePath());
        QVERIFY(QFile::link(outside, link));
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), link));
        QVERIFY(QFileInfo::exists(outside));
        QVERIFY(QFileInfo(link).isSymLink());
        const QString linkedFolder = libraryPath(QStringLiteral("UserFolder"));
        QVERIFY(QFile::link(QFileInfo(outside).absolutePath(), linkedFolder));
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), linkedFolder + QStringLiteral("/own.mp3")));
        QVERIFY(QFileInfo::exists(outside));

        // A path that leaves the library root with "..".
        QVERIFY(m_store.deleteTrackByPath(
            QSqlDatabase(), kivoDB::libraryRoot() + QStringLiteral("/../../../home/Music/own.mp3")));
        QVERIFY(QFileInfo::exists(outside));
    }

    void removeDirStaysInsideAndNeverFollowsLinks()
    {
        const QString data = AppPaths().dataDir;
        const QString folder = data + QStringLiteral("/Artwork/Old");
        touch(folder + QStringLiteral("/.hidden"));
        touch(folder + QStringLiteral("/sub/file.png"));
        const QString userFolder = m_env->makePath(QStringLiteral("home/Pictures/keep.png"));
        touch(userFolder);
        QVERIFY(QFile::link(QFileInfo(userFolder).absolutePath(), folder + QStringLiteral("/pictures")));
        QVERIFY(QFile::link(userFolder, folder + QStringLiteral("/sub/keep-link.png")));
        QVERIFY(m_store.removeDir(folder));
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(QFileInfo::exists(userFolder));

        // Outside the program's folder, or given as a link: refused.
        QVERIFY(!m_store.removeDir(QFileInfo(userFolder).absolutePath()));
        QVERIFY(QFileInfo::exists(userFolder));
        const QString link = data + QStringLiteral("/pictures-link");
        QVERIFY(QFile::link(QFileInfo(userFolder).absolutePath(), link));
        QVERIFY(!m_store.removeDir(link));
        QVERIFY(QFileInfo::exists(userFolder));
    }

    void failedInsertRollsBackWholeOperation()
    {
        const QString path = libraryPath(QStringLiteral("A/song.mp3"));
        touch(path);
        qint64 id = 0;
        QVERIFY(m_store.insertTrackSingle(makeTrack(path), &id));
        {
            QSqlQuery query(Database::threadConnection());
            QVERIFY(query.exec(
                "CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.trackname = 'refused' BEGIN "
                "SELECT RAISE(ABORT, 'refused by test'); END"));
        }
        track bad = makeTrack(path, QStringLiteral("New Album"), QStringLiteral("New Artist"));
        bad.trackname = QStringLiteral("refused");
        bad.genre = QStringLiteral("New Genre");
        qint64 badId = -5;
        QVERIFY(!m_store.insertTrackSingle(bad, &badId));
        QCOMPARE(badId, qint64(-5));
        QVERIFY2(
            kivoDB::lastError().contains(QLatin1String("refused by test")), qPrintable(kivoDB::lastError()));
        // The old row survived, and nothing of the failed operation was kept.
        QCOMPARE(countRows(QStringLiteral("SELECT count(*) FROM tracks WHERE id = %1").arg(id)), 1);
        QCOMPARE(countRows("SELECT count(*) FROM genres WHERE genre = 'New Genre'"), 0);
        QCOMPARE(countRows("SELECT count(*) FROM artists WHERE name = 'New Artist'"), 0);

        // A batch is stored whole or not at all.
        const QString other = libraryPath(QStringLiteral("B/other.mp3"));
        QVERIFY(!m_store.insertTracks({makeTrack(other), bad}));
        QCOMPARE(countRows("SELECT count(*) FROM tracks"), 1);
        QVERIFY(m_store.insertTracks({makeTrack(other)}));
        QCOMPARE(countRows("SELECT count(*) FROM tracks"), 2);
    }

    void twoThreadsWriteAtOnce()
    {
        const int perThread = 150;
        auto writer = [this, perThread](int thread, bool *allOk) {
            kivoDB store;
            for (int i = 0; i < perThread; ++i) {
                track t = makeTrack(libraryPath(QStringLiteral("T%1/%2.mp3").arg(thread).arg(i)),
                    QStringLiteral("Album %1").arg(i % 7), QStringLiteral("Artist %1").arg(i % 5));
                if (!store.insertTrackSingle(t))
                    *allOk = false;
                if (i % 50 == 0 && !store.deleteOrphans())
                    *allOk = false;
            }
        };
        bool ok1 = true, ok2 = true;
        std::unique_ptr<QThread> first(QThread::create(writer, 1, &ok1));
        std::unique_ptr<QThread> second(QThread::create(writer, 2, &ok2));
        first->start();
        second->start();
        QVERIFY(first->wait(60000));
        QVERIFY(second->wait(60000));
        QVERIFY(ok1);
        QVERIFY(ok2);
        QCOMPARE(countRows("SELECT count(*) FROM tracks"), qint64(2 * perThread));
        QCOMPARE(countRows("SELECT count(*) FROM albums"), 7);
        QCOMPARE(countRows("SELECT count(*) FROM artists"), 5);
    }

    void saveValuesStoresTheMap()
    {
        QVERIFY(m_store.saveValues(QSqlDatabase(), TrackMap()));
        TrackMap map;
        map.insert(1, makeTrack(libraryPath(QStringLiteral("S/1.mp3"))));
        map.insert(2, makeTrack(libraryPath(QStringLiteral("S/2.mp3"))));
        m_store.saveDB(map);
        QCOMPARE(countRows("SELECT count(*) FROM tracks"), 2);
    }
};

KIVO_TEST_MAIN(TestKivoDB)
#include "tst_kivodb.moc"
